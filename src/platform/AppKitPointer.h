#pragma once
// How the application kit hands a pointer event to the widgets of one of the program's
// windows. Main thread only.

#include "platform/AppKitWindows.h"
#include "platform/Geometry.h"

class QWidget;

namespace platform {

/// Whether the event is a press, release, move, drag or scroll (the kinds delivered to widgets).
bool isPointerEvent(NSEventType type);
/// A global top-left point in the coordinates of a window of `frame` (screen coordinates),
/// origin at the window's top left.
CGPoint pointInWindow(const CGRect& frame, CGPoint global);
/// Sends the event to the widget under `local` in `content` (a press's drags and release
/// go where the press went; a scroll goes to the widget under the pointer).
void deliverPointer(QWidget* content, CGPoint local, const NSEvent& event);
/// Hands an event the window server routed to `window` on, as its frame view would: a
/// press and release on the same title-bar button closes (when closable) or minimises
/// (when miniaturizable) the window, the rest of the title bar keeps the event, and the
/// content area's points reach the widget under them in content coordinates.
void deliverToWindow(NSWindow& window, const NSEvent& event);
/// Whether a press that began in a window's content is still held.
bool pointerPressHeld();
/// Forgets the held press, for an event something else handled in its place.
void endPointerPress();
/// The keyboard focus moves from responder `from` to `to` (either may be null or no
/// widget): the widgets are told, and a text field that takes it selects its whole text
/// and shows its caret, as a field editor does.
void moveTextFocus(NSResponder* from, NSResponder* to);

}  // namespace platform
