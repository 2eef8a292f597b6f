#include "switcher/layout/ScreenTileLayout.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "switcher/layout/TileParts.h"
#include "switcher/model/SwitcherModel.h"
#include "switcher/model/WindowSpread.h"

namespace trelliq::scene {

namespace {

using Look = ScreenTileLook;

constexpr Animation kPickAnimation{0.15, Animation::Curve::easeOut};

Node sized(std::string key, const CGRect& frame) {
  Node n;
  n.key = std::move(key);
  n.frame = frame;
  return n;
}

Shape roundedStroke(double radius, Paint paint, double width) {
  Shape s;
  s.kind = Shape::Kind::roundedRectangle;
  s.radius = radius;
  s.stroke = Stroke{paint, width};
  return s;
}

// One window's picture w × h, or the dark placeholder; the two fade into each other when
// a live picture arrives or goes.
Node preview(const WindowInfo& w, const std::map<std::uint32_t, CGImageRef>& thumbnails, double width, double height,
             double corner) {
  const CGRect bounds(0, 0, width, height);
  Node n = sized("preview", bounds);
  n.picturedWindow = w.windowID.value_or(0);
  CGImageRef picture;
  if (w.windowID) {
    if (auto it = thumbnails.find(*w.windowID); it != thumbnails.end() && hasPicture(it->second)) {
      picture = it->second;
    }
  }
  const Shadow shadow{0.35, 1.5, CGSize{0, 1}};
  if (picture) {
    Node image = sized("image", bounds);
    Picture p;
    p.image = picture;
    p.cornerRadius = corner;
    p.shadow = shadow;
    image.content = p;
    image.transitions.fades = true;
    n.children.push_back(std::move(image));
  } else {
    Node placeholder = sized("placeholder", bounds);
    Shape s;
    s.kind = Shape::Kind::roundedRectangle;
    s.radius = corner;
    s.fill = Paint{Paint::Tone::black, 0.5};
    s.shadow = shadow;
    placeholder.content = s;
    placeholder.transitions.fades = true;
    n.children.push_back(std::move(placeholder));
  }
  Node border = sized("border", bounds);
  border.content = roundedStroke(corner, Paint{Paint::Tone::white, 0.3}, 0.5);
  n.children.push_back(std::move(border));
  return n;
}

// The ring around a picked picture, laid one point outside it.
Node ring(double width, double height, double radius, double opacity) {
  Node n = sized("ring", CGRect(-1, -1, width + 2, height + 2));
  n.content = roundedStroke(radius, Paint{Paint::Tone::white, opacity}, 1.5);
  return n;
}

double roundedBadge(double side) {
  const double b = 0.45 * side;
  return b < 9 ? 9 : std::round(std::min(b, Look::maxBadge));
}

double minimizedWidth(const WindowInfo& w) {
  if (!w.bounds) return 21;
  const double height = w.bounds->height();
  const double a = Look::minimizedHeight * w.bounds->width() / (height <= 1 ? 1 : height);
  return a < Look::minimizedHeight ? Look::minimizedHeight : std::round(std::min(a, 28.0));
}

struct Drawn {
  int z = 0;
  int index = 0;
  std::optional<std::uint32_t> window;
  std::int64_t key() const { return window ? std::int64_t{*window} : ~std::int64_t{index}; }
};

class Builder {
 public:
  Builder(const Cluster& cluster, const std::map<std::uint32_t, CGImageRef>& thumbnails, std::optional<int> picked,
          bool selected)
      : cluster_(cluster), thumbnails_(thumbnails), picked_(picked), selected_(selected) {}

  double opacity(int index) const { return picked_ == index ? 1 : Look::faded; }

  Node desktop(const CGRect& r, const CGImageRef& wallpaper) const {
    Node n = sized("desktop", r);
    Picture p;
    p.cornerRadius = r.height() * 0.08;
    if (hasPicture(wallpaper)) {
      p.image = wallpaper;
    } else {
      p.placeholder = Paint{Paint::Tone::primary, 0.15};
    }
    p.border = Stroke{Paint{Paint::Tone::white, 0.35}, 1};
    p.shadow = pictureShadow();
    n.content = p;
    n.opacity = opacity(SwitcherModel::desktopPick);
    n.reports.emplace_back(TileID::window(cluster_.id, SwitcherModel::desktopPick, 0),
                           CGRect(0, 0, r.width(), r.height()));
    return n;
  }

