#include "selftest/Repeating.h"

#include "platform/Clock.h"

namespace trelliq {

// What the rounds share; each round holds it, so whoever started them may let go.
struct Repeating::Rounds {
  std::shared_ptr<Repeating> owner;
  std::string label;
  double gap = 0;
  std::function<bool()> round;
};

std::shared_ptr<Repeating> Repeating::start(const std::string& label, double gap, std::function<bool()> round) {
  std::shared_ptr<Repeating> repeating(new Repeating());
  next(std::make_shared<Rounds>(Rounds{repeating, label, gap, std::move(round)}), 0);
  return repeating;
}

void Repeating::next(const std::shared_ptr<Rounds>& rounds, double delay) {
  platform::clock().queue(rounds->label).asyncAfter(delay, [rounds] {
    Repeating& owner = *rounds->owner;
    if (owner.wanted_.load() && rounds->round() && owner.wanted_.load()) {
      next(rounds, rounds->gap);
    } else {
      owner.finished_.store(true);
    }
  });
}

}  // namespace trelliq
