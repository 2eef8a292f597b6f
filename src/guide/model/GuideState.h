#pragma once
// What the Keyboard Shortcuts window shows, as plain state: the mode picked in its mode
// menu, the selected topic and variant, and the reactions to the stored settings and to the
// window closing. Picking a mode here changes only what the guide shows, never the
// switcher's mode. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "guide/model/GuideTopic.h"
#include "settings/Settings.h"

namespace trelliq {

class GuideState {
 public:
  /// Starts on the topic titled `topic` with the stored "tiles" and "gesture" texts.
  explicit GuideState(std::string topic, std::string tiles = "apps", std::string gesture = "");

  // ---- Changes ----
  /// The stored "tiles" text changed: the mode menu returns to the current mode. Both
  /// answer whether the text was new.
  bool setStoredTiles(std::string raw);
  bool setStoredGesture(std::string raw);
  /// A mode chosen in the mode menu; choosing the current mode clears the override.
  void pickMode(Settings::Tiles mode);
  /// A click on a topic's row: that topic with its first variant.
  void selectTopic(const std::string& title);
  void selectVariant(const std::string& name);
  /// The guide's window is closing: the mode menu returns to the current mode.
  void windowWillClose();

  // ---- What shows ----
  /// The stored switcher mode; any unknown text counts as apps.
  Settings::Tiles current() const;
  /// The picked mode, else the current one.
  Settings::Tiles mode() const { return shown_.value_or(current()); }
  const std::optional<Settings::Tiles>& shown() const { return shown_; }
  const std::vector<GuideTopic>& topics() const { return topics_; }
  /// The selected title; it may name no topic of the mode.
  const std::string& topic() const { return topic_; }
  const std::optional<std::string>& variant() const { return variant_; }
  /// The topic titled `topic`, else the mode's first topic.
  const GuideTopic& displayedTopic() const;
  /// The variant named `variant` of the displayed topic, else its first.
  const GuideVariant& displayedVariant() const;
  bool isSelected(const GuideTopic& topic) const { return topic.title == topic_; }
  /// Whether the variant picker shows: two or more variants.
  bool showsVariantPicker() const { return displayedTopic().variants.size() >= 2; }
  /// Changes whenever the demonstration must start over: topic title, "/", variant name.
  std::string demoIdentity() const;

  /// "App cycling", "Window cycling" or "Hybrid".
  static std::string name(Settings::Tiles mode);
  /// The mode menu's items in the order apps, windows, both; the current mode's text ends
  /// with " (current mode)".
  std::vector<std::pair<Settings::Tiles, std::string>> modeItems() const;

  /// A piece of the header sentence.
  struct HeaderPart {
    enum class Kind { text, key, arrow };
    Kind kind = Kind::text;
    /// The words, or the key's glyph.
    std::string text;
    /// The word under a key cap.
    std::string label;
    friend bool operator==(const HeaderPart&, const HeaderPart&) = default;
  };
  /// "Hold" ⌘ ["or" ⌥ in mode both] "press" ⇥ → "let go to switch".
  std::vector<HeaderPart> header() const;

 private:
  template <typename Change>
  void changing(Change change);
  void rebuild();

  std::string tiles_;
  std::string gesture_;
  std::string topic_;
  std::optional<std::string> variant_;
  std::optional<Settings::Tiles> shown_;
  std::vector<GuideTopic> topics_;
};

}  // namespace trelliq
