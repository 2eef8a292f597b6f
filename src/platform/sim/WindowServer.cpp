#include "platform/sim/WindowServer.h"

#include <algorithm>
#include <atomic>

#include "platform/sim/DisplayComposer.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

using platform::WorkspaceEvent;

namespace {

std::atomic<WindowServer*> gActive{nullptr};

double monotonicNow() { return platform::clock().monotonicSeconds(); }

}  // namespace

void registerUnpublishedFunctions(World& world);  // UnpublishedFunctions.cpp
void resetSymbolicHotKeys();                      // UnpublishedFunctions.cpp

WindowServer::WindowServer(World& world)
    : world_(world),
      state_(std::make_unique<State>()),
      composer_(std::make_unique<DisplayComposer>()),
      lifetime_(std::make_shared<Lifetime>()) {
  App own;
  own.name = "Trelliq";
  own.bundleIdentifier = World::kApplicationDomain;
  own.bundlePath = "/Applications/Trelliq.app";
  own.iconColor = 0x4F7F6A;
  own.policy = platform::ActivationPolicy::accessory;
  state_->desk.setOwnApp(own, 0);
  state_->desk.allApps().at(kOwnPID).launchDate.reset();
  resetSymbolicHotKeys();
  registerUnpublishedFunctions(world_);
  world_.attachWindowServer(this);
  gActive.store(this);
}

WindowServer::~WindowServer() {
  {
    std::unique_lock guard(lifetime_->mutex);
    lifetime_->alive = false;
  }
  WindowServer* self = this;
  gActive.compare_exchange_strong(self, nullptr);
  if (world_.windowServer() == this) world_.attachWindowServer(nullptr);
}

WindowServer* WindowServer::active() { return gActive.load(); }

// ---------------------------------------------------------------------------------------------
// The lock, the listeners and the clock

void WindowServer::edit(const std::function<void(Desk&)>& change) const { access(change, true); }

void WindowServer::read(const std::function<void(const Desk&)>& look) const {
  access([&](Desk& desk) { look(desk); }, false);
}

WindowServer::State& WindowServer::lookedAt() const { return *state_; }

void WindowServer::access(const std::function<void(Desk&)>& work, bool changes) const {
  std::vector<DeskChange> changed;
  std::vector<WorkspaceEvent> events;
  std::vector<std::shared_ptr<std::function<void(const DeskChange&)>>> listeners;
  std::shared_ptr<std::function<void(const WorkspaceEvent&)>> workspace;
  bool counted = false, pointerMoved = false;
  {
    std::lock_guard lock(mutex_);
    Desk& desk = state_->desk;
    const std::uint64_t generation = desk.generation();
    const CGPoint pointer = desk.pointer;
    bool moved = false;  // before `work`: displays synced, a slide landed
    // Taking the world's displays again is only needed after they changed.
    if (auto displays = world_.displaysSince(desk.syncedDisplays)) {
      desk.syncDisplays(*displays);
      moved = true;
    }
    if (!state_->pointerSet && !desk.displayOrder().empty()) {
      const CGRect& f = desk.display(desk.displayOrder().front())->frame;
      desk.pointer = {f.midX(), f.midY()};
      state_->pointerSet = true;
    }
    if (desk.slidesMayRun()) desk.finishSlides(monotonicNow());
    if (desk.generation() != generation) {
      state_->order.reset();
      moved = true;
    }
    if (moved) ++state_->deskChanges;  // before `work`, so a program that asks now reads everything
    state_->ownMarked = false;
    work(desk);
    const bool system = desk.systemDirty();
    if (system) desk.refreshSystemWindows(world_.osVersion());
    counted = changes || desk.generation() != generation;
    if (counted || moved) ++state_->edits;
    // Only an own-window request says what it changed; anything else may change them all.
    if (counted && (system || !state_->ownMarked)) ++state_->deskChanges;
    pointerMoved = desk.pointer != pointer;
    if (counted) state_->order.reset();
    changed = desk.takeChanges();
    events = desk.takeEvents();
    if (!changed.empty()) {
      for (const auto& [id, l] : state_->listeners) listeners.push_back(l);
    }
    if (!events.empty()) workspace = state_->workspaceListener;
  }
  for (const DeskChange& c : changed) {
    for (const auto& l : listeners) (*l)(c);
  }
  if (workspace) {
    for (const WorkspaceEvent& e : events) (*workspace)(e);
  }
  // Counted once the listeners (the accessibility service's element index among them)
  // caught up, so an answer read before the count moved is never newer than its count.
  if (counted) world_.noteChange(pointerMoved ? World::Reach::beyondDesk : World::Reach::desk);
}

