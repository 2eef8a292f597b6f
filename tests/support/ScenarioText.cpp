#include "support/ScenarioText.h"

#include <nlohmann/json.hpp>

#include "platform/sim/Scenario.h"

namespace scenarios {

std::string withBuiltInDisplays(const std::string& text) {
  using nlohmann::json;
  json root = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/true);
  if (!root.is_object() || root.contains("displays")) return text;
  root["displays"] = json::parse(sim::defaultScenarioText(), nullptr, true, true)["displays"];
  return root.dump();
}

}  // namespace scenarios
