// The controller's life and its sessions: construction and the observers, opening a
// session, committing and cancelling it. Pointer tracking, showing and renaming are in SwitcherSessionShow.cpp.

#include <mutex>
#include <utility>

#include "platform/AppKitWorkspace.h"
#include "platform/CoreGraphics.h"
#include "platform/OncePerSystem.h"
#include "settings/Settings.h"
#include "switcher/Gestures.h"
#include "switcher/Switcher.h"

namespace trelliq {

namespace {

// The controller of the installed system, and the ones of earlier systems: those are
// stopped and kept, since their delayed work and tap threads may still hold them.
struct SharedSlot {
  std::mutex mutex;
  std::shared_ptr<Switcher> current;
  platform::SystemStamp system;
  std::vector<std::shared_ptr<Switcher>> retired;
};

SharedSlot& sharedSlot() {
  static auto& slot = *new SharedSlot();  // never destroyed: see above
  return slot;
}

// The workspace observers hold the controller weakly, so they are registered once the
// controller is owned by a shared pointer. They hop to the main queue themselves, taken
// when a notification arrives: a queue taken at registration would outlive its clock in
// a process that installs a fresh simulated system.
void observeWorkspace(Switcher& self) {
  auto& center = NSWorkspace::shared().notificationCenter();
  std::weak_ptr<Switcher> weak = self.weak();
  auto hop = [weak](auto work) {
    return [weak, work](const NSNotification& note) {
      platform::mainQueue().async([weak, work, note] {
        if (auto strong = weak.lock()) work(*strong, note);
      });
    };
  };
  self.notificationTokens.push_back(center.addObserver(NSWorkspaceDidTerminateApplicationNotification, nullptr, nullptr,
                                                       hop([](Switcher& s, const NSNotification& note) {
                                                         if (note.application)
                                                           s.appQuit(note.application->processIdentifier());
                                                       })));
  // Hidden apps draw differently on their tiles; a no-op edit announces the snapshot.
  auto redraw = hop([](Switcher& s, const NSNotification&) {
    if (s.isActive()) s.model.workspace.modify([](Workspace&) {});
  });
  self.notificationTokens.push_back(
      center.addObserver(NSWorkspaceDidHideApplicationNotification, nullptr, nullptr, redraw));
  self.notificationTokens.push_back(
      center.addObserver(NSWorkspaceDidUnhideApplicationNotification, nullptr, nullptr, redraw));
}

void stopObservingWorkspace(Switcher& self) {
  auto& center = NSWorkspace::shared().notificationCenter();
  for (const NSNotificationToken& token : self.notificationTokens) center.removeObserver(token);
  self.notificationTokens.clear();
}

// Posts the main-thread half of an opening. A begin that finds nothing to show hands the
// flag back, but only while it still belongs to this opening.
void postBegin(Switcher& self, Switcher::Action action, std::uint64_t generation, std::optional<NSScreen> screen) {
  const std::uint64_t pressed = platform::clock().monotonicNanos();
  platform::mainQueue().async([weak = self.weak(), action, pressed, screen = std::move(screen), generation] {
    auto strong = weak.lock();
    if (!strong) return;
    if (!strong->begin(action, pressed, screen, generation)) strong->gate().endOpen(generation);
  });
}

// The first step of the selection; false when a tray session finds the tray empty.
bool firstStep(SwitcherModel& model, const Switcher::Action& action) {
  using Kind = Switcher::Action::Kind;
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
      model.controlHeld = true;
      model.enterTray();
      return true;
  }
  return true;
}

}  // namespace

// ---- Lifecycle ---------------------------------------------------------------------------

Switcher& Switcher::shared() {
  SharedSlot& slot = sharedSlot();
  std::lock_guard lock(slot.mutex);
  const platform::SystemStamp system = platform::SystemStamp::now();
  if (!slot.current || slot.system != system) {
    if (slot.current) {
      // Its tap belongs to the system that is gone: it must not re-enable itself there,
      // nor hear of the new system's apps.
      slot.current->setTapStopped(true);
      stopObservingWorkspace(*slot.current);
      slot.retired.push_back(std::move(slot.current));
    }
    slot.current = make();
    // The process's switcher also opens from the hot corners and the double tap.
    slot.current->setWatches(triggerWatches());
    slot.system = system;
  }
  return *slot.current;
}

