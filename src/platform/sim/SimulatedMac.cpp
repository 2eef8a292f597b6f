#include "platform/sim/SimulatedMac.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/World.h"

namespace sim {

SimulatedMac::SimulatedMac() = default;

SimulatedMac::~SimulatedMac() {
  if (world_) platform::installSystem(nullptr);
  if (clock_) {
    clock_->shutdown();
    platform::installClock(nullptr);
  }
}

std::optional<std::string> SimulatedMac::start(std::vector<std::string>& args) {
  std::optional<std::string> scenarioPath;
  auto flag = std::find(args.begin(), args.end(), "--scenario");
  if (flag != args.end()) {
    if (flag + 1 == args.end()) return std::string("--scenario needs a file");
    scenarioPath = *(flag + 1);
    args.erase(flag, flag + 2);
  }

  // The simulated user gets a home folder of its own, so the scenario's files (other
  // programs' preferences, the log) never land in the real user's folders.
  const char* chosen = std::getenv("TRELLIQ_HOME");
  const char* real = std::getenv("HOME");
  const std::string home = chosen && *chosen ? chosen : platform::joinPath(real ? real : "/tmp", ".trelliq/home");
  if (!platform::FileManager::createDirectory(home)) return "cannot make the home folder " + home;
  platform::FileManager::setHomeDirectory(home);

  auto world = std::make_unique<World>(home);
  if (scenarioPath) {
    if (auto error = loadScenarioFile(*world, *scenarioPath)) return error;
  } else {
    applyDefaultScenario(*world);
  }

  clock_ = std::make_unique<platform::RealClock>();
  platform::installClock(clock_.get());
  world_ = std::move(world);
  platform::installSystem(world_.get());
  return std::nullopt;
}

World& SimulatedMac::world() { return *world_; }

}  // namespace sim
