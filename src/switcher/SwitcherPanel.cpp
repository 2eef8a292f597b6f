#include "switcher/SwitcherPanel.h"

#include "ownwindows/ClosableWindow.h"

namespace trelliq {

SwitcherPanel::SwitcherPanel(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing, bool defer,
                             const NSScreen* screen)
    : NSPanel(contentRect, style, backing, defer, screen) {}

bool SwitcherPanel::performKeyEquivalent(const NSEvent& event) {
  if (!takesKeys_ || !ClosableWindow::commandAlone(event) || event.characters().empty()) {
    return NSPanel::performKeyEquivalent(event);
  }
  if (ClosableWindow::sendEditAction(event, this)) return true;
  return NSPanel::performKeyEquivalent(event);
}

}  // namespace trelliq
