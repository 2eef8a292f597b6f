#include "platform/sim/Desk.h"

#include "platform/WindowFrame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

using platform::WorkspaceEvent;
using Kind = DeskChange::Kind;

namespace {

double area(const CGRect& r) { return r.isEmpty() ? 0 : r.width() * r.height(); }

template <typename T>
bool contains(const std::vector<T>& v, const T& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

Desk::Desk() = default;

// ---------------------------------------------------------------------------------------------
// Displays and Spaces

void Desk::syncDisplays(const std::vector<Display>& displays) {
  const double top = displays.empty() ? 0 : displays.front().screen.frame.maxY();
  std::vector<std::uint32_t> order;
  for (const Display& d : displays) {
    DeskDisplay& dd = displays_[d.screen.displayID];
    const CGRect frame = platform::flipRect(d.screen.frame, top);
    const double menuBar = platform::menuBarHeight(d.screen.frame, d.screen.visibleFrame);
    const double notch = d.screen.safeAreaInsets.top;
    if (dd.id != d.screen.displayID || !(dd.frame == frame) || dd.color != d.desktopColor || dd.menuBar != menuBar ||
        dd.notch != notch)
      systemDirty_ = true;
    dd.menuBar = menuBar;
    dd.notch = notch;
    dd.id = d.screen.displayID;
    dd.uuid = d.screen.uuid;
    dd.name = d.screen.localizedName;
    dd.frame = frame;
    dd.scale = d.screen.backingScaleFactor;
    dd.color = d.desktopColor;
    order.push_back(dd.id);
  }
  if (order != order_) {
    order_ = std::move(order);
    systemDirty_ = true;
    ++generation_;
  }
  if (shared_ && !order_.empty()) {
    // The shared set lives with the first display; gather any that another display holds.
    DeskDisplay& first = displays_[order_.front()];
    for (std::uint32_t id : order_) {
      if (id == first.id) continue;
      DeskDisplay& other = displays_[id];
      for (std::uint64_t s : other.spaces) first.spaces.push_back(s);
      other.spaces.clear();
      other.current = 0;
    }
  }
  for (std::size_t i = 0; i < order_.size(); ++i) {
    if (shared_ && i > 0) continue;
    DeskDisplay& dd = displays_[order_[i]];
    if (dd.spaces.empty()) {
      addDesktop(dd);
      systemDirty_ = true;
    }
    if (!contains(dd.spaces, dd.current)) dd.current = dd.spaces.front();
  }
}

DeskDisplay* Desk::display(std::uint32_t id) {
  auto it = displays_.find(id);
  return it == displays_.end() || !contains(order_, id) ? nullptr : &it->second;
}

const DeskDisplay* Desk::display(std::uint32_t id) const { return const_cast<Desk*>(this)->display(id); }

DeskDisplay* Desk::holder(std::uint32_t id) {
  if (!display(id)) return nullptr;
  return shared_ ? display(order_.front()) : display(id);
}

const DeskDisplay* Desk::holder(std::uint32_t id) const { return const_cast<Desk*>(this)->holder(id); }

void Desk::setShared(bool shared) {
  if (shared_ == shared) return;
  shared_ = shared;
  if (shared_ && !order_.empty()) {
    DeskDisplay& first = displays_[order_.front()];
    for (std::size_t i = 1; i < order_.size(); ++i) {
      DeskDisplay& other = displays_[order_[i]];
      for (std::uint64_t s : other.spaces) {
        first.spaces.push_back(s);
        spaces_[s].displayID = first.id;
      }
      other.spaces.clear();
      other.current = 0;
      other.slide.reset();
    }
  }
  if (!shared_) {
    // Back to separate Spaces: the other displays start with a desktop of their own.
    for (std::size_t i = 1; i < order_.size(); ++i) {
      DeskDisplay& dd = displays_[order_[i]];
      if (!dd.spaces.empty()) continue;
      dd.current = addDesktop(dd);
    }
  }
  systemDirty_ = true;
  note({Kind::spacesChanged});
}

const Space* Desk::space(std::uint64_t id) const {
  auto it = spaces_.find(id);
  return it == spaces_.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> Desk::displayOfSpace(std::uint64_t id) const {
  for (std::uint32_t d : order_) {
    const DeskDisplay& dd = displays_.at(d);
    if (contains(dd.spaces, id)) return d;
  }
  return std::nullopt;
}

std::uint64_t Desk::newSpaceID() {
  while (spaces_.count(nextSpace_)) ++nextSpace_;
  return nextSpace_++;
}

std::uint64_t Desk::addDesktop(DeskDisplay& dd) {
  Space s;
  s.id = newSpaceID();
  s.uuid = spaceUUID(s.id);
  s.displayID = dd.id;
  spaces_[s.id] = s;
  dd.spaces.push_back(s.id);
  return s.id;
}

std::string Desk::spaceUUID(std::uint64_t id) const {
  return displayUUID(static_cast<std::uint32_t>(0x5EA00000u + id));
}

bool Desk::setSpaces(std::uint32_t displayID, std::vector<Space> list, std::optional<std::uint64_t> current) {
  DeskDisplay* dd = holder(displayID);
  if (!dd || list.empty()) return false;
  for (std::uint64_t old : dd->spaces) spaces_.erase(old);
  dd->spaces.clear();
  dd->slide.reset();
  for (Space& s : list) dd->spaces.push_back(admitSpace(*dd, std::move(s)));
  dd->current = current && contains(dd->spaces, *current) ? *current : dd->spaces.front();
  systemDirty_ = true;
  note({Kind::spacesChanged, 0, 0, dd->id});
  return true;
}

std::uint64_t Desk::addSpace(std::uint32_t displayID, Space s, std::optional<std::size_t> at) {
  DeskDisplay* dd = holder(displayID);
  if (!dd) return 0;
  const std::uint64_t id = admitSpace(*dd, std::move(s));
  const std::size_t index = std::min(at.value_or(dd->spaces.size()), dd->spaces.size());
  dd->spaces.insert(dd->spaces.begin() + static_cast<std::ptrdiff_t>(index), id);
  systemDirty_ = true;
  note({Kind::spacesChanged, 0, 0, dd->id, id});
  return id;
}

std::uint64_t Desk::admitSpace(const DeskDisplay& dd, Space s) {
  if (s.id == 0 || spaces_.count(s.id)) s.id = newSpaceID();
  if (s.uuid.empty()) s.uuid = spaceUUID(s.id);
  s.displayID = dd.id;
  s.managed = true;
  nextSpace_ = std::max(nextSpace_, s.id + 1);
  spaces_[s.id] = s;
  return s.id;
}

bool Desk::removeSpace(std::uint64_t id) {
  auto found = displayOfSpace(id);
  if (!found) return false;
  DeskDisplay& dd = displays_[*found];
  if (dd.spaces.size() < 2) return false;
  const auto pos = std::find(dd.spaces.begin(), dd.spaces.end(), id) - dd.spaces.begin();
  dd.spaces.erase(dd.spaces.begin() + pos);
  std::uint64_t fallback = 0;
  for (std::uint64_t s : dd.spaces) {
    if (spaces_[s].type == kSpaceTypeDesktop) {
      fallback = s;
      break;
    }
  }
  if (!fallback) fallback = dd.spaces.front();
  for (auto& [number, w] : windows_) {
    auto it = std::find(w.spaces.begin(), w.spaces.end(), id);
    if (it == w.spaces.end()) continue;
    w.spaces.erase(it);
    if (w.spaces.empty() && !w.allSpaces && !systemWindows_.count(number)) {
      w.spaces.push_back(w.restoreSpace && contains(dd.spaces, w.restoreSpace) ? w.restoreSpace : fallback);
    }
  }
  if (dd.slide && (dd.slide->to == id || dd.slide->from == id)) dd.slide.reset();
  if (dd.current == id) {
    dd.current = dd.spaces[std::max<std::ptrdiff_t>(0, pos - 1)];
    note({Kind::spaceChanged, 0, 0, dd.id, dd.current});
    post(WorkspaceEvent::Kind::activeSpaceDidChange);
  }
  spaces_.erase(id);
  systemDirty_ = true;
  note({Kind::spacesChanged, 0, 0, dd.id, id});
  return true;
}

std::uint64_t Desk::createUnmanagedSpace() {
  Space s;
  s.id = std::max<std::uint64_t>(newSpaceID(), 0x100);
  s.uuid = spaceUUID(s.id);
  s.managed = false;
  s.displayID = 0;
  nextSpace_ = std::max(nextSpace_, s.id + 1);
  spaces_[s.id] = s;
  return s.id;
}

bool Desk::isCurrent(std::uint64_t id) const {
  for (std::uint32_t d : order_) {
    const DeskDisplay& dd = displays_.at(d);
    if (!dd.spaces.empty() && dd.current == id) return true;
  }
  return false;
}

std::vector<std::uint64_t> Desk::currentSpaces() const {
  std::vector<std::uint64_t> result;
  for (std::uint32_t d : order_) {
    const DeskDisplay* dd = holder(d);
    if (dd && dd->current && !contains(result, dd->current)) result.push_back(dd->current);
  }
  return result;
}

std::optional<std::uint64_t> Desk::neighbour(std::uint32_t displayID, int step) const {
  const DeskDisplay* dd = holder(displayID);
  if (!dd) return std::nullopt;
  const auto pos = std::find(dd->spaces.begin(), dd->spaces.end(), dd->current) - dd->spaces.begin();
  const auto target = pos + step;
  if (target < 0 || target >= static_cast<std::ptrdiff_t>(dd->spaces.size())) return std::nullopt;
  return dd->spaces[static_cast<std::size_t>(target)];
}

bool Desk::switchSpace(std::uint64_t id, bool slide, double now, double duration, bool settle) {
  auto found = displayOfSpace(id);
  if (!found) return false;
  DeskDisplay& dd = displays_[*found];
  if (dd.slide) {
    // A new change overtakes a running slide: the first one lands at once.
    const bool landed = dd.slide->landed;
    dd.current = dd.slide->to;
    dd.slide.reset();
    if (!landed) {
      note({Kind::spaceChanged, 0, 0, dd.id, dd.current});
      post(WorkspaceEvent::Kind::activeSpaceDidChange);
    }
  }
  if (dd.current == id) return true;
  ++generation_;
  if (slide && duration > 0) {
    const auto from = std::find(dd.spaces.begin(), dd.spaces.end(), dd.current) - dd.spaces.begin();
    const auto to = std::find(dd.spaces.begin(), dd.spaces.end(), id) - dd.spaces.begin();
    dd.slide = DeskDisplay::Slide{dd.current, id, now, duration, to >= from ? 1 : -1, settle};
    slidesMayRun_ = true;
    if (!settle) return true;
  }
  dd.current = id;
  note({Kind::spaceChanged, 0, 0, dd.id, id});
  post(WorkspaceEvent::Kind::activeSpaceDidChange);
  return true;
}

bool Desk::finishSlides(double now) {
  // Asked before every question to the server; nearly always no slide is under way.
  if (!slidesMayRun_) return false;
  bool any = false;
  for (std::uint32_t d : order_) {
    DeskDisplay& dd = displays_[d];
    if (!dd.slide || now + 1e-9 < dd.slide->start + dd.slide->duration) continue;
    const std::uint64_t to = dd.slide->to;
    const bool landed = dd.slide->landed;
    dd.slide.reset();
    if (!landed && contains(dd.spaces, to)) {
      dd.current = to;
      note({Kind::spaceChanged, 0, 0, dd.id, to});
      post(WorkspaceEvent::Kind::activeSpaceDidChange);
    }
    ++generation_;
    any = true;
  }
  slidesMayRun_ =
      std::any_of(displays_.begin(), displays_.end(), [](const auto& d) { return d.second.slide.has_value(); });
  return any;
}

std::optional<std::uint32_t> Desk::displayAt(CGPoint p) const {
  std::optional<std::uint32_t> nearest;
  double best = std::numeric_limits<double>::infinity();
  for (std::uint32_t d : order_) {
    const CGRect& f = displays_.at(d).frame;
    if (f.contains(p)) return d;
    const double dx = std::max({f.minX() - p.x, 0.0, p.x - f.maxX()});
    const double dy = std::max({f.minY() - p.y, 0.0, p.y - f.maxY()});
    const double dist = dx * dx + dy * dy;
    if (dist < best) {
      best = dist;
      nearest = d;
    }
  }
  return nearest;
}

std::optional<std::uint32_t> Desk::displayUnder(const CGRect& bounds) const {
  std::optional<std::uint32_t> best;
  double bestArea = 0;
  for (std::uint32_t d : order_) {
    const double a = area(displays_.at(d).frame.intersection(bounds));
    if (a > bestArea) {
      bestArea = a;
      best = d;
    }
  }
  if (best) return best;
  if (!bounds.isNull()) return displayAt({bounds.midX(), bounds.midY()});
  if (!order_.empty()) return order_.front();
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Applications

std::int32_t Desk::addApp(App a, double now) {
  if (a.pid <= 0) {
    while (apps_.count(nextPID_)) ++nextPID_;
    a.pid = nextPID_++;
  }
  if (!a.launchDate) a.launchDate = now;
  a.terminated = false;
  const bool known = apps_.count(a.pid) && !apps_[a.pid].terminated;
  apps_[a.pid] = a;
  if (!known) {
    activation_.push_back(a.pid);
    post(WorkspaceEvent::Kind::didLaunch, a.pid);
    note({Kind::appLaunched, a.pid});
  }
  systemDirty_ = true;
  return a.pid;
}

void Desk::addInstalled(App a) {
  std::erase_if(installed_, [&](const App& i) { return i.bundlePath == a.bundlePath; });
  installed_.push_back(std::move(a));
}

std::optional<App> Desk::installedWithPath(const std::string& path) const {
  for (const App& a : installed_) {
    if (a.bundlePath == path) return a;
  }
  return std::nullopt;
}

App* Desk::app(std::int32_t pid) {
  auto it = apps_.find(pid);
  return it == apps_.end() ? nullptr : &it->second;
}

const App* Desk::app(std::int32_t pid) const { return const_cast<Desk*>(this)->app(pid); }

std::vector<App> Desk::runningApps() const {
  std::vector<App> result;
  for (const auto& [pid, a] : apps_) {
    if (!a.terminated || a.listedAfterExit) result.push_back(a);
  }
  std::stable_sort(result.begin(), result.end(), [](const App& a, const App& b) {
    return a.launchDate.value_or(-1e18) < b.launchDate.value_or(-1e18);
  });
  return result;
}

bool Desk::makeFrontmost(std::int32_t pid, bool raiseWindow) {
  App* a = app(pid);
  if (!a || a->terminated) return false;
  if (a->hidden) setHidden(pid, false);
  if (frontmost_ != pid) {
    if (frontmost_) {
      note({Kind::appDeactivated, *frontmost_});
      post(WorkspaceEvent::Kind::didDeactivate, *frontmost_);
    }
    frontmost_ = pid;
    std::erase(activation_, pid);
    activation_.insert(activation_.begin(), pid);
    note({Kind::appActivated, pid});
    post(WorkspaceEvent::Kind::didActivate, pid);
  }
  a = app(pid);
  if (!raiseWindow) return true;
  if (a->focusedWindow) {
    raise(a->focusedWindow);
  } else {
    focusNextWindow(pid, 0);
    if (app(pid)->focusedWindow) raise(app(pid)->focusedWindow);
  }
  return true;
}

bool Desk::setHidden(std::int32_t pid, bool hidden) {
  App* a = app(pid);
  if (!a || a->terminated) return false;
  if (a->hidden == hidden) return true;
  a->hidden = hidden;
  for (auto& [number, w] : windows_) {
    if (w.pid != pid || systemWindows_.count(number)) continue;
    if (hidden && w.orderedIn && !w.minimized) {
      w.orderedIn = false;
      w.hiddenWithApp = true;
    } else if (!hidden && w.hiddenWithApp) {
      w.orderedIn = true;
      w.hiddenWithApp = false;
    }
  }
  note({hidden ? Kind::appHidden : Kind::appUnhidden, pid});
  post(hidden ? WorkspaceEvent::Kind::didHide : WorkspaceEvent::Kind::didUnhide, pid);
  if (hidden && frontmost_ == pid) activateNext(pid);
  return true;
}

bool Desk::showsAWindowOf(std::int32_t pid) const {
  for (const auto& [number, w] : windows_) {
    if (w.pid == pid && w.layer == 0 && w.listed && !w.desktopElement && !w.clear && w.alpha > 0 && onScreen(number))
      return true;
  }
  return false;
}

std::optional<std::int32_t> Desk::desktopOwner() const {
  for (const auto& [key, number] : systemKeys_) {
    if (key.starts_with("finder/"))
      if (const Window* w = window(number)) return w->pid;
  }
  return std::nullopt;
}

void Desk::activateNext(std::int32_t leaving) {
  std::vector<std::int32_t> candidates;
  for (std::int32_t pid : activation_) {
    const App* a = app(pid);
    if (pid == leaving || !a || a->terminated || a->hidden) continue;
    if (a->policy == platform::ActivationPolicy::regular) candidates.push_back(pid);
  }
  // The front goes to the most recent app the user can see a window of; with none, to
  // the desktop's owner, so the menu bar never names an app whose windows are elsewhere.
  // A desk without a desktop owner falls back on the most recent app.
  const auto shown =
      std::find_if(candidates.begin(), candidates.end(), [&](std::int32_t pid) { return showsAWindowOf(pid); });
  if (shown != candidates.end()) {
    makeFrontmost(*shown);
    return;
  }
  // The desktop's owner comes forward with the desktop focused, raising none of its windows.
  const auto owner = desktopOwner();
  if (owner && std::find(candidates.begin(), candidates.end(), *owner) != candidates.end()) {
    makeFrontmost(*owner, false);
    return;
  }
  if (!candidates.empty()) {
    makeFrontmost(candidates.front());
    return;
  }
  if (frontmost_ == leaving) {
    note({Kind::appDeactivated, leaving});
    post(WorkspaceEvent::Kind::didDeactivate, leaving);
    frontmost_.reset();
  }
}

bool Desk::terminate(std::int32_t pid) {
  App* a = app(pid);
  if (!a || a->terminated || pid == ownPID_) return false;
  std::vector<std::uint32_t> gone;
  for (const auto& [number, w] : windows_) {
    if (w.pid == pid && !systemWindows_.count(number)) gone.push_back(number);
  }
  for (std::uint32_t n : gone) removeWindow(n);
  a = app(pid);
  a->terminated = true;
  a->focusedWindow = 0;
  std::erase(activation_, pid);
  const bool wasFront = frontmost_ == pid;
  if (wasFront) frontmost_.reset();
  note({Kind::appTerminated, pid});
  post(WorkspaceEvent::Kind::didTerminate, pid);
  systemDirty_ = true;
  if (wasFront) activateNext(pid);
  ended_.push_back(pid);
  while (ended_.size() > WindowServer::kEndedKept) {
    const std::int32_t old = ended_.front();
    ended_.pop_front();
    // Generated pids are never given out again, so nothing later is mistaken for it.
    const App* gone = app(old);
    if (!gone || !gone->terminated || gone->listedAfterExit) continue;
    apps_.erase(old);
    elements_.erase(old);
  }
  return true;
}

void Desk::setOwnPID(std::int32_t pid) {
  if (pid == ownPID_ || pid <= 0) return;
  if (auto it = apps_.find(ownPID_); it != apps_.end()) {
    App own = it->second;
    apps_.erase(it);
    own.pid = pid;
    apps_[pid] = own;
    std::replace(activation_.begin(), activation_.end(), ownPID_, pid);
    if (frontmost_ == ownPID_) frontmost_ = pid;
  }
  for (auto& [number, w] : windows_) {
    if (w.own) w.pid = pid;
  }
  ownPID_ = pid;
}

void Desk::setOwnApp(App a, double now) {
  a.pid = ownPID_;
  a.terminated = false;
  if (!apps_.count(ownPID_)) {
    if (!a.launchDate) a.launchDate = now;
    activation_.push_back(ownPID_);
  } else if (!a.launchDate) {
    a.launchDate = apps_[ownPID_].launchDate;
  }
  a.focusedWindow = apps_.count(ownPID_) ? apps_[ownPID_].focusedWindow : 0;
  apps_[ownPID_] = a;
}

std::uint64_t Desk::nextElement(std::int32_t pid) {
  // Element ids are spread out so a scan has to look for them, and leave room for children.
  auto [it, fresh] = elements_.try_emplace(pid, 37 + static_cast<std::uint64_t>(pid % 7) * 3);
  const std::uint64_t id = it->second;
  it->second += 4;
  return id;
}

// ---------------------------------------------------------------------------------------------
// Output

void Desk::note(DeskChange change) {
  ++generation_;
  changes_.push_back(change);
}

void Desk::post(WorkspaceEvent::Kind kind, std::int32_t pid) { events_.push_back({kind, pid}); }

std::vector<DeskChange> Desk::takeChanges() {
  for (const DeskChange& c : changes_) changeLog.push_back(c);
  return std::exchange(changes_, {});
}

std::vector<WorkspaceEvent> Desk::takeEvents() { return std::exchange(events_, {}); }

}  // namespace sim
