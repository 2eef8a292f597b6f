#pragma once
// The small pieces of a switcher tile as scene nodes: app icons, the icon of an app tile,
// the desktop icon, the corner badges, the row of window dots and the selection
// highlight. Each returns a node whose frame starts at (0, 0) unless it says otherwise;
// the panel layout moves it into place. Pure: functions of their arguments; they read no
// screen.

#include <optional>
#include <string>
#include <vector>

#include "switcher/layout/PanelScene.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq::scene {

/// Whether `image` has pixels to draw; an absent or 0 × 0 picture counts as none.
bool hasPicture(const CGImageRef& image);

/// The shadow under a desktop picture (in a tile's icon and in a whole-Space picture).
Shadow pictureShadow();

/// An app icon whose artwork (not its image) is `size` wide: a size × size node holding
/// the image stretched to size ÷ artworkRatio, centred and not clipped.
Node appIcon(const CGImageRef& icon, double size);

/// An app tile's icon: the first app's icon at `size`, and with two or more apps the
/// second one's at 0.45 × size on the bottom-trailing corner, moved out by 0.08 × size.
/// `apps` is never empty (desktop tiles use desktopIcon).
Node tileIcon(const std::vector<AppInfo>& apps, double size);

/// A desktop tile's picture: a size × size node holding the size × round(0.65 × size)
/// rounded picture (or the translucent placeholder with its symbol), centred.
Node desktopIcon(const CGImageRef& wallpaper, double size);

/// What a corner badge shows: `symbol` with the tooltip `help`, for an icon of `size`,
/// on the icon's top-trailing corner, or its bottom-trailing one when `below`.
struct IconBadge {
  std::string symbol;
  std::string help;
  double size = 0;
  bool below = false;
};

/// The round badge `badge` on an icon whose frame is `icon` (in the caller's
/// coordinates): aligned to its corner and moved partly past it.
Node iconBadge(const IconBadge& badge, const CGRect& icon);

/// The row of window dots under a tile: 5 points high, as wide as its dots (empty with
/// fewer than two windows); `big` is the index of the picked window's dot.
Node windowDots(const std::vector<WindowInfo>& windows, std::optional<int> big);

/// The shape behind a tile: the selection rectangle, seen when `selected`, with corners of
/// `radius`, covering the top `square` only unless `extended` (no `square`: the whole
/// height); the front-tile bar when `here`.
struct Highlight {
  bool selected = false;
  bool extended = false;
  bool here = false;
  double radius = 0;
  std::optional<double> square;
};

/// `shape` drawn behind a tile of size `tile`.
Node highlight(const Highlight& shape, CGSize tile);

}  // namespace trelliq::scene
