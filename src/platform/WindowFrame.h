#pragma once
// The frame the window server draws around a titled window: the title bar's height and
// the three buttons at its left. The application kit hit-tests the buttons and the window
// server draws them from the same numbers, so a click lands on what is drawn. Points,
// measured from the window's top-left corner.

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

}  // namespace platform
