#include "switcher/layout/PanelLayout.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "switcher/layout/NameLabel.h"
#include "switcher/layout/ScreenTileLayout.h"
#include "switcher/layout/TileParts.h"
#include "switcher/model/Metrics.h"
#include "workspace/ScreenGeometry.h"

namespace trelliq::scene {

namespace {

constexpr Animation kFocusChange{0.2, Animation::Curve::easeOut};
constexpr double kSeparatorOpacity = 0.15;
constexpr double kSeparatorWidth = 1;
constexpr double kSeparatorSide = Metrics::groupGap / 2;
constexpr double kQuittingOpacity = 0.35;
constexpr double kTileRadius = 0.22;
constexpr double kTrayTileRadius = 0.25;
// How far a label's bottom edge hangs below its tile: further when the tile has dots or a map above it.
constexpr double kLabelDropTall = 24;
constexpr double kLabelDrop = 14;
constexpr double kTrayLabelDrop = 21;
constexpr double kNoWindowsSize = 13;
constexpr const char* kNoWindows = "No windows";

void moveTo(Node& node, double x, double y) { node.frame.origin = {x, y}; }

// Places `node` with its own key, overriding what the piece chose, so siblings stay unique.
Node keyed(Node node, std::string key) {
  node.key = std::move(key);
  return node;
}

class PanelBuilder {
 public:
  PanelBuilder(const PanelLayoutInput& input, const DisplayGroup& display)
      : in_(input),
        model_(input.model),
        display_(display),
        focused_(input.model.focused() == input.index),
        icon_(Metrics::icon(display, static_cast<int>(input.model.workspace().tray.size()))) {}

  // The strip and, on the focused display, the tray row, stacked and centred in the panel.
  Node content() const {
    Node strip = this->strip();
    std::optional<Node> tray;
    if (showsTray()) tray = this->tray();

    const double width = std::max(strip.frame.width(), tray ? tray->frame.width() : 0.0);
    double height = strip.frame.height();
    moveTo(strip, (width - strip.frame.width()) / 2, 0);
    if (tray) {
      moveTo(*tray, (width - tray->frame.width()) / 2, height + Metrics::containerGap);
      height += Metrics::containerGap + tray->frame.height();
    }

    Node node;
    node.key = "content";
    node.frame = CGRect((in_.panel.width - width) / 2, (in_.panel.height - height) / 2, width, height);
    node.scale = focused_ ? 1 : Metrics::unfocusedScale;
    node.opacity = focused_ ? 1 : Metrics::unfocusedOpacity;
    node.transitions.scale = kFocusChange;
    node.transitions.opacity = kFocusChange;
    node.reportsContent = true;
    node.children.push_back(std::move(strip));
    if (tray) node.children.push_back(std::move(*tray));
    return node;
  }

 private:
  bool showsTray() const {
    if (!focused_ || model_.workspace().tray.empty()) return false;
    return display_.hasWindows() || model_.onTray() || !model_.trayIsJustFinder();
  }

  double tileHeight() const { return Metrics::tile(icon_).height; }

  // The glass plate with one group per Space, separators between them, top-aligned.
  Node strip() const {
    Node node;
    node.key = "strip";
    node.content = Glass{Metrics::cornerRadius, model_.haze(), in_.glass};
    const double pad = Metrics::inset;
    double x = pad;
    for (std::size_t k = 0; k < display_.spaces.size(); ++k) {
      const SpaceGroup& space = display_.spaces[k];
      if (k >= 1) {
        Node line = separator(space.key());
        moveTo(line, x + kSeparatorSide, pad);
        node.children.push_back(std::move(line));
        x += 2 * kSeparatorSide + kSeparatorWidth;
      }
      Node g = group(space);
      moveTo(g, x, pad);
      x += g.frame.width();
      node.children.push_back(std::move(g));
    }
    if (display_.spaces.empty()) {
      const CGSize text = in_.measure.size(kNoWindows, kNoWindowsSize, Weight::medium);
      Node empty;
      empty.key = "empty";
      empty.frame = CGRect(pad, pad, text.width, tileHeight());
      empty.content = Text{kNoWindows, kNoWindowsSize, Weight::medium, Paint{Paint::Tone::secondary, 1}};
      node.children.push_back(std::move(empty));
      x += text.width;
    }
    node.frame = CGRect(0, 0, x + pad, tileHeight() + 2 * pad);
    return node;
  }

