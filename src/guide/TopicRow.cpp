#include "guide/TopicRow.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "guide/GuidePaint.h"

namespace trelliq {
namespace {

QFont titleFont() {
  QFont f;
  f.setPointSizeF(13);
  f.setWeight(QFont::DemiBold);
  return f;
}

QFont lineFont() {
  QFont f;
  f.setPointSizeF(12);
  return f;
}

}  // namespace

TopicRow::TopicRow(std::string title, std::string line, QWidget* parent)
    : QAbstractButton(parent), title_(std::move(title)), line_(std::move(line)) {
  setText(QString::fromStdString(title_));
  setFixedWidth(rowWidth);
  setCursor(Qt::PointingHandCursor);
}

void TopicRow::setSelected(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  update();
}

QSize TopicRow::sizeHint() const {
  const double h = QFontMetricsF(titleFont()).height() + 2 + QFontMetricsF(lineFont()).height() + 2 * 8;
  return {rowWidth, static_cast<int>(std::ceil(h))};
}

void TopicRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  if (selected_) guide::fillRounded(p, QRectF(rect()), 10, guide::accent());
  const double titleH = QFontMetricsF(titleFont()).height();
  const QRectF text = QRectF(rect()).adjusted(12, 8, -12, -8);
  p.setFont(titleFont());
  p.setPen(selected_ ? QColor(Qt::white) : guide::primary());
  p.drawText(QRectF(text.left(), text.top(), text.width(), titleH), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromStdString(title_));
  p.setFont(lineFont());
  p.setPen(selected_ ? QColor::fromRgbF(1, 1, 1, 0.85f) : guide::secondary());
  p.drawText(QRectF(text.left(), text.top() + titleH + 2, text.width(), text.height() - titleH - 2),
             Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(line_));
}

}  // namespace trelliq
