#include "switcher/layout/ScreenTileLayout.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>
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

using TileWindow = ScreenTileInputs::Window;

// One window's picture w × h, or the dark placeholder; the two fade into each other when
// a live picture arrives or goes.
Node preview(const TileWindow& w, double width, double height, double corner) {
  const CGRect bounds(0, 0, width, height);
  Node n = sized("preview", bounds);
  n.picturedWindow = w.number.value_or(0);
  const Shadow shadow{0.35, 1.5, CGSize{0, 1}};
  if (hasPicture(w.picture)) {
    Node image = sized("image", bounds);
    Picture p;
    p.image = w.picture;
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

double minimizedWidth(const TileWindow& w) {
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

// The part of a window on `screen`, in the miniature (see `windowRect`).
std::optional<CGRect> placed(const std::optional<CGRect>& bounds, bool minimized, const CGRect& screen,
                             const CGRect& miniature, double scale) {
  if (!bounds) return std::nullopt;
  const CGRect c = bounds->intersection(screen);
  if (c.isNull() || minimized) return std::nullopt;
  const CGRect r = roundedOutward(CGRect(miniature.minX() + scale * (c.minX() - screen.minX()),
                                         miniature.minY() + scale * (c.minY() - screen.minY()), scale * c.width(),
                                         scale * c.height()));
  if (r.width() < 4 || r.height() < 4) return std::nullopt;
  return r;
}

class Builder {
 public:
  Builder(const std::string& id, const ScreenTileInputs& in) : id_(id), in_(in) {}

  double opacity(int index) const { return in_.picked == index ? 1 : Look::faded; }

  Node desktop(const CGRect& r) const {
    Node n = sized("desktop", r);
    Picture p;
    p.cornerRadius = r.height() * 0.08;
    if (hasPicture(in_.wallpaper)) {
      p.image = in_.wallpaper;
    } else {
      p.placeholder = Paint{Paint::Tone::primary, 0.15};
    }
    p.border = Stroke{Paint{Paint::Tone::white, 0.35}, 1};
    p.shadow = pictureShadow();
    n.content = p;
    n.opacity = opacity(SwitcherModel::desktopPick);
    n.reports.emplace_back(TileID::window(id_, SwitcherModel::desktopPick, 0), CGRect(0, 0, r.width(), r.height()));
    return n;
  }

  Node window(int index, const CGRect& r, int z, std::string key) const {
    const TileWindow& w = in_.windows[static_cast<std::size_t>(index)];
    const bool isPicked = in_.picked == index;
    const double width = r.width(), height = r.height();

    // The scale sits on a child so that the reported frame stays the unscaled one.
    Node n = sized(std::move(key), r);
    n.reports.emplace_back(TileID::window(id_, index, z), CGRect(0, 0, width, height));
    Node body = sized("body", CGRect(0, 0, width, height));
    body.scale = isPicked ? Look::pickedScale : 1;
    body.transitions.scale = kPickAnimation;

    Node picture = preview(w, width, height, 3);
    picture.opacity = (isPicked ? 1 : Look::faded) * (w.hasApp && w.hidden ? 0.6 : 1);
    picture.transitions.opacity = kPickAnimation;
    if (isPicked) {
      Node mark = ring(width, height, 4, in_.selected ? 1 : 0.7);
      mark.transitions.fades = true;
      picture.children.push_back(std::move(mark));
    }
    body.children.push_back(std::move(picture));

    if (w.hasApp) {
      // Centred on the picture's bottom edge, at full opacity whatever the picture's.
      const double b = roundedBadge(std::min(width, height));
      Node badge = appIcon(w.icon, b);
      badge.key = "badge";
      badge.frame.origin = {(width - b) / 2, height - b / 2};
      body.children.push_back(std::move(badge));
    }
    n.children.push_back(std::move(body));
    return n;
  }

  Node minimizedWindow(int index, double x, int z) const {
    const TileWindow& w = in_.windows[static_cast<std::size_t>(index)];
    const double width = minimizedWidth(w), height = Look::minimizedHeight;
    Node n = sized(std::to_string(index), CGRect(x, 0, width, height));
    n.reports.emplace_back(TileID::window(id_, index, z), CGRect(0, 0, width, height));
    Node picture = preview(w, width, height, 2);
    picture.opacity = opacity(index);
    n.children.push_back(std::move(picture));
    if (w.hasApp) {
      constexpr double icon = 9.8;
      Node badge = appIcon(w.icon, icon);
      badge.key = "badge";
      badge.frame.origin = {(width - icon) / 2, (height - icon) / 2};
      n.children.push_back(std::move(badge));
    }
    Node mark = ring(width, height, 3, 1);
    mark.opacity = in_.picked == index ? 1 : 0;
    n.children.push_back(std::move(mark));
    return n;
  }

 private:
  const std::string& id_;
  const ScreenTileInputs& in_;
};

// `node` with the pictures of `swapped` in place of the ones its picture nodes draw, or
// nothing when none is below it. Only the lists of children along the way to a swapped
// picture are copied; the rest is shared with `node`. Clears `intact` when a window of
// `swapped` is drawn by a placeholder instead of a picture.
std::optional<Node> withPictures(const Node& node, const std::map<std::uint32_t, CGImageRef>& swapped, bool& intact) {
  if (const auto it = node.picturedWindow ? swapped.find(node.picturedWindow) : swapped.end(); it != swapped.end()) {
    const auto image = std::find_if(node.children.begin(), node.children.end(), [](const Node& child) {
      return child.key == "image" && std::holds_alternative<Picture>(child.content);
    });
    if (image == node.children.end()) {
      intact = false;
      return std::nullopt;
    }
    Node out = node;
    std::get<Picture>(out.children[static_cast<std::size_t>(image - node.children.begin())].content).image =
        it->second;
    return out;
  }
  std::optional<Node> out;
  for (std::size_t i = 0; i < node.children.size() && intact; ++i) {
    std::optional<Node> child = withPictures(node.children[i], swapped, intact);
    if (!child) continue;
    if (!out) out = node;
    out->children[i] = std::move(*child);
  }
  return out;
}

// Places `renewed` tiles into `node`'s subtree, not looking below the other tiles; counts
// those placed in `found`.
std::optional<Node> withTiles(const Node& node, const ScreenTileMemo::PictureSwap& swap, std::size_t& found) {
  std::optional<Node> out;
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    const Node& child = node.children[i];
    const std::uint64_t stamp = child.children.stamp();
    std::optional<Node> changed;
    if (const auto renewed = swap.renewed.find(stamp); stamp && renewed != swap.renewed.end()) {
      changed = child;
      changed->children = renewed->second;
      ++found;
    } else if (!stamp || !swap.tiles.count(stamp)) {
      changed = withTiles(child, swap, found);
    }
    if (!changed) continue;
    if (!out) out = node;
    out->children[i] = std::move(*changed);
  }
  return out;
}

}  // namespace

std::optional<CGRect> windowRect(const WindowInfo& window, const CGRect& screen, const CGRect& miniature,
                                 double scale) {
  return placed(window.bounds, window.minimized, screen, miniature, scale);
}

ScreenTileInputs screenTileInputs(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                                  const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size,
                                  std::optional<int> picked, bool selected) {
  ScreenTileInputs in{screen, wallpaper, size, picked, selected, cluster.fullScreen, {}, {}};
  in.windows.reserve(cluster.windows.size());
  std::unordered_map<ValueID, int> places;
  places.reserve(cluster.windows.size());
  for (const WindowInfo& w : cluster.windows) {
    places.emplace(w.id, static_cast<int>(in.windows.size()));
    TileWindow& out = in.windows.emplace_back();
    out.number = w.windowID;
    out.minimized = w.minimized;
    out.bounds = w.bounds;
    if (w.windowID) {
      if (const auto found = thumbnails.find(*w.windowID); found != thumbnails.end()) out.picture = found->second;
    }
    if (const AppInfo* app = cluster.app(&w)) {
      out.hasApp = true;
      out.icon = app->icon;
      out.hidden = app->app.isHidden();
    }
  }
  std::vector<bool> stacked(in.windows.size());
  in.stacking.reserve(cluster.stacking.size());
  for (const ValueID id : cluster.stacking) {
    const auto place = places.find(id);
    if (place == places.end() || stacked[static_cast<std::size_t>(place->second)]) continue;
    stacked[static_cast<std::size_t>(place->second)] = true;
    in.stacking.push_back(place->second);
  }
  return in;
}

Node screenTilePicture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                       const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
                       bool selected) {
  return screenTilePicture(cluster.id, screenTileInputs(cluster, screen, wallpaper, thumbnails, size, picked, selected));
}

