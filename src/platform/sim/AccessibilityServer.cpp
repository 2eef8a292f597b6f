#include "platform/sim/AccessibilityServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/PrivateSymbols.h"
#include "platform/VirtualClock.h"
#include "platform/sim/Desk.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

std::atomic<AccessibilityServer*> gActive{nullptr};
// Observer ids are unique for the process, so a handle outliving its server can never
// unregister an observer of the next one.
std::atomic<std::uint64_t> gNextObserver{1};

constexpr std::size_t kMaxCalls = 10'000;
constexpr std::uint32_t kTokenMagic = 0x636F636F;
constexpr const char* kGetWindowName = "_AXUIElementGetWindow";
constexpr const char* kRemoteTokenName = "_AXUIElementCreateWithRemoteToken";

const std::set<std::string>& supportedNotifications() {
  static const std::set<std::string> names = {
      "AXFocusedWindowChanged", "AXMainWindowChanged",      "AXWindowCreated",
      "AXUIElementDestroyed",   "AXWindowMiniaturized",     "AXWindowDeminiaturized",
      "AXWindowMoved",          "AXWindowResized",          "AXTitleChanged",
      "AXApplicationActivated", "AXApplicationDeactivated", "AXApplicationHidden",
      "AXApplicationShown"};
  return names;
}

AXError getWindowFunction(const AXUIElementRef& element, std::uint32_t* window) {
  AccessibilityServer* server = AccessibilityServer::active();
  return server ? server->windowOfElement(element, window) : kAXErrorCannotComplete;
}

AXUIElementRef remoteTokenFunction(const platform::PlistData& token) {
  AccessibilityServer* server = AccessibilityServer::active();
  return server ? server->elementFromToken(token) : nullptr;
}

std::uint64_t littleEndian(const platform::PlistData& data, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[at + i];
  return value;
}

}  // namespace

AccessibilityServer::AccessibilityServer(WindowServer& server) : server_(server) {
  {
    // Asked before locking: the server is never called with this lock held.
    const std::vector<Window> windows = server_.windows();
    std::lock_guard lock(mutex_);
    for (const Window& w : windows) rememberLocked(w);
  }
  listener_ = server_.addChangeListener([this](const DeskChange& change) { onDeskChange(change); });
  server_.world().addFunction<AXUIElementGetWindow_t>(kApplicationServicesPath, kGetWindowName, &getWindowFunction);
  server_.world().addFunction<AXUIElementCreateWithRemoteToken_t>(kApplicationServicesPath, kRemoteTokenName,
                                                                  &remoteTokenFunction);
  gActive.store(this, std::memory_order_release);
}

AccessibilityServer::~AccessibilityServer() {
  AccessibilityServer* self = this;
  gActive.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  server_.removeChangeListener(listener_);
}

AccessibilityServer* AccessibilityServer::active() { return gActive.load(std::memory_order_acquire); }

// ---------------------------------------------------------------------------------------------
// Reaching an application

bool AccessibilityServer::trusted() { return server_.world().accessibilityTrusted(false); }

AccessibilityServer::Candidates AccessibilityServer::candidates(AXElementID element, const std::string& name,
                                                                std::optional<AXError>* injected) {
  Candidates found;
  std::lock_guard lock(mutex_);
  if (injected && !errors_.empty()) {
    if (auto it = errors_.find({element.pid, name}); it != errors_.end()) *injected = it->second;
  }
  if (element.element == kAXApplicationElementID) return found;
  if (auto it = windows_.find(element); it != windows_.end()) found.self = it->second;
  if (element.element > 1) {
    if (auto it = windows_.find(AXElementID{element.pid, element.element - 1}); it != windows_.end()) {
      found.parent = it->second;
    }
  }
  return found;
}

std::optional<AccessibilityServer::Target> AccessibilityServer::targetIn(const Desk& desk, AXElementID element,
                                                                         const Candidates& found) {
  const App* app = desk.app(element.pid);
  if (!app || app->terminated) return std::nullopt;
  Target target;
  target.app = app;
  if (element.element == kAXApplicationElementID) return target;
  // The index may still name a window that went or changed hands; only a live match counts.
  const auto live = [&](const std::optional<std::uint32_t>& number, std::uint64_t id) -> const Window* {
    const Window* w = number ? desk.window(*number) : nullptr;
    return w && w->pid == element.pid && w->axElement == id ? w : nullptr;
  };
  if (const Window* w = live(found.self, element.element)) {
    target.kind = Target::Kind::window;
    target.window = w;
    return target;
  }
  if (element.element <= 1) return std::nullopt;  // 0 never names a window
  if (const Window* w = live(found.parent, element.element - 1)) {
    target.kind = Target::Kind::closeButton;
    target.window = w;
    return target;
  }
  return std::nullopt;
}

