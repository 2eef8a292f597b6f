// The desk's windows: adding, stacking, minimizing, full screen, the Spaces they lie on,
// and the windows the system itself keeps on every desk.

#include <algorithm>
#include <limits>

#include "platform/CGWindow.h"
#include "platform/sim/Desk.h"

namespace sim {

using platform::WorkspaceEvent;
using Kind = DeskChange::Kind;

namespace {

constexpr const char* kDockBundle = "com.apple.dock";
constexpr const char* kFinderBundle = "com.apple.finder";

template <typename T>
bool contains(const std::vector<T>& v, const T& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Windows

std::uint32_t Desk::addWindow(Window w) {
  if (w.number == 0) {
    while (windows_.count(nextWindow_)) ++nextWindow_;
    w.number = nextWindow_++;
  } else {
    if (windows_.count(w.number)) removeWindow(w.number);
    nextWindow_ = std::max(nextWindow_, w.number + 1);
  }
  if (w.accessible && w.axElement == 0 && !w.desktopElement && w.layer == 0) w.axElement = nextElement(w.pid);
  if (!w.accessible) w.axElement = 0;
  const std::uint32_t number = w.number;
  windows_[number] = std::move(w);
  stacking_.insert(stacking_.begin(), number);
  Window& placed = windows_[number];
  if (!placed.allSpaces && placed.spaces.empty()) placeOnActiveSpace(placed);
  if (placed.hiddenWithApp) placed.orderedIn = false;
  App* a = app(placed.pid);
  if (a && a->hidden && placed.orderedIn) {
    placed.orderedIn = false;
    placed.hiddenWithApp = true;
  }
  if (placed.fullScreen && placed.spaces.size() == 1) {
    auto sp = spaces_.find(placed.spaces.front());
    if (sp != spaces_.end() && sp->second.type == kSpaceTypeFullScreen) sp->second.fullScreenWindow = number;
  }
  note({Kind::windowCreated, placed.pid, number});
  // A new window comes up in front of its app's others and takes its focus.
  if (a && placed.axElement && !placed.minimized && (placed.orderedIn || placed.hiddenWithApp) && placed.layer == 0) {
    a->focusedWindow = number;
    note({Kind::focusedWindowChanged, placed.pid, number});
  }
  return number;
}

bool Desk::removeWindow(std::uint32_t number) {
  auto it = windows_.find(number);
  if (it == windows_.end()) return false;
  const Window w = it->second;
  windows_.erase(it);
  std::erase(stacking_, number);
  extraSpaces_.erase(number);
  ownStates.erase(number);
  systemWindows_.erase(number);
  for (auto& [id, s] : spaces_) {
    if (s.fullScreenWindow == number) s.fullScreenWindow = 0;
  }
  note({Kind::windowDestroyed, w.pid, number});
  if (w.fullScreen && !w.spaces.empty()) {
    const Space* fs = space(w.spaces.front());
    if (fs && fs->type == kSpaceTypeFullScreen) removeSpace(fs->id);
  }
  App* a = app(w.pid);
  if (a && a->focusedWindow == number) focusNextWindow(w.pid, number);
  return true;
}

Window* Desk::window(std::uint32_t number) {
  auto it = windows_.find(number);
  return it == windows_.end() ? nullptr : &it->second;
}

const Window* Desk::window(std::uint32_t number) const { return const_cast<Desk*>(this)->window(number); }

std::vector<const Window*> Desk::ordered() const {
  struct Item {
    const Window* w;
    int overlay;  // 0 for windows of shown overlay Spaces
    std::int32_t level;
  };
  std::vector<Item> items;
  items.reserve(stacking_.size());
  for (std::uint32_t n : stacking_) {
    const Window& w = windows_.at(n);
    std::int32_t level = std::numeric_limits<std::int32_t>::min();
    bool overlay = false;
    if (auto e = extraSpaces_.find(n); e != extraSpaces_.end()) {
      for (std::uint64_t s : e->second) {
        const Space* sp = space(s);
        if (sp && !sp->managed && sp->shown) {
          overlay = true;
          level = std::max(level, sp->absoluteLevel);
        }
      }
    }
    items.push_back({&w, overlay ? 0 : 1, level});
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.overlay != b.overlay) return a.overlay < b.overlay;
    if (a.overlay == 0 && a.level != b.level) return a.level > b.level;
    return a.w->layer > b.w->layer;
  });
  std::vector<const Window*> result;
  result.reserve(items.size());
  for (const Item& i : items) result.push_back(i.w);
  return result;
}

void Desk::focusNextWindow(std::int32_t pid, std::uint32_t leaving) {
  App* a = app(pid);
  if (!a) return;
  std::uint32_t next = 0;
  for (std::uint32_t n : stacking_) {
    const Window& w = windows_.at(n);
    if (n != leaving && w.pid == pid && w.axElement && w.layer == 0 && !w.minimized &&
        (w.orderedIn || w.hiddenWithApp)) {
      next = n;
      break;
    }
  }
  if (a->focusedWindow == next) return;
  a->focusedWindow = next;
  note({Kind::focusedWindowChanged, pid, next});
}

bool Desk::raise(std::uint32_t number) {
  Window* w = window(number);
  if (!w) return false;
  if (w->minimized) return false;
  const App* owner = app(w->pid);
  if (owner && owner->hidden) {
    w->hiddenWithApp = true;
  } else if (!w->orderedIn) {
    orderIn(number, true);
  }
  std::erase(stacking_, number);
  stacking_.insert(stacking_.begin(), number);
  note({Kind::windowOrdered, w->pid, number});
  App* a = app(w->pid);
  if (a && w->axElement && w->layer == 0 && a->focusedWindow != number) {
    a->focusedWindow = number;
    note({Kind::focusedWindowChanged, w->pid, number});
  }
  return true;
}

bool Desk::setMinimized(std::uint32_t number, bool minimized) {
  Window* w = window(number);
  if (!w) return false;
  if (w->minimized == minimized) return true;
  w->minimized = minimized;
  if (minimized) {
    w->orderedIn = false;
    w->hiddenWithApp = false;
    note({Kind::windowMinimized, w->pid, number});
    App* a = app(w->pid);
    if (a && a->focusedWindow == number) focusNextWindow(w->pid, number);
  } else {
    const App* a = app(w->pid);
    const bool hidden = a && a->hidden;
    w->orderedIn = !hidden;
    w->hiddenWithApp = hidden;
    note({Kind::windowDeminimized, w->pid, number});
    raise(number);
  }
  return true;
}

bool Desk::setFullScreen(std::uint32_t number, bool fullScreen, double now, double slideDuration) {
  Window* w = window(number);
  if (!w) return false;
  if (w->fullScreen == fullScreen) return true;
  if (fullScreen) {
    std::uint64_t from = 0;
    for (std::uint64_t s : w->spaces) {
      const Space* sp = space(s);
      if (sp && sp->managed) {
        from = s;
        break;
      }
    }
    auto screen = displayUnder(w->bounds);
    if (!from && screen) from = holder(*screen)->current;
    auto owner = displayOfSpace(from);
    if (!owner || !screen) return false;
    DeskDisplay& dd = displays_[*owner];
    const auto pos = std::find(dd.spaces.begin(), dd.spaces.end(), from) - dd.spaces.begin();
    Space fs;
    fs.type = kSpaceTypeFullScreen;
    fs.fullScreenWindow = number;
    const std::uint64_t id = addSpace(*owner, fs, static_cast<std::size_t>(pos + 1));
    w = window(number);
    w->restoreSpace = from;
    w->restoreBounds = w->bounds;
    w->bounds = displays_[*screen].frame;
    w->spaces = {id};
    w->allSpaces = false;
    w->fullScreen = true;
    if (w->minimized) setMinimized(number, false);
    note({Kind::fullScreenChanged, w->pid, number, *owner, id});
    raise(number);
    switchSpace(id, true, now, slideDuration);
  } else {
    const std::uint64_t fs = w->spaces.empty() ? 0 : w->spaces.front();
    auto owner = displayOfSpace(fs);
    std::uint64_t back = w->restoreSpace;
    if (!space(back) && owner) back = holder(*owner)->spaces.front();
    w->spaces = {back};
    w->bounds = w->restoreBounds.isNull() ? w->bounds : w->restoreBounds;
    w->fullScreen = false;
    note({Kind::fullScreenChanged, w->pid, number, owner.value_or(0), back});
    const bool showing = owner && isCurrent(fs);
    if (showing) {
      DeskDisplay& dd = displays_[*owner];
      dd.slide.reset();
      dd.current = back;
      note({Kind::spaceChanged, 0, 0, dd.id, back});
      post(WorkspaceEvent::Kind::activeSpaceDidChange);
    }
    if (const Space* sp = space(fs); sp && sp->type == kSpaceTypeFullScreen) removeSpace(fs);
    if (showing && slideDuration > 0) {
      displays_[*owner].slide = DeskDisplay::Slide{fs, back, now, slideDuration, -1, true};
      slidesMayRun_ = true;
    }
    raise(number);
  }
  ++generation_;
  return true;
}

bool Desk::move(std::uint32_t number, std::optional<CGPoint> origin, std::optional<CGSize> size) {
  Window* w = window(number);
  if (!w) return false;
  if (origin && !(w->bounds.origin == *origin)) {
    w->bounds.origin = *origin;
    note({Kind::windowMoved, w->pid, number});
  }
  if (size && !(w->bounds.size == *size)) {
    w->bounds.size = *size;
    note({Kind::windowResized, w->pid, number});
  }
  return true;
}

bool Desk::setTitle(std::uint32_t number, const std::string& title) {
  Window* w = window(number);
  if (!w) return false;
  if (w->title != title) {
    w->title = title;
    note({Kind::windowTitleChanged, w->pid, number});
  }
  return true;
}

bool Desk::setSpaces(std::uint32_t number, std::vector<std::uint64_t> list) {
  Window* w = window(number);
  if (!w) return false;
  w->spaces = std::move(list);
  note({Kind::windowOrdered, w->pid, number});
  return true;
}

void Desk::placeOnActiveSpace(Window& w) {
  if (w.allSpaces) return;
  auto d = displayUnder(w.bounds);
  const DeskDisplay* dd = d ? holder(*d) : nullptr;
  w.spaces.clear();
  if (dd && dd->current) w.spaces.push_back(dd->current);
}

void Desk::orderIn(std::uint32_t number, bool front) {
  Window* w = window(number);
  if (!w) return;
  if (!w->orderedIn || w->spaces.empty()) {
    // Ordering a window in puts it on the Space the user is looking at.
    w->orderedIn = true;
    w->minimized = false;
    placeOnActiveSpace(*w);
  }
  std::erase(stacking_, number);
  if (front) {
    stacking_.insert(stacking_.begin(), number);
  } else {
    stacking_.push_back(number);
  }
  note({Kind::windowOrdered, w->pid, number});
}

void Desk::orderOut(std::uint32_t number) {
  Window* w = window(number);
  if (!w || !w->orderedIn) return;
  w->orderedIn = false;
  note({Kind::windowOrdered, w->pid, number});
  App* a = app(w->pid);
  if (a && a->focusedWindow == number) focusNextWindow(w->pid, number);
}

std::vector<std::uint64_t> Desk::spacesOf(std::uint32_t number) const {
  const Window* w = window(number);
  if (!w) return {};
  std::vector<std::uint64_t> result;
  if (w->allSpaces) {
    result = currentSpaces();
  } else {
    for (std::uint64_t s : w->spaces) {
      if (space(s) && !contains(result, s)) result.push_back(s);
    }
  }
  if (auto e = extraSpaces_.find(number); e != extraSpaces_.end()) {
    for (std::uint64_t s : e->second) {
      if (!contains(result, s)) result.push_back(s);
    }
  }
  return result;
}

bool Desk::inShownOverlay(std::uint32_t number) const {
  auto e = extraSpaces_.find(number);
  if (e == extraSpaces_.end()) return false;
  for (std::uint64_t s : e->second) {
    const Space* sp = space(s);
    if (sp && !sp->managed && sp->shown) return true;
  }
  return false;
}

bool Desk::onActiveSpace(std::uint32_t number) const {
  const Window* w = window(number);
  if (!w) return false;
  if (w->allSpaces || inShownOverlay(number)) return true;
  for (std::uint64_t s : w->spaces) {
    if (isCurrent(s)) return true;
  }
  return false;
}

bool Desk::onScreen(std::uint32_t number) const {
  const Window* w = window(number);
  return w && w->orderedIn && !w->minimized && onActiveSpace(number);
}

std::optional<std::uint32_t> Desk::windowAt(CGPoint p) const {
  for (const Window* w : ordered()) {
    if (w->layer < 0 || w->alpha <= 0 || !w->listed) continue;
    if (onScreen(w->number) && w->bounds.contains(p)) return w->number;
  }
  return std::nullopt;
}

void Desk::addToSpaces(const std::vector<std::uint32_t>& windows, const std::vector<std::uint64_t>& spaces) {
  for (std::uint32_t n : windows) {
    Window* w = window(n);
    if (!w) continue;
    for (std::uint64_t s : spaces) {
      const Space* sp = space(s);
      if (!sp) continue;
      if (sp->managed) {
        if (!contains(w->spaces, s)) w->spaces.push_back(s);
      } else {
        extraSpaces_[n].insert(s);
      }
    }
    note({Kind::windowOrdered, w->pid, n});
  }
}

void Desk::moveToManagedSpace(const std::vector<std::uint32_t>& windows, std::uint64_t id) {
  const Space* sp = space(id);
  if (!sp || !sp->managed) return;
  for (std::uint32_t n : windows) {
    Window* w = window(n);
    if (!w) continue;
    w->spaces = {id};
    w->allSpaces = false;
    note({Kind::windowOrdered, w->pid, n});
  }
}

// ---------------------------------------------------------------------------------------------
// The system's own windows

namespace {

/// A system window that should exist, by a key naming its role: what exists is matched by
/// the same key.
struct WantedWindow {
  std::string key;
  Window w;
};

/// The Dock's windows: each desktop Space's wallpaper and each full-screen Space's
/// backdrop, on every display, and the Dock itself on the first.
void addDockWindows(const Desk& desk, std::int32_t dock, const World::Version& os, std::vector<WantedWindow>& wanted) {
  for (std::uint32_t d : desk.displayOrder()) {
    const DeskDisplay& dd = *desk.display(d);
    int desktop = 0;
    for (std::uint64_t s : dd.spaces) {
      static const Space none;
      const Space& sp = desk.space(s) ? *desk.space(s) : none;
      Window w;
      w.pid = dock;
      w.spaces = {s};
      w.bounds = dd.frame;
      w.accessible = false;
      w.subrole.clear();
      if (sp.type == kSpaceTypeDesktop) {
        ++desktop;
        w.title = os.major >= 14 ? "Wallpaper-" + sp.uuid
                                 : "Desktop Picture - " + dd.name + " " + std::to_string(desktop) + ".heic";
        w.layer = CGWindowLevelForKey(kCGDesktopWindowLevelKey);
        w.desktopElement = true;
        w.color = sp.desktopColor ? sp.desktopColor : dd.color;
        wanted.push_back({"wallpaper/" + std::to_string(s), w});
      } else if (sp.type == kSpaceTypeFullScreen) {
        w.title = "Fullscreen Backdrop";
        w.layer = 0;
        w.color = 0x000000;
        wanted.push_back({"backdrop/" + std::to_string(s), w});
      }
    }
  }
  if (desk.displayOrder().empty()) return;
  const CGRect& f = desk.display(desk.displayOrder().front())->frame;
  Window w;
  w.pid = dock;
  w.title = "Dock";
  w.layer = CGWindowLevelForKey(kCGDockWindowLevelKey);
  w.bounds = CGRect(f.minX() + f.width() / 4, f.maxY() - 70, f.width() / 2, 70);
  w.allSpaces = true;
  w.accessible = false;
  w.subrole.clear();
  w.alpha = 1;
  w.color = 0x505050;
  wanted.push_back({"dock", w});
}

/// Each display's desktop icons (Finder's, when it runs) and menu bar.
void addDisplayWindows(const Desk& desk, std::optional<std::int32_t> finder, std::vector<WantedWindow>& wanted) {
  for (std::uint32_t d : desk.displayOrder()) {
    const DeskDisplay& dd = *desk.display(d);
    if (finder) {
      Window w;
      w.pid = *finder;
      w.layer = CGWindowLevelForKey(kCGDesktopIconWindowLevelKey);
      w.bounds = dd.frame;
      w.allSpaces = true;
      w.desktopElement = true;
      w.accessible = false;
      w.subrole.clear();
      w.alpha = 1;
      w.color = 0;  // transparent: the icons' layer shows the desktop picture through
      wanted.push_back({"finder/" + std::to_string(d), w});
    }
    Window bar;
    bar.pid = WindowServer::kWindowServerPID;
    bar.title = "Menubar";
    bar.layer = CGWindowLevelForKey(kCGMainMenuWindowLevelKey);
    bar.bounds = CGRect(dd.frame.minX(), dd.frame.minY(), dd.frame.width(), dd.menuBar);
    bar.allSpaces = true;
    bar.accessible = false;
    bar.subrole.clear();
    bar.color = 0xECECEC;
    wanted.push_back({"menubar/" + std::to_string(d), bar});
  }
}

}  // namespace

void Desk::refreshSystemWindows(const World::Version& os) {
  systemDirty_ = false;
  std::optional<std::int32_t> dock, finder;
  for (const auto& [pid, a] : apps_) {
    if (a.terminated) continue;
    if (a.bundleIdentifier == kDockBundle && !dock) dock = pid;
    if (a.bundleIdentifier == kFinderBundle && !finder) finder = pid;
  }
  std::vector<WantedWindow> wanted;
  if (dock) addDockWindows(*this, *dock, os, wanted);
  addDisplayWindows(*this, finder, wanted);

  std::map<std::string, std::uint32_t> existing;
  for (const auto& [key, number] : systemKeys_) existing[key] = number;
  std::map<std::string, std::uint32_t> kept;
  for (WantedWindow& want : wanted) {
    auto it = existing.find(want.key);
    if (it != existing.end()) {
      Window* w = window(it->second);
      if (w && w->pid == want.w.pid) {
        w->bounds = want.w.bounds;
        w->title = want.w.title;
        w->color = want.w.color;
        if (!w->allSpaces) w->spaces = want.w.spaces;
        kept[want.key] = it->second;
        existing.erase(it);
        continue;
      }
    }
    const std::uint32_t n = addWindow(want.w);
    // System windows sit behind the apps' windows of their layer.
    std::erase(stacking_, n);
    stacking_.push_back(n);
    systemWindows_.insert(n);
    kept[want.key] = n;
  }
  for (const auto& [key, number] : existing) removeWindow(number);
  systemKeys_ = std::move(kept);
  ++generation_;
}

}  // namespace sim
