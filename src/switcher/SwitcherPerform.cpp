// Planning and performing a switch, the re-check that the chosen window's Space really
// shows, focusing a desktop, and asking for and following a full-screen change.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/NewWindowPlacer.h"
#include "switcher/Switcher.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

namespace {

std::string list(const std::vector<std::int64_t>& spaces) { return Switcher::spaceList(spaces); }

std::string showingNow() { return list(Switcher::currentSpacesSorted()); }

/// How the switch's log line says the Space was reached. The way is fixed when the jump
/// starts (it slides when instant switching is off or after too many missed jumps), and a
/// jump that gave up is never reported as if it had landed.
struct Reach {
  bool slides = false;

  static Reach now() { return {!Settings::instantSpaces() || SpaceSwipe::misses() >= SpaceSwipe::maxMisses}; }
  std::string words(bool landed) const {
    std::string how = slides ? "slid" : "jumped";
    if (!landed) how += ", didn't land";
    return how;
  }
};

constexpr const char* kNoSpaceChange = "no Space change";

std::uint64_t elapsedMillis(std::uint64_t startNanos) {
  return (platform::clock().monotonicNanos() - startNanos) / 1'000'000;
}

/// Raises the window, writes the switch's line and, while the controller lives, watches
/// that the window's Space shows.
void windowStep(const std::weak_ptr<Switcher>& weak, const AppInfo& app, const WindowInfo& window,
                const std::vector<std::int64_t>& before, std::uint64_t startNanos, const std::string& how) {
  activate(app, window);
  const std::vector<std::int64_t> spaces =
      window.windowID ? Private::spaces(*window.windowID) : std::vector<std::int64_t>{};
  Diagnostics::log("switch to " + Diagnostics::escapeForeign(app.name) + " window " +
                   (window.windowID ? std::to_string(*window.windowID) : std::string("-")) + " on space " +
                   list(spaces) + " from " + list(before) + ": " + how + ", showing " + showingNow() + " after " +
                   std::to_string(elapsedMillis(startNanos)) + "ms");
  if (auto self = weak.lock()) self->makeSureShowing(app, window, SwitcherTiming::switchCheckAttempts);
}

/// Focuses the screen's desktop and writes the switch's line.
void desktopStep(const NSScreen& screen, std::int64_t space, const std::vector<std::int64_t>& before,
                 const std::string& how) {
  const bool focused = Switcher::focusDesktop(screen);
  Diagnostics::log("switch to the desktop on space [" + std::to_string(space) + "] from " + list(before) + ": " + how +
                   ", showing " + showingNow() + ", " + (focused ? "focused" : "couldn't focus") + " its desktop");
}

/// Ends a poll of a full-screen change: done when the state asked is still the state
/// wanted, else asks again with a fresh deadline.
void settleFullScreen(const std::weak_ptr<Switcher>& weak, bool asked, std::uint32_t number, const AppInfo& app,
                      const WindowInfo& window) {
  auto self = weak.lock();
  if (!self) return;
  if (asked != self->fullScreenWanted) {
    self->askFullScreen(self->fullScreenWanted, app, window);
    self->followFullScreen(number, app, window, platform::now() + SwitcherTiming::fullScreenWait);
    return;
  }
  self->fullScreenPending.reset();
  if (!self->active) return;
  self->model.animating(Switcher::removal, [&] { self->model.refresh(self->loadWorkspace()); });
  self->fadeGhost(true);
  const bool capturing = self->capturesThumbnails();
  if (capturing) self->refreshThumbnails();
  // The new picture gets 3 s to arrive; a later toggle owns the transition instead.
  const int moves = self->fullScreenMoves;
  platform::mainQueue().asyncAfter(capturing ? SwitcherTiming::fullScreenWait : 0, [weak, moves, number] {
    auto again = weak.lock();
    if (again && again->fullScreenMoves == moves) again->endTransition(number, nullptr);
  });
}

}  // namespace

// ---- Planning ----------------------------------------------------------------------------

std::vector<Switcher::Switch> Switcher::plannedSwitches() const {
  const int focused = model.focused();
  const DisplayGroup* display = model.display(focused);
  if (const AppInfo* app = model.selectedTrayApp(); app && display) {
    return {Switch{Switch::Open{*app, display->screen}}};
  }
  // Nothing changed on the display the session opened on: letting go keeps things as they are.
  if (!model.touched().contains(focused) && focused == openedOn) return {};
  const Cluster* cluster = model.selectedCluster(focused);
  if (!cluster) return {};
  if (model.landsOnDesktop(focused) && display) return {Switch{Switch::Desktop{cluster->space, display->screen}}};
  const WindowInfo* window = model.targetWindow(focused);
  if (!window) return {};
  const AppInfo* app = cluster->app(window);
  if (!app) return {};
  return {Switch{Switch::Window{*app, *window}}};
}

