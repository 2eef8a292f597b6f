#pragma once
// Bringing one of the program's own windows to the front with the keyboard, although the
// program runs as an accessory without a Dock icon, and keeping such a window fitted to a
// view whose size follows what it shows. Main thread only.

#include <QSize>

class NSWindow;

namespace trelliq {

struct OwnWindow {
  OwnWindow() = delete;

  /// Orders `window` front even while the program is inactive, makes this process the front
  /// process with that window as key through the window server, activates the program,
  /// makes the window key and front, and makes its content view the first responder when
  /// that view is a responder (it also gets the widget focus).
  static void bringForward(NSWindow& window);

  /// The window's content view went from `before` to `now`: the frame takes the new size
  /// with its top-left corner where it was (frames count upwards), so the window grows or
  /// shrinks below its title bar, which keeps its height. Nothing moves when the size is the same.
  static void followContent(NSWindow& window, QSize before, QSize now);
};

}  // namespace trelliq
