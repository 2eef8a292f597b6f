#pragma once
// What the window server draws around windows and in the menu bar, in points: a titled
// window's title bar and its three buttons (from the window's top-left corner), and the
// menu bar's clock and status items. The application kit hit-tests and places what the
// window server draws from the same numbers, so a click lands on what is drawn.

#include <optional>

#include "platform/Geometry.h"

namespace platform {

inline constexpr double kTitleBarHeight = 28;
/// The buttons' diameter and the distance between their centres; the first centre sits
/// one step from the left edge, all of them half the bar down.
inline constexpr double kTitleButtonDiameter = 12;
inline constexpr double kTitleButtonStep = 20;

enum class TitleButton { close = 0, miniaturize = 1, zoom = 2 };

/// The centre of `button` in a window's frame.
CGPoint titleButtonCentre(TitleButton button);

/// The button under `inFrame` (a point from the frame's top-left corner), counting a
/// small margin around each circle as a finger would; nothing elsewhere.
std::optional<TitleButton> titleButtonAt(CGPoint inFrame);

/// The menu bar is at least this tall; a display with a notch has a taller one.
inline constexpr double kMenuBarMinHeight = 24;
/// The clock's slot at the menu bar's right end, and the room between status items.
inline constexpr double kMenuBarClockWidth = 132;
inline constexpr double kStatusItemSpacing = 6;

/// The menu bar's height on a display of `frame` whose `visibleFrame` leaves room for it
/// (both bottom-left or both top-left, one coordinate space): the room above the visible
/// frame, at least the usual height.
double menuBarHeight(const CGRect& frame, const CGRect& visibleFrame, bool bottomLeft = true);

}  // namespace platform
