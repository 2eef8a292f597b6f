#include "Scene.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/AppKitAppearance.h"
#include "platform/Files.h"
#include "platform/Foundation.h"
#include "platform/WindowServerPort.h"
#include "platform/sim/AccessibilityServer.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"

namespace {
// The accessibility and event halves of the window server.
void serve(sim::WindowServer& server) {
  server.attachAccessibility(std::make_unique<sim::AccessibilityServer>(server));
  server.attachEvents(std::make_unique<sim::EventServer>(server));
}
}  // namespace

std::string Scene::makeHome() {
  std::string base = std::filesystem::temp_directory_path().string();
  std::string pattern = platform::joinPath(base, "trelliq-scene-XXXXXX");
  if (!::mkdtemp(pattern.data())) {
    std::perror("Scene: cannot make a temporary home folder");
    std::abort();
  }
  platform::FileManager::setHomeDirectory(pattern);
  return pattern;
}

Scene::Scene(Start start)
    : home(makeHome()), world(world_.emplace(home)), windowServer(windowServer_.emplace(world)) {
  platform::FileFaults::clear();
  UserDefaults::standard().resetRegistration();
  platform::installClock(&clock);
  platform::installSystem(&world);
  serve(windowServer);
  platform::installWindowServer(&windowServer);
  if (start == Start::defaultScenario) sim::applyDefaultScenario(world);
}

Scene::~Scene() {
  platform::installWindowServer(nullptr);
  platform::installSystem(nullptr);
  platform::installClock(nullptr);
  platform::FileFaults::clear();
  UserDefaults::standard().resetRegistration();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  platform::FileManager::setHomeDirectory("");
}

std::string Scene::path(const std::string& relative) const { return platform::joinPath(home, relative); }

void Scene::restart(Start start) {
  platform::installWindowServer(nullptr);
  platform::installSystem(nullptr);
  UserDefaults::standard().resetRegistration();
  windowServer_.reset();
  world_.reset();
  world_.emplace(home);
  windowServer_.emplace(world);
  platform::installSystem(&world);
  serve(windowServer);
  platform::installWindowServer(&windowServer);
  if (start == Start::defaultScenario) sim::applyDefaultScenario(world);
}

void Scene::setDark(bool dark) {
  world.setPreferenceValue(sim::World::kGlobalDomain, "AppleInterfaceStyle",
                           dark ? std::optional<platform::PlistValue>(std::string("Dark")) : std::nullopt);
  (void)NSAppearance::current();  // the first look at this world reads at once
  clock.advance(1);
  (void)NSAppearance::current();  // a later one asks again on a queue
  clock.runUntilIdle();
}
