#pragma once
// The accessibility half of the simulated window server: every running application
// answers for itself and its windows. Element ids come from the desk (Window::axElement;
// the app is element 0, a window's close button is its id + 1). Attribute changes and
// actions become the server's delayed requests; desk changes become notifications for
// the observers registered on the app or on the element concerned.
//
// An application whose calls time out (App::accessibilityHung) answers
// kAXErrorCannotComplete after the caller's timeout. Under a VirtualClock the wait is
// only recorded (or, on request, elapsed on the clock); under a real clock the call
// really blocks for it. Every function is thread-safe.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/sim/WindowServer.h"

namespace sim {

class AccessibilityServer : public AccessibilityService {
 public:
  /// Listens to `server`'s desk changes and registers "_AXUIElementGetWindow" and
  /// "_AXUIElementCreateWithRemoteToken" in its world (they act on the newest server alive).
  explicit AccessibilityServer(WindowServer& server);
  ~AccessibilityServer() override;
  AccessibilityServer(const AccessibilityServer&) = delete;
  AccessibilityServer& operator=(const AccessibilityServer&) = delete;

  /// The server the registered private functions act on, or null.
  static AccessibilityServer* active();

  // ---- AccessibilityService ----
  platform::AXAnswer copyAttribute(AXElementID element, const std::string& attribute, double timeout) override;
  AXError setAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                       double timeout) override;
  AXError performAction(AXElementID element, const std::string& action, double timeout) override;
  std::pair<AXError, std::uint64_t> createObserver(
      std::int32_t pid, std::function<void(AXElementID element, const std::string& notification)> deliver) override;
  AXError addNotification(std::uint64_t observer, AXElementID element, const std::string& notification) override;
  AXError removeNotification(std::uint64_t observer, AXElementID element, const std::string& notification) override;
  void destroyObserver(std::uint64_t observer) override;

  // ---- The private functions ----
  /// The window number behind a window element (the handle's timeout applies).
  AXError windowOfElement(const AXUIElementRef& element, std::uint32_t* window);
  /// An element from a 20-byte remote token; null for a malformed token or no such element.
  /// Each token is recorded with the server's private calls.
  AXUIElementRef elementFromToken(const platform::PlistData& token);

  // ---- Control ----
  /// Makes every call to the app time out (or answer again); the same as App::accessibilityHung.
  void setHung(std::int32_t pid, bool hung);
  /// Every call naming `name` (attribute or action) on any element of the app answers
  /// `error` instead (nothing: answers normally again).
  void setError(std::int32_t pid, const std::string& name, std::optional<AXError> error);
  /// With true, a timed-out call under a VirtualClock lets that clock elapse its timeout.
  void setTimeoutsElapseClock(bool elapse);
  /// Delivers a notification about `element` to the observers registered for it.
  void postNotification(AXElementID element, const std::string& notification);

  // ---- Records ----
  struct Call {
    enum class Kind { copy, set, action, getWindow };
    Kind kind = Kind::copy;
    AXElementID element;
    std::string name;  // attribute or action; empty for getWindow
    AXValue value;     // the value set, or the value answered to a copy
    AXError error = kAXErrorSuccess;
    friend bool operator==(const Call&, const Call&) = default;
  };
  /// The calls made, oldest first (the newest 10,000).
  std::vector<Call> calls() const;
  /// The set and action calls only, as "AXMain=true" / "AXRaise" texts per element, oldest first.
  std::vector<std::string> requests(AXElementID element) const;
  void clearCalls();
  /// The log is a test instrument the real system does not have: benchmarks switch it off
  /// so they time what the program pays, not the bookkeeping. On by default.
  void keepCallLog(bool keep) { callLog_.store(keep, std::memory_order_relaxed); }
  bool keepsCallLog() const { return callLog_.load(std::memory_order_relaxed); }
  /// One wait for an app that did not answer: the caller's timeout.
  struct Wait {
    std::int32_t pid = 0;
    std::string name;
    double seconds = 0;
  };
  std::vector<Wait> waits() const;
  /// The sum of all waits, in seconds.
  double waitedSeconds() const;
  void clearWaits();
  /// The notifications registered by live observers of `pid`, as (element, name).
  std::vector<std::pair<AXElementID, std::string>> registrations(std::int32_t pid) const;

 private:
  struct Observer {
    std::int32_t pid = 0;
    std::function<void(AXElementID, const std::string&)> deliver;
    std::set<std::pair<AXElementID, std::string>> registered;
  };
  // What an element id names, as found under the server's lock (pointers into the desk,
  // valid only while it is held).
  struct Target {
    enum class Kind { app, window, closeButton };
    Kind kind = Kind::app;
    const App* app = nullptr;
    const Window* window = nullptr;
  };
  // The window numbers the element index gives an element id and the one before it (a
  // close button's window), read before taking the server's lock.
  struct Candidates {
    std::optional<std::uint32_t> self;
    std::optional<std::uint32_t> parent;
  };
  // What a set or an action needs of its target once the lock is let go.
  struct Subject {
    Target::Kind kind = Target::Kind::app;
    std::int32_t pid = 0;
    std::uint32_t window = 0;
    bool minimized = false;
    bool fullScreen = false;
  };

  bool trusted();
  Candidates candidates(AXElementID element, const std::string& name, std::optional<AXError>* injected);
  static std::optional<Target> targetIn(const Desk& desk, AXElementID element, const Candidates& found);
  /// Reaches the app (trust, a live app, a hung one, an injected error) and resolves the
  /// element, then hands the target to `use` under the server's lock. The error instead
  /// when the app does not answer (after waiting when hung) or the element names nothing.
  /// `use` is called as use(WindowServer::State&, const Target&).
  template <typename Use>
  std::optional<AXError> answer(AXElementID element, const std::string& name, double timeout, Use&& use);
  /// Whether the element names a live app, window or close button (no reach).
  bool resolves(AXElementID element);
  /// A hung app's wait: recorded, elapsed on the virtual clock on request, or really slept.
  AXError waitForHung(std::int32_t pid, const std::string& name, double timeout);
  platform::AXAnswer read(WindowServer::State& state, const Target& target, const std::string& attribute);
  AXError write(const Subject& subject, const std::string& attribute, const AXValue& value);
  AXError act(const Subject& subject, const std::string& action);
  static Subject subjectOf(const Target& target);
  static bool listsWindow(const Window& window);
  void rememberLocked(const Window& window);
  static std::optional<std::uint32_t> mainWindowOf(WindowServer::State& state, const App& app);
  void record(Call call);
  void onDeskChange(const DeskChange& change);
  void deliver(AXElementID subject, const std::string& notification);

  WindowServer& server_;
  std::uint64_t listener_ = 0;

  mutable std::mutex mutex_;
  std::map<std::uint64_t, Observer> observers_;
  std::map<std::pair<std::int32_t, std::string>, AXError> errors_;
  struct ElementHash {
    std::size_t operator()(const AXElementID& id) const noexcept {
      return std::hash<std::uint64_t>()(id.element * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint32_t>(id.pid));
    }
  };
  // Asked on every call, so hashed rather than ordered.
  std::unordered_map<std::uint32_t, AXElementID> elements_;           // window number -> element, also after it went
  std::unordered_map<AXElementID, std::uint32_t, ElementHash> windows_;  // element -> live window
  std::deque<Call> calls_;  // the newest kMaxCalls
  std::atomic<bool> callLog_{true};
  std::vector<Wait> waits_;
  bool elapseClock_ = false;
};

}  // namespace sim
