#pragma once
// Quartz events: making, reading and posting them, their serialised form, and event taps.
// An event is a plain value (CGEvent) held through a shared handle (CGEventRef) so that
// a tap callback can hand back the event it was given, a changed one or a new one.
// Locations are global points with the origin at the top left of the first screen.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CFRunLoop.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/PlistValue.h"

using CGError = std::int32_t;
inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;
inline constexpr CGError kCGErrorCannotComplete = 1004;

// ---- Types, masks, flags, fields -------------------------------------------------------

using CGEventType = std::uint32_t;
inline constexpr CGEventType kCGEventNull = 0;
inline constexpr CGEventType kCGEventLeftMouseDown = 1;
inline constexpr CGEventType kCGEventLeftMouseUp = 2;
inline constexpr CGEventType kCGEventRightMouseDown = 3;
inline constexpr CGEventType kCGEventRightMouseUp = 4;
inline constexpr CGEventType kCGEventMouseMoved = 5;
inline constexpr CGEventType kCGEventLeftMouseDragged = 6;
inline constexpr CGEventType kCGEventRightMouseDragged = 7;
inline constexpr CGEventType kCGEventKeyDown = 10;
inline constexpr CGEventType kCGEventKeyUp = 11;
inline constexpr CGEventType kCGEventFlagsChanged = 12;
inline constexpr CGEventType kCGEventScrollWheel = 22;
inline constexpr CGEventType kCGEventOtherMouseDown = 25;
inline constexpr CGEventType kCGEventOtherMouseUp = 26;
inline constexpr CGEventType kCGEventOtherMouseDragged = 27;
/// Delivered to a tap's callback (with an empty event) when the system turned the tap off.
inline constexpr CGEventType kCGEventTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr CGEventType kCGEventTapDisabledByUserInput = 0xFFFFFFFF;

using CGEventMask = std::uint64_t;
inline constexpr CGEventMask CGEventMaskBit(CGEventType type) { return type < 64 ? CGEventMask{1} << type : 0; }
inline constexpr CGEventMask kCGEventMaskForAllEvents = ~CGEventMask{0};

using CGEventFlags = std::uint64_t;
inline constexpr CGEventFlags kCGEventFlagMaskAlphaShift = 0x10000;  // caps lock
inline constexpr CGEventFlags kCGEventFlagMaskShift = 0x20000;
inline constexpr CGEventFlags kCGEventFlagMaskControl = 0x40000;
inline constexpr CGEventFlags kCGEventFlagMaskAlternate = 0x80000;
inline constexpr CGEventFlags kCGEventFlagMaskCommand = 0x100000;
inline constexpr CGEventFlags kCGEventFlagMaskNumericPad = 0x200000;
inline constexpr CGEventFlags kCGEventFlagMaskHelp = 0x400000;
inline constexpr CGEventFlags kCGEventFlagMaskSecondaryFn = 0x800000;
inline constexpr CGEventFlags kCGEventFlagMaskNonCoalesced = 0x100;

using CGEventField = std::uint32_t;
inline constexpr CGEventField kCGMouseEventNumber = 0;
inline constexpr CGEventField kCGMouseEventClickState = 1;
inline constexpr CGEventField kCGMouseEventButtonNumber = 3;
inline constexpr CGEventField kCGMouseEventDeltaX = 4;
inline constexpr CGEventField kCGMouseEventDeltaY = 5;
inline constexpr CGEventField kCGKeyboardEventAutorepeat = 8;
inline constexpr CGEventField kCGKeyboardEventKeycode = 9;
inline constexpr CGEventField kCGScrollWheelEventDeltaAxis1 = 11;  // lines, vertical
inline constexpr CGEventField kCGScrollWheelEventDeltaAxis2 = 12;  // lines, horizontal
inline constexpr CGEventField kCGEventTargetUnixProcessID = 40;
inline constexpr CGEventField kCGEventSourceUnixProcessID = 41;
/// The event's type code as a field: writing it changes the event's type.
inline constexpr CGEventField kCGSEventTypeField = 55;
inline constexpr CGEventField kCGScrollWheelEventIsContinuous = 88;
/// Line deltas with their fraction (16.16 fixed point in the event, read as doubles).
inline constexpr CGEventField kCGScrollWheelEventFixedPtDeltaAxis1 = 93;
inline constexpr CGEventField kCGScrollWheelEventFixedPtDeltaAxis2 = 94;
inline constexpr CGEventField kCGScrollWheelEventPointDeltaAxis1 = 96;
inline constexpr CGEventField kCGScrollWheelEventPointDeltaAxis2 = 97;
inline constexpr CGEventField kCGScrollWheelEventScrollPhase = 99;
inline constexpr CGEventField kCGScrollWheelEventMomentumPhase = 123;

