// The in-place preview of the switcher: the ghost showing the selected window where it is,
// with a live capture every 0.1 s, over one backdrop per screen (the wallpaper's wash, a
// dark veil and, for a Space not on screen, its composed picture), the fades around a
// full-screen change, and the haze of the glass. Main thread, except the captures, which
// run on the "ghost" and "destination" queues and hand their pictures back on the main queue.

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/Foundation.h"
#include "settings/Settings.h"
#include "switcher/DestinationScreen.h"
#include "switcher/PanelWindowSetup.h"
#include "switcher/Switcher.h"
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
  auto window = std::make_unique<NSPanel>(CGRect(), Switcher::panelStyle, NSBackingStoreType::buffered, false);
  configure(*window, level, shadow);
  window->setIgnoresMouseEvents(true);
  return window;
}

// Wash (the screen's wallpaper, faint), veil (dark) and destination (hidden until it has
// a picture), bottom to top: the operations find wash and destination by position.
Switcher::LayeredPanel makeBackdrop() {
  Switcher::LayeredPanel backdrop;
  backdrop.window = makeLayeredWindow(Switcher::backdropLevel, false);
  auto wash = std::make_unique<Layer>(Layer::Gravity::resize);
  wash->setAlpha(1 - DestinationScreen::windowOpacity);
  auto veil = std::make_unique<Layer>();
  veil->setBackground(black(DestinationScreen::dimming));
  auto destination = std::make_unique<Layer>(Layer::Gravity::resize);
  destination->setHidden(true);
  backdrop.layers.push_back(std::move(wash));
  backdrop.layers.push_back(std::move(veil));
  backdrop.layers.push_back(std::move(destination));
  host(*backdrop.window, {backdrop.layers[0].get(), backdrop.layers[1].get(), backdrop.layers[2].get()});
  return backdrop;
}

// The layers follow the window's size as subviews with flexible width and height would.
void fitLayers(Switcher::LayeredPanel& panel) {
  const CGRect bounds = contentBounds(*panel.window);
  for (auto& layer : panel.layers) layer->setFrame(bounds);
}

// Per window, the latest alpha animation: an older one stops touching it (a new
// animation of the same property replaces the running one).
std::map<const NSWindow*, std::uint64_t>& alphaAnimations() {
  static auto& latest = *new std::map<const NSWindow*, std::uint64_t>();
  return latest;
}

// One running alpha animation; each frame re-posts itself until the duration has passed.
struct AlphaFade {
  std::weak_ptr<Switcher> owner;
  std::vector<std::pair<NSWindow*, std::uint64_t>> windows;  // with the animation's id
  std::vector<double> from;
  double to = 1;
  double start = 0;
  double duration = 0;
  std::function<void()> done;

  void step(const std::shared_ptr<AlphaFade>& self) {
    if (!owner.lock()) return;  // the windows went with their owner
    const double elapsed = platform::clock().monotonicSeconds() - start;
    const double progress = duration <= 0 ? 1 : std::min(1.0, elapsed / duration);
    auto& latest = alphaAnimations();
    for (std::size_t i = 0; i < windows.size(); ++i) {
      auto [window, id] = windows[i];
      if (latest[window] != id) continue;
      window->setAlphaValue(progress >= 1 ? to : from[i] + (to - from[i]) * progress);
    }
    if (progress < 1) {
      platform::mainQueue().asyncAfter(SwitcherTiming::fadeFrame, [self] { self->step(self); });
      return;
    }
    if (done) done();
  }
};

}  // namespace

// ======================================================================================
// Ghost and backdrops
// ======================================================================================

Switcher::LayeredPanel& Switcher::ghost() {
  if (!ghost_) {
    ghost_ = std::make_unique<LayeredPanel>();
    ghost_->window = makeLayeredWindow(ghostLevel, true);
    ghost_->layers.push_back(std::make_unique<Layer>(Layer::Gravity::resize));
    host(*ghost_->window, {ghost_->layers.front().get()});
  }
  return *ghost_;
}

platform::Executor& Switcher::ghostQueue() {
  // Asked of the installed clock each time: a test installs a new clock per scene.
  return platform::clock().queue("ghost");
}

void Switcher::updateGhost() {
  if (fullScreenPending) return;
  if (!active || !shown || !Settings::showInPlace()) {
    hideGhost();
    return;
  }
  const int focused = model.focused();
  if (model.landsOnDesktop(focused)) {
    const Cluster* cluster = model.selectedCluster(focused);
    const DisplayGroup* group = model.display(focused);
    if (cluster && group) {
      showDesktop(cluster->space, group->screen);
      return;
    }
  }
  const WindowInfo* target = model.focusedTarget();
  const std::vector<NSScreen> screens = NSScreen::screens();
  if (!target || !target->windowID || !target->bounds || screens.empty()) {
    hideGhost();
    return;
  }
  const std::uint32_t number = *target->windowID;
  if (ghostWindow == number) return;
  ghostWindow = number;
  ghostDesktop.reset();

  LayeredPanel& g = ghost();
  g.window->setFrame(platform::flipRect(*target->bounds, screens.front().frame().maxY()), false);
  fitLayers(g);
  // The last thumbnail bridges the time until the first live capture returns.
  const auto& thumbnails = model.thumbnails();
  const auto found = thumbnails.find(number);
  g.layers.front()->setContents(found == thumbnails.end() ? CGImageRef() : found->second);

  showBackdrops();
  showDestination(number);
  g.window->orderFrontRegardless();
  captureGhost();
  if (!ghostTimer.isValid()) {
    ghostTimer =
        platform::clock().scheduleTimer(platform::mainQueue(), SwitcherTiming::ghostInterval, true, [weak = weak()] {
          if (auto self = weak.lock()) self->captureGhost();
        });
  }
}

