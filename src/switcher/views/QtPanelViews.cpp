#include "switcher/views/QtPanelViews.h"

#include <utility>

namespace trelliq::views {

QtPanelViews::QtPanelViews(PanelLayoutFunction layout) : layout_(std::move(layout)) {}

QtPanelViews::~QtPanelViews() {
  if (PanelViews::installed() == this) PanelViews::install(nullptr);
}

std::unique_ptr<PanelView> QtPanelViews::makeDisplayPanelView(SwitcherModel& model, int index, PanelGeometry& geometry,
                                                              NSWindow& panel, PanelView::NameFieldHooks hooks) {
  return std::make_unique<DisplayPanelView>(model, index, geometry, panel, std::move(hooks), layout_);
}

void QtPanelViews::host(NSWindow& window, const std::vector<Layer*>& layers) {
  hosts_.erase(&window);  // the old mirror lets go of its layers first
  hosts_[&window] = std::make_unique<LayerHostView>(window, layers);
}

void QtPanelViews::hostPointer(NSWindow& panel, MouseView& mouse) {
  if (auto* view = dynamic_cast<DisplayPanelView*>(panel.contentView())) view->attachPointer(mouse);
}

LayerHostView* QtPanelViews::hostOf(const NSWindow& window) const {
  const auto found = hosts_.find(&window);
  return found == hosts_.end() ? nullptr : found->second.get();
}

}  // namespace trelliq::views