  Node window(int index, const CGRect& r, int z, std::string key) const {
    const WindowInfo& w = cluster_.windows[static_cast<std::size_t>(index)];
    const AppInfo* app = cluster_.app(&w);
    const bool isPicked = picked_ == index;
    const double width = r.width(), height = r.height();

    // The scale sits on a child so that the reported frame stays the unscaled one.
    Node n = sized(std::move(key), r);
    n.reports.emplace_back(TileID::window(cluster_.id, index, z), CGRect(0, 0, width, height));
    Node body = sized("body", CGRect(0, 0, width, height));
    body.scale = isPicked ? Look::pickedScale : 1;
    body.transitions.scale = kPickAnimation;

    Node picture = preview(w, thumbnails_, width, height, 3);
    picture.opacity = (isPicked ? 1 : Look::faded) * (app && app->app.isHidden() ? 0.6 : 1);
    picture.transitions.opacity = kPickAnimation;
    if (isPicked) {
      Node mark = ring(width, height, 4, selected_ ? 1 : 0.7);
      mark.transitions.fades = true;
      picture.children.push_back(std::move(mark));
    }
    body.children.push_back(std::move(picture));

    if (app) {
      // Centred on the picture's bottom edge, at full opacity whatever the picture's.
      const double b = roundedBadge(std::min(width, height));
      Node badge = appIcon(app->icon, b);
      badge.key = "badge";
      badge.frame.origin = {(width - b) / 2, height - b / 2};
      body.children.push_back(std::move(badge));
    }
    n.children.push_back(std::move(body));
    return n;
  }

  Node minimizedWindow(int index, double x, int z) const {
    const WindowInfo& w = cluster_.windows[static_cast<std::size_t>(index)];
    const AppInfo* app = cluster_.app(&w);
    const double width = minimizedWidth(w), height = Look::minimizedHeight;
    Node n = sized(std::to_string(index), CGRect(x, 0, width, height));
    n.reports.emplace_back(TileID::window(cluster_.id, index, z), CGRect(0, 0, width, height));
    Node picture = preview(w, thumbnails_, width, height, 2);
    picture.opacity = opacity(index);
    n.children.push_back(std::move(picture));
    if (app) {
      constexpr double icon = 9.8;
      Node badge = appIcon(app->icon, icon);
      badge.key = "badge";
      badge.frame.origin = {(width - icon) / 2, (height - icon) / 2};
      n.children.push_back(std::move(badge));
    }
    Node mark = ring(width, height, 3, 1);
    mark.opacity = picked_ == index ? 1 : 0;
    n.children.push_back(std::move(mark));
    return n;
  }

  // Indices of the tile's windows from back to front; ids matching no window are skipped,
  // and a window listed twice keeps its first place.
  std::vector<int> backToFront() const {
    std::vector<int> order;
    std::set<int> seen;
    for (const ValueID id : cluster_.stacking) {
      const auto it = std::find_if(cluster_.windows.begin(), cluster_.windows.end(),
                                   [id](const WindowInfo& w) { return w.id == id; });
      if (it == cluster_.windows.end()) continue;
      const int index = static_cast<int>(it - cluster_.windows.begin());
      if (seen.insert(index).second) order.push_back(index);
    }
    return order;
  }