template <typename Use>
std::optional<AXError> AccessibilityServer::answer(AXElementID element, const std::string& name, double timeout,
                                                   Use&& use) {
  if (!trusted()) return kAXErrorAPIDisabled;
  std::optional<AXError> injected;
  const Candidates found = candidates(element, name, &injected);
  std::optional<AXError> error;
  bool hung = false;
  server_.inspect([&](WindowServer::State& state) {
    const Desk& desk = state.desk;
    const App* app = desk.app(element.pid);
    if (!app || app->terminated) {
      error = kAXErrorInvalidUIElement;
    } else if (app->accessibilityHung) {
      hung = true;
    } else if (injected) {
      error = injected;
    } else if (auto target = targetIn(desk, element, found)) {
      use(state, *target);
    } else {
      error = kAXErrorInvalidUIElement;
    }
  });
  if (hung) return waitForHung(element.pid, name, timeout);
  return error;
}

bool AccessibilityServer::resolves(AXElementID element) {
  const Candidates found = candidates(element, "", nullptr);
  bool resolved = false;
  server_.inspect([&](WindowServer::State& state) { resolved = targetIn(state.desk, element, found).has_value(); });
  return resolved;
}

AXError AccessibilityServer::waitForHung(std::int32_t pid, const std::string& name, double timeout) {
  if (!(timeout > 0) || std::isinf(timeout)) timeout = kAXDefaultMessagingTimeout;
  bool elapse = false;
  {
    std::lock_guard lock(mutex_);
    waits_.push_back(Wait{pid, name, timeout});
    elapse = elapseClock_;
  }
  if (auto* virtualClock = dynamic_cast<platform::VirtualClock*>(&platform::clock())) {
    if (elapse) virtualClock->elapse(timeout);
  } else {
    std::this_thread::sleep_for(std::chrono::duration<double>(timeout));
  }
  return kAXErrorCannotComplete;
}

void AccessibilityServer::rememberLocked(const Window& window) {
  if (auto it = elements_.find(window.number); it != elements_.end()) windows_.erase(it->second);
  if (window.axElement == 0) return;
  const AXElementID id{window.pid, window.axElement};
  elements_[window.number] = id;
  windows_[id] = window.number;
}

// Apps report the windows of the Spaces that show, and minimized ones; windows on other
// Spaces stay reachable by element but are not listed.
bool AccessibilityServer::listsWindow(const Window& window) {
  // Apps list their windows on every Space; only windows that never got an element
  // (and apps that don't answer at all) leave the window list to fill the gaps.
  return window.axElement != 0;
}

std::optional<std::uint32_t> AccessibilityServer::mainWindowOf(WindowServer::State& state, const App& app) {
  const auto& byOwner = state.ordered().byOwner;
  const auto own = byOwner.find(app.pid);
  if (own == byOwner.end()) return std::nullopt;
  std::optional<std::uint32_t> fallback;
  for (const Window* w : own->second) {
    if (w->axElement == 0 || w->minimized) continue;
    if (w->number == app.focusedWindow && w->subrole == kAXStandardWindowSubrole) return w->number;
    if (!fallback && w->subrole == kAXStandardWindowSubrole && listsWindow(*w)) fallback = w->number;
  }
  return fallback;
}

// ---------------------------------------------------------------------------------------------
// Attributes and actions

