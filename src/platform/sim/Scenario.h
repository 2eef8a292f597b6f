#pragma once
// Scenarios: a desk described in JSON and loaded into a World. The format, field by field,
// is docs/SCENARIOS.md; this file reads the system's sections ("osVersion", "glassVariant",
// "displays", "permissions", "loginItem", "preferences", "missingSymbols"), DeskScenario.h
// the desk's.
// Unknown fields are errors, so a misspelt one is caught rather than ignored.

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

class World;

/// The largest scenario file read: 16 MB, far above any desk a person writes.
inline constexpr std::uint64_t kMaxScenarioBytes = 16 * 1024 * 1024;

/// Loads the scenario file at `path` into `world`. Nothing on success; otherwise a
/// one-line message naming the file and the problem, and the world is left as it was.
/// Anything but a regular file (a FIFO, a device) and a file over kMaxScenarioBytes is
/// refused before it is read.
std::optional<std::string> loadScenarioFile(World& world, const std::string& path);
/// The same for scenario text; `name` stands for the file in messages.
std::optional<std::string> loadScenarioText(World& world, const std::string& text, const std::string& name);

/// The built-in desk: a 1512×982 built-in display at the origin and a 2560×1440 display
/// to its right, both permissions granted, the login item not registered, and a few
/// realistic settings of other programs.
void applyDefaultScenario(World& world);
/// The built-in desk as scenario text (a starting point for scenario files).
const std::string& defaultScenarioText();

}  // namespace sim
