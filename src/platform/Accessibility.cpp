#include "platform/Accessibility.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "platform/WindowServerPort.h"

// ---- AXValue ----------------------------------------------------------------------------

std::optional<bool> AXValue::asBool() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> AXValue::asInteger() const {
  if (const std::int64_t* i = std::get_if<std::int64_t>(&value_)) return *i;
  if (const double* d = std::get_if<double>(&value_)) {
    // Only reals that are whole and fit; anything else has no integer meaning.
    if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18) return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

std::optional<double> AXValue::asDouble() const {
  if (const std::int64_t* i = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*i);
  if (const double* d = std::get_if<double>(&value_)) return *d;
  return std::nullopt;
}

const std::string* AXValue::asString() const { return std::get_if<std::string>(&value_); }

std::optional<CGPoint> AXValue::asPoint() const {
  if (const CGPoint* p = std::get_if<CGPoint>(&value_)) return *p;
  return std::nullopt;
}

std::optional<CGSize> AXValue::asSize() const {
  if (const CGSize* s = std::get_if<CGSize>(&value_)) return *s;
  return std::nullopt;
}

std::optional<CGRect> AXValue::asRect() const {
  if (const CGRect* r = std::get_if<CGRect>(&value_)) return *r;
  return std::nullopt;
}

std::optional<AXElementID> AXValue::asElementID() const {
  if (const AXElementID* e = std::get_if<AXElementID>(&value_)) return *e;
  return std::nullopt;
}

AXUIElementRef AXValue::asElement() const {
  if (const AXElementID* e = std::get_if<AXElementID>(&value_)) return AXUIElementMake(*e);
  return nullptr;
}

const std::vector<AXValue>* AXValue::asArray() const {
  if (const auto* a = std::get_if<std::shared_ptr<const std::vector<AXValue>>>(&value_)) return a->get();
  return nullptr;
}

std::optional<std::vector<AXUIElementRef>> AXValue::asElementArray() const {
  const std::vector<AXValue>* items = asArray();
  if (!items) return std::nullopt;
  std::vector<AXUIElementRef> result;
  result.reserve(items->size());
  for (const AXValue& item : *items) {
    AXUIElementRef element = item.asElement();
    if (!element) return std::nullopt;
    result.push_back(std::move(element));
  }
  return result;
}

bool operator==(const AXValue& a, const AXValue& b) {
  if (a.type() != b.type()) return false;
  if (const auto* left = a.asArray()) return *left == *b.asArray();
  return a.value_ == b.value_;
}

std::string AXValue::describe() const {
  char text[160];
  switch (type()) {
    case Type::null:
      return "null";
    case Type::boolean:
      return *asBool() ? "true" : "false";
    case Type::integer:
      return std::to_string(std::get<std::int64_t>(value_));
    case Type::real:
      std::snprintf(text, sizeof text, "%g", std::get<double>(value_));
      return text;
    case Type::string:
      return "\"" + *asString() + "\"";
    case Type::point: {
      const CGPoint p = *asPoint();
      std::snprintf(text, sizeof text, "(%g, %g)", p.x, p.y);
      return text;
    }
    case Type::size: {
      const CGSize s = *asSize();
      std::snprintf(text, sizeof text, "%g×%g", s.width, s.height);
      return text;
    }
    case Type::rect: {
      const CGRect r = *asRect();
      std::snprintf(text, sizeof text, "(%g, %g, %g×%g)", r.origin.x, r.origin.y, r.size.width, r.size.height);
      return text;
    }
    case Type::element: {
      const AXElementID e = *asElementID();
      std::snprintf(text, sizeof text, "<element %d/%llu>", e.pid, static_cast<unsigned long long>(e.element));
      return text;
    }
    case Type::array: {
      std::string out = "[";
      bool first = true;
      for (const AXValue& item : *asArray()) {
        if (!first) out += ", ";
        first = false;
        out += item.describe();
      }
      return out + "]";
    }
  }
  return "?";
}

// ---- Elements ---------------------------------------------------------------------------

namespace {

double effectiveTimeout(const AXUIElementRef& element) {
  const double t = element->messagingTimeout();
  return t > 0 ? t : kAXDefaultMessagingTimeout;
}

}  // namespace

AXUIElementRef AXUIElementCreateApplication(std::int32_t pid) {
  return AXUIElementMake(AXElementID{pid, kAXApplicationElementID});
}

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute, AXValue* value) {
  if (!element || !value) return kAXErrorIllegalArgument;
  platform::AXAnswer answer =
      platform::windowServer().axCopyAttribute(element->identity(), attribute, effectiveTimeout(element));
  if (answer.error == kAXErrorSuccess) *value = std::move(answer.value);
  return answer.error;
}

AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                                     const AXValue& value) {
  if (!element) return kAXErrorIllegalArgument;
  return platform::windowServer().axSetAttribute(element->identity(), attribute, value, effectiveTimeout(element));
}

