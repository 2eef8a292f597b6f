#include "switcher/Ghost.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/Foundation.h"
#include "switcher/DestinationScreen.h"
#include "switcher/PanelWindowSetup.h"
#include "switcher/SwitcherTiming.h"
#include "switcher/Thumbnails.h"
#include "workspace/Private.h"

namespace trelliq {

using panelwindow::black;
using panelwindow::configure;
using panelwindow::contentBounds;
using panelwindow::host;

namespace {

// The index of `screen` in the system's screen list; none when it is not there.
std::optional<std::size_t> screenIndex(const NSScreen& screen) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  for (std::size_t i = 0; i < screens.size(); ++i) {
    if (screens[i] == screen) return i;
  }
  return std::nullopt;
}

std::unique_ptr<NSPanel> makeLayeredWindow(NSWindowLevel level, bool shadow) {
  auto window = std::make_unique<NSPanel>(CGRect(), panelwindow::style, NSBackingStoreType::buffered, false);
  configure(*window, level, shadow);
  window->setIgnoresMouseEvents(true);
  // A display-sized picture held while nothing shows it: let go when ordered out.
  window->setOneShot(true);
  return window;
}

// Wash (the screen's wallpaper, faint), veil (dark) and destination (hidden until it has
// a picture), bottom to top: the operations find wash and destination by position.
LayeredWindow makeBackdrop() {
  LayeredWindow backdrop;
  backdrop.window = makeLayeredWindow(panelwindow::backdropLevel, false);
  auto wash = std::make_unique<Layer>(Layer::Gravity::resize);
  wash->setAlpha(1 - DestinationScreen::windowOpacity);
  auto veil = std::make_unique<Layer>();
  veil->setBackground(black(DestinationScreen::dimming));
  auto destination = std::make_unique<Layer>(Layer::Gravity::resize);
  destination->setHidden(true);
  // Composed on a black canvas: shown, it hides wash and veil, which are then not drawn.
  destination->setOpaque(true);
  backdrop.layers.push_back(std::move(wash));
  backdrop.layers.push_back(std::move(veil));
  backdrop.layers.push_back(std::move(destination));
  host(*backdrop.window, {backdrop.layers[0].get(), backdrop.layers[1].get(), backdrop.layers[2].get()});
  return backdrop;
}

// The layers follow the window's size as subviews with flexible width and height would.
void fitLayers(LayeredWindow& panel) {
  const CGRect bounds = contentBounds(*panel.window);
  for (auto& layer : panel.layers) layer->setFrame(bounds);
}

// Puts a picture (none hides) into the backdrop's destination (last layer).
void setDestination(CGImageRef image, LayeredWindow& backdrop) {
  if (!backdrop.window || backdrop.layers.empty()) return;
  Layer& destination = *backdrop.layers.back();
  destination.setFrame(contentBounds(*backdrop.window));
  destination.setHidden(!image);
  destination.setContents(std::move(image));
}

// The wash's pixels per point: the wallpaper shows faintly under a dark veil, where a
// picture of a quarter of the pixels, enlarged, looks the same; the backdrop is then kept
// at that density too while it shows no composed Space.
constexpr double kWashDensity = 0.5;

}  // namespace

Ghost::Ghost(const SwitcherModel& model, Hooks hooks) : model_(model), hooks_(std::move(hooks)) {}

Ghost::~Ghost() { ghostTimer.invalidate(); }

LayeredWindow& Ghost::panel() {
  if (!ghost) {
    ghost = std::make_unique<LayeredWindow>();
    ghost->window = makeLayeredWindow(panelwindow::ghostLevel, true);
    ghost->layers.push_back(std::make_unique<Layer>(Layer::Gravity::resize));
    host(*ghost->window, {ghost->layers.front().get()});
  }
  return *ghost;
}

platform::Executor& Ghost::ghostQueue() {
  // Asked of the installed clock each time: a test installs a new clock per scene.
  return platform::clock().queue("ghost");
}

