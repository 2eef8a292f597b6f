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
#include <unordered_set>
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

/// What a whole-Space tile's picture is made of, gathered from its cluster in one pass:
/// the tile depends on nothing else, so tiles of equal inputs are the same tile. Windows
/// are told apart by their place in the cluster, not by the numbers each snapshot gives
/// them afresh.
struct ScreenTileInputs {
  /// What a window gives its picture: place, picture and app.
  struct Window {
    std::optional<std::uint32_t> number;
    bool minimized = false;
    std::optional<CGRect> bounds;
    CGImageRef picture, icon;  // held, so that no other picture comes at the same address
    bool hasApp = false, hidden = false;
    friend bool operator==(const Window&, const Window&) = default;
  };
  CGRect screen;
  CGImageRef wallpaper;
  CGSize size;
  std::optional<int> picked;
  bool selected = false, fullScreen = false;
  /// Back to front, as places in `windows`: ids matching no window are left out, and a
  /// window listed twice keeps its first place.
  std::vector<int> stacking;
  std::vector<Window> windows;
  friend bool operator==(const ScreenTileInputs&, const ScreenTileInputs&) = default;
};

/// The inputs of `cluster`'s tile pictured at `size`; linear in its windows. `screen` is
/// the display's frame in window-server coordinates (top-left origin), like the windows'
/// bounds; `picked` is a window index, SwitcherModel::desktopPick for the desktop, or none.
ScreenTileInputs screenTileInputs(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                                  const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size,
                                  std::optional<int> picked, bool selected);

/// The tile of `inputs` (a node at (0, 0)). Window pictures report
/// TileID::window(`id`, index, z); the desktop reports index desktopPick with z 0.
Node screenTilePicture(const std::string& id, const ScreenTileInputs& inputs);
/// The same for the inputs `screenTileInputs` gathers from these.
Node screenTilePicture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
                       const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
                       bool selected);

/// The whole-Space tiles of one panel as its last layout made them. A tile laid out again
/// from the very same inputs is the node made before, sharing its children, so a layout
/// makes anew only the tiles a change touches, and a tree compared with the last finds the
/// rest unchanged. Holds only what the panel's tree holds. Main thread only.
class ScreenTileMemo {
 public:
  /// What a change of pictures did to the tiles kept from the last layout.
  struct PictureSwap {
    /// The children each tile holding a changed picture had, by their stamp, and the
    /// children it has now.
    std::unordered_map<std::uint64_t, NodeList> renewed;
    /// The stamps of every kept tile's children before the change.
    std::unordered_set<std::uint64_t> tiles;
    /// How many windows of the kept tiles have another picture.
    std::size_t windows = 0;
    /// `tree` with the renewed tiles' children in place of the old (only the lists along
    /// the way copied); none when a renewed tile is not in it.
    std::optional<Node> in(const Node& tree) const;
  };

  /// `screenTilePicture` of the arguments, made again only when their inputs differ from
  /// the last call's for the same tile since `endLayout`.
  Node picture(const Cluster& cluster, const CGRect& screen, const CGImageRef& wallpaper,
               const std::map<std::uint32_t, CGImageRef>& thumbnails, CGSize size, std::optional<int> picked,
               bool selected);
  /// Lets go of the tiles the layout that just ended did not ask for.
  void endLayout();
  /// Puts the pictures of `thumbnails` in place of the ones the kept tiles draw, letting
  /// go of those (a picture moves no frame), and tells `swap` which tiles changed. False,
  /// changing nothing, when a window of a kept tile gained or lost its picture: its
  /// placeholder and its picture are different nodes, so the panel must be laid out.
  bool swapPictures(const std::map<std::uint32_t, CGImageRef>& thumbnails, PictureSwap& swap);

 private:
  struct Kept {
    ScreenTileInputs inputs;
    Node node;
  };
  std::unordered_map<std::string, Kept> kept_, used_;
};

/// Where window `window`'s picture goes in the miniature screen `miniature` at `scale`:
/// its part on `screen`, scaled and rounded outward; none when it has no frame, is off
/// the display, minimized or smaller than 4 points either way.
std::optional<CGRect> windowRect(const WindowInfo& window, const CGRect& screen, const CGRect& miniature, double scale);

}  // namespace trelliq::scene
