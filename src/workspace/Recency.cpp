#include "workspace/Recency.h"

#include <algorithm>

#include "platform/AppKitWindows.h"
#include "platform/CFRunLoop.h"
#include "platform/CGWindow.h"
#include "platform/Clock.h"
#include "workspace/Focus.h"
#include "workspace/FrontToBack.h"
#include "workspace/Minimized.h"
#include "workspace/Private.h"
#include "workspace/WindowEntries.h"

namespace trelliq {

namespace {

std::int32_t ownPID() { return NSProcessInfo::processInfo().processIdentifier(); }

AXUIElementRef applicationElement(std::int32_t pid) {
  AXUIElementRef element = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(element, static_cast<float>(Recency::messagingTimeout));
  return element;
}

}  // namespace

Recency& Recency::shared() {
  // Never destroyed, so nothing runs against torn-down notification centres at exit.
  static auto& instance = *new std::shared_ptr<Recency>();
  if (!instance || !instance->system_.isCurrent()) {
    // A fresh simulated system is a fresh launch: the old history and its observers go.
    instance.reset();
    instance = std::make_shared<Recency>();
  }
  return *instance;
}

Recency::Recency() = default;

Recency::~Recency() {
  auto& workspace = NSWorkspace::shared().notificationCenter();
  for (auto token : workspaceTokens_) workspace.removeObserver(token);
  for (auto token : defaultTokens_) NSNotificationCenter::defaultCenter().removeObserver(token);
  if (!system_.isCurrent()) {
    // The observers belong to a system that is gone; releasing them would talk to its
    // successor about registrations it never made, so they are parked instead.
    static auto& parked = *new std::vector<AXObserverRef>();
    for (auto& [pid, observer] : observers_) parked.push_back(std::move(observer));
    return;
  }
  for (auto& [pid, observer] : observers_) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer), kCFRunLoopCommonModes);
  }
}

void Recency::touch(std::uint32_t window, bool deliberate) {
  stamps_[window] = ++clock_;
  if (!deliberate) return;
  if (recent_.size() >= recentLimit) recent_.erase(recent_.begin(), recent_.end() - (recentLimit - 1));
  recent_.push_back({window, platform::now()});
}

void Recency::touchDesktop(std::int64_t space) {
  desktopStamps_[space] = ++clock_;
  desktopUntil_ = platform::now() + desktopSeconds;
}

std::optional<Recency::Focus> Recency::latest() const {
  if (recent_.empty()) return std::nullopt;
  return recent_.back();
}

std::uint64_t Recency::stamp(std::optional<std::uint32_t> window) const {
  if (!window) return 0;
  auto found = stamps_.find(*window);
  return found == stamps_.end() ? 0 : found->second;
}

std::uint64_t Recency::desktopStamp(std::int64_t space) const {
  auto found = desktopStamps_.find(space);
  return found == desktopStamps_.end() ? 0 : found->second;
}

bool Recency::deliberateNow() const { return platform::now() >= handoffUntil_; }

void Recency::start() {
  std::weak_ptr<Recency> weak = weak_from_this();
  auto& workspace = NSWorkspace::shared().notificationCenter();
  auto on = [&](const char* name, auto handler) {
    workspaceTokens_.push_back(
        workspace.addObserver(name, nullptr, &platform::mainQueue(), [weak, handler](const NSNotification& note) {
          if (auto self = weak.lock()) handler(*self, note);
        }));
  };
  on(NSWorkspaceDidLaunchApplicationNotification, [](Recency& self, const NSNotification& note) {
    if (note.application && note.application->activationPolicy() == NSApplicationActivationPolicyRegular) {
      self.observe(*note.application);
    }
  });
  on(NSWorkspaceDidTerminateApplicationNotification, [](Recency& self, const NSNotification& note) {
    if (note.application) self.forget(note.application->processIdentifier());
  });
  on(NSWorkspaceDidActivateApplicationNotification, [](Recency& self, const NSNotification& note) {
    if (!note.application) return;
    self.observe(*note.application);
    self.noteFocus(note.application->processIdentifier());
  });
  on(NSWorkspaceDidHideApplicationNotification, [](Recency& self, const NSNotification& note) {
    if (note.application) self.handOff(*note.application);
  });
  on(NSWorkspaceActiveSpaceDidChangeNotification, [](Recency& self, const NSNotification&) {
    if (auto front = NSWorkspace::shared().frontmostApplication()) self.noteFocus(front->processIdentifier());
  });

  defaultTokens_.push_back(NSNotificationCenter::defaultCenter().addObserver(
      NSWindowDidBecomeKeyNotification, nullptr, &platform::mainQueue(), [weak](const NSNotification& note) {
        auto self = weak.lock();
        if (!self) return;
        // The notification may arrive after its window is gone: only a live window is read.
        const auto windows = NSApplication::shared().windows();
        auto found =
            std::find_if(windows.begin(), windows.end(), [&](NSWindow* window) { return window == note.object; });
        if (found == windows.end()) return;
        NSWindow* window = *found;
        // Untitled panels (the switcher's own) are not a use of a window.
        if ((window->styleMask() & NSWindowStyleMaskTitled) && window->windowNumber() > 0) {
          self->touch(static_cast<std::uint32_t>(window->windowNumber()), true);
        }
      }));

  const auto order = FrontToBack::pids();
  for (auto pid = order.rbegin(); pid != order.rend(); ++pid) noteFocus(*pid);

  for (const auto& app : NSWorkspace::shared().runningApplications()) {
    if (app.activationPolicy() == NSApplicationActivationPolicyRegular) observe(app);
  }
}

