#pragma once
// The row of key caps under a demonstration: which caps, in which order, with which label
// and width, and which of them are held or pressed. Pure; any thread.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ui/model/KeyCapLook.h"

namespace trelliq {

struct KeyRow {
  /// The fixed order of the keys after the leading one.
  static const std::vector<std::string>& order();
  /// Words printed under the modifier caps; "fn" and "`" have none.
  static const std::map<std::string, std::string>& labels();
  /// The whole row is drawn enlarged by this factor.
  static constexpr double scale = 1.4;
  /// The row's height: a cap's 28-point line, enlarged.
  static constexpr double height = 28 * scale;
  static constexpr double spacing = 8;

  /// One cap of the row; every cap but the first is preceded by a "+".
  struct Item {
    KeyCapLook cap;
    bool plusBefore = false;
    friend bool operator==(const Item&, const Item&) = default;
  };

  /// `first` when `keys` holds it, then the other keys of `keys` in `order`; keys in
  /// neither are left out. A cap with a label is 56 wide, one without 36.
  static std::vector<Item> items(const std::set<std::string>& keys, const std::set<std::string>& held,
                                 const std::optional<std::string>& pressed, const std::string& first = "⌘");
};

}  // namespace trelliq