platform::AXAnswer AccessibilityServer::read(WindowServer::State& state, const Target& target,
                                             const std::string& name) {
  using platform::AXAnswer;
  // Compared as views: a different length rules a name out before any character is looked at.
  const std::string_view attribute = name;
  const Desk& desk = state.desk;
  const App& app = *target.app;
  const std::int32_t pid = app.pid;
  const AXAnswer noValue{kAXErrorNoValue, {}};
  const AXAnswer unsupported{kAXErrorAttributeUnsupported, {}};

  switch (target.kind) {
    case Target::Kind::app: {
      if (attribute == kAXRoleAttribute) return {kAXErrorSuccess, "AXApplication"};
      if (attribute == kAXTitleAttribute) return app.name ? AXAnswer{kAXErrorSuccess, *app.name} : noValue;
      if (attribute == kAXFrontmostAttribute) return {kAXErrorSuccess, desk.frontmost() == pid};
      if (attribute == "AXHidden") return {kAXErrorSuccess, app.hidden};
      if (attribute == kAXWindowsAttribute) {
        std::vector<AXValue> windows;
        const auto& byOwner = state.ordered().byOwner;
        if (auto own = byOwner.find(pid); own != byOwner.end()) {
          windows.reserve(own->second.size());
          for (const Window* each : own->second) {
            if (listsWindow(*each)) windows.emplace_back(AXElementID{pid, each->axElement});
          }
        }
        return {kAXErrorSuccess, AXValue(std::move(windows))};
      }
      if (attribute == kAXFocusedWindowAttribute) {
        const Window* focused = app.focusedWindow ? desk.window(app.focusedWindow) : nullptr;
        if (!focused || focused->axElement == 0 || focused->minimized) return noValue;
        return {kAXErrorSuccess, AXElementID{pid, focused->axElement}};
      }
      if (attribute == kAXMainWindowAttribute) {
        const auto main = mainWindowOf(state, app);
        const Window* window = main ? desk.window(*main) : nullptr;
        if (!window) return noValue;
        return {kAXErrorSuccess, AXElementID{pid, window->axElement}};
      }
      return unsupported;
    }
    case Target::Kind::window: {
      const Window& w = *target.window;
      if (attribute == kAXRoleAttribute) return {kAXErrorSuccess, "AXWindow"};
      if (attribute == kAXSubroleAttribute) return w.subrole.empty() ? noValue : AXAnswer{kAXErrorSuccess, w.subrole};
      if (attribute == kAXTitleAttribute) return {kAXErrorSuccess, w.accessibilityTitle.value_or(w.title)};
      if (attribute == kAXMinimizedAttribute) return {kAXErrorSuccess, w.minimized};
      if (attribute == kAXFullScreenAttribute) return {kAXErrorSuccess, w.fullScreen};
      if (attribute == kAXPositionAttribute) return {kAXErrorSuccess, w.bounds.origin};
      if (attribute == kAXSizeAttribute) return {kAXErrorSuccess, w.bounds.size};
      if (attribute == kAXMainAttribute) return {kAXErrorSuccess, app.focusedWindow == w.number};
      if (attribute == "AXFocused") {
        return {kAXErrorSuccess, app.focusedWindow == w.number && desk.frontmost() == pid};
      }
      if (attribute == kAXCloseButtonAttribute) return {kAXErrorSuccess, AXElementID{pid, w.axElement + 1}};
      if (attribute == "AXParent") return {kAXErrorSuccess, AXElementID{pid, kAXApplicationElementID}};
      return unsupported;
    }
    case Target::Kind::closeButton: {
      if (attribute == kAXRoleAttribute) return {kAXErrorSuccess, "AXButton"};
      if (attribute == kAXSubroleAttribute) return {kAXErrorSuccess, "AXCloseButton"};
      if (attribute == "AXWindow" || attribute == "AXParent") {
        return {kAXErrorSuccess, AXElementID{pid, target.window->axElement}};
      }
      return unsupported;
    }
  }
  return unsupported;
}

AccessibilityServer::Subject AccessibilityServer::subjectOf(const Target& target) {
  Subject subject;
  subject.kind = target.kind;
  subject.pid = target.app->pid;
  if (target.window) {
    subject.window = target.window->number;
    subject.minimized = target.window->minimized;
    subject.fullScreen = target.window->fullScreen;
  }
  return subject;
}

