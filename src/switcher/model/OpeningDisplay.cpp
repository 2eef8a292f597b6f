#include "switcher/model/OpeningDisplay.h"

#include <algorithm>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

std::optional<int> OpeningDisplay::displayAt(CGPoint point, const Workspace& workspace) {
  const auto& displays = workspace.displays;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    if (NSMouseInRect(point, displays[i].screen.frame(), false)) return static_cast<int>(i);
  }
  return std::nullopt;
}

int OpeningDisplay::openingDisplay(const Workspace& workspace, const OpeningHints& hints) {
  const double since = hints.lastSessionEnd.value_or(-1e300);  // the distant past

  struct Candidate {
    int display;
    double at;
  };
  std::optional<Candidate> best;
  if (const auto& click = hints.lastDesktopClick; click && click->at > since) {
    if (const auto d = displayAt(click->point, workspace)) best = Candidate{*d, click->at};
  }
  if (const auto& focus = hints.latestFocus; focus && focus->at > since) {
    std::optional<int> holder;
    const auto& displays = workspace.displays;
    for (std::size_t d = 0; d < displays.size() && !holder; ++d) {
      for (const SpaceGroup& group : displays[d].spaces) {
        for (const Cluster& c : group.clusters) {
          const bool holds = std::any_of(c.windows.begin(), c.windows.end(),
                                         [&](const WindowInfo& w) { return w.windowID == focus->window; });
          if (holds) holder = static_cast<int>(d);
          if (holder) break;
        }
        if (holder) break;
      }
    }
    // Only a strictly later focus displaces the desktop click.
    if (holder && (!best || focus->at > best->at)) best = Candidate{*holder, focus->at};
  }
  if (best) return best->display;

  if (hints.lastDisplayID) {
    const auto& displays = workspace.displays;
    for (std::size_t d = 0; d < displays.size(); ++d) {
      if (displays[d].id == *hints.lastDisplayID) return static_cast<int>(d);
    }
  }
  return displayAt(hints.pointer, workspace).value_or(0);
}

int OpeningDisplay::appDisplay(const Workspace& workspace, const OpeningHints& hints, const Recency& recency) {
  std::vector<std::uint64_t> newest;
  for (const DisplayGroup& g : workspace.displays) {
    std::uint64_t top = 0;
    for (const AppWindowStop& stop : SwitcherModel::appWindowStops(g, workspace.appDesktops, recency)) {
      top = std::max(top, stop.stamp);
    }
    newest.push_back(top);
  }
  const auto it = std::max_element(newest.begin(), newest.end());  // the first of equal maxima
  if (it == newest.end() || *it == 0) return openingDisplay(workspace, hints);
  return static_cast<int>(it - newest.begin());
}

bool OpeningDisplay::isOnDesktop(CGPoint point, const std::vector<NSScreen>& screens,
                                 const std::optional<platform::PlistArray>& windowList) {
  const auto screen = std::find_if(screens.begin(), screens.end(),
                                   [&](const NSScreen& s) { return NSMouseInRect(point, s.frame(), false); });
  if (screen == screens.end()) return false;
  if (!NSMouseInRect(point, screen->visibleFrame(), false)) return false;  // menu bar or Dock
  // The click only biases the next opening: with no list to contradict it, it counts.
  if (!windowList) return true;

  const double primaryTop = screens.front().frame().maxY();
  const CGPoint server = platform::flipPoint(point, primaryTop);
  for (const platform::PlistValue& entry : *windowList) {
    const platform::PlistDictionary* window = entry.asDictionary();
    if (!window) continue;
    if (platform::integerEntry(*window, kCGWindowLayer) != 0) continue;
    if (!(platform::doubleEntry(*window, kCGWindowAlpha).value_or(0) > 0)) continue;
    const platform::PlistDictionary* boundsDict = platform::dictionaryEntry(*window, kCGWindowBounds);
    CGRect bounds;
    if (!boundsDict || !CGRectMakeWithDictionaryRepresentation(*boundsDict, &bounds)) continue;
    if (bounds.contains(server)) return false;
  }
  return true;
}

bool OpeningDisplay::isOnDesktop(CGPoint point) {
  return isOnDesktop(point, NSScreen::screens(),
                     CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                                                kCGNullWindowID));
}

}  // namespace trelliq