void Ghost::updateGhost() {
  if (hooks_.changingFullScreen()) return;
  if (!hooks_.showing()) {
    hideGhost();
    return;
  }
  const int focused = model_.focused();
  if (model_.landsOnDesktop(focused)) {
    const Cluster* cluster = model_.selectedCluster(focused);
    const DisplayGroup* group = model_.display(focused);
    if (cluster && group) {
      showDesktop(cluster->space, group->screen);
      return;
    }
  }
  const WindowInfo* target = model_.focusedTarget();
  const std::vector<NSScreen> screens = NSScreen::screens();
  if (!target || !target->windowID || !target->bounds || screens.empty()) {
    hideGhost();
    return;
  }
  const std::uint32_t number = *target->windowID;
  if (ghostWindow == number) return;
  ghostWindow = number;
  ghostDesktop.reset();

  LayeredWindow& g = panel();
  g.window->setFrame(platform::flipRect(*target->bounds, screens.front().frame().maxY()), false);
  fitLayers(g);
  // The last thumbnail bridges the time until the first live capture returns.
  const auto& thumbnails = model_.thumbnails();
  const auto found = thumbnails.find(number);
  g.layers.front()->setContents(found == thumbnails.end() ? CGImageRef() : found->second);

  showBackdrops();
  showDestination(number);
  g.window->orderFrontRegardless();
  captureGhost();
  if (!ghostTimer.isValid()) {
    ghostTimer = platform::clock().scheduleTimer(platform::mainQueue(), SwitcherTiming::ghostInterval, true,
                                                 [this, life = life_.watch()] {
                                                   if (life.lock()) captureGhost();
                                                 });
  }
}

void Ghost::captureGhost() {
  if (!ghostWindow || ghostCapturing) return;
  const std::uint32_t number = *ghostWindow;
  ghostCapturing = true;
  ghostQueue().async([this, life = life_.watch(), number] {
    CGImageRef picture = Private::capture(number, true);
    platform::mainQueue().async([this, life, number, picture = std::move(picture)] {
      if (!life.lock()) return;
      ghostCapturing = false;
      // A failed capture keeps the picture shown; a late one for another window is dropped.
      if (ghostWindow == number && picture) panel().layers.front()->setContents(picture);
    });
  });
}

void Ghost::stopCapturing() {
  ghostTimer.invalidate();
  ghostTimer = {};
}

void Ghost::hideGhost() {
  stopCapturing();
  ghostWindow.reset();
  ghostDesktop.reset();
  if (ghost) {
    ghost->window->orderOut(nullptr);
    ghost->layers.front()->setContents(nullptr);
  }
  for (LayeredWindow& backdrop : backdrops) backdrop.window->orderOut(nullptr);
}

void Ghost::sessionEnded() {
  hideGhost();
  keeping_ = false;
  // Compositions still queued are skipped, so the next session composes its own afresh.
  sessionWork_ = LifeToken();
  waiting_.clear();
  building.clear();
  buildingDesktops.clear();
  forgetComposed();
  // A backdrop holds a display-sized wash and picture: between sessions it is ordered out
  // and shows nothing, and the next session washes it afresh.
  for (LayeredWindow& backdrop : backdrops) {
    backdrop.layers.front()->setContents(nullptr);
    setDestination(nullptr, backdrop);
  }
}

void Ghost::showDesktop(std::int64_t space, const NSScreen& screen) {
  if (ghostDesktop == space) return;
  stopCapturing();
  ghostWindow.reset();
  if (ghost) ghost->window->orderOut(nullptr);
  ghostDesktop = space;

  // The real desktop shows through when its Space is on screen.
  if (Private::currentSpaces().count(space)) {
    for (LayeredWindow& backdrop : backdrops) backdrop.window->orderOut(nullptr);
    return;
  }
  showBackdrops();
  const auto index = screenIndex(screen);
  if (!index || *index >= backdrops.size()) return;
  for (std::size_t i = 0; i < backdrops.size(); ++i) {
    if (i != *index) setDestination(nullptr, backdrops[i]);
  }
  if (const auto cached = desktopDestinations.find(space); cached != desktopDestinations.end()) {
    showKept(space, true, cached->second, screen);
  } else {
    buildDesktopDestination(space, screen);
  }
}

