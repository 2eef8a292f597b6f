// Starting and stopping the event tap, carrying out what it hands the main
// queue, and the main-thread halves of the modifier taps. What the tap decides for every event is `EventTap`'s; it
// reaches the controller only through the hooks made here.

#include <memory>
#include <utility>
#include <variant>

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
  hooks.post = [this](TapCommand command) {
    onMain([command = std::move(command)](Switcher& s) { s.apply(command); });
  };
  hooks.open = [this](SessionAction action, CGEventFlags holding) {
    session_.open(action, holding, Staying::untilReleased, std::nullopt);
  };
  hooks.desktopClick = [this](CGPoint point, double at) {
    platform::mainQueue().async([weak = weak(), point, at] {
      if (auto self = weak.lock()) self->memory_.recordDesktopClick(point, at);
    });
  };
  return hooks;
}

bool Switcher::startTap() {
  if (gate_.tapPort()) return true;
  std::weak_ptr<Switcher> weakSelf = weak();
  CGEventTapCallBack callback = [weakSelf](CGEventTapProxy, CGEventType type, CGEventRef event, void*) -> CGEventRef {
    auto self = weakSelf.lock();
    return self ? self->handle(type, event) : event;
  };
  if (!tap_.start(std::move(callback))) return false;
  if (watches.start) watches.start();
  session_.warmUp();
  return true;
}

void Switcher::stopTap() {
  tap_.stop();
  if (watches.stop) watches.stop();
  session_.cancel(false);
}

CGEventRef Switcher::handle(CGEventType type, const CGEventRef& event) { return tap_.handle(type, event); }

namespace {

template <typename... Cases>
struct Overloaded : Cases... {
  using Cases::operator()...;
};
template <typename... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;

}  // namespace

void Switcher::apply(const TapCommand& command) {
  std::visit(Overloaded{
                 [this](const KeyCommand& key) { apply(key); },
                 [this](const tapcommand::StepAlong& along) {
                   modifierTaps_.forget(Modifier::control);
                   if (along.appSession) {
                     model_.stepAppWindow(along.step);
                   } else if (along.clusterSession) {
                     actions_.stepWindowSideways(along.step);
                   } else {
                     model_.stepCluster(along.step);
                   }
                 },
                 [this](const tapcommand::ToRow& row) {
                   modifierTaps_.forget(Modifier::control);
                   model_.toRow(row.down);
                 },
                 [this](const tapcommand::ForgetShift&) { modifierTaps_.forget(Modifier::shift); },
                 [this](const tapcommand::ModifierChange& change) {
                   using Key = tapcommand::ModifierChange::Key;
                   switch (change.key) {
                     case Key::shift:
                       change.down ? shiftDown() : shiftUp();
                       return;
                     case Key::control:
                       change.down ? controlDown() : controlUp();
                       return;
                     case Key::option:
                       change.down ? optionDown() : optionUp(change.shift);
                       return;
                   }
                 },
                 [this](const tapcommand::NextDisplay&) { model_.focusNextDisplay(); },
                 [this](const tapcommand::FnDown& fn) { pointerFollower_.logFn(fn.flags, fn.before); },
             },
             command);
}

void Switcher::apply(const KeyCommand& command) {
  using Kind = KeyCommand::Kind;
  const int value = command.value;
  switch (command.kind) {
    case Kind::none:
      return;
    case Kind::stepAppWindow:
      model_.stepAppWindow(value);
      return;
    case Kind::stepWindowTiles:
      forgetControlAndStep(true, value);
      return;
    case Kind::stepTiles:
      forgetControlAndStep(false, value);
      return;
    case Kind::stepAlong:
      // The tap sends steps along with the session kind it read (`StepAlong`).
      return;
    case Kind::stepWindow:
      actions_.stepWindow(value);
      return;
    case Kind::toggleFullScreen:
      actions_.toggleFullScreen(value != 0 ? FullScreen::enter : FullScreen::leave);
      return;
    case Kind::pickWindow:
      model_.pickWindow(value);
      return;
    case Kind::quitApp:
      actions_.quitSelectedApp();
      return;
    case Kind::hideApp:
      actions_.hideSelectedApp();
      return;
    case Kind::closeWindow:
      actions_.closeTargetWindow();
      return;
    case Kind::cancel:
      session_.cancel(false);
      return;
    case Kind::commit:
      session_.commit();
      return;
  }
}

// ======================================================================================
// Modifier taps (main thread)
// ======================================================================================

void Switcher::shiftDown() { modifierTaps_.pressed(Modifier::shift); }

void Switcher::shiftUp() {
  if (modifierTaps_.released(Modifier::shift)) model_.toggleDesktop();
}

void Switcher::controlDown() {
  modifierTaps_.pressed(Modifier::control);
  modifierTaps_.forget(Modifier::shift);
}

void Switcher::controlUp() {
  model_.setControlHeld(false);
  if (modifierTaps_.released(Modifier::control)) model_.toggleTray();
}

void Switcher::optionDown() {
  modifierTaps_.pressed(Modifier::option);
  modifierTaps_.forget(Modifier::shift);
}

void Switcher::optionUp(bool shift) {
  if (!modifierTaps_.released(Modifier::option)) return;
  const int step = shift ? -1 : 1;
  if (session_.screenTiles()) {
    model_.stepTile(step);
  } else {
    model_.stepSpace(step);
  }
}

void Switcher::forgetControlAndStep(bool windowTiles, int step) {
  modifierTaps_.forget(Modifier::control);
  if (windowTiles) {
    model_.stepWindowAcross(step);
  } else {
    model_.stepCluster(step);
  }
}

}  // namespace trelliq
