#pragma once
// The event half of the simulated window server. Posted events queue up and are
// delivered one at a time on the installed clock (the "window server events" queue).
// A key event still carrying the text it was made with is first typed with the current
// keyboard layout and its modifiers (dead keys compose with the next key). Then the event
// passes the taps: an event posted at the HID point the HID taps and then the session
// taps, one posted at the session point only the session taps; within a point the taps
// inserted at the head come first. An active tap holds the event until it answered (the
// event, a changed one, or nothing to consume it); one that has not answered within the
// tap timeout is disabled, told so, and passed by. Listen-only taps are shown the event
// without holding it. On reaching the session point the event moves the pointer and
// sets the modifier and button state, whatever the session taps then do with it. What
// no tap consumed reaches the system: the Dock takes its control and gesture events, the
// system's switcher (see DockSwitcher) the keys it answers to, a click on another
// application's window raises it and activates the application, and the rest reaches the
// program when it is frontmost (keys) or owns the window under the pointer (clicks,
// scrolls; drags and the release go to the window the button went down on).
//
// The Dock switches a display one Space left or right for one complete swipe
// (began, changed, ended), in the layout of the simulated OS: up to major version 26
// three Dock-control events whose fields carry the direction; later, each phase as a
// Dock-control companion with its gesture record followed by a plain gesture event,
// the direction turned round under natural scrolling. Anything else that looks like a
// swipe is ignored, and every set it saw is recorded. Every function is thread-safe.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "platform/KeyboardLayout.h"
#include "platform/sim/DockSwitcher.h"
#include "platform/sim/IORegistry.h"
#include "platform/sim/MultitouchDevices.h"
#include "platform/sim/WindowServer.h"

namespace sim {

/// One swipe set as the Dock saw it.
struct SwipeRecord {
  enum class Layout { older, newer };
  enum class Outcome { landed, atEdge, ignored };
  Layout layout = Layout::older;
  Outcome outcome = Outcome::ignored;
  int direction = 0;  // +1 to the Space on the right, -1 to the left, 0 unknown
  std::uint32_t display = 0;
  std::uint64_t from = 0;  // the display's Space before, and after a landing
  std::uint64_t to = 0;
  std::string reason;  // why it was ignored
  std::vector<CGEvent> events;
};

class EventServer : public EventService {
 public:
  /// The label of the executor events are delivered on.
  static constexpr const char* kQueueLabel = "window server events";
  /// The Dock's swipe values.
  static constexpr double kProgress = 1.6e-5;
  static constexpr double kOlderVelocity = 2000;
  static constexpr double kNewerVelocity = 9999;

  explicit EventServer(WindowServer& server);
  ~EventServer() override;
  EventServer(const EventServer&) = delete;
  EventServer& operator=(const EventServer&) = delete;

  /// The newest event server alive, or null (for tests and benchmarks to reach its records).
  static EventServer* active();

  // ---- EventService ----
  /// Listening needs the Accessibility permission or input monitoring; posting the former.
  bool listenEventAccess() override;
  bool postEventAccess() override;
  /// Dropped (and recorded as such) without the permission to post.
  void postEvent(CGEventTapLocation tap, const CGEvent& event) override;
  /// An event of the simulated keyboard, mouse or trackpad (see UserInput): it enters at the
  /// HID point like a posted one, whatever the program's permissions, and is not recorded as posted.
  void hardwareEvent(const CGEvent& event);
  /// Refused (nothing) for an active tap without the Accessibility permission, a
  /// listen-only one without listen access, or an unknown point or placement.
  std::optional<std::uint64_t> createEventTap(const platform::EventTapRequest& request,
                                              platform::EventTapHandler handler, std::int32_t owner) override;
  void setEventTapEnabled(std::uint64_t tap, bool enabled) override;
  bool isEventTapEnabled(std::uint64_t tap) override;
  /// An event held by the tap goes on at once, unchanged.
  void removeEventTap(std::uint64_t tap) override;
  /// Served by the IOKit registry (see ioRegistry): the multitouch devices publish there.
  std::optional<std::uint32_t> addServiceMatching(const std::string& className, std::function<void()> arrived) override;
  std::uint32_t nextMatchedService(std::uint32_t iterator) override;
  void releaseIOObject(std::uint32_t object) override;
  /// A move of the pointer without an event: the listen-only taps for mouse moves are shown
  /// one (in order with the events queued before it); active taps and the system see nothing.
  void pointerMoved(CGPoint location) override;

