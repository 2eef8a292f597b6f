#include "ui/LayoutFit.h"

#include <QLayout>
#include <QWidget>
#include <algorithm>

namespace trelliq::ui {

int fittedHeight(QWidget& root, int width) {
  QLayout* layout = root.layout();
  if (!layout) return root.sizeHint().height();
  root.ensurePolished();
  // In a window that is shown, a row just added to a layout is shown only at the next event
  // pass; it is measured as the window will show it.
  if (root.isVisible()) {
    for (QWidget* child : root.findChildren<QWidget*>()) {
      if (child->isHidden() && !child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
        child->show();
    }
  }
  // A widget's own item caches its sizes until the widget announces a change; the layouts
  // above it cache theirs until they are invalidated. Clear both, deepest parts included.
  for (QWidget* child : root.findChildren<QWidget*>()) child->updateGeometry();
  for (QLayout* inner : root.findChildren<QLayout*>()) inner->invalidate();
  layout->invalidate();
  layout->activate();
  const int minimum = layout->totalMinimumSize().height();
  if (!layout->hasHeightForWidth()) return std::max(layout->totalSizeHint().height(), minimum);
  return std::max(layout->totalHeightForWidth(width), minimum);
}

}  // namespace trelliq::ui
