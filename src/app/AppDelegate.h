#pragma once
// The application's delegate: how the running program keeps watch over its access and
// how it ends. Once the switcher runs, a watch on its own queue checks every second that
// the program may still filter keyboard events; when that access is gone it logs, starts
// a new copy of the program through the shell, gives the system its ⌘⇥ back and exits.
// When System Settings asks the program to quit (after a permission change), it notes
// who asked, quits, and opens again once the old process has gone, with the window that
// was showing; `restart` does the same for the windows' "Restart" buttons. Every way out
// turns the system's hot keys back on. At launch it builds the status item and its menu,
// starts the switcher once Accessibility is granted (retrying every second until then,
// with the status item marked) and hands the system's ⌘⇥ over. Main thread unless noted.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppWindow.h"
#include "platform/AppKitMenus.h"
#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/DispatchSource.h"
#include "platform/FoundationProcesses.h"
#include "platform/Refusals.h"

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

  // ---- Launch and switcher start (AppLaunch.cpp) ----

  static constexpr platform::Seconds permissionRetryInterval = 1.0;
  static constexpr const char* permissionNeededTitle = "Permission needed";
  static constexpr const char* permissionNeededSuffix = " (Permission needed)";
  static constexpr const char* openPermissionSettingsTitle = "Open Permission Settings";
  static constexpr const char* showPreferencesFlag = "--show-preferences";
  static constexpr const char* showPermissionsFlag = "--show-permissions";

  // ---- The status item (AppStatusItem.cpp) ----

  static constexpr const char* iconName = "MenuBarIcon";
  /// The button's title when the bundle has no icon.
  static constexpr const char* iconFallbackTitle = "⌘⌥⌃";
  static constexpr double iconHeight = 16;
  static constexpr const char* guideTitle = "How It Works…";
  static constexpr const char* preferencesTitle = "Preferences…";
  static constexpr const char* quitTitle = "Quit Trelliq";

  /// `permissions` and `preferences` are the two windows the launch shows and a relaunch
  /// reopens; they must outlive the delegate.
  AppDelegate(AppWindow& permissions, AppWindow& preferences);
  /// Stops the permission-wait timer, the watch and the list-change observer, and stops
  /// being the application's delegate.
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
  /// A tick whose checks the system refused acts on nothing: it says so (log and standard
  /// error, once until the answer changes) and the next tick checks again.
  static void tick(std::string& lastState);
  /// What the watch reads of the program's access at one tick.
  struct AccessState {
    bool trusted = false;    // Accessibility is granted
    bool canFilter = false;  // and the event tap may filter keys
    bool listen = false;     // listening to input events is allowed
    bool post = false;       // posting input events is allowed
  };
  /// "trusted=T canFilter=C listen=L post=P" with each as "true" or "false".
  static std::string stateString(const AccessState& state);
  /// Logs, launches the relaunch shell (errors ignored), turns the hot keys on from a
  /// global queue and, once that is done or `restoreWait` has passed (whichever comes
  /// first), has the main queue exit with status 0. Watch queue. Only the first call in a
  /// process acts, and no tick acts after it.
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

  /// Builds the status item, registers the options, fixes the launch-time screen-recording
  /// answer, starts the switcher, confirms screen capture, then shows the Preferences and
  /// the Permissions window when `arguments` hold their flags (in that order).
  void applicationDidFinishLaunching(const std::vector<std::string>& arguments);
  /// The first call sets up the login item and the exit handling. Starts the keyboard tap
  /// when Accessibility is granted (then `tapStarted`); otherwise gives the system its ⌘⇥,
  /// shows the Permissions window, marks the status item and (re)starts the 1 s retry
  /// timer on the main queue. Safe to call again.
  void startSwitcher();
  /// After the tap started: the system's ⌘⇥ off, recency started (once per delegate),
  /// the accessibility watch (re)started.
  void tapStarted();
  /// Marks the status button's title and puts "Open Permission Settings" and a separator
  /// at the top of the menu; false takes both away again. Each direction acts only once.
  void permissionNeeded(bool needed);

  /// Menu actions.
  void showGuide();
  void showPreferences();
  void openAccessibilitySettings();

  /// The status item with its image (or fallback title) and its menu: the mode picker, a
  /// separator, the update check, the guide, Preferences, a separator and quit. Once.
  void makeStatusItem();

 private:
  // The tests' read of the state below.
  friend struct AppDelegatePeer;

  // One tick of the permission-wait timer.
  void retryTap();
  // Says that a tick's checks were refused, unless the last tick said the same.
  static void uncheckable(std::string& lastState, const platform::Refusal& refusal);

  std::shared_ptr<NSStatusItem> statusItem_;
  std::shared_ptr<NSImage> icon_;
  // The picker's entry and the separator under it.
  std::vector<std::shared_ptr<NSMenuItem>> modeItems_;
  // The first-call set-up of `startSwitcher` has run.
  bool started_ = false;
  bool recencyStarted_ = false;
  // The permission-wait timer while it runs.
  std::optional<platform::Timer> accessibilityTimer_;
  // "Open Permission Settings" while it is in the menu.
  std::shared_ptr<NSMenuItem> permissionItem_;
  // The button's title from before the permission mark.
  std::string title_;

  // Relaunch after termination; only ever goes from false to true.
  bool reopenAfterQuit_ = false;
  // The running watch, if any.
  std::shared_ptr<DispatchSourceTimer> accessibilityWatch_;
  // The list-change observer, added once.
  std::optional<NSDistributedNotificationToken> accessibilityNote_;

  AppWindow& permissions_;
  AppWindow& preferences_;
  // Lets the timer's work tell that the delegate is gone.
  std::shared_ptr<AppDelegate*> self_ = std::make_shared<AppDelegate*>(this);
};

}  // namespace trelliq
