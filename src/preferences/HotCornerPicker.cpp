#include "preferences/HotCornerPicker.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "ui/DemoIcons.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

constexpr double kPadding = 4;  // above and below the screen
constexpr Transition kChange = Transition::easeOut(0.15);

// What assistive software finds of one corner target: a button named after its corner,
// selected while the corner is chosen. The picker itself takes the clicks.
class CornerTarget : public QWidget {
 public:
  CornerTarget(HotCornerPicker& picker, Settings::HotCorner corner)
      : QWidget(&picker), picker_(picker), corner_(corner) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(QString::fromStdString(HotCornerPicker::accessibilityLabel(corner)));
  }
  bool chosen() const { return picker_.picked().contains(corner_); }
  Settings::HotCorner corner() const { return corner_; }

 private:
  HotCornerPicker& picker_;
  Settings::HotCorner corner_;
};

class CornerTargetAccessible : public QAccessibleWidget {
 public:
  explicit CornerTargetAccessible(CornerTarget* target) : QAccessibleWidget(target, QAccessible::Button) {}
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.selectable = true;
    state.selected = static_cast<const CornerTarget*>(widget())->chosen();
    return state;
  }
};

QAccessibleInterface* cornerTargetAccessible(const QString&, QObject* object) {
  if (auto* target = dynamic_cast<CornerTarget*>(object)) return new CornerTargetAccessible(target);
  return nullptr;
}

}  // namespace

HotCornerPicker::HotCornerPicker(StoredString selection, QWidget* parent)
    : QWidget(parent), selection_(std::move(selection)) {
  setMouseTracking(true);
  const auto now = picked();
  switcher_ = ui::Tween(now.empty() ? 0 : 1);
  for (const Corner c : Corner::allCases()) chosen_[static_cast<std::size_t>(c)] = ui::Tween(now.contains(c) ? 1 : 0);
  setAccessibleName("Hot corners");
  static const bool described = [] {
    QAccessible::installFactory(cornerTargetAccessible);
    return true;
  }();
  (void)described;
  for (const Corner c : Corner::allCases()) {
    auto* target = new CornerTarget(*this, c);
    // The part of the target's circle that shows, inside the screen.
    const QPointF p = cornerPoint(c);
    target->setGeometry(
        QRectF(p.x() - reach, p.y() - reach, 2 * reach, 2 * reach).intersected(screenRect()).toAlignedRect());
    targets_[static_cast<std::size_t>(c)] = target;
  }
}

QWidget& HotCornerPicker::target(Corner corner) const { return *targets_[static_cast<std::size_t>(corner)]; }

std::set<HotCornerPicker::Corner> HotCornerPicker::picked() const { return Corner::set(selection_.get()); }

void HotCornerPicker::click(Corner corner) {
  auto set = picked();
  if (set.contains(corner)) {
    set.erase(corner);
  } else {
    set.insert(corner);
  }
  selection_.set(Corner::stored(set));
  refresh();
  // Assistive software hears that the target's selected state changed.
  QAccessible::State changed;
  changed.selected = true;
  QAccessibleStateChangeEvent event(targets_[static_cast<std::size_t>(corner)], changed);
  QAccessible::updateAccessibility(&event);
  if (onChange_) onChange_();
}

void HotCornerPicker::refresh() {
  const auto now = picked();
  switcher_.set(now.empty() ? 0 : 1, kChange, this);
  for (const Corner c : Corner::allCases()) chosen_[static_cast<std::size_t>(c)].set(now.contains(c) ? 1 : 0, kChange, this);
  update();
}

void HotCornerPicker::hover(Corner corner, bool inside) {
  if (inside) {
    hovered_ = corner;
  } else if (hovered_ == corner) {
    hovered_.reset();  // leaving one target never clears another's hover
  }
  update();
}

QRectF HotCornerPicker::screenRect() const { return QRectF(0, kPadding, width, height); }

QPointF HotCornerPicker::cornerPoint(Corner corner) const {
  const QRectF s = screenRect();
  return QPointF(corner.isLeft() ? s.left() : s.right(), corner.isTop() ? s.top() : s.bottom());
}

std::optional<HotCornerPicker::Corner> HotCornerPicker::cornerAt(QPointF point) const {
  if (!screenRect().contains(point)) return std::nullopt;  // the cut-off part takes no clicks
  for (const Corner c : Corner::allCases()) {
    const QPointF d = point - cornerPoint(c);
    if (std::hypot(d.x(), d.y()) <= reach) return c;
  }
  return std::nullopt;
}

