#include "platform/sim/EventServer.h"

#include <atomic>
#include <utility>

#include "platform/WindowFrame.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr std::size_t kMaxRecords = 10'000;

std::atomic<EventServer*> gActive{nullptr};
std::atomic<std::uint64_t> gNextTap{1};

constexpr CGEventType kGestureType = 29;
constexpr CGEventType kDockControlType = 30;

template <typename T>
void trim(std::vector<T>& records) {
  if (records.size() >= kMaxRecords) records.erase(records.begin(), records.begin() + kMaxRecords / 2);
}

bool isMouse(CGEventType t) {
  return (t >= kCGEventLeftMouseDown && t <= kCGEventRightMouseDragged) ||
         (t >= kCGEventOtherMouseDown && t <= kCGEventOtherMouseDragged);
}
bool isMouseDown(CGEventType t) {
  return t == kCGEventLeftMouseDown || t == kCGEventRightMouseDown || t == kCGEventOtherMouseDown;
}
bool isMouseUp(CGEventType t) {
  return t == kCGEventLeftMouseUp || t == kCGEventRightMouseUp || t == kCGEventOtherMouseUp;
}
bool isDrag(CGEventType t) {
  return t == kCGEventLeftMouseDragged || t == kCGEventRightMouseDragged || t == kCGEventOtherMouseDragged;
}
bool isKey(CGEventType t) { return t == kCGEventKeyDown || t == kCGEventKeyUp || t == kCGEventFlagsChanged; }

std::int64_t integerField(const CGEvent& e, CGEventField f) {
  auto it = e.integerFields.find(f);
  return it == e.integerFields.end() ? 0 : it->second;
}

// The button of a mouse event: left and right by their type, others by the field.
std::int64_t buttonOf(const CGEvent& e) {
  switch (e.type) {
    case kCGEventLeftMouseDown:
    case kCGEventLeftMouseUp:
    case kCGEventLeftMouseDragged:
      return kCGMouseButtonLeft;
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp:
    case kCGEventRightMouseDragged:
      return kCGMouseButtonRight;
    default:
      return integerField(e, kCGMouseEventButtonNumber);
  }
}

bool wants(const EventServer::TapInfo& tap, CGEventType type) {
  return type < 64 && (tap.request.mask & CGEventMaskBit(type)) != 0;
}

bool printable(const std::u16string& text) { return !text.empty() && text[0] >= 0x20 && text[0] != 0x7F; }

std::uint64_t nowNanos() { return platform::clock().monotonicNanos(); }

}  // namespace

EventServer::EventServer(WindowServer& server)
    : server_(server), switcher_(server), multitouch_(server, registry_), guard_(std::make_shared<Guard>()) {
  guard_->self = this;
  gActive.store(this, std::memory_order_release);
}

EventServer::~EventServer() {
  EventServer* self = this;
  gActive.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  std::lock_guard lock(guard_->mutex);
  guard_->self = nullptr;
}

EventServer* EventServer::active() { return gActive.load(std::memory_order_acquire); }

platform::WorkItem EventServer::onQueue(const std::weak_ptr<Guard>& guard, std::function<void(EventServer&)> work,
                                        platform::Seconds delay) {
  auto run = [guard, work = std::move(work)] {
    auto held = guard.lock();
    if (!held) return;
    std::lock_guard lock(held->mutex);
    if (held->self) work(*held->self);
  };
  platform::Executor& queue = platform::clock().queue(kQueueLabel);
  if (delay > 0) return queue.asyncAfter(delay, std::move(run));
  queue.async(std::move(run));
  return {};
}

// ---------------------------------------------------------------------------------------------
// Permissions, settings, devices

bool EventServer::listenEventAccess() {
  if (server_.world().accessibilityTrusted(false)) return true;
  std::lock_guard lock(mutex_);
  return inputMonitoring_;
}

bool EventServer::postEventAccess() { return server_.world().accessibilityTrusted(false); }

void EventServer::setActiveTapsRefused(bool refused) {
  std::lock_guard lock(mutex_);
  activeTapsRefused_ = refused;
}

void EventServer::setTapTimeout(platform::Seconds seconds) {
  std::lock_guard lock(mutex_);
  tapTimeout_ = seconds > 0 ? seconds : 0;
}

void EventServer::timeOutHolds(std::set<std::uint64_t> holds) {
  std::lock_guard lock(mutex_);
  timedOutHolds_ = std::move(holds);
}

platform::Seconds EventServer::tapTimeout() const {
  std::lock_guard lock(mutex_);
  return tapTimeout_;
}

