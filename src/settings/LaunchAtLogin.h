#pragma once
// Opening the application at login, through the system's main-application service.
// Turned on by itself once per user, on the first launch; the user's later choice stays.

namespace trelliq {

class LaunchAtLogin final {
 public:
  LaunchAtLogin() = delete;

  /// The service reports the application as enabled; asked afresh on every call.
  static bool isOn();
  /// The service waits for the user to allow the item in System Settings.
  static bool needsApproval();
  /// Registers (`on`) or unregisters the application. On failure logs "couldn't turn on
  /// opening at login: " (or "off") with the error's description and answers false.
  static bool set(bool on);
  /// On the first launch for the user: marks "launchAtLoginSetUp" first, then turns opening
  /// at login on. A failure is logged and never retried. Main thread, at start-up.
  static void setUpOnFirstLaunch();
};

}  // namespace trelliq
