// What the display panels and the preview report to the controller: the pointer over a
// panel, a submitted or escaped name, content that moved; and the click targets the tap
// reads. The panels themselves are `DisplayPanels`, the preview `PreviewPanel`. Main
// thread only.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/PanelSelfCheck.h"
#include "switcher/Switcher.h"

namespace trelliq {

DisplayPanels::Hooks Switcher::panelHooks() {
  // The panels live inside this controller; the hooks still look for the controller at
  // call time, so nothing runs once it is being torn down.
  DisplayPanels::Hooks hooks;
  hooks.contentChanged = [this] {
    if (auto self = weak().lock()) self->placePreview();
  };
  hooks.pointer = [this](CGPoint point, const MouseView& view, int display, bool click) {
    if (auto self = weak().lock()) self->pointer(point, view, display, click);
  };
  hooks.nameField.submit = [this] {
    if (auto self = weak().lock()) self->finishRenaming(true, true);
  };
  hooks.nameField.escape = [this] {
    if (auto self = weak().lock()) self->finishRenaming(false, false);
  };
  return hooks;
}

void Switcher::pointer(CGPoint point, const MouseView& view, int display, bool click) {
  if (!active || display < 0 || static_cast<std::size_t>(display) >= panels_.count()) return;
  // Right after a name was submitted the panel is about to close.
  if (model.justNamed()) return;
  if (model.renaming()) {
    if (click) finishRenaming(true, false);
    return;
  }
  const CGPoint q{point.x, view.bounds().height() - point.y};
  const std::optional<TileID> best = panels_.at(static_cast<std::size_t>(display)).geometry->hitTest(q);

  std::optional<std::string> label;
  if (best && (best->kind() == TileID::Kind::name || best->kind() == TileID::Kind::resetName)) {
    label = best->clusterID();
  }
  if (model.hoveredName() != label) model.hoveredName.set(label);

  if (label) {
    model.selectName(*label, display);
    if (!click) return;
    if (best->kind() == TileID::Kind::resetName) {
      resetName(*label);
    } else {
      startRenaming(*label, display);
    }
    return;
  }
  if (!best) return;
  model.select(*best, display);
  if (click) commit();
}

void Switcher::updateClickTargets() {
  if (!active || !shown) {
    gate_.setClickTargets({});
    return;
  }
  std::vector<ClickTarget> targets = panels_.clickTargets();
  // A click on the preview's glass does nothing.
  if (const auto glass = preview_.glassOnScreen()) targets.push_back({*glass, false});
  gate_.setClickTargets(std::move(targets));
}

void Switcher::placePreview() {
  const bool showing = active && shown && Settings::showThumbnails();
  preview_.place(showing ? panels_.contentFrame(model.focused()) : std::nullopt);
  updateClickTargets();
}

void Switcher::checkPanels() {
  if (!active) return;
  if (const auto entry = PanelSelfCheck::entry(model, panels_, preview_.window())) Diagnostics::log(*entry);
}

}  // namespace trelliq
