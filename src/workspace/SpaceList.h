#pragma once
// Space ids as the diagnostics write them, and the Spaces showing now in that order.

#include <cstdint>
#include <string>
#include <vector>

namespace trelliq {

/// "[3, 12]": the values in brackets, comma and blank between. Pure.
std::string spaceListText(const std::vector<std::int64_t>& spaces);
/// The current Spaces, ascending. Any thread.
std::vector<std::int64_t> currentSpacesSorted();
/// Whether one of the window's Spaces shows now; a window whose Spaces are unknown counts
/// as showing. Any thread.
bool onCurrentSpace(std::uint32_t window);

}  // namespace trelliq
