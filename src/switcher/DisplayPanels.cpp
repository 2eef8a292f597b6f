#include "switcher/DisplayPanels.h"

#include <stdexcept>
#include <utility>

#include "switcher/PanelWindowSetup.h"
#include "switcher/model/TileID.h"
#include "workspace/Private.h"

namespace trelliq {

DisplayPanels::DisplayPanels(SwitcherModel& model, Hooks hooks) : model_(model), hooks_(std::move(hooks)) {}

DisplayPanel& DisplayPanels::panel(int index) {
  if (index < 0) throw std::out_of_range("DisplayPanels::panel: negative display index");
  while (panels.size() <= static_cast<std::size_t>(index)) panels.push_back(makePanel(static_cast<int>(panels.size())));
  return panels[static_cast<std::size_t>(index)];
}

DisplayPanel DisplayPanels::makePanel(int index) {
  DisplayPanel made;
  made.window = std::make_unique<SwitcherPanel>(CGRect(), panelwindow::style, NSBackingStoreType::buffered, false);
  panelwindow::configure(*made.window, panelwindow::panelLevel, false);
  made.window->setAcceptsMouseMovedEvents(true);

  made.geometry = std::make_unique<PanelGeometry>();
  made.geometry->onContentChange = [this] {
    if (hooks_.contentChanged) hooks_.contentChanged();
  };

  made.mouse = std::make_unique<MouseView>();
  MouseView* mouse = made.mouse.get();
  mouse->host = made.window.get();
  // The mouse view lives as long as these panels, so it may use them and itself.
  mouse->onMove = [this, mouse, index](CGPoint p) {
    if (hooks_.pointer) hooks_.pointer(p, *mouse, index, false);
  };
  mouse->onClick = [this, mouse, index](CGPoint p) {
    if (hooks_.pointer) hooks_.pointer(p, *mouse, index, true);
  };
  // Only the field of the name being edited gets the pointer itself.
  mouse->passesThrough = [this, mouse, index](CGPoint p) {
    const auto& renaming = model_.renaming();
    if (!renaming || static_cast<std::size_t>(index) >= panels.size()) return false;
    const CGRect* field = panels[static_cast<std::size_t>(index)].geometry->tiles.find(TileID::name(*renaming));
    return field && field->contains(CGPoint{p.x, mouse->bounds().height() - p.y});
  };

  if (PanelViews* views = PanelViews::installed()) {
    made.view = views->makeDisplayPanelView(model_, index, *made.geometry, *made.window, hooks_.nameField);
    views->hostPointer(*made.window, *mouse);
  }
  return made;
}

void DisplayPanels::showPanels(NSWindow& preview) {
  const std::vector<DisplayGroup>& displays = model_.workspace().displays;
  std::vector<NSWindow*> inUse;
  // Each panel is framed and laid out before any is ordered in: a window's frame read after
  // the stacking changed costs the window server the whole new order of windows.
  for (std::size_t i = 0; i < displays.size(); ++i) {
    DisplayPanel& p = panel(static_cast<int>(i));
    const CGRect frame = displays[i].screen.frame();
    if (!(p.window->frame() == frame)) p.window->setFrame(frame, false);
    if (p.view) p.view->setShown(true);
    inUse.push_back(p.window.get());
  }
  for (NSWindow* window : inUse) window->orderFrontRegardless();
  // Each comes with its first picture: what the main thread does next (the in-place
  // preview's display-sized windows) may hold it for a good part of a second, and a panel
  // ordered in without a picture shows nothing until then.
  for (NSWindow* window : inUse) window->displayIfNeeded();
  for (std::size_t i = displays.size(); i < panels.size(); ++i) {
    panels[i].window->orderOut(nullptr);
    if (panels[i].view) panels[i].view->setShown(false);
  }
  // A panel's view may place the preview while it is shown: the panels ordered after it
  // would then cover its part on their displays, so it floats above them all again.
  if (preview.isVisible()) preview.orderFrontRegardless();
  inUse.push_back(&preview);
  Private::keepOnTop(inUse);
}

void DisplayPanels::hide() {
  for (DisplayPanel& p : panels) {
    if (p.window) p.window->orderOut(nullptr);
    if (p.view) p.view->setShown(false);
  }
}

std::optional<CGRect> DisplayPanels::contentFrame(int display) const {
  if (display < 0 || static_cast<std::size_t>(display) >= panels.size()) return std::nullopt;
  const DisplayGroup* group = model_.display(display);
  if (!group) return std::nullopt;
  const CGRect& c = panels[static_cast<std::size_t>(display)].geometry->content();
  if (c.isNull()) return std::nullopt;
  const CGRect s = group->screen.frame();
  return CGRect(s.minX() + c.minX(), s.maxY() - c.maxY(), c.width(), c.height());
}

std::vector<ClickTarget> DisplayPanels::clickTargets() const {
  std::vector<ClickTarget> targets;
  const int count = static_cast<int>(model_.workspace().displays.size());
  for (int i = 0; i < count; ++i) {
    if (const auto frame = contentFrame(i)) targets.push_back({*frame, true});
  }
  return targets;
}

void DisplayPanels::setTakesKeys(bool takesKeys) {
  for (DisplayPanel& p : panels) p.window->setTakesKeys(takesKeys);
}

}  // namespace trelliq
