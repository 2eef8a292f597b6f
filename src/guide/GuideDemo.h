#pragma once
// Plays one demonstration script in the guide: the miniature switcher of the current frame
// above the key row the script presses (or the trackpad that performs its gestures), one
// frame every 0.87 s, forever, starting over after the last frame. Main thread only.

#include <memory>

#include "guide/PlayingDemo.h"
#include "guide/model/GuideTopic.h"

namespace trelliq {

class InlineKeys;
class MiniSwitcher;
class MiniTrackpad;

class GuideDemo : public PlayingDemo {
 public:
  /// Starts at frame `index` with the key up or down as given; playing starts at once
  /// unless `playing` is false (a window out of sight).
  GuideDemo(Demo demo, int index = 0, bool keyDown = false, QWidget* parent = nullptr, bool playing = true);
  ~GuideDemo() override;

  const Demo& demo() const { return demo_; }
  MiniSwitcher& miniature() const { return *miniature_; }
  /// The key row; null for trackpad scripts.
  InlineKeys* keys() const { return keys_; }
  /// The trackpad; null for keyboard scripts.
  MiniTrackpad* trackpad() const { return trackpad_; }

 protected:
  void showFrame(const Transition& transition) override;
  void stopped() override;

 private:
  Demo demo_;
  MiniSwitcher* miniature_ = nullptr;
  InlineKeys* keys_ = nullptr;
  MiniTrackpad* trackpad_ = nullptr;
};

}  // namespace trelliq