std::shared_ptr<Switcher> Switcher::make() {
  auto made = std::make_shared<Switcher>();
  observeWorkspace(*made);
  // The tap never reads the defaults itself (a read may go to the disk); the main queue
  // keeps its options current.
  made->eventTap().readOptions();
  // The main queue is asked for when the change comes: a switcher may outlive a clock.
  made->defaultsToken =
      NSNotificationCenter::defaultCenter().addObserver(NSUserDefaultsDidChangeNotification, nullptr, nullptr,
                                                        [weak = std::weak_ptr<Switcher>(made)](const NSNotification&) {
                                                          platform::mainQueue().async([weak] {
                                                            if (auto self = weak.lock()) self->eventTap().readOptions();
                                                          });
                                                        });
  return made;
}

Switcher::Switcher() {
  // The model belongs to this controller, so the subscription may use it directly; the
  // pass it schedules holds the controller weakly.
  modelObserver = model.subscribe([this](const ModelChange&) { scheduleModelChanged(); });
  model.pictureKeeping.onDrawnChange = [this] { schedulePictureKeeping(); };
}

Switcher::~Switcher() {
  model.unsubscribe(modelObserver);
  stopObservingWorkspace(*this);
  NSNotificationCenter::defaultCenter().removeObserver(defaultsToken);
  quitWatches.clear();
  showWork.cancel();
  if (CFMachPortRef port = gate_.tapPort()) CFMachPortInvalidate(port);
}

void Switcher::onMain(std::function<void(Switcher&)> work) {
  const std::uint64_t generation = gate_.openState().generation;
  platform::mainQueue().async([weak = weak(), generation, work = std::move(work)] {
    auto strong = weak.lock();
    if (!strong || !strong->active || strong->sessionGeneration != generation) return;
    work(*strong);
  });
}

void Switcher::scheduleModelChanged() {
  if (changeScheduled) return;
  auto strong = weak().lock();
  if (!strong) return;  // not owned by a shared pointer (being built or torn down)
  changeScheduled = true;
  platform::mainQueue().async([weak = weak()] {
    auto self = weak.lock();
    if (!self) return;
    self->changeScheduled = false;
    if (!self->active) return;
    self->ghost_.updateGhost();
    self->placePreview();
  });
}

void Switcher::appQuit(std::int32_t pid) {
  quitWatches.erase(pid);
  if (!active) return;
  model.animating(removal, [&] { model.removeApp(pid); });
  wallpaperNewDesktops();
}

// ---- Opening -------------------------------------------------------------------------------

void Switcher::open(Action action, CGEventFlags holding, bool staying, std::optional<NSScreen> screen) {
  const auto generation = gate_.tryOpen(holding, action, staying ? Staying::open : Staying::untilReleased);
  if (!generation) return;
  postBegin(*this, action, *generation, std::move(screen));
}

bool Switcher::begin(Action action, std::uint64_t pressedNanos, std::optional<NSScreen> screen,
                     std::uint64_t generation) {
  // After stopTap nothing could close the session again.
  if (tapStopped()) return false;
  session += 1;
  appPID.reset();

  using Kind = Action::Kind;
  switch (action.kind) {
    case Kind::tile:
    case Kind::clusters:
    case Kind::clusterTray:
      clusterTiles = true;
      break;
    case Kind::cycle:
    case Kind::space:
    case Kind::tray:
      clusterTiles = false;
      break;
    case Kind::appWindows: {
      const auto front = NSWorkspace::shared().frontmostApplication();
      if (!front) return false;
      appPID = front->processIdentifier();
      appDesktops = front->bundleIdentifier() == std::optional<std::string>(finderBundleIdentifier);
      clusterTiles = Settings::tiles() == Settings::Tiles::windows;
      break;
    }
  }

  Workspace snapshot = loadWorkspace();
  if (action.isAppWindows() && snapshot.displays.empty()) return false;

  std::optional<int> display;
  if (screen) {
    for (std::size_t i = 0; i < snapshot.displays.size() && !display; ++i) {
      if (snapshot.displays[i].screen == *screen) display = static_cast<int>(i);
    }
  }
  if (!display) display = action.isAppWindows() ? memory_.appDisplay(snapshot) : memory_.openingDisplay(snapshot);

  openedOn = *display;
  model.reset(std::move(snapshot), *display);
  const bool staying = staysOpen();
  if (!staying && !firstStep(model, action)) return false;

  active = true;
  sessionGeneration = generation;
  updateHaze();
  pointerFollower_.trackPointer();
  shown = false;

  // The delay counts from the key press, so a quick press and release never shows panels.
  const std::uint64_t due =
      staying ? pressedNanos : pressedNanos + static_cast<std::uint64_t>(SwitcherTiming::showDelay * 1e9);
  showWork = platform::mainQueue().asyncAt(due, [weak = weak()] {
    if (auto self = weak.lock()) self->show();
  });

  if (capturesThumbnails()) {
    refreshThumbnails();
  } else {
    model.thumbnails.set({});
  }
  refreshWallpapers();
  if (Settings::showInPlace()) ghost_.prebuildDestinations();
  return true;
}

