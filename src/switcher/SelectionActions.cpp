// Acting on the selection: stepping a tile's windows and stepping sideways by where the
// tiles lie, hiding, quitting and closing, and toggling full screen.

#include "switcher/SelectionActions.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/CGWindow.h"
#include "platform/Clock.h"
#include "switcher/DisplayPanels.h"
#include "switcher/FullScreenFollower.h"
#include "switcher/Ghost.h"
#include "switcher/Session.h"
#include "switcher/SessionPictures.h"
#include "switcher/SwitcherTiming.h"
#include "switcher/model/SidewaysStops.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
#include "workspace/SpaceList.h"

namespace trelliq {
namespace {

std::int32_t ownPID() { return NSRunningApplication::current().processIdentifier(); }

}  // namespace

SelectionActions::SelectionActions(Parts parts) : parts_(parts) {}

void SelectionActions::stepWindow(int step) {
  parts_.model.stepWindow(step);
  if (parts_.model.onTray()) return;
  const int focused = parts_.model.focused();
  const Cluster* cluster = parts_.model.selectedCluster(focused);
  if (!cluster || cluster->windows.size() < 2) return;
  const WindowInfo* target = parts_.model.targetWindow(focused);
  if (!target || !target->windowID) return;
  const AppInfo* app = cluster->app(target);
  if (!app) return;
  if (app->app.isHidden() || target->minimized) return;
  // A window on another Space is raised by letting go, which also goes there.
  if (!onCurrentSpace(*target->windowID)) return;
  const AppInfo owner = *app;
  const WindowInfo window = *target;
  activate(owner, window);
}

void SelectionActions::stepWindowSideways(int step) {
  const int focused = parts_.model.focused();
  const DisplayGroup* group = parts_.model.display(focused);
  const bool hasPanel = focused >= 0 && static_cast<std::size_t>(focused) < parts_.panels.count();
  const Cluster* selected = group ? parts_.model.selectedCluster(focused) : nullptr;
  if (parts_.model.onTray() || !group || !hasPanel || !selected) {
    parts_.model.stepWindowAcross(step);
    return;
  }
  const std::vector<SidewaysStop> stops = SidewaysStops::along(
      group->clusters(), [&](const Cluster& cluster) { return parts_.model.cycleStops(cluster, focused); },
      parts_.panels.at(static_cast<std::size_t>(focused)).geometry->tiles);
  const std::optional<int> currentPick = parts_.model.picksDesktop(*selected, focused)
                                             ? std::optional<int>(SwitcherModel::desktopPick)
                                             : parts_.model.targetWindowIndex(*selected, focused);
  const std::optional<std::size_t> next = SidewaysStops::next(stops, *selected, currentPick, step);
  if (!next) return;
  const SidewaysStop& stop = stops[*next];
  parts_.model.select(stop.cluster, focused);
  if (stop.pick) {
    auto picks = parts_.model.windowPick();
    picks[focused] = *stop.pick;
    parts_.model.windowPick.set(std::move(picks));
  }
}

void SelectionActions::hideSelectedApp() {
  const std::optional<AppInfo> app = selectedApp();
  if (!app || app->id == ownPID()) return;
  app->app.hide();
}

void SelectionActions::quitSelectedApp() {
  const std::optional<AppInfo> app = selectedApp();
  if (!app) return;
  if (app->app.bundleIdentifier() == std::optional<std::string>(Recency::finderBundleIdentifier) || app->id == ownPID())
    return;
  const std::int32_t pid = app->id;
  parts_.model.animating(Animation::quittingMark(), [&] {
    auto quitting = parts_.model.quitting();
    quitting.insert(pid);
    parts_.model.quitting.set(std::move(quitting));
  });
  quitWatches[pid] =
      app->app.observeIsTerminated([this, life = life_.watch(), pid](const NSRunningApplication& running) {
        if (!running.isTerminated()) return;
        // Hop: the watch may not drop itself while it is reporting.
        platform::mainQueue().async([this, life, pid] {
          if (!life.expired()) appQuit(pid);
        });
      });
  app->app.terminate();
}

void SelectionActions::closeTargetWindow() {
  const WindowInfo* found = parts_.model.focusedTarget();
  if (!found || !found->windowID) return;
  const WindowInfo target = *found;
  const std::uint32_t number = *target.windowID;
  if (target.pid == ownPID()) {
    if (NSWindow* window = NSApplication::shared().windowWithWindowNumber(number)) {
      window->performClose(nullptr);
      confirmClosed(number, target.minimized, SwitcherTiming::closeAttempts);
    }
    return;
  }
  AXUIElementRef element = target.element ? target.element : Private::axElement(target.pid, number);
  if (!element) return;
  const std::optional<AXValue> button = axAttr(element, kAXCloseButtonAttribute);
  AXUIElementRef closeButton = button ? button->asElement() : nullptr;
  if (!closeButton) return;
  AXUIElementPerformAction(closeButton, kAXPressAction);
  confirmClosed(number, target.minimized, SwitcherTiming::closeAttempts);
}

void SelectionActions::confirmClosed(std::uint32_t window, bool minimized, int attempts) {
  platform::mainQueue().asyncAfter(
      SwitcherTiming::closeCheckDelay, [this, life = life_.watch(), window, minimized, attempts] {
        if (life.expired() || !parts_.session.isActive()) return;
        const auto listed = CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, window);
        const bool exists = listed && !listed->empty();
        // A hidden window is as good as closed; a minimized one only once it left the list.
        if (exists && (minimized || Private::isOrderedIn(window))) {
          if (attempts >= 2) confirmClosed(window, minimized, attempts - 1);
          return;
        }
        parts_.model.animating(Animation::removal(), [&] { parts_.model.removeWindow(window); });
        parts_.pictures.wallpaperNewDesktops();
      });
}