 private:
  const Cluster& cluster_;
  const std::map<std::uint32_t, CGImageRef>& thumbnails_;
  std::optional<int> picked_;
  bool selected_;
};

}  // namespace

std::optional<CGRect> windowRect(const WindowInfo& window, const CGRect& screen, const CGRect& miniature,
                                 double scale) {
  if (!window.bounds) return std::nullopt;
  const CGRect c = window.bounds->intersection(screen);
  if (c.isNull() || window.minimized) return std::nullopt;
  const CGRect r = roundedOutward(CGRect(miniature.minX() + scale * (c.minX() - screen.minX()),
                                         miniature.minY() + scale * (c.minY() - screen.minY()), scale * c.width(),
                                         scale * c.height()));
  if (r.width() < 4 || r.height() < 4) return std::nullopt;
  return r;
}

Node screenTilePicture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                       const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
                       bool selected) {
  const Builder build(cluster, thumbnails, picked, selected);
  const std::vector<int> order = build.backToFront();
  std::vector<int> minimized;
  for (std::size_t i = 0; i < cluster.windows.size(); ++i) {
    if (cluster.windows[i].minimized) minimized.push_back(static_cast<int>(i));
  }

  const double areaHeight = size.height - 8 - (minimized.empty() ? 0 : 16);
  const double scale = screen.width() > 0 && screen.height() > 0
                           ? std::min(size.width / screen.width(), areaHeight / screen.height())
                           : 0;
  const double fw = scale * screen.width(), fh = scale * screen.height();
  const CGRect miniature((size.width - fw) / 2, (areaHeight - fh) / 2, fw, fh);

  std::map<int, CGRect> frames;
  for (const int i : order) {
    if (auto r = windowRect(cluster.windows[static_cast<std::size_t>(i)], screen, miniature, scale)) frames[i] = *r;
  }
  frames = spread(frames, CGRect(0, 0, size.width, areaHeight));

  Node root = sized("screen", CGRect(0, 0, size.width, size.height));
  if (!cluster.fullScreen) {
    const double wallpaperInset = (1 - Look::wallpaperScale) / 2;
    const CGRect desk = roundedOutward(miniature.insetBy(fw * wallpaperInset, fh * wallpaperInset));
    root.children.push_back(build.desktop(desk, wallpaper));
  }

  const int n = static_cast<int>(order.size());
  std::optional<Node> pickedNode;
  std::set<std::int64_t> keys;
  for (int position = 0; position < n; ++position) {
    const int index = order[static_cast<std::size_t>(position)];
    const auto r = frames.find(index);
    if (r == frames.end()) continue;
    const Drawn drawn{position, index, cluster.windows[static_cast<std::size_t>(index)].windowID};
    // Two windows sharing a number would share a key; the later one falls back to its index.
    const std::int64_t key = keys.insert(drawn.key()).second ? drawn.key() : ~std::int64_t{index};
    keys.insert(key);
    const bool isPicked = picked == index;
    Node node = build.window(index, r->second, isPicked ? n + 1 : position + 1, "window " + std::to_string(key));
    // The picked picture is stacked above everything else of the tile.
    if (isPicked) {
      pickedNode = std::move(node);
    } else {
      root.children.push_back(std::move(node));
    }
  }

  if (!minimized.empty()) {
    constexpr double spacing = 3;
    Node row = sized("minimized", CGRect(0, size.height - Look::minimizedHeight, 0, Look::minimizedHeight));
    double x = 0;
    for (const int i : minimized) {
      if (!row.children.empty()) x += spacing;
      Node small = build.minimizedWindow(i, x, n + 1 + i);
      x += small.frame.width();
      row.children.push_back(std::move(small));
    }
    row.frame.size.width = x;
    row.frame.origin.x = (size.width - x) / 2;
    root.children.push_back(std::move(row));
  }
  if (pickedNode) root.children.push_back(std::move(*pickedNode));
  return root;
}

Node ScreenTileMemo::picture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                             const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size,
                             std::optional<int> picked, bool selected) {
  Inputs inputs{screen, wallpaper, size, picked, selected, cluster.fullScreen, {}, {}};
  // A snapshot numbers its windows afresh: the tile depends only on where each stands in
  // the stacking, so the next session's tile of the same windows is the one made before.
  inputs.stacking.reserve(cluster.stacking.size());
  for (const ValueID id : cluster.stacking) {
    const auto it =
        std::find_if(cluster.windows.begin(), cluster.windows.end(), [id](const WindowInfo& w) { return w.id == id; });
    inputs.stacking.push_back(it - cluster.windows.begin());
  }
  inputs.windows.reserve(cluster.windows.size());
  for (const WindowInfo& w : cluster.windows) {
    Window in{w.windowID, w.minimized, w.bounds, nullptr, nullptr, false, false};
    if (w.windowID) {
      if (const auto found = thumbnails.find(*w.windowID); found != thumbnails.end()) in.picture = found->second;
    }
    if (const AppInfo* app = cluster.app(&w)) {
      in.hasApp = true;
      in.icon = app->icon;
      in.hidden = app->app.isHidden();
    }
    inputs.windows.push_back(in);
  }
  const auto found = kept_.find(cluster.id);
  if (found != kept_.end() && found->second.inputs == inputs) {
    Node node = found->second.node;
    used_[cluster.id] = std::move(found->second);
    kept_.erase(found);
    return node;
  }
  Node node = screenTilePicture(cluster, screen, wallpaper, thumbnails, size, picked, selected);
  used_[cluster.id] = Kept{std::move(inputs), node};
  return node;
}

void ScreenTileMemo::endLayout() {
  kept_ = std::move(used_);
  used_.clear();
}

}  // namespace trelliq::scene