AXError AccessibilityServer::write(const Subject& target, const std::string& attribute, const AXValue& value) {
  // A request the server refuses is the app's failure to comply.
  const auto answer = [](bool accepted) { return accepted ? kAXErrorSuccess : kAXErrorFailure; };

  if (target.kind == Target::Kind::app) {
    if (attribute == kAXFrontmostAttribute) {
      const auto on = value.asBool();
      if (!on) return kAXErrorAttributeUnsupported;
      // Only bringing an app forward is a request; nobody can push one back this way.
      return *on ? answer(server_.requestActivate(target.pid, 0)) : kAXErrorSuccess;
    }
    if (attribute == "AXHidden") {
      const auto on = value.asBool();
      if (!on) return kAXErrorAttributeUnsupported;
      return answer(server_.requestHide(target.pid, *on));
    }
    return kAXErrorAttributeUnsupported;
  }
  if (target.kind != Target::Kind::window) return kAXErrorAttributeUnsupported;

  if (attribute == kAXMinimizedAttribute) {
    const auto on = value.asBool();
    if (!on) return kAXErrorAttributeUnsupported;
    return *on == target.minimized ? kAXErrorSuccess : answer(server_.requestMinimize(target.window, *on));
  }
  if (attribute == kAXFullScreenAttribute) {
    const auto on = value.asBool();
    if (!on) return kAXErrorAttributeUnsupported;
    return *on == target.fullScreen ? kAXErrorSuccess : answer(server_.requestFullScreen(target.window, *on));
  }
  if (attribute == kAXMainAttribute || attribute == "AXFocused") {
    const auto on = value.asBool();
    if (!on) return kAXErrorAttributeUnsupported;
    return *on ? answer(server_.requestRaise(target.window)) : kAXErrorSuccess;
  }
  if (attribute == kAXPositionAttribute) {
    const auto p = value.asPoint();
    if (!p) return kAXErrorAttributeUnsupported;
    return answer(server_.requestMove(target.window, *p, std::nullopt));
  }
  if (attribute == kAXSizeAttribute) {
    const auto s = value.asSize();
    if (!s || s->width < 0 || s->height < 0) return kAXErrorAttributeUnsupported;
    return answer(server_.requestMove(target.window, std::nullopt, *s));
  }
  return kAXErrorAttributeUnsupported;
}

AXError AccessibilityServer::act(const Subject& target, const std::string& action) {
  if (target.kind == Target::Kind::window && action == kAXRaiseAction) {
    return server_.requestRaise(target.window) ? kAXErrorSuccess : kAXErrorFailure;
  }
  if (target.kind == Target::Kind::closeButton && action == kAXPressAction) {
    return server_.removeWindow(target.window) ? kAXErrorSuccess : kAXErrorFailure;
  }
  return kAXErrorActionUnsupported;
}

platform::AXAnswer AccessibilityServer::copyAttribute(AXElementID element, const std::string& attribute,
                                                      double timeout) {
  platform::AXAnswer result;
  const auto error = answer(element, attribute, timeout, [&](WindowServer::State& state, const Target& target) {
    result = read(state, target, attribute);
  });
  if (error) result.error = *error;
  if (result.error != kAXErrorSuccess) result.value = AXValue();
  if (keepsCallLog()) record(Call{Call::Kind::copy, element, attribute, result.value, result.error});
  return result;
}

AXError AccessibilityServer::setAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                                          double timeout) {
  // The request itself changes the desk, so it is made once the lock is let go.
  std::optional<Subject> subject;
  AXError error = answer(element, attribute, timeout, [&](WindowServer::State&, const Target& target) {
                    subject = subjectOf(target);
                  }).value_or(kAXErrorSuccess);
  if (subject) error = write(*subject, attribute, value);
  if (keepsCallLog()) record(Call{Call::Kind::set, element, attribute, value, error});
  return error;
}

AXError AccessibilityServer::performAction(AXElementID element, const std::string& action, double timeout) {
  std::optional<Subject> subject;
  AXError error = answer(element, action, timeout, [&](WindowServer::State&, const Target& target) {
                    subject = subjectOf(target);
                  }).value_or(kAXErrorSuccess);
  if (subject) error = act(*subject, action);
  if (keepsCallLog()) record(Call{Call::Kind::action, element, action, AXValue(), error});
  return error;
}

// ---------------------------------------------------------------------------------------------
// Private functions

AXError AccessibilityServer::windowOfElement(const AXUIElementRef& element, std::uint32_t* window) {
  if (!element || !window) return kAXErrorIllegalArgument;
  const double timeout = element->messagingTimeout() > 0 ? element->messagingTimeout() : kAXDefaultMessagingTimeout;
  static const std::string name = kGetWindowName;
  std::optional<std::uint32_t> number;
  bool unlisted = false;
  AXError error = answer(element->identity(), name, timeout, [&](WindowServer::State&, const Target& target) {
                    if (target.kind != Target::Kind::window) return;
                    // A window the server does not list has no number to give.
                    unlisted = !target.window->listed;
                    if (!unlisted) number = target.window->number;
                  }).value_or(kAXErrorSuccess);
  if (error == kAXErrorSuccess) {
    if (unlisted) {
      error = kAXErrorFailure;
    } else if (number) {
      *window = *number;
    } else {
      error = kAXErrorIllegalArgument;  // not a window
    }
  }
  if (keepsCallLog()) record(Call{Call::Kind::getWindow, element->identity(), "",
              error == kAXErrorSuccess ? AXValue(static_cast<std::int64_t>(*window)) : AXValue(), error});
  return error;
}