void WindowServer::after(double delay, std::function<void()> work) const {
  std::weak_ptr<Lifetime> life = lifetime_;
  auto run = [life, work = std::move(work)] {
    auto alive = life.lock();
    if (!alive) return;
    std::shared_lock guard(alive->mutex);
    if (alive->alive) work();
  };
  platform::Executor& queue = platform::clock().queue("window server");
  if (delay <= 0) {
    queue.async(std::move(run));
  } else {
    queue.asyncAfter(delay, std::move(run));
  }
}

bool WindowServer::startSwitch(std::uint64_t space, SwitchStyle style) const {
  bool ok = false;
  double duration = 0;
  edit([&](Desk& desk) {
    duration = style == SwitchStyle::slide   ? state_->timings.slide
               : style == SwitchStyle::swipe ? state_->timings.settle
                                             : 0;
    ok = desk.switchSpace(space, duration > 0, monotonicNow(), duration, style == SwitchStyle::swipe);
  });
  // Landing the slide on time posts its notification even when nobody looks meanwhile.
  if (ok && duration > 0) after(duration, [this] { edit([](Desk&) {}); });
  return ok;
}

void WindowServer::follow(std::uint32_t window) const {
  std::optional<std::uint64_t> target;
  double delay = 0;
  edit([&](Desk& desk) {
    const Window* w = desk.window(window);
    if (!w || w->minimized || w->allSpaces || desk.onActiveSpace(window)) return;
    if (state_->failureOf(Reaction::followSpace) != Failure::none) return;
    for (std::uint64_t s : w->spaces) {
      const Space* sp = desk.space(s);
      if (sp && sp->managed) {
        target = s;
        break;
      }
    }
    switch (state_->follow) {
      case SpaceFollow::follows:
        delay = state_->timings.follow;
        break;
      case SpaceFollow::followsLate:
        delay = state_->timings.followLate;
        break;
      case SpaceFollow::doesNotFollow:
        target.reset();
        break;
    }
  });
  if (!target) return;
  const std::uint64_t space = *target;
  after(delay, [this, space] { startSwitch(space, SwitchStyle::slide); });
}

// ---------------------------------------------------------------------------------------------
// Services and settings

void WindowServer::attachAccessibility(std::unique_ptr<AccessibilityService> service) {
  accessibility_ = std::move(service);
}

void WindowServer::attachEvents(std::unique_ptr<EventService> service) { events_ = std::move(service); }

void WindowServer::resetDesk() {
  edit([&](Desk& desk) {
    const std::int32_t own = desk.ownPID();
    std::optional<App> ownApp;
    if (const App* a = desk.app(own)) ownApp = *a;
    const CGPoint pointer = desk.pointer;
    desk = Desk();
    state_->icons.clear();
    state_->unmatchedManagedDisplays.clear();
    state_->ownKeys.clear();
    desk.setOwnPID(own);
    desk.pointer = pointer;
    if (ownApp) {
      ownApp->focusedWindow = 0;
      desk.setOwnApp(*ownApp, 0);
    }
  });
}

void WindowServer::setTimings(const Timings& timings) {
  std::lock_guard lock(mutex_);
  state_->timings = timings;
}

Timings WindowServer::timings() const {
  std::lock_guard lock(mutex_);
  return state_->timings;
}

void WindowServer::setFailure(Reaction reaction, Failure failure) {
  std::lock_guard lock(mutex_);
  state_->failures[reaction] = failure;
}

Failure WindowServer::failure(Reaction reaction) const {
  std::lock_guard lock(mutex_);
  return state_->failureOf(reaction);
}

void WindowServer::setSpaceFollow(SpaceFollow follow) {
  std::lock_guard lock(mutex_);
  state_->follow = follow;
}

SpaceFollow WindowServer::spaceFollow() const {
  std::lock_guard lock(mutex_);
  return state_->follow;
}

// ---------------------------------------------------------------------------------------------
// Displays and Spaces

