#pragma once
// The demonstration of steering another display: two miniature displays, each with a small
// switcher of three sample icons, a pointer resting over the left one, and ⌘ + fn under
// them; the focus alternates between the displays while fn flashes. Main thread only.

#include <array>

#include "guide/PlayingDemo.h"
#include "ui/Paint.h"

namespace trelliq {

class InlineKeys;

class DisplaysDemo : public PlayingDemo {
 public:
  struct Step {
    /// The display that holds the switcher's focus.
    int steered = 0;
    /// The display under the pointer.
    int pointer = 0;
    /// Whether fn is pressed to reach this step.
    bool fn = false;
  };
  static const std::array<Step, 2>& steps();
  static constexpr double screenWidth = 140;
  static constexpr double screenGap = 14;
  static constexpr double screenHeight = 88;
  static constexpr double scale = 1.3;

  /// Starts at step `index` with fn up or down as given; playing starts at once unless
  /// `playing` is false (a window out of sight).
  explicit DisplaysDemo(int index = 0, bool keyDown = false, QWidget* parent = nullptr, bool playing = true);
  ~DisplaysDemo() override;

  InlineKeys& keys() const { return *keys_; }
  /// Where the pointer's tip stands in the unscaled picture.
  static QPointF pointerAt(const Step& step);
  /// How display `d` shows now: 1 and full opacity when steered, else the unfocused look.
  double displayScale(int d) const { return scales_[static_cast<std::size_t>(d)].value(); }
  double displayOpacity(int d) const { return opacities_[static_cast<std::size_t>(d)].value(); }
  /// How strongly the first icon of display `d` is highlighted now, 0 to 1: the highlight
  /// moves with the focus.
  double displayHighlight(int d) const { return highlights_[static_cast<std::size_t>(d)].value(); }

 protected:
  void showFrame(const Transition& transition) override;

 private:
  class Picture;
  Picture* picture_ = nullptr;
  InlineKeys* keys_ = nullptr;
  std::array<ui::Tween, 2> scales_;
  std::array<ui::Tween, 2> opacities_;
  std::array<ui::Tween, 2> highlights_;
};

}  // namespace trelliq
