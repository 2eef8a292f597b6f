#pragma once
// The demonstration of steering another display: two miniature displays, each with a small
// switcher of three sample icons, a pointer resting over the left one, and ⌘ + fn under
// them; the focus alternates between the displays while fn flashes. Main thread only.

#include <QWidget>
#include <array>
#include <memory>

#include "guide/model/DemoPlayer.h"
#include "ui/Paint.h"

namespace trelliq {

class InlineKeys;

class DisplaysDemo : public QWidget {
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

  explicit DisplaysDemo(int index = 0, bool keyDown = false, QWidget* parent = nullptr);
  ~DisplaysDemo() override;

  const DemoPlayer& player() const { return *player_; }
  InlineKeys& keys() const { return *keys_; }
  /// Where the pointer's tip stands in the unscaled picture.
  static QPointF pointerAt(const Step& step);
  /// How display `d` shows now: 1 and full opacity when steered, else the unfocused look.
  double displayScale(int d) const { return scales_[static_cast<std::size_t>(d)].value(); }
  double displayOpacity(int d) const { return opacities_[static_cast<std::size_t>(d)].value(); }
  /// How strongly the first icon of display `d` is highlighted now, 0 to 1: the highlight
  /// moves with the focus.
  double displayHighlight(int d) const { return highlights_[static_cast<std::size_t>(d)].value(); }

 private:
  class Picture;
  void show(const Transition& transition);
  std::unique_ptr<DemoPlayer> player_;
  Picture* picture_ = nullptr;
  InlineKeys* keys_ = nullptr;
  std::array<ui::Tween, 2> scales_;
  std::array<ui::Tween, 2> opacities_;
  std::array<ui::Tween, 2> highlights_;
};

}  // namespace trelliq