double HotCornerPicker::targetOpacity(Corner corner) const {
  const double idle = hovered_ == corner ? 0.5 : 0.2;
  const double c = chosen_[static_cast<std::size_t>(corner)].value();
  return idle + (0.95 - idle) * c;
}

std::string HotCornerPicker::toolTip(Corner corner, bool chosen) {
  const std::string title(corner.title());
  return chosen ? "Turn off the " + title + " hot corner" : "Open the switcher from the " + title + " corner";
}

std::string HotCornerPicker::accessibilityLabel(Corner corner) { return "Hot corner: " + std::string(corner.title()); }

QSize HotCornerPicker::sizeHint() const {
  return QSize(static_cast<int>(width), static_cast<int>(height + 2 * kPadding));
}

void HotCornerPicker::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  if (const auto corner = cornerAt(event->position())) click(*corner);
}

void HotCornerPicker::mouseMoveEvent(QMouseEvent* event) {
  const auto under = cornerAt(event->position());
  if (hovered_ && hovered_ != under) hover(*hovered_, false);
  if (under && hovered_ != under) hover(*under, true);
  // The system shows the tip of the corner the pointer rests on.
  setToolTip(under ? QString::fromStdString(toolTip(*under, picked().contains(*under))) : QString());
  QWidget::mouseMoveEvent(event);
}

void HotCornerPicker::leaveEvent(QEvent* event) {
  if (hovered_) hover(*hovered_, false);
  QWidget::leaveEvent(event);
}

void HotCornerPicker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF s = screenRect();
  // A soft shadow under the screen, then everything clipped to its rounded outline.
  QPainterPath outline;
  outline.addRoundedRect(s, 8, 8);
  ui::paintShadow(painter, outline, 0.2, 2, QPointF(0, 1));
  painter.save();
  painter.setClipPath(outline);
  painter.fillRect(s, ui::sampleWallpaper(s));
  painter.fillRect(QRectF(s.left(), s.top(), s.width(), 6), QColor::fromRgbF(1, 1, 1, 0.3f));
  paintSwitcher(painter);
  for (const Corner c : Corner::allCases()) paintTarget(painter, c);
  painter.restore();
  ui::strokeRoundedInside(painter, s, 8, ui::separator(), 1);
}

void HotCornerPicker::paintSwitcher(QPainter& painter) const {
  const double presence = switcher_.value();
  if (presence <= 0) return;
  const auto& icons = DemoIcons::top();
  // Three 15-point icons padded by 2, 3 apart, inside 4 of padding.
  const double cell = 15 + 4;
  const double w = 3 * cell + 2 * 3 + 8;
  const double h = cell + 8;
  painter.save();
  painter.setOpacity(presence);
  const QPointF centre = screenRect().center();
  painter.translate(centre);
  const double scale = 0.8 + 0.2 * presence;
  painter.scale(scale, scale);
  const QRectF panel(-w / 2, -h / 2, w, h);
  ui::fillRounded(painter, panel, 8, ui::regularMaterial());
  for (int i = 0; i < 3; ++i) {
    const QRectF box(panel.left() + 4 + i * (cell + 3), panel.top() + 4, cell, cell);
    if (i == 0) ui::fillRounded(painter, box, 4, QColor::fromRgbF(0, 0, 0, 0.3f));
    if (static_cast<std::size_t>(i) < icons.size()) ui::drawImage(painter, box.adjusted(2, 2, -2, -2), icons[i]);
  }
  painter.restore();
}

void HotCornerPicker::paintTarget(QPainter& painter, Corner corner) const {
  const QPointF p = cornerPoint(corner);
  const QRectF circle(p.x() - reach, p.y() - reach, 2 * reach, 2 * reach);
  const double c = chosen_[static_cast<std::size_t>(corner)].value();
  if (c > 0) {
    QPainterPath disc;
    disc.addEllipse(circle);
    ui::paintShadow(painter, disc, 0.25 * c, 2, QPointF(0, 0));
  }
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(1, 1, 1, static_cast<float>(targetOpacity(corner))));
  painter.drawEllipse(circle);
  painter.restore();
  if (!picked().contains(corner)) return;
  // The arrow points into its corner, in the quarter of the circle that shows.
  const double shift = 0.42 * reach;
  const QPointF centre(p.x() + (corner.isLeft() ? shift : -shift), p.y() + (corner.isTop() ? shift : -shift));
  painter.save();
  painter.setOpacity(c);
  painter.translate(centre);
  painter.scale(corner.isLeft() ? 1 : -1, corner.isTop() ? 1 : -1);
  ui::drawSymbol(painter, "cursorarrow", QRectF(-6, -6, 12, 12), ui::accent());
  painter.restore();
}

}  // namespace trelliq
