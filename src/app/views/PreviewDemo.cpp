#include "app/views/PreviewDemo.h"

#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "app/views/Symbol.h"
#include "switcher/views/Bands.h"
#include "ui/DemoIcons.h"
#include "ui/Paint.h"
#include "ui/model/Transition.h"

namespace trelliq {

namespace {

constexpr double kWindowWidth = 130, kWindowHeight = 80, kWindowPad = 5;
constexpr double kIcon = 22, kIconPad = 3, kStripPad = 4, kSpacing = 6;
constexpr double kLines[] = {0.9, 0.7, 0.8, 0.5};
// The miniature's shadow: black at this opacity, blurred over the radius, this far down.
constexpr double kShadowOpacity = 0.15, kShadowRadius = 3, kShadowDrop = 1;
// Rows of pixels the miniature is laid at a time (see views::inBands).
constexpr int kLayRows = 64;

double now() { return platform::clock().monotonicSeconds(); }

}  // namespace

const std::vector<CGImageRef>& PreviewDemo::icons() {
  static const std::vector<CGImageRef> icons = [] {
    const auto& all = DemoIcons::top();
    std::vector<CGImageRef> first(all.begin(), all.begin() + std::min<std::size_t>(all.size(), 4));
    // The cycle divides by the count, so an empty source still leaves one placeholder.
    if (first.empty()) first.push_back(nullptr);
    return first;
  }();
  return icons;
}

const std::vector<QColor>& PreviewDemo::tints() {
  static const std::vector<QColor> tints{shellColors::blue(), shellColors::teal(), shellColors::yellow(),
                                         shellColors::red()};
  return tints;
}

PreviewDemo::PreviewDemo(int index, QWidget* parent)
    : QWidget(parent), index_(index % static_cast<int>(icons().size())), previous_(index_) {
  setFixedSize(sizeHint());
}

PreviewDemo::~PreviewDemo() { timer_.invalidate(); }

QSize PreviewDemo::sizeHint() const {
  const double window = kWindowHeight + 2 * kWindowPad;
  const double strip = kIcon + 2 * kIconPad + 2 * kStripPad;
  // The miniature's shadow takes no room of its own: it falls into the gap above the strip.
  return QSize(fixedWidth, static_cast<int>(window + kSpacing + strip));
}

void PreviewDemo::start() {
  if (timer_.isValid()) return;
  QPointer<PreviewDemo> self(this);
  timer_ = platform::clock().scheduleTimer(platform::mainQueue(), stepInterval, true, [self] {
    if (self) self->step();
  });
}

void PreviewDemo::stop() {
  if (!timer_.isValid()) return;
  timer_.invalidate();
  step();
}

void PreviewDemo::step() {
  previous_ = index_;
  index_ = (index_ + 1) % static_cast<int>(icons().size());
  stepStart_ = now();
  // The cross-fading miniature with its shadow, and the two cells the highlight leaves and
  // reaches: the rest of the strip holds still.
  const double margin = std::ceil(2 * kShadowRadius + 1);
  QRegion area = windowFrame().adjusted(-margin, -margin, margin, margin + kShadowDrop).toAlignedRect();
  for (const int i : {previous_, index_}) area += cellRect(i).toAlignedRect().adjusted(-1, -1, 1, 1);
  ui::animateFor(this, fadeDuration, area);
}

QRectF PreviewDemo::windowFrame() const {
  const double windowWidth = kWindowWidth + 2 * kWindowPad;
  return {(width() - windowWidth) / 2, 0, windowWidth, kWindowHeight + 2 * kWindowPad};
}

QRectF PreviewDemo::strip() const {
  const auto count = static_cast<double>(icons().size());
  const double cell = kIcon + 2 * kIconPad;
  const double stripWidth = count * cell + (count - 1) * 2 + 2 * kStripPad;
  return {(width() - stripWidth) / 2, windowFrame().bottom() + kSpacing, stripWidth, cell + 2 * kStripPad};
}

QRectF PreviewDemo::cellRect(int i) const {
  const double cell = kIcon + 2 * kIconPad;
  return {strip().left() + kStripPad + i * (cell + 2), strip().top() + kStripPad, cell, cell};
}

double PreviewDemo::fade() const {
  if (stepStart_ < 0) return 1;
  return Transition::easeOut(fadeDuration).progress(now() - stepStart_);
}

void PreviewDemo::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double p = fade();
  const QRectF frame = windowFrame();
  if (p < 1 && previous_ != index_) paintWindow(painter, frame, previous_, 1 - p);
  paintWindow(painter, frame, index_, p < 1 ? p : 1);

