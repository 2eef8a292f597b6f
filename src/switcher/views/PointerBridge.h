#pragma once
// The transparent layer over a panel's content that hands the pointer to the controller
// through a `MouseView`: every move without a button held goes to `onMove` and every
// release to `onClick`, as points with the origin at the bottom left of the panel. A
// press is swallowed, unless `passesThrough` says the point belongs to the widgets
// beneath (the name field being edited): then the press, the drags and the release that
// follow go to the widget beneath instead. With no closures set every event inside is
// still swallowed. The help callback (optional) answers the tool tip over a point given in
// the widget's own coordinates, which the system shows where the pointer rests. Main thread only.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

#include "switcher/PanelViews.h"

namespace trelliq::views {

class PointerBridge : public QWidget {
 public:
  /// Lays itself over the whole of `parent`, on top of its other children. `mouse` must
  /// outlive the bridge.
  PointerBridge(const MouseView& mouse, QWidget* parent);

  /// Has `answer` give the tooltip over a point of the widget; none without it.
  void setHelpAt(std::function<QString(QPointF)> answer) { helpAt_ = std::move(answer); }

  /// A point of the widget (top-left origin) in the mouse view's coordinates.
  CGPoint viewPoint(const QPointF& widgetPoint) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::function<QString(QPointF)> helpAt_;
  // The sibling widget (or its descendant) under `point`, skipping this bridge.
  QWidget* beneath(const QPointF& point) const;
  void forward(QMouseEvent* event);

  const MouseView& mouse_;
  bool passing_ = false;        // a press passed through: its release is not a click
  QPointer<QWidget> passedTo_;  // receives the rest of a press that passed through
};

}  // namespace trelliq::views
