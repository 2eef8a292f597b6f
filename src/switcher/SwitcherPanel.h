#pragma once
// The panel of every switcher display and of the floating preview. It always draws with
// the active and key appearance, yet becomes key only while a desktop of its display is
// being renamed (`takesKeys`), so the frontmost application keeps the keyboard
// otherwise. While it takes keys, ⌘X, ⌘C, ⌘V and ⌘A reach the name field. Main thread only.

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"

namespace trelliq {

class SwitcherPanel : public NSPanel {
 public:
  /// A panel that does not take keys; level, style and behaviour are the caller's.
  SwitcherPanel(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing, bool defer,
                const NSScreen* screen = nullptr);

  /// Whether the panel may become key and honours the edit keys; false at creation.
  bool takesKeys() const { return takesKeys_; }
  void setTakesKeys(bool takesKeys) { takesKeys_ = takesKeys; }

  /// Always true: the panel looks active and key whatever its key state.
  bool _hasActiveAppearance() const override { return true; }
  bool _hasActiveAppearanceIgnoringKeyFocus() const override { return true; }
  bool _hasKeyAppearance() const override { return true; }
  /// The value of `takesKeys`.
  bool canBecomeKeyWindow() const override { return takesKeys_; }
  /// While it takes keys, the edit keys (⌘ alone) go to the first responder with the
  /// panel as sender; everything else, and an edit key nobody takes, gets the standard handling.
  bool performKeyEquivalent(const NSEvent& event) override;

 private:
  bool takesKeys_ = false;
};

}  // namespace trelliq
