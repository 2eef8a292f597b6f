#pragma once
// The window server's window list, window levels and the main display. Every entry of
// the list is a dictionary under the key constants below; bounds are a dictionary with
// "X", "Y", "Width" and "Height" in global points, top-left origin.

#include <cstdint>
#include <optional>

#include "platform/CoreGraphics.h"
#include "platform/Geometry.h"
#include "platform/PlistValue.h"

using CGWindowID = std::uint32_t;
inline constexpr CGWindowID kCGNullWindowID = 0;

using CGWindowListOption = std::uint32_t;
inline constexpr CGWindowListOption kCGWindowListOptionAll = 0;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenOnly = 1 << 0;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenAboveWindow = 1 << 1;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenBelowWindow = 1 << 2;
inline constexpr CGWindowListOption kCGWindowListOptionIncludingWindow = 1 << 3;
inline constexpr CGWindowListOption kCGWindowListExcludeDesktopElements = 1 << 4;

// Keys of a window dictionary. Number, layer, owner PID, alpha, bounds, sharing state,
// store type and memory usage are always present; the owner name when the owner has one;
// the name only when the process may capture the screen (CGPreflightScreenCaptureAccess)
// and the window has a title; "is on screen" only for windows that are on screen.
inline constexpr const char* kCGWindowNumber = "kCGWindowNumber";              // integer
inline constexpr const char* kCGWindowStoreType = "kCGWindowStoreType";        // integer
inline constexpr const char* kCGWindowLayer = "kCGWindowLayer";                // integer
inline constexpr const char* kCGWindowBounds = "kCGWindowBounds";              // dictionary
inline constexpr const char* kCGWindowSharingState = "kCGWindowSharingState";  // integer
inline constexpr const char* kCGWindowAlpha = "kCGWindowAlpha";                // real
inline constexpr const char* kCGWindowOwnerPID = "kCGWindowOwnerPID";          // integer
inline constexpr const char* kCGWindowMemoryUsage = "kCGWindowMemoryUsage";    // integer
inline constexpr const char* kCGWindowOwnerName = "kCGWindowOwnerName";        // string
inline constexpr const char* kCGWindowName = "kCGWindowName";                  // string
inline constexpr const char* kCGWindowIsOnscreen = "kCGWindowIsOnscreen";      // Boolean

/// The windows matching `option`, front to back (higher layers first), one dictionary
/// each. `relativeToWindow` anchors the above/below/including options; an anchor that does
/// not exist gives an empty list. Nothing only when no window server is installed.
/// Thread-safe.
std::optional<platform::PlistArray> CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

/// The bounds dictionary of a rectangle ("X", "Y", "Width", "Height" as reals).
platform::PlistDictionary CGRectCreateDictionaryRepresentation(const CGRect& rect);
/// Reads a bounds dictionary; false (and `*rect` unchanged) when an entry is missing or not a number.
bool CGRectMakeWithDictionaryRepresentation(const platform::PlistDictionary& dict, CGRect* rect);

// ---- Window levels ----------------------------------------------------------------------

using CGWindowLevel = std::int32_t;
using CGWindowLevelKey = std::int32_t;
inline constexpr CGWindowLevelKey kCGBaseWindowLevelKey = 0;
inline constexpr CGWindowLevelKey kCGMinimumWindowLevelKey = 1;
inline constexpr CGWindowLevelKey kCGDesktopWindowLevelKey = 2;
inline constexpr CGWindowLevelKey kCGBackstopMenuLevelKey = 3;
inline constexpr CGWindowLevelKey kCGNormalWindowLevelKey = 4;
inline constexpr CGWindowLevelKey kCGFloatingWindowLevelKey = 5;
inline constexpr CGWindowLevelKey kCGTornOffMenuWindowLevelKey = 6;
inline constexpr CGWindowLevelKey kCGDockWindowLevelKey = 7;
inline constexpr CGWindowLevelKey kCGMainMenuWindowLevelKey = 8;
inline constexpr CGWindowLevelKey kCGStatusWindowLevelKey = 9;
inline constexpr CGWindowLevelKey kCGModalPanelWindowLevelKey = 10;
inline constexpr CGWindowLevelKey kCGPopUpMenuWindowLevelKey = 11;
inline constexpr CGWindowLevelKey kCGDraggingWindowLevelKey = 12;
inline constexpr CGWindowLevelKey kCGScreenSaverWindowLevelKey = 13;
inline constexpr CGWindowLevelKey kCGMaximumWindowLevelKey = 14;
inline constexpr CGWindowLevelKey kCGOverlayWindowLevelKey = 15;
inline constexpr CGWindowLevelKey kCGHelpWindowLevelKey = 16;
inline constexpr CGWindowLevelKey kCGUtilityWindowLevelKey = 17;
inline constexpr CGWindowLevelKey kCGDesktopIconWindowLevelKey = 18;
inline constexpr CGWindowLevelKey kCGCursorWindowLevelKey = 19;
inline constexpr CGWindowLevelKey kCGAssistiveTechHighWindowLevelKey = 20;

/// The layer of a level key. Desktop levels are negative (the desktop picture lies below
/// the desktop icons, both below ordinary windows at 0); the world places its windows with
/// this same table. Unknown keys answer the normal level 0.
constexpr CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key) {
  switch (key) {
    case kCGBaseWindowLevelKey:
      return -2147483647 - 1;
    case kCGMinimumWindowLevelKey:
      return -2147483647;
    case kCGDesktopWindowLevelKey:
      return -2147483627;
    case kCGBackstopMenuLevelKey:
      return -20;
    case kCGNormalWindowLevelKey:
      return 0;
    case kCGFloatingWindowLevelKey:
      return 3;
    case kCGTornOffMenuWindowLevelKey:
      return 3;
    case kCGDockWindowLevelKey:
      return 20;
    case kCGMainMenuWindowLevelKey:
      return 24;
    case kCGStatusWindowLevelKey:
      return 25;
    case kCGModalPanelWindowLevelKey:
      return 8;
    case kCGPopUpMenuWindowLevelKey:
      return 101;
    case kCGDraggingWindowLevelKey:
      return 500;
    case kCGScreenSaverWindowLevelKey:
      return 1000;
    case kCGMaximumWindowLevelKey:
      return 2147483631;
    case kCGOverlayWindowLevelKey:
      return 102;
    case kCGHelpWindowLevelKey:
      return 200;
    case kCGUtilityWindowLevelKey:
      return 19;
    case kCGDesktopIconWindowLevelKey:
      return -2147483603;
    case kCGCursorWindowLevelKey:
      return 2147483630;
    case kCGAssistiveTechHighWindowLevelKey:
      return 1500;
    default:
      return 0;
  }
}

/// The display holding the menu bar (the first screen's display number); 0 without screens.
CGDirectDisplayID CGMainDisplayID();
