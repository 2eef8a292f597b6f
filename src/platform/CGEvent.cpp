#include "platform/CGEvent.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/KeyboardLayout.h"
#include "platform/WindowServerPort.h"

namespace {

constexpr std::size_t kMaxUnicodeUnits = 20;

// Tags of the records an event writes for its own contents (all below 0x40).
enum Tag : std::uint8_t {
  kTagType = 0x01,
  kTagFlags = 0x02,
  kTagLocation = 0x03,
  kTagTimestamp = 0x04,
  kTagIntegerField = 0x05,
  kTagDoubleField = 0x06,
  kTagUnicode = 0x07,
};
constexpr std::uint8_t kRecordKind = 0x10;
constexpr std::uint8_t kOwnTagLimit = 0x40;

std::int64_t truncatedToInteger(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
  if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

std::uint64_t now() { return platform::clock().monotonicNanos(); }

CGEventRef baseEvent(CGEventType type) {
  if (!platform::hasWindowServer()) return nullptr;
  auto event = std::make_shared<CGEvent>();
  event->type = type;
  event->location = platform::windowServer().pointerLocation();
  event->timestamp = now();
  return event;
}

void putBE(platform::PlistData& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getBE(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

bool putRecord(platform::PlistData& out, std::uint8_t kind, std::uint8_t tag, const platform::PlistData& payload) {
  if (payload.size() > 0xFFFF) return false;
  putBE(out, payload.size(), 2);
  out.push_back(kind);
  out.push_back(tag);
  out.insert(out.end(), payload.begin(), payload.end());
  return true;
}

platform::PlistData number(std::uint64_t value, int bytes) {
  platform::PlistData out;
  putBE(out, value, bytes);
  return out;
}

// Reads one of the event's own records; false when its payload has the wrong size.
bool readOwnRecord(CGEvent& event, std::uint8_t tag, const std::uint8_t* p, std::size_t size) {
  switch (tag) {
    case kTagType:
      if (size != 4) return false;
      event.type = static_cast<CGEventType>(getBE(p, 4));
      return true;
    case kTagFlags:
      if (size != 8) return false;
      event.flags = getBE(p, 8);
      return true;
    case kTagLocation:
      if (size != 16) return false;
      event.location = {std::bit_cast<double>(getBE(p, 8)), std::bit_cast<double>(getBE(p + 8, 8))};
      return true;
    case kTagTimestamp:
      if (size != 8) return false;
      event.timestamp = getBE(p, 8);
      return true;
    case kTagIntegerField: {
      if (size != 12) return false;
      const auto field = static_cast<CGEventField>(getBE(p, 4));
      event.doubleFields.erase(field);
      event.integerFields[field] = static_cast<std::int64_t>(getBE(p + 4, 8));
      return true;
    }
    case kTagDoubleField: {
      if (size != 12) return false;
      const auto field = static_cast<CGEventField>(getBE(p, 4));
      event.integerFields.erase(field);
      event.doubleFields[field] = std::bit_cast<double>(getBE(p + 4, 8));
      return true;
    }
    case kTagUnicode: {
      if (size % 2 != 0) return false;
      event.unicode.clear();
      for (std::size_t i = 0; i < size && event.unicode.size() < kMaxUnicodeUnits; i += 2) {
        event.unicode.push_back(static_cast<char16_t>(getBE(p + i, 2)));
      }
      return true;
    }
    default:
      return false;
  }
}

bool isOwnTag(std::uint8_t tag) { return tag >= kTagType && tag <= kTagUnicode; }

}  // namespace

// ---- Making events ----------------------------------------------------------------------

CGEventRef CGEventCreate(CGEventSourceRef) { return baseEvent(kCGEventNull); }

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef, CGKeyCode virtualKey, bool keyDown) {
  CGEventRef event = baseEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp);
  if (!event) return nullptr;
  event->integerFields[kCGKeyboardEventKeycode] = virtualKey;
  event->unicode = platform::KeyboardLayout::us().type(virtualKey, 0).text;
  return event;
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef, CGEventType mouseType, CGPoint mouseCursorPosition,
                                   CGMouseButton mouseButton) {
  CGEventRef event = baseEvent(mouseType);
  if (!event) return nullptr;
  event->location = mouseCursorPosition;
  event->integerFields[kCGMouseEventButtonNumber] = mouseButton;
  switch (mouseType) {
    case kCGEventLeftMouseDown:
    case kCGEventLeftMouseUp:
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp:
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
      event->integerFields[kCGMouseEventClickState] = 1;
      break;
    default:
      break;
  }
  return event;
}

CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef, CGScrollEventUnit units, std::uint32_t wheelCount,
                                         std::int32_t wheel1, std::int32_t wheel2) {
  CGEventRef event = baseEvent(kCGEventScrollWheel);
  if (!event) return nullptr;
  const std::int32_t wheels[2] = {wheel1, wheelCount >= 2 ? wheel2 : 0};
  const CGEventField lineFields[2] = {kCGScrollWheelEventDeltaAxis1, kCGScrollWheelEventDeltaAxis2};
  const CGEventField pointFields[2] = {kCGScrollWheelEventPointDeltaAxis1, kCGScrollWheelEventPointDeltaAxis2};
  const CGEventField fixedFields[2] = {kCGScrollWheelEventFixedPtDeltaAxis1, kCGScrollWheelEventFixedPtDeltaAxis2};
  for (int axis = 0; axis < 2; ++axis) {
    const std::int32_t w = wheels[axis];
    if (units == kCGScrollEventUnitPixel) {
      // A line is ten points; any movement still counts as at least one line.
      std::int64_t lines = w / 10;
      if (lines == 0 && w != 0) lines = w > 0 ? 1 : -1;
      event->integerFields[lineFields[axis]] = lines;
      event->integerFields[pointFields[axis]] = w;
    } else {
      event->integerFields[lineFields[axis]] = w;
    }
    event->doubleFields[fixedFields[axis]] = units == kCGScrollEventUnitPixel ? w / 10.0 : w;
  }
  if (units == kCGScrollEventUnitPixel) event->integerFields[kCGScrollWheelEventIsContinuous] = 1;
  return event;
}