void Switcher::captureGhost() {
  if (!ghostWindow || ghostCapturing) return;
  const std::uint32_t number = *ghostWindow;
  ghostCapturing = true;
  ghostQueue().async([weak = weak(), number] {
    CGImageRef picture = Private::capture(number, true);
    platform::mainQueue().async([weak, number, picture = std::move(picture)] {
      auto self = weak.lock();
      if (!self) return;
      self->ghostCapturing = false;
      // A failed capture keeps the picture shown; a late one for another window is dropped.
      if (self->ghostWindow == number && picture) self->ghost().layers.front()->setContents(picture);
    });
  });
}

void Switcher::hideGhost() {
  ghostTimer.invalidate();
  ghostTimer = {};
  ghostWindow.reset();
  ghostDesktop.reset();
  if (ghost_) {
    ghost_->window->orderOut(nullptr);
    ghost_->layers.front()->setContents(nullptr);
  }
  for (LayeredPanel& backdrop : backdrops) backdrop.window->orderOut(nullptr);
}

void Switcher::showDesktop(std::int64_t space, const NSScreen& screen) {
  if (ghostDesktop == space) return;
  ghostTimer.invalidate();
  ghostTimer = {};
  ghostWindow.reset();
  if (ghost_) ghost_->window->orderOut(nullptr);
  ghostDesktop = space;

  // The real desktop shows through when its Space is on screen.
  if (Private::currentSpaces().count(space)) {
    for (LayeredPanel& backdrop : backdrops) backdrop.window->orderOut(nullptr);
    return;
  }
  showBackdrops();
  const auto index = screenIndex(screen);
  if (!index || *index >= backdrops.size()) return;
  for (std::size_t i = 0; i < backdrops.size(); ++i) {
    if (i != *index) setDestination(nullptr, backdrops[i]);
  }
  if (const auto cached = desktopDestinations.find(space); cached != desktopDestinations.end()) {
    setDestination(cached->second, backdrops[*index]);
  } else {
    buildDesktopDestination(space, screen);
  }
}

void Switcher::showBackdrops() {
  const std::vector<NSScreen> screens = NSScreen::screens();
  while (backdrops.size() < screens.size()) backdrops.push_back(makeBackdrop());
  for (std::size_t i = 0; i < screens.size(); ++i) {
    LayeredPanel& backdrop = backdrops[i];
    if (backdrop.window->isVisible()) continue;
    backdrop.window->setFrame(screens[i].frame(), false);
    fitLayers(backdrop);
    setDestination(nullptr, backdrop);
    setWash(backdrop, screens[i]);
    backdrop.window->orderFrontRegardless();
  }
}

void Switcher::setWash(LayeredPanel& backdrop, const NSScreen& screen) {
  if (!backdrop.window || backdrop.layers.empty()) return;
  Layer* wash = backdrop.layers.front().get();
  // Cleared at once, so no stale wallpaper shows while the capture runs.
  wash->setFrame(contentBounds(*backdrop.window));
  wash->setContents(nullptr);
  const auto space = Private::currentSpace(screen);
  const auto window = space ? Private::wallpaperWindow(*space) : std::nullopt;
  if (!window) return;
  DestinationScreen::queue().async([weak = weak(), wash, number = *window] {
    CGImageRef picture = Private::capture(number, false);
    platform::mainQueue().async([weak, wash, picture = std::move(picture)] {
      // The layer lives as long as the controller.
      if (weak.lock()) wash->setContents(picture);
    });
  });
}

void Switcher::setDestination(CGImageRef image, LayeredPanel& backdrop) {
  if (!backdrop.window || backdrop.layers.empty()) return;
  Layer& destination = *backdrop.layers.back();
  destination.setFrame(contentBounds(*backdrop.window));
  destination.setHidden(!image);
  destination.setContents(std::move(image));
}

