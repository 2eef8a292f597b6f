// What the switch performer and the full-screen follower ask of the controller, and the
// commit's completion. Planning and performing a switch is `SwitchPerformer`'s; asking
// for and following a full-screen change is `FullScreenFollower`'s. Main thread only.

#include <memory>

#include "platform/Clock.h"
#include "switcher/Switcher.h"

namespace trelliq {

FullScreenFollower::Hooks Switcher::fullScreenHooks() {
  // The follower lives inside this controller and calls only while it runs.
  FullScreenFollower::Hooks hooks;
  hooks.sessionActive = [this] { return active; };
  hooks.settled = [this](std::uint32_t window, int moves) { fullScreenSettled(window, moves); };
  return hooks;
}

void Switcher::fullScreenSettled(std::uint32_t number, int moves) {
  if (!active) return;
  model.animating(removal, [&] { model.refresh(loadWorkspace()); });
  ghost_.fadeGhost(Ghost::Fade::in);
  const bool capturing = capturesThumbnails();
  if (capturing) refreshThumbnails();
  // The new picture gets 3 s to arrive; a later toggle owns the transition instead.
  platform::mainQueue().asyncAfter(capturing ? SwitcherTiming::fullScreenWait : 0, [weak = weak(), moves, number] {
    auto again = weak.lock();
    if (again && again->fullScreen_.moves() == moves) again->endTransition(number, nullptr);
  });
}

void Switcher::commitDone() {
  platform::mainQueue().asyncAfter(SwitcherTiming::commitGhostDelay, [weakSelf = weak()] {
    auto self = weakSelf.lock();
    if (self && !self->active) self->ghost_.hideGhost();
  });
}

}  // namespace trelliq