void EventServer::setInputMonitoringAllowed(bool allowed) {
  std::lock_guard lock(mutex_);
  inputMonitoring_ = allowed;
}

bool EventServer::setKeyboardLayout(const std::string& name) {
  const platform::KeyboardLayout* layout = platform::KeyboardLayout::named(name);
  if (!layout) return false;
  std::lock_guard lock(mutex_);
  layout_ = layout;
  accent_ = 0;
  return true;
}

std::string EventServer::keyboardLayout() const {
  std::lock_guard lock(mutex_);
  return layout_->name();
}

std::optional<std::uint32_t> EventServer::addServiceMatching(const std::string& className,
                                                             std::function<void()> arrived) {
  return registry_.addMatching(className, std::move(arrived));
}

std::uint32_t EventServer::nextMatchedService(std::uint32_t iterator) { return registry_.next(iterator); }

void EventServer::releaseIOObject(std::uint32_t object) { registry_.release(object); }

// ---------------------------------------------------------------------------------------------
// Taps

EventServer::Tap* EventServer::findTap(std::uint64_t id) {
  for (auto& list : taps_) {
    for (Tap& tap : list) {
      if (tap.info.id == id) return &tap;
    }
  }
  return nullptr;
}

std::optional<std::uint64_t> EventServer::createEventTap(const platform::EventTapRequest& request,
                                                         platform::EventTapHandler handler, std::int32_t owner) {
  if (!handler || request.location > kCGAnnotatedSessionEventTap) return std::nullopt;
  if (request.placement != kCGHeadInsertEventTap && request.placement != kCGTailAppendEventTap) return std::nullopt;
  if (request.listenOnly ? !listenEventAccess() : !postEventAccess()) return std::nullopt;
  if (!request.listenOnly) {
    std::lock_guard lock(mutex_);
    if (activeTapsRefused_) return std::nullopt;
  }
  Tap tap;
  tap.info.id = gNextTap.fetch_add(1);
  tap.info.request = request;
  tap.info.owner = owner;
  tap.handler = std::make_shared<const platform::EventTapHandler>(std::move(handler));
  const std::uint64_t id = tap.info.id;
  std::lock_guard lock(mutex_);
  auto& list = taps_[request.location];
  if (request.placement == kCGHeadInsertEventTap) {
    list.insert(list.begin(), std::move(tap));
  } else {
    list.push_back(std::move(tap));
  }
  return id;
}

void EventServer::setEventTapEnabled(std::uint64_t id, bool enabled) {
  platform::Seconds late = 0;
  {
    std::lock_guard lock(mutex_);
    late = lateTapChanges_;
    if (late <= 0) {
      if (Tap* tap = findTap(id)) tap->info.enabled = enabled;
      return;
    }
  }
  onQueue(
      guard_,
      [id, enabled](EventServer& s) {
        std::lock_guard lock(s.mutex_);
        if (Tap* tap = s.findTap(id)) tap->info.enabled = enabled;
      },
      late);
}

void EventServer::setLateTapChanges(platform::Seconds seconds) {
  std::lock_guard lock(mutex_);
  lateTapChanges_ = seconds > 0 ? seconds : 0;
}

bool EventServer::isEventTapEnabled(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  const Tap* tap = findTap(id);
  return tap && tap->info.enabled;
}

void EventServer::removeEventTap(std::uint64_t id) {
  std::optional<std::uint64_t> held;
  {
    std::lock_guard lock(mutex_);
    for (auto& list : taps_) std::erase_if(list, [&](const Tap& t) { return t.info.id == id; });
    if (waiting_ && waiting_->tap == id) held = waiting_->call;
  }
  if (held) onQueue(guard_, [call = *held](EventServer& s) { s.release(call); });
}

void EventServer::disableTapsByUserInput() {
  std::vector<std::uint64_t> disabled;
  std::optional<std::uint64_t> held;
  {
    std::lock_guard lock(mutex_);
    for (auto& list : taps_) {
      for (Tap& tap : list) {
        if (!tap.info.enabled) continue;
        tap.info.enabled = false;
        disabled.push_back(tap.info.id);
        if (waiting_ && waiting_->tap == tap.info.id) held = waiting_->call;
      }
    }
  }
  for (std::uint64_t id : disabled) notify(id, kCGEventTapDisabledByUserInput);
  if (held) onQueue(guard_, [call = *held](EventServer& s) { s.release(call); });
}

void EventServer::notify(std::uint64_t id, CGEventType notice) {
  std::shared_ptr<const platform::EventTapHandler> handler;
  {
    std::lock_guard lock(mutex_);
    if (Tap* tap = findTap(id)) handler = tap->handler;
  }
  if (!handler) return;
  CGEvent event;
  event.type = notice;
  event.timestamp = nowNanos();
  (*handler)(notice, std::move(event), [](std::optional<CGEvent>) {});
}

