#include "switcher/OpeningMemory.h"

#include <utility>

#include "platform/AppKit.h"
#include "platform/Clock.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"

namespace trelliq {

OpeningHints OpeningMemory::openingHints() const {
  OpeningHints hints;
  hints.lastSessionEnd = lastSessionEnd;
  hints.lastDisplayID = lastDisplayID;
  hints.lastDesktopClick = lastDesktopClick;
  hints.latestFocus = Recency::shared().latest();
  hints.pointer = NSEvent::mouseLocation();
  return hints;
}

int OpeningMemory::openingDisplay(const Workspace& workspace) const {
  return OpeningDisplay::openingDisplay(workspace, openingHints());
}

int OpeningMemory::appDisplay(const Workspace& workspace) const {
  return OpeningDisplay::appDisplay(workspace, openingHints(), Recency::shared());
}

void OpeningMemory::recordDesktopClick(CGPoint point, double at) {
  if (!OpeningDisplay::isOnDesktop(point)) return;
  lastDesktopClick = OpeningHints::DesktopClick{point, at};
  for (const Private::DisplayLayout& d : Private::displayLayout().displays) {
    if (!NSMouseInRect(point, d.screen.frame(), false)) continue;
    if (d.current) Recency::shared().touchDesktop(*d.current);
    break;
  }
}

void OpeningMemory::sessionEnded(std::optional<std::string> displayID) {
  lastDisplayID = std::move(displayID);
  lastSessionEnd = platform::now();
}

}  // namespace trelliq
