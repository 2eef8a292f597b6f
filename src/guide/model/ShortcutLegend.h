#pragma once
// The reference card of the Keyboard Shortcuts window: every key that steers the open
// switcher, grouped by the modifier that must be held, for one switcher mode. The tables
// are fixed; the groups depend on the mode and on whether the ⌥` switcher is on. Pure;
// main thread for `groups` (it reads the setting).

#include <string>
#include <vector>

#include "settings/Settings.h"

namespace trelliq {

class ShortcutLegend {
 public:
  /// One line of the card: one key, or the two ends of a pair with `between` between them.
  struct Entry {
    std::vector<std::string> keys;
    std::string between;
    std::string text;
    friend bool operator==(const Entry&, const Entry&) = default;
  };
  struct Group {
    /// The modifier held.
    std::string hold;
    std::string title;
    std::vector<Entry> entries;
    friend bool operator==(const Group&, const Group&) = default;
  };

  /// Entries per row.
  static constexpr int columns = 2;
  /// Side of one square key glyph.
  static constexpr double keySize = 28;
  /// Width of the keys column of every cell (a pair fills it: 28 + 4 + 8 + 4 + 28).
  static constexpr double keysWidth = 72;

  static const std::vector<Entry>& apps();
  static const std::vector<Entry>& windows();
  /// `windows` without the lines of ⌥, 1–9, Q, H and W.
  static const std::vector<Entry>& windowsOnOption();
  static const std::vector<Entry>& appWindowsOnOption();

  /// The groups shown for `mode`; the ⌥` group comes last when `appWindows` is on.
  static std::vector<Group> groups(Settings::Tiles mode, bool appWindows);
  /// As above with the stored "appWindows" setting, read now.
  static std::vector<Group> groups(Settings::Tiles mode) { return groups(mode, Settings::appWindows()); }

  /// The entries cut into rows of `columns`; the last row may hold one.
  static std::vector<std::vector<Entry>> rows(const std::vector<Entry>& entries);
  /// The point size of a key glyph: 13 for one character, 11 for words ("fn", "esc").
  static double keyFontSize(const std::string& key);
};

}  // namespace trelliq
