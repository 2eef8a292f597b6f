#pragma once
// The application's delegate: how the running program keeps watch over its access and
// how it ends. Once the switcher runs, a watch on its own queue checks every second that
// the program may still filter keyboard events; when that access is gone it logs, starts
// a new copy of the program through the shell, gives the system its ⌘⇥ back and exits.
// When System Settings asks the program to quit (after a permission change), it notes
// who asked, quits, and opens again once the old process has gone, with the window that
// was showing; `restart` does the same for the windows' "Restart" buttons. Every way out
// turns the system's hot keys back on. Main thread unless noted.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/AppWindow.h"
#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/DispatchSource.h"
#include "platform/FoundationProcesses.h"

namespace trelliq {

class AppDelegate : public NSApplicationDelegate {
 public:
  /// A quit request whose sender's executable path holds either of these comes from
  /// System Settings or its privacy pane.
  static constexpr std::array<const char*, 2> settingsPaths{"/System Settings.app/",
                                                            "/SecurityPrivacyExtension.appex/"};
  /// The distributed notification the system sends when the Accessibility list changes.
  static constexpr const char* accessibilityNotification = "com.apple.accessibility.api";
  static constexpr const char* watchQueueLabel = "accessibility watch";
  static constexpr platform::Seconds watchInterval = 1.0;
  static constexpr platform::Seconds watchLeeway = 0.1;
  /// How long the lost-access exit waits for the hot keys to be back on.
  static constexpr platform::Seconds restoreWait = 0.3;
  static constexpr const char* shell = "/bin/sh";
  /// The lost-access relaunch: wait a second, then open a new instance of the bundle ($0).
  static constexpr const char* relaunchScript = "sleep 1; /usr/bin/open -n \"$0\"";

  /// `permissions` and `preferences` are the two windows a relaunch reopens; they must
  /// outlive the delegate.
  AppDelegate(AppWindow& permissions, AppWindow& preferences);
  /// Stops the watch and the list-change observer, and stops being the application's delegate.
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  /// The watch's serial queue (user-interactive), from the installed clock.
  static platform::Executor& watchQueue();

  /// (Re)starts the watch: the old one is cancelled, the new one ticks at once and then
  /// every second with an empty last state, so its first tick logs. The first call also
  /// starts logging the system's list-change notifications.
  void watchAccessibility();
  /// One tick of the watch (on the watch queue): logs "accessibility: " and the state when
  /// it differs from `lastState` (then updated), and calls accessibilityLost without access.
  static void tick(std::string& lastState);
  /// "trusted=T canFilter=C listen=L post=P" with each as "true" or "false".
  static std::string stateString(bool trusted, bool canFilter, bool listen, bool post);
  /// Logs, launches the relaunch shell (errors ignored), turns the hot keys on from a
  /// global queue and exits with status 0 once that is done or `restoreWait` has passed,
  /// whichever comes first. Watch queue. Only the first call in a process acts, and no
  /// tick acts after it.
  static void accessibilityLost();

  /// Always terminate-now. A quit Apple event is logged with its sender's executable path,
  /// and one from System Settings marks the program for reopening.
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication& sender) override;
  /// Turns the hot keys on, then reopens when marked.
  void applicationWillTerminate() override;
  /// Launches the shell that waits for this process to end and opens the bundle again,
  /// passing "--show-permissions" or "--show-preferences" for the window showing now (the
  /// Permissions window first). A launch error is ignored.
  void reopen();
  /// Marks the application's delegate (when it is an AppDelegate) for reopening and asks
  /// the application to terminate.
  static void restart();

  /// Relaunch after termination; only ever goes from false to true.
  bool reopenAfterQuit = false;
  /// The running watch, if any.
  std::shared_ptr<DispatchSourceTimer> accessibilityWatch;
  /// The list-change observer, added once.
  std::optional<NSDistributedNotificationToken> accessibilityNote;

 private:
  AppWindow& permissions_;
  AppWindow& preferences_;
};

}  // namespace trelliq