// ---------------------------------------------------------------------------------------------
// Posting and delivery

void EventServer::postEvent(CGEventTapLocation tap, const CGEvent& event) {
  // A program posts only with Accessibility; the hardware's own events (source state 1 in
  // the platform's source-state field, 45: what the screen's keyboard and pointer make) need none.
  const auto source = event.integerFields.find(45);
  const bool allowed = postEventAccess() || (source != event.integerFields.end() && source->second == 1);
  bool start = false;
  {
    std::lock_guard lock(mutex_);
    trim(posted_);
    posted_.push_back(Posted{tap, event, !allowed});
    if (!allowed) return;
    queue_.push_back(Queued{tap, event});
    start = !delivering_;
    delivering_ = true;
  }
  if (start) schedule();
}

void EventServer::hardwareEvent(const CGEvent& event) {
  bool start = false;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(Queued{kCGHIDEventTap, event});
    start = !delivering_;
    delivering_ = true;
  }
  if (start) schedule();
}

void EventServer::pointerMoved(CGPoint location) {
  CGEvent event;
  event.type = kCGEventMouseMoved;
  event.location = location;
  event.timestamp = nowNanos();
  bool start = false;
  {
    std::lock_guard lock(mutex_);
    event.flags = modifiers_;
    queue_.push_back(Queued{kCGHIDEventTap, std::move(event), true});
    start = !delivering_;
    delivering_ = true;
  }
  if (start) schedule();
}

void EventServer::schedule() {
  onQueue(guard_, [](EventServer& s) { s.deliverNext(); });
}

void EventServer::deliverNext() {
  Queued item;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
      delivering_ = false;
      return;
    }
    item = std::move(queue_.front());
    queue_.pop_front();
  }
  if (item.listenersOnly) {
    showListeners(item.event);
    schedule();
    return;
  }
  typeText(item.event);
  {
    std::lock_guard lock(mutex_);
    Flight flight;
    flight.event = std::move(item.event);
    // The points an event posted at `item.tap` passes, in order.
    for (CGEventTapLocation at = item.tap; at <= kCGAnnotatedSessionEventTap; ++at) {
      if (at == kCGSessionEventTap) flight.sessionStart = flight.route.size();
      for (const Tap& tap : taps_[at]) flight.route.push_back(tap.info.id);
    }
    flight_ = std::move(flight);
  }
  proceed();
}

// Shows a move that no event carried to the enabled listen-only taps that want it, in tap order.
void EventServer::showListeners(const CGEvent& event) {
  // Without the permission to listen a tap hears nothing.
  if (!listenEventAccess()) return;
  std::vector<std::shared_ptr<const platform::EventTapHandler>> handlers;
  {
    std::lock_guard lock(mutex_);
    for (auto& list : taps_) {
      for (Tap& tap : list) {
        if (!tap.info.request.listenOnly || !tap.info.enabled || !wants(tap.info, event.type)) continue;
        ++tap.info.shown;
        handlers.push_back(tap.handler);
      }
    }
  }
  for (const auto& handler : handlers) (*handler)(event.type, event, [](std::optional<CGEvent>) {});
}

// Types a key event that still carries the text it was made with (or none).
void EventServer::typeText(CGEvent& event) {
  if (event.type != kCGEventKeyDown && event.type != kCGEventKeyUp) return;
  const auto key = static_cast<CGKeyCode>(integerField(event, kCGKeyboardEventKeycode));
  if (!event.unicode.empty() && event.unicode != platform::KeyboardLayout::us().type(key, 0).text) return;
  std::lock_guard lock(mutex_);
  const platform::KeyboardLayout::Typed typed = layout_->type(key, event.flags);
  if (event.type == kCGEventKeyUp) {
    event.unicode = typed.text;
    return;
  }
  if (typed.accent) {
    // A second dead key types the waiting accent on its own.
    event.unicode = accent_ ? std::u16string(1, std::exchange(accent_, 0)) : std::u16string();
    if (event.unicode.empty()) accent_ = typed.accent;
    return;
  }
  if (accent_ && printable(typed.text)) {
    event.unicode = platform::KeyboardLayout::compose(std::exchange(accent_, 0), typed.text);
    return;
  }
  accent_ = 0;
  event.unicode = typed.text;
}

