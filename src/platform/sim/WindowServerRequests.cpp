// The system's reactions to the program's requests, and the workspace half of the port:
// each request is checked at once (unknown targets and refusals answer false) and takes
// effect later on the server's queue.

#include <algorithm>
#include <cctype>

#include "platform/AppKitWorkspace.h"
#include "platform/sim/SettingsPane.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

using platform::WorkspaceEvent;

namespace {

/// Whether a request goes ahead: false for a refusal; `ignored` when it answers success only.
bool admit(Failure f, bool& ignored) {
  ignored = f == Failure::ignore;
  return f != Failure::refuse;
}

platform::RunningApplicationInfo describe(const App& a, std::optional<std::int32_t> frontmost, CGImageRef icon) {
  platform::RunningApplicationInfo info;
  info.pid = a.pid;
  info.localizedName = a.name;
  info.bundleIdentifier = a.bundleIdentifier;
  info.bundleURL = a.bundlePath;
  info.icon = std::move(icon);
  info.activationPolicy = a.policy;
  info.launchDate = a.launchDate;
  info.hidden = a.hidden;
  info.active = !a.terminated && frontmost == a.pid;
  info.terminated = a.terminated;
  info.finishedLaunching = a.finishedLaunching;
  return info;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests

bool WindowServer::requestFrontProcess(std::int32_t pid, std::uint32_t window) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    const App* a = desk.app(pid);
    known = a && !a->terminated;
    go = admit(state_->failureOf(Reaction::frontProcess), ignored);
    delay = state_->timings.activate;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, pid, window] {
    std::uint32_t raised = 0;
    edit([&](Desk& desk) {
      if (!desk.makeFrontmost(pid)) return;
      const Window* w = desk.window(window);
      if (w && w->pid == pid && !w->minimized) {
        desk.raise(window);
        raised = window;
      } else if (const App* a = desk.app(pid)) {
        raised = a->focusedWindow;
      }
    });
    if (raised) follow(raised);
  });
  return true;
}

bool WindowServer::requestActivate(std::int32_t pid, std::uint32_t options) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    const App* a = desk.app(pid);
    known = a && !a->terminated && a->policy != platform::ActivationPolicy::prohibited;
    go = admit(state_->failureOf(Reaction::activate), ignored);
    delay = state_->timings.activate;
    if (known && go && !ignored) ++state_->activating[pid];
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, pid, options] {
    std::uint32_t focused = 0;
    edit([&](Desk& desk) {
      if (auto it = state_->activating.find(pid); it != state_->activating.end() && --it->second <= 0)
        state_->activating.erase(it);
      if (!desk.makeFrontmost(pid)) return;
      if (options & NSApplicationActivateAllWindows) {
        // Raise back to front so the app's windows keep their order among themselves.
        std::vector<std::uint32_t> mine;
        for (const Window* w : desk.ordered()) {
          if (w->pid == pid && w->layer == 0 && w->orderedIn) mine.push_back(w->number);
        }
        for (auto it = mine.rbegin(); it != mine.rend(); ++it) desk.raise(*it);
      }
      if (const App* a = desk.app(pid)) focused = a->focusedWindow;
      if (focused) desk.raise(focused);
    });
    if (focused) follow(focused);
  });
  return true;
}

bool WindowServer::requestRaise(std::uint32_t window) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    known = desk.window(window) != nullptr;
    go = admit(state_->failureOf(Reaction::raise), ignored);
    delay = state_->timings.raise;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, window] { edit([&](Desk& desk) { desk.raise(window); }); });
  return true;
}

bool WindowServer::requestMinimize(std::uint32_t window, bool minimized) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    known = desk.window(window) != nullptr;
    go = admit(state_->failureOf(minimized ? Reaction::minimize : Reaction::unminimize), ignored);
    delay = state_->timings.minimize;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, window, minimized] { edit([&](Desk& desk) { desk.setMinimized(window, minimized); }); });
  return true;
}

bool WindowServer::requestFullScreen(std::uint32_t window, bool fullScreen) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    known = desk.window(window) != nullptr;
    go = admit(state_->failureOf(fullScreen ? Reaction::fullScreen : Reaction::exitFullScreen), ignored);
    delay = state_->timings.fullScreen;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, window, fullScreen] { setFullScreen(window, fullScreen); });
  return true;
}