  // The thin line itself; the 16 points either side are left by the caller.
  Node separator(const std::string& spaceKey) const {
    Node node;
    node.key = "separator:" + spaceKey;
    node.frame = CGRect(0, 0, kSeparatorWidth, tileHeight());
    node.transitions.fades = true;
    node.content = Shape{Shape::Kind::rectangle, 0, Paint{Paint::Tone::primary, kSeparatorOpacity}, {}, {}};
    return node;
  }

  Node group(const SpaceGroup& space) const {
    Node node;
    node.key = "space:" + space.key();
    node.transitions.fades = true;
    double x = 0;
    for (const Cluster& c : space.clusters) {
      if (x > 0) x += Metrics::tileGap;
      Node tile = tileNode(c);
      moveTo(tile, x, 0);
      x += tile.frame.width();
      node.children.push_back(std::move(tile));
    }
    node.frame = CGRect(0, 0, x, tileHeight());
    return node;
  }

  struct Pick {
    std::optional<int> window;
    bool desktop = false;
  };

  // Which window (or the desktop) a tile shows as chosen: the model's target on a
  // selected tile, the remembered one on the front tile, nothing elsewhere.
  Pick pick(const Cluster& c, bool selected, bool here) const {
    if (selected) {
      if (model_.picksDesktop(c, in_.index)) return {std::nullopt, true};
      return {model_.targetWindowIndex(c, in_.index), false};
    }
    if (!here) return {};
    if (c.lastOnDesktop) return {std::nullopt, true};
    return {c.lastWindow, false};
  }

  CGImageRef wallpaper(const Cluster& c) const {
    const auto& pictures = model_.wallpapers();
    const auto it = pictures.find(c.space);
    return it == pictures.end() ? CGImageRef() : it->second;
  }

  bool quitting(std::int32_t pid) const { return model_.quitting().count(pid) > 0; }
  bool quitting(const std::vector<AppInfo>& apps) const {
    return std::any_of(apps.begin(), apps.end(), [&](const AppInfo& a) { return quitting(a.id); });
  }

  Node tileNode(const Cluster& c) const {
    const bool selected = model_.isSelected(c.id, in_.index);
    const bool here = display_.here && *display_.here == c.id;
    const CGSize size = Metrics::tile(c, display_, icon_);
    const double w = size.width, h = size.height, s = icon_;
    const Pick p = pick(c, selected, here);
    const bool tall = c.windows.size() > 1 || c.screen;

    Node node;
    node.key = "tile:" + c.id;
    node.frame = CGRect(0, 0, w, h);
    node.opacity = quitting(c.apps) ? kQuittingOpacity : 1;
    node.transitions.fades = true;
    node.reports.emplace_back(TileID::cluster(c.id), CGRect(0, 0, w, h));

    const double radius = kTileRadius * (c.screen ? h : w);
    node.children.push_back(keyed(
        highlight({.selected = selected, .extended = selected && tall, .here = here, .radius = radius, .square = w},
                  size),
        "highlight"));

    const double top = Metrics::selectionPadding;
    if (c.screen) {
      std::optional<int> picked;
      if (selected && focused_) picked = p.desktop ? std::optional<int>(SwitcherModel::desktopPick) : p.window;
      const CGSize map{w - 2 * Metrics::selectionPadding, Metrics::map(s)};
      const CGRect screen = ScreenGeometry::windowServerFrame(display_.screen);
      Node picture = in_.screenTiles ? in_.screenTiles->picture(c, screen, wallpaper(c), model_.thumbnails(), map,
                                                                picked, selected)
                                     : screenTilePicture(c, screen, wallpaper(c), model_.thumbnails(), map, picked,
                                                         selected);
      moveTo(picture, (w - map.width) / 2, top);
      node.children.push_back(keyed(std::move(picture), "screen"));
    } else {
      if (c.isDesktop()) {
        Node picture = desktopIcon(wallpaper(c), s);
        moveTo(picture, (w - s) / 2, top);
        node.children.push_back(keyed(std::move(picture), "desktop"));
      } else {
        node.children.push_back(appIcons(c, selected));
      }
      Node dots = windowDots(c.windows, p.window);
      moveTo(dots, (w - dots.frame.width()) / 2, top + s + Metrics::dotsGap);
      node.children.push_back(keyed(std::move(dots), "dots"));
    }

    std::optional<Node> label;
    const std::optional<double> width = in_.namesAlways ? std::optional<double>(w + 14) : std::nullopt;
    if (selected && focused_) {
      label = name(c, true, width);
    } else if (in_.namesAlways) {
      label = name(c, false, width);
    }
    if (label) {
      const double drop = tall ? kLabelDropTall : kLabelDrop;
      moveTo(*label, (w - label->frame.width()) / 2, h - label->frame.height() + drop);
      node.children.push_back(std::move(*label));
    }
    return node;
  }

