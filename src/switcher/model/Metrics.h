#pragma once
// Layout constants of the switcher panels (in points) and the formulas that size a
// display's panel from its content: one icon size per panel, the tile sizes for it, the
// height of a whole-Space picture and a display's aspect ratio. Pure; any thread.

#include "platform/Geometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

struct Metrics {
  Metrics() = delete;

  static constexpr double maxIcon = 104;
  static constexpr double minIcon = 40;
  /// Share of an app icon's image that its artwork fills.
  static constexpr double artworkRatio = 0.805;
  /// Room between a tile's picture and its highlight, left, right and top.
  static constexpr double selectionPadding = 8;
  static constexpr double tileGap = 14;
  /// Padding between a panel's glass and its tiles.
  static constexpr double inset = 28;
  static constexpr double cornerRadius = 58;
  /// Space between two Space groups (16 each side of a 1-point separator).
  static constexpr double groupGap = 32;
  /// Tray icon size relative to the panel's icon size.
  static constexpr double smallScale = 0.44;
  static constexpr double smallPadding = 6;
  static constexpr double smallGap = 6;
  static constexpr double bottomInsetH = 16;
  static constexpr double bottomInsetV = 10;
  static constexpr double bottomNameRoom = 18;
  static constexpr double bottomCornerRadius = 30;
  static constexpr double bottomUnfocusedScale = 0.6;
  static constexpr double bottomDimmed = 0.55;
  static constexpr double containerGap = 12;
  static constexpr double unfocusedScale = 0.8;
  static constexpr double unfocusedOpacity = 0.6;
  static constexpr double dotSize = 5;
  static constexpr double dotsGap = 6;
  static constexpr double dotsRoom = 10;
  static constexpr double pickedDotSize = 8;
  static constexpr int maxDots = 9;
  /// Margin kept free around a glass (the preview's, and each side of a display when sizing icons).
  static constexpr double margin = 40;
  static constexpr CGSize previewBox{360, 225};
  static constexpr double previewPadding = 8;
  static constexpr double previewGap = 12;

  /// The floating preview window: the box plus padding and margin on every side (456 × 321).
  static constexpr CGSize previewWindow() {
    return {previewBox.width + 2 * (previewPadding + margin), previewBox.height + 2 * (previewPadding + margin)};
  }

  /// The icon size of a display's panel so its Space groups, and its tray row of `tray`
  /// apps, fit the display's visible width; whole points between `minIcon` and `maxIcon`.
  /// A display whose width gives no usable size (zero width) gets `minIcon`.
  static double icon(const DisplayGroup& display, int tray);
  /// An app or desktop tile: (icon + 16, icon + 26).
  static CGSize tile(double icon);
  /// Any tile: a whole-Space tile is as wide as its picture plus 16.
  static CGSize tile(const Cluster& cluster, const DisplayGroup& display, double icon);
  /// Height of a whole-Space picture.
  static double map(double icon) { return icon + dotsRoom; }
  /// Screen width ÷ height, a height of 1 or less counting as 1.
  static double aspect(const DisplayGroup& display);
};

}  // namespace trelliq
