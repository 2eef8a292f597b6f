#pragma once
// What the shell asks of a window of the program's own that is made on first use and
// kept (the Permissions and Preferences windows): to show it, and whether it is on
// screen. The windows implement it; the shell is handed them, so it never depends on
// how they are built.

namespace trelliq {

class AppWindow {
 public:
  virtual ~AppWindow() = default;
  /// Builds the window on the first call, then brings it forward. Main thread.
  virtual void show() = 0;
  /// Whether the window is on screen now. Main thread.
  virtual bool isVisible() const = 0;
};

}  // namespace trelliq
