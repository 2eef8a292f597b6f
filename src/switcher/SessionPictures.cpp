// The pictures a session shows: which windows are captured first and at what size, how a
// frame's arrivals go into the model together, the budget they are kept in, the desktop
// pictures, and the end of a full-screen transition.

#include "switcher/SessionPictures.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <utility>

#include "platform/Clock.h"
#include "platform/CoreGraphics.h"
#include "settings/Settings.h"
#include "switcher/FullScreenFollower.h"
#include "switcher/PreviewPanel.h"
#include "switcher/Session.h"
#include "switcher/SwitcherTiming.h"
#include "switcher/Thumbnails.h"
#include "switcher/model/Metrics.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

/// An arriving picture is scaled down only when that takes it below this share of its
/// sides: a little larger than drawn, it samples about as cheaply.
constexpr double kWorthScaling = 0.8;

}  // namespace

SessionPictures::SessionPictures(SwitcherModel& model, const Session& session, const FullScreenFollower& fullScreen)
    : model_(model), session_(session), fullScreen_(fullScreen) {}

bool SessionPictures::capturesThumbnails() const {
  if (Settings::showThumbnails()) return true;
  return session_.screenTiles() && CGPreflightScreenCaptureAccess();
}

void SessionPictures::refreshThumbnails() {
  const Workspace& workspace = model_.workspace();
  std::vector<std::uint32_t> ids;
  for (const WindowInfo& w : workspace.windows()) {
    if (w.windowID) ids.push_back(*w.windowID);
  }
  const std::set<std::uint32_t> present(ids.begin(), ids.end());
  auto kept = model_.thumbnails();
  std::erase_if(kept, [&](const auto& entry) { return !present.count(entry.first); });
  model_.thumbnails.set(std::move(kept));
  model_.pictureKeeping().keepOnly(present);

  // The order the user looks: the selected window, its tile's other windows, the rest.
  std::vector<std::uint32_t> order;
  std::set<std::uint32_t> queued;
  auto add = [&](std::uint32_t number) {
    if (queued.insert(number).second) order.push_back(number);
  };
  if (const WindowInfo* target = model_.focusedTarget(); target && target->windowID) add(*target->windowID);
  std::set<std::uint32_t> inSelected;
  if (const Cluster* selected = model_.selectedCluster(model_.focused())) {
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
  const auto& displays = model_.workspace().displays;
  for (std::size_t d = 0; d < displays.size(); ++d) {
    for (const Cluster& c : displays[d].clusters()) {
      if (const auto i = model_.targetWindowIndex(c, static_cast<int>(d))) {
        if (const auto number = c.windows[static_cast<std::size_t>(*i)].windowID) worth.push_back(*number);
      }
    }
  }
  worth.insert(worth.end(), order.begin(), order.end());
  capturePictures(order, worth);
}

void SessionPictures::capturePictures(const std::vector<std::uint32_t>& order,
                                      const std::vector<std::uint32_t>& worth) {
  // A window not drawn yet may become the preview's: its picture is kept at that size.
  double scale = 1;
  for (const DisplayGroup& d : model_.workspace().displays) scale = std::max(scale, d.screen.backingScaleFactor());
  const std::map<std::uint32_t, CGSize> unseen = previewSizes(worth, scale);
  const CGSize box{Metrics::previewBox.width * scale, Metrics::previewBox.height * scale};
  const auto previewSize = [&](std::uint32_t window) {
    const auto found = unseen.find(window);
    return found == unseen.end() ? box : found->second;
  };
  Thumbnails::Sizes sizes = model_.pictureKeeping().plan(worth, previewSize);
  for (auto& [window, size] : sizes) {
    // Only pictures drawn smaller than the preview draws them are taken smaller: the
    // preview sizes its glass by the picture's proportions, which scaling shifts a little.
    const CGSize preview = previewSize(window);
    if (size.width > preview.width * 0.8 || size.height > preview.height * 0.8) size = Thumbnails::largest;
  }
  // Only the pictures of the windows taken are compared with what comes.
  Thumbnails::Held held;
  for (const auto& [window, size] : sizes) {
    if (const auto kept = model_.thumbnails().find(window); kept != model_.thumbnails().end()) held.insert(*kept);
  }
  Thumbnails::capture(
      order,
      [this, life = life_.watch()](std::uint32_t window, CGImageRef picture) {
        if (!life.expired()) thumbnailArrived(window, std::move(picture));
      },
      std::move(sizes), std::move(held));
}

std::map<std::uint32_t, CGSize> SessionPictures::previewSizes(const std::vector<std::uint32_t>& windows,
                                                              double scale) const {
  const std::unordered_set<std::uint32_t> asked(windows.begin(), windows.end());
  std::map<std::uint32_t, CGSize> sizes;
  model_.workspace().forEachWindow([&](const WindowInfo& w) {
    if (!w.windowID || !asked.count(*w.windowID)) return;
    const CGSize drawn = PreviewPanel::pictureSize(w.bounds ? w.bounds->size : Metrics::previewBox);
    sizes[*w.windowID] = {drawn.width * scale, drawn.height * scale};
  });
  return sizes;
}

void SessionPictures::schedulePictureKeeping() {
  if (keepingScheduled) return;
  keepingScheduled = true;
  platform::mainQueue().async([this, life = life_.watch()] {
    if (life.expired()) return;
    keepingScheduled = false;
    keepPictures();
  });
}

void SessionPictures::keepPictures() {
  PictureKeeping& keeping = model_.pictureKeeping();
  const std::vector<std::uint32_t> over = keeping.overBudget(model_.thumbnails());
  if (!over.empty()) {
    keeping.gaveUp(over);
    model_.thumbnails.modify([&](auto& pictures) {
      for (const std::uint32_t window : over) pictures.erase(window);
    });
  }
  if (!session_.isActive() || !capturesThumbnails()) return;
  const std::vector<std::uint32_t> again = keeping.wantedAgain(model_.thumbnails());
  if (!again.empty()) capturePictures(again, again);
}

void SessionPictures::thumbnailArrived(std::uint32_t window, CGImageRef picture) {
  if (model_.transitioning().count(window)) {
    // The picture of a window moving in or out of full screen waits for the move to end.
    // One taken before the move and still being scaled or waiting for its frame must not
    // come back after this one and put the old look back.
    latestArrival_.erase(window);
    arrivedPictures.erase(window);
    if (!fullScreen_.pending()) endTransition(window, std::move(picture));
    return;
  }
  const std::uint64_t arrival = ++arrivals_;
  latestArrival_[window] = arrival;
  if (const std::optional<CGSize> drawn = oversized(window, picture)) {
    // Drawn much smaller than it came (taken before anything drew it): scaled down to that
    // off the main thread, so that drawing it, often a hundred in a frame, samples a small
    // picture. Picture keeping takes it again should something draw it larger.
    model_.pictureKeeping().keptAt(window, *drawn);
    Thumbnails::queue().async([this, life = life_.watch(), window, arrival, picture, size = *drawn] {
      CGImageRef small = Thumbnails::downscale(picture, size);
      platform::mainQueue().async([this, life, window, arrival, small = small ? std::move(small) : picture] {
        if (!life.expired()) collect(window, arrival, small);
      });
    });
    return;
  }
  collect(window, arrival, std::move(picture));
}

std::optional<CGSize> SessionPictures::oversized(std::uint32_t window, const CGImageRef& picture) const {
  const PictureKeeping& keeping = model_.pictureKeeping();
  if (!picture || !keeping.drawnNow(window)) return std::nullopt;
  const CGSize drawn = keeping.wanted(window, {});
  if (drawn.width <= 0 || drawn.height <= 0) return std::nullopt;
  const double scale = std::max(drawn.width / picture->width(), drawn.height / picture->height());
  return scale < kWorthScaling ? std::optional(drawn) : std::nullopt;
}

void SessionPictures::collect(std::uint32_t window, std::uint64_t arrival, CGImageRef picture) {
  // A later picture of the window came while this one was being scaled: that one holds.
  const auto latest = latestArrival_.find(window);
  if (latest == latestArrival_.end() || latest->second != arrival) return;
  latestArrival_.erase(latest);
  // Pictures come one by one, often many in a frame: each change of the model lays out
  // every panel that draws one, so a frame's pictures go in together.
  arrivedPictures[window] = std::move(picture);
  if (picturesScheduled) return;
  picturesScheduled = true;
  const double wait =
      std::max(0.0, picturesApplied + SwitcherTiming::pictureFrame - platform::clock().monotonicSeconds());
  platform::mainQueue().asyncAfter(wait, [this, life = life_.watch()] {
    if (!life.expired()) applyArrivedPictures();
  });
}

void SessionPictures::applyArrivedPictures() {
  picturesScheduled = false;
  picturesApplied = platform::clock().monotonicSeconds();
  std::map<std::uint32_t, CGImageRef> arrived = std::exchange(arrivedPictures, {});
  // A window may have started moving into or out of full screen while its picture waited.
  for (auto it = arrived.begin(); it != arrived.end();) {
    if (!model_.transitioning().count(it->first)) {
      ++it;
      continue;
    }
    if (!fullScreen_.pending()) endTransition(it->first, it->second);
    it = arrived.erase(it);
  }
  if (arrived.empty()) return;
  // A picture replacing one is the same node in the panels' trees and does not animate, so
  // new and replacing pictures share the fade of the new ones.
  const auto& kept = model_.thumbnails();
  const bool anyNew = std::any_of(arrived.begin(), arrived.end(), [&](const auto& p) { return !kept.count(p.first); });
  auto store = [&] {
    model_.thumbnails.modify([&](auto& pictures) {
      for (auto& [window, picture] : arrived) pictures[window] = std::move(picture);
    });
  };
  if (anyNew) {
    model_.animating(Animation::pictureFade(), store);
  } else {
    store();
  }
  keepPictures();
}

void SessionPictures::refreshWallpapers() {
  std::set<std::int64_t> spaces;
  for (const DisplayGroup& d : model_.workspace().displays) {
    for (const SpaceGroup& group : d.spaces) {
      for (const Cluster& c : group.clusters) {
        if ((c.isDesktop() || c.screen) && !c.fullScreen) spaces.insert(c.space);
      }
    }
  }
  if (spaces.empty() || !CGPreflightScreenCaptureAccess()) return;
  Thumbnails::queue().async([this, life = life_.watch(), spaces, held = model_.wallpapers()] {
    for (const auto& [space, window] : Private::wallpaperWindows(spaces)) {
      const CGImageRef captured = Private::capture(window, false);
      if (!captured) continue;
      CGImageRef picture = Thumbnails::downscale(captured);
      if (!picture) continue;
      if (const auto kept = held.find(space); kept != held.end())
        picture = Thumbnails::heldIfSame(kept->second, picture);
      platform::mainQueue().async([this, life, space, picture = std::move(picture)] {
        if (!life.expired()) model_.wallpapers.modify([&](auto& pictures) { pictures[space] = picture; });
      });
    }
  });
}

void SessionPictures::wallpaperNewDesktops() {
  for (const DisplayGroup& d : model_.workspace().displays) {
    for (const SpaceGroup& group : d.spaces) {
      for (const Cluster& c : group.clusters) {
        if (c.isDesktop() && !model_.wallpapers().count(c.space)) {
          refreshWallpapers();
          return;
        }
      }
    }
  }
}

void SessionPictures::endTransition(std::uint32_t window, CGImageRef picture) {
  if (!model_.transitioning().count(window)) return;
  if (picture) model_.thumbnails.modify([&](auto& pictures) { pictures[window] = std::move(picture); });
  model_.finishTransition(window);
}

}  // namespace trelliq
