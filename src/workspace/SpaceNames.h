#pragma once
// The names the user gave to desktops and to full-screen windows, kept in the user
// defaults under "spaceNames" as one dictionary from a names key to the name. Keys are
// "desktop/<Space uuid>" or "window/<window number>"; names are trimmed and never empty.
// Main thread only.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "settings/DefaultsKeys.h"

namespace trelliq {

class SpaceNames final {
 public:
  SpaceNames() = delete;

  static constexpr const char* defaultsKey = defaultskey::spaceNames;

  /// "desktop/" + uuid.
  static std::string key(const std::string& desktopUUID);
  /// "window/" + the number in decimal.
  static std::string key(std::uint32_t window);

  /// Every stored string-to-string entry. Entries of another shape are skipped one by
  /// one rather than discarding the rest; a stored value that is not a dictionary, or
  /// none, answers an empty dictionary.
  static std::map<std::string, std::string> all();

  /// Trims white space and line ends from `name`; stores it under `key`, or removes the
  /// key when nothing is left, then saves the valid names.
  static void set(const std::string& name, const std::string& key);

  /// Writes `names` under "spaceNames", or removes the key when `names` is empty.
  /// Failed writes are not reported.
  static void save(const std::map<std::string, std::string>& names);

  /// Drops the "window/" names of windows not in `windows` (and keys that are neither a
  /// desktop key nor a window's key); saves only when something was dropped.
  static void forgetWindows(const std::vector<std::uint32_t>& windows);

  /// `text` without white space and line ends at either end.
  static std::string trimmed(const std::string& text);
};

}  // namespace trelliq
