#pragma once
// Small desks for the window-server tests, a stand-in for the display description, and
// the diagnostics log's messages without their time stamps.

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlistValue.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/WindowServer.h"
#include "settings/Diagnostics.h"
#include "support/Scene.h"

namespace trelliq::scenes {

inline sim::Space space(std::uint64_t id, std::int32_t type = sim::kSpaceTypeDesktop) {
  sim::Space s;
  s.id = id;
  s.uuid = "uuid-" + std::to_string(id);
  s.type = type;
  return s;
}

/// Display 1: 1440×900 at the origin with Spaces 11, 12 (showing), 13; display 2: 1920×1080
/// to its right with Spaces 21 (showing), 22.
inline void twoDisplays(Scene& scene) {
  scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in"),
                           sim::makeDisplay(2, CGRect(1440, 0, 1920, 1080), "Studio")});
  scene.windowServer.setSpaces(1, {space(11), space(12), space(13)}, 12);
  scene.windowServer.setSpaces(2, {space(21), space(22)}, 21);
}

inline std::int32_t addApp(Scene& scene, const std::string& name,
                           platform::ActivationPolicy policy = platform::ActivationPolicy::regular) {
  sim::App app;
  app.name = name;
  app.bundleIdentifier = "org.example." + name;
  app.bundlePath = "/Applications/" + name + ".app";
  app.policy = policy;
  app.launchDate = scene.clock.now() - 3600;
  return scene.windowServer.addApp(app);
}

struct NewWindow {
  std::int32_t pid = 0;
  std::string title = "Untitled";
  CGRect bounds = CGRect(100, 100, 800, 600);
  std::vector<std::uint64_t> spaces;
  bool accessible = true;
  bool orderedIn = true;
  double alpha = 1;
  std::string subrole = "AXStandardWindow";
};

inline std::uint32_t addWindow(Scene& scene, const NewWindow& window) {
  sim::Window w;
  w.pid = window.pid;
  w.title = window.title;
  w.bounds = window.bounds;
  w.spaces = window.spaces;
  w.accessible = window.accessible;
  w.orderedIn = window.orderedIn;
  w.alpha = window.alpha;
  w.subrole = window.subrole;
  return scene.windowServer.addWindow(w);
}

inline std::vector<std::string> logMessages() {
  std::vector<std::string> messages;
  std::ifstream file(Diagnostics::url());
  for (std::string line; std::getline(file, line);) messages.push_back(line.size() > 13 ? line.substr(13) : "");
  return messages;
}

/// Stands in for "SLSCopyManagedDisplaySpaces" with descriptions the simulated server never makes.
struct FakeDisplaySpaces {
  static inline std::optional<platform::PlistArray> answer;
  static std::optional<platform::PlistArray> copy(CGSConnectionID) { return answer; }
  static void install(Scene& scene, std::optional<platform::PlistArray> value) {
    answer = std::move(value);
    scene.world.addFunction<SLSCopyManagedDisplaySpaces_t>(kSkyLightPath, "SLSCopyManagedDisplaySpaces", &copy);
  }
};

inline platform::PlistDictionary spaceEntry(long long id, long long type) {
  return {{"id64", platform::PlistValue(id)}, {"type", platform::PlistValue(type)}};
}

inline platform::PlistDictionary displayEntry(std::string identifier, platform::PlistArray spaces,
                                              std::optional<long long> current) {
  platform::PlistDictionary display{{"Display Identifier", identifier}, {"Spaces", spaces}};
  if (current) display["Current Space"] = platform::PlistDictionary{{"id64", platform::PlistValue(*current)}};
  return display;
}

}  // namespace trelliq::scenes
