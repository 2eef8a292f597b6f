// From the finished launch to a running switcher, and the wait for Accessibility.

#include <algorithm>

#include "app/AppDelegate.h"
#include "app/NativeSwitcher.h"
#include "app/Permission.h"
#include "settings/LaunchAtLogin.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"
#include "workspace/Recency.h"

namespace trelliq {

namespace {

bool contains(const std::vector<std::string>& arguments, const char* flag) {
  return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

}  // namespace

void AppDelegate::applicationDidFinishLaunching(const std::vector<std::string>& arguments) {
  makeStatusItem();
  Settings::registerDefaults();
  // Fixed now, before any window of ours can ask for the permission.
  (void)Permission::screenRecordingAtLaunch();
  startSwitcher();
  Permission::confirmScreenCapture();
  if (contains(arguments, showPreferencesFlag)) preferences_.show();
  if (contains(arguments, showPermissionsFlag)) permissions_.show();
}

void AppDelegate::startSwitcher() {
  if (!started_) {
    // Also when this first attempt fails: the exit handling must be in place while the
    // system's ⌘⇥ may be handed over later.
    started_ = true;
    LaunchAtLogin::setUpOnFirstLaunch();
    NativeSwitcher::restoreOnExit();
  }
  if (Permission::accessibility.isGranted() && Switcher::shared().startTap()) {
    tapStarted();
    return;
  }
  NativeSwitcher::set(true);
  permissions_.show();
  permissionNeeded(true);
  if (accessibilityTimer_) accessibilityTimer_->invalidate();
  std::weak_ptr<AppDelegate*> self = self_;
  accessibilityTimer_ = platform::clock().scheduleTimer(platform::mainQueue(), permissionRetryInterval, true, [self] {
    if (auto live = self.lock()) (*live)->retryTap();
  });
}

void AppDelegate::retryTap() {
  if (!Permission::accessibility.isGranted()) return;
  if (!Switcher::shared().startTap()) return;  // the next tick tries again
  if (accessibilityTimer_) accessibilityTimer_->invalidate();
  accessibilityTimer_.reset();
  permissionNeeded(false);
  tapStarted();
}

void AppDelegate::tapStarted() {
  NativeSwitcher::set(false);
  if (!recencyStarted_) {
    recencyStarted_ = true;
    Recency::shared().start();
  }
  watchAccessibility();
}

}  // namespace trelliq
