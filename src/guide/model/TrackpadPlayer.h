#pragma once
// The finger dots of the miniature trackpad: plays one gesture at a time (dots gliding for
// a scroll, blinking for a double tap, the pad dipping for a click) and ends every gesture
// with the fingers lifted and the pad up. Timed on the installed clock's main queue; main
// thread only.

#include <functional>
#include <optional>
#include <vector>

#include "guide/model/GuideTopic.h"
#include "ui/model/Transition.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"

namespace trelliq {

class TrackpadPlayer {
 public:
  /// Points from the pad's centre, per unit of a scroll's direction, where the dots start and end.
  static constexpr double travel = 16;

  struct State {
    /// How many finger dots are drawn.
    int fingers = 2;
    /// The row of dots' displacement from the pad's centre (y grows downwards).
    CGSize offset{0, 0};
    /// The fingers are on the pad (dots visible).
    bool touching = false;
    /// The pad is clicked.
    bool pressed = false;
    friend bool operator==(const State&, const State&) = default;
  };

  TrackpadPlayer() = default;
  ~TrackpadPlayer();
  TrackpadPlayer(const TrackpadPlayer&) = delete;
  TrackpadPlayer& operator=(const TrackpadPlayer&) = delete;

  /// Plays `move` once from its beginning. A gesture still under way is cut short first:
  /// its remaining changes happen at once. Nothing new for no move; the state stays.
  void play(const std::optional<TrackpadMove>& move);
  /// Cuts the gesture under way short (its remaining changes happen at once).
  void stop();
  bool isPlaying() const { return next_ < actions_.size(); }

  const State& state() const { return state_; }

  /// Called after each change of the state, with how to show it.
  std::function<void(const Transition&)> onChange;

 private:
  struct Action {
    double wait = 0;  // seconds after the previous action
    std::function<void(State&)> change;
    Transition transition;
  };
  void runFrom(std::size_t index);

  State state_;
  std::vector<Action> actions_;
  std::size_t next_ = 0;
  platform::WorkItem pending_;
};

}  // namespace trelliq
