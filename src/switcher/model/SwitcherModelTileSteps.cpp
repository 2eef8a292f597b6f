// Stepping between the tiles of the focused display, its Spaces, and the tray row.

#include "switcher/model/SwitcherModel.h"
#include "switcher/model/TileList.h"

namespace trelliq {

namespace {

const Cluster* mostRecentOf(const std::vector<const Cluster*>& list, const std::optional<std::string>& excluding) {
  const Cluster* best = nullptr;
  std::uint64_t bestKey = 0;
  for (const Cluster* c : list) {
    if ((excluding && c->id == *excluding) || c->minimized()) continue;
    const std::uint64_t key = c->lastUsed();
    if (key != 0 && key > bestKey) {
      best = c;
      bestKey = key;
    }
  }
  return best;
}

// The tile `delta` steps from the focused display's selection, wrapping; null without tiles.
const Cluster* tileAfter(const SwitcherModel& model, int delta) {
  const DisplayGroup* g = model.display(model.focused());
  if (!g) return nullptr;
  const auto list = tiles::of(*g);
  if (list.empty()) return nullptr;
  return list[tiles::stepFrom(tiles::indexOf(list, model.selectedID(model.focused())), delta, list.size())];
}

}  // namespace

std::optional<std::string> SwitcherModel::mostRecent(const std::vector<Cluster>& clusters,
                                                     const std::optional<std::string>& excluding) {
  std::vector<const Cluster*> list;
  for (const Cluster& c : clusters) list.push_back(&c);
  const Cluster* best = mostRecentOf(list, excluding);
  return best ? std::optional(best->id) : std::nullopt;
}

void SwitcherModel::stepBack() {
  const int d = focused();
  if (const DisplayGroup* g = display(d)) {
    if (const Cluster* r = mostRecentOf(tiles::of(*g), selectedID(d))) {
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
  const Cluster* landing = mostRecentOf(list, std::nullopt);
  const std::string id = (landing ? landing : list.front())->id;
  setOnTray(false);
  select(id, focused());
}

void SwitcherModel::stepTile(int delta) {
  const Cluster* t = tileAfter(*this, delta);
  if (!t) return;
  select(t->id, focused());
  setOnTray(false);
  const auto stops = t->screen ? windowStops(*t) : std::vector<int>{};
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

std::vector<int> SwitcherModel::windowStops(const Cluster& c) {
  std::vector<int> stops;
  for (std::size_t i = 0; i < c.windows.size(); ++i) {
    if (!c.screen || !c.windows[i].minimized) stops.push_back(static_cast<int>(i));
  }
  if (c.screen && stops.empty()) stops.push_back(desktopPick);
  return stops;
}

}  // namespace trelliq
