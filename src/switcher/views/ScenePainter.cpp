#include "switcher/views/ScenePainter.h"

#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/Image.h"
#include "switcher/views/SymbolGlyphs.h"
#include "switcher/views/SystemFont.h"

namespace trelliq::views {

namespace {

using scene::Node;

// One box-blur pass over the alpha of a black picture, along rows or columns.
void boxBlur(std::vector<int>& alpha, int w, int h, int radius, bool rows) {
  if (radius <= 0) return;
  std::vector<int> out(alpha.size());
  const int lines = rows ? h : w, length = rows ? w : h;
  const auto at = [&](int line, int i) -> int& { return rows ? alpha[line * w + i] : alpha[i * w + line]; };
  const auto put = [&](int line, int i) -> int& { return rows ? out[line * w + i] : out[i * w + line]; };
  const int span = 2 * radius + 1;
  for (int line = 0; line < lines; ++line) {
    int sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += (i >= 0 && i < length) ? at(line, i) : 0;
    for (int i = 0; i < length; ++i) {
      put(line, i) = sum / span;
      const int leaving = i - radius, entering = i + radius + 1;
      if (leaving >= 0) sum -= at(line, leaving);
      if (entering < length) sum += at(line, entering);
    }
  }
  alpha.swap(out);
}

void fillInside(QPainter& p, const QPainterPath& path, const QColor& color) {
  if (color.alpha() == 0) return;
  p.fillPath(path, color);
}

// A line of `width` along the inside of a shape of `kind` filling `rect`.
void strokeInside(QPainter& p, scene::Shape::Kind kind, const QRectF& rect, double radius,
                  const scene::Stroke& stroke) {
  const double w = stroke.width;
  if (w <= 0 || rect.width() < w || rect.height() < w) return;
  const QRectF inner = rect.adjusted(w / 2, w / 2, -w / 2, -w / 2);
  QPen pen(ScenePainter::color(stroke.paint), w);
  pen.setJoinStyle(Qt::MiterJoin);
  p.strokePath(ScenePainter::shapePath(kind, inner, std::max(0.0, radius - w / 2)), pen);
}

void paintGlass(QPainter& p, const QRectF& r, const scene::Glass& glass) {
  if (r.width() <= 0 || r.height() <= 0) return;
  // A short plate never gets more than fully round ends.
  const double radius = std::clamp(glass.radius, 0.0, r.height() / 2);
  const QPainterPath plate = ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, r, radius);
  QColor haze = ScenePainter::hazeColor();
  haze.setAlphaF(static_cast<float>(std::clamp(glass.haze, 0.0, 1.0)));
  fillInside(p, plate, haze);
  fillInside(p, plate, ScenePainter::glassColor());
  // The rim catches the light.
  strokeInside(p, scene::Shape::Kind::roundedRectangle, r, radius, {{scene::Paint::Tone::white, 0.12}, 1});
}

void paintShape(QPainter& p, const QRectF& r, const scene::Shape& shape) {
  const QPainterPath path = ScenePainter::shapePath(shape.kind, r, shape.radius);
  if (shape.shadow) ScenePainter::paintShadow(p, path, *shape.shadow);
  if (shape.fill) fillInside(p, path, ScenePainter::color(*shape.fill));
  if (shape.stroke) {
    double radius = shape.radius;
    QRectF box = r;
    if (shape.kind == scene::Shape::Kind::capsule) radius = std::min(r.width(), r.height()) / 2;
    if (shape.kind == scene::Shape::Kind::circle) {
      const double d = std::min(r.width(), r.height());
      box = QRectF(r.center().x() - d / 2, r.center().y() - d / 2, d, d);
    }
    strokeInside(p, shape.kind, box, radius, *shape.stroke);
  }
}

void paintText(QPainter& p, const QRectF& r, const scene::Text& text) {
  if (text.text.empty() || r.width() <= 0) return;
  const QFont font = systemFont(text.size, text.weight);
  const QString line = QFontMetricsF(font).elidedText(QString::fromStdString(text.text), Qt::ElideRight, r.width());
  p.setFont(font);
  p.setPen(ScenePainter::color(text.paint));
  p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, line);
}

void paintSymbol(QPainter& p, const QRectF& r, const scene::Symbol& symbol) {
  const QPainterPath glyph = symbolPath(symbol.name, r, symbol.size, symbol.weight);
  if (!glyph.isEmpty()) fillInside(p, glyph, ScenePainter::color(symbol.paint));
}

