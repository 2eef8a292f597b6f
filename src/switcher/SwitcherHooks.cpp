// What the parts report to the controller and ask of it: the pointer over a panel, a
// submitted or escaped name, content that moved; whether the ghost shows; a full-screen
// change that landed. Main thread only.

#include <optional>
#include <string>
#include <utility>

#include "platform/Clock.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"

namespace trelliq {

DisplayPanels::Hooks Switcher::panelHooks() {
  // The panels live inside this controller; the hooks still look for the controller at
  // call time, so nothing runs once it is being torn down.
  DisplayPanels::Hooks hooks;
  hooks.contentChanged = [this] {
    if (auto self = weak().lock()) session_.placePreview();
  };
  hooks.pointer = [this](CGPoint point, const MouseView& view, int display, bool click) {
    if (auto self = weak().lock()) pointer(point, view, display, click);
  };
  hooks.nameField.submit = [this] {
    if (auto self = weak().lock()) renaming_.finishRenaming(true, true);
  };
  hooks.nameField.escape = [this] {
    if (auto self = weak().lock()) renaming_.finishRenaming(false, false);
  };
  return hooks;
}

void Switcher::pointer(CGPoint point, const MouseView& view, int display, bool click) {
  if (!session_.isActive() || display < 0 || static_cast<std::size_t>(display) >= panels_.count()) return;
  // Right after a name was submitted the panel is about to close.
  if (model_.justNamed()) return;
  if (model_.renaming()) {
    if (click) renaming_.finishRenaming(true, false);
    return;
  }
  const CGPoint q{point.x, view.bounds().height() - point.y};
  const std::optional<TileID> best = panels_.at(static_cast<std::size_t>(display)).geometry->hitTest(q);

  std::optional<std::string> label;
  if (best && (best->kind() == TileID::Kind::name || best->kind() == TileID::Kind::resetName)) {
    label = best->clusterID();
  }
  if (model_.hoveredName() != label) model_.hoveredName.set(label);

  if (label) {
    model_.selectName(*label, display);
    if (!click) return;
    if (best->kind() == TileID::Kind::resetName) {
      renaming_.resetName(*label);
    } else {
      renaming_.startRenaming(*label, display);
    }
    return;
  }
  if (!best) return;
  model_.select(*best, display);
  if (click) session_.commit();
}

Ghost::Hooks Switcher::ghostHooks() {
  // The ghost lives inside this controller and asks only while it runs.
  Ghost::Hooks hooks;
  hooks.showing = [this] { return session_.isActive() && session_.isShown() && Settings::showInPlace(); };
  hooks.changingFullScreen = [this] { return fullScreen_.pending().has_value(); };
  return hooks;
}

FullScreenFollower::Hooks Switcher::fullScreenHooks() {
  // The follower lives inside this controller and calls only while it runs.
  FullScreenFollower::Hooks hooks;
  hooks.sessionActive = [this] { return session_.isActive(); };
  hooks.settled = [this](std::uint32_t window, int moves) { fullScreenSettled(window, moves); };
  return hooks;
}

void Switcher::fullScreenSettled(std::uint32_t number, int moves) {
  if (!session_.isActive()) return;
  model_.animating(removal, [&] { model_.refresh(session_.loadWorkspace()); });
  ghost_.fadeGhost(Ghost::Fade::in);
  const bool capturing = pictures_.capturesThumbnails();
  if (capturing) pictures_.refreshThumbnails();
  // The new picture gets 3 s to arrive; a later toggle owns the transition instead.
  platform::mainQueue().asyncAfter(capturing ? SwitcherTiming::fullScreenWait : 0, [weak = weak(), moves, number] {
    auto again = weak.lock();
    if (again && again->fullScreen_.moves() == moves) again->pictures_.endTransition(number, nullptr);
  });
}

}  // namespace trelliq