void Switcher::presentSnapshot() {
  active = true;
  updateHaze();
  panels_.showPanels(preview_.window());
  refreshWallpapers();
  if (Settings::showInPlace()) ghost_.prebuildDestinations();
}

void Switcher::warmUp() {
  platform::mainQueue().async([weak = weak()] {
    auto self = weak.lock();
    // A session that began first (⌘⇥ right at the start) has the model and the panels.
    if (!self || self->active) return;
    self->model.reset(Workspace::load(Settings::desktops(), false), 0);
    const std::vector<NSScreen> screens = NSScreen::screens();
    std::vector<NSWindow*> windows;
    for (std::size_t i = 0; i < screens.size(); ++i)
      windows.push_back(self->panels_.panel(static_cast<int>(i)).window.get());
    for (std::size_t i = 0; i < windows.size(); ++i) {
      windows[i]->setFrame(screens[i].frame(), false);
      windows[i]->setAlphaValue(0);
      windows[i]->orderFrontRegardless();
    }
    self->preview_.window();
    self->ghost_.panel();
    platform::mainQueue().async([weak = self->weak(), windows] {
      auto self = weak.lock();
      if (!self) return;
      for (NSWindow* window : windows) {
        // Panels a session showed meanwhile stay up.
        if (!self->shown) window->orderOut(nullptr);
        window->setAlphaValue(1);
      }
    });
  });
}

void Switcher::openFromCorner(const NSScreen& screen) {
  if (!gate_.tapPort()) return;
  if (active) {
    if (staysOpen() && !isRenaming()) cancel(false);
    return;
  }
  const bool windowTiles = Settings::tiles() == Settings::Tiles::windows;
  const Action action = windowTiles ? Action::clusters(1) : Action::cycle(1);
  const auto generation = gate_.tryOpen(kCGEventFlagMaskCommand, action, Staying::open);
  if (!generation) return;
  postBegin(*this, action, *generation, screen);
}

void Switcher::toggleFromGesture() {
  if (!gate_.tapPort()) return;
  if (active) {
    if (!isRenaming()) cancel(false);
    return;
  }
  const bool windowTiles = Settings::tiles() == Settings::Tiles::windows;
  const Action action = windowTiles ? Action::clusters(1) : Action::cycle(1);
  const auto generation = gate_.tryOpen(kCGEventFlagMaskCommand, action, Staying::open);
  if (!generation) return;
  postBegin(*this, action, *generation, std::nullopt);
}

// ---- Commit and cancel -----------------------------------------------------------------------

void Switcher::commit() {
  std::vector<Switch> plan = SwitchPerformer::plannedSwitches(model, openedOn);
  cancel(Settings::instantSpaces());
  performer_.perform(std::move(plan), [weak = weak()] {
    if (auto self = weak.lock()) self->commitDone();
  });
}

void Switcher::cancel(bool keepGhost) {
  const bool wasActive = active;
  if (wasActive) {
    const DisplayGroup* focusedDisplay = model.display(model.focused());
    memory_.sessionEnded(focusedDisplay ? std::optional(focusedDisplay->id) : std::nullopt);
  }
  active = false;
  // A newer opening may already own the flag (⌘ released and ⌘⇥ pressed again before
  // this ran): only this session's own flag is cleared. Its click targets go regardless,
  // since no later session has shown anything yet.
  gate_.endOpen(wasActive ? std::optional(sessionGeneration) : std::nullopt);
  setClickTargets({});

  model.renaming.set(std::nullopt);
  model.justNamed.set(std::nullopt);
  model.hoveredName.set(std::nullopt);
  renamingDisplay.reset();
  panels_.setTakesKeys(false);

  showWork.cancel();
  showWork = {};
  shown = false;
  modifierTaps_.forgetAll();
  pointerFollower_.stop();

  panels_.hide();
  preview_.hide();
  if (keepGhost) {
    ghost_.stopCapturing();
  } else {
    ghost_.hideGhost();
  }
}

}  // namespace trelliq
