// Session start, snapshot replacement, the selection queries, focus and pointer selection.

#include "switcher/model/SwitcherModel.h"

#include <algorithm>

#include "switcher/model/TileList.h"

namespace trelliq {

namespace {
constexpr const char* kFileManager = "com.apple.finder";
}

SwitcherModel::SwitcherModel() = default;

// ---- Sessions and snapshots -------------------------------------------------------------

void SwitcherModel::reset(Workspace snapshot, int focusedDisplay) {
  workspace.set(std::move(snapshot));
  focused.set(focusedDisplay);
  selection.set({});
  windowPick.set({});
  windowOffDesktop_.reset();
  onTray.set(false);
  traySelection.set(std::nullopt);
  quitting.set({});
  transitioning_.clear();
  controlHeld_ = false;
  hoveredName.set(std::nullopt);
  renaming.set(std::nullopt);
  justNamed.set(std::nullopt);
}

void SwitcherModel::reload(Workspace snapshot, std::uint32_t window) {
  workspace.set(std::move(snapshot));
  for (int d : lostSelections()) {
    eraseSelection(d);
    erasePick(d);
  }

  const auto& displays = workspace().displays;
  for (std::size_t d = 0; d < displays.size(); ++d) {
    for (const SpaceGroup& group : displays[d].spaces) {
      for (const Cluster& c : group.clusters) {
        for (std::size_t i = 0; i < c.windows.size(); ++i) {
          if (c.windows[i].windowID != window) continue;
          const int di = static_cast<int>(d);
          const std::string id = c.id;
          const bool several = c.windows.size() >= 2;
          focused.set(di);
          setSelection(di, id);
          if (several) {
            setPick(di, static_cast<int>(i));
          } else {
            erasePick(di);
          }
          setOnTray(false);
          return;
        }
      }
    }
  }
}

void SwitcherModel::moveFullScreen(std::uint32_t window, FullScreen change, bool screenTiles) {
  transitioning_.insert(window);
  if (thumbnails().count(window)) thumbnails.modify([window](auto& t) { t.erase(window); });
  Workspace copy = workspace();
  if (copy.moveFullScreen(window, change, screenTiles)) reload(std::move(copy), window);
}

std::vector<int> SwitcherModel::lostSelections() const {
  std::vector<int> lost;
  for (const auto& [d, id] : selection()) {
    const DisplayGroup* g = display(d);
    if (!g || !tiles::find(*g, id)) lost.push_back(d);
  }
  return lost;
}

// ---- Queries ----------------------------------------------------------------------------

const DisplayGroup* SwitcherModel::display(int index) const {
  const auto& displays = workspace().displays;
  if (index < 0 || static_cast<std::size_t>(index) >= displays.size()) return nullptr;
  return &displays[static_cast<std::size_t>(index)];
}

std::optional<std::string> SwitcherModel::selectedID(int d) const {
  if (auto it = selection().find(d); it != selection().end()) return it->second;
  const DisplayGroup* g = display(d);
  return g ? g->here : std::nullopt;
}

const Cluster* SwitcherModel::selectedCluster(int d) const {
  const DisplayGroup* g = display(d);
  return g ? tiles::find(*g, selectedID(d)) : nullptr;
}

bool SwitcherModel::isSelected(const std::string& id, int d) const {
  if (d == focused()) return !onTray() && selectedID(d) == id;
  // Other panels show their front tile; what was stepped to there is not drawn.
  const DisplayGroup* g = display(d);
  return g && g->here == id;
}

bool SwitcherModel::picksDesktop(const Cluster& c, int d) const {
  if (!c.screen) return false;
  if (d == focused() && selectedID(d) == c.id) {
    if (auto it = windowPick().find(d); it != windowPick().end()) return it->second == desktopPick;
  }
  return c.lastOnDesktop;
}

std::optional<int> SwitcherModel::targetWindowIndex(const Cluster& c, int d) const {
  if (c.windows.empty() || picksDesktop(c, d)) return std::nullopt;
  const auto count = c.windows.size();
  if (d == focused() && selectedID(d) == c.id) {
    auto it = windowPick().find(d);
    // Compared unsigned, so a negative pick falls back like one past the end.
    if (it != windowPick().end() && static_cast<std::size_t>(static_cast<unsigned>(it->second)) < count) {
      return it->second;
    }
  }
  if (c.lastWindow && *c.lastWindow >= 0 && static_cast<std::size_t>(*c.lastWindow) < count) return c.lastWindow;
  return 0;
}

const WindowInfo* SwitcherModel::targetWindow(int d) const {
  const Cluster* c = selectedCluster(d);
  if (!c) return nullptr;
  const auto i = targetWindowIndex(*c, d);
  return i ? &c->windows[static_cast<std::size_t>(*i)] : nullptr;
}

const WindowInfo* SwitcherModel::focusedTarget() const { return onTray() ? nullptr : targetWindow(focused()); }

bool SwitcherModel::landsOnDesktop(int d) const {
  if (onTray() && d == focused()) return false;
  const Cluster* c = selectedCluster(d);
  if (!c) return false;
  return c->isDesktop() || picksDesktop(*c, d);
}

const AppInfo* SwitcherModel::selectedTrayApp() const {
  if (!onTray()) return nullptr;
  for (const AppInfo& app : workspace().tray) {
    if (app.id == traySelection()) return &app;
  }
  return nullptr;
}

bool SwitcherModel::trayIsJustFinder() const {
  return std::all_of(workspace().tray.begin(), workspace().tray.end(),
                     [](const AppInfo& a) { return a.app.bundleIdentifier() == kFileManager; });
}

std::set<int> SwitcherModel::touched() const {
  std::set<int> displays;
  for (const auto& entry : selection()) displays.insert(entry.first);
  for (const auto& entry : windowPick()) displays.insert(entry.first);
  return displays;
}

// ---- Focus and pointer selection --------------------------------------------------------

void SwitcherModel::focus(int d) {
  if (d == focused() || !display(d)) return;
  focused.set(d);
  // The tray belongs to the focused display, unless a ⌘⌃⇥ session holds ⌃ down.
  if (onTray() && !controlHeld_) setOnTray(false);
}

void SwitcherModel::focusNextDisplay() {
  const int n = static_cast<int>(workspace().displays.size());
  if (n < 2) return;
  focused.set(((focused() + 1) % n + n) % n);
  if (onTray() && !controlHeld_) setOnTray(false);
}

void SwitcherModel::select(const std::string& id, int d) {
  auto it = selection().find(d);
  if (it == selection().end() || it->second != id) {
    setSelection(d, id);
    erasePick(d);
  }
  if (onTray() && d == focused()) setOnTray(false);
}

void SwitcherModel::select(const TileID& tile, int d) {
  focus(d);
  switch (tile.kind()) {
    case TileID::Kind::cluster:
      select(tile.clusterID(), d);
      break;
    case TileID::Kind::tray:
      setOnTray(true);
      setTraySelection(tile.pid());
      break;
    case TileID::Kind::window:
      select(tile.clusterID(), d);
      setPick(d, tile.index());
      break;
    case TileID::Kind::name:
    case TileID::Kind::resetName:
      break;
  }
}

void SwitcherModel::selectName(const std::string& id, int d) {
  focus(d);
  if (isSelected(id, d)) return;
  const DisplayGroup* g = display(d);
  if (!g) return;
  const Cluster* c = tiles::find(*g, id);
  if (!c) return;
  // The name of a whole-Space tile belongs to its desktop.
  const bool desktop = c->screen && !c->fullScreen;
  select(id, d);
  if (desktop) setPick(d, desktopPick);
}

// ---- Writes that announce only a real change ----------------------------------------------

void SwitcherModel::setOnTray(bool value) { onTray.set(value); }

void SwitcherModel::setTraySelection(std::optional<std::int32_t> pid) { traySelection.set(pid); }

void SwitcherModel::setSelection(int d, const std::string& id) {
  auto it = selection().find(d);
  if (it != selection().end() && it->second == id) return;
  selection.modify([&](auto& s) { s[d] = id; });
}

void SwitcherModel::eraseSelection(int d) {
  if (selection().count(d)) selection.modify([d](auto& s) { s.erase(d); });
}

void SwitcherModel::setPick(int d, int pick) {
  auto it = windowPick().find(d);
  if (it != windowPick().end() && it->second == pick) return;
  windowPick.modify([&](auto& p) { p[d] = pick; });
}

void SwitcherModel::erasePick(int d) {
  if (windowPick().count(d)) windowPick.modify([d](auto& p) { p.erase(d); });
}

void SwitcherModel::takeStop(const std::string& cluster, int window) {
  setSelection(focused(), cluster);
  setPick(focused(), window);
  setOnTray(false);
}

}  // namespace trelliq