void paintPicture(QPainter& p, const QRectF& r, const scene::Picture& picture) {
  if (r.width() <= 0 || r.height() <= 0) return;
  const double radius = std::max(0.0, picture.cornerRadius);
  const QPainterPath outline = ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, r, radius);
  if (picture.shadow) ScenePainter::paintShadow(p, outline, *picture.shadow);
  const CGImage* image = picture.image.get();
  if (image && image->width() > 0 && image->height() > 0) {
    const QImage& pixels = image->qimage();
    QRectF source(0, 0, pixels.width(), pixels.height());
    if (picture.fit == scene::Picture::Fit::aspectFill) {
      // Crop the middle of the picture to the frame's proportions.
      const double scale = std::max(r.width() / pixels.width(), r.height() / pixels.height());
      const double w = r.width() / scale, h = r.height() / scale;
      source = QRectF((pixels.width() - w) / 2, (pixels.height() - h) / 2, w, h);
    }
    p.save();
    if (radius > 0) p.setClipPath(outline, Qt::IntersectClip);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, pixels, source);
    p.restore();
  } else if (picture.placeholder) {
    fillInside(p, outline, ScenePainter::color(*picture.placeholder));
  }
  if (picture.border) strokeInside(p, scene::Shape::Kind::roundedRectangle, r, radius, *picture.border);
}

void paintNode(QPainter& p, const Node& node);

// How far a node's drawing may reach outside its frame: its shadows and its children,
// in its own coordinates.
QRectF reach(const Node& node) {
  // A node without content of its own inks only through its children.
  QRectF r;
  if (!std::holds_alternative<std::monostate>(node.content)) r = QRectF(0, 0, node.frame.size.width, node.frame.size.height);
  const auto grow = [&](const std::optional<scene::Shadow>& shadow) {
    if (!shadow) return;
    const double m = 3 * std::max(1.0, std::round(shadow->radius / 2)) + 2;
    r |= r.translated(shadow->offset.width, shadow->offset.height).adjusted(-m, -m, m, m);
  };
  if (const auto* shape = std::get_if<scene::Shape>(&node.content)) grow(shape->shadow);
  if (const auto* picture = std::get_if<scene::Picture>(&node.content)) grow(picture->shadow);
  for (const Node& child : node.children) r |= ScenePainter::extent(child);
  return r;
}

void paintContent(QPainter& p, const Node& node) {
  const QRectF bounds(0, 0, node.frame.size.width, node.frame.size.height);
  std::visit(
      [&](const auto& content) {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, scene::Glass>) paintGlass(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Shape>) paintShape(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Text>) paintText(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Symbol>) paintSymbol(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Picture>) paintPicture(p, bounds, content);
      },
      node.content);
  for (const Node& child : node.children) paintNode(p, child);
}

// A see-through node with pieces that overlap is drawn whole first and then blended at
// its opacity, so that its pieces cover each other as they do at full strength.
bool paintAsGroup(QPainter& p, const Node& node, double opacity) {
  QPaintDevice* device = p.device();
  if (!device) return false;
  const QTransform toDevice = p.worldTransform();
  QRect area = toDevice.mapRect(reach(node)).toAlignedRect().intersected(QRect(0, 0, device->width(), device->height()));
  if (p.hasClipping()) area &= toDevice.mapRect(p.clipBoundingRect()).toAlignedRect();
  if (area.isEmpty()) return true;
  QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  {
    QPainter l(&layer);
    l.setRenderHints(p.renderHints());
    l.setWorldTransform(toDevice * QTransform::fromTranslate(-area.left(), -area.top()));
    paintContent(l, node);
  }
  p.save();
  p.resetTransform();
  p.setOpacity(opacity);
  p.drawImage(area.topLeft(), layer);
  p.restore();
  return true;
}

void paintNode(QPainter& p, const Node& node) {
  if (node.opacity <= 0 || node.scale <= 0) return;
  p.save();
  p.translate(node.frame.origin.x, node.frame.origin.y);
  const QRectF bounds(0, 0, node.frame.size.width, node.frame.size.height);
  if (node.scale != 1) {
    const QPointF anchor(node.anchor.x * bounds.width(), node.anchor.y * bounds.height());
    p.translate(anchor);
    p.scale(node.scale, node.scale);
    p.translate(-anchor);
  }
  const double opacity = p.opacity() * std::min(1.0, node.opacity);
  const bool overlapping = node.opacity < 1 && !node.children.empty();
  if (!overlapping || !paintAsGroup(p, node, opacity)) {
    p.setOpacity(opacity);
    paintContent(p, node);
  }
  p.restore();
}

}  // namespace

