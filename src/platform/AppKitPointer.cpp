// Pointer events routed to one of the program's windows reach the widget under the
// pointer in its content view, as a window's view hierarchy would take them: the press
// goes to the deepest widget at the point, and its drags and release follow it there
// even when the pointer leaves it.

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include "platform/AppKit.h"
#include "platform/AppKitPointer.h"

namespace platform {

namespace {

QPointer<QWidget>& pressedWidget() {
  static QPointer<QWidget> pressed;
  return pressed;
}

struct Kind {
  QEvent::Type type;
  Qt::MouseButton button;
};

std::optional<Kind> kindOf(NSEventType type) {
  switch (type) {
    case NSEventType::leftMouseDown: return Kind{QEvent::MouseButtonPress, Qt::LeftButton};
    case NSEventType::leftMouseUp: return Kind{QEvent::MouseButtonRelease, Qt::LeftButton};
    case NSEventType::rightMouseDown: return Kind{QEvent::MouseButtonPress, Qt::RightButton};
    case NSEventType::rightMouseUp: return Kind{QEvent::MouseButtonRelease, Qt::RightButton};
    case NSEventType::otherMouseDown: return Kind{QEvent::MouseButtonPress, Qt::MiddleButton};
    case NSEventType::otherMouseUp: return Kind{QEvent::MouseButtonRelease, Qt::MiddleButton};
    case NSEventType::mouseMoved: return Kind{QEvent::MouseMove, Qt::NoButton};
    case NSEventType::leftMouseDragged: return Kind{QEvent::MouseMove, Qt::NoButton};
    case NSEventType::rightMouseDragged: return Kind{QEvent::MouseMove, Qt::NoButton};
    case NSEventType::otherMouseDragged: return Kind{QEvent::MouseMove, Qt::NoButton};
    default: return std::nullopt;
  }
}

Qt::MouseButtons heldDuring(NSEventType type) {
  switch (type) {
    case NSEventType::leftMouseDown:
    case NSEventType::leftMouseDragged: return Qt::LeftButton;
    case NSEventType::rightMouseDown:
    case NSEventType::rightMouseDragged: return Qt::RightButton;
    case NSEventType::otherMouseDown:
    case NSEventType::otherMouseDragged: return Qt::MiddleButton;
    default: return Qt::NoButton;
  }
}

}  // namespace

bool isPointerEvent(NSEventType type) { return kindOf(type).has_value(); }

CGPoint pointInWindow(const CGRect& frame, CGPoint global) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  const double primaryTop = screens.empty() ? 0 : screens.front().frame().maxY();
  // The event is in top-left global coordinates; the frame in bottom-left screen ones.
  return {global.x - frame.minX(), frame.maxY() - (primaryTop - global.y)};
}

void deliverPointer(QWidget* content, CGPoint local, const NSEvent& event) {
  const std::optional<Kind> kind = kindOf(event.type());
  if (!content || !kind || !qApp) return;
  const QPointF point(local.x, local.y);
  QPointer<QWidget>& pressed = pressedWidget();
  QWidget* target = nullptr;
  if (kind->type == QEvent::MouseButtonPress || !pressed) {
    QWidget* under = content->childAt(point.toPoint());
    target = under ? under : content;
  } else {
    target = pressed;
  }
  if (kind->type == QEvent::MouseButtonPress) pressed = target;
  if (kind->type == QEvent::MouseButtonRelease) pressed = nullptr;
  const QPointF inTarget = target->mapFrom(content, point);
  QMouseEvent qt(kind->type, inTarget, point, point, kind->button, heldDuring(event.type()), Qt::NoModifier);
  QApplication::sendEvent(target, &qt);
}

}  // namespace platform