bool WindowServer::requestMove(std::uint32_t window, std::optional<CGPoint> origin, std::optional<CGSize> size) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    known = desk.window(window) != nullptr;
    go = admit(state_->failureOf(Reaction::move), ignored);
    delay = state_->timings.move;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  auto apply = [this, window, origin, size] { edit([&](Desk& desk) { desk.move(window, origin, size); }); };
  if (delay <= 0) {
    apply();
  } else {
    after(delay, apply);
  }
  return true;
}

bool WindowServer::requestHide(std::int32_t pid, bool hidden) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    const App* a = desk.app(pid);
    known = a && !a->terminated;
    go = admit(state_->failureOf(hidden ? Reaction::hide : Reaction::unhide), ignored);
    delay = state_->timings.hide;
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, pid, hidden] { edit([&](Desk& desk) { desk.setHidden(pid, hidden); }); });
  return true;
}

bool WindowServer::requestTerminate(std::int32_t pid, bool force) {
  bool known = false, ignored = false, go = false;
  double delay = 0;
  edit([&](Desk& desk) {
    const App* a = desk.app(pid);
    known = a && !a->terminated && pid != desk.ownPID();
    go = admit(state_->failureOf(Reaction::terminate), ignored);
    if (known && go && !ignored && !force) {
      // An app asked politely may say no, or say yes and never get round to it.
      if (a->quitBehavior == QuitBehavior::refuses) go = false;
      if (a->quitBehavior == QuitBehavior::ignores) ignored = true;
    }
    delay = state_->timings.terminate + (force || !a ? 0 : a->quitDelay);
  });
  if (!known || !go) return false;
  if (ignored) return true;
  after(delay, [this, pid] { edit([&](Desk& desk) { desk.terminate(pid); }); });
  return true;
}

void WindowServer::openFirstWindow(std::int32_t pid) const {
  edit([&](Desk& desk) {
    if (state_->failureOf(Reaction::firstWindow) != Failure::none) return;
    const App* a = desk.app(pid);
    if (!a || a->terminated || !a->opensFirstWindow) return;
    for (const Window* w : desk.ordered()) {
      if (w->pid == pid && w->layer == 0 && !w->desktopElement) return;  // it has one by now
    }
    std::optional<std::uint32_t> d;
    if (a->firstWindowDisplay && desk.display(*a->firstWindowDisplay)) d = a->firstWindowDisplay;
    if (!d) d = desk.displayAt(desk.pointer);
    if (!d) return;
    const CGRect f = desk.display(*d)->frame;
    const double width = std::min(900.0, f.width() * 0.7), height = std::min(600.0, f.height() * 0.7);
    Window w;
    w.pid = pid;
    w.title = "Untitled";
    w.bounds = CGRect(f.midX() - width / 2, f.midY() - height / 2, width, height);
    w.color = a->iconColor;
    const std::uint32_t number = desk.addWindow(w);
    desk.raise(number);
  });
}

// ---------------------------------------------------------------------------------------------
// Processes and the workspace

std::int32_t WindowServer::ownProcessIdentifier() {
  std::lock_guard lock(mutex_);
  return state_->desk.ownPID();
}

platform::OperatingSystemVersion WindowServer::operatingSystemVersion() {
  const World::Version v = world_.osVersion();
  return {v.major, v.minor, v.patch};
}

std::vector<platform::RunningApplicationInfo> WindowServer::runningApplications() {
  std::vector<App> running;
  std::optional<std::int32_t> front;
  std::map<std::int32_t, CGImageRef> icons;
  read([&](const Desk& desk) {
    running = desk.runningApps();
    front = desk.frontmost();
    icons = state_->icons;
  });
  std::vector<platform::RunningApplicationInfo> result;
  result.reserve(running.size());
  for (const App& a : running) {
    CGImageRef icon = icons[a.pid];
    if (!icon) {
      icon = makeAppIcon(a);
      std::lock_guard lock(mutex_);
      state_->icons[a.pid] = icon;
    }
    result.push_back(describe(a, front, icon));
  }
  return result;
}