using CGMouseButton = std::uint32_t;
inline constexpr CGMouseButton kCGMouseButtonLeft = 0;
inline constexpr CGMouseButton kCGMouseButtonRight = 1;
inline constexpr CGMouseButton kCGMouseButtonCenter = 2;

using CGScrollEventUnit = std::uint32_t;
inline constexpr CGScrollEventUnit kCGScrollEventUnitPixel = 0;
inline constexpr CGScrollEventUnit kCGScrollEventUnitLine = 1;

using CGKeyCode = std::uint16_t;
using UniChar = char16_t;
using UniCharCount = std::uint64_t;
/// Nanoseconds of the installed clock's monotonic time (the scale of mach_absolute_time).
using CGEventTimestamp = std::uint64_t;

using CGEventTapLocation = std::uint32_t;
inline constexpr CGEventTapLocation kCGHIDEventTap = 0;
inline constexpr CGEventTapLocation kCGSessionEventTap = 1;
inline constexpr CGEventTapLocation kCGAnnotatedSessionEventTap = 2;

using CGEventTapPlacement = std::uint32_t;
inline constexpr CGEventTapPlacement kCGHeadInsertEventTap = 0;
inline constexpr CGEventTapPlacement kCGTailAppendEventTap = 1;

using CGEventTapOptions = std::uint32_t;
inline constexpr CGEventTapOptions kCGEventTapOptionDefault = 0;     // active: may change or consume events
inline constexpr CGEventTapOptions kCGEventTapOptionListenOnly = 1;  // sees events, cannot change them

/// Event sources are accepted for shape only; pass null.
struct CGEventSource;
using CGEventSourceRef = CGEventSource*;

// ---- The event value -------------------------------------------------------------------

/// One further record of an event's serialised form that the event itself does not
/// interpret (for instance a gesture record a caller appended); kept and re-serialised as is.
struct CGEventRecord {
  std::uint8_t kind = 0x10;
  std::uint8_t tag = 0;
  platform::PlistData payload;
  friend bool operator==(const CGEventRecord&, const CGEventRecord&) = default;
};

/// A Quartz event as a plain value. Integer and double fields share one slot per field
/// number: writing one kind replaces the other, and reading the other kind converts
/// (doubles truncate toward zero). Fields never written read as 0.
struct CGEvent {
  CGEventType type = kCGEventNull;
  CGEventFlags flags = 0;
  CGPoint location;  // global, top-left origin
  CGEventTimestamp timestamp = 0;
  std::map<CGEventField, std::int64_t> integerFields;
  std::map<CGEventField, double> doubleFields;
  std::u16string unicode;  // typed text of a keyboard event, at most 20 units
  std::vector<CGEventRecord> extraRecords;
  friend bool operator==(const CGEvent&, const CGEvent&) = default;
};

using CGEventRef = std::shared_ptr<CGEvent>;

// ---- Making events ---------------------------------------------------------------------

/// A null-type event at the current pointer location, stamped now. Null only when no
/// window server is installed.
CGEventRef CGEventCreate(CGEventSourceRef source);
/// A key-down (or key-up) event of `virtualKey` at the pointer, flags 0, stamped now. Its
/// typed text follows a US layout for the key (empty for keys without text); posted with
/// that text, the window server types it afresh with its current layout and the event's
/// modifiers, while a text the poster set itself is kept.
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
/// A mouse event of `type` at `location` (top-left global) for `button`, stamped now.
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType, CGPoint mouseCursorPosition,
                                   CGMouseButton mouseButton);
/// A scroll-wheel event: `wheel1` vertical, `wheel2` horizontal, in lines or pixels
/// (pixels also fill the point-delta fields and mark the event continuous). The fixed-point
/// deltas hold the lines with their fraction (a line is ten pixels).
CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef source, CGScrollEventUnit units, std::uint32_t wheelCount,
                                         std::int32_t wheel1, std::int32_t wheel2 = 0);
/// An independent copy; null for a null event.
CGEventRef CGEventCreateCopy(const CGEventRef& event);

