#pragma once
// The window class of the program's own ordinary windows (keyboard shortcuts,
// preferences, permissions): ⌘W closes the window the way its close button does, and
// ⌘X, ⌘C, ⌘V, ⌘A reach the focused text field as edit actions. Main thread only.

#include <map>
#include <string>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"

namespace trelliq {

class ClosableWindow : public NSWindow {
 public:
  /// An ordinary window; the owner picks the style mask.
  using NSWindow::NSWindow;

  /// The edit keys: a key's characters ignoring modifiers ("x", "c", "v", "a") to the
  /// action sent for it ("cut:", "copy:", "paste:", "selectAll:"). Built once; shared
  /// with the switcher panels.
  static const std::map<std::string, SEL>& editing();

  /// Whether ⌘ is the only device-independent modifier held: Shift, Option, Control,
  /// Caps Lock or Function with it make a key something else.
  static bool commandAlone(const NSEvent& event);

  /// Sends the edit action of `event`'s key, if it has one, along the key window's
  /// responder chain with `sender` as sender. True when some responder performed it.
  static bool sendEditAction(const NSEvent& event, NSResponder* sender);

  /// ⌘W performs the window's close (the delegate may keep it open) and is consumed;
  /// the edit keys go to the first responder; anything else, and an edit key nobody
  /// takes, gets the standard handling.
  bool performKeyEquivalent(const NSEvent& event) override;
};

}  // namespace trelliq
