#include "app/views/PermissionNote.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "app/views/Symbol.h"
#include "ui/Paint.h"

namespace trelliq {

PermissionNote::PermissionNote(const std::string& text, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  // The rows' side padding, symbol column and gap, so this text starts where their reasons do.
  row->setContentsMargins(16, 10, 16, 10);
  row->setSpacing(14);
  row->addWidget(new SymbolView("info.circle", ui::secondary(), 14, 30, this), 0, Qt::AlignTop);
  text_ = new QLabel(QString::fromStdString(text), this);
  text_->setWordWrap(true);
  text_->setFont(ui::systemFont(12));
  ui::setTextColor(text_, ui::secondary());
  row->addWidget(text_, 1);
}

QString PermissionNote::text() const { return text_->text(); }

void PermissionNote::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  ui::fillRounded(painter, QRectF(0, 0, width(), height()), 14, ui::primary(0.03));
}

}  // namespace trelliq
