#include "switcher/SwitchPerformer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/NewWindowPlacer.h"
#include "switcher/SwitcherTiming.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
#include "workspace/SpaceList.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

namespace {

std::string list(const std::vector<std::int64_t>& spaces) { return spaceListText(spaces); }

std::string showingNow() { return list(currentSpacesSorted()); }

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

/// Focuses the screen's desktop and writes the switch's line.
void desktopStep(const NSScreen& screen, std::int64_t space, const std::vector<std::int64_t>& before,
                 const std::string& how) {
  const bool focused = SwitchPerformer::focusDesktop(screen);
  Diagnostics::log("switch to the desktop on space [" + std::to_string(space) + "] from " + list(before) + ": " + how +
                   ", showing " + showingNow() + ", " + (focused ? "focused" : "couldn't focus") + " its desktop");
}

}  // namespace

SwitchPerformer::SwitchPerformer(std::function<bool()> sessionActive) : sessionActive_(std::move(sessionActive)) {}

// ---- Planning ----------------------------------------------------------------------------

std::vector<Switch> SwitchPerformer::plannedSwitches(const SwitcherModel& model, int openedOn) {
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

void SwitchPerformer::windowStep(const std::weak_ptr<int>& life, SwitchPerformer* performer, const AppInfo& app,
                                 const WindowInfo& window, const std::vector<std::int64_t>& before,
                                 std::uint64_t startNanos, const std::string& how) {
  activate(app, window);
  const std::vector<std::int64_t> spaces =
      window.windowID ? Private::spaces(*window.windowID) : std::vector<std::int64_t>{};
  Diagnostics::log("switch to " + Diagnostics::escapeForeign(app.name) + " window " +
                   (window.windowID ? std::to_string(*window.windowID) : std::string("-")) + " on space " +
                   list(spaces) + " from " + list(before) + ": " + how + ", showing " + showingNow() + " after " +
                   std::to_string(elapsedMillis(startNanos)) + "ms");
  if (life.lock()) performer->makeSureShowing(app, window, SwitcherTiming::switchCheckAttempts);
}

void SwitchPerformer::perform(std::vector<Switch> switches, std::function<void()> done) {
  if (switches.empty()) {
    if (done) done();
    return;
  }
  Switch first = std::move(switches.front());
  switches.erase(switches.begin());
  const std::weak_ptr<int> life = life_.watch();
  // The rest of the plan, once this switch has finished; it stops with the performer.
  auto rest = [this, life, switches = std::move(switches), done = std::move(done)]() mutable {
    if (life.lock()) perform(std::move(switches), std::move(done));
  };

  if (auto* target = std::get_if<Switch::Window>(&first.what)) {
    const std::uint64_t startNanos = platform::clock().monotonicNanos();
    const std::vector<std::int64_t> before = currentSpacesSorted();
    if (target->window.windowID) {
      const Reach reach = Reach::now();
      const bool started =
          SpaceSwipe::jumpToSpaceOf(*target->window.windowID, !Settings::instantSpaces(),
                                    [this, life, app = target->app, window = target->window, before, startNanos, reach,
                                     rest](bool landed) mutable {
                                      windowStep(life, this, app, window, before, startNanos, reach.words(landed));
                                      rest();
                                    });
      if (started) return;
    }
    windowStep(life, this, target->app, target->window, before, startNanos, kNoSpaceChange);
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

void SwitchPerformer::makeSureShowing(const AppInfo& app, const WindowInfo& window, int attempts) {
  if (!window.windowID || window.minimized) return;
  platform::mainQueue().asyncAfter(
      SwitcherTiming::switchCheckDelay, [this, life = life_.watch(), app, window, attempts] {
        if (!life.lock() || sessionActive_() || attempts < 1) return;
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
        const bool started = SpaceSwipe::jumpToSpaceOf(number, slide, [this, life, app, window, attempts](bool) {
          activate(app, window);
          Diagnostics::log("  now showing " + showingNow());
          if (life.lock()) makeSureShowing(app, window, attempts - 1);
        });
        if (!started) Diagnostics::log("  no way to jump there");
      });
}

bool SwitchPerformer::focusDesktop(const NSScreen& screen) {
  const auto finders = NSRunningApplication::runningApplicationsWithBundleIdentifier(Recency::finderBundleIdentifier);
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

}  // namespace trelliq
