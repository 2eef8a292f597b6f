#pragma once
// The insertion point of the text field that has the keyboard, drawn as a Mac's field
// editor draws it: a bar one point wide (two device pixels at least) across the line at
// the caret, in the text's colour, on for 0.53 s and off for 0.53 s on the installed clock.
// Each keystroke, edit or move of the caret shows it solid and starts the blink over, so it
// stays solid while the user types; while text is selected the selection shows instead and
// nothing blinks. It blinks only while its field is shown and has the keyboard: a hidden
// field, or one that lost the keyboard, leaves no timer behind. Qt's own caret is never
// drawn (its blink runs on real time). Main thread.

class QWidget;

namespace platform {

/// How long the insertion point stays on, and then off, in seconds.
inline constexpr double kInsertionPointBlink = 0.53;

/// Gives `field` the insertion point, shown at once; nothing for a widget that is no line
/// edit, or one that has it already.
void showInsertionPoint(QWidget* field);
/// Takes it away from `field` (drawn again without it); nothing when it has none.
void removeInsertionPoint(QWidget* field);

}  // namespace platform
