#pragma once
// What the self-test modes read of the world: the window list as they read it, the
// windows another running copy of the program shows, the owner of a window, the current
// Spaces and one-line descriptions of the front application. Everything runs on the main
// thread, keeps no state between calls and changes nothing.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class WorldReader final {
 public:
  WorldReader() = delete;

  // ---- Windows --------------------------------------------------------------------------
  /// The running application owning `window` (from the window list) and the window as a
  /// bare value (number and pid only); nothing when the list does not know it or its
  /// owner no longer runs.
  static std::optional<std::pair<AppInfo, WindowInfo>> owner(std::uint32_t window);

  /// One entry of the window list as the modes read it; a missing field stays empty.
  struct Listed {
    std::optional<std::uint32_t> number;
    std::optional<std::string> owner;
    std::optional<std::int32_t> pid;
    std::optional<std::int64_t> layer;
    std::string layerText = "?";  // as the list holds it
    std::string alphaText = "?";
    std::optional<CGRect> bounds;  // nothing when missing or unreadable
    std::string title;
    bool onScreen = false;

    /// Of another process than this one (an entry without a process id counts).
    bool foreign() const;
    /// Of another running copy of the program: owned by "Trelliq" and foreign.
    bool otherCopy() const;
  };
  /// The window list with `option`, front to back; [] when it cannot be read.
  static std::vector<Listed> windowList(CGWindowListOption option, std::uint32_t relativeTo = 0);

  // ---- The other copy -------------------------------------------------------------------
  /// The other copy's on-screen windows: "layer <layer> bounds (<x>, <y>, <w>, <h>)".
  static std::vector<std::string> ours();
  /// Another process's on-screen windows of `owner`: "layer <layer> <title> (<x>, …)".
  static std::vector<std::string> onScreen(const std::string& owner);
  /// The numbers of another process's on-screen windows of `owner` above layer 0.
  static std::set<std::uint32_t> windows(const std::string& owner);
  /// How many on-screen windows of `owner`, in another process, are at `layer`.
  static std::size_t count(const std::string& owner, std::int64_t layer);
  /// Whether a line of `ours` or `onScreen` stands for a switcher panel (layer 101).
  static bool isPanel(const std::string& line) { return line.starts_with("layer 101"); }

  // ---- The desk -------------------------------------------------------------------------
  /// The current Spaces, ascending, as "[1, 2]".
  static std::string spaces();
  /// The frontmost application's localized name; `missing` without one or without a name.
  static std::string frontName(const std::string& missing = "?");
  /// "front <name> focused window <id> <note>": the focused window's number ("-" when
  /// unknown) and "main=1"/"main=0" from its accessibility element (empty when unreadable).
  static std::string state();
  /// "front <name>, we're active <bool>, window key <bool>" for the program's own window.
  static std::string state(const NSApplication& app, const NSWindow& window);
};

}  // namespace trelliq
