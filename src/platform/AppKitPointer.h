#pragma once
// How the application kit hands a pointer event to the widgets of one of the program's
// windows. Main thread only.

#include "platform/AppKitWindows.h"
#include "platform/Geometry.h"

class QWidget;

namespace platform {

/// Whether the event is a press, release, move or drag (the kinds delivered to widgets).
bool isPointerEvent(NSEventType type);
/// A global top-left point in the coordinates of a window of `frame` (screen coordinates),
/// origin at the window's top left.
CGPoint pointInWindow(const CGRect& frame, CGPoint global);
/// Sends the event to the widget under `local` in `content` (a press's drags and release
/// go where the press went).
void deliverPointer(QWidget* content, CGPoint local, const NSEvent& event);

}  // namespace platform
