// A display's frame as the window server composes it for a screen or a capture: what the
// desk shows of the display gathered under the server's lock, then composed without it
// by the display composer, which recomposes only what changed since the frame it kept.

#include <QImage>
#include <QRegion>
#include <algorithm>
#include <bit>

#include "platform/Geometry.h"
#include "platform/sim/DisplayComposer.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

/// The rectangles to copy for `damage`: its own, or its bounding one when they are many or
/// leave little of it out.
std::vector<CGRect> pieces(const QRegion& damage) {
  if (damage.isEmpty()) return {};
  const QRect bounds = damage.boundingRect();
  std::int64_t area = 0;
  for (const QRect& r : damage) area += static_cast<std::int64_t>(r.width()) * r.height();
  std::vector<CGRect> rects;
  auto add = [&](const QRect& r) { rects.emplace_back(r.x(), r.y(), r.width(), r.height()); };
  if (damage.rectCount() > 8 || area * 4 >= static_cast<std::int64_t>(bounds.width()) * bounds.height() * 3) {
    add(bounds);
  } else {
    for (const QRect& r : damage) add(r);
  }
  return rects;
}

/// Whether a window stays put while the Spaces slide under it: the menu bar, the Dock and
/// whatever else floats above ordinary windows on every Space.
bool staysPutDuringSlide(const Window& w) { return w.allSpaces && w.layer > 0; }

/// The windows drawn over the Spaces of a display of `frame`, back to front: the shown
/// overlay Spaces', and under them, while the Spaces slide, those that stay put in place.
std::vector<const Window*> drawnOver(const Desk& desk, const std::vector<const Window*>& ordered, bool sliding,
                                     const CGRect& frame, const std::function<bool(const Window&)>& clear) {
  std::vector<const Window*> over;
  for (const bool overlay : {false, true}) {
    for (auto it = ordered.rbegin(); it != ordered.rend(); ++it) {
      const Window& w = **it;
      const bool drawn = overlay ? desk.inShownOverlay(w.number)
                                 : sliding && staysPutDuringSlide(w) && !desk.inShownOverlay(w.number) && w.listed &&
                                       !w.desktopElement && !clear(w);
      if (drawn && w.orderedIn && !w.minimized && w.alpha > 0 && w.bounds.intersects(frame)) over.push_back(&w);
    }
  }
  return over;
}

/// Adds what `windows` show from their programs: each surface and the frame it had published.
void addSurfaces(std::vector<std::uint64_t>& values, const std::vector<Shown>& windows) {
  for (const Shown& s : windows) {
    if (!s.surface) continue;
    values.push_back(s.window.number);
    values.push_back(reinterpret_cast<std::uintptr_t>(s.surface.get()));
    values.push_back(s.surface->sequence());
  }
}

}  // namespace

/// Everything `scene` was gathered from, under the server's lock; null during a slide.
std::shared_ptr<const WindowServer::FrameInputs> WindowServer::inputsOf(const DisplayScene& scene, const Look& look,
                                                                        const Desk& desk) const {
  if (scene.from) return nullptr;
  auto in = std::make_shared<FrameInputs>();
  const auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d); };
  // Any edit of the desk counts, whichever window or display it touched.
  in->values = {state_->edits,
                desk.generation(),
                state_->surfaceChanges,
                state_->retiredFrames,
                look.dark,
                look.key,
                look.accessibility,
                look.screenCapture,
                scene.display.desktopColor,
                scene.display.screen.displayID,
                bits(scene.display.screen.backingScaleFactor),
                bits(scene.frame.minX()),
                bits(scene.frame.minY()),
                bits(scene.frame.width()),
                bits(scene.frame.height()),
                scene.to.space};
  addSurfaces(in->values, scene.to.windows);
  addSurfaces(in->values, scene.overlay);
  in->text = look.clock + '\n' + scene.display.screen.localizedName;
  return in;
}

struct WindowServer::AskLook {
  std::uint64_t request = 0;
  Look look;
};

std::shared_ptr<const WindowServer::AskLook> WindowServer::lookForAsk(std::uint64_t request) {
  if (request != 0) {
    std::lock_guard lock(askLookMutex_);
    if (askLook_ && askLook_->request == request) return askLook_;
  }
  auto fresh = std::make_shared<const AskLook>(AskLook{request, lookOf(world_)});
  if (request != 0) {
    std::lock_guard lock(askLookMutex_);
    askLook_ = fresh;
  }
  return fresh;
}

