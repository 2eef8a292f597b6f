// The pictures a session shows: which windows are captured first and at what size, how a
// frame's arrivals go into the model together, the budget they are kept in, the desktop
// pictures, and the end of a full-screen transition.

#include "switcher/SessionPictures.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
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

/// The size to take a window at for a use of `size` when the preview would draw it at
/// `preview`: only pictures drawn smaller than the preview draws them are taken smaller,
/// since the preview sizes its glass by the picture's proportions, which scaling shifts a
/// little.
CGSize takenFor(CGSize size, CGSize preview) {
  if (size.width > preview.width * 0.8 || size.height > preview.height * 0.8) return Thumbnails::largest;
  return size;
}

}  // namespace

SessionPictures::SessionPictures(SwitcherModel& model, const Session& session, const FullScreenFollower& fullScreen)
    : model_(model), session_(session), fullScreen_(fullScreen) {}

bool SessionPictures::capturesThumbnails() const {
  if (Settings::showThumbnails()) return true;
  return session_.screenTiles() && CGPreflightScreenCaptureAccess();
}

void SessionPictures::refreshThumbnails() {
  const Workspace& workspace = model_.workspace();
  // Every begin comes here with the whole desk: sorted flat lists, not a tree node per window.
  std::vector<std::uint32_t> ids;
  workspace.forEachWindow([&](const WindowInfo& w) {
    if (w.windowID) ids.push_back(*w.windowID);
  });
  std::vector<std::uint32_t> present = ids;
  std::sort(present.begin(), present.end());
  present.erase(std::unique(present.begin(), present.end()), present.end());
  const auto isPresent = [&](std::uint32_t number) {
    return std::binary_search(present.begin(), present.end(), number);
  };
  const auto& thumbnails = model_.thumbnails();
  if (std::any_of(thumbnails.begin(), thumbnails.end(), [&](const auto& entry) { return !isPresent(entry.first); })) {
    model_.thumbnails.modify(
        [&](auto& kept) { std::erase_if(kept, [&](const auto& entry) { return !isPresent(entry.first); }); });
  }
  model_.pictureKeeping().keepOnly(present);

  // The order the user looks: the selected window, its tile's other windows, the rest.
  std::vector<std::uint32_t> order;
  order.reserve(present.size() + 1);
  std::vector<char> queued(present.size(), 0);  // by place in `present`
  std::vector<std::uint32_t> queuedElsewhere;   // a target no tile lists (none, normally)
  auto add = [&](std::uint32_t number) {
    const auto at = std::lower_bound(present.begin(), present.end(), number);
    if (at != present.end() && *at == number) {
      char& flag = queued[static_cast<std::size_t>(at - present.begin())];
      if (flag) return;
      flag = 1;
    } else {
      if (std::find(queuedElsewhere.begin(), queuedElsewhere.end(), number) != queuedElsewhere.end()) return;
      queuedElsewhere.push_back(number);
    }
    order.push_back(number);
  };
  if (const WindowInfo* target = model_.focusedTarget(); target && target->windowID) add(*target->windowID);
  if (const Cluster* selected = model_.selectedCluster(model_.focused())) {
    for (const WindowInfo& w : selected->windows) {
      if (w.windowID) add(*w.windowID);
    }
  }
  for (const std::uint32_t number : ids) add(number);
  // Worth keeping first, when not every picture can be kept: the selection's, then the
  // window each tile's preview would show, then the capture order.
  std::vector<std::uint32_t> worth;
  worth.reserve(2 * order.size() + 1);
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
  const WindowSizes unseen = previewSizes(worth, scale);
  const CGSize box{Metrics::previewBox.width * scale, Metrics::previewBox.height * scale};
  const auto previewSize = [&](std::uint32_t window) { return sizeOf(unseen, window).value_or(box); };
  PictureKeeping& keeping = model_.pictureKeeping();
  Thumbnails::Sizes sizes = keeping.plan(worth, previewSize);
  // Only the pictures of the windows taken are compared with what comes.
  Thumbnails::Held held;
  WindowSizes previews;  // in the order of `sizes`, by window
  previews.reserve(sizes.size());
  for (const auto& [window, size] : sizes) {
    if (const auto kept = model_.thumbnails().find(window); kept != model_.thumbnails().end()) held.insert(*kept);
    previews.emplace_back(window, previewSize(window));
  }
  // Each window is taken at the size it is drawn at when its turn comes (the panels may
  // have shown since the capture was asked for), so its picture is scaled once, from the
  // window's own pixels, and arrives ready to draw.
  Thumbnails::SizeNow now = [drawn = keeping.drawnSizes(), previews = std::move(previews)](std::uint32_t window,
                                                                                           CGSize asked) {
    const auto preview = sizeOf(previews, window);
    return preview ? takenFor(drawn->of(window).value_or(asked), *preview) : asked;
  };
  Thumbnails::capture(
      order,
      [this, life = life_.watch()](std::uint32_t window, CGImageRef picture, CGSize size) {
        if (!life.expired()) thumbnailArrived(window, std::move(picture), size);
      },
      std::move(sizes), std::move(held), std::move(now), [work = sessionWork_.watch()] { return !work.expired(); });
}