/// The serialised form: the bytes 00 00 00 02, then records, each a 2-byte big-endian
/// payload length, a kind byte (0x10), a tag byte and the payload. The event's own
/// contents use tags below 0x40; `extraRecords` follow in order. Null for a null event.
std::optional<platform::PlistData> CGEventCreateData(CFAllocatorRef allocator, const CGEventRef& event);
/// Parses a serialised form; records with unknown tags become `extraRecords`. Null when
/// the data is shorter than 4 bytes, has another version or a record runs past the end.
CGEventRef CGEventCreateFromData(CFAllocatorRef allocator, const platform::PlistData& data);

// ---- Reading and changing events (each does nothing / answers 0 for a null event) -----

CGEventType CGEventGetType(const CGEventRef& event);
void CGEventSetType(const CGEventRef& event, CGEventType type);
CGEventFlags CGEventGetFlags(const CGEventRef& event);
void CGEventSetFlags(const CGEventRef& event, CGEventFlags flags);
CGPoint CGEventGetLocation(const CGEventRef& event);
void CGEventSetLocation(const CGEventRef& event, CGPoint location);
CGEventTimestamp CGEventGetTimestamp(const CGEventRef& event);
void CGEventSetTimestamp(const CGEventRef& event, CGEventTimestamp timestamp);
std::int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field);
void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, std::int64_t value);
double CGEventGetDoubleValueField(const CGEventRef& event, CGEventField field);
void CGEventSetDoubleValueField(const CGEventRef& event, CGEventField field, double value);
/// Copies at most `maxStringLength` units of the typed text into `unicodeString` and
/// stores the full length in `*actualStringLength` (either pointer may be null).
void CGEventKeyboardGetUnicodeString(const CGEventRef& event, UniCharCount maxStringLength,
                                     UniCharCount* actualStringLength, UniChar* unicodeString);
void CGEventKeyboardSetUnicodeString(const CGEventRef& event, UniCharCount stringLength, const UniChar* unicodeString);

// ---- Posting, the pointer and permissions ----------------------------------------------

/// Hands a copy of the event to the window server at `tap` (HID: it passes the HID taps,
/// then every session tap; session: only the session taps). A zero timestamp is set to now.
/// Thread-safe; delivery is asynchronous, one event at a time in the order posted.
void CGEventPost(CGEventTapLocation tap, const CGEventRef& event);
/// Moves the pointer to a global top-left point without making an event.
CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition);
/// Whether the process may listen to input (listen-only taps) / post events.
bool CGPreflightListenEventAccess();
bool CGPreflightPostEventAccess();

/// The installed clock's monotonic nanoseconds (its timebase is 1/1).
inline std::uint64_t mach_absolute_time() { return platform::clock().monotonicNanos(); }

// ---- Event taps ------------------------------------------------------------------------

/// Opaque; always null here.
using CGEventTapProxy = void*;
/// Answers the event to pass on (the given one, a changed or a new one) or null to consume
/// it. Listen-only taps' answers are ignored. Runs on the run loop the tap's source is on.
using CGEventTapCallBack =
    std::function<CGEventRef(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo)>;

/// A port owning one event tap (and any other port-backed producer). Defined by the implementation.
class CFMachPort;
using CFMachPortRef = std::shared_ptr<CFMachPort>;

/// Installs a tap for the events in `eventsOfInterest` (the two tap-disabled types are
/// always delivered). Starts enabled but delivers nothing until its run-loop source is on
/// a run loop; until then its events pass unchanged. Null when the system refuses it
/// (active taps need the Accessibility permission, listen-only ones input monitoring) or
/// for an unknown option. Taps at the head of a point see its events first; an active tap
/// holds each event until its callback answered, and one that takes too long is disabled
/// and told so with kCGEventTapDisabledByTimeout (the event then goes on unchanged).
CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo);
/// Turns the tap on or off; a disabled tap passes events without calling back.
void CGEventTapEnable(const CFMachPortRef& tap, bool enable);
bool CGEventTapIsEnabled(const CFMachPortRef& tap);
/// The one source of the port (the same source on every call); null for a null port.
CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, const CFMachPortRef& port, CFIndex order);
/// Removes the tap from the window server and invalidates its source. Idempotent.
void CFMachPortInvalidate(const CFMachPortRef& port);
bool CFMachPortIsValid(const CFMachPortRef& port);