void SelectionActions::toggleFullScreen(FullScreen change) {
  const int focused = parts_.model.focused();
  if (const auto pending = parts_.fullScreen.pending()) {
    const WindowInfo* target = parts_.model.targetWindow(focused);
    if (!target || target->windowID != pending) return;
  }
  if (parts_.model.onTray()) return;
  const Cluster* cluster = parts_.model.selectedCluster(focused);
  const WindowInfo* target = cluster ? parts_.model.targetWindow(focused) : nullptr;
  if (!target || !target->windowID || target->fullScreen == (change == FullScreen::enter)) return;
  const AppInfo* owner = cluster->app(target);
  if (!owner) return;
  const AppInfo app = *owner;
  const WindowInfo window = *target;
  const std::uint32_t number = *window.windowID;
  const bool followingAlready = parts_.fullScreen.pending().has_value();

  parts_.fullScreen.wish(change);
  parts_.ghost.fadeGhost(Ghost::Fade::out);
  parts_.model.animating(Animation::removal(),
                         [&] { parts_.model.moveFullScreen(number, change, parts_.session.screenTiles()); });
  if (!followingAlready) parts_.fullScreen.follow(app, window);
}

std::optional<AppInfo> SelectionActions::selectedApp() const {
  const int focused = parts_.model.focused();
  if (parts_.model.landsOnDesktop(focused)) return std::nullopt;
  if (const AppInfo* tray = parts_.model.selectedTrayApp()) return *tray;
  if (const Cluster* c = parts_.model.selectedCluster(focused)) {
    if (const AppInfo* app = c->app(parts_.model.targetWindow(focused))) return *app;
  }
  return std::nullopt;
}

void SelectionActions::appQuit(std::int32_t pid) {
  quitWatches.erase(pid);
  if (!parts_.session.isActive()) return;
  parts_.model.animating(Animation::removal(), [&] { parts_.model.removeApp(pid); });
  parts_.pictures.wallpaperNewDesktops();
}

}  // namespace trelliq