// Takes the flight through its taps until an active tap holds it or it reaches the system.
void EventServer::proceed() {
  const bool trusted = server_.world().accessibilityTrusted(false);
  while (true) {
    bool reach = false;
    CGEvent event;
    {
      std::lock_guard lock(mutex_);
      if (!flight_) return;
      if (!flight_->atSession && flight_->next >= flight_->sessionStart) {
        flight_->atSession = true;
        reach = true;
        event = flight_->event;
      }
    }
    if (reach) reachSession(event);

    std::shared_ptr<const platform::EventTapHandler> handler;
    bool listenOnly = false;
    std::uint64_t call = 0;
    platform::Seconds timeout = 0;
    {
      std::lock_guard lock(mutex_);
      Flight& f = *flight_;
      if (f.next >= f.route.size()) {
        event = std::move(f.event);
        flight_.reset();
      } else {
        Tap* tap = findTap(f.route[f.next++]);
        if (!tap || !tap->info.enabled || !wants(tap->info, f.event.type)) continue;
        listenOnly = tap->info.request.listenOnly;
        // Without its permission a tap hears nothing (the Accessibility permission was taken away).
        if (!trusted && !(listenOnly && inputMonitoring_)) continue;
        ++tap->info.shown;
        handler = tap->handler;
        event = f.event;
        if (!listenOnly) {
          call = nextCall_++;
          waiting_ = Waiting{call, tap->info.id, {}};
          timeout = timedOutHolds_.count(tap->info.shown) ? 0 : tapTimeout_;
        }
      }
    }
    if (!handler) {
      finish(event);
      schedule();
      return;
    }
    const CGEventType type = event.type;
    if (listenOnly) {
      (*handler)(type, std::move(event), [](std::optional<CGEvent>) {});
      continue;
    }
    platform::WorkItem timer = onQueue(
        guard_, [call](EventServer& s) { s.expire(call); }, timeout);
    {
      std::lock_guard lock(mutex_);
      if (waiting_ && waiting_->call == call) waiting_->timer = timer;
    }
    std::weak_ptr<Guard> guard = guard_;
    (*handler)(type, std::move(event), [guard, call](std::optional<CGEvent> answer) {
      onQueue(guard,
              [call, answer = std::move(answer)](EventServer& s) mutable { s.answered(call, std::move(answer)); });
    });
    return;
  }
}

void EventServer::answered(std::uint64_t call, std::optional<CGEvent> answer) {
  bool consumed = false;
  {
    std::lock_guard lock(mutex_);
    if (!waiting_ || waiting_->call != call || !flight_) return;  // after the time-out, or released
    waiting_->timer.cancel();
    if (answer) {
      flight_->event = std::move(*answer);
    } else {
      trim(consumed_);
      consumed_.push_back(Consumed{waiting_->tap, std::move(flight_->event)});
      flight_.reset();
      consumed = true;
    }
    waiting_.reset();
  }
  if (consumed) {
    schedule();
  } else {
    proceed();
  }
}

void EventServer::expire(std::uint64_t call) {
  {
    std::lock_guard lock(mutex_);
    if (!waiting_ || waiting_->call != call) return;
  }
  timedOut();
}

// The tap holding the event went away or was turned off: the event goes on unchanged.
void EventServer::release(std::uint64_t call) {
  {
    std::lock_guard lock(mutex_);
    if (!waiting_ || waiting_->call != call) return;
    waiting_->timer.cancel();
    waiting_.reset();
  }
  proceed();
}

void EventServer::timedOut() {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (!waiting_) return;
    id = waiting_->tap;
    waiting_->timer.cancel();
    waiting_.reset();
    if (Tap* tap = findTap(id)) {
      tap->info.enabled = false;
      ++tap->info.timeouts;
    }
  }
  notify(id, kCGEventTapDisabledByTimeout);
  proceed();
}

// The hardware state follows the event where it enters the session, before the session's taps.
void EventServer::reachSession(const CGEvent& event) {
  if (isMouse(event.type)) server_.placePointer(event.location);
  std::lock_guard lock(mutex_);
  if (isKey(event.type)) modifiers_ = event.flags & 0xFFFF0000;
  const std::int64_t button = buttonOf(event);
  if (button >= 0 && button < 32) {
    if (isMouseDown(event.type)) buttons_ |= 1u << button;
    if (isMouseUp(event.type)) buttons_ &= ~(1u << button);
  }
}

void EventServer::finish(const CGEvent& event) {
  {
    std::lock_guard lock(mutex_);
    trim(delivered_);
    delivered_.push_back(event);
  }
  if (event.type == kGestureType || event.type == kDockControlType) {
    dock(event);
    return;
  }
  if (isKey(event.type) && switcher_.handle(event)) return;
  route(event);
}

