#include "ui/Paint.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "platform/AppKitAppearance.h"
#include "switcher/views/Bands.h"
#include "switcher/views/KeptPlates.h"

namespace trelliq::ui {

bool isDark() { return NSAppearance::current().isDark(); }

QColor primary(double opacity) {
  const float ink = isDark() ? 1 : 0;
  return QColor::fromRgbF(ink, ink, ink, static_cast<float>(0.85 * opacity));
}
QColor secondary() { return isDark() ? QColor::fromRgbF(1, 1, 1, 0.55f) : QColor::fromRgbF(0, 0, 0, 0.5f); }
QColor accent() { return QColor(0, 122, 255); }
QColor separator() { return isDark() ? QColor::fromRgbF(1, 1, 1, 0.12f) : QColor::fromRgbF(0, 0, 0, 0.1f); }
QColor controlBackground() { return isDark() ? QColor(30, 30, 30) : QColor(255, 255, 255); }
QColor windowBackground() { return isDark() ? QColor(40, 40, 42) : QColor(236, 236, 236); }
QColor regularMaterial() {
  return isDark() ? QColor::fromRgbF(0.16f, 0.16f, 0.17f, 0.78f) : QColor::fromRgbF(0.98f, 0.98f, 0.98f, 0.78f);
}

QColor mix(const QColor& from, const QColor& to, double t) {
  const auto at = [t](float a, float b) { return a + (b - a) * static_cast<float>(t); };
  return QColor::fromRgbF(at(from.redF(), to.redF()), at(from.greenF(), to.greenF()), at(from.blueF(), to.blueF()),
                          at(from.alphaF(), to.alphaF()));
}

namespace {

// Our windows' plates are laid from kept pictures (see views::drawKeptPlate), each from its
// first drawing on, so a plate looks the same at every frame wherever it stands. Larger
// ones (a section's card) are drawn as they are: a few of them would fill the budget and
// push each other out at every frame.
constexpr views::PlateUse kWindowPlates{.keepFillAtOnce = true, .largestArea = 400.0 * 400.0};
constexpr int kFillRows = 16;  // rows a large shape is filled at a time: a few spans each
constexpr int kPlainRows = 64;  // rows a plain fill is laid at a time: a span each
constexpr int kImageRows = 24;  // rows a scaled picture is drawn at a time: up to three spans each

bool drawKept(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double pen) {
  return views::drawKeptPlate(painter, scene::Shape::Kind::roundedRectangle, rect, radius, color, pen, kWindowPlates);
}

// A fill that only fades: its picture in the colour at full strength, laid on at the
// colour's own strength (times the painter's).
bool drawFading(QPainter& painter, const QRectF& rect, double radius, const QColor& color) {
  constexpr views::PlateUse kFadingPlates{
      .keepFillAtOnce = true, .largestArea = kWindowPlates.largestArea, .laidAtOpacity = true};
  QColor full = color;
  full.setAlpha(255);
  painter.save();
  painter.setOpacity(painter.opacity() * color.alphaF());
  const bool laid =
      views::drawKeptPlate(painter, scene::Shape::Kind::roundedRectangle, rect, radius, full, 0, kFadingPlates);
  painter.restore();
  return laid;
}

// Where the painter may draw, in device pixels, when it is one whose pixels a plain fill of
// whole pixels stands for exactly (raster, unturned, blending over): none otherwise.
std::optional<QRect> clippedPixels(QPainter& painter) {
  const QPaintEngine* engine = painter.paintEngine();
  const QTransform device = painter.deviceTransform();
  if (!painter.hasClipping() || !engine || engine->type() != QPaintEngine::Raster ||
      device.type() > QTransform::TxScale || device.m11() <= 0 || device.m22() <= 0 ||
      painter.compositionMode() != QPainter::CompositionMode_SourceOver)
    return std::nullopt;
  return device.mapRect(painter.clipBoundingRect()).toAlignedRect();
}

// Whether every pixel of `pixels` lies wholly inside the rounded rectangle `shape` (device
// pixels) with corners of `rx` by `ry`, off its corners' boxes: the shape covers each of
// them fully, however it is smoothed.
bool wholly(const QRect& pixels, const QRectF& shape, double rx, double ry) {
  const auto inside = [&](double left, double top, double right, double bottom) {
    return pixels.left() >= std::ceil(left) && pixels.top() >= std::ceil(top) && pixels.right() + 1 <= std::floor(right) &&
           pixels.bottom() + 1 <= std::floor(bottom);
  };
  return inside(shape.left(), shape.top() + ry, shape.right(), shape.bottom() - ry) ||
         inside(shape.left() + rx, shape.top(), shape.right() - rx, shape.bottom());
}

// A repaint within a plate, off its corners and edges (a demonstration's frame on a card),
// is the plate's colour over every pixel of it: laid as one plain fill of those pixels, as
// a kept picture's middle would be, not filled through the shape's outline again.
bool fillInside(QPainter& painter, const QRectF& rect, double radius, const QColor& color) {
  const std::optional<QRect> pixels = clippedPixels(painter);
  if (!pixels || pixels->isEmpty()) return false;
  const QTransform device = painter.deviceTransform();
  const double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
  if (!wholly(*pixels, device.mapRect(rect), r * device.m11(), r * device.m22())) return false;
  painter.save();
  // Filled at device pixels, one to one, whatever the painter's own coordinates are.
  painter.setWorldTransform(device.inverted() * painter.worldTransform());
  const bool plain = painter.deviceTransform().type() == QTransform::TxNone;
  if (plain) views::inBands(painter, QRectF(*pixels), kPlainRows, [&] { painter.fillRect(*pixels, color); });
  painter.restore();
  return plain;
}

// Whether a repaint lies wholly within an outline's hollow middle, a pixel clear of its
// smoothed inner edge: the outline draws nothing there.
bool clearOfOutline(QPainter& painter, const QRectF& middle, double radius, double width) {
  const std::optional<QRect> pixels = clippedPixels(painter);
  if (!pixels) return false;
  if (pixels->isEmpty()) return true;
  const QTransform device = painter.deviceTransform();
  const double h = width / 2;
  const QRectF hollow = middle.adjusted(h, h, -h, -h);
  if (hollow.isEmpty()) return false;
  const double r = std::max(0.0, radius - h);
  const QRectF inner = device.mapRect(hollow).adjusted(1, 1, -1, -1);
  return wholly(*pixels, inner, r * device.m11() + 1, r * device.m22() + 1);
}

}  // namespace

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color, Look look) {
  if (color.alpha() == 0 || fillInside(painter, rect, radius, color)) return;
  if (look == Look::lasting && drawKept(painter, rect, radius, color, 0)) return;
  if (look == Look::fading && drawFading(painter, rect, radius, color)) return;
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  // A smoothed outline crossing a row makes a few spans of it.
  views::inBands(painter, rect, kFillRows, [&] { painter.drawRoundedRect(rect, radius, radius); });
  painter.restore();
}