void Ghost::showBackdrops() {
  const std::vector<NSScreen> screens = NSScreen::screens();
  while (backdrops.size() < screens.size()) backdrops.push_back(makeBackdrop());
  for (std::size_t i = 0; i < screens.size(); ++i) {
    LayeredWindow& backdrop = backdrops[i];
    if (backdrop.window->isVisible()) continue;
    backdrop.window->setFrame(screens[i].frame(), false);
    fitLayers(backdrop);
    setDestination(nullptr, backdrop);
    setWash(backdrop, screens[i]);
    backdrop.window->orderFrontRegardless();
  }
}

void Ghost::setWash(LayeredWindow& backdrop, const NSScreen& screen) {
  if (!backdrop.window || backdrop.layers.empty()) return;
  Layer* wash = backdrop.layers.front().get();
  // Cleared at once, so no stale wallpaper shows while the capture runs.
  wash->setFrame(contentBounds(*backdrop.window));
  wash->setContents(nullptr);
  const auto space = Private::currentSpace(screen);
  const auto window = space ? Private::wallpaperWindow(*space) : std::nullopt;
  if (!window) return;
  DestinationScreen::queue().async([this, life = life_.watch(), work = sessionWork_.watch(), wash, number = *window,
                                    points = screen.frame().size] {
    if (work.expired()) return;  // the session ended before its turn came
    // Taken at the wash's size straight away: a display-sized picture only to be shrunk
    // would be held beside everything a session shows.
    CGImageRef picture =
        Thumbnails::captureDownscaled(number, points, CGSize(points.width * kWashDensity, points.height * kWashDensity));
    platform::mainQueue().async([this, life, wash, picture = std::move(picture)] {
      // The layer lives as long as the ghost; a session that ended meanwhile keeps no wash.
      if (life.lock() && hooks_.showing()) wash->setContents(picture);
    });
  });
}

void Ghost::fadeGhost(Fade direction) {
  const bool in = direction == Fade::in;
  std::vector<NSWindow*> all{panel().window.get()};
  for (LayeredWindow& backdrop : backdrops) all.push_back(backdrop.window.get());

  if (in) {
    ghostWindow.reset();
    ghostDesktop.reset();
    for (LayeredWindow& backdrop : backdrops) backdrop.window->setAlphaValue(0);
    updateGhost();
    if (ghostWindow) {
      if (CGImageRef picture = Private::capture(*ghostWindow, true)) panel().layers.front()->setContents(picture);
    }
  }
  std::vector<NSWindow*> animated;
  if (in) {
    for (LayeredWindow& backdrop : backdrops) {
      if (backdrop.window->isVisible()) {
        animated.push_back(backdrop.window.get());
      } else {
        backdrop.window->setAlphaValue(1);
      }
    }
  } else {
    for (NSWindow* window : all) {
      if (window->isVisible()) animated.push_back(window);
    }
  }
  std::function<void()> done;
  if (!in) {
    // The fader stops calling once it is gone, and it goes with this ghost.
    done = [this, all] {
      if (hooks_.changingFullScreen()) hideGhost();
      for (NSWindow* window : all) window->setAlphaValue(1);
    };
  }
  fader_.fade(animated, in ? 1 : 0, SwitcherTiming::ghostFade, std::move(done));
}

// ---- Destination pictures --------------------------------------------------------------------

void Ghost::showDestination(std::uint32_t window) {
  const auto place = DestinationScreen::space(window);
  const auto index = place ? screenIndex(place->screen) : std::nullopt;
  if (!index || *index >= backdrops.size()) {
    for (LayeredWindow& backdrop : backdrops) setDestination(nullptr, backdrop);
    return;
  }
  for (std::size_t i = 0; i < backdrops.size(); ++i) {
    if (i != *index) setDestination(nullptr, backdrops[i]);
  }
  if (const auto cached = destinations.find(place->space); cached != destinations.end()) {
    showKept(place->space, false, cached->second, place->screen);
    return;
  }
  // The backdrop keeps what it showed until the picture arrives.
  buildDestination(place->space, place->screen, place->fullScreen, true);
}

