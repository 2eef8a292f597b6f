// What a running session does on the main thread besides steering: showing the panels and
// looking at the screen again, window and desktop pictures, and renaming desktops in place.

#include <algorithm>
#include <set>
#include <utility>

#include "platform/AppKitWindows.h"
#include "platform/CoreGraphics.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"
#include "switcher/Thumbnails.h"
#include "switcher/model/Metrics.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
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

// ---- Showing and refreshing ----------------------------------------------------------------

Workspace Switcher::loadWorkspace() const {
  if (!appPID) return Workspace::load(Settings::desktops(), clusterTiles);
  // The file manager's windows come with its desktops, so they must all be loaded first.
  const Settings::Desktops desktops =
      appDesktops ? Settings::Desktops(Settings::Desktops::always) : Settings::desktops();
  return Workspace::load(desktops, clusterTiles).only(*appPID, appDesktops);
}

void Switcher::show() {
  if (!active) return;
  shown = true;
  panels_.showPanels(preview_.window());
  ghost_.updateGhost();
  placePreview();
  platform::mainQueue().asyncAfter(SwitcherTiming::checkPanelsDelay, [weak = weak()] {
    if (auto self = weak.lock()) self->checkPanels();
  });
  for (const double delay : SwitcherTiming::lookAgainDelays) {
    platform::mainQueue().asyncAfter(delay, [weak = weak(), current = session] {
      if (auto self = weak.lock()) self->lookAgain(current);
    });
  }
}

bool Switcher::capturesThumbnails() const {
  if (Settings::showThumbnails()) return true;
  return clusterTiles && CGPreflightScreenCaptureAccess();
}

void Switcher::refreshThumbnails() {
  const Workspace& workspace = model.workspace();
  std::vector<std::uint32_t> ids;
  for (const WindowInfo& w : workspace.windows()) {
    if (w.windowID) ids.push_back(*w.windowID);
  }
  const std::set<std::uint32_t> present(ids.begin(), ids.end());
  auto kept = model.thumbnails();
  std::erase_if(kept, [&](const auto& entry) { return !present.count(entry.first); });
  model.thumbnails.set(std::move(kept));
  model.pictureKeeping.keepOnly(present);

  // The order the user looks: the selected window, its tile's other windows, the rest.
  std::vector<std::uint32_t> order;
  std::set<std::uint32_t> queued;
  auto add = [&](std::uint32_t number) {
    if (queued.insert(number).second) order.push_back(number);
  };
  if (const WindowInfo* target = model.focusedTarget(); target && target->windowID) add(*target->windowID);
  std::set<std::uint32_t> inSelected;
  if (const Cluster* selected = model.selectedCluster(model.focused())) {
    for (const WindowInfo& w : selected->windows) {
      if (!w.windowID) continue;
      inSelected.insert(*w.windowID);
      add(*w.windowID);
    }
  }
  for (const std::uint32_t number : ids) {
    if (!inSelected.count(number)) add(number);
  }
  // Worth keeping first, when not every picture can be kept: the selection's, then the
  // window each tile's preview would show, then the capture order.
  std::vector<std::uint32_t> worth;
  if (!order.empty()) worth.push_back(order.front());
  const auto& displays = model.workspace().displays;
  for (std::size_t d = 0; d < displays.size(); ++d) {
    for (const Cluster& c : displays[d].clusters()) {
      if (const auto i = model.targetWindowIndex(c, static_cast<int>(d))) {
        if (const auto number = c.windows[static_cast<std::size_t>(*i)].windowID) worth.push_back(*number);
      }
    }
  }
  worth.insert(worth.end(), order.begin(), order.end());
  capturePictures(order, worth);
}

void Switcher::capturePictures(const std::vector<std::uint32_t>& order, const std::vector<std::uint32_t>& worth) {
  // A window not drawn yet may become the preview's: its picture is kept at that size.
  double scale = 1;
  for (const DisplayGroup& d : model.workspace().displays) scale = std::max(scale, d.screen.backingScaleFactor());
  std::map<std::uint32_t, CGSize> unseen;
  for (const WindowInfo& w : model.workspace().windows()) {
    if (!w.windowID) continue;
    const CGSize drawn = PreviewPanel::pictureSize(w.bounds ? w.bounds->size : Metrics::previewBox);
    unseen[*w.windowID] = {drawn.width * scale, drawn.height * scale};
  }
  const CGSize box{Metrics::previewBox.width * scale, Metrics::previewBox.height * scale};
  const auto previewSize = [&](std::uint32_t window) {
    const auto found = unseen.find(window);
    return found == unseen.end() ? box : found->second;
  };
  Thumbnails::Sizes sizes = model.pictureKeeping.plan(worth, previewSize);
  for (auto& [window, size] : sizes) {
    // Only pictures drawn smaller than the preview draws them are taken smaller: the
    // preview sizes its glass by the picture's proportions, which scaling shifts a little.
    const CGSize preview = previewSize(window);
    if (size.width > preview.width * 0.8 || size.height > preview.height * 0.8) size = Thumbnails::largest;
  }
  Thumbnails::capture(
      order,
      [weak = weak()](std::uint32_t window, CGImageRef picture) {
        if (auto self = weak.lock()) self->thumbnailArrived(window, std::move(picture));
      },
      std::move(sizes), model.thumbnails());
}

