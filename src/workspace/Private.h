#pragma once
// The one place that asks the window server what it does not publish: the displays with
// their Spaces, the Spaces of a window, which Space each display shows, whether a window
// is ordered in, pictures of single windows, desktop-picture windows, bringing a process
// forward, and an overlay Space of the program's own for its panels. Every answer is read
// fresh from the window server; a missing library or function is not an error, the
// operation just gives its empty answer ([], empty set, nothing or false) and logs nothing.
// Main thread, except `capture`, which any thread may call.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/DynamicLoader.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/PlistValue.h"

namespace trelliq {

class Private final {
 public:
  Private() = delete;

  /// One Space of a display as `displayLayout` reports it.
  struct SpaceLayout {
    std::int64_t id = 0;
    std::string uuid;  // "" when the window server gave none
    bool fullScreen = false;
    friend bool operator==(const SpaceLayout&, const SpaceLayout&) = default;
  };

  /// One display as the window server manages it.
  struct DisplayLayout {
    std::string id;  // the display identifier ("" when missing); the screen's UUID when Spaces are shared
    NSScreen screen;
    std::vector<SpaceLayout> spaces;      // ordinary and full-screen Spaces, in the server's order
    std::optional<std::int64_t> current;  // the Space it shows
  };

  struct Layout {
    std::vector<DisplayLayout> displays;  // left to right
    bool shared = false;                  // one set of Spaces serves several screens
  };

  /// The distance to a Space in steps (positive: to the right) and the centre of its display.
  struct Steps {
    int steps = 0;
    std::optional<CGPoint> center;
  };

  struct SpaceScreen {
    NSScreen screen;
    bool fullScreen = false;
  };

  /// The SkyLight library, opened once; null when it cannot be opened. Any thread.
  static platform::LibraryHandle skyLight();

  /// The managed-display description as it comes: one dictionary per display (every item
  /// is one). [] when the function is missing, it answers null, or the answer is not a list
  /// of dictionaries. The items share the answer's dictionaries rather than copy them.
  static platform::PlistArray displaySpaces();
  /// The displays with their ordinary and full-screen Spaces, sorted left to right (stably).
  /// Displays matching no screen are left out; ([], true) when Spaces are shared but no
  /// screen matched, ([], false) when nothing could be read.
  static Layout displayLayout();
  /// The Space each managed display shows; empty when nothing can be read.
  static std::set<std::int64_t> currentSpaces();
  /// The Space the display on `screen` shows; nothing when unknown.
  static std::optional<std::int64_t> currentSpace(const NSScreen& screen);
  /// The Spaces holding the window, in the server's order (the first is "its" Space);
  /// [] when it lies on none or on any failure.
  static std::vector<std::int64_t> spaces(std::uint32_t window);
  /// The ids of every full-screen Space on every display.
  static std::set<std::int64_t> fullScreenSpaces();
  /// The screen's display UUID; nothing when the screen has no display number or UUID.
  static std::optional<std::string> uuid(const NSScreen& screen);
  /// The screen whose UUID equals `id` (a screen without a UUID matches no id); "Main"
  /// falls back to the first screen. Nothing when none matches.
  static std::optional<NSScreen> screenOfDisplay(const std::optional<std::string>& id);
  /// The centre of that display in global top-left coordinates; nothing when unknown.
  static std::optional<CGPoint> center(const std::optional<std::string>& displayID);
  /// How far the Space lies from its display's current Space (every Space type counts);
  /// nothing when no display lists both.
  static std::optional<Steps> steps(std::int64_t space);
  /// The screen of the display holding the Space, and whether it is a full-screen Space.
  static std::optional<SpaceScreen> screenOfSpace(std::int64_t space);
  /// Whether the window server has the window ordered in; false on any failure.
  static bool isOrderedIn(std::uint32_t window);
  /// A picture of one window, also when covered or on another Space; reduced unless
  /// `fullResolution`. Null on failure. Any thread.
  static CGImageRef capture(std::uint32_t window, bool fullResolution);
  /// The window number behind an accessibility window element; nothing on failure.
  static std::optional<std::uint32_t> windowID(const AXUIElementRef& element);
  /// The desktop-picture window of a Space; nothing when there is none.
  static std::optional<std::uint32_t> wallpaperWindow(std::int64_t space);
  /// The desktop-picture window of each of `spaces` that has one, from one read of the
  /// window list; empty on failure. Any thread.
  static std::map<std::int64_t, std::uint32_t> wallpaperWindows(const std::set<std::int64_t>& spaces);
  /// Puts the windows (those with a number) into the program's overlay Space, made once and
  /// kept above every other Space. Does nothing when the overlay Space cannot be made.
  static void keepOnTop(const std::vector<NSWindow*>& windows);

  /// Makes the process the front process with `window` as its key window, then sends it the
  /// two focus records. False when a function is missing, the process has no serial number
  /// or the window server refuses. Main thread.
  static bool focus(std::int32_t pid, std::uint32_t window);
  /// An accessibility element for a window known only by its number: the cached element id
  /// first, else a scan of ids 0..1999 for at most 1.0 s. Null when none is found. Main thread.
  static AXUIElementRef axElement(std::int32_t pid, std::uint32_t window);

  /// The element id that last produced each window's element in the installed system.
  /// Thread-safe.
  static std::optional<std::uint64_t> cachedElementID(std::uint32_t window);
};

}  // namespace trelliq
