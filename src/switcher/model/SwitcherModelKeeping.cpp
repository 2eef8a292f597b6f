// Keeping the selection while the snapshot changes under an open session: a new
// snapshot (`refresh`), a terminated app (`removeApp`) and a closed window (`removeWindow`).

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "switcher/model/SwitcherModel.h"
#include "switcher/model/TileList.h"

namespace trelliq {

namespace {

// An unknown launch date sorts as the distant past.
double launchOrder(const AppInfo& app) {
  return app.app.launchDate().value_or(-std::numeric_limits<double>::infinity());
}

}  // namespace

void SwitcherModel::refresh(Workspace snapshot) {
  // Pin each pick to its window's number, read in the old snapshot.
  std::map<int, std::uint32_t> pinned;
  for (const auto& [d, pick] : windowPick()) {
    const Cluster* c = selectedCluster(d);
    if (!c || pick < 0 || static_cast<std::size_t>(pick) >= c->windows.size()) continue;
    if (auto number = c->windows[static_cast<std::size_t>(pick)].windowID) pinned[d] = *number;
  }

  workspace.set(std::move(snapshot));
  for (int d : lostSelections()) eraseSelection(d);

  std::map<int, int> picks;
  for (const auto& [d, number] : pinned) {
    const Cluster* c = selectedCluster(d);
    if (!c) continue;
    for (std::size_t i = 0; i < c->windows.size(); ++i) {
      if (c->windows[i].windowID == number) {
        picks[d] = static_cast<int>(i);
        break;
      }
    }
  }
  windowPick.set(std::move(picks));

  if (onTray()) {
    const auto& tray = workspace().tray;
    if (tray.empty()) {
      setTraySelection(std::nullopt);
      setOnTray(false);
    } else if (std::none_of(tray.begin(), tray.end(), [&](const AppInfo& a) { return a.id == traySelection(); })) {
      setTraySelection(tray.front().id);
    }
  }
}

void SwitcherModel::keepingSelection(const std::function<void(Workspace&)>& body) {
  std::vector<std::vector<std::string>> orderBefore;
  for (const DisplayGroup& g : workspace().displays) {
    std::vector<std::string> ids;
    for (const Cluster* c : tiles::of(g)) ids.push_back(c->id);
    orderBefore.push_back(std::move(ids));
  }
  struct Picked {
    ValueID window;
    int index;
  };
  std::map<int, Picked> picked;
  for (const auto& [d, pick] : windowPick()) {
    const Cluster* c = selectedCluster(d);
    if (c && pick >= 0 && static_cast<std::size_t>(pick) < c->windows.size()) {
      picked[d] = {c->windows[static_cast<std::size_t>(pick)].id, pick};
    }
  }

  workspace.modify(body);

  const auto& displays = workspace().displays;
  for (std::size_t di = 0; di < displays.size(); ++di) {
    const int d = static_cast<int>(di);
    auto sel = selection().find(d);
    if (sel != selection().end() && !tiles::find(displays[di], sel->second)) {
      // The selected tile vanished: its right-hand neighbour in the old order that is
      // still there, else its left-hand one.
      std::unordered_set<std::string> after;
      for (const Cluster* c : tiles::of(displays[di])) after.insert(c->id);
      static const std::vector<std::string> none;
      const std::vector<std::string>& old = di < orderBefore.size() ? orderBefore[di] : none;
      const auto lost = std::find(old.begin(), old.end(), sel->second);
      const std::ptrdiff_t p = lost == old.end() ? 0 : lost - old.begin();
      std::optional<std::string> replacement;
      for (std::ptrdiff_t i = p + 1; i < static_cast<std::ptrdiff_t>(old.size()) && !replacement; ++i) {
        if (after.count(old[static_cast<std::size_t>(i)])) replacement = old[static_cast<std::size_t>(i)];
      }
      for (std::ptrdiff_t i = p - 1; i >= 0 && !replacement; --i) {
        if (after.count(old[static_cast<std::size_t>(i)])) replacement = old[static_cast<std::size_t>(i)];
      }
      if (replacement) {
        setSelection(d, *replacement);
      } else {
        eraseSelection(d);
      }
      erasePick(d);
      continue;
    }
    auto rec = picked.find(d);
    const Cluster* c = selectedCluster(d);
    if (rec == picked.end() || !c) continue;
    // The picked window by its identity; when it went, the window that moved into its
    // place, else the tile's new last one.
    const auto& windows = c->windows;
    auto same =
        std::find_if(windows.begin(), windows.end(), [&](const WindowInfo& w) { return w.id == rec->second.window; });
    if (same != windows.end()) {
      setPick(d, static_cast<int>(same - windows.begin()));
    } else if (!windows.empty()) {
      setPick(d, std::min(static_cast<int>(windows.size()) - 1, rec->second.index));
    } else {
      erasePick(d);
    }
  }
}

void SwitcherModel::removeApp(std::int32_t pid) {
  const auto& trayBefore = workspace().tray;
  const auto at = std::find_if(trayBefore.begin(), trayBefore.end(), [pid](const AppInfo& a) { return a.id == pid; });
  const bool inTray = at != trayBefore.end();
  const auto index = static_cast<std::size_t>(at - trayBefore.begin());

  keepingSelection([pid](Workspace& w) { w.removeWindows([pid](const WindowInfo& win) { return win.pid == pid; }); });

  if (inTray) {
    workspace.modify([&](Workspace& w) {
      // Removing windows leaves the tray alone, but look the app up again rather than trust the index.
      auto it = std::find_if(w.tray.begin(), w.tray.end(), [pid](const AppInfo& a) { return a.id == pid; });
      if (it != w.tray.end()) w.tray.erase(it);
    });
    const auto& tray = workspace().tray;
    if (traySelection() == pid) {
      setTraySelection(tray.empty() ? std::nullopt : std::optional(tray[std::min(tray.size() - 1, index)].id));
    }
    if (tray.empty()) setOnTray(false);
  }
  if (quitting().count(pid)) quitting.modify([pid](auto& q) { q.erase(pid); });
}

void SwitcherModel::removeWindow(std::uint32_t window) {
  std::optional<AppInfo> owner;
  for (const DisplayGroup& g : workspace().displays) {
    for (const Cluster* c : tiles::of(g)) {
      for (const WindowInfo& w : c->windows) {
        if (w.windowID != window) continue;
        if (const AppInfo* app = c->app(&w)) {
          owner = *app;
          break;
        }
      }
      if (owner) break;
    }
    if (owner) break;
  }

  keepingSelection(
      [window](Workspace& w) { w.removeWindows([window](const WindowInfo& win) { return win.windowID == window; }); });

  if (!owner || owner->accessory || owner->app.isTerminated()) return;
  const std::int32_t pid = owner->id;
  for (const DisplayGroup& g : workspace().displays) {
    for (const SpaceGroup& group : g.spaces) {
      for (const Cluster& c : group.clusters) {
        for (const WindowInfo& w : c.windows) {
          if (w.pid == pid) return;  // it still has a window
        }
      }
    }
  }
  const auto& tray = workspace().tray;
  if (std::any_of(tray.begin(), tray.end(), [pid](const AppInfo& a) { return a.id == pid; })) return;

  AppInfo entry = *owner;
  entry.accessory = false;
  const double launched = launchOrder(entry);
  workspace.modify([&](Workspace& w) {
    auto later =
        std::find_if(w.tray.begin(), w.tray.end(), [&](const AppInfo& a) { return launchOrder(a) > launched; });
    w.tray.insert(later, std::move(entry));
  });
}

}  // namespace trelliq
