#pragma once
// What the delegate keeps, read the way the tests need it: the status item and its
// entries, the timers and watches it holds, and whether it will reopen.

#include "app/AppDelegate.h"

namespace trelliq {

struct AppDelegatePeer {
  explicit AppDelegatePeer(AppDelegate& delegate) : d(delegate) {}

  const std::shared_ptr<NSStatusItem>& statusItem() const { return d.statusItem_; }
  const std::shared_ptr<NSImage>& icon() const { return d.icon_; }
  const std::vector<std::shared_ptr<NSMenuItem>>& modeItems() const { return d.modeItems_; }
  const std::shared_ptr<NSMenuItem>& permissionItem() const { return d.permissionItem_; }
  bool recencyStarted() const { return d.recencyStarted_; }
  const std::optional<platform::Timer>& accessibilityTimer() const { return d.accessibilityTimer_; }
  const std::shared_ptr<DispatchSourceTimer>& accessibilityWatch() const { return d.accessibilityWatch_; }
  bool reopenAfterQuit() const { return d.reopenAfterQuit_; }
  /// Marks the delegate for reopening as an earlier quit request from System Settings would.
  void markReopen() { d.reopenAfterQuit_ = true; }

  AppDelegate& d;
};

}  // namespace trelliq
