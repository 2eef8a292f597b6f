// Steering the selection on the main thread: stepping the windows of a tile (raising
// them live), stepping sideways by where the tiles lie on the panel, and acting on the
// selection: hide, quit, close and full screen. Also the two small callbacks the tap
// posts to forget a modifier press.

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/CGWindow.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/SpaceList.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {
namespace {

std::int32_t ownPID() { return NSRunningApplication::current().processIdentifier(); }

/// One place sideways stepping can land on: a tile, or one window (or the desktop) of a
/// whole-Space tile, with where it lies on the focused panel.
struct Stop {
  std::string cluster;
  std::optional<int> pick;
  CGRect frame;
};

/// Left to right; within 1 point of the same column, top first.
bool leftOf(const Stop& a, const Stop& b) {
  const double ax = a.frame.midX(), bx = b.frame.midX();
  if (std::abs(ax - bx) > 1.0) return ax < bx;
  return a.frame.midY() < b.frame.midY();
}

/// Stable and defined for any comparison (the column tolerance is not transitive, which
/// library sorts do not allow).
void insertionSort(std::vector<Stop>& stops) {
  for (std::size_t i = 1; i < stops.size(); ++i) {
    for (std::size_t j = i; j > 0 && leftOf(stops[j], stops[j - 1]); --j) std::swap(stops[j], stops[j - 1]);
  }
}

CGRect stopFrame(const TileFrames& tiles, const std::string& cluster, const std::optional<int>& pick) {
  if (pick) {
    for (const auto& [id, frame] : tiles) {
      if (id.kind() == TileID::Kind::window && id.clusterID() == cluster && id.index() == *pick) return frame;
    }
  }
  if (const CGRect* frame = tiles.find(TileID::cluster(cluster))) return *frame;
  return CGRect();
}

}  // namespace

void Switcher::stepWindow(int step) {
  model.stepWindow(step);
  if (model.onTray()) return;
  const int focused = model.focused();
  const Cluster* cluster = model.selectedCluster(focused);
  if (!cluster || cluster->windows.size() < 2) return;
  const WindowInfo* target = model.targetWindow(focused);
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

void Switcher::stepWindowSideways(int step) {
  const int focused = model.focused();
  const DisplayGroup* group = model.display(focused);
  const bool hasPanel = focused >= 0 && static_cast<std::size_t>(focused) < panels_.count();
  const Cluster* selected = group ? model.selectedCluster(focused) : nullptr;
  if (model.onTray() || !group || !hasPanel || !selected) {
    model.stepWindowAcross(step);
    return;
  }
  const TileFrames& tiles = panels_.at(static_cast<std::size_t>(focused)).geometry->tiles;

  std::vector<Stop> stops;
  for (const Cluster& cluster : group->clusters()) {
    std::vector<Stop> own;
    if (cluster.screen) {
      for (int pick : model.cycleStops(cluster, focused)) own.push_back({cluster.id, pick, {}});
    } else {
      own.push_back({cluster.id, std::nullopt, {}});
    }
    for (Stop& stop : own) stop.frame = stopFrame(tiles, cluster.id, stop.pick);
    insertionSort(own);
    stops.insert(stops.end(), own.begin(), own.end());
  }
  if (stops.empty()) return;

  const std::optional<int> currentPick = model.picksDesktop(*selected, focused)
                                             ? std::optional<int>(SwitcherModel::desktopPick)
                                             : model.targetWindowIndex(*selected, focused);
  std::optional<std::size_t> current;
  for (std::size_t i = 0; i < stops.size() && !current; ++i) {
    if (stops[i].cluster == selected->id && (!selected->screen || stops[i].pick == currentPick)) current = i;
  }
  for (std::size_t i = 0; i < stops.size() && !current; ++i) {
    if (stops[i].cluster == selected->id) current = i;
  }

  const long count = static_cast<long>(stops.size());
  const long next =
      current ? ((static_cast<long>(*current) + step) % count + count) % count : (step >= 1 ? 0 : count - 1);
  const Stop stop = stops[static_cast<std::size_t>(next)];
  model.select(stop.cluster, focused);
  if (stop.pick) {
    auto picks = model.windowPick();
    picks[focused] = *stop.pick;
    model.windowPick.set(std::move(picks));
  }
}

void Switcher::hideSelectedApp() {
  const std::optional<AppInfo> app = selectedApp();
  if (!app || app->id == ownPID()) return;
  app->app.hide();
}

void Switcher::quitSelectedApp() {
  const std::optional<AppInfo> app = selectedApp();
  if (!app) return;
  if (app->app.bundleIdentifier() == std::optional<std::string>(finderBundleIdentifier) || app->id == ownPID()) return;
  const std::int32_t pid = app->id;
  model.animating(Animation::quittingMark(), [&] {
    auto quitting = model.quitting();
    quitting.insert(pid);
    model.quitting.set(std::move(quitting));
  });
  quitWatches[pid] = app->app.observeIsTerminated([weakSelf = weak(), pid](const NSRunningApplication& running) {
    if (!running.isTerminated()) return;
    // Hop: the watch may not drop itself while it is reporting.
    platform::mainQueue().async([weakSelf, pid] {
      auto self = weakSelf.lock();
      if (!self) return;
      self->quitWatches.erase(pid);
      if (!self->active) return;
      self->model.animating(removal, [&] { self->model.removeApp(pid); });
      self->wallpaperNewDesktops();
    });
  });
  app->app.terminate();
}

void Switcher::closeTargetWindow() {
  const WindowInfo* found = model.focusedTarget();
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

void Switcher::confirmClosed(std::uint32_t window, bool minimized, int attempts) {
  platform::mainQueue().asyncAfter(SwitcherTiming::closeCheckDelay, [weakSelf = weak(), window, minimized, attempts] {
    auto self = weakSelf.lock();
    if (!self || !self->active) return;
    const auto listed = CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, window);
    const bool exists = listed && !listed->empty();
    // A hidden window is as good as closed; a minimized one only once it left the list.
    if (exists && (minimized || Private::isOrderedIn(window))) {
      if (attempts >= 2) self->confirmClosed(window, minimized, attempts - 1);
      return;
    }
    self->model.animating(removal, [&] { self->model.removeWindow(window); });
    self->wallpaperNewDesktops();
  });
}

void Switcher::toggleFullScreen(bool on) {
  const int focused = model.focused();
  if (const auto pending = fullScreen_.pending()) {
    const WindowInfo* target = model.targetWindow(focused);
    if (!target || target->windowID != pending) return;
  }
  if (model.onTray()) return;
  const Cluster* cluster = model.selectedCluster(focused);
  const WindowInfo* target = cluster ? model.targetWindow(focused) : nullptr;
  if (!target || !target->windowID || target->fullScreen == on) return;
  const AppInfo* owner = cluster->app(target);
  if (!owner) return;
  const AppInfo app = *owner;
  const WindowInfo window = *target;
  const std::uint32_t number = *window.windowID;
  const bool followingAlready = fullScreen_.pending().has_value();

  fullScreen_.wish(on);
  ghost_.fadeGhost(Ghost::Fade::out);
  model.animating(removal, [&] { model.moveFullScreen(number, on, clusterTiles); });
  if (!followingAlready) fullScreen_.follow(app, window);
}

void Switcher::forgetShift() { modifierTaps_.forget(ModifierTaps::Modifier::shift); }

void Switcher::forgetControlAndStep(bool windowTiles, int step) {
  modifierTaps_.forget(ModifierTaps::Modifier::control);
  if (windowTiles) {
    model.stepWindowAcross(step);
  } else {
    model.stepCluster(step);
  }
}

}  // namespace trelliq
