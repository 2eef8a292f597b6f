#pragma once
// The picture of a whole-Space tile as a scene node: the Space's desktop picture, every
// window's live picture where it stands on the display (spread apart where they overlap),
// the minimized windows along the bottom, the pick marks and the frames the pointer
// picks windows by. Pure: a function of its arguments (the display's frame among them);
// it reads no screen.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "switcher/layout/PanelScene.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq::scene {

struct ScreenTileLook {
  static constexpr double maxBadge = 16;
  static constexpr double minimizedHeight = 14;
  static constexpr double wallpaperScale = 0.8;
  static constexpr double faded = 0.7;
  static constexpr double pickedScale = 1.08;
};

/// The tile `cluster` pictured at `size` (a node at (0, 0)). `screen` is the display's
/// frame in window-server coordinates (top-left origin), like the windows' bounds;
/// `picked` is a window index, SwitcherModel::desktopPick for the desktop, or none.
/// Window pictures report TileID::window(cluster.id, index, z); the desktop reports
/// index desktopPick with z 0.
Node screenTilePicture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                       const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
                       bool selected);

/// The whole-Space tiles of one panel as its last layout made them. A tile laid out again
/// from the very same inputs (its windows, their pictures and apps, the pick, the size,
/// ...) is the node made before, sharing its children, so a layout makes anew only the
/// tiles a change touches, and a tree compared with the last finds the rest unchanged.
/// Holds only what the last layout's tree holds. Main thread only.
class ScreenTileMemo {
 public:
  /// `screenTilePicture` of the arguments, made again only when they differ from the last
  /// call's for the same tile since `endLayout`.
  Node picture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
               const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
               bool selected);
  /// Lets go of the tiles the layout that just ended did not ask for.
  void endLayout();

 private:
  /// What a window gives its picture: place, picture and app.
  struct Window {
    std::optional<std::uint32_t> number;
    bool minimized = false;
    std::optional<CGRect> bounds;
    CGImageRef picture, icon;  // held, so that no other picture comes at the same address
    bool hasApp = false, hidden = false;
    friend bool operator==(const Window&, const Window&) = default;
  };
  struct Inputs {
    CGRect screen;
    CGImageRef wallpaper;
    CGSize size;
    std::optional<int> picked;
    bool selected = false, fullScreen = false;
    std::vector<std::ptrdiff_t> stacking;  // back to front, as places in the cluster's windows
    std::vector<Window> windows;
    friend bool operator==(const Inputs&, const Inputs&) = default;
  };
  struct Kept {
    Inputs inputs;
    Node node;
  };
  std::unordered_map<std::string, Kept> kept_, used_;
};

/// Where window `window`'s picture goes in the miniature screen `miniature` at `scale`:
/// its part on `screen`, scaled and rounded outward; none when it has no frame, is off
/// the display, minimized or smaller than 4 points either way.
std::optional<CGRect> windowRect(const WindowInfo& window, const CGRect& screen, const CGRect& miniature, double scale);

}  // namespace trelliq::scene
