#pragma once
// The picture of a whole-Space tile as a scene node: the Space's desktop picture, every
// window's live picture where it stands on the display (spread apart where they overlap),
// the minimized windows along the bottom, the pick marks and the frames the pointer
// picks windows by. Pure: a function of its arguments (the display's frame among them);
// it reads no screen.

#include <cstdint>
#include <map>
#include <optional>

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

/// Where window `window`'s picture goes in the miniature screen `miniature` at `scale`:
/// its part on `screen`, scaled and rounded outward; none when it has no frame, is off
/// the display, minimized or smaller than 4 points either way.
std::optional<CGRect> windowRect(const WindowInfo& window, const CGRect& screen, const CGRect& miniature, double scale);

}  // namespace trelliq::scene