std::vector<DisplaySpaces> WindowServer::displays() {
  std::vector<DisplaySpaces> result;
  read([&](const Desk& desk) {
    for (std::uint32_t id : desk.displayOrder()) {
      const DeskDisplay* dd = desk.display(id);
      const DeskDisplay* h = desk.holder(id);
      DisplaySpaces d{id, dd->uuid, dd->frame, {}, h->current};
      for (std::uint64_t s : h->spaces) d.spaces.push_back(*desk.space(s));
      result.push_back(std::move(d));
    }
  });
  return result;
}

void WindowServer::setSharedSpaces(bool shared) {
  edit([&](Desk& desk) { desk.setShared(shared); });
}

bool WindowServer::sharedSpaces() const {
  std::lock_guard lock(mutex_);
  return state_->desk.shared();
}

bool WindowServer::setSpaces(std::uint32_t displayID, std::vector<Space> spaces, std::optional<std::uint64_t> current) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.setSpaces(displayID, std::move(spaces), current); });
  return ok;
}

std::uint64_t WindowServer::addSpace(std::uint32_t displayID, Space space, std::optional<std::size_t> at) {
  std::uint64_t id = 0;
  edit([&](Desk& desk) { id = desk.addSpace(displayID, std::move(space), at); });
  return id;
}

bool WindowServer::removeSpace(std::uint64_t space) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.removeSpace(space); });
  return ok;
}

std::optional<Space> WindowServer::space(std::uint64_t space) const {
  std::optional<Space> result;
  read([&](const Desk& desk) {
    if (const Space* s = desk.space(space)) result = *s;
  });
  return result;
}

std::optional<std::uint32_t> WindowServer::displayOfSpace(std::uint64_t space) const {
  std::optional<std::uint32_t> result;
  read([&](const Desk& desk) { result = desk.displayOfSpace(space); });
  return result;
}

std::optional<std::uint64_t> WindowServer::currentSpace(std::uint32_t displayID) {
  std::optional<std::uint64_t> result;
  read([&](const Desk& desk) {
    if (const DeskDisplay* dd = desk.holder(displayID); dd && dd->current) result = dd->current;
  });
  return result;
}

std::vector<std::uint64_t> WindowServer::currentSpaces() {
  std::vector<std::uint64_t> result;
  read([&](const Desk& desk) { result = desk.currentSpaces(); });
  return result;
}

std::optional<std::uint64_t> WindowServer::spaceToLeft(std::uint32_t displayID) {
  std::optional<std::uint64_t> result;
  read([&](const Desk& desk) { result = desk.neighbour(displayID, -1); });
  return result;
}

std::optional<std::uint64_t> WindowServer::spaceToRight(std::uint32_t displayID) {
  std::optional<std::uint64_t> result;
  read([&](const Desk& desk) { result = desk.neighbour(displayID, 1); });
  return result;
}

bool WindowServer::switchSpace(std::uint64_t space, SwitchStyle style) { return startSwitch(space, style); }

bool WindowServer::isSliding(std::uint32_t displayID) const {
  bool result = false;
  read([&](const Desk& desk) {
    const DeskDisplay* dd = desk.holder(displayID);
    result = dd && dd->slide.has_value();
  });
  return result;
}

std::optional<std::uint32_t> WindowServer::displayAt(CGPoint point) {
  std::optional<std::uint32_t> result;
  read([&](const Desk& desk) { result = desk.displayAt(point); });
  return result;
}

// ---------------------------------------------------------------------------------------------
// Applications

std::int32_t WindowServer::addApp(App app) {
  std::int32_t pid = 0;
  const double now = platform::now();
  edit([&](Desk& desk) {
    pid = desk.addApp(std::move(app), now);
    state_->icons.erase(pid);  // a pid used again is another app
  });
  return pid;
}

void WindowServer::addInstalledApp(App app) {
  edit([&](Desk& desk) { desk.addInstalled(std::move(app)); });
}

std::vector<App> WindowServer::apps() const {
  std::vector<App> result;
  read([&](const Desk& desk) { result = desk.runningApps(); });
  return result;
}

std::optional<App> WindowServer::app(std::int32_t pid) const {
  std::optional<App> result;
  read([&](const Desk& desk) {
    if (const App* a = desk.app(pid)) result = *a;
  });
  return result;
}

std::optional<std::int32_t> WindowServer::appWithBundlePath(const std::string& path) const {
  std::optional<std::int32_t> result;
  read([&](const Desk& desk) {
    for (const App& a : desk.runningApps()) {
      if (a.bundlePath == path) {
        result = a.pid;
        return;
      }
    }
  });
  return result;
}

