#include "switcher/layout/TileParts.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "switcher/model/Metrics.h"

namespace trelliq::scene {

namespace {

Node sized(std::string key, const CGRect& frame) {
  Node n;
  n.key = std::move(key);
  n.frame = frame;
  return n;
}

Shape filled(Shape::Kind kind, Paint paint, double radius = 0) {
  Shape s;
  s.kind = kind;
  s.radius = radius;
  s.fill = paint;
  return s;
}

}  // namespace

bool hasPicture(const CGImageRef& image) { return image && image->width() > 0 && image->height() > 0; }

Shadow pictureShadow() { return Shadow{0.3, 2, CGSize{0, 1}}; }

Node appIcon(const CGImageRef& icon, double size) {
  Node n = sized("icon", CGRect(0, 0, size, size));
  // The image's transparent margin reaches past the square on purpose: the artwork is `size` wide.
  const double image = size / Metrics::artworkRatio;
  Node picture = sized("image", CGRect((size - image) / 2, (size - image) / 2, image, image));
  Picture p;
  p.image = icon;
  p.fit = Picture::Fit::stretch;
  picture.content = p;
  n.children.push_back(std::move(picture));
  return n;
}

Node tileIcon(const std::vector<AppInfo>& apps, double size) {
  Node n = sized("icon", CGRect(0, 0, size, size));
  if (apps.empty()) return n;
  Node first = appIcon(apps[0].icon, size);
  first.key = "first";
  n.children.push_back(std::move(first));
  if (apps.size() >= 2) {
    const double small = 0.45 * size, out = 0.08 * size;
    Node second = appIcon(apps[1].icon, small);
    second.key = "second";
    second.frame.origin = {size - small + out, size - small + out};
    n.children.push_back(std::move(second));
  }
  return n;
}

Node desktopIcon(const CGImageRef& wallpaper, double size) {
  Node n = sized("desktop", CGRect(0, 0, size, size));
  const double height = std::round(size * 0.65);
  Node picture = sized("picture", CGRect(0, (size - height) / 2, size, height));
  Picture p;
  p.cornerRadius = size * 0.08;
  p.border = Stroke{Paint{Paint::Tone::white, 0.35}, 1};
  p.shadow = pictureShadow();
  if (hasPicture(wallpaper)) {
    p.image = wallpaper;
  } else {
    p.placeholder = Paint{Paint::Tone::primary, 0.15};
    Node symbol = sized("symbol", CGRect(0, 0, size, height));
    symbol.content = Symbol{"menubar.dock.rectangle", size * 0.3, Weight::regular, Paint{Paint::Tone::secondary, 1}};
    picture.children.push_back(std::move(symbol));
  }
  picture.content = p;
  n.children.push_back(std::move(picture));
  return n;
}

Node iconBadge(const IconBadge& badge, const CGRect& icon) {
  const double d = std::round(badge.size * 0.32);
  // Aligned to the corner, then pushed a fifth of its diameter past it.
  const double x = icon.maxX() - d + d * 0.2;
  const double y = badge.below ? icon.maxY() - d + d * 0.2 : icon.minY() - d * 0.2;
  Node n = sized("badge", CGRect(x, y, d, d));
  n.help = badge.help;
  n.content = filled(Shape::Kind::circle, Paint{Paint::Tone::black, 0.6});
  Node glyph = sized("symbol", CGRect(0, 0, d, d));
  glyph.content = Symbol{badge.symbol, d * 0.5, Weight::semibold, Paint{Paint::Tone::white, 1}};
  n.children.push_back(std::move(glyph));
  Node ring = sized("ring", CGRect(0, 0, d, d));
  Shape edge;
  edge.kind = Shape::Kind::circle;
  edge.stroke = Stroke{Paint{Paint::Tone::white, 0.25}, 0.5};
  ring.content = edge;
  n.children.push_back(std::move(ring));
  return n;
}

Node windowDots(const std::vector<WindowInfo>& windows, std::optional<int> big) {
  constexpr double spacing = 4;
  Node row = sized("dots", CGRect(0, 0, 0, Metrics::dotSize));
  if (windows.size() < 2) return row;
  const int count = std::min<int>(static_cast<int>(windows.size()), Metrics::maxDots);
  std::set<std::string> used;
  double x = 0;
  for (int k = 0; k < count; ++k) {
    const WindowInfo& w = windows[static_cast<std::size_t>(k)];
    const bool large = big == k;
    const double d = large ? Metrics::pickedDotSize : Metrics::dotSize;
    const double opacity = large ? 1 : (w.minimized ? 0.25 : 0.65);
    std::string key = std::to_string(w.id);
    // Copies of one window share an id; keys must stay unique among the dots.
    if (!used.insert(key).second) key += "#" + std::to_string(k);
    if (k > 0) x += spacing;
    Node dot = sized(std::move(key), CGRect(x, (Metrics::dotSize - d) / 2, d, d));
    dot.content = filled(Shape::Kind::circle, Paint{Paint::Tone::primary, opacity});
    row.children.push_back(std::move(dot));
    x += d;
  }
  row.frame.size.width = x;
  return row;
}

Node highlight(const Highlight& shape, CGSize tile) {
  Node n = sized("highlight", CGRect(0, 0, tile.width, tile.height));
  const double h = shape.extended || !shape.square ? tile.height : std::min(tile.height, *shape.square);
  Node rect = sized("selection", CGRect(0, 0, tile.width, h));
  rect.opacity = shape.selected ? 1 : 0;
  rect.transitions.frame = Animation{0.18, Animation::Curve::easeOut};
  rect.content = filled(Shape::Kind::roundedRectangle, Paint{Paint::Tone::black, 0.5}, shape.radius);
  n.children.push_back(std::move(rect));
  if (shape.here) {
    Node bar = sized("front", CGRect((tile.width - 16) / 2, 2.5, 16, 3));
    bar.content = filled(Shape::Kind::capsule, Paint{Paint::Tone::primary, 0.4});
    n.children.push_back(std::move(bar));
  }
  return n;
}

}  // namespace trelliq::scene