void Switcher::schedulePictureKeeping() {
  if (keepingScheduled) return;
  if (!weak().lock()) return;  // not owned by a shared pointer (being built or torn down)
  keepingScheduled = true;
  platform::mainQueue().async([weak = weak()] {
    auto self = weak.lock();
    if (!self) return;
    self->keepingScheduled = false;
    self->keepPictures();
  });
}

void Switcher::keepPictures() {
  PictureKeeping& keeping = model.pictureKeeping;
  const std::vector<std::uint32_t> over = keeping.overBudget(model.thumbnails());
  if (!over.empty()) {
    keeping.gaveUp(over);
    model.thumbnails.modify([&](auto& pictures) {
      for (const std::uint32_t window : over) pictures.erase(window);
    });
  }
  if (!active || !capturesThumbnails()) return;
  const std::vector<std::uint32_t> again = keeping.wantedAgain(model.thumbnails());
  if (!again.empty()) capturePictures(again, again);
}

void Switcher::thumbnailArrived(std::uint32_t window, CGImageRef picture) {
  if (model.transitioning.count(window)) {
    // The picture of a window moving in or out of full screen waits for the move to end.
    if (!fullScreen_.pending()) endTransition(window, std::move(picture));
    return;
  }
  // Pictures come one by one, often many in a frame: each change of the model lays out
  // every panel that draws one, so a frame's pictures go in together.
  arrivedPictures[window] = std::move(picture);
  if (picturesScheduled) return;
  picturesScheduled = true;
  const double wait =
      std::max(0.0, picturesApplied + SwitcherTiming::pictureFrame - platform::clock().monotonicSeconds());
  platform::mainQueue().asyncAfter(wait, [weak = weak()] {
    if (auto self = weak.lock()) self->applyArrivedPictures();
  });
}

void Switcher::applyArrivedPictures() {
  picturesScheduled = false;
  picturesApplied = platform::clock().monotonicSeconds();
  std::map<std::uint32_t, CGImageRef> arrived = std::exchange(arrivedPictures, {});
  // A window may have started moving into or out of full screen while its picture waited.
  for (auto it = arrived.begin(); it != arrived.end();) {
    if (!model.transitioning.count(it->first)) {
      ++it;
      continue;
    }
    if (!fullScreen_.pending()) endTransition(it->first, it->second);
    it = arrived.erase(it);
  }
  if (arrived.empty()) return;
  // A picture replacing one is the same node in the panels' trees and does not animate, so
  // new and replacing pictures share the fade of the new ones.
  const auto& kept = model.thumbnails();
  const bool anyNew = std::any_of(arrived.begin(), arrived.end(), [&](const auto& p) { return !kept.count(p.first); });
  auto store = [&] {
    model.thumbnails.modify([&](auto& pictures) {
      for (auto& [window, picture] : arrived) pictures[window] = std::move(picture);
    });
  };
  if (anyNew) {
    model.animating(Animation::pictureFade(), store);
  } else {
    store();
  }
  keepPictures();
}

void Switcher::refreshWallpapers() {
  std::set<std::int64_t> spaces;
  for (const DisplayGroup& d : model.workspace().displays) {
    for (const SpaceGroup& group : d.spaces) {
      for (const Cluster& c : group.clusters) {
        if ((c.isDesktop() || c.screen) && !c.fullScreen) spaces.insert(c.space);
      }
    }
  }
  if (spaces.empty() || !CGPreflightScreenCaptureAccess()) return;
  Thumbnails::queue().async([weak = weak(), spaces, held = model.wallpapers()] {
    for (const auto& [space, window] : Private::wallpaperWindows(spaces)) {
      const CGImageRef captured = Private::capture(window, false);
      if (!captured) continue;
      CGImageRef picture = Thumbnails::downscale(captured);
      if (!picture) continue;
      if (const auto kept = held.find(space); kept != held.end()) picture = Thumbnails::heldIfSame(kept->second, picture);
      platform::mainQueue().async([weak, space, picture = std::move(picture)] {
        auto self = weak.lock();
        if (!self) return;
        self->model.wallpapers.modify([&](auto& pictures) { pictures[space] = picture; });
      });
    }
  });
}

