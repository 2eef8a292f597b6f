#pragma once
// The accessibility interface: elements of other applications, their attributes and
// actions, and observers of their notifications. An element is a shared handle whose
// identity is (process id, element id); two handles with the same identity are the same
// element (AXUIElementEqual). Every call goes to the target application and waits at
// most the element's messaging timeout; an application that does not answer in time
// gives kAXErrorCannotComplete. The calls are thread-safe and may block the caller.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ApplicationServices.h"
#include "platform/CFRunLoop.h"
#include "platform/Geometry.h"

using AXError = std::int32_t;
inline constexpr AXError kAXErrorSuccess = 0;
inline constexpr AXError kAXErrorFailure = -25200;
inline constexpr AXError kAXErrorIllegalArgument = -25201;
inline constexpr AXError kAXErrorInvalidUIElement = -25202;
inline constexpr AXError kAXErrorInvalidUIElementObserver = -25203;
inline constexpr AXError kAXErrorCannotComplete = -25204;  // no answer within the timeout
inline constexpr AXError kAXErrorAttributeUnsupported = -25205;
inline constexpr AXError kAXErrorActionUnsupported = -25206;
inline constexpr AXError kAXErrorNotificationUnsupported = -25207;
inline constexpr AXError kAXErrorNotImplemented = -25208;
inline constexpr AXError kAXErrorNotificationAlreadyRegistered = -25209;
inline constexpr AXError kAXErrorNotificationNotRegistered = -25210;
inline constexpr AXError kAXErrorAPIDisabled = -25211;  // the process is not trusted
inline constexpr AXError kAXErrorNoValue = -25212;

/// The timeout an element uses until one is set (and after it is set to 0), in seconds.
inline constexpr double kAXDefaultMessagingTimeout = 6.0;

// Names used by the program (the system's own strings).
inline constexpr const char* kAXRoleAttribute = "AXRole";
inline constexpr const char* kAXSubroleAttribute = "AXSubrole";
inline constexpr const char* kAXTitleAttribute = "AXTitle";
inline constexpr const char* kAXWindowsAttribute = "AXWindows";
inline constexpr const char* kAXFocusedWindowAttribute = "AXFocusedWindow";
inline constexpr const char* kAXMainWindowAttribute = "AXMainWindow";
inline constexpr const char* kAXMainAttribute = "AXMain";
inline constexpr const char* kAXFrontmostAttribute = "AXFrontmost";
inline constexpr const char* kAXMinimizedAttribute = "AXMinimized";
inline constexpr const char* kAXFullScreenAttribute = "AXFullScreen";
inline constexpr const char* kAXPositionAttribute = "AXPosition";
inline constexpr const char* kAXSizeAttribute = "AXSize";
inline constexpr const char* kAXCloseButtonAttribute = "AXCloseButton";
inline constexpr const char* kAXStandardWindowSubrole = "AXStandardWindow";
inline constexpr const char* kAXRaiseAction = "AXRaise";
inline constexpr const char* kAXPressAction = "AXPress";
inline constexpr const char* kAXFocusedWindowChangedNotification = "AXFocusedWindowChanged";
inline constexpr const char* kAXWindowMiniaturizedNotification = "AXWindowMiniaturized";
inline constexpr const char* kAXWindowDeminiaturizedNotification = "AXWindowDeminiaturized";
inline constexpr const char* kAXWindowCreatedNotification = "AXWindowCreated";
inline constexpr const char* kAXUIElementDestroyedNotification = "AXUIElementDestroyed";

/// The identity of an element. Element id 0 is the application element of the process.
struct AXElementID {
  std::int32_t pid = 0;
  std::uint64_t element = 0;
  friend bool operator==(const AXElementID&, const AXElementID&) = default;
  friend auto operator<=>(const AXElementID&, const AXElementID&) = default;
};
inline constexpr std::uint64_t kAXApplicationElementID = 0;

/// One element handle. The messaging timeout belongs to the handle, not to the element:
/// another handle of the same element keeps its own.
class AXUIElement {
 public:
  explicit AXUIElement(AXElementID identity) : identity_(identity) {}
  AXUIElement(const AXUIElement&) = delete;
  AXUIElement& operator=(const AXUIElement&) = delete;

  AXElementID identity() const { return identity_; }
  std::int32_t pid() const { return identity_.pid; }
  /// Seconds; 0 means kAXDefaultMessagingTimeout.
  double messagingTimeout() const { return timeout_.load(std::memory_order_relaxed); }
  void setMessagingTimeout(double seconds) { timeout_.store(seconds, std::memory_order_relaxed); }

 private:
  const AXElementID identity_;
  std::atomic<double> timeout_{0};
};

using AXUIElementRef = std::shared_ptr<AXUIElement>;