std::optional<platform::RunningApplicationInfo> WindowServer::application(std::int32_t pid) {
  std::optional<App> found;
  std::optional<std::int32_t> front;
  CGImageRef icon;
  read([&](const Desk& desk) {
    if (const App* a = desk.app(pid)) found = *a;
    front = desk.frontmost();
    if (auto it = state_->icons.find(pid); it != state_->icons.end()) icon = it->second;
  });
  if (!found) return std::nullopt;
  if (!icon) {
    icon = makeAppIcon(*found);
    std::lock_guard lock(mutex_);
    state_->icons[pid] = icon;
  }
  return describe(*found, front, icon);
}

std::optional<std::int32_t> WindowServer::frontmostApplication() { return frontmost(); }

bool WindowServer::activateApplication(std::int32_t pid, std::uint32_t options) {
  return requestActivate(pid, options);
}

bool WindowServer::hideApplication(std::int32_t pid) { return requestHide(pid, true); }

bool WindowServer::unhideApplication(std::int32_t pid) { return requestHide(pid, false); }

bool WindowServer::terminateApplication(std::int32_t pid, bool force) { return requestTerminate(pid, force); }

void WindowServer::openApplication(const std::string& path, bool activates,
                                   std::function<void(std::optional<std::int32_t>, std::optional<std::string>)> done) {
  std::optional<std::int32_t> running;
  std::optional<App> installed;
  Failure failure = Failure::none;
  Timings t;
  bool windowless = false;
  edit([&](Desk& desk) {
    failure = state_->failureOf(Reaction::open);
    t = state_->timings;
    for (const App& a : desk.runningApps()) {
      if (a.bundlePath == path) {
        running = a.pid;
        break;
      }
    }
    if (running) {
      windowless = true;
      for (const Window* w : desk.ordered()) {
        if (w->pid == *running && w->layer == 0 && !w->desktopElement) windowless = false;
      }
    } else {
      installed = desk.installedWithPath(path);
    }
  });
  auto finish = std::make_shared<decltype(done)>(std::move(done));
  auto answer = [finish](std::optional<std::int32_t> pid, std::optional<std::string> error) {
    if (*finish) (*finish)(pid, std::move(error));
  };
  if (failure == Failure::refuse || (!running && !installed)) {
    const std::string error = failure == Failure::refuse ? "The application “" + path + "” could not be opened."
                                                         : "The application “" + path + "” could not be found.";
    after(t.activate, [answer, error] { answer(std::nullopt, error); });
    return;
  }
  if (running) {
    const std::int32_t pid = *running;
    const bool ignored = failure == Failure::ignore;
    after(t.activate, [this, pid, activates, windowless, ignored, t, answer] {
      if (!ignored) {
        if (activates) makeFrontmost(pid);
        if (windowless) after(t.firstWindow, [this, pid] { openFirstWindow(pid); });
      }
      answer(pid, std::nullopt);
    });
    return;
  }
  App fresh = *installed;
  fresh.pid = 0;
  fresh.launchDate.reset();
  const bool ignored = failure == Failure::ignore;
  after(t.launch, [this, fresh, activates, ignored, t, answer] {
    if (ignored) {
      answer(std::nullopt, std::string("The application did not start."));
      return;
    }
    const std::int32_t pid = addApp(fresh);
    if (activates) makeFrontmost(pid);
    after(t.firstWindow, [this, pid] { openFirstWindow(pid); });
    answer(pid, std::nullopt);
  });
}

bool WindowServer::openURL(const std::string& url) {
  if (privacyListOf(url)) {
    showPrivacyPane(url);
    return true;
  }
  // A URL is handled by its scheme ("https", "x-apple.systempreferences"), a file by its extension.
  std::string key;
  const auto colon = url.find(':');
  const bool hasScheme =
      colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(url[0])) &&
      std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
      });
  if (hasScheme) {
    key = url.substr(0, colon);
  } else if (auto dot = url.rfind('.'); dot != std::string::npos && url.find('/', dot) == std::string::npos) {
    key = url.substr(dot);
  }
  std::optional<std::string> handler;
  edit([&](Desk& desk) {
    if (auto it = desk.urlHandlers.find(key); it != desk.urlHandlers.end()) handler = it->second;
    if (handler) desk.openedURLs.push_back(url);
  });
  if (!handler) return false;
  openApplication(*handler, true, {});
  return true;
}

void WindowServer::openSystemSettingsLoginItems() { openURL(kLoginItemsPane); }

// ---------------------------------------------------------------------------------------------
// The program's own windows

