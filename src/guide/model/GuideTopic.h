#pragma once
// What the Keyboard Shortcuts window teaches: topics, each with one or more variants, and
// the scripts the miniature demonstrations play. Plain values rebuilt from constants; the
// two fixed topics are built once. Key names are the key glyphs "⌘", "⌥", "⇧", "⌃", "⇥",
// "`" and "fn". Pure; any thread.

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "settings/Settings.h"

namespace trelliq {

/// A trackpad gesture a demonstration frame plays.
struct TrackpadMove {
  /// Two fingers gliding in a direction; a positive `dy` scrolls down.
  struct Scroll {
    double dx = 0;
    double dy = 0;
    friend bool operator==(const Scroll&, const Scroll&) = default;
  };
  struct DoubleTap {
    int fingers = 2;
    friend bool operator==(const DoubleTap&, const DoubleTap&) = default;
  };
  /// A two-finger click.
  struct RightClick {
    friend bool operator==(const RightClick&, const RightClick&) = default;
  };

  std::variant<Scroll, DoubleTap, RightClick> kind;

  static TrackpadMove scroll(double dx, double dy) { return {Scroll{dx, dy}}; }
  static TrackpadMove doubleTap(int fingers) { return {DoubleTap{fingers}}; }
  static TrackpadMove rightClick() { return {RightClick{}}; }
  friend bool operator==(const TrackpadMove&, const TrackpadMove&) = default;
};

/// One demonstration script: frames played in order and repeated.
struct Demo {
  /// One frame of a script.
  struct Step {
    /// Keys held in this frame besides the script's `hold`.
    std::set<std::string> held{};
    /// The key pressed in this frame; nothing means no key press.
    std::optional<std::string> tap{};
    /// The highlighted tile (in the lower row when `bottom`); the desktop in window-tile scripts.
    int app = 0;
    bool bottom = false;
    /// The highlighted window of the app, or of the desktop in window-tile scripts.
    int window = 0;
    std::optional<TrackpadMove> move{};
    /// Whether the miniature switcher shows in this frame.
    bool open = true;
    friend bool operator==(const Step&, const Step&) = default;
  };

  /// Key caps shown under the miniature (unused with `trackpad`).
  std::set<std::string> keys{};
  /// Never empty in the built scripts.
  std::vector<Step> steps{};
  /// Windows of the demo's app (dots under the second icon).
  int windows = 0;
  /// Apps in the lower row of apps without windows (at most 3).
  int bottomApps = 0;
  /// The modifier held through the whole demonstration.
  std::string hold = "⌘";
  /// The window-tile miniature rather than the app-tile one.
  bool tiles = false;
  /// A trackpad picture in place of the key caps.
  bool trackpad = false;
  friend bool operator==(const Demo&, const Demo&) = default;
};

/// One demonstration of a topic.
struct GuideVariant {
  /// What the demonstration pane plays: a miniature switcher script, or the two-display demonstration.
  struct Displays {
    friend bool operator==(const Displays&, const Displays&) = default;
  };
  using Visual = std::variant<Demo, Displays>;

  /// The segment label; unique within a topic.
  std::string name;
  Visual visual;
  /// Shown under the demonstration; may hold one line break.
  std::string caption;

  const std::string& id() const { return name; }
  /// The script, or null for the two-display demonstration.
  const Demo* demo() const { return std::get_if<Demo>(&visual); }
  friend bool operator==(const GuideVariant&, const GuideVariant&) = default;
};

struct GuideTopic {
  /// Also the topic's identity.
  std::string title;
  std::string line;
  /// Never empty.
  std::vector<GuideVariant> variants;

  const std::string& id() const { return title; }
  /// The variant named `name`, else the first one.
  const GuideVariant& variant(const std::optional<std::string>& name) const;

  /// The topics of one switcher mode in display order: 7 for apps, 6 for windows, 9 for both.
  static std::vector<GuideTopic> all(Settings::Tiles tiles, std::optional<Settings::Gesture> gesture);

  // One topic each. `tiles` is true in the window-tile mode; `hold` is the modifier that
  // opens window tiles in that mode.
  static const GuideTopic& apps();
  static const GuideTopic& spaces();
  static GuideTopic displays();
  static GuideTopic appWindows(const std::string& title);
  static GuideTopic tray(bool tiles);
  static GuideTopic scrolling(bool tiles);
  static GuideTopic withoutKeyboard(bool tiles, std::optional<Settings::Gesture> gesture);
  static GuideTopic windows(const std::string& title, const std::string& hold);
  static GuideTopic oneDesktop(const std::string& hold);

  friend bool operator==(const GuideTopic&, const GuideTopic&) = default;
};

}  // namespace trelliq
