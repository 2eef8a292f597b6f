#include "platform/sim/DockSwitcher.h"

#include <algorithm>
#include <utility>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"

namespace sim {

namespace {

constexpr const char* kDockBundle = "com.apple.dock";
constexpr CGKeyCode kTab = 48, kGrave = 50, kEscape = 53, kLeft = 123, kRight = 124;

}  // namespace

DockSwitcher::DockSwitcher(WindowServer& server) : server_(server) {}

DockSwitcher::State DockSwitcher::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::vector<DockSwitcher::Session> DockSwitcher::sessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

bool DockSwitcher::handle(const CGEvent& event) {
  const bool command = event.flags & kCGEventFlagMaskCommand;
  const bool shift = event.flags & kCGEventFlagMaskShift;
  bool isOpen = false;
  {
    std::lock_guard lock(mutex_);
    isOpen = state_.open;
  }
  if (event.type == kCGEventFlagsChanged) {
    if (isOpen && !command) close(true);
    return false;  // modifier changes always reach the applications
  }
  if (event.type == kCGEventKeyUp) return isOpen;
  if (event.type != kCGEventKeyDown) return false;

  const auto it = event.integerFields.find(kCGKeyboardEventKeycode);
  const CGKeyCode key = it == event.integerFields.end() ? 0 : static_cast<CGKeyCode>(it->second);
  if (isOpen) {
    // ⌘ went up without a flags change reaching the system: the release still ends it.
    if (!command) {
      close(true);
      return false;
    }
    switch (key) {
      case kTab:
        if (WindowServer::symbolicHotKeyEnabled(shift ? kPreviousHotKey : kNextHotKey)) move(shift ? -1 : 1);
        break;
      case kGrave:
      case kLeft:
        move(-1);
        break;
      case kRight:
        move(1);
        break;
      case kEscape:
        close(false);
        break;
      default:
        break;
    }
    return true;
  }
  const bool others = event.flags & (kCGEventFlagMaskAlternate | kCGEventFlagMaskControl);
  if (key != kTab || !command || others) return false;
  if (!WindowServer::symbolicHotKeyEnabled(shift ? kPreviousHotKey : kNextHotKey)) return false;
  return open(shift ? -1 : 1);
}

bool DockSwitcher::open(int step) {
  std::optional<std::int32_t> dock;
  for (const App& a : server_.apps()) {
    if (a.bundleIdentifier == kDockBundle) dock = a.pid;
  }
  if (!dock) return false;
  std::vector<std::int32_t> apps;
  for (std::int32_t pid : server_.activationOrder()) {
    const auto a = server_.app(pid);
    if (a && !a->terminated && a->policy == platform::ActivationPolicy::regular) apps.push_back(pid);
  }
  if (apps.empty()) return false;
  const auto displays = server_.displays();
  if (displays.empty()) return false;

  const CGRect& screen = displays.front().frame;
  const double width = std::min(apps.size() * kCellWidth + 2 * kMargin, screen.width());
  Window w;
  w.pid = *dock;
  w.layer = CGWindowLevelForKey(kCGDockWindowLevelKey);
  w.bounds = CGRect(screen.midX() - width / 2, screen.midY() - kHeight / 2, width, kHeight);
  w.allSpaces = true;
  w.accessible = false;
  w.subrole.clear();
  w.color = 0x2B2B2B;
  w.switcherApps = apps;
  w.switcherChoice = step > 0 ? (apps.size() > 1 ? 1 : 0) : apps.size() - 1;
  const std::uint32_t number = server_.addWindow(w);

  std::lock_guard lock(mutex_);
  state_.open = true;
  state_.window = number;
  state_.choice = w.switcherChoice;
  state_.apps = std::move(apps);
  return true;
}

void DockSwitcher::move(int step) {
  std::uint32_t window = 0;
  std::size_t choice = 0;
  {
    std::lock_guard lock(mutex_);
    const std::size_t n = state_.apps.size();
    if (n == 0) return;
    state_.choice = (state_.choice + (step > 0 ? 1 : n - 1)) % n;
    window = state_.window, choice = state_.choice;
  }
  // The window shows the chosen icon lit.
  server_.updateWindow(window, [choice](Window& w) { w.switcherChoice = choice; });
}

void DockSwitcher::close(bool activate) {
  State closed;
  {
    std::lock_guard lock(mutex_);
    closed = std::exchange(state_, State{});
    Session session{closed.apps, std::nullopt};
    if (activate && closed.choice < closed.apps.size()) session.activated = closed.apps[closed.choice];
    sessions_.push_back(std::move(session));
  }
  if (closed.window) server_.removeWindow(closed.window);
  if (activate && closed.choice < closed.apps.size()) {
    server_.requestActivate(closed.apps[closed.choice], NSApplicationActivateAllWindows);
  }
}

}  // namespace sim
