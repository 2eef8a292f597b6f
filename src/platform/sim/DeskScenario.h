#pragma once
// The desk sections of a scenario: what the window server holds ("sharedSpaces",
// "followsSpace", "spaces", "unmatchedDisplays", "apps", "frontmost",
// "frontmostRaisesWindow", "windows"), field by field in docs/SCENARIOS.md. "apps" and
// "windows" replace what the desk held. Unknown fields are errors.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/WindowServer.h"

namespace sim {

class World;

struct DeskScenario {
  std::optional<bool> shared;
  std::optional<SpaceFollow> follow;
  struct DisplaySpaceList {
    std::uint32_t display = 0;
    std::vector<Space> spaces;
    std::optional<std::uint64_t> current;
  };
  std::vector<DisplaySpaceList> spaces;
  std::optional<std::vector<std::pair<App, bool>>> apps;  // the app, whether it runs
  /// What is set on a running app once the desk stands.
  struct AppFacts {
    std::int32_t pid = 0;
    std::string where;  // "apps[2]", for messages
    bool noLaunchDate = false;
    bool terminated = false;  // and still listed by the workspace
    std::optional<std::uint32_t> focusedWindow;
    std::vector<std::pair<std::string, AXError>> accessibilityErrors;  // attribute, action or function
  };
  std::vector<AppFacts> appFacts;
  std::optional<App> own;
  std::optional<std::int32_t> frontmost;
  bool frontmostRaisesWindow = true;
  std::optional<std::vector<Window>> windows;  // front to back
  std::optional<platform::PlistArray> unmatchedDisplays;  // managed-display entries
};

/// Reads and checks the desk sections of `root` against the displays the scenario lists.
/// Throws scenario::Problem (ScenarioJson.h).
DeskScenario readDeskScenario(const nlohmann::json& root, const World& world);
/// Puts the desk into the world's window server (nothing when it has none).
void applyDeskScenario(World& world, const DeskScenario& desk);
/// The top-level names readDeskScenario knows.
const std::vector<const char*>& deskScenarioSections();
/// `scenarioText` (a JSON object) with the built-in desk's sections added.
std::string withDefaultDesk(const std::string& scenarioText);

}  // namespace sim
