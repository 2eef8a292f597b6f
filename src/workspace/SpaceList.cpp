#include "workspace/SpaceList.h"

#include <algorithm>
#include <set>

#include "workspace/Private.h"

namespace trelliq {

std::string spaceListText(const std::vector<std::int64_t>& spaces) {
  std::string text = "[";
  for (std::size_t i = 0; i < spaces.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(spaces[i]);
  }
  return text + "]";
}

std::vector<std::int64_t> currentSpacesSorted() {
  const auto current = Private::currentSpaces();
  return {current.begin(), current.end()};  // a std::set is already ascending
}

bool onCurrentSpace(std::uint32_t window) {
  const std::vector<std::int64_t> spaces = Private::spaces(window);
  if (spaces.empty()) return true;  // unknown: treat as showing
  const std::set<std::int64_t> current = Private::currentSpaces();
  return std::any_of(spaces.begin(), spaces.end(), [&](std::int64_t s) { return current.count(s) > 0; });
}

}  // namespace trelliq