  // An app tile's icon with its badges, dimmed together while the app is out of sight.
  Node appIcons(const Cluster& c, bool selected) const {
    const double s = icon_;
    const CGRect frame(0, 0, s, s);
    Node node;
    node.key = "icon";
    node.frame = CGRect((Metrics::tile(s).width - s) / 2, Metrics::selectionPadding, s, s);
    node.opacity = !selected && (c.hidden() || c.minimized()) ? Metrics::bottomDimmed : 1;
    node.children.push_back(keyed(tileIcon(c.apps, s), "apps"));
    if (c.accessory()) {
      node.children.push_back(
          keyed(iconBadge({.symbol = "menubar.rectangle", .help = "Menu bar app", .size = s}, frame), "accessory"));
    }
    if (c.minimized()) {
      node.children.push_back(
          keyed(iconBadge({.symbol = "minus", .help = "Minimized", .size = s, .below = true}, frame), "minimized"));
    }
    return node;
  }

  Node name(const Cluster& c, bool selected, std::optional<double> width) const {
    const TileLabel label = model_.label(c, in_.index, selected);
    const bool renaming = model_.renaming() == c.id;
    const bool hovered = model_.hoveredName() == c.id;
    NameLabelState state;
    state.name = renaming ? label.usual : label.name;
    state.width = width;
    state.secondary = !selected;
    state.hovered = hovered;
    if (renaming) state.editing = model_.nameDraft();
    state.confirmed = model_.justNamed() == c.id;
    if (renaming || label.key) state.report = TileID::name(c.id);
    if (hovered && label.key && label.name != label.usual) state.reset = TileID::resetName(c.id);
    Node node = nameLabel(state, in_.measure);
    node.key = "label";
    node.transitions.fades = true;
    return node;
  }

  // The row of apps without windows, under the plate; small and dimmed until the selection is on it.
  Node tray() const {
    const bool onTray = model_.onTray();
    const double small = std::round(icon_ * Metrics::smallScale);
    const double t = small + 2 * Metrics::smallPadding;
    const double bottom = Metrics::bottomInsetV + (onTray ? Metrics::bottomNameRoom : 0);

    Node node;
    node.key = "tray";
    node.content = Glass{Metrics::bottomCornerRadius, model_.haze(), in_.glass};
    node.scale = onTray ? 1 : Metrics::bottomUnfocusedScale;
    node.anchor = {0.5, 0};
    node.opacity = onTray ? 1 : Metrics::bottomDimmed;
    node.transitions.scale = kFocusChange;
    node.transitions.opacity = kFocusChange;
    node.transitions.fades = true;

    double x = Metrics::bottomInsetH;
    for (const AppInfo& app : model_.workspace().tray) {
      if (x > Metrics::bottomInsetH) x += Metrics::smallGap;
      Node tile = trayTile(app, onTray, small, t);
      moveTo(tile, x, Metrics::bottomInsetV);
      x += t;
      node.children.push_back(std::move(tile));
    }
    node.frame = CGRect(0, 0, x + Metrics::bottomInsetH, Metrics::bottomInsetV + t + bottom);
    return node;
  }

