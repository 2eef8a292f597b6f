#include "guide/InlineKeys.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "guide/GuidePaint.h"
#include "guide/KeyCap.h"

namespace trelliq {
namespace {

QFont plusFont() {
  QFont f;
  f.setPointSizeF(15);  // the title-3 text style
  return f;
}

double plusWidth() { return QFontMetricsF(plusFont()).horizontalAdvance("+"); }

}  // namespace

InlineKeys::InlineKeys(std::set<std::string> keys, std::set<std::string> held, std::optional<std::string> pressed,
                       std::string first, QWidget* parent)
    : QWidget(parent),
      keys_(std::move(keys)),
      held_(std::move(held)),
      pressed_(std::move(pressed)),
      first_(std::move(first)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  rebuild();
}

void InlineKeys::setState(std::set<std::string> held, std::optional<std::string> pressed) {
  if (held == held_ && pressed == pressed_) return;
  held_ = std::move(held);
  pressed_ = std::move(pressed);
  rebuild();
  update();
}

void InlineKeys::rebuild() { items_ = KeyRow::items(keys_, held_, pressed_, first_); }

double InlineKeys::contentWidth() const {
  double width = 0;
  for (const KeyRow::Item& item : items_) {
    if (item.plusBefore) width += plusWidth() + KeyRow::spacing;
    width += KeyCap::capSize(item.cap).width();
    width += KeyRow::spacing;
  }
  return items_.empty() ? 0 : width - KeyRow::spacing;
}

QSize InlineKeys::sizeHint() const {
  return {static_cast<int>(std::ceil(contentWidth() * KeyRow::scale)), static_cast<int>(std::ceil(KeyRow::height))};
}

void InlineKeys::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const double unscaledHeight = KeyRow::height / KeyRow::scale;
  // Enlarged about the row's centre.
  painter.translate(width() / 2.0, height() / 2.0);
  painter.scale(KeyRow::scale, KeyRow::scale);
  painter.translate(-contentWidth() / 2, -unscaledHeight / 2);
  double x = 0;
  for (const KeyRow::Item& item : items_) {
    if (item.plusBefore) {
      painter.setFont(plusFont());
      painter.setPen(guide::secondary());
      painter.drawText(QRectF(x, 0, plusWidth(), unscaledHeight), Qt::AlignCenter, "+");
      x += plusWidth() + KeyRow::spacing;
    }
    const QSizeF cap = KeyCap::capSize(item.cap);
    KeyCap::paint(painter, {x, (unscaledHeight - cap.height()) / 2}, item.cap);
    x += cap.width() + KeyRow::spacing;
  }
}

}  // namespace trelliq
