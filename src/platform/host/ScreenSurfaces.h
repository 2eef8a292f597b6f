#pragma once
// The display frames one screen maps: for each display, a surface at the size the screen
// shows it, which the host brings up to each frame the screen asks for by copying into it
// only what changed. The screen reads the newest frame there, so no frame's pixels travel
// in a message and no memory is made anew for each one. Guarded by its own lock (the
// screen's lane takes it).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/SharedSurface.h"
#include "platform/sim/WindowServer.h"

namespace host {

struct ScreenSurfaces {
  /// A frame larger than this goes as pictures instead: three buffers of it would be too
  /// much memory to keep for one screen.
  static constexpr std::size_t kMaxFrameBytes = std::size_t{64} << 20;

  struct Kept {
    std::shared_ptr<platform::SharedSurface> surface;
    std::uint64_t composed = 0;  // the composer's frame it holds; 0: none yet
    /// What that frame was composed from; null: compose again whatever the display shows.
    std::shared_ptr<const sim::WindowServer::FrameInputs> inputs;
  };

  /// Display `id`'s surface when it is `width` × `height` pixels; null otherwise.
  Kept* find(std::uint32_t id, int width, int height) {
    auto it = byDisplay.find(id);
    if (it == byDisplay.end() || it->second.surface->width() != width || it->second.surface->height() != height)
      return nullptr;
    return &it->second;
  }

  std::mutex mutex;
  std::map<std::uint32_t, Kept> byDisplay;
};

}  // namespace host
