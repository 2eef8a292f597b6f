#pragma once
// The clock of a looping demonstration: it shows a frame, moves to the next one, draws the
// new frame's key pressed for a moment, and starts over after the last frame, for as long
// as it runs. Timed on the installed clock's main queue; main thread only.

#include <functional>

#include "ui/model/Transition.h"
#include "platform/Clock.h"

namespace trelliq {

/// The pace of a looping demonstration.
struct DemoTiming {
  /// How long a frame stands before the next one comes.
  double rest = 0.65;
  /// How long the new frame's key is drawn pressed.
  double press = 0.22;
  /// How the change to the next frame (and its key going down) is shown.
  Transition advance = Transition::easeOut(0.12);
  /// How the key coming up is shown.
  Transition release = Transition::easeOut(0.12);
};

class DemoPlayer {
 public:
  using Timing = DemoTiming;
  /// The miniature switchers' scripts: 0.87 s a frame.
  static constexpr Timing scriptTiming{};
  /// The two-display demonstration: 1.32 s a step, the focus sliding over 0.4 s.
  static constexpr Timing displaysTiming{1.1, 0.22, Transition::easeInOut(0.4), Transition::easeOut(0.12)};

  /// A player of `frames` frames; `pressesKey(i)` tells whether frame i presses a key. It
  /// starts at `index` (taken modulo the count) with the key up or down as given.
  DemoPlayer(int frames, std::function<bool(int)> pressesKey, Timing timing = scriptTiming, int index = 0,
             bool keyDown = false);
  ~DemoPlayer();
  DemoPlayer(const DemoPlayer&) = delete;
  DemoPlayer& operator=(const DemoPlayer&) = delete;

  /// Starts the loop; nothing when it runs already or there are no frames.
  void start();
  /// Ends the loop. The rest of the cycle under way takes effect at once, without
  /// announcements, so the player stops with the key up.
  void stop();
  bool isRunning() const { return static_cast<bool>(pending_); }

  int index() const { return index_; }
  bool keyDown() const { return keyDown_; }
  int frames() const { return frames_; }

  /// Called after each change of `index` or `keyDown`, with how to show it.
  std::function<void(const Transition&)> onChange;

 private:
  void rest();
  void advance();
  void release();

  const int frames_;
  const std::function<bool(int)> pressesKey_;
  const Timing timing_;
  int index_ = 0;
  bool keyDown_ = false;
  bool pressing_ = false;  // between the advance and the release
  platform::WorkItem pending_;
};

}  // namespace trelliq
