#pragma once
// Plays one demonstration script in the guide: the miniature switcher of the current frame
// above the key row the script presses (or the trackpad that performs its gestures), one
// frame every 0.87 s, forever, starting over after the last frame. Main thread only.

#include <QWidget>
#include <memory>

#include "guide/model/DemoPlayer.h"
#include "guide/model/GuideTopic.h"

namespace trelliq {

class InlineKeys;
class MiniSwitcher;
class MiniTrackpad;

class GuideDemo : public QWidget {
 public:
  /// Starts at frame `index` with the key up or down as given; playing starts at once.
  GuideDemo(Demo demo, int index = 0, bool keyDown = false, QWidget* parent = nullptr);
  ~GuideDemo() override;

  const Demo& demo() const { return demo_; }
  const DemoPlayer& player() const { return *player_; }
  MiniSwitcher& miniature() const { return *miniature_; }
  /// The key row; null for trackpad scripts.
  InlineKeys* keys() const { return keys_; }
  /// The trackpad; null for keyboard scripts.
  MiniTrackpad* trackpad() const { return trackpad_; }

 private:
  void show(const Transition& transition);
  Demo demo_;
  std::unique_ptr<DemoPlayer> player_;
  MiniSwitcher* miniature_ = nullptr;
  InlineKeys* keys_ = nullptr;
  MiniTrackpad* trackpad_ = nullptr;
};

}  // namespace trelliq
