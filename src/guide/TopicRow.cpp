#include "guide/TopicRow.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
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

constexpr double kPadX = 12;
constexpr double kPadY = 8;
constexpr double kGap = 2;
constexpr int kWrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

// The height `text` takes wrapped at `width`; at least one line.
double wrappedHeight(const QFont& font, double width, const std::string& text) {
  const QFontMetricsF metrics(font);
  const QRectF box = metrics.boundingRect(QRectF(0, 0, width, 1e6), kWrap, QString::fromStdString(text));
  return std::max(metrics.height(), box.height());
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

QSize TopicRow::sizeHint() const { return {rowWidth, heightForWidth(rowWidth)}; }

int TopicRow::heightForWidth(int width) const {
  // A title or line too long for the row wraps and the row grows, rather than cutting it.
  const double text = width - 2 * kPadX;
  const double h = wrappedHeight(titleFont(), text, title_) + kGap + wrappedHeight(lineFont(), text, line_) + 2 * kPadY;
  return static_cast<int>(std::ceil(h));
}

void TopicRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  if (selected_) guide::fillRounded(p, QRectF(rect()), 10, guide::accent());
  const QRectF text = QRectF(rect()).adjusted(kPadX, kPadY, -kPadX, -kPadY);
  const double titleH = wrappedHeight(titleFont(), text.width(), title_);
  p.setFont(titleFont());
  p.setPen(selected_ ? QColor(Qt::white) : guide::primary());
  p.drawText(QRectF(text.left(), text.top(), text.width(), titleH), kWrap, QString::fromStdString(title_));
  p.setFont(lineFont());
  p.setPen(selected_ ? QColor::fromRgbF(1, 1, 1, 0.85f) : guide::secondary());
  p.drawText(QRectF(text.left(), text.top() + titleH + kGap, text.width(), text.height() - titleH - kGap), kWrap,
             QString::fromStdString(line_));
}

}  // namespace trelliq