AXUIElementRef AccessibilityServer::elementFromToken(const platform::PlistData& token) {
  server_.recordPrivateCall(PrivateCall{kRemoteTokenName, {platform::PlistValue(token)}});
  if (token.size() != 20 || littleEndian(token, 4, 4) != 0 || littleEndian(token, 8, 4) != kTokenMagic) {
    return nullptr;
  }
  if (!trusted()) return nullptr;
  const AXElementID identity{static_cast<std::int32_t>(littleEndian(token, 0, 4)), littleEndian(token, 12, 8)};
  if (!resolves(identity)) return nullptr;
  return AXUIElementMake(identity);
}

// ---------------------------------------------------------------------------------------------
// Observers and notifications

std::pair<AXError, std::uint64_t> AccessibilityServer::createObserver(
    std::int32_t pid, std::function<void(AXElementID, const std::string&)> deliver) {
  if (!deliver) return {kAXErrorIllegalArgument, 0};
  if (!trusted()) return {kAXErrorAPIDisabled, 0};
  const std::optional<App> app = server_.app(pid);
  if (!app || app->terminated) return {kAXErrorFailure, 0};
  std::lock_guard lock(mutex_);
  const std::uint64_t id = gNextObserver.fetch_add(1);
  observers_[id] = Observer{pid, std::move(deliver), {}};
  return {kAXErrorSuccess, id};
}

AXError AccessibilityServer::addNotification(std::uint64_t observer, AXElementID element,
                                             const std::string& notification) {
  if (!trusted()) return kAXErrorAPIDisabled;
  {
    std::lock_guard lock(mutex_);
    auto it = observers_.find(observer);
    if (it == observers_.end()) return kAXErrorInvalidUIElementObserver;
    if (it->second.pid != element.pid) return kAXErrorIllegalArgument;
  }
  if (!supportedNotifications().count(notification)) return kAXErrorNotificationUnsupported;
  if (!resolves(element)) return kAXErrorInvalidUIElement;
  std::lock_guard lock(mutex_);
  auto it = observers_.find(observer);
  if (it == observers_.end()) return kAXErrorInvalidUIElementObserver;
  if (!it->second.registered.insert({element, notification}).second) return kAXErrorNotificationAlreadyRegistered;
  return kAXErrorSuccess;
}

AXError AccessibilityServer::removeNotification(std::uint64_t observer, AXElementID element,
                                                const std::string& notification) {
  std::lock_guard lock(mutex_);
  auto it = observers_.find(observer);
  if (it == observers_.end()) return kAXErrorInvalidUIElementObserver;
  if (it->second.registered.erase({element, notification}) == 0) return kAXErrorNotificationNotRegistered;
  return kAXErrorSuccess;
}

void AccessibilityServer::destroyObserver(std::uint64_t observer) {
  std::lock_guard lock(mutex_);
  observers_.erase(observer);
}

void AccessibilityServer::postNotification(AXElementID element, const std::string& notification) {
  deliver(element, notification);
}

void AccessibilityServer::deliver(AXElementID subject, const std::string& notification) {
  // A hung app posts nothing.
  const std::optional<App> app = server_.app(subject.pid);
  if (!app || app->accessibilityHung) return;
  const AXElementID appElement{subject.pid, kAXApplicationElementID};
  std::vector<std::function<void(AXElementID, const std::string&)>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, observer] : observers_) {
      if (observer.pid != subject.pid) continue;
      if (observer.registered.count({subject, notification}) || observer.registered.count({appElement, notification})) {
        targets.push_back(observer.deliver);
      }
    }
  }
  for (const auto& target : targets) target(subject, notification);
}

