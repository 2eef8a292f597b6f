#pragma once
// The look of one key cap as plain values: the lines it prints, whether it is lit and its
// size for a given text width. The view measures the text and paints; everything else is
// decided here. Pure; any thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"

namespace trelliq {

struct KeyCapLook {
  std::string key;
  /// A small word printed under the key.
  std::optional<std::string> label{};
  /// A fixed width for a normal cap; a small cap ignores it.
  std::optional<double> width{};
  bool held = false;
  bool pressed = false;
  /// The size used inside lines of text.
  bool small = false;

  enum class Line { key, label, globe };
  /// The lines printed, top to bottom: the key; the label when there is one (also an empty
  /// one); the globe for a normal "fn" cap.
  std::vector<Line> lines() const;
  /// Held or pressed: an accent cap with white text and no shadow.
  bool lit() const { return held || pressed; }

  /// Point sizes of the printed lines.
  double keyFontSize() const { return small ? 9 : 12; }
  static constexpr double labelFontSize = 6.5;
  static constexpr double globeFontSize = 7;
  double padding() const { return small ? 3 : 2; }
  double cornerRadius() const { return small ? 3 : 5; }

  /// The cap's size when its widest line is `textWidth` wide and its lines stack to
  /// `textHeight`: a normal cap is 30 high and exactly `width` wide when given, else the
  /// text plus padding; a small cap grows with its text from 15 × 14.
  CGSize size(double textWidth, double textHeight) const;

  friend bool operator==(const KeyCapLook&, const KeyCapLook&) = default;
};

}  // namespace trelliq
