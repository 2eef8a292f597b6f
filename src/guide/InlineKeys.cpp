#include "guide/InlineKeys.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "guide/GuidePaint.h"
#include "guide/KeyCap.h"

namespace trelliq {
namespace {

QFont plusFont() { return guide::systemFont(15); }  // the title-3 text style

// How far a cap's shadow reaches below it, both edges counted (unscaled points).
constexpr double kCapShadow = 1;

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
  rebuild(Transition::immediate());
}

void InlineKeys::setState(std::set<std::string> held, std::optional<std::string> pressed,
                          const Transition& transition) {
  if (held == held_ && pressed == pressed_) return;
  held_ = std::move(held);
  pressed_ = std::move(pressed);
  rebuild(transition);
  update();
}

void InlineKeys::rebuild(const Transition& transition) {
  items_ = KeyRow::items(keys_, held_, pressed_, first_);
  // The keys never change, so the caps keep their places: each lights or dims in place.
  lit_.resize(items_.size(), guide::Tween(0));
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const double target = items_[i].cap.lit() ? 1 : 0;
    if (transition.curve == Transition::Curve::none || transition.duration <= 0) {
      lit_[i] = guide::Tween(target);
    } else {
      lit_[i].set(target, transition, this);
    }
  }
}

double InlineKeys::litness(std::size_t index) const { return index < lit_.size() ? lit_[index].value() : 0; }

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
  // The row stands for 28 points enlarged, but a 30-point cap enlarged is 42 and its shadow
  // reaches below it: the widget takes what it draws, so no cap is cut flat.
  double drawn = KeyRow::height;
  for (const KeyRow::Item& item : items_) {
    drawn = std::max(drawn, (KeyCap::capSize(item.cap).height() + kCapShadow) * KeyRow::scale);
  }
  return {static_cast<int>(std::ceil(contentWidth() * KeyRow::scale)), static_cast<int>(std::ceil(drawn))};
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
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const KeyRow::Item& item = items_[i];
    if (item.plusBefore) {
      painter.setFont(plusFont());
      painter.setPen(guide::secondary());
      painter.drawText(QRectF(x, 0, plusWidth(), unscaledHeight), Qt::AlignCenter, "+");
      x += plusWidth() + KeyRow::spacing;
    }
    const QSizeF cap = KeyCap::capSize(item.cap);
    KeyCap::paint(painter, {x, (unscaledHeight - cap.height()) / 2}, item.cap, litness(i));
    x += cap.width() + KeyRow::spacing;
  }
}

}  // namespace trelliq