CGEventRef CGEventCreateCopy(const CGEventRef& event) { return event ? std::make_shared<CGEvent>(*event) : nullptr; }

// ---- The serialised form ----------------------------------------------------------------

std::optional<platform::PlistData> CGEventCreateData(CFAllocatorRef, const CGEventRef& event) {
  if (!event) return std::nullopt;
  platform::PlistData out = {0x00, 0x00, 0x00, 0x02};
  putRecord(out, kRecordKind, kTagType, number(event->type, 4));
  putRecord(out, kRecordKind, kTagFlags, number(event->flags, 8));
  platform::PlistData location = number(std::bit_cast<std::uint64_t>(event->location.x), 8);
  putBE(location, std::bit_cast<std::uint64_t>(event->location.y), 8);
  putRecord(out, kRecordKind, kTagLocation, location);
  putRecord(out, kRecordKind, kTagTimestamp, number(event->timestamp, 8));
  for (const auto& [field, value] : event->integerFields) {
    platform::PlistData payload = number(field, 4);
    putBE(payload, static_cast<std::uint64_t>(value), 8);
    putRecord(out, kRecordKind, kTagIntegerField, payload);
  }
  for (const auto& [field, value] : event->doubleFields) {
    platform::PlistData payload = number(field, 4);
    putBE(payload, std::bit_cast<std::uint64_t>(value), 8);
    putRecord(out, kRecordKind, kTagDoubleField, payload);
  }
  if (!event->unicode.empty()) {
    platform::PlistData payload;
    for (char16_t unit : event->unicode) putBE(payload, unit, 2);
    putRecord(out, kRecordKind, kTagUnicode, payload);
  }
  for (const CGEventRecord& record : event->extraRecords) {
    if (!putRecord(out, record.kind, record.tag, record.payload)) return std::nullopt;
  }
  return out;
}