bool WindowServer::composeDisplayFrame(std::uint32_t displayID, int width, int height, std::uint64_t since,
                                       const std::function<void(const QImage&, const DisplayFrame&)>& use,
                                       std::uint64_t request, std::uint64_t* evicted,
                                       const FrameInputs* unchanged) {
  if (width <= 0 || height <= 0 || width > platform::kMaxPictureSide || height > platform::kMaxPictureSide)
    return false;
  std::optional<Display> display = world_.display(displayID);
  if (!display) return false;
  DisplayScene scene;
  scene.display = *display;
  bool known = false;
  std::shared_ptr<const FrameInputs> inputs;
  Look seen = lookForAsk(request)->look;
  read([&](const Desk& desk) {
    const auto ownKey = state_->ownKeys.find(desk.ownPID());
    seen.key = keyWindowOf(desk, state_->ordered().all, ownKey == state_->ownKeys.end() ? 0 : ownKey->second.number,
                           state_->activating);
    const DeskDisplay* dd = desk.display(displayID);
    const DeskDisplay* h = desk.holder(displayID);
    if (!dd || !h) return;
    known = true;
    scene.frame = dd->frame;
    const auto& ordered = state_->ordered().all;
    const bool sliding = h->slide.has_value();
    // A window without a colour is clear, unless it is one of the program's own with content.
    auto clear = [&](const Window& w) { return w.color == 0 && !(w.own && state_->ownSurfaces.count(w.number)); };
    auto gather = [&](std::uint64_t id) {
      SpaceScene p;
      p.space = id;
      if (const Space* s = desk.space(id)) {
        p.type = s->type;
        p.color = s->desktopColor;
      } else {
        p.type = kSpaceTypeFullScreen;  // a full-screen Space already gone: its black backdrop
      }
      for (auto it = ordered.rbegin(); it != ordered.rend(); ++it) {
        const Window& w = **it;
        if (!w.listed || !w.orderedIn || w.minimized || w.alpha <= 0 || w.desktopElement || clear(w)) continue;
        if (desk.inShownOverlay(w.number) || (sliding && staysPutDuringSlide(w))) continue;
        const bool here = w.allSpaces || std::find(w.spaces.begin(), w.spaces.end(), id) != w.spaces.end();
        if (here && w.bounds.intersects(scene.frame))
          p.windows.push_back(shown(w, desk, state_->ownSurfaces, seen));
      }
      return p;
    };
    if (h->slide) {
      const double elapsed = platform::clock().monotonicSeconds() - h->slide->start;
      scene.progress = std::clamp(elapsed / std::max(h->slide->duration, 1e-6), 0.0, 1.0);
      scene.direction = h->slide->direction;
      scene.from = gather(h->slide->from);
      scene.to = gather(h->slide->to);
    } else {
      scene.to = gather(h->current);
    }
    for (const Window* w : drawnOver(desk, ordered, sliding, scene.frame, clear))
      scene.overlay.push_back(shown(*w, desk, state_->ownSurfaces, seen));
    inputs = inputsOf(scene, seen, desk);
  });
  if (!known) return false;
  // A display nothing on which changed (the other display's window animating) is not
  // composed again only to find that out.
  if (unchanged && inputs && *inputs == *unchanged) return true;
  // What the programs publish moves the generation: only a slide changes the picture without
  // it, or a frame left as it was while a program copied into its window's surface.
  const bool changing = scene.from.has_value();
  const std::size_t let = composer_->compose(
      displayID, width, height, scene, since,
      [&](const QImage& frame, const FrameChange& change) {
        DisplayFrame answer{change.sequence, std::nullopt, changing || change.held};
        if (change.damage) answer.damage = pieces(*change.damage);
        // A frame that may change by itself is composed again whatever its inputs say.
        if (!answer.changing) answer.inputs = inputs;
        use(frame, answer);
      },
      request);
  if (evicted) *evicted += let;
  dropUnusedFramesAfter(DisplayComposer::kUnusedSeconds);
  return true;
}

void WindowServer::dropUnusedFramesAfter(double delay) const {
  if (frameSweep_.exchange(true)) return;  // one already waits, and reschedules itself
  after(delay, [this] {
    frameSweep_ = false;
    if (const auto next = composer_->dropUnused()) dropUnusedFramesAfter(*next);
  });
}

void WindowServer::dropDisplayFrames() { composer_->clear(); }

std::uint64_t WindowServer::newFrameRequest() { return composer_->newRequest(); }

std::uint64_t WindowServer::displayFramesEvicted() const { return composer_->evicted(); }

QImage WindowServer::composeDisplay(std::uint32_t displayID, int width, int height, bool* changing) {
  if (changing) *changing = false;
  QImage result;
  composeDisplayFrame(displayID, width, height, 0, [&](const QImage& frame, const DisplayFrame& change) {
    result = frame;  // shared: the composer copies only if it changes the frame while this is held
    if (changing) *changing = change.changing;
  });
  return result;
}

}  // namespace sim