QFont systemFont(double size, QFont::Weight weight) {
  QFont font;
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
  font.setWeight(weight);
  return font;
}

TextFont textFont(double size, QFont::Weight weight) {
  const double whole = std::round(size);
  if (std::abs(size - whole) < 1e-9 || size <= 0) return {systemFont(size, weight), 1};
  // Eight times a size given in quarters or halves of a point is a whole number of pixels.
  constexpr double kMultiple = 8;
  const double pixels = std::round(size * kMultiple);
  return {systemFont(pixels, weight), size / pixels};
}

LaidOutLine::LaidOutLine(const QString& text, const QFont& font) : layout_(std::make_shared<QTextLayout>(text, font)) {
  layout_->setCacheEnabled(true);
  layout_->beginLayout();
  QTextLine line = layout_->createLine();
  // A line as long as QPainter::drawText allows one that does not wrap.
  if (line.isValid()) {
    line.setLineWidth(0x01000000);
    line.setPosition(QPointF(0, 0));
  }
  layout_->endLayout();
  if (line.isValid()) {
    advance_ = line.horizontalAdvance();
    // Unrounded, as drawText centres it (the line's own height is rounded up).
    height_ = line.ascent() + line.descent();
  }
}

void LaidOutLine::drawCentred(QPainter& painter, const QRectF& box) const {
  layout_->draw(&painter,
                QPointF(box.x() + (box.width() - advance_) / 2, box.y() + (box.height() - height_) / 2));
}

QSizeF TextFont::measure(const QString& text) const {
  const QFontMetricsF metrics(font);
  return QSizeF(metrics.horizontalAdvance(text), metrics.height()) * scale;
}

void TextFont::draw(QPainter& painter, const QRectF& box, int flags, const QString& text) const {
  painter.save();
  painter.setFont(font);
  if (scale != 1) {
    painter.translate(box.topLeft());
    painter.scale(scale, scale);
    painter.drawText(QRectF(QPointF(0, 0), box.size() / scale), flags, text);
  } else {
    painter.drawText(box, flags, text);
  }
  painter.restore();
}

QLabel* styledLabel(const QString& text, double points, QFont::Weight weight, const QColor& color, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(systemFont(points, weight));
  setTextColor(label, color);
  return label;
}

