#pragma once
// The order in which the user used windows and desktops, kept as a logical clock: every
// use takes the next number, so more recent means larger (0: never used). Window and
// desktop stamps share the clock and compare with each other. Also keeps the last few
// deliberate focus changes with their times. Learns from the workspace notifications,
// accessibility observers of every watched application and direct calls. Nothing is
// persisted. Main thread only; failures are silent.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AppKitWorkspace.h"
#include "platform/OncePerSystem.h"

namespace trelliq {

class Recency : public std::enable_shared_from_this<Recency> {
 public:
  /// A deliberate focus change: the window and the wall-clock time (seconds since 1970).
  struct Focus {
    std::uint32_t window = 0;
    double at = 0;
    friend bool operator==(const Focus&, const Focus&) = default;
  };

  /// How many deliberate changes `latest`'s history keeps.
  static constexpr std::size_t recentLimit = 8;
  /// Seconds after an app is hidden during which focus changes are not deliberate.
  static constexpr double handoffSeconds = 1.0;
  /// Seconds after a desktop is used during which the file manager taking focus is ignored.
  static constexpr double desktopSeconds = 1.0;
  /// The messaging timeout of every application element made here.
  static constexpr double messagingTimeout = 0.1;
  static constexpr const char* finderBundleIdentifier = "com.apple.finder";

  /// The one history of the process, made on first use (a fresh simulated system gets a
  /// fresh one). Main thread.
  static Recency& shared();

  /// An empty history that observes nothing until `start`.
  Recency();
  /// Stops every observation this instance started.
  ~Recency();
  Recency(const Recency&) = delete;
  Recency& operator=(const Recency&) = delete;

  /// Registers the workspace and window-became-key observers, seeds the history from the
  /// system's front-to-back order and observes every regular application. Call once.
  void start();
  /// Records a use of a window; a deliberate one also enters `latest`'s history.
  void touch(std::uint32_t window, bool deliberate);
  /// Records a use of a Space's desktop; for a second afterwards the file manager taking
  /// focus is not recorded.
  void touchDesktop(std::int64_t space);

  /// The last deliberate focus change; nothing before the first.
  std::optional<Focus> latest() const;
  /// The window's stamp; 0 for no window or one never used.
  std::uint64_t stamp(std::optional<std::uint32_t> window) const;
  /// The stamp of the last use of the Space's desktop; 0 when never used.
  std::uint64_t desktopStamp(std::int64_t space) const;
  /// The deliberate focus changes kept, oldest first (at most `recentLimit`).
  const std::vector<Focus>& recent() const { return recent_; }
  /// Whether an accessibility observer watches the process.
  bool observes(std::int32_t pid) const { return observers_.count(pid) != 0; }

 private:
  void observe(const NSRunningApplication& app);
  void noteFocus(std::int32_t pid);
  void focusMoved(const AXUIElementRef& element);
  void handOff(const NSRunningApplication& hidden);
  void forget(std::int32_t pid);
  bool deliberateNow() const;
  static void observerCallback(const AXUIElementRef& element, const std::string& notification);

  std::map<std::uint32_t, std::uint64_t> stamps_;
  std::uint64_t clock_ = 0;
  std::map<std::int32_t, AXObserverRef> observers_;
  std::set<std::int32_t> accessory_;
  std::vector<Focus> recent_;
  double handoffUntil_ = -1e300;  // the distant past
  std::map<std::int64_t, std::uint64_t> desktopStamps_;
  double desktopUntil_ = -1e300;

  const platform::SystemStamp system_ = platform::SystemStamp::now();  // the system this history was made for
  std::vector<NSNotificationToken> workspaceTokens_;
  std::vector<NSNotificationToken> defaultTokens_;
};

}  // namespace trelliq
