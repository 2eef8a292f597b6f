#include "switcher/views/PointerBridge.h"

#include <QCoreApplication>
#include <QMouseEvent>

namespace trelliq::views {

PointerBridge::PointerBridge(const MouseView& mouse, QWidget* parent) : QWidget(parent), mouse_(mouse) {
  setMouseTracking(true);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
  if (parent) setGeometry(parent->rect());
  raise();
}

CGPoint PointerBridge::viewPoint(const QPointF& p) const { return {p.x(), height() - p.y()}; }

QWidget* PointerBridge::beneath(const QPointF& point) const {
  QWidget* parent = parentWidget();
  if (!parent) return nullptr;
  const QPoint inParent = mapToParent(point).toPoint();
  const QObjectList& siblings = parent->children();
  for (auto it = siblings.rbegin(); it != siblings.rend(); ++it) {
    auto* widget = qobject_cast<QWidget*>(*it);
    if (!widget || widget == this || !widget->isVisibleTo(parent) || !widget->geometry().contains(inParent)) continue;
    QWidget* inner = widget->childAt(widget->mapFromParent(inParent));
    return inner ? inner : widget;
  }
  return parent;
}

void PointerBridge::forward(QMouseEvent* event) {
  QWidget* target = passedTo_;
  if (!target) return;
  // The bridge and the target share the bridge's parent (the target may lie deeper).
  const QPointF local = target->mapFrom(parentWidget(), mapToParent(event->position()));
  QMouseEvent copy(event->type(), local, event->scenePosition(), event->globalPosition(), event->button(),
                   event->buttons(), event->modifiers());
  QCoreApplication::sendEvent(target, &copy);
}

void PointerBridge::mousePressEvent(QMouseEvent* event) {
  event->accept();
  const CGPoint p = viewPoint(event->position());
  if (mouse_.passesThrough && mouse_.passesThrough(p)) {
    passing_ = true;
    QWidget* target = beneath(event->position());
    passedTo_ = target != parentWidget() ? target : nullptr;
    forward(event);
  }
}

void PointerBridge::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (event->buttons() != Qt::NoButton) {
    forward(event);  // a drag belongs to where its press went
    return;
  }
  // The system shows the tip of the point the pointer rests on.
  setToolTip(helpAt_ ? helpAt_(event->position()) : QString());
  if (mouse_.onMove) mouse_.onMove(viewPoint(event->position()));
}

void PointerBridge::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (passing_) {
    forward(event);
    if (event->buttons() == Qt::NoButton) {
      passing_ = false;
      passedTo_ = nullptr;
    }
    return;
  }
  if (mouse_.onClick) mouse_.onClick(viewPoint(event->position()));
}

void PointerBridge::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click is still just a press.
  mousePressEvent(event);
}

}  // namespace trelliq::views