  // ---- Settings ----
  /// How long an active tap may hold an event before it is disabled (1 s unless set).
  void setTapTimeout(platform::Seconds seconds);
  platform::Seconds tapTimeout() const;
  /// Input monitoring: listen-only taps without the Accessibility permission.
  void setInputMonitoringAllowed(bool allowed);
  /// With true, every new active tap is refused although the program is trusted (the
  /// system's list and its event filter disagree, as after an update until a restart).
  void setActiveTapsRefused(bool refused);
  /// Selects a built-in keyboard layout by name ("U.S." unless set); false for an unknown one.
  bool setKeyboardLayout(const std::string& name);
  std::string keyboardLayout() const;
  /// Disables every enabled tap and tells each with kCGEventTapDisabledByUserInput, as the
  /// system does while secure input is on.
  void disableTapsByUserInput();
  /// A slow program's tap, on demand: the listed events of each active tap (1: the first it
  /// is shown) time out at once, as if the tap had not answered in time. The tap is still
  /// shown the event; its answer comes too late.
  void timeOutHolds(std::set<std::uint64_t> holds);
  /// A loaded system, on demand: a tap enabled or disabled changes `seconds` after it was
  /// asked (0, as unless set: at once). Changes take effect in the order they were asked.
  void setLateTapChanges(platform::Seconds seconds);

  // ---- State ----
  /// The modifier flags of the last key or flags-changed event that reached the session point.
  CGEventFlags modifierFlags() const;
  /// The mouse buttons held (bit n: button n), as the events that reached the session point left them.
  std::uint32_t pressedButtons() const;
  /// Whether the Dock reads swipes in the newer layout (by the OS major version).
  bool newerSwipeLayout();
  /// The direction setting the Dock applies: true unless the global preference says false.
  bool naturalScrolling();
  /// The system's own application switcher.
  DockSwitcher& dockSwitcher() { return switcher_; }
  /// The trackpads and touch mice, and the registry of hardware services they are published in.
  MultitouchDevices& multitouch() { return multitouch_; }
  IORegistry& ioRegistry() { return registry_; }
  WindowServer& windowServer() { return server_; }

  // ---- Records ----
  struct Posted {
    CGEventTapLocation tap = kCGSessionEventTap;
    CGEvent event;
    bool dropped = false;  // no permission to post
  };
  /// Events posted (newest 10,000), oldest first.
  std::vector<Posted> posted() const;
  /// Events that made it through the taps to the system, oldest first (newest 10,000).
  std::vector<CGEvent> delivered() const;
  struct Consumed {
    std::uint64_t tap = 0;
    CGEvent event;  // as the tap was shown it
  };
  /// Events a tap consumed, oldest first (newest 10,000).
  std::vector<Consumed> consumed() const;
  /// One installed tap as the server sees it.
  struct TapInfo {
    std::uint64_t id = 0;
    platform::EventTapRequest request;
    bool enabled = true;
    std::uint64_t shown = 0;  // events it was shown
    int timeouts = 0;         // times it was disabled for answering too late
    std::int32_t owner = 0;   // the process that installed it
  };
  /// The installed taps in the order events pass them.
  std::vector<TapInfo> taps() const;
  /// Swipe sets the Dock saw, oldest first.
  std::vector<SwipeRecord> swipes() const;
  void clearRecords();
  /// Events posted but not yet through (the one the taps hold included).
  std::size_t queued() const;

