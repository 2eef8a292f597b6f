// Starting and stopping the event tap, and the main-thread halves of the
// modifier taps. What the tap decides for every event is `EventTap`'s; it
// reaches the controller only through the hooks made here.

#include <memory>
#include <utility>

#include "platform/Clock.h"
#include "switcher/Switcher.h"

namespace trelliq {

using Modifier = ModifierTaps::Modifier;

// ======================================================================================
// The tap
// ======================================================================================

EventTap::Hooks Switcher::tapHooks() {
  // The tap lives inside this controller, and its callback holds the controller
  // while it runs, so the hooks may use `this`.
  EventTap::Hooks hooks;
  hooks.onMain = [this](std::function<void(Switcher&)> work) { onMain(std::move(work)); };
  hooks.open = [this](SessionAction action, CGEventFlags holding) { open(action, holding, false, std::nullopt); };
  hooks.desktopClick = [this](CGPoint point, double at) {
    platform::mainQueue().async([weak = weak(), point, at] {
      if (auto self = weak.lock()) self->memory_.recordDesktopClick(point, at);
    });
  };
  return hooks;
}

bool Switcher::startTap() {
  if (gate_.tapPort()) return true;
  // Defaults registered after this controller was made announce no change.
  tap_.readOptions();
  std::weak_ptr<Switcher> weakSelf = weak();
  CGEventTapCallBack callback = [weakSelf](CGEventTapProxy, CGEventType type, CGEventRef event, void*) -> CGEventRef {
    auto self = weakSelf.lock();
    return self ? self->handle(type, event) : event;
  };
  if (!tap_.start(std::move(callback))) return false;
  if (watches.start) watches.start();
  warmUp();
  return true;
}

void Switcher::stopTap() {
  tap_.stop();
  if (watches.stop) watches.stop();
  cancel(false);
}

CGEventRef Switcher::handle(CGEventType type, const CGEventRef& event) { return tap_.handle(type, event); }

void Switcher::stepAlong(int step) { tap_.stepAlong(step); }

void Switcher::toRow(bool down) { tap_.toRow(down); }

// ======================================================================================
// Modifier taps (main thread)
// ======================================================================================

void Switcher::shiftDown() { modifierTaps_.pressed(Modifier::shift); }

void Switcher::shiftUp() {
  if (modifierTaps_.released(Modifier::shift)) model.toggleDesktop();
}

void Switcher::controlDown() {
  modifierTaps_.pressed(Modifier::control);
  modifierTaps_.forget(Modifier::shift);
}

void Switcher::controlUp() {
  model.controlHeld = false;
  if (modifierTaps_.released(Modifier::control)) model.toggleTray();
}

void Switcher::optionDown() {
  modifierTaps_.pressed(Modifier::option);
  modifierTaps_.forget(Modifier::shift);
}

void Switcher::optionUp(bool shift) {
  if (!modifierTaps_.released(Modifier::option)) return;
  const int step = shift ? -1 : 1;
  if (clusterTiles) {
    model.stepTile(step);
  } else {
    model.stepSpace(step);
  }
}

}  // namespace trelliq
