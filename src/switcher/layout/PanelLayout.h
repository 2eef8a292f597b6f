#pragma once
// The whole panel of one display as a scene: the glass plate with one group of tiles per
// Space, separators, name labels and the tray row, sized by Metrics and centred in the
// panel, and the frames it reports. A function of its input but for one read: a
// whole-Space tile places its display among the screens (`NSScreen::screens()`, the first
// screen's frame), so it runs on the main thread.

#include "switcher/layout/PanelScene.h"
#include "switcher/layout/ScreenTileLayout.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq::scene {

struct PanelLayoutInput {
  const SwitcherModel& model;
  /// The display's index in the model's snapshot.
  int index = 0;
  /// The panel's size (it covers the display); the content is centred in it.
  CGSize panel;
  /// The "names" option: labels on every tile ("always") or only on the selected one.
  bool namesAlways = false;
  const TextMeasure& measure;
  /// How the glass plates are set up (as a fresh pane's glass on this system).
  GlassLook glass = {};
  /// The panel's whole-Space tiles from its last layout, reused where nothing they show
  /// changed (null: all made anew).
  ScreenTileMemo* screenTiles = nullptr;
};

/// The panel's tree with its reported frames and content rectangle. A display index the
/// snapshot lacks gives an empty tree that reports nothing.
PanelScene layoutPanel(const PanelLayoutInput& input);

/// Walks a tree in drawing order and gathers what its nodes report, in the root's space
/// (the space the root's own frame is given in: the panel's); a later report of the same
/// TileID wins, and the content is the union of every `reportsContent` node's frame.
PanelScene collect(Node root);

}  // namespace trelliq::scene
