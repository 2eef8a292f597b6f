#include "switcher/model/ModelChange.h"

#include <algorithm>
#include <memory>

namespace trelliq {

ObserverToken ChangeHub::subscribe(Observer observer) {
  const ObserverToken token = next_++;
  observers_.push_back({token, std::make_shared<Observer>(std::move(observer))});
  return token;
}

void ChangeHub::unsubscribe(ObserverToken token) {
  std::erase_if(observers_, [token](const Entry& e) { return e.token == token; });
}

void ChangeHub::announce(ModelField field) {
  const ModelChange change{field, current_};
  // Walk a copy, so observers may subscribe or unsubscribe while being called; an
  // observer removed meanwhile is skipped.
  const std::vector<Entry> snapshot = observers_;
  for (const Entry& entry : snapshot) {
    const bool stillThere =
        std::any_of(observers_.begin(), observers_.end(), [&](const Entry& e) { return e.token == entry.token; });
    if (stillThere) (*entry.observer)(change);
  }
}

void ChangeHub::animating(const Animation& animation, const std::function<void()>& body) {
  struct Restore {
    ChangeHub* hub;
    std::optional<Animation> outer;
    ~Restore() { hub->current_ = outer; }
  } restore{this, current_};
  current_ = animation;
  body();
}

}  // namespace trelliq