  const auto& all = icons();
  ui::fillRounded(painter, strip(), 10, ui::primary(0.08));
  for (std::size_t i = 0; i < all.size(); ++i) {
    const QRectF cellRect = this->cellRect(static_cast<int>(i));
    // The highlight slides with the same eased step as the cross-fade.
    if (static_cast<int>(i) == index_) ui::fillRounded(painter, cellRect, 6, ui::primary(0.2 * p), ui::fadingAt(p));
    if (static_cast<int>(i) == previous_ && p < 1)
      ui::fillRounded(painter, cellRect, 6, ui::primary(0.2 * (1 - p)), ui::fadingAt(p));
    ui::drawImage(painter, cellRect.adjusted(kIconPad, kIconPad, -kIconPad, -kIconPad), all[i]);
  }
}

void PreviewDemo::paintWindow(QPainter& painter, const QRectF& outer, int i, double opacity) {
  // The miniature and its bezel are drawn as one layer so that the shadow is the layer's
  // own: under the faint bezel it is faint, under the window it shows. Made at the
  // device's pixels (a window's surface draws at its backing scale), so each frame of a
  // cross-fade lays them pixel for pixel instead of enlarging them smoothly.
  const double pixels = std::max(1.0, std::abs(painter.deviceTransform().m11()));
  const double margin = std::ceil(2 * kShadowRadius + 1);
  // Two or three apps take turns, at a scale or two.
  if (!miniatures_) miniatures_.emplace(platform::KeeperBudget{.count = 16});
  const Miniature& kept = miniatures_->get(MiniatureLook{i, pixels, ui::isDark()}, [&] {
    const QSizeF size = outer.size() + QSizeF(2 * margin, 2 * margin);
    QImage layer(static_cast<int>(std::ceil(size.width() * pixels)),
                 static_cast<int>(std::ceil(size.height() * pixels)), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(pixels);
    layer.fill(Qt::transparent);
    {
      QPainter inner(&layer);
      inner.setRenderHint(QPainter::Antialiasing);
      inner.translate(margin - outer.left(), margin - outer.top());
      paintWindowLayer(inner, outer, i);
    }
    // Blurred at the layer's own pixels, by a Gaussian whose spread is half the radius.
    QImage shadow = views::softened(layer, kShadowRadius * pixels / 2);
    keptScale_ = pixels;
    return Miniature{std::move(layer), std::move(shadow)};
  });
  const QPointF at = outer.topLeft() - QPointF(margin, margin);
  painter.save();
  const double base = painter.opacity() * opacity;
  const QSizeF size = QSizeF(kept.layer.size()) / kept.layer.devicePixelRatio();
  painter.setOpacity(base * kShadowOpacity);
  views::inBands(painter, QRectF(at + QPointF(0, kShadowDrop), size), kLayRows,
              [&] { painter.drawImage(at + QPointF(0, kShadowDrop), kept.shadow); });
  painter.setOpacity(base);
  views::inBands(painter, QRectF(at, size), kLayRows, [&] { painter.drawImage(at, kept.layer); });
  painter.restore();
}

bool PreviewDemo::event(QEvent* event) {
  // Out of sight, the miniatures go; the first paint once shown draws them again.
  if (event->type() == QEvent::Hide) miniatures_.reset();
  return QWidget::event(event);
}

void PreviewDemo::paintWindowLayer(QPainter& painter, const QRectF& outer, int i) {
  painter.save();
  ui::fillRounded(painter, outer, 9, ui::primary(0.08));
  const QRectF frame = outer.adjusted(kWindowPad, kWindowPad, -kWindowPad, -kWindowPad);
  ui::fillRounded(painter, frame, 6, ui::windowBackground());
  ui::strokeRoundedInside(painter, frame, 6, ui::separator(), 1);
  const QColor dots[] = {shellColors::red(), shellColors::yellow(), shellColors::green()};
  for (int d = 0; d < 3; ++d) {
    QColor c = dots[d];
    c.setAlphaF(0.8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(c);
    painter.drawEllipse(QRectF(frame.left() + 5 + d * 8, frame.top() + 5, 5, 5));
  }
  QColor tint = tints()[static_cast<std::size_t>(i) % tints().size()];
  tint.setAlphaF(0.35);
  const double top = frame.top() + 15;
  for (int l = 0; l < 4; ++l) {
    ui::fillRounded(painter, QRectF(frame.left() + 8, top + l * 8, kLines[l] * 70, 4), 2, tint);
  }
  ui::drawImage(painter, QRectF(frame.right() - 8 - 24, top, 24, 24), icons()[static_cast<std::size_t>(i)]);
  painter.restore();
}

}  // namespace trelliq
