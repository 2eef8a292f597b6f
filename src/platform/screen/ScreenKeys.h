#pragma once
// How the screen's keyboard stands in for a Mac's. The host desktop keeps Alt+Tab and
// Super+Tab for its own switcher, so Ctrl plays ⌘ and Alt plays ⌥; Super plays ⌃.

#include <Qt>
#include <optional>
#include <string>

#include "platform/CGEvent.h"

namespace screen {

/// The Mac key code of a key of the screen's keyboard, or nothing for keys the Mac lacks.
std::optional<CGKeyCode> macKey(int qtKey);

/// The Mac modifier flags the held keys stand for.
CGEventFlags macFlags(Qt::KeyboardModifiers held);

/// For a modifier key itself: its Mac key code and its flag, or nothing for other keys.
struct Modifier {
  CGKeyCode key;
  CGEventFlags flag;
};
std::optional<Modifier> macModifier(int qtKey);

/// The strip at the window's foot that says so.
std::string mappingLegend();

}  // namespace screen
