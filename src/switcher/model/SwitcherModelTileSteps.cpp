// Stepping between the tiles of the focused display, its Spaces, and the tray row.

#include "switcher/model/SwitcherModel.h"
#include "switcher/model/TileList.h"
#include "switcher/model/TileStops.h"

namespace trelliq {

namespace {

// The tile `delta` steps from the focused display's selection, wrapping; null without tiles.
const Cluster* tileAfter(const SwitcherModel& model, int delta) {
  const DisplayGroup* g = model.display(model.focused());
  if (!g) return nullptr;
  const auto list = tiles::of(*g);
  if (list.empty()) return nullptr;
  return list[tiles::stepFrom(tiles::indexOf(list, model.selectedID(model.focused())), delta, list.size())];
}

}  // namespace

void SwitcherModel::stepBack() {
  const int d = focused();
  if (const DisplayGroup* g = display(d)) {
    if (const Cluster* r = TileStops::mostRecentOf(tiles::of(*g), selectedID(d))) {
      const std::string id = r->id;
      setOnTray(false);
      select(id, d);
      return;
    }
  }
  stepCluster(1);
}

void SwitcherModel::stepCluster(int delta) {
  if (onTray()) {
    stepTray(delta);
    return;
  }
  if (const Cluster* t = tileAfter(*this, delta)) select(t->id, focused());
}

void SwitcherModel::stepTray(int delta) {
  const auto& tray = workspace().tray;
  if (!onTray() || tray.empty()) return;
  std::size_t j = 0;
  for (std::size_t i = 0; i < tray.size(); ++i) {
    if (tray[i].id == traySelection()) {
      j = tiles::wrap(static_cast<std::ptrdiff_t>(i), delta, tray.size());
      break;
    }
  }
  setTraySelection(tray[j].id);
}

void SwitcherModel::stepSpace(int delta) {
  const DisplayGroup* g = display(focused());
  if (!g || g->spaces.empty()) return;
  const auto& spaces = g->spaces;
  const std::size_t n = spaces.size();
  const std::optional<std::string> selected = selectedID(focused());

  std::optional<std::size_t> current;
  for (std::size_t i = 0; i < n && !current && selected; ++i) {
    for (const Cluster& c : spaces[i].clusters) {
      if (c.id == *selected) {
        current = i;
        break;
      }
    }
  }
  for (std::size_t i = 0; i < n && !current; ++i) {
    if (spaces[i].current) current = i;
  }
  std::size_t j = tiles::stepFrom(current, delta, n);
  // A Space group shown without any tile has nothing to land on: go on past it in the
  // same direction; when every group is empty nothing changes.
  const int onward = delta < 0 ? -1 : 1;
  std::size_t tries = 0;
  while (spaces[j].clusters.empty()) {
    if (++tries == n) return;
    j = tiles::wrap(static_cast<std::ptrdiff_t>(j), onward, n);
  }

  std::vector<const Cluster*> list;
  for (const Cluster& c : spaces[j].clusters) list.push_back(&c);
  const Cluster* landing = TileStops::mostRecentOf(list, std::nullopt);
  const std::string id = (landing ? landing : list.front())->id;
  setOnTray(false);
  select(id, focused());
}

void SwitcherModel::stepTile(int delta) {
  const Cluster* t = tileAfter(*this, delta);
  if (!t) return;
  select(t->id, focused());
  setOnTray(false);
  const auto stops = t->screen ? TileStops::windowStops(*t) : std::vector<int>{};
  if (!stops.empty()) {
    setPick(focused(), stops.front());
  } else {
    erasePick(focused());
  }
}

void SwitcherModel::enterTray() {
  if (onTray() || workspace().tray.empty()) return;
  setOnTray(true);
  setTraySelection(workspace().tray.front().id);
}

void SwitcherModel::toggleTray() {
  const auto& tray = workspace().tray;
  if (tray.empty()) return;
  if (onTray()) {
    setOnTray(false);
    return;
  }
  setOnTray(true);
  const bool stillThere =
      std::any_of(tray.begin(), tray.end(), [&](const AppInfo& a) { return a.id == traySelection(); });
  if (!stillThere) setTraySelection(tray.front().id);
}

bool SwitcherModel::toRow(bool down) {
  if (down == onTray()) return false;
  if (down && workspace().tray.empty()) return false;
  toggleTray();
  return true;
}

}  // namespace trelliq
