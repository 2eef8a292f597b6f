#include "guide/model/ShortcutLegend.h"

#include <algorithm>

namespace trelliq {
namespace {

using Entry = ShortcutLegend::Entry;

Entry one(std::string key, std::string text) { return {{std::move(key)}, "", std::move(text)}; }
Entry pair(std::string a, std::string b, std::string between, std::string text) {
  return {{std::move(a), std::move(b)}, std::move(between), std::move(text)};
}

// `moving` (the keys that move through the tiles) followed by the keys app and window
// tiles share.
std::vector<Entry> withSharedKeys(std::vector<Entry> moving) {
  const std::vector<Entry> shared{
      pair("1", "9", "–", "Pick a window"),
      one("⌃", "Apps without windows (tap)"),
      one("fn", "Steer another display"),
      pair("↑", "↓", "/", "Full screen on / off"),
      one("Q", "Quit the app"),
      one("H", "Hide the app"),
      one("W", "Close the window"),
      one("esc", "Cancel"),
  };
  moving.insert(moving.end(), shared.begin(), shared.end());
  return moving;
}

}  // namespace

const std::vector<Entry>& ShortcutLegend::apps() {
  static const std::vector<Entry> table = withSharedKeys({
      one("⇥", "Next app (⇧ goes back)"),
      pair("←", "→", "/", "Previous / next app"),
      one("⌥", "Next Space (tap)"),
      one("`", "Next window"),
  });
  return table;
}

const std::vector<Entry>& ShortcutLegend::windows() {
  static const std::vector<Entry> table = withSharedKeys({
      one("⇥", "Next window (⇧ goes back)"),
      pair("←", "→", "/", "Previous / next tile"),
      one("⌥", "Next tile (tap)"),
      one("`", "Next window on this desktop"),
      one("⇧", "The desktop itself (tap)"),
  });
  return table;
}

const std::vector<Entry>& ShortcutLegend::windowsOnOption() {
  static const std::vector<Entry> table = [] {
    std::vector<Entry> kept = windows();
    std::erase_if(kept, [](const Entry& e) {
      static const std::vector<std::string> dropped{"1", "Q", "H", "W", "⌥"};
      return !e.keys.empty() && std::find(dropped.begin(), dropped.end(), e.keys.front()) != dropped.end();
    });
    return kept;
  }();
  return table;
}

const std::vector<Entry>& ShortcutLegend::appWindowsOnOption() {
  static const std::vector<Entry> table{
      one("`", "The app's next window (⇧ goes back)"), pair("←", "→", "/", "Previous / next window"),
      one("fn", "Steer another display"), pair("↑", "↓", "/", "Full screen on / off"), one("esc", "Cancel")};
  return table;
}

std::vector<ShortcutLegend::Group> ShortcutLegend::groups(Settings::Tiles mode, bool appWindows) {
  std::vector<Group> result;
  switch (mode) {
    case Settings::Tiles::apps:
      result.push_back({"⌘", "All shortcuts", apps()});
      break;
    case Settings::Tiles::windows:
      result.push_back({"⌘", "All shortcuts", windows()});
      break;
    case Settings::Tiles::both:
      result.push_back({"⌘", "App tiles", apps()});
      result.push_back({"⌥", "Window tiles", windowsOnOption()});
      break;
  }
  if (appWindows) result.push_back({"⌥", "An app's windows, opened with ⌥`", appWindowsOnOption()});
  return result;
}

std::vector<std::vector<Entry>> ShortcutLegend::rows(const std::vector<Entry>& entries) {
  std::vector<std::vector<Entry>> result;
  for (std::size_t i = 0; i < entries.size(); i += columns) {
    const auto end = std::min(entries.size(), i + static_cast<std::size_t>(columns));
    result.emplace_back(entries.begin() + static_cast<std::ptrdiff_t>(i),
                        entries.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return result;
}

double ShortcutLegend::keyFontSize(const std::string& key) {
  // Counted in characters, not bytes: "⌥" is one character of three bytes.
  std::size_t characters = 0;
  for (unsigned char c : key) {
    if ((c & 0xC0) != 0x80) ++characters;
  }
  return characters < 2 ? 13 : 11;
}

}  // namespace trelliq