CGEventRef CGEventCreateFromData(CFAllocatorRef, const platform::PlistData& data) {
  if (data.size() < 4 || data[0] != 0 || data[1] != 0 || data[2] != 0 || data[3] != 2) return nullptr;
  auto event = std::make_shared<CGEvent>();
  std::size_t at = 4;
  while (at < data.size()) {
    if (data.size() - at < 4) return nullptr;
    const std::size_t length = getBE(&data[at], 2);
    const std::uint8_t kind = data[at + 2], tag = data[at + 3];
    at += 4;
    if (data.size() - at < length) return nullptr;
    const std::uint8_t* payload = data.data() + at;
    if (kind == kRecordKind && tag < kOwnTagLimit && isOwnTag(tag)) {
      if (!readOwnRecord(*event, tag, payload, length)) return nullptr;
    } else {
      event->extraRecords.push_back(CGEventRecord{kind, tag, platform::PlistData(payload, payload + length)});
    }
    at += length;
  }
  return event;
}

// ---- Reading and changing ---------------------------------------------------------------

CGEventType CGEventGetType(const CGEventRef& event) { return event ? event->type : kCGEventNull; }
void CGEventSetType(const CGEventRef& event, CGEventType type) {
  if (event) event->type = type;
}
CGEventFlags CGEventGetFlags(const CGEventRef& event) { return event ? event->flags : 0; }
void CGEventSetFlags(const CGEventRef& event, CGEventFlags flags) {
  if (event) event->flags = flags;
}
CGPoint CGEventGetLocation(const CGEventRef& event) { return event ? event->location : CGPoint{}; }
void CGEventSetLocation(const CGEventRef& event, CGPoint location) {
  if (event) event->location = location;
}
CGEventTimestamp CGEventGetTimestamp(const CGEventRef& event) { return event ? event->timestamp : 0; }
void CGEventSetTimestamp(const CGEventRef& event, CGEventTimestamp timestamp) {
  if (event) event->timestamp = timestamp;
}

std::int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field) {
  if (!event) return 0;
  if (field == kCGSEventTypeField) return event->type;
  if (auto it = event->integerFields.find(field); it != event->integerFields.end()) return it->second;
  if (auto it = event->doubleFields.find(field); it != event->doubleFields.end()) return truncatedToInteger(it->second);
  return 0;
}

void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, std::int64_t value) {
  if (!event) return;
  if (field == kCGSEventTypeField) {
    event->type = static_cast<CGEventType>(value);
    return;
  }
  event->doubleFields.erase(field);
  event->integerFields[field] = value;
}

double CGEventGetDoubleValueField(const CGEventRef& event, CGEventField field) {
  if (!event) return 0;
  if (field == kCGSEventTypeField) return event->type;
  if (auto it = event->doubleFields.find(field); it != event->doubleFields.end()) return it->second;
  if (auto it = event->integerFields.find(field); it != event->integerFields.end()) {
    return static_cast<double>(it->second);
  }
  return 0;
}

void CGEventSetDoubleValueField(const CGEventRef& event, CGEventField field, double value) {
  if (!event) return;
  if (field == kCGSEventTypeField) {
    event->type = static_cast<CGEventType>(truncatedToInteger(value));
    return;
  }
  event->integerFields.erase(field);
  event->doubleFields[field] = value;
}

void CGEventKeyboardGetUnicodeString(const CGEventRef& event, UniCharCount maxStringLength,
                                     UniCharCount* actualStringLength, UniChar* unicodeString) {
  const std::u16string empty;
  const std::u16string& text = event ? event->unicode : empty;
  if (actualStringLength) *actualStringLength = text.size();
  if (unicodeString) {
    const std::size_t n = std::min<std::size_t>(text.size(), maxStringLength);
    std::memcpy(unicodeString, text.data(), n * sizeof(UniChar));
  }
}

void CGEventKeyboardSetUnicodeString(const CGEventRef& event, UniCharCount stringLength, const UniChar* unicodeString) {
  if (!event) return;
  if (!unicodeString) stringLength = 0;
  event->unicode.assign(unicodeString, unicodeString + std::min<UniCharCount>(stringLength, kMaxUnicodeUnits));
}

// ---- Posting, the pointer and permissions -----------------------------------------------

void CGEventPost(CGEventTapLocation tap, const CGEventRef& event) {
  if (!event || !platform::hasWindowServer()) return;
  CGEvent copy = *event;
  if (copy.timestamp == 0) copy.timestamp = now();
  platform::windowServer().postEvent(tap, copy);
}

CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition) {
  if (!std::isfinite(newCursorPosition.x) || !std::isfinite(newCursorPosition.y)) return kCGErrorIllegalArgument;
  platform::windowServer().warpPointer(newCursorPosition);
  return kCGErrorSuccess;
}

