#pragma once
// How the screen's keyboard stands in for a Mac's. The host desktop keeps Alt+Tab and
// Super+Tab for its own switcher, so Ctrl plays ⌘ and Alt plays ⌥; Super plays ⌃. F5 stands
// for the trackpad's double tap.

#include <Qt>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/CGEvent.h"

namespace screen {

/// The Mac key code of a key of the screen's keyboard, or nothing for keys the Mac lacks.
std::optional<CGKeyCode> macKey(int qtKey);

/// The Mac key code of the key at the place of X key code `scanCode` on a PC keyboard
/// (the main block), or nothing for other places.
std::optional<CGKeyCode> macKeyAt(std::uint32_t scanCode);

/// The key code a key press is posted with: by its label (`qtKey`), else by its place,
/// else, for a key that types `text` (any character the Linux keyboard makes), a key
/// without a US meaning so the text is taken as typed. Nothing for keys that neither
/// mean nor type anything.
std::optional<CGKeyCode> postedKey(int qtKey, std::uint32_t scanCode, const std::u16string& text);

/// Whether `text` is something typed rather than a control character.
bool isTypedText(const std::u16string& text);

/// The fingers of the trackpad double tap a key stands for (F5 three, with Shift four), or
/// nothing for other keys.
std::optional<int> doubleTapFingers(int qtKey, Qt::KeyboardModifiers held);

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
