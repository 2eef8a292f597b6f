#include "app/views/PermissionRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/Symbol.h"
#include "ui/Paint.h"

namespace trelliq {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QString css(const QColor& c) { return c.name(QColor::HexArgb); }

QLabel* text(const std::string& s, double pointSize, QFont::Weight weight, const QColor& color, QWidget* parent) {
  return ui::styledLabel(q(s), pointSize, weight, color, parent);
}

}  // namespace

PermissionRow::PermissionRow(Kind kind, Permission permission, bool granted, bool required, bool needsRestart,
                             QWidget* parent)
    : QWidget(parent),
      kind_(kind),
      permission_(permission),
      granted_(granted),
      required_(required),
      needsRestart_(needsRestart) {}

PermissionRow::PermissionRow(Permission permission, bool granted, std::string symbol, std::string title,
                             bool required, std::string reason, bool needsRestart, QWidget* extra, QWidget* parent)
    : PermissionRow(Kind::card, permission, granted, required, needsRestart, parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 16, 16, 16);
  row->setSpacing(14);
  row->setAlignment(Qt::AlignTop);
  row->addWidget(new SymbolView(symbol, ui::accent(), 22, 30, this), 0, Qt::AlignTop);

  auto* column = new QVBoxLayout();
  column->setSpacing(6);
  auto* titleLine = new QHBoxLayout();
  titleLine->setSpacing(8);
  titleLine->addWidget(text(title, 13, QFont::Bold, ui::primary(), this));
  badge_ = text(required ? "Required" : "Optional", 10, QFont::DemiBold, required ? QColor(Qt::white) : ui::secondary(),
                this);
  badge_->setStyleSheet(
      QString("QLabel { background: %1; border-radius: 8px; padding: 2px 7px; color: %2; }")
          .arg(css(required ? ui::accent() : ui::primary(0.1)), css(required ? QColor(Qt::white) : ui::secondary())));
  titleLine->addWidget(badge_);
  titleLine->addStretch(1);
  column->addLayout(titleLine);
  reason_ = text(reason, 12, QFont::Normal, ui::secondary(), this);
  reason_->setWordWrap(true);  // wraps within the column, never cut short
  column->addWidget(reason_);
  column->addSpacing(4);
  column->addWidget(buildStatusLine());
  // Beside a taller demonstration the lines keep their sizes and stand at the top.
  column->addStretch(1);
  row->addLayout(column, 1);

  if (extra) {
    extra_ = extra;
    extra->setParent(this);
    row->addWidget(extra, 0, Qt::AlignTop);
  }
  refreshStatus();
}

PermissionRow* PermissionRow::formRow(Permission permission, bool granted, std::string title, std::string detail,
                                      bool needsRestart, QWidget* parent) {
  auto* self = new PermissionRow(Kind::form, permission, granted, false, needsRestart, parent);
  auto* row = new QHBoxLayout(self);
  row->setContentsMargins(0, 4, 0, 4);
  auto* labels = new QVBoxLayout();
  labels->setSpacing(2);
  labels->addWidget(text(title, 13, QFont::Normal, ui::primary(), self));
  self->reason_ = text(detail, 11, QFont::Normal, ui::secondary(), self);
  labels->addWidget(self->reason_);
  row->addLayout(labels, 1);
  row->addWidget(self->buildStatusLine(), 0, Qt::AlignVCenter);
  self->refreshStatus();
  return self;
}

QWidget* PermissionRow::buildStatusLine() {
  auto* line = new QWidget(this);
  auto* layout = new QHBoxLayout(line);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(10);
  auto* mark = new QHBoxLayout();
  mark->setSpacing(4);
  statusSymbol_ = new SymbolView("", ui::secondary(), 13, 16, line);
  statusText_ = new QLabel(line);
  statusText_->setFont(ui::systemFont(12, kind_ == Kind::card ? QFont::Medium : QFont::Normal));
  mark->addWidget(statusSymbol_);
  mark->addWidget(statusText_);
  layout->addLayout(mark);
  button_ = new QPushButton(line);
  button_->setAutoDefault(false);
  layout->addWidget(button_);
  if (kind_ == Kind::card) layout->addStretch(1);
  QObject::connect(button_, &QPushButton::clicked, this, [this] { PermissionStatus::perform(status().action, permission_); });
  return line;
}

void PermissionRow::setState(bool granted, bool needsRestart) {
  if (granted == granted_ && needsRestart == needsRestart_) return;
  granted_ = granted;
  needsRestart_ = needsRestart;
  refreshStatus();
  update();
}

void PermissionRow::refreshStatus() {
  const PermissionStatus now = status();
  const QColor color = now.grantedMark ? shellColors::green() : ui::secondary();
  statusSymbol_->set(now.symbol, color);
  statusSymbol_->setVisible(!now.symbol.empty());
  statusText_->setText(q(now.text));
  statusText_->setVisible(!now.text.empty());
  ui::setTextColor(statusText_, color);
  button_->setText(q(now.button));
  button_->setVisible(!now.button.empty());
}

QString PermissionRow::badge() const { return badge_ ? badge_->text() : QString(); }

void PermissionRow::paintEvent(QPaintEvent*) {
  if (kind_ != Kind::card) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box(0, 0, width(), height());
  ui::fillRounded(painter, box, 14, ui::primary(0.04));
  ui::strokeRoundedInside(painter, box, 14, accentBorder() ? ui::accent() : ui::separator(), 1);
}

}  // namespace trelliq
