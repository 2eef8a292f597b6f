#include "guide/model/DemoPlayer.h"

#include <utility>

namespace trelliq {

DemoPlayer::DemoPlayer(int frames, std::function<bool(int)> pressesKey, Timing timing, int index, bool keyDown)
    : frames_(frames > 0 ? frames : 0),
      pressesKey_(std::move(pressesKey)),
      timing_(timing),
      index_(frames_ > 0 ? ((index % frames_) + frames_) % frames_ : 0),
      keyDown_(keyDown) {}

DemoPlayer::~DemoPlayer() { pending_.cancel(); }

void DemoPlayer::start() {
  if (isRunning() || frames_ == 0) return;
  rest();
}

void DemoPlayer::stop() {
  if (!isRunning()) return;
  pending_.cancel();
  pending_ = {};
  // The waits of the cycle under way end at once; its changes still happen.
  if (!pressing_) {
    index_ = (index_ + 1) % frames_;
    keyDown_ = pressesKey_ && pressesKey_(index_);
  }
  keyDown_ = false;
  pressing_ = false;
}

void DemoPlayer::rest() {
  pending_ = platform::mainQueue().asyncAfter(timing_.rest, [this] { advance(); });
}

void DemoPlayer::advance() {
  index_ = (index_ + 1) % frames_;
  keyDown_ = pressesKey_ && pressesKey_(index_);
  pressing_ = true;
  pending_ = platform::mainQueue().asyncAfter(timing_.press, [this] { release(); });
  if (onChange) onChange(timing_.advance);
}

void DemoPlayer::release() {
  keyDown_ = false;
  pressing_ = false;
  rest();
  if (onChange) onChange(timing_.release);
}

}  // namespace trelliq