namespace {

bool titled(const platform::OwnWindowState& s) { return s.styleMask & 1; }
constexpr std::uint64_t kFullScreenBit = 1 << 14;

void applyOwnState(Window& w, const platform::OwnWindowState& s) {
  w.bounds = s.frame;
  w.layer = s.level;
  w.alpha = s.alpha;
  w.title = s.title;
  w.allSpaces = s.collectionBehavior & 1;
  w.subrole = titled(s) ? "AXStandardWindow" : "AXUnknown";
}

/// Where `w` hides what lies wholly behind it (as ownStatusOn judges a window covered):
/// its frame while it shows opaque at a level of its own; none when it hides nothing.
std::optional<CGRect> coverOf(const Desk& desk, const Window* w) {
  if (!w || !(w->alpha >= 1) || w->color == 0 || w->layer < 0 || !desk.onScreen(w->number)) return std::nullopt;
  return w->bounds;
}

}  // namespace

void WindowServer::markOwnChange(const Desk& desk, std::uint32_t number, std::optional<CGRect> before) const {
  state_->ownMarked = true;
  const Window* w = desk.window(number);
  if (w) state_->markOwn(w->pid, number);
  if (before) state_->markOwnInside(desk, *before);
  if (const auto now = coverOf(desk, w); now && !(before && *before == *now)) state_->markOwnInside(desk, *now);
}

std::uint32_t WindowServer::createOwnWindow(const platform::OwnWindowState& state) {
  std::uint32_t number = 0;
  edit([&](Desk& desk) {
    Window w;
    w.pid = desk.ownPID();
    w.own = true;
    applyOwnState(w, state);
    w.orderedIn = false;
    w.color = kOwnWindowFill;
    number = desk.addWindow(w);
    desk.ownStates[number] = state;
    markOwnChange(desk, number, std::nullopt);
  });
  return number;
}

void WindowServer::updateOwnWindow(std::uint32_t number, const platform::OwnWindowState& state) {
  std::optional<bool> fullScreen, miniaturize;
  edit([&](Desk& desk) {
    Window* w = desk.window(number);
    state_->ownMarked = true;
    if (!w || !w->own) return;
    const std::optional<CGRect> cover = coverOf(desk, w);
    const platform::OwnWindowState before = desk.ownStates[number];
    const CGRect oldBounds = w->bounds;
    const bool wasAll = w->allSpaces;
    const bool wasFull = w->fullScreen;
    applyOwnState(*w, state);
    if (wasFull) w->bounds = oldBounds;  // the server holds a full-screen window's frame
    if (wasAll && !w->allSpaces && w->spaces.empty()) {
      if (auto d = desk.displayUnder(w->bounds)) w->spaces = {desk.holder(*d)->current};
    }
    if (!(oldBounds == w->bounds)) desk.note({DeskChange::Kind::windowMoved, w->pid, number});
    if (((state.styleMask & kFullScreenBit) != 0) != wasFull &&
        (state.styleMask & kFullScreenBit) != (before.styleMask & kFullScreenBit))
      fullScreen = (state.styleMask & kFullScreenBit) != 0;
    if (state.miniaturized != before.miniaturized && state.miniaturized != w->minimized)
      miniaturize = state.miniaturized;
    desk.ownStates[number] = state;
    desk.note({DeskChange::Kind::windowOrdered, w->pid, number});
    markOwnChange(desk, number, cover);
  });
  // Each a change of the desk's own, after which the program reads all its windows again.
  if (fullScreen) requestFullScreen(number, *fullScreen);
  if (miniaturize) requestMinimize(number, *miniaturize);
}

void WindowServer::orderOwnWindow(std::uint32_t number, platform::OwnWindowOrder order) {
  edit([&](Desk& desk) {
    Window* w = desk.window(number);
    state_->ownMarked = true;
    if (!w || !w->own) return;
    const std::optional<CGRect> cover = coverOf(desk, w);
    switch (order) {
      case platform::OwnWindowOrder::front:
      case platform::OwnWindowOrder::frontRegardless:
        desk.orderIn(number, true);
        break;
      case platform::OwnWindowOrder::back:
        desk.orderIn(number, false);
        break;
      case platform::OwnWindowOrder::out:
        desk.orderOut(number);
        break;
    }
    markOwnChange(desk, number, cover);
  });
}