QRectF ScenePainter::extent(const scene::Node& node) {
  if (node.opacity <= 0 || node.scale <= 0) return {};
  QRectF r = reach(node);
  if (r.isNull()) return r;
  if (node.scale != 1) {
    const QPointF anchor(node.anchor.x * node.frame.size.width, node.anchor.y * node.frame.size.height);
    r = QRectF(anchor + (r.topLeft() - anchor) * node.scale, r.size() * node.scale);
  }
  return r.translated(node.frame.origin.x, node.frame.origin.y);
}

void ScenePainter::paint(QPainter& painter, const scene::Node& root) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  paintNode(painter, root);
  painter.restore();
}

QImage ScenePainter::render(const scene::Node& root, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  paint(painter, root);
  return image;
}

QColor ScenePainter::color(const scene::Paint& paint) {
  double opacity = std::clamp(paint.opacity, 0.0, 1.0);
  QColor c = Qt::white;
  switch (paint.tone) {
    case scene::Paint::Tone::primary:
    case scene::Paint::Tone::white:
      break;
    case scene::Paint::Tone::secondary:
      opacity *= 0.55;
      break;
    case scene::Paint::Tone::black:
      c = Qt::black;
      break;
  }
  c.setAlphaF(static_cast<float>(opacity));
  return c;
}

QColor ScenePainter::glassColor() { return QColor(38, 38, 42, 150); }

QColor ScenePainter::hazeColor() { return QColor(18, 18, 20); }

QPainterPath ScenePainter::shapePath(scene::Shape::Kind kind, const QRectF& rect, double radius) {
  QPainterPath path;
  if (rect.width() <= 0 || rect.height() <= 0) return path;
  const double half = std::min(rect.width(), rect.height()) / 2;
  switch (kind) {
    case scene::Shape::Kind::rectangle:
      path.addRect(rect);
      break;
    case scene::Shape::Kind::roundedRectangle: {
      const double r = std::clamp(radius, 0.0, half);
      if (r > 0) {
        path.addRoundedRect(rect, r, r);
      } else {
        path.addRect(rect);
      }
      break;
    }
    case scene::Shape::Kind::capsule:
      path.addRoundedRect(rect, half, half);
      break;
    case scene::Shape::Kind::circle:
      path.addEllipse(rect.center(), half, half);
      break;
  }
  return path;
}

void ScenePainter::paintShadow(QPainter& painter, const QPainterPath& path, const scene::Shadow& shadow) {
  const double opacity = std::clamp(shadow.opacity, 0.0, 1.0);
  if (opacity <= 0 || path.isEmpty()) return;
  const QPointF offset(shadow.offset.width, shadow.offset.height);
  if (shadow.radius < 0.5) {
    QColor black = Qt::black;
    black.setAlphaF(static_cast<float>(opacity));
    painter.fillPath(path.translated(offset), black);
    return;
  }
  // Three box blurs of about half the radius come close to a Gaussian of that spread.
  const int pass = std::max(1, static_cast<int>(std::lround(shadow.radius / 2)));
  const int margin = 3 * pass + 1;
  const QRectF box = path.boundingRect().adjusted(-margin, -margin, margin, margin);
  const int w = static_cast<int>(std::ceil(box.width())), h = static_cast<int>(std::ceil(box.height()));
  if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > 16'000'000) return;
  QImage mask(w, h, QImage::Format_ARGB32_Premultiplied);
  mask.fill(Qt::transparent);
  {
    QPainter m(&mask);
    m.setRenderHint(QPainter::Antialiasing);
    m.translate(-box.topLeft());
    m.fillPath(path, Qt::black);
  }
  std::vector<int> alpha(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    for (int x = 0; x < w; ++x) alpha[static_cast<std::size_t>(y) * w + x] = qAlpha(line[x]);
  }
  for (int i = 0; i < 3; ++i) {
    boxBlur(alpha, w, h, pass, true);
    boxBlur(alpha, w, h, pass, false);
  }
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
    for (int x = 0; x < w; ++x) line[x] = qRgba(0, 0, 0, alpha[static_cast<std::size_t>(y) * w + x]);
  }
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.drawImage(box.topLeft() + offset, mask);
  painter.restore();
}

}  // namespace trelliq::views