  Node trayTile(const AppInfo& app, bool onTray, double small, double t) const {
    const bool chosen = onTray && model_.traySelection() == app.id;
    Node node;
    node.key = "app:" + std::to_string(app.id);
    node.frame = CGRect(0, 0, t, t);
    node.opacity = quitting(app.id) ? kQuittingOpacity : 1;
    node.transitions.fades = true;
    node.reports.emplace_back(TileID::tray(app.id), CGRect(0, 0, t, t));

    node.children.push_back(
        keyed(highlight({.selected = chosen, .radius = kTrayTileRadius * t}, CGSize{t, t}), "highlight"));
    Node icon = keyed(appIcon(app.icon, small), "icon");
    moveTo(icon, (t - small) / 2, (t - small) / 2);
    icon.opacity = onTray && !chosen ? Metrics::unfocusedOpacity : 1;
    node.children.push_back(std::move(icon));

    if (chosen) {
      NameLabelState state;
      state.name = app.name;
      state.small = true;
      Node label = nameLabel(state, in_.measure);
      label.key = "label";
      moveTo(label, (t - label.frame.width()) / 2, t - label.frame.height() + kTrayLabelDrop);
      node.children.push_back(std::move(label));
    }
    return node;
  }

  const PanelLayoutInput& in_;
  const SwitcherModel& model_;
  const DisplayGroup& display_;
  bool focused_;
  double icon_;
};

// Maps a node's own coordinates into the root's space: p ↦ scale · p + (x, y).
struct Placement {
  double scale = 1;
  double x = 0;
  double y = 0;

  // A child drawn at its frame, scaled about its anchor.
  Placement inner(const Node& node) const {
    const CGRect& f = node.frame;
    const double px = f.minX() + node.anchor.x * f.width();
    const double py = f.minY() + node.anchor.y * f.height();
    const double lx = px + node.scale * (f.minX() - px);
    const double ly = py + node.scale * (f.minY() - py);
    return {scale * node.scale, scale * lx + x, scale * ly + y};
  }
  CGRect map(const CGRect& r) const {
    return CGRect(scale * r.minX() + x, scale * r.minY() + y, scale * r.width(), scale * r.height());
  }
};

void gather(const Node& node, const Placement& outer, PanelScene& scene) {
  const Placement here = outer.inner(node);
  if (node.reportsContent) {
    scene.content =
        PanelGeometry::unite(scene.content, here.map(CGRect(0, 0, node.frame.width(), node.frame.height())));
  }
  for (const auto& [id, frame] : node.reports) scene.frames.set(id, here.map(frame));
  if (node.picturedWindow) {
    scene.pictured.emplace_back(node.picturedWindow,
                                CGSize{node.frame.width() * here.scale, node.frame.height() * here.scale});
  }
  for (const Node& child : node.children) gather(child, here, scene);
}

}  // namespace

PanelScene layoutPanel(const PanelLayoutInput& input) {
  Node root;
  root.key = "panel";
  root.frame = CGRect(0, 0, input.panel.width, input.panel.height);
  if (const DisplayGroup* display = input.model.display(input.index)) {
    root.children.push_back(PanelBuilder(input, *display).content());
  }
  if (input.screenTiles) input.screenTiles->endLayout();
  return collect(std::move(root));
}

PanelScene collect(Node root) {
  PanelScene scene;
  gather(root, Placement{}, scene);
  scene.root = std::move(root);
  return scene;
}

}  // namespace trelliq::scene
