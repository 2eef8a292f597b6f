#include "guide/model/TrackpadPlayer.h"

namespace trelliq {
namespace {

using Action = std::function<void(TrackpadPlayer::State&)>;

Action place(int fingers, CGSize offset) {
  return [=](TrackpadPlayer::State& s) {
    s.fingers = fingers;
    s.offset = offset;
  };
}
Action touch(bool on) {
  return [=](TrackpadPlayer::State& s) { s.touching = on; };
}

}  // namespace

TrackpadPlayer::~TrackpadPlayer() { pending_.cancel(); }

void TrackpadPlayer::stop() {
  pending_.cancel();
  pending_ = {};
  if (!isPlaying()) return;
  for (; next_ < actions_.size(); ++next_) {
    if (actions_[next_].change) actions_[next_].change(state_);
  }
  actions_.clear();
  next_ = 0;
  if (onChange) onChange(Transition::immediate());
}

void TrackpadPlayer::play(const std::optional<TrackpadMove>& move) {
  stop();
  if (!move) return;
  if (const auto* scroll = std::get_if<TrackpadMove::Scroll>(&move->kind)) {
    const CGSize start{-travel * scroll->dx, -travel * scroll->dy};
    const CGSize end{travel * scroll->dx, travel * scroll->dy};
    actions_ = {{0, place(2, start), Transition::immediate()},
                {0, touch(true), Transition::easeOut(0.1)},
                {0, [end](State& s) { s.offset = end; }, Transition::easeInOut(0.35)},
                {0.35, touch(false), Transition::easeOut(0.15)}};
  } else if (const auto* tap = std::get_if<TrackpadMove::DoubleTap>(&move->kind)) {
    actions_ = {{0, place(tap->fingers > 0 ? tap->fingers : 0, {0, 0}), Transition::immediate()},
                {0, touch(true), Transition::easeOut(0.05)},
                {0.11, touch(false), Transition::easeOut(0.05)},
                {0.11, touch(true), Transition::easeOut(0.05)},
                {0.11, touch(false), Transition::easeOut(0.05)},
                {0.11, nullptr, Transition::immediate()}};  // the last wait ends the play
  } else {
    auto click = [](bool on) {
      return [on](State& s) {
        s.touching = on;
        s.pressed = on;
      };
    };
    actions_ = {{0, place(2, {0, 0}), Transition::immediate()},
                {0, click(true), Transition::easeOut(0.06)},
                {0.16, click(false), Transition::easeOut(0.12)}};
  }
  runFrom(0);
}

void TrackpadPlayer::runFrom(std::size_t index) {
  pending_ = {};
  next_ = index;
  while (next_ < actions_.size()) {
    const Action& action = actions_[next_];
    // The action `index` was due when this run began; every later wait is slept on the clock.
    if (action.wait > 0 && next_ != index) {
      pending_ = platform::mainQueue().asyncAfter(action.wait, [this, at = next_] { runFrom(at); });
      return;
    }
    ++next_;
    if (action.change) {
      action.change(state_);
      if (onChange) onChange(action.transition);
    }
  }
  actions_.clear();
  next_ = 0;
}

}  // namespace trelliq
