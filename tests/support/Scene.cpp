#include "Scene.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Foundation.h"
#include "platform/sim/Scenario.h"

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

Scene::Scene(Start start) : home(makeHome()), world(world_.emplace(home)) {
  platform::FileFaults::clear();
  UserDefaults::standard().resetRegistration();
  platform::installClock(&clock);
  platform::installSystem(&world);
  if (start == Start::defaultScenario) sim::applyDefaultScenario(world);
}

Scene::~Scene() {
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
  platform::installSystem(nullptr);
  UserDefaults::standard().resetRegistration();
  world_.reset();
  world_.emplace(home);
  platform::installSystem(&world);
  if (start == Start::defaultScenario) sim::applyDefaultScenario(world);
}