 private:
  struct Queued {
    CGEventTapLocation tap = kCGSessionEventTap;
    CGEvent event;
    bool listenersOnly = false;  // a pointer move without an event: only listen-only taps hear it
  };
  struct Tap {
    TapInfo info;
    std::shared_ptr<const platform::EventTapHandler> handler;
  };
  // The event going through the taps: the ids it still has to pass (fixed when it set
  // out) and where the session point begins among them.
  struct Flight {
    CGEvent event;
    std::vector<std::uint64_t> route;
    std::size_t sessionStart = 0;
    std::size_t next = 0;
    bool atSession = false;
  };
  // The active tap the flight waits for.
  struct Waiting {
    std::uint64_t call = 0;
    std::uint64_t tap = 0;
    platform::WorkItem timer;  // the time-out
  };
  // A swipe being put together.
  struct Gathering {
    SwipeRecord record;
    std::int64_t lastPhase = 0;
  };
  // Lets queued deliveries find out that the server is gone.
  struct Guard {
    std::mutex mutex;
    EventServer* self = nullptr;
  };

  // Runs `work` on the event queue (after `delay`) unless the server is gone by then.
  static platform::WorkItem onQueue(const std::weak_ptr<Guard>& guard, std::function<void(EventServer&)> work,
                                    platform::Seconds delay = 0);
  void schedule();
  void deliverNext();
  void showListeners(const CGEvent& event);
  void typeText(CGEvent& event);
  void proceed();
  void answered(std::uint64_t call, std::optional<CGEvent> answer);
  void expire(std::uint64_t call);
  void release(std::uint64_t call);
  void timedOut();
  void notify(std::uint64_t tap, CGEventType notice);
  void reachSession(const CGEvent& event);
  void finish(const CGEvent& event);
  void route(const CGEvent& event);
  // Another app's title-bar button under `location` (a platform::TitleButton), if any.
  static std::optional<int> titleButtonUnder(const Window& window, CGPoint location);
  void releaseTitleButton(const CGEvent& event);
  void dock(const CGEvent& event);
  void dockOlder(const CGEvent& event, std::uint32_t display, std::vector<SwipeRecord>& done);
  void dockNewer(const CGEvent& event, std::uint32_t display, std::vector<SwipeRecord>& done);
  void takePhase(std::vector<CGEvent> events, std::int64_t phase, int sign, SwipeRecord::Layout layout,
                 std::uint32_t display, std::vector<SwipeRecord>& done);
  void abandon(const std::string& reason, std::uint32_t display, std::vector<SwipeRecord>& done,
               const std::vector<CGEvent>& extra);
  void land(SwipeRecord& record);

  Tap* findTap(std::uint64_t id);

  WindowServer& server_;
  DockSwitcher switcher_;

  mutable std::mutex mutex_;
  std::deque<Queued> queue_;
  bool delivering_ = false;
  std::optional<Flight> flight_;
  std::optional<Waiting> waiting_;
  std::uint64_t nextCall_ = 1;
  std::array<std::vector<Tap>, 3> taps_;  // HID, session, annotated session; each head first
  platform::Seconds tapTimeout_ = 1.0;
  std::set<std::uint64_t> timedOutHolds_;  // which events of each active tap time out at once
  platform::Seconds lateTapChanges_ = 0;
  bool inputMonitoring_ = false;
  bool activeTapsRefused_ = false;
  const platform::KeyboardLayout* layout_ = &platform::KeyboardLayout::us();
  char16_t accent_ = 0;  // a dead key's accent waiting for the next key
  CGEventFlags modifiers_ = 0;
  std::uint32_t buttons_ = 0;
  /// A program's window a button went down on, and its program (window 0: none's).
  struct Grab {
    std::uint32_t window = 0;
    std::int32_t pid = 0;
  };
  std::map<std::int64_t, Grab> captured_;  // by the button held
  std::optional<std::pair<std::uint32_t, int>> titlePress_;  // another app's window and the title button pressed
  std::optional<Gathering> gathering_;
  std::optional<CGEvent> companion_;  // newer layout: waiting for its gesture event
  SwipeRecord::Layout swipeLayout_ = SwipeRecord::Layout::older;
  std::vector<Posted> posted_;
  std::vector<CGEvent> delivered_;
  std::vector<Consumed> consumed_;
  std::vector<SwipeRecord> swipes_;
  IORegistry registry_;
  MultitouchDevices multitouch_;
  std::shared_ptr<Guard> guard_;
};

}  // namespace sim
