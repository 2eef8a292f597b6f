// Renaming a desktop in place: which label becomes the field, what a submitted name is
// saved as, and how the edit ends and hands the keys back.

#include "switcher/Renaming.h"

#include <utility>

#include "platform/Clock.h"
#include "switcher/DisplayPanels.h"
#include "switcher/EventTap.h"
#include "switcher/OpenGate.h"
#include "switcher/Session.h"
#include "switcher/SwitcherTiming.h"
#include "workspace/SpaceNames.h"

namespace trelliq {

namespace {

// The tile with that id and the display it was found on: `preferred` first, then every
// display in order.
std::pair<const Cluster*, int> findCluster(const Workspace& workspace, const std::string& id,
                                           std::optional<int> preferred = std::nullopt) {
  auto search = [&](int d) -> const Cluster* {
    for (const SpaceGroup& group : workspace.displays[static_cast<std::size_t>(d)].spaces) {
      for (const Cluster& c : group.clusters) {
        if (c.id == id) return &c;
      }
    }
    return nullptr;
  };
  const int count = static_cast<int>(workspace.displays.size());
  if (preferred && *preferred >= 0 && *preferred < count) {
    if (const Cluster* c = search(*preferred)) return {c, *preferred};
  }
  for (int d = 0; d < count; ++d) {
    if (const Cluster* c = search(d)) return {c, d};
  }
  return {nullptr, -1};
}

}  // namespace

Renaming::Renaming(Parts parts) : parts_(std::move(parts)) {}

void Renaming::startRenaming(const std::string& id, int display) {
  SwitcherModel& model = parts_.model;
  if (!parts_.session.isShown() || display < 0 || static_cast<std::size_t>(display) >= parts_.panels.count()) return;
  if (!model.display(display)) return;
  const auto [cluster, found] = findCluster(model.workspace(), id, display);
  if (!cluster || found != display) return;
  const TileLabel label = model.label(*cluster, display, true);
  if (!label.key) return;
  // One locked step, so the tap never sees the session closed and not renaming.
  if (!parts_.gate.lockForRenaming(parts_.session.generation())) return;

  // The edit ends with this display's label and key even if the focus moves meanwhile.
  renamingDisplay = display;
  model.hoveredName.set(std::nullopt);
  model.nameDraft.set(label.name);
  model.setRenamingKey(label.key);
  DisplayPanel& p = parts_.panels.panel(display);
  p.window->setTakesKeys(true);
  p.window->makeKeyWindow();
  model.renaming.set(id);
  if (p.view) p.view->focusNameField();
}

void Renaming::finishRenaming(bool save, bool dismissing) {
  SwitcherModel& model = parts_.model;
  if (!parts_.session.isActive() || !model.renaming()) return;
  const std::string edited = *model.renaming();
  const int display = renamingDisplay.value_or(model.focused());

  if (save && model.renamingKey()) {
    const auto [cluster, found] = findCluster(model.workspace(), edited, display);
    if (cluster) {
      std::string name = SpaceNames::trimmed(model.nameDraft());
      // Typing the usual label back means "no name of my own".
      if (name == model.label(*cluster, found, true).usual) name.clear();
      const std::string key = *model.renamingKey();
      SpaceNames::set(name, key);
      model.setName(name.empty() ? std::nullopt : std::optional(name), key);
    }
  }
  model.renaming.set(std::nullopt);

  if (!dismissing) {
    parts_.panels.setTakesKeys(false);
    const OpenState state = parts_.gate.openState();
    const bool holdingHeld = (parts_.tap.lastFlags() & state.holding) == state.holding;
    parts_.gate.unlockAfterRenaming(holdingHeld ? Holding::held : Holding::released, parts_.session.generation());
    renamingDisplay.reset();
    return;
  }
  model.justNamed.set(edited);
  platform::mainQueue().asyncAfter(SwitcherTiming::renameSettle, [this, life = life_.watch(), edited] {
    if (life.expired() || !parts_.session.isActive() || parts_.model.justNamed() != std::optional(edited)) return;
    parts_.cancel();
  });
}

void Renaming::resetName(const std::string& id) {
  SwitcherModel& model = parts_.model;
  const auto [cluster, found] = findCluster(model.workspace(), id);
  if (!cluster) return;
  // The label of the display the tile is on: the one whose reset button was clicked.
  const std::optional<std::string> key = model.label(*cluster, found, true).key;
  if (!key) return;
  SpaceNames::set("", *key);
  model.setName(std::nullopt, *key);
}

void Renaming::sessionEnded() {
  parts_.model.renaming.set(std::nullopt);
  parts_.model.justNamed.set(std::nullopt);
  parts_.model.hoveredName.set(std::nullopt);
  renamingDisplay.reset();
  parts_.panels.setTakesKeys(false);
}

}  // namespace trelliq
