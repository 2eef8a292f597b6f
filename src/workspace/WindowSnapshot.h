#pragma once
// Which windows each running application has at one moment: the standard windows the
// accessibility interface reports, completed by windows only the window server lists
// (minimized ones, those of hidden apps, ordered-in ones on a current Space, and while an
// app's accessibility answer is missing or it has just launched, ordered-in ones on other
// Spaces). The window list and the Space sets are read once, at construction; the
// per-application questions still ask the accessibility interface and the window server
// when called. Main thread only; nothing is logged.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/Geometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class WindowSnapshot {
 public:
  /// Reads the layer-0 window list (desktop elements left out), the current and
  /// full-screen Spaces and whether window names can be read. An unreadable list gives an
  /// empty snapshot.
  WindowSnapshot();

  /// What the snapshot uses of one layer-0 entry of the window list.
  struct Listed {
    std::optional<std::uint32_t> number;
    std::optional<double> alpha;
    bool hasBounds = false;        // it has a bounds dictionary ...
    std::optional<CGRect> bounds;  // ... and this is it as a rectangle, when it is one
    bool large = false;            // the bounds have a width and a height of at least 100 points
    std::optional<std::string> name;
  };
  /// The layer-0 entries grouped by owner pid (0 when missing), each group front to back.
  const std::map<std::int32_t, std::vector<Listed>>& cgWindows() const { return cgWindows_; }
  const std::set<std::int64_t>& currentSpaces() const { return currentSpaces_; }
  const std::set<std::int64_t>& fullScreenSpaces() const { return fullScreenSpaces_; }
  /// Window number -> its position (from 0) in the layer-0 list, front first; the first
  /// position wins for a number listed twice.
  const std::map<std::uint32_t, int>& order() const { return order_; }
  /// Whether window names could be read (screen capture allowed) at construction.
  bool titlesKnown() const { return titlesKnown_; }
  /// False when the window list could not be read at all, as opposed to an empty list, so
  /// callers do not take a failed read for "every window is gone".
  bool listRead() const { return listRead_; }

  /// The window's bounds (global, top-left origin) as listed; nothing when not listed.
  std::optional<CGRect> bounds(std::uint32_t window) const;
  /// The Spaces the window lies on, asked of the window server once per snapshot.
  const std::vector<std::int64_t>& spaces(std::uint32_t window) const;
  /// Whether the window lies on a full-screen Space; false for no window.
  bool isFullScreen(std::optional<std::uint32_t> window) const;
  /// The application's windows, sorted by window number with unnumbered ones last. With
  /// `titledOnly`, windows known only from the list need a name. Reports each standard
  /// window's minimized state to Minimized. Waits at most 0.25 s per accessibility call.
  std::vector<WindowInfo> windows(const NSRunningApplication& app, bool titledOnly) const;
  /// Whether the process has an ordered-in, not fully transparent window of at least
  /// 100 by 100 points.
  bool mayHaveWindows(std::int32_t pid) const;
  /// The program's own titled windows that are visible or minimized.
  std::vector<WindowInfo> ownWindows() const;

 private:
  std::map<std::int32_t, std::vector<Listed>> cgWindows_;
  std::set<std::int64_t> currentSpaces_;
  std::set<std::int64_t> fullScreenSpaces_;
  std::map<std::uint32_t, int> order_;
  bool titlesKnown_ = false;
  bool listRead_ = true;
  /// What bounds() answers per listed number, worked out once from cgWindows; sorted by
  /// number, one entry a number.
  std::vector<std::pair<std::uint32_t, std::optional<CGRect>>> bounds_;
  /// What spaces() was answered so far.
  mutable std::unordered_map<std::uint32_t, std::vector<std::int64_t>> spaces_;
};

}  // namespace trelliq