void SessionPictures::sessionEnded() { sessionWork_ = LifeToken(); }

SessionPictures::WindowSizes SessionPictures::previewSizes(const std::vector<std::uint32_t>& windows,
                                                           double scale) const {
  std::vector<std::uint32_t> asked = windows;
  std::sort(asked.begin(), asked.end());
  WindowSizes sizes;
  sizes.reserve(asked.size());
  model_.workspace().forEachWindow([&](const WindowInfo& w) {
    if (!w.windowID || !std::binary_search(asked.begin(), asked.end(), *w.windowID)) return;
    const CGSize drawn = PreviewPanel::pictureSize(w.bounds ? w.bounds->size : Metrics::previewBox);
    sizes.emplace_back(*w.windowID, CGSize{drawn.width * scale, drawn.height * scale});
  });
  // By window; of a window met twice, the later size counts.
  std::stable_sort(sizes.begin(), sizes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  const auto last =
      std::unique(sizes.rbegin(), sizes.rend(), [](const auto& a, const auto& b) { return a.first == b.first; });
  sizes.erase(sizes.begin(), last.base());
  return sizes;
}

std::optional<CGSize> SessionPictures::sizeOf(const WindowSizes& sizes, std::uint32_t window) {
  const auto found = std::lower_bound(sizes.begin(), sizes.end(), window,
                                      [](const auto& entry, std::uint32_t number) { return entry.first < number; });
  if (found == sizes.end() || found->first != window) return std::nullopt;
  return found->second;
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

void SessionPictures::thumbnailArrived(std::uint32_t window, CGImageRef picture, CGSize size) {
  if (model_.transitioning().count(window)) {
    // The picture of a window moving in or out of full screen waits for the move to end.
    // One waiting for its frame came before this one and must not put the old look back.
    arrivedPictures.erase(window);
    if (!fullScreen_.pending()) endTransition(window, std::move(picture), size);
    return;
  }
  // Pictures come one by one, often many in a frame: each change of the model lays out
  // every panel that draws one, so a frame's pictures go in together.
  arrivedPictures[window] = {std::move(picture), size};
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
  std::map<std::uint32_t, Arrival> arrived = std::exchange(arrivedPictures, {});
  // A window that started moving into or out of full screen while its picture waited: the
  // picture is from before the move, and only one from after it ends the move.
  std::erase_if(arrived, [&](const auto& entry) { return model_.transitioning().count(entry.first) != 0; });
  if (arrived.empty()) return;
  // A picture replacing one goes in at once; only a tile's first picture fades in, so a
  // replacement never fades along with a new picture beside it. Each kind goes in as one
  // change of the model.
  std::map<std::uint32_t, Arrival> first;
  for (auto it = arrived.begin(); it != arrived.end();) {
    if (model_.thumbnails().count(it->first)) {
      ++it;
    } else {
      first.insert(arrived.extract(it++));
    }
  }
  PictureKeeping& keeping = model_.pictureKeeping();
  auto store = [&](std::map<std::uint32_t, Arrival>& pictures) {
    model_.thumbnails.modify([&](auto& kept) {
      for (auto& [window, arrival] : pictures) {
        kept[window] = std::move(arrival.picture);
        keeping.keptAt(window, arrival.size);
      }
    });
  };
  if (!arrived.empty()) store(arrived);
  if (!first.empty()) model_.animating(Animation::pictureFade(), [&] { store(first); });
  keepPictures();
}

void SessionPictures::refreshWallpapers() {
  std::set<std::int64_t> spaces;
  std::map<std::int64_t, CGSize> sizes;  // a wallpaper covers its display
  for (const DisplayGroup& d : model_.workspace().displays) {
    for (const SpaceGroup& group : d.spaces) {
      for (const Cluster& c : group.clusters) {
        if ((c.isDesktop() || c.screen) && !c.fullScreen) {
          spaces.insert(c.space);
          sizes[c.space] = d.screen.frame().size;
        }
      }
    }
  }
  if (spaces.empty() || !CGPreflightScreenCaptureAccess()) return;
  Thumbnails::queue().async([this, life = life_.watch(), work = sessionWork_.watch(), spaces, sizes,
                             held = model_.wallpapers()] {
    for (const auto& [space, window] : Private::wallpaperWindows(spaces)) {
      if (work.expired()) return;
      const auto size = sizes.find(space);
      CGImageRef picture = size == sizes.end() ? nullptr : Thumbnails::captureDownscaled(window, size->second);
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

void SessionPictures::endTransition(std::uint32_t window, CGImageRef picture, CGSize size) {
  if (!model_.transitioning().count(window)) return;
  if (picture) {
    model_.thumbnails.modify([&](auto& pictures) { pictures[window] = std::move(picture); });
    model_.pictureKeeping().keptAt(window, size);
  }
  model_.finishTransition(window);
}

}  // namespace trelliq