Node screenTilePicture(const std::string& id, const ScreenTileInputs& in) {
  const Builder build(id, in);
  const std::vector<int>& order = in.stacking;
  const CGRect& screen = in.screen;
  const CGSize size = in.size;
  std::vector<int> minimized;
  for (std::size_t i = 0; i < in.windows.size(); ++i) {
    if (in.windows[i].minimized) minimized.push_back(static_cast<int>(i));
  }

  const double areaHeight = size.height - 8 - (minimized.empty() ? 0 : 16);
  const double scale = screen.width() > 0 && screen.height() > 0
                           ? std::min(size.width / screen.width(), areaHeight / screen.height())
                           : 0;
  const double fw = scale * screen.width(), fh = scale * screen.height();
  const CGRect miniature((size.width - fw) / 2, (areaHeight - fh) / 2, fw, fh);

  std::map<int, CGRect> frames;
  for (const int i : order) {
    const TileWindow& w = in.windows[static_cast<std::size_t>(i)];
    if (auto r = placed(w.bounds, w.minimized, screen, miniature, scale)) frames[i] = *r;
  }
  frames = spread(frames, CGRect(0, 0, size.width, areaHeight));

  Node root = sized("screen", CGRect(0, 0, size.width, size.height));
  if (!in.fullScreen) {
    const double wallpaperInset = (1 - Look::wallpaperScale) / 2;
    const CGRect desk = roundedOutward(miniature.insetBy(fw * wallpaperInset, fh * wallpaperInset));
    root.children.push_back(build.desktop(desk));
  }

  const int n = static_cast<int>(order.size());
  std::optional<Node> pickedNode;
  std::set<std::int64_t> keys;
  for (int position = 0; position < n; ++position) {
    const int index = order[static_cast<std::size_t>(position)];
    const auto r = frames.find(index);
    if (r == frames.end()) continue;
    const Drawn drawn{position, index, in.windows[static_cast<std::size_t>(index)].number};
    // Two windows sharing a number would share a key; the later one falls back to its index.
    const std::int64_t key = keys.insert(drawn.key()).second ? drawn.key() : ~std::int64_t{index};
    keys.insert(key);
    const bool isPicked = in.picked == index;
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
  ScreenTileInputs inputs = screenTileInputs(cluster, screen, wallpaper, thumbnails, size, picked, selected);
  const auto found = kept_.find(cluster.id);
  if (found != kept_.end() && found->second.inputs == inputs) {
    Node node = found->second.node;
    used_[cluster.id] = std::move(found->second);
    kept_.erase(found);
    return node;
  }
  Node node = screenTilePicture(cluster.id, inputs);
  used_[cluster.id] = Kept{std::move(inputs), node};
  return node;
}

void ScreenTileMemo::endLayout() {
  kept_ = std::move(used_);
  used_.clear();
}

bool ScreenTileMemo::swapPictures(const std::map<std::uint32_t, CGImageRef>& thumbnails, PictureSwap& swap) {
  struct Change {
    Kept* tile;
    std::vector<std::pair<std::size_t, CGImageRef>> windows;
    std::map<std::uint32_t, CGImageRef> drawn;  // the swapped pictures its nodes draw
    std::optional<Node> node;
  };
  std::vector<Change> changes;
  for (auto& [id, tile] : kept_) {
    Change change{&tile, {}, {}, std::nullopt};
    for (std::size_t i = 0; i < tile.inputs.windows.size(); ++i) {
      const TileWindow& w = tile.inputs.windows[i];
      if (!w.number) continue;
      const auto found = thumbnails.find(*w.number);
      const CGImageRef now = found == thumbnails.end() ? CGImageRef() : found->second;
      if (now == w.picture) continue;
      if (hasPicture(now) != hasPicture(w.picture)) return false;
      change.windows.emplace_back(i, now);
      if (hasPicture(now)) change.drawn[*w.number] = now;
    }
    swap.windows += change.windows.size();
    if (!change.windows.empty()) changes.push_back(std::move(change));
  }
  for (Change& change : changes) {
    bool intact = true;
    change.node = withPictures(change.tile->node, change.drawn, intact);
    if (!intact) return false;
  }
  for (const auto& [id, tile] : kept_) {
    if (const std::uint64_t stamp = tile.node.children.stamp()) swap.tiles.insert(stamp);
  }
  for (Change& change : changes) {
    for (auto& [i, picture] : change.windows) change.tile->inputs.windows[i].picture = std::move(picture);
    if (!change.node) continue;
    swap.renewed.emplace(change.tile->node.children.stamp(), change.node->children);
    change.tile->node = std::move(*change.node);
  }
  return true;
}

std::optional<Node> ScreenTileMemo::PictureSwap::in(const Node& tree) const {
  std::size_t found = 0;
  std::optional<Node> out = withTiles(tree, *this, found);
  if (found != renewed.size()) return std::nullopt;
  return out;
}

}  // namespace trelliq::scene
