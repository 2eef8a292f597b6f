#pragma once
// Bringing one of the program's own windows to the front with the keyboard, although the
// program runs as an accessory without a Dock icon. Main thread only.

class NSWindow;

namespace trelliq {

struct OwnWindow {
  OwnWindow() = delete;

  /// Orders `window` front even while the program is inactive, makes this process the front
  /// process with that window as key through the window server, activates the program,
  /// makes the window key and front, and makes its content view the first responder when
  /// that view is a responder (it also gets the widget focus).
  static void bringForward(NSWindow& window);
};

}  // namespace trelliq