namespace {

void paintText(QLabel& label, const QColor& color) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, color);
  label.setPalette(palette);
}

// A label's text in one of the adaptive styles takes the style's colour again when the
// appearance changes (the application's palette changes with it).
class TextStyle : public QObject {
 public:
  static constexpr const char* kName = "trelliq-text-style";

  TextStyle(QLabel& label, std::function<QColor()> style) : QObject(&label), style_(std::move(style)) {
    setObjectName(kName);
    label.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ApplicationPaletteChange) paintText(*static_cast<QLabel*>(watched), style_());
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<QColor()> style_;
};

/// The adaptive style `color` is in the current appearance, or none.
std::function<QColor()> styleOf(const QColor& color) {
  if (color == secondary()) return [] { return secondary(); };
  if (color == separator()) return [] { return separator(); };
  if (color.rgb() == primary().rgb()) {
    const double opacity = color.alphaF() / primary().alphaF();
    return [opacity] { return primary(opacity); };
  }
  return nullptr;
}

}  // namespace

void setTextColor(QLabel* label, const QColor& color) {
  paintText(*label, color);
  delete label->findChild<TextStyle*>(TextStyle::kName, Qt::FindDirectChildrenOnly);
  if (auto style = styleOf(color)) new TextStyle(*label, std::move(style));
}

QLinearGradient sampleWallpaper(const QRectF& rect) {
  QLinearGradient wash(rect.topLeft(), rect.bottomRight());
  wash.setColorAt(0, QColor::fromRgbF(0.2f, 0.45f, 0.9f));
  wash.setColorAt(1, QColor::fromRgbF(0.55f, 0.8f, 1.0f));
  return wash;
}

void fillSampleWallpaper(QPainter& painter, const QRectF& rect, double radius, double opacity) {
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.setPen(Qt::NoPen);
  painter.setBrush(sampleWallpaper(rect));
  painter.drawRoundedRect(rect, radius, radius);
  painter.restore();
}

void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double width,
                         Look look) {
  const double h = width / 2;
  const QRectF middle = rect.adjusted(h, h, -h, -h);
  const double r = std::max(0.0, radius - h);
  if (width > 0 && (color.alpha() == 0 || clearOfOutline(painter, middle, r, width))) return;
  if (width > 0 && look == Look::lasting && drawKept(painter, middle, r, color, width)) return;
  painter.save();
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(color, width));
  const auto draw = [&] { painter.drawRoundedRect(middle, r, r); };
  // An outline's rows are a few spans each: in bands, none is handed to the helper threads.
  if (look != Look::lasting) {
    views::inBands(painter, rect, kFillRows, draw);
  } else {
    draw();
  }
  painter.restore();
}

void fillRaised(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double shadow, double blur,
                Look look) {
  QPainterPath plate;
  plate.addRoundedRect(rect, radius, radius);
  paintShadow(painter, plate, shadow, blur, QPointF(0, 0.5));
  fillRounded(painter, rect, radius, color, look);
}

QColor faded(const QColor& color, double opacity) {
  if (opacity >= 1) return color;
  // As the raster engine scales a solid colour by the painter's opacity: in 256ths.
  const int strength = static_cast<int>(std::lround(std::max(0.0, opacity) * 256));
  const QRgba64 c = color.rgba64();
  return QColor::fromRgba64(c.red(), c.green(), c.blue(), static_cast<quint16>((c.alpha() * strength) >> 8));
}

void drawWithShadow(QPainter& painter, const QImage& layer, QPointF at, double opacity, double radius, QPointF offset) {
  if (layer.isNull()) return;
  // Blurred at the layer's own pixels, by a Gaussian whose spread is half the radius.
  const QImage shadow = views::softened(layer, radius * layer.devicePixelRatio() / 2);
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.drawImage(at + offset, shadow);
  painter.restore();
  painter.drawImage(at, layer);
}

void drawImage(QPainter& painter, const QRectF& rect, const CGImageRef& image, double opacity) {
  if (!image || image->width() == 0 || image->height() == 0) return;
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // A scaled picture's smoothed edges make a few spans of each row.
  views::inBands(painter, rect, kImageRows, [&] { painter.drawImage(rect, image->qimage()); });
  painter.restore();
}