bool CGPreflightListenEventAccess() { return platform::windowServer().listenEventAccess(); }
bool CGPreflightPostEventAccess() { return platform::windowServer().postEventAccess(); }

// ---- Event taps -------------------------------------------------------------------------

namespace {
class TapSource : public CFRunLoopSource {};
}  // namespace

class CFMachPort : public std::enable_shared_from_this<CFMachPort> {
 public:
  CFMachPort(bool listenOnly, CGEventTapCallBack callback, void* userInfo)
      : listenOnly_(listenOnly),
        callback_(std::move(callback)),
        userInfo_(userInfo),
        source_(std::make_shared<TapSource>()) {}

  ~CFMachPort() { invalidate(); }

  bool connect(const platform::EventTapRequest& request) {
    std::weak_ptr<CFMachPort> weak = weak_from_this();
    auto id = platform::windowServer().createEventTap(
        request, [weak](CGEventType type, CGEvent event, platform::EventTapReply reply) {
          auto self = weak.lock();
          if (!self) {
            reply(std::move(event));
            return;
          }
          self->handle(type, std::move(event), std::move(reply));
        });
    if (!id) return false;
    std::lock_guard lock(mutex_);
    tap_ = *id;
    return true;
  }

  void invalidate() {
    std::uint64_t tap = 0;
    {
      std::lock_guard lock(mutex_);
      std::swap(tap, tap_);
    }
    source_->invalidate();
    if (tap != 0 && platform::hasWindowServer()) platform::windowServer().removeEventTap(tap);
  }

  std::uint64_t tap() const {
    std::lock_guard lock(mutex_);
    return tap_;
  }
  const CFRunLoopSourceRef& source() const { return source_; }

 private:
  // A tap with no run loop passes events unchanged; otherwise its callback runs there and
  // the world waits for the answer.
  void handle(CGEventType type, CGEvent event, platform::EventTapReply reply) {
    platform::Executor* runLoop = source_->isValid() ? source_->runLoop() : nullptr;
    if (!runLoop) {
      reply(std::move(event));
      return;
    }
    std::weak_ptr<CFMachPort> weak = weak_from_this();
    runLoop->async([weak, type, event = std::move(event), reply = std::move(reply)]() mutable {
      auto self = weak.lock();
      if (!self || !self->source_->isValid()) {
        reply(std::move(event));
        return;
      }
      CGEventRef handed = std::make_shared<CGEvent>(event);
      CGEventRef answer = self->callback_(nullptr, type, handed, self->userInfo_);
      if (self->listenOnly_) {
        reply(std::move(event));
      } else if (answer) {
        reply(*answer);
      } else {
        reply(std::nullopt);
      }
    });
  }

  const bool listenOnly_;
  const CGEventTapCallBack callback_;
  void* const userInfo_;
  const CFRunLoopSourceRef source_;
  mutable std::mutex mutex_;
  std::uint64_t tap_ = 0;
};

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo) {
  if (!callback || !platform::hasWindowServer()) return nullptr;
  if (options != kCGEventTapOptionDefault && options != kCGEventTapOptionListenOnly) return nullptr;
  const bool listenOnly = options == kCGEventTapOptionListenOnly;
  auto port = std::make_shared<CFMachPort>(listenOnly, std::move(callback), userInfo);
  platform::EventTapRequest request{tap, place, listenOnly, eventsOfInterest};
  if (!port->connect(request)) return nullptr;
  return port;
}

void CGEventTapEnable(const CFMachPortRef& tap, bool enable) {
  if (!tap) return;
  if (const std::uint64_t id = tap->tap()) platform::windowServer().setEventTapEnabled(id, enable);
}

bool CGEventTapIsEnabled(const CFMachPortRef& tap) {
  if (!tap) return false;
  const std::uint64_t id = tap->tap();
  return id != 0 && platform::windowServer().isEventTapEnabled(id);
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, const CFMachPortRef& port, CFIndex) {
  return port ? port->source() : nullptr;
}

void CFMachPortInvalidate(const CFMachPortRef& port) {
  if (port) port->invalidate();
}

bool CFMachPortIsValid(const CFMachPortRef& port) { return port && port->tap() != 0; }
