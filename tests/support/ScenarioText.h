#pragma once
// Scenario text for tests that check one section: a scenario must list its displays, so
// such a test borrows the built-in desk's.

#include <string>

namespace scenarios {

/// `text` with the built-in desk's "displays" added when it is a JSON object that lists
/// none; any other text (malformed, not an object) comes back unchanged.
std::string withBuiltInDisplays(const std::string& text);

}  // namespace scenarios
