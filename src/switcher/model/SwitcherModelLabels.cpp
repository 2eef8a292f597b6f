// What a tile's name pill says, and putting a saved name into the shown snapshot.

#include "switcher/model/SwitcherModel.h"
#include "workspace/SpaceNames.h"

namespace trelliq {

namespace {

// The pill of one window of a tile: its stored name when it has one. A whole-Space tile
// offers a window's key only when that window already carries a name.
TileLabel windowLabel(const Cluster& c, std::optional<int> index, const std::string& app,
                      const std::map<std::string, std::string>& names) {
  if (!index || *index < 0 || static_cast<std::size_t>(*index) >= c.windows.size()) return {app, app, std::nullopt};
  const auto number = c.windows[static_cast<std::size_t>(*index)].windowID;
  if (!number) return {app, app, std::nullopt};
  std::string key = SpaceNames::key(*number);
  if (auto it = names.find(key); it != names.end()) return {it->second, app, std::move(key)};
  if (c.screen) return {app, app, std::nullopt};
  return {app, app, std::move(key)};
}

}  // namespace

TileLabel SwitcherModel::label(const Cluster& c, int d, bool selected) const {
  const std::string& desktop = c.desktopName;
  if (c.isDesktop()) return {c.name(), desktop, c.nameKey};
  const auto& names = workspace().names;

  if (selected) {
    std::optional<int> i;
    std::string app = c.appNames();
    if (c.screen) {
      if (picksDesktop(c, d)) return {c.named.value_or(desktop), desktop, c.nameKey};
      i = targetWindowIndex(c, d);
      if (i) {
        if (const AppInfo* owner = c.app(&c.windows[static_cast<std::size_t>(*i)])) app = owner->name;
      }
    } else {
      i = targetWindowIndex(c, d);
    }
    if (c.fullScreen) return {c.named.value_or(app), app, c.nameKey};
    return windowLabel(c, i, app, names);
  }

  if (c.screen && !c.fullScreen) return {c.named.value_or(desktop), desktop, c.nameKey};
  if (c.fullScreen) return {c.name(), c.appNames(), c.nameKey};
  return windowLabel(c, c.lastWindow, c.appNames(), names);
}

void SwitcherModel::setName(const std::optional<std::string>& name, const std::string& key) {
  workspace.modify([&](Workspace& w) {
    if (name) {
      w.names[key] = *name;
    } else {
      w.names.erase(key);
    }
    // Spare desktop tiles are not shown, so they keep what they have.
    for (DisplayGroup& g : w.displays) {
      for (SpaceGroup& group : g.spaces) {
        for (Cluster& c : group.clusters) {
          if (c.nameKey == key) c.named = name;
        }
      }
    }
  });
}

}  // namespace trelliq