void Switcher::lookAgain(int current) {
  // An edit field or a window moving into full screen must not be rebuilt under the user.
  if (!active || current != session || fullScreen_.pending() || isRenaming()) return;
  Workspace fresh = loadWorkspace();
  if (fresh.shape() == model.workspace().shape()) return;
  model.animating(removal, [&] { model.refresh(std::move(fresh)); });
  wallpaperNewDesktops();
  if (capturesThumbnails()) refreshThumbnails();
}

void Switcher::wallpaperNewDesktops() {
  for (const DisplayGroup& d : model.workspace().displays) {
    for (const SpaceGroup& group : d.spaces) {
      for (const Cluster& c : group.clusters) {
        if (c.isDesktop() && !model.wallpapers().count(c.space)) {
          refreshWallpapers();
          return;
        }
      }
    }
  }
}

void Switcher::endTransition(std::uint32_t window, CGImageRef picture) {
  if (!model.transitioning.count(window)) return;
  if (picture) model.thumbnails.modify([&](auto& pictures) { pictures[window] = std::move(picture); });
  model.transitioning.erase(window);
}

std::optional<AppInfo> Switcher::selectedApp() const {
  const int focused = model.focused();
  if (model.landsOnDesktop(focused)) return std::nullopt;
  if (const AppInfo* tray = model.selectedTrayApp()) return *tray;
  if (const Cluster* c = model.selectedCluster(focused)) {
    if (const AppInfo* app = c->app(model.targetWindow(focused))) return *app;
  }
  return std::nullopt;
}

// ---- Renaming desktops -----------------------------------------------------------------------

void Switcher::startRenaming(const std::string& id, int display) {
  if (!shown || display < 0 || static_cast<std::size_t>(display) >= panels_.count()) return;
  if (!model.display(display)) return;
  const auto [cluster, found] = findCluster(model.workspace(), id, display);
  if (!cluster || found != display) return;
  const TileLabel label = model.label(*cluster, display, true);
  if (!label.key) return;
  // One locked step, so the tap never sees the session closed and not renaming.
  if (!gate_.lockForRenaming(sessionGeneration)) return;

  // The edit ends with this display's label and key even if the focus moves meanwhile.
  renamingDisplay = display;
  model.hoveredName.set(std::nullopt);
  model.nameDraft.set(label.name);
  model.renamingKey = label.key;
  DisplayPanel& p = panels_.panel(display);
  p.window->setTakesKeys(true);
  p.window->makeKeyWindow();
  model.renaming.set(id);
  if (p.view) p.view->focusNameField();
}

void Switcher::finishRenaming(bool save, bool dismissing) {
  if (!active || !model.renaming()) return;
  const std::string edited = *model.renaming();
  const int display = renamingDisplay.value_or(model.focused());

  if (save && model.renamingKey) {
    const auto [cluster, found] = findCluster(model.workspace(), edited, display);
    if (cluster) {
      std::string name = SpaceNames::trimmed(model.nameDraft());
      // Typing the usual label back means "no name of my own".
      if (name == model.label(*cluster, found, true).usual) name.clear();
      const std::string key = *model.renamingKey;
      SpaceNames::set(name, key);
      model.setName(name.empty() ? std::nullopt : std::optional(name), key);
    }
  }
  model.renaming.set(std::nullopt);

  if (!dismissing) {
    panels_.setTakesKeys(false);
    const OpenState state = gate_.openState();
    const bool holdingHeld = (tap_.lastFlags() & state.holding) == state.holding;
    gate_.unlockAfterRenaming(holdingHeld ? Holding::held : Holding::released, sessionGeneration);
    renamingDisplay.reset();
    return;
  }
  model.justNamed.set(edited);
  platform::mainQueue().asyncAfter(SwitcherTiming::renameSettle, [weak = weak(), edited] {
    auto self = weak.lock();
    if (!self || !self->active || self->model.justNamed() != std::optional(edited)) return;
    self->cancel(false);
  });
}

void Switcher::resetName(const std::string& id) {
  const auto [cluster, found] = findCluster(model.workspace(), id);
  if (!cluster) return;
  // The label of the display the tile is on: the one whose reset button was clicked.
  const std::optional<std::string> key = model.label(*cluster, found, true).key;
  if (!key) return;
  SpaceNames::set("", *key);
  model.setName(std::nullopt, *key);
}

}  // namespace trelliq
