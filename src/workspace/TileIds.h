#pragma once
// The ids of the workspace's tiles, made in one place: the display's index, the Space's id
// and what the tile shows. Panels, names and selections are keyed by them. Pure.

#include <cstdint>
#include <string>

namespace trelliq::tileid {

/// "<display>:<space>:<pid>": an app's windows on one Space.
inline std::string app(std::size_t display, std::int64_t space, std::int32_t pid) {
  return std::to_string(display) + ":" + std::to_string(space) + ":" + std::to_string(pid);
}

/// "<display>:<space>:desktop": the Space's desktop.
inline std::string desktop(std::size_t display, std::int64_t space) {
  return std::to_string(display) + ":" + std::to_string(space) + ":desktop";
}

/// "<display>:<space>:screen": the whole Space in one tile.
inline std::string screen(std::size_t display, std::int64_t space) {
  return std::to_string(display) + ":" + std::to_string(space) + ":screen";
}

/// "<display>:fullScreen:<window>": a full-screen Space, known by its smallest window number.
inline std::string fullScreen(std::size_t display, std::uint32_t window) {
  return std::to_string(display) + ":fullScreen:" + std::to_string(window);
}

}  // namespace trelliq::tileid
