#pragma once
// The name pill under a tile: its text (or the name field while renaming), the hover and
// just-named capsules, the reset glyph, the settle, and the frames it reports. Pure: a
// function of its state and the text measure; it reads no screen.

#include <optional>
#include <string>

#include "switcher/layout/PanelScene.h"

namespace trelliq::scene {

struct NameLabelLook {
  static constexpr CGSize pill{8, 3};
  static constexpr double resetRoom = 16;
};

struct NameLabelState {
  std::string name;
  bool small = false;
  std::optional<double> width;
  bool secondary = false;
  bool hovered = false;
  /// The draft while renaming (the field shows it, `name` as its placeholder).
  std::optional<std::string> editing;
  bool confirmed = false;
  std::optional<TileID> report;
  std::optional<TileID> reset;
};

/// The pill as a node at (0, 0), as large as its layout size (text or field plus the
/// padding; exactly `width` wide when set).
Node nameLabel(const NameLabelState& state, const TextMeasure& measure);

}  // namespace trelliq::scene