void EventServer::route(const CGEvent& event) {
  const std::int32_t own = server_.ownProcessIdentifier();
  if (isKey(event.type)) {
    if (const auto program = server_.keyboardProgram()) server_.deliverToProgram(event, 0, *program);
    return;
  }
  if (!isMouse(event.type) && event.type != kCGEventScrollWheel) return;
  const std::int64_t button = buttonOf(event);
  if (isDrag(event.type) || isMouseUp(event.type)) {
    // Drags and the release belong to the window the button went down on (0: not the program's).
    std::optional<Grab> captured;
    {
      std::lock_guard lock(mutex_);
      if (auto it = captured_.find(button); it != captured_.end()) {
        captured = it->second;
        if (isMouseUp(event.type)) captured_.erase(it);
      }
    }
    if (captured) {
      if (captured->window) server_.deliverToProgram(event, captured->window, captured->pid);
      if (!captured->window && event.type == kCGEventLeftMouseUp) releaseTitleButton(event);
      return;
    }
  }
  const auto number = server_.windowAt(event.location);
  const auto window = number ? server_.window(*number) : std::nullopt;
  // Any program's own window: with several programs on one world, each gets the pointer
  // over its own windows.
  const bool programs = window && (window->own || window->pid == own);
  if (isMouseDown(event.type)) {
    std::lock_guard lock(mutex_);
    captured_[button] = programs ? Grab{*number, window->pid} : Grab{};
  }
  if (!window) return;
  // A click on a window brings its application forward, whichever program's it is.
  if (event.type == kCGEventLeftMouseDown || event.type == kCGEventRightMouseDown) server_.pressedOnWindow(*number);
  if (event.type == kCGEventLeftMouseDown && !window->settingsPane.empty())
    server_.switchPrivacyPane(*number, event.location);
  if (programs) {
    server_.deliverToProgram(event, *number, window->pid);
    return;
  }
  if (event.type == kCGEventLeftMouseDown) {
    const auto button = titleButtonUnder(*window, event.location);
    std::lock_guard lock(mutex_);
    titlePress_.reset();
    if (button) titlePress_ = std::pair{*number, *button};
  }
}

std::optional<int> EventServer::titleButtonUnder(const Window& window, CGPoint location) {
  if (window.subrole != kAXStandardWindowSubrole || window.layer != 0) return std::nullopt;
  const CGPoint inFrame{location.x - window.bounds.minX(), location.y - window.bounds.minY()};
  if (inFrame.y < 0 || inFrame.y >= platform::kTitleBarHeight) return std::nullopt;
  const auto button = platform::titleButtonAt(inFrame);
  return button ? std::optional<int>(static_cast<int>(*button)) : std::nullopt;
}

// Another app's window button acts when the press and the release are on it, as its
// app's frame view would: close removes the window, minimise sends it to the Dock.
void EventServer::releaseTitleButton(const CGEvent& event) {
  std::optional<std::pair<std::uint32_t, int>> press;
  {
    std::lock_guard lock(mutex_);
    press = std::exchange(titlePress_, std::nullopt);
  }
  if (!press) return;
  const auto window = server_.window(press->first);
  if (!window || titleButtonUnder(*window, event.location) != press->second) return;
  if (press->second == static_cast<int>(platform::TitleButton::close)) server_.removeWindow(press->first);
  if (press->second == static_cast<int>(platform::TitleButton::miniaturize)) server_.requestMinimize(press->first, true);
}

// ---------------------------------------------------------------------------------------------
// Records

CGEventFlags EventServer::modifierFlags() const {
  std::lock_guard lock(mutex_);
  return modifiers_;
}

std::uint32_t EventServer::pressedButtons() const {
  std::lock_guard lock(mutex_);
  return buttons_;
}

std::vector<EventServer::Posted> EventServer::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

std::vector<CGEvent> EventServer::delivered() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

std::vector<EventServer::Consumed> EventServer::consumed() const {
  std::lock_guard lock(mutex_);
  return consumed_;
}

std::vector<EventServer::TapInfo> EventServer::taps() const {
  std::lock_guard lock(mutex_);
  std::vector<TapInfo> result;
  for (const auto& list : taps_) {
    for (const Tap& tap : list) result.push_back(tap.info);
  }
  return result;
}

std::vector<SwipeRecord> EventServer::swipes() const {
  std::lock_guard lock(mutex_);
  return swipes_;
}

void EventServer::clearRecords() {
  std::lock_guard lock(mutex_);
  posted_.clear();
  delivered_.clear();
  consumed_.clear();
  swipes_.clear();
}

std::size_t EventServer::queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + (flight_ ? 1 : 0);
}

}  // namespace sim
