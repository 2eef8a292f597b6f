#pragma once
// A panel of the program's own that may become the key window although it has no title
// bar: giving it the keyboard focus is how the program brings the panel's Space forward.
// Complete in this header, so the workspace code that places one on another Space needs
// nothing but the platform. Main thread only.

#include "platform/AppKitWindows.h"

namespace trelliq {

class KeyablePanel : public NSPanel {
 public:
  /// An ordinary panel of `contentRect` (relative to `screen` when given); not ordered in.
  using NSPanel::NSPanel;

  /// Always true, whatever the style mask.
  bool canBecomeKeyWindow() const override { return true; }
};

}  // namespace trelliq