bool drawSymbol(QPainter& painter, const std::string& name, const QRectF& r, const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  bool known = true;
  if (name == "app.fill") {
    const double inset = r.width() * 0.1;
    fillRounded(painter, r.adjusted(inset, inset, -inset, -inset), r.width() * 0.22, color);
  } else if (name == "globe") {
    painter.setPen(QPen(color, std::max(0.6, r.width() / 12)));
    painter.setBrush(Qt::NoBrush);
    const QRectF c = r.adjusted(1, 1, -1, -1);
    painter.drawEllipse(c);
    painter.drawEllipse(QRectF(c.center().x() - c.width() / 4, c.top(), c.width() / 2, c.height()));
    painter.drawLine(QPointF(c.left(), c.center().y()), QPointF(c.right(), c.center().y()));
  } else if (name == "arrow.right") {
    painter.setPen(QPen(color, std::max(1.0, r.height() / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double y = r.center().y();
    painter.drawLine(QPointF(r.left() + 1, y), QPointF(r.right() - 1, y));
    painter.drawLine(QPointF(r.right() - 1 - r.height() / 3, y - r.height() / 3), QPointF(r.right() - 1, y));
    painter.drawLine(QPointF(r.right() - 1 - r.height() / 3, y + r.height() / 3), QPointF(r.right() - 1, y));
  } else if (name == "cursorarrow") {
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(color);
    painter.drawPath(pointerArrow(r));
  } else {
    known = false;
  }
  painter.restore();
  return known;
}

QPainterPath pointerArrow(const QRectF& r) {
  QPainterPath arrow;
  const double s = r.height();
  const QPointF o = r.topLeft();
  arrow.moveTo(o);
  arrow.lineTo(o + QPointF(0, s * 0.85));
  arrow.lineTo(o + QPointF(s * 0.24, s * 0.64));
  arrow.lineTo(o + QPointF(s * 0.4, s));
  arrow.lineTo(o + QPointF(s * 0.52, s * 0.94));
  arrow.lineTo(o + QPointF(s * 0.37, s * 0.6));
  arrow.lineTo(o + QPointF(s * 0.62, s * 0.6));
  arrow.closeSubpath();
  return arrow;
}

CGImageRef symbolImage(const std::string& name, int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  bool known = false;
  {
    QPainter painter(&image);
    known = drawSymbol(painter, name, QRectF(0, 0, side, side), QColor(128, 128, 128));
  }
  if (!known) return nullptr;
  return std::make_shared<const CGImage>(image);
}

}  // namespace trelliq::ui

#include <QPointer>

#include "platform/Clock.h"

namespace trelliq::ui {

namespace {

// The frames one widget is owed: a child object, so they end with the widget.
class Frames : public QObject {
 public:
  static constexpr const char* kName = "trelliq-frames";

  explicit Frames(QWidget& widget) : QObject(&widget) { setObjectName(kName); }

  void extend(double seconds, const QRegion& area) {
    until_ = std::max(until_, platform::clock().monotonicSeconds() + std::max(0.0, seconds));
    if (area.isEmpty()) {
      whole_ = true;
    } else {
      area_ += area;
    }
    if (!pending_) schedule();
  }

 private:
  void schedule() {
    pending_ = true;
    QPointer<Frames> self(this);
    platform::mainQueue().asyncAfter(kFrameSeconds, [self] {
      if (self) self->frame();
    });
  }

  void frame() {
    pending_ = false;
    auto* widget = static_cast<QWidget*>(parent());
    if (!widget->isVisible()) {
      forget();
      return;
    }
    if (whole_) {
      widget->update();
    } else {
      widget->update(area_);
    }
    if (platform::clock().monotonicSeconds() < until_) {
      schedule();
    } else {
      forget();
    }
  }

  void forget() {
    until_ = 0;
    area_ = QRegion();
    whole_ = false;
  }

  double until_ = 0;
  QRegion area_;
  bool whole_ = false;
  bool pending_ = false;
};

}  // namespace

void animateFor(QWidget* widget, double seconds, const QRegion& area) {
  if (!widget) return;
  // The first frame is now: what changed shows at once.
  if (area.isEmpty()) {
    widget->update();
  } else {
    widget->update(area);
  }
  if (seconds <= 0) return;
  auto* frames = widget->findChild<Frames*>(Frames::kName, Qt::FindDirectChildrenOnly);
  if (!frames) frames = new Frames(*widget);
  frames->extend(seconds, area);
}

void Tween::set(double target, const Transition& transition, QWidget* widget, const QRegion& area) {
  if (target == to_) return;  // a move under way to the same place keeps its own curve
  from_ = value();
  to_ = target;
  start_ = platform::clock().monotonicSeconds();
  transition_ = transition;
  const bool moves = transition.curve != Transition::Curve::none && transition.duration > 0;
  animateFor(widget, moves ? transition.duration : 0, area);
}

double Tween::value() const {
  return from_ + (to_ - from_) * transition_.progress(platform::clock().monotonicSeconds() - start_);
}

}  // namespace trelliq::ui