std::optional<std::int32_t> WindowServer::frontmost() const {
  std::optional<std::int32_t> result;
  read([&](const Desk& desk) { result = desk.frontmost(); });
  return result;
}

std::vector<std::int32_t> WindowServer::activationOrder() const {
  std::vector<std::int32_t> result;
  read([&](const Desk& desk) { result = desk.activation(); });
  return result;
}

bool WindowServer::makeFrontmost(std::int32_t pid, bool raise) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.makeFrontmost(pid, raise); });
  return ok;
}

void WindowServer::pressedOnWindow(std::uint32_t number) {
  edit([&](Desk& desk) {
    const Window* w = desk.window(number);
    if (!w || w->layer != 0) return;
    if (!w->own) {
      desk.raise(number);
      desk.makeFrontmost(w->pid);
      return;
    }
    // The program orders and keys its own window; a panel that does not activate leaves
    // the front where it is.
    const auto state = desk.ownStates.find(number);
    const bool activates = state != desk.ownStates.end() && !(state->second.styleMask & kNonactivatingPanelBit);
    if (activates) desk.makeFrontmost(w->pid, false);
  });
}

bool WindowServer::setHidden(std::int32_t pid, bool hidden) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.setHidden(pid, hidden); });
  return ok;
}

bool WindowServer::terminate(std::int32_t pid) {
  bool ok = false;
  edit([&](Desk& desk) {
    ok = desk.terminate(pid);
    // Icons go with the processes the desk forgot.
    std::erase_if(state_->icons, [&](const auto& icon) { return !desk.app(icon.first); });
  });
  return ok;
}

void WindowServer::resignFront(std::int32_t pid) {
  edit([&](Desk& desk) { desk.resignFront(pid); });
}

std::size_t WindowServer::keptProcessCount() const {
  std::size_t count = 0;
  read([&](const Desk& desk) { count = std::max(desk.allApps().size(), state_->icons.size()); });
  return count;
}

bool WindowServer::updateApp(std::int32_t pid, const std::function<void(App&)>& change) {
  bool ok = false;
  edit([&](Desk& desk) {
    App* a = desk.app(pid);
    if (!a) return;
    const App before = *a;
    change(*a);
    a->pid = before.pid;
    a->terminated = before.terminated;
    a->hidden = before.hidden;
    state_->icons.erase(pid);
    ok = true;
  });
  return ok;
}

void WindowServer::setOwnPID(std::int32_t pid) {
  edit([&](Desk& desk) { desk.setOwnPID(pid); });
}

void WindowServer::setOwnApp(App app) {
  const double now = platform::now();
  edit([&](Desk& desk) {
    desk.setOwnApp(std::move(app), now);
    state_->icons.erase(desk.ownPID());
  });
}

void WindowServer::setURLHandler(const std::string& schemeOrExtension, const std::string& bundlePath) {
  edit([&](Desk& desk) { desk.urlHandlers[schemeOrExtension] = bundlePath; });
}

std::vector<std::string> WindowServer::openedURLs() const {
  std::vector<std::string> result;
  read([&](const Desk& desk) { result = desk.openedURLs; });
  return result;
}

// ---------------------------------------------------------------------------------------------
// Windows

std::uint32_t WindowServer::addWindow(Window window) {
  std::uint32_t number = 0;
  edit([&](Desk& desk) { number = desk.addWindow(std::move(window)); });
  return number;
}

bool WindowServer::removeWindow(std::uint32_t number) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.removeWindow(number); });
  return ok;
}

std::vector<Window> WindowServer::windows() const {
  std::vector<Window> result;
  read([&](const Desk&) {
    for (const Window* w : state_->ordered().all) result.push_back(*w);
  });
  return result;
}

std::optional<Window> WindowServer::window(std::uint32_t number) const {
  std::optional<Window> result;
  read([&](const Desk& desk) {
    if (const Window* w = desk.window(number)) result = *w;
  });
  return result;
}

std::vector<Window> WindowServer::windowsOf(std::int32_t pid) const {
  std::vector<Window> result;
  read([&](const Desk&) {
    const auto& byOwner = state_->ordered().byOwner;
    if (auto it = byOwner.find(pid); it != byOwner.end()) {
      for (const Window* w : it->second) result.push_back(*w);
    }
  });
  return result;
}