void Ghost::showComposed(const CGImageRef& image, const NSScreen& screen) {
  const auto index = screenIndex(screen);
  if (index && *index < backdrops.size()) setDestination(image, backdrops[*index]);
}

void Ghost::buildDestination(std::int64_t space, const NSScreen& screen, bool fullScreen, bool first) {
  if (building.insert(space).second) {
    queueComposition({space, screen, fullScreen, false}, first);
  } else if (first) {
    bringForward(space, false);
  }
}

void Ghost::buildDesktopDestination(std::int64_t space, const NSScreen& screen) {
  if (buildingDesktops.insert(space).second) {
    queueComposition({space, screen, false, true}, true);
  } else {
    bringForward(space, true);
  }
}

void Ghost::queueComposition(Composition composition, bool first) {
  composition.needed = first;
  if (first) {
    waiting_.push_front(std::move(composition));
  } else {
    waiting_.push_back(std::move(composition));
  }
  composeNext();
}

void Ghost::bringForward(std::int64_t space, bool desktop) {
  const auto found = std::find_if(waiting_.begin(), waiting_.end(), [&](const Composition& c) {
    return c.space == space && c.desktop == desktop;
  });
  if (found == waiting_.end()) return;
  found->needed = true;
  if (found == waiting_.begin()) return;
  Composition composition = std::move(*found);
  waiting_.erase(found);
  waiting_.push_front(std::move(composition));
}

void Ghost::composeNext() {
  // One at a time: a display-sized picture is made only once the main thread took the
  // last one, so a busy main thread never has a Space's worth of them waiting for it.
  if (composingOne_ || waiting_.empty()) return;
  Composition next = std::move(waiting_.front());
  waiting_.pop_front();
  composingOne_ = true;
  DestinationScreen::compose(next.space, next.screen, next.fullScreen, next.desktop,
                             [this, life = life_.watch(), work = sessionWork_.watch(), next](CGImageRef image,
                                                                                             PackedImageRef packed) {
                               if (!life.lock()) return;
                               composingOne_ = false;
                               // One of an ended session: its marks went with it.
                               if (!work.expired()) composed(next, std::move(image), std::move(packed));
                               composeNext();
                             },
                             sessionWanted(), !next.needed);
}

void Ghost::composed(const Composition& composition, CGImageRef image, PackedImageRef packed) {
  const std::int64_t space = composition.space;
  (composition.desktop ? buildingDesktops : building).erase(space);
  // Nothing cached: the next request composes again.
  if (!packed || !keeping_) return;
  keepComposed(space, composition.desktop, packed);
  if (!wants(space, composition.desktop)) return;  // the unpacked pixels go now
  if (!image) {
    showKept(space, composition.desktop, packed, composition.screen);
    return;
  }
  unpackedFrom_ = packed;
  unpacked_ = image;
  showComposed(image, composition.screen);
}

bool Ghost::wants(std::int64_t space, bool desktop) const {
  if (desktop) return ghostDesktop == space;
  if (!ghostWindow) return false;
  const auto place = DestinationScreen::space(*ghostWindow);
  return place && place->space == space;
}

void Ghost::showKept(std::int64_t space, bool desktop, const PackedImageRef& packed, const NSScreen& screen) {
  if (unpackedFrom_.lock() == packed) {
    if (CGImageRef shown = unpacked_.lock()) {
      showComposed(shown, screen);
      return;
    }
  }
  // Unpacking writes a display's worth of new pages, a frame's time or more: off the main
  // thread, while the backdrop keeps what it showed.
  ghostQueue().async([this, life = life_.watch(), work = sessionWork_.watch(), space, desktop, packed, screen] {
    if (work.expired()) return;
    CGImageRef image = packed->unpack();
    platform::mainQueue().async([this, life, work, space, desktop, packed, screen, image = std::move(image)] {
      if (!life.lock() || work.expired() || !image || !wants(space, desktop)) return;
      unpackedFrom_ = packed;
      unpacked_ = image;
      showComposed(image, screen);
    });
  });
}

std::function<bool()> Ghost::sessionWanted() const {
  return [work = sessionWork_.watch()] { return !work.expired(); };
}

