#pragma once
// Work repeated beside the main thread (a picture sampler): each round runs on a serial
// queue of its own, a short gap after the one before, until the work says it is done or
// it is stopped. Rounds go through the installed clock, so a VirtualClock runs them in
// step with the time a test lets pass, and the running program on a thread of their own.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace trelliq {

class Repeating final {
 public:
  /// Starts the rounds at once on the queue `label`; `round` answers whether another
  /// should follow, `gap` seconds after it ends. Any thread.
  static std::shared_ptr<Repeating> start(const std::string& label, double gap, std::function<bool()> round);

  /// Asks for no further round; the one under way finishes. Any thread.
  void stop() { wanted_.store(false); }
  /// True once the last round has ended. Any thread.
  bool finished() const { return finished_.load(); }

 private:
  struct Rounds;
  static void next(const std::shared_ptr<Rounds>& rounds, double delay);

  std::atomic<bool> wanted_{true};
  std::atomic<bool> finished_{false};
};

}  // namespace trelliq