std::optional<std::uint32_t> WindowServer::windowWithElement(std::int32_t pid, std::uint64_t element) const {
  std::optional<std::uint32_t> result;
  if (element == 0) return result;
  read([&](const Desk&) {
    const auto& byOwner = state_->ordered().byOwner;
    auto it = byOwner.find(pid);
    if (it == byOwner.end()) return;
    for (const Window* w : it->second) {
      if (w->axElement == element && (!result || w->number < *result)) result = w->number;
    }
  });
  return result;
}

bool WindowServer::updateWindow(std::uint32_t number, const std::function<void(Window&)>& change) {
  bool ok = false;
  edit([&](Desk& desk) {
    Window* w = desk.window(number);
    if (!w) return;
    const Window before = *w;
    change(*w);
    w->number = before.number;
    w->pid = before.pid;
    w->own = before.own;
    desk.note({DeskChange::Kind::windowOrdered, w->pid, number});
    ok = true;
  });
  return ok;
}

bool WindowServer::raiseWindow(std::uint32_t number) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.raise(number); });
  return ok;
}

bool WindowServer::setMinimized(std::uint32_t number, bool minimized) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.setMinimized(number, minimized); });
  return ok;
}

bool WindowServer::setFullScreen(std::uint32_t number, bool fullScreen) {
  bool ok = false;
  bool sliding = false;
  double duration = 0;
  edit([&](Desk& desk) {
    duration = state_->timings.slide;
    ok = desk.setFullScreen(number, fullScreen, monotonicNow(), duration);
    for (std::uint32_t d : desk.displayOrder()) sliding = sliding || desk.display(d)->slide.has_value();
  });
  if (sliding) after(duration, [this] { edit([](Desk&) {}); });
  return ok;
}

bool WindowServer::moveWindow(std::uint32_t number, CGPoint origin) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.move(number, origin, std::nullopt); });
  return ok;
}

bool WindowServer::resizeWindow(std::uint32_t number, CGSize size) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.move(number, std::nullopt, size); });
  return ok;
}

bool WindowServer::setWindowTitle(std::uint32_t number, const std::string& title) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.setTitle(number, title); });
  return ok;
}

bool WindowServer::setWindowSpaces(std::uint32_t number, std::vector<std::uint64_t> spaces) {
  bool ok = false;
  edit([&](Desk& desk) { ok = desk.setSpaces(number, std::move(spaces)); });
  return ok;
}

std::vector<std::uint64_t> WindowServer::spacesOfWindow(std::uint32_t number) const {
  std::vector<std::uint64_t> result;
  read([&](const Desk& desk) { result = desk.spacesOf(number); });
  return result;
}

bool WindowServer::isOnScreen(std::uint32_t number) const {
  bool result = false;
  read([&](const Desk& desk) { result = desk.onScreen(number); });
  return result;
}

std::optional<std::uint32_t> WindowServer::windowAt(CGPoint point) const {
  std::optional<std::uint32_t> result;
  read([&](const Desk& desk) { result = desk.windowAt(point); });
  return result;
}

// ---------------------------------------------------------------------------------------------
// Pointer, program events, records

void WindowServer::setPointer(CGPoint location) {
  bool moved = false;
  edit([&](Desk& desk) {
    moved = !(desk.pointer == location);
    desk.pointer = location;
    state_->pointerSet = true;
  });
  if (moved && events_) events_->pointerMoved(location);
}

void WindowServer::placePointer(CGPoint location) {
  edit([&](Desk& desk) {
    desk.pointer = location;
    state_->pointerSet = true;
  });
}

void WindowServer::announceWake() {
  edit([](Desk& desk) { desk.post(platform::WorkspaceEvent::Kind::didWake); });
}

CGPoint WindowServer::pointerLocation() {
  CGPoint p;
  read([&](const Desk& desk) { p = desk.pointer; });
  return p;
}

void WindowServer::warpPointer(CGPoint location) { setPointer(location); }

void WindowServer::deliverToProgram(const CGEvent& event, std::uint32_t windowNumber, std::int32_t pid) {
  std::shared_ptr<std::function<void(const CGEvent&, std::uint32_t)>> own;
  std::shared_ptr<std::function<void(const CGEvent&, std::uint32_t, std::int32_t)>> programs;
  {
    std::lock_guard lock(mutex_);
    ActingProgram world(0);  // whoever posted the event
    if (!pid) pid = state_->desk.ownPID();
    programs = state_->programEventListener;
    if (pid == state_->desk.ownPID()) own = state_->ownEventListener;
  }
  if (own) (*own)(event, windowNumber);
  if (programs) (*programs)(event, windowNumber, pid);
}