void AccessibilityServer::onDeskChange(const DeskChange& change) {
  using Kind = DeskChange::Kind;
  // Keep the element index in step; a window that went keeps its element so it can be named.
  if (change.window != 0) {
    if (change.kind == Kind::windowDestroyed) {
      std::lock_guard lock(mutex_);
      if (auto it = elements_.find(change.window); it != elements_.end()) windows_.erase(it->second);
    } else if (auto w = server_.window(change.window)) {
      std::lock_guard lock(mutex_);
      rememberLocked(*w);
    }
  }
  const auto windowElement = [&]() -> std::optional<AXElementID> {
    std::lock_guard lock(mutex_);
    if (auto it = elements_.find(change.window); it != elements_.end()) return it->second;
    return std::nullopt;
  };
  const auto aboutWindow = [&](const char* notification) {
    if (auto element = windowElement()) deliver(*element, notification);
  };
  const AXElementID appElement{change.pid, kAXApplicationElementID};

  switch (change.kind) {
    case Kind::windowCreated:
      aboutWindow("AXWindowCreated");
      break;
    case Kind::windowDestroyed:
      aboutWindow("AXUIElementDestroyed");
      break;
    case Kind::windowMoved:
      aboutWindow("AXWindowMoved");
      break;
    case Kind::windowResized:
      aboutWindow("AXWindowResized");
      break;
    case Kind::windowMinimized:
      aboutWindow("AXWindowMiniaturized");
      break;
    case Kind::windowDeminimized:
      aboutWindow("AXWindowDeminiaturized");
      break;
    case Kind::windowTitleChanged:
      aboutWindow("AXTitleChanged");
      break;
    case Kind::focusedWindowChanged: {
      const AXElementID subject = change.window != 0 ? windowElement().value_or(appElement) : appElement;
      deliver(subject, "AXFocusedWindowChanged");
      deliver(subject, "AXMainWindowChanged");
      break;
    }
    case Kind::appActivated:
      deliver(appElement, "AXApplicationActivated");
      break;
    case Kind::appDeactivated:
      deliver(appElement, "AXApplicationDeactivated");
      break;
    case Kind::appHidden:
      deliver(appElement, "AXApplicationHidden");
      break;
    case Kind::appUnhidden:
      deliver(appElement, "AXApplicationShown");
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Control and records

void AccessibilityServer::setHung(std::int32_t pid, bool hung) {
  server_.updateApp(pid, [hung](App& app) { app.accessibilityHung = hung; });
}

void AccessibilityServer::setError(std::int32_t pid, const std::string& name, std::optional<AXError> error) {
  {
    std::lock_guard lock(mutex_);
    if (error) {
      errors_[{pid, name}] = *error;
    } else {
      errors_.erase({pid, name});
    }
  }
  server_.world().noteChange();
}

void AccessibilityServer::setTimeoutsElapseClock(bool elapse) {
  std::lock_guard lock(mutex_);
  elapseClock_ = elapse;
}

void AccessibilityServer::record(Call call) {
  std::lock_guard lock(mutex_);
  if (calls_.size() >= kMaxCalls) calls_.pop_front();
  calls_.push_back(std::move(call));
}

std::vector<AccessibilityServer::Call> AccessibilityServer::calls() const {
  std::lock_guard lock(mutex_);
  return {calls_.begin(), calls_.end()};
}

std::vector<std::string> AccessibilityServer::requests(AXElementID element) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Call& call : calls_) {
    if (!(call.element == element)) continue;
    if (call.kind == Call::Kind::set) out.push_back(call.name + "=" + call.value.describe());
    if (call.kind == Call::Kind::action) out.push_back(call.name);
  }
  return out;
}

void AccessibilityServer::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::vector<AccessibilityServer::Wait> AccessibilityServer::waits() const {
  std::lock_guard lock(mutex_);
  return waits_;
}

double AccessibilityServer::waitedSeconds() const {
  std::lock_guard lock(mutex_);
  double total = 0;
  for (const Wait& w : waits_) total += w.seconds;
  return total;
}

void AccessibilityServer::clearWaits() {
  std::lock_guard lock(mutex_);
  waits_.clear();
}

std::vector<std::pair<AXElementID, std::string>> AccessibilityServer::registrations(std::int32_t pid) const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<AXElementID, std::string>> out;
  for (const auto& [id, observer] : observers_) {
    if (observer.pid == pid) out.insert(out.end(), observer.registered.begin(), observer.registered.end());
  }
  return out;
}

}  // namespace sim
