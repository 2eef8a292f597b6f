// A session's life on the main thread: opening, showing, looking again, committing and
// cancelling. The pictures it takes are `SessionPictures`', the names it edits `Renaming`'s.

#include "switcher/Session.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Foundation.h"
#include "platform/MallocZone.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/DisplayPanels.h"
#include "switcher/FullScreenFollower.h"
#include "switcher/Ghost.h"
#include "switcher/GlassPane.h"
#include "switcher/ModifierTaps.h"
#include "switcher/OpeningMemory.h"
#include "switcher/PanelSelfCheck.h"
#include "switcher/PointerFollower.h"
#include "switcher/PreviewPanel.h"
#include "switcher/Renaming.h"
#include "switcher/SessionPictures.h"
#include "switcher/SwitchPerformer.h"
#include "switcher/SwitcherTiming.h"
#include "workspace/Recency.h"

namespace trelliq {

namespace {

// The first step of the selection; false when a tray session finds the tray empty.
bool firstStep(SwitcherModel& model, const SessionAction& action) {
  using Kind = SessionAction::Kind;
  const int n = action.step;
  switch (action.kind) {
    case Kind::cycle:
      n >= 1 ? model.stepBack() : model.stepCluster(n);
      return true;
    case Kind::space:
      model.stepSpace(n);
      return true;
    case Kind::tile:
      model.stepTile(n);
      return true;
    case Kind::clusters:
      n >= 1 ? model.stepBackWindow() : model.stepWindowAcross(n);
      return true;
    case Kind::appWindows:
      n >= 1 ? model.stepBackAppWindow() : model.stepAppWindow(n);
      return true;
    case Kind::tray:
    case Kind::clusterTray:
      if (model.workspace().tray.empty()) return false;
      model.setControlHeld(true);
      model.enterTray();
      return true;
  }
  return true;
}

}  // namespace

Session::Session(Parts parts) : parts_(parts) {}

Session::~Session() { showWork.cancel(); }

// ---- Opening ---------------------------------------------------------------------------------

void Session::open(SessionAction action, CGEventFlags holding, Staying staying, std::optional<NSScreen> screen) {
  const auto generation = parts_.gate.tryOpen(holding, action, staying);
  if (!generation) return;
  // A begin that finds nothing to show hands the flag back, but only while it still
  // belongs to this opening.
  const std::uint64_t pressed = platform::clock().monotonicNanos();
  platform::mainQueue().async(
      [this, life = life_.watch(), action, pressed, screen = std::move(screen), generation = *generation] {
        if (life.expired()) return;
        if (!begin(action, pressed, screen, generation)) parts_.gate.endOpen(generation);
      });
}

bool Session::chooseKind(const SessionAction& action) {
  using Kind = SessionAction::Kind;
  switch (action.kind) {
    case Kind::tile:
    case Kind::clusters:
    case Kind::clusterTray:
      clusterTiles = true;
      return true;
    case Kind::cycle:
    case Kind::space:
    case Kind::tray:
      clusterTiles = false;
      return true;
    case Kind::appWindows: {
      const auto front = NSWorkspace::shared().frontmostApplication();
      if (!front) return false;
      appPID = front->processIdentifier();
      appDesktops = front->bundleIdentifier() == std::optional<std::string>(Recency::finderBundleIdentifier);
      clusterTiles = Settings::tiles() == Settings::Tiles::windows;
      return true;
    }
  }
  return true;
}

int Session::chooseDisplay(const Workspace& snapshot, const SessionAction& action,
                           const std::optional<NSScreen>& screen) const {
  if (screen) {
    for (std::size_t i = 0; i < snapshot.displays.size(); ++i) {
      if (snapshot.displays[i].screen == *screen) return static_cast<int>(i);
    }
  }
  return action.isAppWindows() ? parts_.memory.appDisplay(snapshot) : parts_.memory.openingDisplay(snapshot);
}

bool Session::begin(SessionAction action, std::uint64_t pressedNanos, std::optional<NSScreen> screen,
                    std::uint64_t generation) {
  // After stopTap nothing could close the session again.
  if (parts_.gate.tapStopped()) return false;
  session += 1;
  appPID.reset();
  if (!chooseKind(action)) return false;

  Workspace snapshot = loadWorkspace();
  if (action.isAppWindows() && snapshot.displays.empty()) return false;
  const int display = chooseDisplay(snapshot, action, screen);

  SwitcherModel& model = parts_.model;
  openedOn = display;
  model.reset(std::move(snapshot), display);
  const bool staying = parts_.gate.staysOpen();
  if (!staying && !firstStep(model, action)) return false;

  active = true;
  sessionGeneration = generation;
  updateHaze();
  parts_.pointer.trackPointer();
  shown = false;

  // The delay counts from the key press, so a quick press and release never shows panels.
  const std::uint64_t due =
      staying ? pressedNanos : pressedNanos + static_cast<std::uint64_t>(SwitcherTiming::showDelay * 1e9);
  showWork = platform::mainQueue().asyncAt(due, [this, life = life_.watch()] {
    if (!life.expired()) show();
  });
  firstPictures();
  return true;
}

void Session::firstPictures() {
  SessionPictures& pictures = parts_.pictures;
  if (pictures.capturesThumbnails()) {
    pictures.refreshThumbnails();
  } else {
    parts_.model.thumbnails.set({});
  }
  pictures.refreshWallpapers();
  if (Settings::showInPlace()) parts_.ghost.prebuildDestinations();
}

void Session::present() {
  active = true;
  updateHaze();
  parts_.panels.showPanels(parts_.preview.window());
  parts_.pictures.refreshWallpapers();
  if (Settings::showInPlace()) parts_.ghost.prebuildDestinations();
}

void Session::warmUp() {
  platform::mainQueue().async([this, life = life_.watch()] {
    // A session that began first (⌘⇥ right at the start) has the model and the panels.
    if (life.expired() || active) return;
    parts_.model.reset(Workspace::load(Settings::desktops(), false), 0);
    const std::vector<NSScreen> screens = NSScreen::screens();
    std::vector<NSWindow*> windows;
    for (std::size_t i = 0; i < screens.size(); ++i)
      windows.push_back(parts_.panels.panel(static_cast<int>(i)).window.get());
    for (std::size_t i = 0; i < windows.size(); ++i) {
      windows[i]->setFrame(screens[i].frame(), false);
      windows[i]->setAlphaValue(0);
      windows[i]->orderFrontRegardless();
    }
    parts_.preview.window();
    parts_.ghost.panel();
    platform::mainQueue().async([this, life, windows] {
      if (life.expired()) return;
      for (NSWindow* window : windows) {
        // Panels a session showed meanwhile stay up.
        if (!shown) window->orderOut(nullptr);
        window->setAlphaValue(1);
      }
    });
  });
}

// ---- Showing and refreshing ----------------------------------------------------------------

Workspace Session::loadWorkspace() const {
  if (!appPID) return Workspace::load(Settings::desktops(), clusterTiles);
  // The file manager's windows come with its desktops, so they must all be loaded first.
  const Settings::Desktops desktops =
      appDesktops ? Settings::Desktops(Settings::Desktops::always) : Settings::desktops();
  return Workspace::load(desktops, clusterTiles).only(*appPID, appDesktops);
}

void Session::show() {
  if (!active) return;
  shown = true;
  parts_.panels.showPanels(parts_.preview.window());
  parts_.ghost.updateGhost();
  placePreview();
  platform::mainQueue().asyncAfter(SwitcherTiming::checkPanelsDelay, [this, life = life_.watch()] {
    if (!life.expired()) checkPanels();
  });
  for (const double delay : SwitcherTiming::lookAgainDelays) {
    platform::mainQueue().asyncAfter(delay, [this, life = life_.watch(), current = session] {
      if (!life.expired()) lookAgain(current);
    });
  }
}

void Session::lookAgain(int current) {
  // An edit field or a window moving into full screen must not be rebuilt under the user.
  if (!active || current != session || parts_.fullScreen.pending() || parts_.gate.isRenaming()) return;
  SwitcherModel& model = parts_.model;
  Workspace fresh = loadWorkspace();
  if (fresh.shape() == model.workspace().shape()) return;
  model.animating(Animation::removal(), [&] { model.refresh(std::move(fresh)); });
  parts_.pictures.wallpaperNewDesktops();
  if (parts_.pictures.capturesThumbnails()) parts_.pictures.refreshThumbnails();
}

void Session::scheduleModelChanged() {
  if (changeScheduled) return;
  changeScheduled = true;
  platform::mainQueue().async([this, life = life_.watch()] {
    if (life.expired()) return;
    changeScheduled = false;
    if (!active) return;
    parts_.ghost.updateGhost();
    placePreview();
  });
}

void Session::placePreview() {
  const bool showing = active && shown && Settings::showThumbnails();
  parts_.preview.place(showing ? parts_.panels.contentFrame(parts_.model.focused()) : std::nullopt);
  updateClickTargets();
}

void Session::updateClickTargets() {
  if (!active || !shown) {
    parts_.gate.setClickTargets({});
    return;
  }
  std::vector<ClickTarget> targets = parts_.panels.clickTargets();
  // A click on the preview's glass does nothing.
  if (const auto glass = parts_.preview.glassOnScreen()) targets.push_back({*glass, false});
  parts_.gate.setClickTargets(std::move(targets));
}

void Session::checkPanels() {
  if (!active) return;
  if (const auto entry = PanelSelfCheck::entry(parts_.model, parts_.panels, parts_.preview.window()))
    Diagnostics::log(*entry);
}

void Session::updateHaze() {
  const double tint = UserDefaults::standard().doubleForKey("NSGlassTintAmount");
  if (!GlassPane::usesGlassVariant()) {
    hazeStrength = 0;
  } else if (tint <= 0) {
    hazeStrength = clearEndHaze;
  } else {
    hazeStrength = (1 - std::min(tint, 1.0)) * clearEndHaze;
  }
  parts_.model.haze.set(hazeStrength);
  parts_.preview.setHaze(hazeStrength);
}

// ---- Commit and cancel -----------------------------------------------------------------------

void Session::commit() {
  std::vector<Switch> plan = SwitchPerformer::plannedSwitches(parts_.model, openedOn);
  cancel(Settings::instantSpaces());
  parts_.performer.perform(std::move(plan), [this, life = life_.watch()] {
    if (!life.expired()) commitDone();
  });
}

void Session::commitDone() {
  platform::mainQueue().asyncAfter(SwitcherTiming::commitGhostDelay, [this, life = life_.watch()] {
    if (!life.expired() && !active) parts_.ghost.sessionEnded();
  });
}

void Session::cancel(bool keepGhost) {
  const bool wasActive = active;
  SwitcherModel& model = parts_.model;
  if (wasActive) {
    const DisplayGroup* focusedDisplay = model.display(model.focused());
    parts_.memory.sessionEnded(focusedDisplay ? std::optional(focusedDisplay->id) : std::nullopt);
  }
  active = false;
  // A newer opening may already own the flag (⌘ released and ⌘⇥ pressed again before
  // this ran): only this session's own flag is cleared. Its click targets go regardless,
  // since no later session has shown anything yet.
  parts_.gate.endOpen(wasActive ? std::optional(sessionGeneration) : std::nullopt);
  parts_.gate.setClickTargets({});
  parts_.renaming.sessionEnded();

  showWork.cancel();
  showWork = {};
  shown = false;
  parts_.modifierTaps.forgetAll();
  parts_.pointer.stop();

  parts_.panels.hide();
  parts_.preview.hide();
  parts_.pictures.sessionEnded();
  if (keepGhost) {
    parts_.ghost.stopCapturing();
  } else {
    parts_.ghost.sessionEnded();
  }
  if (wasActive) {
    // The caches of drawn layers and samples go down to what the next session most likely
    // draws first now, not only with the relief below: a session begun before that runs
    // would otherwise add its own on top, and sessions in quick succession pile up layers
    // of moves and selections none of them finds again.
    platform::shrinkCaches();
    giveBackMemoryLater();
  }
}

void Session::giveBackMemoryLater() {
  // Once the session's leftovers have run out (its fades, the ghost kept over a switch,
  // the pictures still arriving), the heap's free pages go back to the system: what a
  // session's painting and pictures took on the helper threads' heaps would otherwise
  // stay resident while the program waits for the next one.
  platform::mainQueue().asyncAfter(SwitcherTiming::memoryReliefDelay, [this, life = life_.watch()] {
    if (!life.expired() && !active) malloc_zone_pressure_relief(nullptr, 0);
  });
}

}  // namespace trelliq
