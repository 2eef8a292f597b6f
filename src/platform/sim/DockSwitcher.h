#pragma once
// The system's own application switcher, which the Dock draws. While the symbolic hot
// key 1 (⌘⇥) or 2 (⌘⇧⇥) is on, that key combination reaching the system (no tap
// consumed it) opens it: a window of the Dock at the Dock's level showing the icons of
// the running regular applications, most recently active first, with the most recently
// used other application chosen (the last one for ⌘⇧⇥) and lit, its name under its icon. While it is open every key goes
// to it: ⇥ and → choose the next icon, ⇧⇥, ⌘` and ← the previous one, esc closes it;
// letting go of ⌘ closes it and activates the chosen application. Without the Dock
// running, or with the hot key off, the keys pass on to the applications.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/sim/WindowServer.h"

namespace sim {

class DockSwitcher {
 public:
  static constexpr std::uint32_t kNextHotKey = 1;
  static constexpr std::uint32_t kPreviousHotKey = 2;
  /// The window: one cell per icon and a margin around them, in points.
  static constexpr double kCellWidth = 100;
  static constexpr double kMargin = 20;
  static constexpr double kHeight = 140;

  explicit DockSwitcher(WindowServer& server);

  /// Sees a key, key-up or flags-changed event that reached the system; true when the
  /// switcher took it (no application gets it then). Called on the event queue only.
  bool handle(const CGEvent& event);

  struct State {
    bool open = false;
    std::uint32_t window = 0;        // its window while open
    std::vector<std::int32_t> apps;  // the icons, left to right
    std::size_t choice = 0;          // index into apps
  };
  /// What it shows now (any thread).
  State state() const;

  /// One opening of the switcher, from ⌘⇥ to its close.
  struct Session {
    std::vector<std::int32_t> apps;
    std::optional<std::int32_t> activated;  // none when it was closed with esc
  };
  /// Every closed session, oldest first (any thread).
  std::vector<Session> sessions() const;

 private:
  bool open(int step);
  void move(int step);
  void close(bool activate);

  WindowServer& server_;
  mutable std::mutex mutex_;
  State state_;
  std::vector<Session> sessions_;
};

}  // namespace sim