namespace {

// Counted unpacked: what a picture would cost were it kept as it is decides, as ever,
// which Spaces are composed ahead and how many stay.
std::size_t bytesOf(const PackedImageRef& image) {
  return image ? static_cast<std::size_t>(image->width()) * static_cast<std::size_t>(image->height()) * 4 : 0;
}

}  // namespace

void Ghost::keepComposed(std::int64_t space, bool desktop, PackedImageRef image) {
  auto& table = desktop ? desktopDestinations : destinations;
  const auto drop = [&](const Composed& c) {
    composedBytes_ -= c.bytes;
    auto& from = c.desktop ? desktopDestinations : destinations;
    // Only the very picture recorded: the table may hold a newer one for that Space.
    if (const auto kept = from.find(c.space); kept != from.end() && kept->second.get() == c.picture) from.erase(kept);
  };
  if (const auto kept = table.find(space); kept != table.end()) {
    const auto record = std::find_if(composedOrder_.begin(), composedOrder_.end(), [&](const Composed& c) {
      return c.desktop == desktop && c.space == space && c.picture == kept->second.get();
    });
    if (record != composedOrder_.end()) {
      drop(*record);
      composedOrder_.erase(record);
    }
  }
  composedOrder_.push_back({desktop, space, image.get(), bytesOf(image)});
  composedBytes_ += composedOrder_.back().bytes;
  table[space] = std::move(image);
  // A backdrop showing a picture let go here keeps showing it: the layer holds its own.
  while (composedBytes_ > composedBudget && composedOrder_.size() > 1) {
    drop(composedOrder_.front());
    composedOrder_.erase(composedOrder_.begin());
  }
}

void Ghost::forgetComposed() {
  destinations.clear();
  desktopDestinations.clear();
  composedOrder_.clear();
  composedBytes_ = 0;
}

void Ghost::prebuildDestinations() {
  // Compositions still waiting store into the fresh tables when they finish.
  keeping_ = true;
  forgetComposed();
  const Workspace& workspace = model_.workspace();
  // Composed ahead only while the pictures fit their budget: first the Space of each
  // display's most recently used window elsewhere (what its backdrop most likely shows
  // first), then the others by recency. One composed past the budget would only push out
  // one composed before it; a Space left out is composed once it is selected.
  std::size_t planned = 0;
  const auto fits = [&planned](const NSScreen& screen) {
    const CGRect f = screen.frame();
    const std::size_t bytes =
        static_cast<std::size_t>(std::max(0.0, std::trunc(f.width())) * std::max(0.0, std::trunc(f.height())) * 4);
    if (planned > 0 && planned + bytes > composedBudget) return false;
    planned += bytes;
    return true;
  };
  std::vector<DestinationScreen::Place> places;
  std::set<std::int64_t> handled;
  for (const WindowInfo& w : workspace.windows()) {
    if (!w.windowID) continue;
    auto place = DestinationScreen::space(*w.windowID);
    if (place && handled.insert(place->space).second) places.push_back(std::move(*place));
  }
  std::set<std::optional<std::size_t>> screensServed;
  std::vector<const DestinationScreen::Place*> ordered;
  for (const auto& place : places) {
    if (screensServed.insert(screenIndex(place.screen)).second) ordered.push_back(&place);
  }
  for (const auto& place : places) {
    if (std::find(ordered.begin(), ordered.end(), &place) == ordered.end()) ordered.push_back(&place);
  }
  for (const DestinationScreen::Place* place : ordered) {
    if (fits(place->screen)) buildDestination(place->space, place->screen, place->fullScreen, false);
  }
  const std::set<std::int64_t> current = Private::currentSpaces();
  for (const DisplayGroup& group : workspace.displays) {
    for (const Cluster& c : group.clusters()) {
      if (!(c.isDesktop() || c.screen) || c.fullScreen) continue;
      if (current.count(c.space) || buildingDesktops.count(c.space) || !fits(group.screen)) continue;
      buildingDesktops.insert(c.space);
      queueComposition({c.space, group.screen, false, true}, false);
    }
  }
}

}  // namespace trelliq