void Switcher::fadeGhost(bool in) {
  std::vector<NSWindow*> all{ghost().window.get()};
  for (LayeredPanel& backdrop : backdrops) all.push_back(backdrop.window.get());

  if (in) {
    ghostWindow.reset();
    ghostDesktop.reset();
    for (LayeredPanel& backdrop : backdrops) backdrop.window->setAlphaValue(0);
    updateGhost();
    if (ghostWindow) {
      if (CGImageRef picture = Private::capture(*ghostWindow, true)) ghost().layers.front()->setContents(picture);
    }
  }
  std::vector<NSWindow*> animated;
  if (in) {
    for (LayeredPanel& backdrop : backdrops) {
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
    done = [weak = weak(), all] {
      auto self = weak.lock();
      if (!self) return;
      if (self->fullScreenPending) self->hideGhost();
      for (NSWindow* window : all) window->setAlphaValue(1);
    };
  }
  animateAlpha(animated, in ? 1 : 0, SwitcherTiming::ghostFade, std::move(done));
}

void Switcher::animateAlpha(const std::vector<NSWindow*>& windows, double alpha, double duration,
                            std::function<void()> done) {
  static std::uint64_t nextID = 0;
  auto fade = std::make_shared<AlphaFade>();
  fade->owner = weak();
  fade->to = alpha;
  fade->start = platform::clock().monotonicSeconds();
  fade->duration = duration;
  fade->done = std::move(done);
  for (NSWindow* window : windows) {
    const std::uint64_t id = ++nextID;
    alphaAnimations()[window] = id;
    fade->windows.emplace_back(window, id);
    fade->from.push_back(window->alphaValue());
  }
  platform::mainQueue().async([fade] { fade->step(fade); });
}

void Switcher::updateHaze() {
  const double tint = UserDefaults::standard().doubleForKey("NSGlassTintAmount");
  if (!usesGlassVariant()) {
    hazeStrength = 0;
  } else if (tint <= 0) {
    hazeStrength = clearEndHaze;
  } else {
    hazeStrength = (1 - std::min(tint, 1.0)) * clearEndHaze;
  }
  model.haze.set(hazeStrength);
  previewPane().haze->setAlpha(hazeStrength);
}

// ======================================================================================
// Destination pictures
// ======================================================================================

void Switcher::showDestination(std::uint32_t window) {
  const auto place = DestinationScreen::space(window);
  const auto index = place ? screenIndex(place->screen) : std::nullopt;
  if (!index || *index >= backdrops.size()) {
    for (LayeredPanel& backdrop : backdrops) setDestination(nullptr, backdrop);
    return;
  }
  for (std::size_t i = 0; i < backdrops.size(); ++i) {
    if (i != *index) setDestination(nullptr, backdrops[i]);
  }
  if (const auto cached = destinations.find(place->space); cached != destinations.end()) {
    setDestination(cached->second, backdrops[*index]);
    return;
  }
  // The backdrop keeps what it showed until the picture arrives.
  buildDestination(place->space, place->screen, place->fullScreen);
}

void Switcher::buildDestination(std::int64_t space, const NSScreen& screen, bool fullScreen) {
  if (!building.insert(space).second) return;
  DestinationScreen::compose(space, screen, fullScreen, false, [weak = weak(), space, screen](CGImageRef image) {
    auto self = weak.lock();
    if (!self) return;
    self->building.erase(space);
    if (!image) return;  // nothing cached: the next request composes again
    self->destinations[space] = image;
    if (!self->ghostWindow) return;
    const auto place = DestinationScreen::space(*self->ghostWindow);
    if (!place || place->space != space) return;
    const auto index = screenIndex(screen);
    if (index && *index < self->backdrops.size()) self->setDestination(image, self->backdrops[*index]);
  });
}

namespace {

// The composition of a desktop picture, once its Space is marked in `buildingDesktops`.
void composeDesktop(Switcher& self, std::int64_t space, const NSScreen& screen) {
  DestinationScreen::compose(space, screen, false, true, [weak = self.weak(), space, screen](CGImageRef image) {
    auto self = weak.lock();
    if (!self) return;
    self->buildingDesktops.erase(space);
    if (!image) return;
    self->desktopDestinations[space] = image;
    if (self->ghostDesktop != space) return;
    const auto index = screenIndex(screen);
    if (index && *index < self->backdrops.size()) self->setDestination(image, self->backdrops[*index]);
  });
}

}  // namespace

void Switcher::buildDesktopDestination(std::int64_t space, const NSScreen& screen) {
  if (!buildingDesktops.insert(space).second) return;
  composeDesktop(*this, space, screen);
}

void Switcher::prebuildDestinations() {
  // Compositions still in flight store into the fresh tables when they finish.
  destinations.clear();
  desktopDestinations.clear();
  const Workspace& workspace = model.workspace();
  std::set<std::int64_t> handled;
  for (const WindowInfo& w : workspace.windows()) {
    if (!w.windowID) continue;
    const auto place = DestinationScreen::space(*w.windowID);
    if (!place || !handled.insert(place->space).second) continue;
    buildDestination(place->space, place->screen, place->fullScreen);
  }
  const std::set<std::int64_t> current = Private::currentSpaces();
  for (const DisplayGroup& group : workspace.displays) {
    for (const Cluster& c : group.clusters()) {
      if (!(c.isDesktop() || c.screen) || c.fullScreen) continue;
      if (current.count(c.space) || buildingDesktops.count(c.space)) continue;
      buildingDesktops.insert(c.space);
      composeDesktop(*this, c.space, group.screen);
    }
  }
}

}  // namespace trelliq
