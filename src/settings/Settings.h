#pragma once
// The user's options: typed accessors over the standard user defaults, their
// registered defaults, the one-time carry-over from the maker's earlier product, and
// two probes of the system's own settings (Dock hot corners, trackpad gestures).
// Options are read afresh on every call and never cached, so a change made anywhere
// takes effect at the next read. Every accessor may be called from any thread.

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/Foundation.h"
#include "settings/Choice.h"

namespace trelliq {

// The cases of the option types, kept apart so the types below can inherit them.
namespace choices {
struct Preview {
  enum Case { none, thumbnail, fullScreen };
};
struct Desktops {
  enum Case { always, whenEmpty, firstWhenEmpty };
};
struct Tiles {
  enum Case { apps, windows, both };
};
struct Names {
  enum Case { focused, always };
};
struct HotCorner {
  enum Case { topLeft, topRight, bottomLeft, bottomRight };
};
struct Gesture {
  enum Case { threeFingerDoubleTap, fourFingerDoubleTap };
};
}  // namespace choices

class Settings final {
 public:
  Settings() = delete;

  /// Kind of live window preview, stored under "preview".
  class Preview : public Choice<Preview, choices::Preview, 3> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 3> rawValues{"none", "thumbnail", "fullScreen"};
  };

  /// Which desktops get a desktop tile of their own, stored under "desktops".
  class Desktops : public Choice<Desktops, choices::Desktops, 3> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 3> rawValues{"always", "whenEmpty", "firstWhenEmpty"};
  };

  /// The switcher mode, stored under "tiles".
  class Tiles : public Choice<Tiles, choices::Tiles, 3> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 3> rawValues{"apps", "windows", "both"};
  };

  /// When tile names show, stored under "names" (the panel views read it themselves).
  class Names : public Choice<Names, choices::Names, 2> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 2> rawValues{"focused", "always"};
  };

  /// A screen corner that opens the switcher; the chosen ones are stored under
  /// "hotCorner" as a comma-separated list of raw values.
  class HotCorner : public Choice<HotCorner, choices::HotCorner, 4> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 4> rawValues{"topLeft", "topRight", "bottomLeft", "bottomRight"};

    /// "top left", "top right", "bottom left" or "bottom right".
    std::string_view title() const;
    bool isLeft() const;
    bool isTop() const;
    /// Whether the Dock's own hot corner there is active without a modifier key. Re-reads
    /// the Dock's preferences on every call; missing or mistyped values mean not taken.
    bool takenByMacOS() const;

    /// The corners named in a stored "hotCorner" text: pieces between commas that are
    /// exactly a raw value; empty, blank-padded or unknown pieces are dropped.
    static std::set<HotCorner> set(std::string_view text);
    /// The stored form of `corners`: raw values in case order joined with ","; "" for none.
    static std::string stored(const std::set<HotCorner>& corners);
    /// The titles in case order as prose: "a", "a or b", "a, b and c" (" and " unless `withOr`).
    static std::string list(const std::set<HotCorner>& corners, bool withOr);
  };

  /// A trackpad double tap that opens the switcher, stored under "gesture" ("" for none).
  class Gesture : public Choice<Gesture, choices::Gesture, 2> {
   public:
    using Choice::Choice;
    static constexpr std::array<std::string_view, 2> rawValues{"threeFingerDoubleTap", "fourFingerDoubleTap"};

    /// A macOS feature that already listens to the gesture, and where to turn it off.
    struct MacOSUse {
      std::string what;
      std::string settings;
      std::string link;
      /// True when the switcher leaves the gesture to that feature and does not open on it.
      bool yields = false;
      friend bool operator==(const MacOSUse&, const MacOSUse&) = default;
    };

    /// The gesture made with that many fingers (3 or 4); nothing for any other count.
    static std::optional<Gesture> fromFingers(int fingers);
    int fingers() const;
    /// "Double-tap with three fingers" or "Double-tap with four fingers".
    std::string_view title() const;
    /// The macOS feature using this gesture, read afresh from the system's preferences:
    /// Zoom wins over look-up; always nothing for the four-finger tap.
    std::optional<MacOSUse> usedByMacOS() const;
  };

  /// The one user-defaults object every option goes through; other parts keep their own
  /// keys there too ("spaceNames", the permission marks).
  static UserDefaults& defaults();

  /// Called once at launch on the main thread before any option is read: carries the
  /// earlier product's settings over once per user, migrates the old preview and desktop
  /// keys, then registers the defaults of the eight registered options. Named so because
  /// `register` is reserved in C++.
  static void registerDefaults();

  /// `none` whenever screen capture is not allowed; else "none" and "fullScreen" as
  /// stored, anything else (or nothing) `thumbnail`.
  static Preview preview();
  static bool showThumbnails();
  static bool showInPlace();
  static bool instantSpaces();
  static bool appWindows();
  /// Missing or unknown values read as `always`.
  static Desktops desktops();
  /// Missing or unknown values read as `apps`.
  static Tiles tiles();
  /// Nothing unless the stored text is exactly one of the two raw values.
  static std::optional<Gesture> gesture();
  static std::set<HotCorner> hotCorners();

  /// The earlier product's defaults domain, copied once on first run.
  static constexpr const char* earlierProductDomain = "app.ondrel.tabrook";
};

}  // namespace trelliq
