// The one place that names the real layout, so that tests of the views can link without it.

#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::views {

void installPanelViews() {
  // Never destroyed: the windows and layers it mirrors live until the process ends.
  static QtPanelViews* views = new QtPanelViews(scene::layoutPanel);
  PanelViews::install(views);
}

}  // namespace trelliq::views