std::optional<std::int32_t> WindowServer::keyboardProgram() const {
  std::optional<std::int32_t> program;
  read([&](const Desk& desk) {
    if (const std::optional<std::int32_t> front = desk.frontmost()) {
      const auto& windows = desk.allWindows();
      const bool hasOwnWindows = std::any_of(windows.begin(), windows.end(), [&](const auto& entry) {
        return entry.second.own && entry.second.pid == *front;
      });
      sim::WindowServer::ActingProgram world(0);  // whoever posted the key
      if (*front == desk.ownPID() || hasOwnWindows) {
        program = *front;
        return;
      }
    }
    std::uint64_t newest = 0;
    for (const auto& [pid, key] : state_->ownKeys) {
      const Window* w = desk.window(key.number);
      const auto requested = desk.ownStates.find(key.number);
      if (w && w->own && w->orderedIn && requested != desk.ownStates.end() &&
          (requested->second.styleMask & kNonactivatingPanelBit) && key.made > newest) {
        newest = key.made;
        program = pid;
      }
    }
  });
  return program;
}

void WindowServer::setProgramEventListener(
    std::function<void(const CGEvent&, std::uint32_t, std::int32_t)> listener) {
  std::lock_guard lock(mutex_);
  state_->programEventListener =
      listener ? std::make_shared<std::function<void(const CGEvent&, std::uint32_t, std::int32_t)>>(std::move(listener))
               : nullptr;
}

void WindowServer::setOwnEventListener(std::function<void(const CGEvent&, std::uint32_t)> listener) {
  std::lock_guard lock(mutex_);
  state_->ownEventListener =
      listener ? std::make_shared<std::function<void(const CGEvent&, std::uint32_t)>>(std::move(listener)) : nullptr;
}

void WindowServer::setWorkspaceListener(std::function<void(const WorkspaceEvent&)> listener) {
  std::lock_guard lock(mutex_);
  state_->workspaceListener =
      listener ? std::make_shared<std::function<void(const WorkspaceEvent&)>>(std::move(listener)) : nullptr;
}

std::uint64_t WindowServer::generation() const {
  std::lock_guard lock(mutex_);
  // Every frame a program publishes counts: sequences only grow, and a surface handed over
  // or taken away counts once more.
  std::uint64_t generation = state_->desk.generation() + state_->surfaceChanges + state_->retiredFrames;
  // The menu bar's clock shows the minute.
  generation += static_cast<std::uint64_t>(std::max(0.0, platform::clock().now() / 60));
  for (const auto& [number, surface] : state_->ownSurfaces) generation += surface->sequence();
  return generation;
}

bool WindowServer::changesWithTime() const {
  bool sliding = false;
  read([&](const Desk& desk) { sliding = desk.slidesMayRun(); });
  return sliding;
}

void WindowServer::recordPrivateCall(PrivateCall call) {
  constexpr std::size_t kMaxPrivateCalls = 10'000;
  std::lock_guard lock(mutex_);
  auto& calls = state_->desk.privateCalls;
  if (calls.size() >= kMaxPrivateCalls) calls.pop_front();
  calls.push_back(std::move(call));
}

std::vector<PrivateCall> WindowServer::privateCalls(const std::string& symbol) const {
  std::lock_guard lock(mutex_);
  std::vector<PrivateCall> result;
  for (const PrivateCall& c : state_->desk.privateCalls) {
    if (symbol.empty() || c.symbol == symbol) result.push_back(c);
  }
  return result;
}

void WindowServer::clearPrivateCalls() {
  std::lock_guard lock(mutex_);
  state_->desk.privateCalls.clear();
}

std::vector<DeskChange> WindowServer::changes() const {
  std::lock_guard lock(mutex_);
  return state_->desk.changeLog;
}

void WindowServer::clearChanges() {
  std::lock_guard lock(mutex_);
  state_->desk.changeLog.clear();
}

std::uint64_t WindowServer::addChangeListener(std::function<void(const DeskChange&)> listener) {
  std::lock_guard lock(mutex_);
  const std::uint64_t id = state_->nextListener++;
  state_->listeners[id] = std::make_shared<std::function<void(const DeskChange&)>>(std::move(listener));
  return id;
}

void WindowServer::removeChangeListener(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  state_->listeners.erase(id);
}

}  // namespace sim