/// A new handle (default timeout) for an identity; what the world hands out for remote tokens.
inline AXUIElementRef AXUIElementMake(AXElementID identity) { return std::make_shared<AXUIElement>(identity); }
/// Same element (both null counts as equal).
inline bool AXUIElementEqual(const AXUIElementRef& a, const AXUIElementRef& b) {
  if (!a || !b) return !a && !b;
  return a->identity() == b->identity();
}

/// An attribute value: null, a Boolean, a number, a string, a point, size or rectangle,
/// an element, or an array of values. Elements are held by identity, so a value is plain
/// data; reading one back makes a fresh handle with the default timeout. Readers ask for
/// the type they expect and get nothing for any other type.
class AXValue {
 public:
  enum class Type { null, boolean, integer, real, string, point, size, rect, element, array };

  AXValue() = default;
  AXValue(bool v) : value_(v) {}
  AXValue(int v) : value_(std::int64_t{v}) {}
  AXValue(std::int64_t v) : value_(v) {}
  AXValue(double v) : value_(v) {}
  AXValue(const char* v) : value_(std::string(v)) {}
  AXValue(std::string v) : value_(std::move(v)) {}
  AXValue(CGPoint v) : value_(v) {}
  AXValue(CGSize v) : value_(v) {}
  AXValue(CGRect v) : value_(v) {}
  AXValue(AXElementID v) : value_(v) {}
  /// A null handle makes a null value.
  AXValue(const AXUIElementRef& v) {
    if (v) value_ = v->identity();
  }
  AXValue(std::vector<AXValue> v) : value_(std::make_shared<const std::vector<AXValue>>(std::move(v))) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isNull() const { return type() == Type::null; }

  std::optional<bool> asBool() const;
  /// An integer, or a real without a fractional part.
  std::optional<std::int64_t> asInteger() const;
  /// Any number as a double.
  std::optional<double> asDouble() const;
  const std::string* asString() const;
  std::optional<CGPoint> asPoint() const;
  std::optional<CGSize> asSize() const;
  std::optional<CGRect> asRect() const;
  std::optional<AXElementID> asElementID() const;
  /// A fresh handle for an element value; null otherwise.
  AXUIElementRef asElement() const;
  const std::vector<AXValue>* asArray() const;
  /// The elements of an array value, in order; nothing unless every item is an element.
  std::optional<std::vector<AXUIElementRef>> asElementArray() const;

  friend bool operator==(const AXValue& a, const AXValue& b);
  /// A short readable rendering, for log lines and test failures.
  std::string describe() const;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, CGPoint, CGSize, CGRect, AXElementID,
               std::shared_ptr<const std::vector<AXValue>>>
      value_;
};

// ---- Elements ---------------------------------------------------------------------------

/// The application element of a process. Never null; calls on it fail with
/// kAXErrorInvalidUIElement once the process is gone.
AXUIElementRef AXUIElementCreateApplication(std::int32_t pid);
/// Reads one attribute into `*value` (left untouched on failure; null is a valid answer).
/// kAXErrorNoValue or kAXErrorAttributeUnsupported when the element has no such value,
/// kAXErrorCannotComplete on timeout, kAXErrorAPIDisabled without the permission.
AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute, AXValue* value);
/// Asks the application to change one attribute; kAXErrorAttributeUnsupported when it is
/// not settable or the value has the wrong type.
AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, const std::string& attribute, const AXValue& value);
/// Asks the application to perform an action ("AXRaise", "AXPress").
AXError AXUIElementPerformAction(const AXUIElementRef& element, const std::string& action);
/// Sets the handle's timeout; a negative value is kAXErrorIllegalArgument, 0 restores the default.
AXError AXUIElementSetMessagingTimeout(const AXUIElementRef& element, float timeoutInSeconds);
/// The element's process id; kAXErrorIllegalArgument for a null element.
AXError AXUIElementGetPid(const AXUIElementRef& element, std::int32_t* pid);

// ---- Observers --------------------------------------------------------------------------

/// An observer of one process's notifications. Defined by the implementation; dropping the
/// last handle removes every registration.
class AXObserver;
using AXObserverRef = std::shared_ptr<AXObserver>;

/// Called on the run loop the observer's source is on, with the element the notification
/// is about (a window for the window notifications) and the refcon given at registration.
using AXObserverCallback =
    std::function<void(AXObserverRef observer, AXUIElementRef element, const std::string& notification, void* refcon)>;

/// Makes an observer for process `application` into `*outObserver`; kAXErrorIllegalArgument
/// for a null callback, kAXErrorAPIDisabled without the permission, kAXErrorFailure when
/// the process does not exist.
AXError AXObserverCreate(std::int32_t application, AXObserverCallback callback, AXObserverRef* outObserver);
/// Registers for `notification` on `element` (an element of the observer's process);
/// kAXErrorNotificationAlreadyRegistered when it already is.
AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  const std::string& notification, void* refcon);
AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                     const std::string& notification);
/// The observer's one source; callbacks are dropped while it is on no run loop.
CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer);
