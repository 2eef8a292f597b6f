#include "workspace/DesktopFrames.h"

#include <algorithm>

#include "platform/OncePerSystem.h"
#include "workspace/ScreenGeometry.h"

namespace trelliq {

namespace {

struct Store {
  std::map<std::uint32_t, CGRect> frames;
  std::set<std::uint32_t> frozen;
  std::vector<CGRect> fullScreenFrames;  // oldest first; no two intersect
};

// Window numbers mean nothing across systems: each has its own store.
Store& store() {
  static auto& stores = *new platform::OncePerSystem<Store>();
  return stores.get();
}

}  // namespace

void DesktopFrames::note(const WindowInfo& window) {
  if (!window.windowID) return;
  Store& s = store();
  const std::uint32_t number = *window.windowID;
  if (!window.fullScreen) {
    if (window.minimized || s.frozen.contains(number) || !window.bounds) return;
    s.frames[number] = *window.bounds;
    return;
  }
  s.frozen.erase(number);
  if (!window.bounds) return;
  const CGRect bounds = *window.bounds;
  std::erase_if(s.fullScreenFrames, [&](const CGRect& r) { return r.intersects(bounds); });
  s.fullScreenFrames.push_back(bounds);
}

void DesktopFrames::freeze(const WindowInfo& window) {
  if (!window.windowID) return;
  Store& s = store();
  if (window.bounds) s.frames[*window.windowID] = *window.bounds;
  s.frozen.insert(*window.windowID);
}

std::optional<CGRect> DesktopFrames::frame(std::uint32_t window) {
  const auto& frames = store().frames;
  const auto it = frames.find(window);
  if (it == frames.end()) return std::nullopt;
  return it->second;
}

CGRect DesktopFrames::fullScreenFrame(const NSScreen& screen) {
  const CGRect frame = ScreenGeometry::windowServerFrame(screen);
  const auto& seen = store().fullScreenFrames;
  for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
    if (frame.contains(CGPoint{it->midX(), it->midY()}) && it->width() == frame.width()) return *it;
  }
  const double top = screen.safeAreaInsets().top;
  return CGRect(frame.minX(), frame.minY() + top, frame.width(), frame.height() - top);
}

void DesktopFrames::forget(const std::vector<std::uint32_t>& windows) {
  Store& s = store();
  const auto gone = [&](std::uint32_t number) { return !std::binary_search(windows.begin(), windows.end(), number); };
  std::erase_if(s.frames, [&](const auto& entry) { return gone(entry.first); });
  std::erase_if(s.frozen, gone);
}

const std::map<std::uint32_t, CGRect>& DesktopFrames::frames() { return store().frames; }

const std::set<std::uint32_t>& DesktopFrames::frozen() { return store().frozen; }

const std::vector<CGRect>& DesktopFrames::fullScreenFrames() { return store().fullScreenFrames; }

void DesktopFrames::reset() { store() = Store{}; }

}  // namespace trelliq