void WindowServer::setOwnKeyWindow(std::uint32_t number) {
  edit([&](Desk& desk) {
    state_->ownMarked = true;  // which window is key is no part of their state
    state_->ownKeys[desk.ownPID()] = {number, ++state_->keysMade};
    App* own = desk.app(desk.ownPID());
    if (!own) return;
    const Window* w = desk.window(number);
    const std::uint32_t focused = w && w->own ? number : 0;
    if (own->focusedWindow != focused) {
      own->focusedWindow = focused;
      desk.note({DeskChange::Kind::focusedWindowChanged, desk.ownPID(), focused});
    }
  });
}

std::optional<platform::OwnWindowStatus> WindowServer::ownWindowStatus(std::uint32_t number) {
  std::optional<platform::OwnWindowStatus> result;
  read([&](const Desk& desk) { result = ownStatusOn(desk, number); });
  return result;
}

std::optional<platform::OwnWindowStatus> WindowServer::ownStatusOn(const Desk& desk, std::uint32_t number) const {
  const Window* w = desk.window(number);
  if (!w || !w->own) return std::nullopt;
  platform::OwnWindowStatus s;
  s.orderedIn = w->orderedIn;
  s.onActiveSpace = desk.onActiveSpace(number);
  s.miniaturized = w->minimized;
  s.fullScreen = w->fullScreen;
  s.frame = w->bounds;
  if (desk.onScreen(number) && w->alpha > 0 && desk.displayUnder(w->bounds)) {
    // Visible unless an opaque on-screen window in front covers it entirely (coverOf).
    bool covered = false;
    bool inFront = true;
    for (const Window* other : state_->ordered().all) {
      if (other->number == number) {
        inFront = false;
        break;
      }
      if (other->bounds.contains(w->bounds) && coverOf(desk, other)) {
        covered = true;
        break;
      }
    }
    s.occlusionVisible = !covered && !inFront;
  }
  return s;
}

WindowServer::OwnWindowChanges WindowServer::takeOwnWindowChanges(std::uint32_t also) {
  OwnWindowChanges changes;
  read([&](const Desk& desk) {
    State::OwnChanges& mine = state_->ownChanges[desk.ownPID()];
    if (mine.deskChanges != state_->deskChanges) {
      mine.deskChanges = state_->deskChanges;
      mine.windows.clear();
      changes.all = true;
      return;
    }
    if (also) mine.windows.insert(also);
    changes.windows.reserve(mine.windows.size());
    for (const std::uint32_t number : mine.windows) changes.windows.emplace_back(number, ownStatusOn(desk, number));
    mine.windows.clear();
  });
  return changes;
}

void WindowServer::forgetOwnWindowChanges() {
  read([&](const Desk& desk) { state_->ownChanges.erase(desk.ownPID()); });
}

void WindowServer::destroyOwnWindow(std::uint32_t number) {
  edit([&](Desk& desk) {
    const Window* w = desk.window(number);
    // A full-screen window takes its Space with it, which changes what the others show on:
    // left to the desk's change.
    state_->ownMarked = !w || !w->fullScreen;
    if (w && w->own) {
      const std::int32_t pid = w->pid;
      const std::optional<CGRect> cover = coverOf(desk, w);
      desk.removeWindow(number);
      state_->markOwn(pid, number);
      if (cover) state_->markOwnInside(desk, *cover);
    }
    std::erase_if(state_->ownKeys, [&](const auto& entry) { return entry.second.number == number; });
    state_->retireSurface(number);
  });
}

std::optional<std::string> WindowServer::applicationPath(const std::string& bundleIdentifier) {
  std::optional<std::string> path;
  read([&](const Desk& desk) {
    for (const App& a : desk.runningApps()) {
      if (a.bundleIdentifier == bundleIdentifier && a.bundlePath) {
        path = a.bundlePath;
        return;
      }
    }
    for (const App& a : desk.installed()) {
      if (a.bundleIdentifier == bundleIdentifier && a.bundlePath) {
        path = a.bundlePath;
        return;
      }
    }
  });
  return path;
}

CGImageRef WindowServer::bundleIcon(const std::string& path) {
  std::optional<App> found;
  read([&](const Desk& desk) {
    for (const App& a : desk.runningApps()) {
      if (a.bundlePath == path) {
        found = a;
        return;
      }
    }
    found = desk.installedWithPath(path);
  });
  if (!found) return nullptr;
  return makeAppIcon(*found);
}

}  // namespace sim