void Recency::observe(const NSRunningApplication& app) {
  const auto policy = app.activationPolicy();
  const std::int32_t pid = app.processIdentifier();
  if (policy != NSApplicationActivationPolicyRegular && policy != NSApplicationActivationPolicyAccessory) return;
  if (observers_.count(pid) || pid == ownPID()) return;
  if (policy == NSApplicationActivationPolicyAccessory) accessory_.insert(pid);

  AXObserverRef observer;
  const AXError created = AXObserverCreate(
      pid,
      [](AXObserverRef, AXUIElementRef element, const std::string& notification, void*) {
        observerCallback(element, notification);
      },
      &observer);
  if (created != kAXErrorSuccess || !observer) return;
  AXUIElementRef element = applicationElement(pid);
  for (const char* notification :
       {kAXFocusedWindowChangedNotification, kAXWindowMiniaturizedNotification, kAXWindowDeminiaturizedNotification}) {
    AXObserverAddNotification(observer, element, notification, nullptr);
  }
  CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer), kCFRunLoopCommonModes);
  observers_[pid] = std::move(observer);
}

void Recency::forget(std::int32_t pid) {
  accessory_.erase(pid);
  auto found = observers_.find(pid);
  if (found == observers_.end()) return;
  CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(found->second), kCFRunLoopCommonModes);
  observers_.erase(found);
}

void Recency::observerCallback(const AXUIElementRef& element, const std::string& notification) {
  if (notification == kAXFocusedWindowChangedNotification) {
    shared().focusMoved(element);
  } else {
    Minimized::changed(element, notification == kAXWindowMiniaturizedNotification);
  }
}

void Recency::focusMoved(const AXUIElementRef& element) {
  std::int32_t pid = 0;
  if (!element || AXUIElementGetPid(element, &pid) != kAXErrorSuccess) return;
  auto front = NSWorkspace::shared().frontmostApplication();
  // A background app moving its own focus is not the user's doing, unless it lives in the menu bar.
  if ((!front || front->processIdentifier() != pid) && !accessory_.count(pid)) return;
  if (auto window = Private::windowID(element)) {
    touch(*window, deliberateNow());
  } else {
    noteFocus(pid);
  }
}

void Recency::noteFocus(std::int32_t pid) {
  if (platform::now() < desktopUntil_) {
    // Using a desktop brings the file manager forward; that is not a use of its window.
    auto app = NSRunningApplication::withProcessIdentifier(pid);
    if (app && app->bundleIdentifier() == finderBundleIdentifier) return;
  }
  AXUIElementRef element = applicationElement(pid);
  if (pid == ownPID()) return;
  auto focused = axAttr(element, kAXFocusedWindowAttribute);
  AXUIElementRef window = focused ? focused->asElement() : nullptr;
  if (!window) return;
  if (auto number = Private::windowID(window)) touch(*number, deliberateNow());
}

void Recency::handOff(const NSRunningApplication& hidden) {
  const double now = platform::now();
  handoffUntil_ = now + handoffSeconds;
  // Focus that moved away in the last second went to whatever the hide uncovered, not to
  // a window the user chose: drop it back to the hidden app's last window.
  while (!recent_.empty()) {
    const Focus& newest = recent_.back();
    if (now - newest.at >= handoffSeconds) break;
    const auto entries = entries::windowList(kCGWindowListOptionIncludingWindow, newest.window);
    const auto owner = entries.empty() ? std::nullopt : entries::ownerPID(entries.front());
    if (owner && *owner == hidden.processIdentifier()) break;
    recent_.pop_back();
  }
}

}  // namespace trelliq
