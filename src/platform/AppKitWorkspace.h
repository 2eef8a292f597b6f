#pragma once
// Running applications, the shared workspace, notification centres and the process
// information. An NSRunningApplication is a handle on one process by pid: what cannot
// change (name, bundle, icon, launch date) is read when the handle is made, everything
// else (hidden, active, terminated, activation policy) is asked afresh at every read.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Image.h"
#include "platform/ServiceManagement.h"
#include "platform/WindowServerPort.h"

using NSApplicationActivationPolicy = platform::ActivationPolicy;
inline constexpr NSApplicationActivationPolicy NSApplicationActivationPolicyRegular =
    platform::ActivationPolicy::regular;
inline constexpr NSApplicationActivationPolicy NSApplicationActivationPolicyAccessory =
    platform::ActivationPolicy::accessory;
inline constexpr NSApplicationActivationPolicy NSApplicationActivationPolicyProhibited =
    platform::ActivationPolicy::prohibited;

using NSApplicationActivationOptions = std::uint32_t;
inline constexpr NSApplicationActivationOptions NSApplicationActivateAllWindows = 1 << 0;
inline constexpr NSApplicationActivationOptions NSApplicationActivateIgnoringOtherApps = 1 << 1;

/// A registration that lasts as long as the object (or until invalidated). Move-only.
class NSKeyValueObservation {
 public:
  NSKeyValueObservation() = default;
  explicit NSKeyValueObservation(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  NSKeyValueObservation(NSKeyValueObservation&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  NSKeyValueObservation& operator=(NSKeyValueObservation&& other) noexcept {
    if (this != &other) {
      invalidate();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  NSKeyValueObservation(const NSKeyValueObservation&) = delete;
  NSKeyValueObservation& operator=(const NSKeyValueObservation&) = delete;
  ~NSKeyValueObservation() { invalidate(); }
  /// Stops the observation; idempotent. No call starts after it returns.
  void invalidate() {
    if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
  }

 private:
  std::function<void()> cancel_;
};

class NSRunningApplication {
 public:
  /// The process with that pid, also one that has terminated; nothing for an unknown pid.
  static std::optional<NSRunningApplication> withProcessIdentifier(std::int32_t pid);
  /// The running (not terminated) applications with that bundle identifier, oldest first.
  static std::vector<NSRunningApplication> runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier);
  /// The program itself.
  static NSRunningApplication current();

  explicit NSRunningApplication(platform::RunningApplicationInfo info) : info_(std::move(info)) {}

  std::int32_t processIdentifier() const { return info_.pid; }
  const std::optional<std::string>& localizedName() const { return info_.localizedName; }
  const std::optional<std::string>& bundleIdentifier() const { return info_.bundleIdentifier; }
  /// The bundle's file path; nothing for a process without a bundle.
  const std::optional<std::string>& bundleURL() const { return info_.bundleURL; }
  const CGImageRef& icon() const { return info_.icon; }
  /// Seconds since 1970; nothing when unknown.
  std::optional<double> launchDate() const { return info_.launchDate; }

  NSApplicationActivationPolicy activationPolicy() const;
  bool isHidden() const;
  bool isActive() const;
  /// True once the process has ended (also when the world no longer knows it).
  bool isTerminated() const;
  bool isFinishedLaunching() const;

  /// Requests to the application, answered at once: false when it is gone or refuses.
  /// The effect is seen later through the workspace notifications. Thread-safe.
  bool activate(NSApplicationActivationOptions options = 0) const;
  bool hide() const;
  bool unhide() const;
  bool terminate() const;
  bool forceTerminate() const;

  /// Calls `changed` on the main queue each time `isTerminated` changes (never at once).
  NSKeyValueObservation observeIsTerminated(std::function<void(const NSRunningApplication&)> changed) const;

  friend bool operator==(const NSRunningApplication& a, const NSRunningApplication& b) {
    return a.info_.pid == b.info_.pid;
  }

 private:
  platform::RunningApplicationInfo info_;
};

// ---- Notifications ----------------------------------------------------------------------

inline constexpr const char* NSWorkspaceDidLaunchApplicationNotification =
    "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* NSWorkspaceDidTerminateApplicationNotification =
    "NSWorkspaceDidTerminateApplicationNotification";
inline constexpr const char* NSWorkspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
inline constexpr const char* NSWorkspaceDidDeactivateApplicationNotification =
    "NSWorkspaceDidDeactivateApplicationNotification";
inline constexpr const char* NSWorkspaceDidHideApplicationNotification = "NSWorkspaceDidHideApplicationNotification";
inline constexpr const char* NSWorkspaceDidUnhideApplicationNotification =
    "NSWorkspaceDidUnhideApplicationNotification";
inline constexpr const char* NSWorkspaceActiveSpaceDidChangeNotification =
    "NSWorkspaceActiveSpaceDidChangeNotification";
inline constexpr const char* NSWorkspaceDidWakeNotification = "NSWorkspaceDidWakeNotification";
inline constexpr const char* NSWindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline constexpr const char* NSUserDefaultsDidChangeNotification = "NSUserDefaultsDidChangeNotification";

struct NSNotification {
  std::string name;
  /// The sender (an NSWindow* for window notifications); compared by address only.
  const void* object = nullptr;
  /// The user info's NSWorkspaceApplicationKey entry of the application notifications.
  std::optional<NSRunningApplication> application;
};

struct NSNotificationToken {
  std::uint64_t id = 0;
  friend bool operator==(const NSNotificationToken&, const NSNotificationToken&) = default;
};

class NSNotificationCenter {
 public:
  /// The process's default centre (window, defaults notifications). UserDefaults posts
  /// NSUserDefaultsDidChangeNotification here after every change it makes or sees.
  static NSNotificationCenter& defaultCenter();

  /// Calls `block` for every posted notification named `name` (empty: every name) from
  /// `object` (null: any sender): asynchronously on `queue`, or on the posting thread
  /// when `queue` is null. The main queue given stands for the main queue of whichever
  /// clock is installed when a notification comes, so an observer may outlive a clock.
  /// Thread-safe.
  NSNotificationToken addObserver(const std::string& name, const void* object, platform::Executor* queue,
                                  std::function<void(const NSNotification&)> block);
  /// Stops the observer; nothing for a token of another centre. A block already queued still runs.
  void removeObserver(NSNotificationToken token);
  /// Hands `notification` to every matching observer, in registration order.
  void post(const NSNotification& notification);

 private:
  struct Observer {
    std::uint64_t id;
    std::string name;
    const void* object;
    platform::Executor* queue;  // null: the posting thread, or the main queue when `main`
    bool main;
    std::shared_ptr<std::function<void(const NSNotification&)>> block;
  };
  std::mutex mutex_;
  std::uint64_t nextID_ = 1;
  std::vector<Observer> observers_;
};

struct NSWorkspaceOpenConfiguration {
  bool activates = true;
  bool hides = false;
};

class NSWorkspace {
 public:
  /// The shared workspace. Its notification centre carries the application and Space
  /// notifications of the window server from the moment it is first used.
  static NSWorkspace& shared();

  /// Running applications, oldest launch first.
  std::vector<NSRunningApplication> runningApplications();
  std::optional<NSRunningApplication> frontmostApplication();
  /// Launches or reopens the application at `applicationURL` (a bundle path). The
  /// completion, when given, runs once on the main queue with the application or an error.
  void openApplication(
      const std::string& applicationURL, const NSWorkspaceOpenConfiguration& configuration,
      std::function<void(std::optional<NSRunningApplication>, std::optional<NSError>)> completionHandler = {});
  /// Opens a URL with its default application; false when nothing handles it.
  bool open(const std::string& url);
  /// The bundle path of the application with that bundle identifier; nothing when none is
  /// installed or running.
  std::optional<std::string> urlForApplication(const std::string& bundleIdentifier);
  /// The icon shown for the file at `path`: an application bundle's icon, else an empty picture.
  CGImageRef iconForFile(const std::string& path);
  NSNotificationCenter& notificationCenter() { return center_; }

 private:
  NSWorkspace() = default;
  NSNotificationCenter center_;
};

class NSProcessInfo {
 public:
  static NSProcessInfo& processInfo();
  /// The program's own pid in the simulated system.
  std::int32_t processIdentifier() const;
  platform::OperatingSystemVersion operatingSystemVersion() const;
};
