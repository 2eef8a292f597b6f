#pragma once
// The two privacy permissions the program needs, with every check and request made about
// them: Accessibility (without it the keyboard tap cannot be installed and windows cannot
// be raised) and Screen Recording (only for live previews and window titles). Answers
// are read from the system on every call; failures read as "not granted".

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "settings/DefaultsKeys.h"

namespace trelliq {

class Permission {
 public:
  enum class Case { accessibility, screenRecording };

  static const Permission accessibility;
  static const Permission screenRecording;
  /// Both, in this order.
  static const std::array<Permission, 2> allCases;

  /// The defaults key set once the confirming first capture was started.
  static constexpr const char* screenCaptureConfirmedKey = defaultskey::screenCaptureConfirmed;
  /// The event mask of the test tap: key down only.
  static constexpr std::uint64_t testTapMask = std::uint64_t{1} << 10;

  constexpr explicit Permission(Case c) : case_(c) {}
  constexpr Case kind() const { return case_; }
  constexpr std::size_t index() const { return static_cast<std::size_t>(case_); }

  /// Accessibility: trusted and, only then, `canFilterEvents`. Screen recording: the
  /// capture preflight. Main thread (the accessibility watch uses the parts directly).
  bool isGranted() const;
  /// The System Settings address of the permission's list in Privacy & Security.
  std::string settings() const;
  /// "Privacy_Accessibility" / "Privacy_ScreenCapture".
  std::string settingsAnchor() const;
  /// The defaults key noting that the system prompt was shown once.
  std::string askedKey() const;
  /// The first time ever, notes it under `askedKey` and shows the system's own prompt;
  /// every later time opens `settings` instead. Main thread.
  void request() const;

  /// Whether an active keyboard tap can be made right now: one is made and removed at once.
  /// Any thread; calls share nothing.
  static bool canFilterEvents();
  /// Whether screen capture was allowed when this was first asked (the launch asks first),
  /// fixed from then on for the running program.
  static bool screenRecordingAtLaunch();
  /// Calls `done` on the main queue, never before returning: true when screen recording
  /// is allowed now but was not at launch, so previews need a restart. Unless the answer
  /// is plain, a fresh copy of the program is asked ("--screen-recording-check"); a copy
  /// that cannot start counts as no. Any thread.
  static void screenRecordingAllowedSinceLaunch(std::function<void(bool)> done);
  /// Once per user: when screen capture is allowed, captures one window of another
  /// application, so the system asks the user to confirm the permission at launch rather
  /// than at the first preview. Main thread.
  static void confirmScreenCapture();

  friend constexpr bool operator==(Permission, Permission) = default;

 private:
  Case case_;
};

inline constexpr Permission Permission::accessibility{Permission::Case::accessibility};
inline constexpr Permission Permission::screenRecording{Permission::Case::screenRecording};
inline constexpr std::array<Permission, 2> Permission::allCases{Permission::accessibility, Permission::screenRecording};

}  // namespace trelliq

template <>
struct std::hash<trelliq::Permission> {
  std::size_t operator()(trelliq::Permission p) const noexcept { return p.index(); }
};