// ---- Performing --------------------------------------------------------------------------

void Switcher::perform(std::vector<Switch> switches, std::function<void()> done) {
  if (switches.empty()) {
    if (done) done();
    return;
  }
  Switch first = std::move(switches.front());
  switches.erase(switches.begin());
  const std::weak_ptr<Switcher> weakSelf = weak();
  // The rest of the plan, once this switch has finished; it stops with the controller.
  auto rest = [weakSelf, switches = std::move(switches), done = std::move(done)]() mutable {
    if (auto self = weakSelf.lock()) self->perform(std::move(switches), std::move(done));
  };

  if (auto* target = std::get_if<Switch::Window>(&first.what)) {
    const std::uint64_t startNanos = platform::clock().monotonicNanos();
    const std::vector<std::int64_t> before = currentSpacesSorted();
    if (target->window.windowID) {
      const Reach reach = Reach::now();
      const bool started = SpaceSwipe::jumpToSpaceOf(
          *target->window.windowID, !Settings::instantSpaces(),
          [weakSelf, app = target->app, window = target->window, before, startNanos, reach, rest](bool landed) mutable {
            windowStep(weakSelf, app, window, before, startNanos, reach.words(landed));
            rest();
          });
      if (started) return;
    }
    windowStep(weakSelf, target->app, target->window, before, startNanos, kNoSpaceChange);
    rest();
    return;
  }

  if (auto* target = std::get_if<Switch::Open>(&first.what)) {
    activate(target->app, std::nullopt);
    NewWindowPlacer::bring(target->app.id, target->screen, platform::now() + NewWindowPlacer::defaultWait);
    // Every switch leaves one line; this one has no window to name yet.
    Diagnostics::log("switch to " + Diagnostics::escapeForeign(target->app.name) + ", opening its first window on " +
                     Diagnostics::escapeForeign(target->screen.localizedName()));
    rest();
    return;
  }

  const auto& target = std::get<Switch::Desktop>(first.what);
  Recency::shared().touchDesktop(target.space);
  const std::vector<std::int64_t> before = currentSpacesSorted();
  const Reach reach = Reach::now();
  const bool started =
      SpaceSwipe::jump(target.space, !Settings::instantSpaces(),
                       [screen = target.screen, space = target.space, before, reach, rest](bool landed) mutable {
                         desktopStep(screen, space, before, reach.words(landed));
                         rest();
                       });
  if (started) return;
  desktopStep(target.screen, target.space, before, kNoSpaceChange);
  rest();
}

void Switcher::makeSureShowing(const AppInfo& app, const WindowInfo& window, int attempts) {
  if (!window.windowID || window.minimized) return;
  platform::mainQueue().asyncAfter(SwitcherTiming::switchCheckDelay, [weakSelf = weak(), app, window, attempts] {
    auto self = weakSelf.lock();
    if (!self || self->active || attempts < 1) return;
    const std::uint32_t number = *window.windowID;
    const auto front = NSWorkspace::shared().frontmostApplication();
    if (!front || front->processIdentifier() != app.id) return;
    const auto spaces = Private::spaces(number);
    if (spaces.empty()) return;
    const auto current = Private::currentSpaces();
    if (std::any_of(spaces.begin(), spaces.end(), [&](std::int64_t s) { return current.contains(s); })) return;

    Diagnostics::log("  " + Diagnostics::escapeForeign(app.name) + "'s window " + std::to_string(number) +
                     " is in front but its Space " + list(spaces) + " isn't showing (" + showingNow() +
                     "); going there again");
    // Once an instant jump has missed, sliding is the surer way.
    const bool slide = !Settings::instantSpaces() || SpaceSwipe::misses() > 0;
    const bool started = SpaceSwipe::jumpToSpaceOf(number, slide, [weakSelf, app, window, attempts](bool) {
      activate(app, window);
      Diagnostics::log("  now showing " + showingNow());
      if (auto again = weakSelf.lock()) again->makeSureShowing(app, window, attempts - 1);
    });
    if (!started) Diagnostics::log("  no way to jump there");
  });
}

void Switcher::commitDone() {
  platform::mainQueue().asyncAfter(SwitcherTiming::commitGhostDelay, [weakSelf = weak()] {
    auto self = weakSelf.lock();
    if (self && !self->active) self->hideGhost();
  });
}

