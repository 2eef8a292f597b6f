// Stepping through windows: inside a tile, across the tiles of the focused display, back
// to the most recent one, between a whole-Space tile's window and its desktop, and over
// the stops of an app-windows session.

#include <algorithm>

#include "switcher/model/SwitcherModel.h"
#include "switcher/model/TileList.h"
#include "switcher/model/TileStops.h"
#include "workspace/Recency.h"

namespace trelliq {

namespace {

template <class T>
std::optional<std::size_t> positionOf(const std::vector<int>& stops, const std::optional<T>& value) {
  if (!value) return std::nullopt;
  auto it = std::find(stops.begin(), stops.end(), *value);
  if (it == stops.end()) return std::nullopt;
  return static_cast<std::size_t>(it - stops.begin());
}

}  // namespace

std::vector<int> SwitcherModel::cycleStops(const Cluster& c, int d) const {
  std::vector<int> s = TileStops::windowStops(c);
  if (!c.screen || c.fullScreen || std::find(s.begin(), s.end(), desktopPick) != s.end()) return s;
  const DisplayGroup* g = display(d);
  if (!g) return s;
  const bool front = g->here == c.id && c.lastOnDesktop;
  const std::size_t n = tiles::count(*g);
  if ((n != 1 && front) || (n == 1 && (front || s.size() == 1))) s.insert(s.begin(), desktopPick);
  return s;
}

void SwitcherModel::stepWindow(int delta) {
  if (onTray()) return;
  const Cluster* c = selectedCluster(focused());
  if (!c) return;
  const int n = static_cast<int>(c->windows.size());
  const std::optional<int> current =
      picksDesktop(*c, focused()) ? std::optional(desktopPick) : targetWindowIndex(*c, focused());
  int next;
  if (current && *current >= 0 && *current < n) {
    if (n < 2) return;
    next = static_cast<int>(tiles::wrap(*current, delta, static_cast<std::size_t>(n)));
  } else {
    if (n == 0) return;
    next = delta >= 1 ? 0 : n - 1;
  }
  const std::string id = c->id;
  setSelection(focused(), id);
  setPick(focused(), next);
}

void SwitcherModel::stepWindowAcross(int delta) {
  const int f = focused();
  const DisplayGroup* g = display(f);
  if (!g || tiles::count(*g) == 0) {
    stepCluster(delta);
    return;
  }
  if (onTray()) {
    stepTray(delta);
    return;
  }
  const auto list = tiles::of(*g);
  const std::size_t n = list.size();
  const auto i = tiles::indexOf(list, selectedID(f));

  std::size_t j;
  if (!i) {
    j = delta < 1 ? n - 1 : 0;
  } else {
    const Cluster& c = *list[*i];
    const std::vector<int> s = cycleStops(c, f);
    const std::optional<int> current = picksDesktop(c, f) ? std::optional(desktopPick) : targetWindowIndex(c, f);
    if (const auto p = positionOf(s, current)) {
      const auto q = static_cast<std::ptrdiff_t>(*p) + delta;
      if (q >= 0 && q < static_cast<std::ptrdiff_t>(s.size())) {
        const std::string id = c.id;
        setSelection(f, id);
        setPick(f, s[static_cast<std::size_t>(q)]);
        return;
      }
    } else if (!s.empty()) {
      const std::string id = c.id;
      setSelection(f, id);
      setPick(f, delta >= 1 ? s.front() : s.back());
      return;
    }
    j = tiles::wrap(static_cast<std::ptrdiff_t>(*i), delta, n);
  }

  const Cluster& t = *list[j];
  select(t.id, f);
  if (t.screen) {
    const std::vector<int> stops = cycleStops(t, f);
    if (stops.empty()) {
      erasePick(f);
    } else {
      setPick(f, delta >= 1 ? stops.front() : stops.back());
    }
  }
}

void SwitcherModel::stepBackWindow() {
  const int f = focused();
  const DisplayGroup* g = display(f);
  if (!g) {
    stepWindowAcross(1);
    return;
  }
  const Recency& recency = Recency::shared();
  const Cluster* front = tiles::find(*g, g->here);
  std::optional<int> frontPick;
  if (front) frontPick = picksDesktop(*front, f) ? std::optional(desktopPick) : targetWindowIndex(*front, f);

  const Cluster* bestTile = nullptr;
  std::optional<int> bestPick;
  std::uint64_t bestStamp = 0;
  auto consider = [&](const Cluster& c, std::optional<int> pick, std::uint64_t stamp) {
    if (stamp <= bestStamp) return;
    if (&c == front && pick == frontPick) return;  // the stop the user is on
    bestTile = &c;
    bestPick = pick;
    bestStamp = stamp;
  };
  for (const SpaceGroup& group : g->spaces) {
    for (const Cluster& c : group.clusters) {
      if (c.isDesktop()) {
        consider(c, std::nullopt, recency.desktopStamp(c.space));
        continue;
      }
      for (std::size_t i = 0; i < c.windows.size(); ++i) {
        if (!c.windows[i].minimized) consider(c, static_cast<int>(i), recency.stamp(c.windows[i].windowID));
      }
      if (c.screen && !c.fullScreen) consider(c, desktopPick, recency.desktopStamp(c.space));
    }
  }
  if (!bestTile) {
    stepWindowAcross(1);
    return;
  }
  const std::string id = bestTile->id;
  select(id, f);
  if (bestPick) {
    setPick(f, *bestPick);
  } else {
    erasePick(f);
  }
}

void SwitcherModel::toggleDesktop() {
  if (onTray()) return;
  const int f = focused();
  const Cluster* c = selectedCluster(f);
  if (!c || !c->screen || c->fullScreen) return;
  const std::vector<int> s = TileStops::windowStops(*c);
  if (s.size() == 1 && s.front() == desktopPick) return;

  const std::string id = c->id;
  if (!picksDesktop(*c, f)) {
    if (const auto i = targetWindowIndex(*c, f)) {
      windowOffDesktop_ = WindowOffDesktop{id, *i, c->windows[static_cast<std::size_t>(*i)].windowID};
    } else {
      windowOffDesktop_.reset();
    }
    setSelection(f, id);
    setPick(f, desktopPick);
    return;
  }

  // Back from the desktop: the window left, found by its number when it has one (a
  // removal may have shifted the indices), else the tile's last window, else the first stop.
  std::vector<int> candidates;
  if (windowOffDesktop_ && windowOffDesktop_->cluster == id) {
    if (windowOffDesktop_->number) {
      for (std::size_t i = 0; i < c->windows.size(); ++i) {
        if (c->windows[i].windowID == windowOffDesktop_->number) {
          candidates.push_back(static_cast<int>(i));
          break;
        }
      }
    } else {
      candidates.push_back(windowOffDesktop_->window);
    }
  }
  if (c->lastWindow) candidates.push_back(*c->lastWindow);
  int pick = s.front();
  for (int candidate : candidates) {
    if (std::find(s.begin(), s.end(), candidate) != s.end()) {
      pick = candidate;
      break;
    }
  }
  setSelection(f, id);
  setPick(f, pick);
}

void SwitcherModel::pickWindow(int number) {
  if (onTray()) return;
  const Cluster* c = selectedCluster(focused());
  if (!c) return;
  const int n = static_cast<int>(c->windows.size());
  if (n < 2 || number < 1 || number > n) return;
  const std::string id = c->id;
  setSelection(focused(), id);
  setPick(focused(), number - 1);
}

std::vector<AppWindowStop> SwitcherModel::appWindowStops(int d) const {
  const DisplayGroup* g = display(d);
  return g ? appWindowStops(*g, workspace().appDesktops) : std::vector<AppWindowStop>{};
}

std::vector<AppWindowStop> SwitcherModel::appWindowStops(const DisplayGroup& display,
                                                         const std::set<std::int64_t>& desktops,
                                                         const Recency& recency) {
  std::vector<AppWindowStop> stops;
  for (const SpaceGroup& group : display.spaces) {
    const bool desktopsHere = desktops.count(group.id) != 0;
    for (const Cluster& c : group.clusters) {
      if (c.isDesktop() || (desktopsHere && c.screen && !c.fullScreen)) {
        stops.push_back({c.id, desktopPick, recency.desktopStamp(c.space)});
      }
      for (std::size_t i = 0; i < c.windows.size(); ++i) {
        if (!c.windows[i].minimized) stops.push_back({c.id, static_cast<int>(i), recency.stamp(c.windows[i].windowID)});
      }
    }
  }
  return stops;
}

void SwitcherModel::stepAppWindow(int delta) {
  const int f = focused();
  const std::vector<AppWindowStop> stops = appWindowStops(f);
  if (stops.empty()) return;
  std::optional<std::size_t> p;
  if (const Cluster* c = selectedCluster(f)) {
    const std::optional<int> current =
        c->isDesktop() || picksDesktop(*c, f) ? std::optional(desktopPick) : targetWindowIndex(*c, f);
    for (std::size_t i = 0; i < stops.size() && current; ++i) {
      if (stops[i].cluster == c->id && stops[i].window == *current) {
        p = i;
        break;
      }
    }
  }
  const std::size_t j =
      p ? tiles::wrap(static_cast<std::ptrdiff_t>(*p), delta, stops.size()) : (delta >= 1 ? 0 : stops.size() - 1);
  takeStop(stops[j].cluster, stops[j].window);
}

void SwitcherModel::stepBackAppWindow() {
  std::vector<AppWindowStop> used = appWindowStops(focused());
  std::erase_if(used, [](const AppWindowStop& s) { return s.stamp == 0; });
  std::stable_sort(used.begin(), used.end(),
                   [](const AppWindowStop& a, const AppWindowStop& b) { return a.stamp > b.stamp; });
  if (used.size() >= 2) {
    // used[0] is the window the user is on.
    takeStop(used[1].cluster, used[1].window);
  } else if (used.size() == 1) {
    takeStop(used[0].cluster, used[0].window);
    stepAppWindow(1);
  } else {
    stepAppWindow(1);
  }
}

}  // namespace trelliq
