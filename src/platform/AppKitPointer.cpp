// Pointer events routed to one of the program's windows reach the widget under the
// pointer in its content view, as a window's view hierarchy would take them: the press
// goes to the deepest widget at the point, and its drags and release follow it there
// even when the pointer leaves it. A pointer that rests over a widget with a tool tip
// shows it, as the application kit shows a view's.

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <QWidget>
#include <cmath>
#include <optional>

#include "platform/AppKit.h"
#include "platform/AppKitMenuWindows.h"
#include "platform/AppKitPointer.h"
#include "platform/Clock.h"
#include "platform/InsertionPoint.h"
#include "platform/WindowFrame.h"

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

// The title-bar button a press went down on, by window number.
struct PressedButton {
  std::int64_t window = 0;
  TitleButton button = TitleButton::close;
};
std::optional<PressedButton>& pressedButton() {
  static std::optional<PressedButton> pressed;
  return pressed;
}

void deliverWheel(QWidget* content, CGPoint local, const NSEvent& event) {
  const QPointF point(local.x, local.y);
  QWidget* under = content->childAt(point.toPoint());
  // A scroll goes to the scroll view under the pointer, never to a control inside it.
  QWidget* target = under ? under : content;
  for (QWidget* w = target; w && w != content->parentWidget(); w = w->parentWidget()) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
      target = area->viewport();  // the area takes its wheel through its viewport
      break;
    }
  }
  // A wheel's notch is 120 eighths of a degree; a precise scroll of ten points counts as one.
  const double perUnit = event.hasPreciseScrollingDeltas() ? 12 : 120;
  const QPoint angle(static_cast<int>(std::lround(event.scrollingDeltaX() * perUnit)),
                     static_cast<int>(std::lround(event.scrollingDeltaY() * perUnit)));
  const QPoint pixels = event.hasPreciseScrollingDeltas() ? QPoint(static_cast<int>(std::lround(event.scrollingDeltaX())),
                                                                   static_cast<int>(std::lround(event.scrollingDeltaY())))
                                                          : QPoint();
  if (angle.isNull() && pixels.isNull()) return;
  QWheelEvent qt(target->mapFrom(content, point), point, pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                 false);
  QApplication::sendEvent(target, &qt);
}

// Qt's own tool tips would open windows of the Linux desktop, outside the simulated Mac:
// the application kit shows every tool tip itself.
class QtToolTipsOff : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

void turnQtToolTipsOff() {
  static QPointer<QObject> filter;
  if (filter || !qApp) return;
  filter = new QtToolTipsOff(qApp);
  qApp->installEventFilter(filter);
}

// The tool tip of `widget` or the nearest of its parents that has one.
std::string toolTipOf(const QWidget* widget) {
  for (; widget; widget = widget->parentWidget())
    if (!widget->toolTip().isEmpty()) return widget->toolTip().toStdString();
  return {};
}

// The pointer resting over a widget: after the delay its tool tip shows at the pointer; a
// move to another tip, a button or the wheel takes the shown tip away.
struct ToolTipWatch {
  static constexpr Seconds kDelay = 1.0;
  QPointer<QWidget> under;
  CGPoint at;
  WorkItem due;

  void moved(QWidget* widget, CGPoint global) {
    under = widget;
    at = global;
    const std::string tip = toolTipOf(widget);
    const std::string shown = shownToolTip();
    if (!shown.empty()) {
      if (tip == shown) return;
      hideToolTip();
    }
    due.cancel();
    if (tip.empty()) return;
    due = mainQueue().asyncAfter(kDelay, [this] {
      // Asked again now: the widget may have changed its tip while the pointer rested.
      if (under) showToolTip(toolTipOf(under), at);
    });
  }
  void stop() {
    due.cancel();
    hideToolTip();
  }
};

ToolTipWatch& toolTipWatch() {
  static auto* watch = new ToolTipWatch;  // never destroyed: work may be queued on it
  return *watch;
}

}  // namespace

bool pointerPressHeld() { return !pressedWidget().isNull(); }

void endPointerPress() { pressedWidget() = nullptr; }

bool isPointerEvent(NSEventType type) { return type == NSEventType::scrollWheel || kindOf(type).has_value(); }

CGPoint pointInWindow(const CGRect& frame, CGPoint global) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  const double primaryTop = screens.empty() ? 0 : screens.front().frame().maxY();
  // The event is in top-left global coordinates; the frame in bottom-left screen ones.
  return {global.x - frame.minX(), frame.maxY() - (primaryTop - global.y)};
}

void deliverPointer(QWidget* content, CGPoint local, const NSEvent& event) {
  if (content && qApp) turnQtToolTipsOff();
  if (event.type() != NSEventType::mouseMoved) toolTipWatch().stop();
  if (content && qApp && event.type() == NSEventType::scrollWheel) return deliverWheel(content, local, event);
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
  // After the widget had the move, so a tip it sets for where the pointer is counts.
  if (event.type() == NSEventType::mouseMoved) toolTipWatch().moved(target, event.cgLocation());
}

void deliverToWindow(NSWindow& window, const NSEvent& event) {
  const CGRect frame = window.frame();
  const CGRect content = window.contentRectForFrameRect(frame);
  const CGPoint local = pointInWindow(frame, event.cgLocation());
  const double bar = frame.maxY() - content.maxY();
  std::optional<PressedButton>& pressed = pressedButton();
  const bool inBar = local.y < bar;
  if (event.type() == NSEventType::leftMouseDown && inBar) {
    if (const auto button = titleButtonAt(local)) pressed = PressedButton{window.windowNumber(), *button};
    return;
  }
  if (event.type() == NSEventType::leftMouseUp && pressed && pressed->window == window.windowNumber()) {
    const TitleButton button = pressed->button;
    pressed.reset();
    if (!inBar || titleButtonAt(local) != button) return;
    const NSWindowStyleMask style = window.styleMask();
    if (button == TitleButton::close && (style & NSWindowStyleMaskClosable)) window.performClose(nullptr);
    if (button == TitleButton::miniaturize && (style & NSWindowStyleMaskMiniaturizable)) window.miniaturize(nullptr);
    return;
  }
  if (event.type() == NSEventType::leftMouseDragged && pressed) return;
  // The bar is the frame's: only a press that began in the content follows the pointer there.
  if (inBar && !pressedWidget()) return;
  deliverPointer(window.contentView(), CGPoint{local.x, local.y - bar}, event);
}

void moveTextFocus(NSResponder* from, NSResponder* to) {
  if (!qApp) return;
  // The windows are drawn, never shown, so Qt would not tell a widget it has the focus.
  if (auto* widget = dynamic_cast<QWidget*>(from)) {
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(widget, &out);
    removeInsertionPoint(widget);
  }
  auto* widget = dynamic_cast<QWidget*>(to);
  if (!widget) return;
  // Qt's own caret would blink on a timer of real time; the field's insertion point
  // blinks on the installed clock instead.
  QApplication::setCursorFlashTime(0);
  QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
  QApplication::sendEvent(widget, &in);
  if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    showInsertionPoint(field);
    field->selectAll();
  }
}

}  // namespace platform