AXError AXUIElementPerformAction(const AXUIElementRef& element, const std::string& action) {
  if (!element) return kAXErrorIllegalArgument;
  return platform::windowServer().axPerformAction(element->identity(), action, effectiveTimeout(element));
}

AXError AXUIElementSetMessagingTimeout(const AXUIElementRef& element, float timeoutInSeconds) {
  if (!element || !(timeoutInSeconds >= 0) || std::isinf(timeoutInSeconds)) return kAXErrorIllegalArgument;
  element->setMessagingTimeout(timeoutInSeconds);
  return kAXErrorSuccess;
}

AXError AXUIElementGetPid(const AXUIElementRef& element, std::int32_t* pid) {
  if (!element || !pid) return kAXErrorIllegalArgument;
  *pid = element->pid();
  return kAXErrorSuccess;
}

// ---- Observers --------------------------------------------------------------------------

namespace {

class ObserverSource : public CFRunLoopSource {};

}  // namespace

class AXObserver : public std::enable_shared_from_this<AXObserver> {
 public:
  AXObserver(std::int32_t pid, AXObserverCallback callback)
      : pid_(pid), callback_(std::move(callback)), source_(std::make_shared<ObserverSource>()) {}

  ~AXObserver() {
    source_->invalidate();
    if (id_ != 0 && platform::hasWindowServer()) platform::windowServer().axDestroyObserver(id_);
  }

  /// Registers with the window server; called once right after construction.
  AXError connect() {
    std::weak_ptr<AXObserver> weak = weak_from_this();
    auto [error, id] =
        platform::windowServer().axCreateObserver(pid_, [weak](AXElementID element, const std::string& notification) {
          if (auto self = weak.lock()) self->post(element, notification);
        });
    if (error == kAXErrorSuccess && id == 0) error = kAXErrorFailure;
    if (error == kAXErrorSuccess) id_ = id;
    return error;
  }

  AXError add(const AXUIElementRef& element, const std::string& notification, void* refcon) {
    if (element->pid() != pid_) return kAXErrorIllegalArgument;
    const AXError error = platform::windowServer().axAddNotification(id_, element->identity(), notification);
    if (error == kAXErrorSuccess) {
      std::lock_guard lock(mutex_);
      refcons_[{element->identity(), notification}] = refcon;
    }
    return error;
  }

  AXError remove(const AXUIElementRef& element, const std::string& notification) {
    const AXError error = platform::windowServer().axRemoveNotification(id_, element->identity(), notification);
    if (error == kAXErrorSuccess) {
      std::lock_guard lock(mutex_);
      refcons_.erase({element->identity(), notification});
    }
    return error;
  }

  const CFRunLoopSourceRef& source() const { return source_; }

 private:
  // The world may call in on any thread; the callback always runs on the source's run
  // loop, and not at all while the source is on none.
  void post(AXElementID element, const std::string& notification) {
    platform::Executor* runLoop = source_->runLoop();
    if (!runLoop) return;
    std::weak_ptr<AXObserver> weak = weak_from_this();
    runLoop->async([weak, element, notification] {
      auto self = weak.lock();
      if (!self || !self->source_->isValid()) return;
      std::optional<void*> refcon = self->refconFor(element, notification);
      if (!refcon) return;  // unregistered while the delivery was on its way
      self->callback_(self, AXUIElementMake(element), notification, *refcon);
    });
  }

  // A registration on the element itself wins over one on its application.
  std::optional<void*> refconFor(AXElementID element, const std::string& notification) {
    std::lock_guard lock(mutex_);
    auto it = refcons_.find({element, notification});
    if (it == refcons_.end()) it = refcons_.find({AXElementID{element.pid, kAXApplicationElementID}, notification});
    if (it == refcons_.end()) return std::nullopt;
    return it->second;
  }

  const std::int32_t pid_;
  const AXObserverCallback callback_;
  const CFRunLoopSourceRef source_;
  std::uint64_t id_ = 0;
  std::mutex mutex_;
  std::map<std::pair<AXElementID, std::string>, void*> refcons_;
};

AXError AXObserverCreate(std::int32_t application, AXObserverCallback callback, AXObserverRef* outObserver) {
  if (!callback || !outObserver) return kAXErrorIllegalArgument;
  auto observer = std::make_shared<AXObserver>(application, std::move(callback));
  const AXError error = observer->connect();
  if (error != kAXErrorSuccess) return error;
  *outObserver = std::move(observer);
  return kAXErrorSuccess;
}

AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  const std::string& notification, void* refcon) {
  if (!observer) return kAXErrorInvalidUIElementObserver;
  if (!element || notification.empty()) return kAXErrorIllegalArgument;
  return observer->add(element, notification, refcon);
}

AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                     const std::string& notification) {
  if (!observer) return kAXErrorInvalidUIElementObserver;
  if (!element || notification.empty()) return kAXErrorIllegalArgument;
  return observer->remove(element, notification);
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer) {
  return observer ? observer->source() : nullptr;
}
