#pragma once
// One option of the standard user defaults as the form's controls see it: read afresh on
// every call, written at once. A stored value of the wrong type reads as the fallback and
// is left in place until the user picks something. Main thread.

#include <string>

namespace trelliq {

struct StoredString {
  std::string key;
  /// What reads while the defaults hold no string for `key`.
  std::string fallback;

  /// The stored string (registered defaults included), else `fallback`.
  std::string get() const;
  /// Writes `value` to the application domain; other readers see it at once.
  void set(const std::string& value) const;
};

struct StoredBool {
  std::string key;
  bool fallback = false;

  /// The stored value as the system converts it, `fallback` while nothing is stored.
  bool get() const;
  void set(bool value) const;
};

}  // namespace trelliq