bool Switcher::focusDesktop(const NSScreen& screen) {
  const auto finders = NSRunningApplication::runningApplicationsWithBundleIdentifier(finderBundleIdentifier);
  if (finders.empty()) return false;
  const std::int32_t finder = finders.front().processIdentifier();
  const auto screens = NSScreen::screens();
  if (screens.empty()) return false;
  const CGRect expected = platform::flipRect(screen.frame(), screens.front().frame().maxY());
  const CGWindowLevel desktopLevel = CGWindowLevelForKey(kCGDesktopIconWindowLevelKey);

  const auto windows = CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID);
  if (!windows) return false;
  for (const auto& item : *windows) {
    const auto* info = item.asDictionary();
    if (!info) continue;
    if (platform::integerEntry(*info, kCGWindowOwnerPID) != finder) continue;
    if (platform::integerEntry(*info, kCGWindowLayer) != desktopLevel) continue;
    const auto* boundsInfo = platform::dictionaryEntry(*info, kCGWindowBounds);
    CGRect bounds;
    if (!boundsInfo || !CGRectMakeWithDictionaryRepresentation(*boundsInfo, &bounds) || !(bounds == expected)) {
      continue;
    }
    // The first fitting window decides, with or without a number.
    const auto number = platform::integerEntry(*info, kCGWindowNumber);
    if (!number) return false;
    return Private::focus(finder, static_cast<std::uint32_t>(*number));
  }
  return false;
}

std::string Switcher::spaceList(const std::vector<std::int64_t>& spaces) {
  std::string text = "[";
  for (std::size_t i = 0; i < spaces.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(spaces[i]);
  }
  return text + "]";
}

std::vector<std::int64_t> Switcher::currentSpacesSorted() {
  const auto current = Private::currentSpaces();
  return {current.begin(), current.end()};  // a std::set is already ascending
}

// ---- Full screen -------------------------------------------------------------------------

void Switcher::askFullScreen(bool on, const AppInfo& app, const WindowInfo& window) {
  fullScreenAsked = on;
  // A slow app must not hold up the main thread; the program's own windows live there.
  const bool own = app.id == NSProcessInfo::processInfo().processIdentifier();
  platform::Executor& queue = own ? platform::mainQueue() : fullScreenQueue();
  queue.async([on, app, window] { setFullScreen(on, app, window); });
}

void Switcher::followFullScreen(std::uint32_t number, const AppInfo& app, const WindowInfo& window, double until) {
  platform::mainQueue().asyncAfter(SwitcherTiming::fullScreenPoll, [weakSelf = weak(), number, app, window, until] {
    auto self = weakSelf.lock();
    if (!self) return;
    const bool asked = self->fullScreenAsked;
    if (!self->active && asked == self->fullScreenWanted) {
      self->fullScreenPending.reset();
      return;
    }
    if (asked == onFullScreenSpace(number)) {
      platform::mainQueue().asyncAfter(SwitcherTiming::fullScreenSettle, [weakSelf, asked, number, app, window] {
        settleFullScreen(weakSelf, asked, number, app, window);
      });
    } else if (platform::now() > until) {
      platform::mainQueue().async(
          [weakSelf, asked, number, app, window] { settleFullScreen(weakSelf, asked, number, app, window); });
    } else {
      self->followFullScreen(number, app, window, until);
    }
  });
}

void Switcher::setFullScreen(bool on, const AppInfo& app, const WindowInfo& window) {
  if (!window.windowID) return;
  const std::uint32_t number = *window.windowID;

  if (app.id == NSProcessInfo::processInfo().processIdentifier()) {
    NSWindow* own = NSApplication::shared().windowWithWindowNumber(number);
    if (!own) return;
    const bool isFullScreen = (own->styleMask() & NSWindowStyleMaskFullScreen) != 0;
    if (isFullScreen != on) own->toggleFullScreen(nullptr);
    return;
  }

  AXUIElementRef application = AXUIElementCreateApplication(app.id);
  AXUIElementSetMessagingTimeout(application, static_cast<float>(SwitcherTiming::fullScreenMessagingTimeout));
  AXUIElementRef element;
  if (const auto windows = axAttr(application, kAXWindowsAttribute)) {
    if (const auto elements = windows->asElementArray()) {
      for (const AXUIElementRef& candidate : *elements) {
        if (Private::windowID(candidate) == number) {
          element = candidate;
          break;
        }
      }
    }
  }
  if (!element) element = window.element;
  if (!element) element = Private::axElement(app.id, number);
  if (!element) return;

  const AXError error = AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, AXValue(on));
  if (error == kAXErrorSuccess) return;
  const std::string line = "couldn't take " + Diagnostics::escapeForeign(app.name) + " window " +
                           std::to_string(number) + " " + (on ? "into" : "out of") + " full screen: AX error " +
                           std::to_string(error);
  platform::mainQueue().async([line] { Diagnostics::log(line); });
}

bool Switcher::onFullScreenSpace(std::uint32_t number) {
  for (std::int64_t space : Private::spaces(number)) {
    const auto screen = Private::screenOfSpace(space);
    if (screen && screen->fullScreen) return true;
  }
  return false;
}

platform::Executor& Switcher::fullScreenQueue() {
  // Asked of the installed clock each time: a test installs a new clock per scene.
  return platform::clock().queue("fullScreen");
}

}  // namespace trelliq
