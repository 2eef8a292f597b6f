#include "platform/sim/SimulatedMac.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/sim/AccessibilityServer.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace sim {

std::optional<std::string> takeScenarioArgument(std::vector<std::string>& args, std::optional<std::string>& path) {
  auto flag = std::find(args.begin(), args.end(), "--scenario");
  if (flag == args.end()) return std::nullopt;
  if (flag + 1 == args.end()) return std::string("--scenario needs a file");
  if (std::find(flag + 2, args.end(), "--scenario") != args.end()) return std::string("--scenario is given twice");
  path = *(flag + 1);
  args.erase(flag, flag + 2);
  return std::nullopt;
}

std::optional<std::string> makeSimulatedHome(std::string& home) {
  // The simulated user gets a home folder of its own, so the scenario's files (other
  // programs' preferences, the log) never land in the real user's folders.
  const char* chosen = std::getenv("TRELLIQ_HOME");
  const char* real = std::getenv("HOME");
  home = chosen && *chosen ? chosen : platform::joinPath(real ? real : "/tmp", ".trelliq/home");
  if (!platform::FileManager::createDirectory(home)) return "cannot make the home folder " + home;
  platform::FileManager::setHomeDirectory(home);
  return std::nullopt;
}

SimulatedMac::SimulatedMac() = default;

SimulatedMac::~SimulatedMac() {
  if (windowServer_) platform::installWindowServer(nullptr);
  windowServer_.reset();
  if (world_) platform::installSystem(nullptr);
  if (clock_) {
    clock_->shutdown();
    platform::installClock(nullptr);
  }
}

std::optional<std::string> SimulatedMac::start(std::vector<std::string>& args) {
  std::optional<std::string> scenarioPath;
  if (auto problem = takeScenarioArgument(args, scenarioPath)) return problem;

  std::string home;
  if (auto problem = makeSimulatedHome(home)) return problem;

  // The clock comes first: the desk stamps launch dates and schedules its reactions on it.
  auto clock = std::make_unique<platform::RealClock>();
  platform::installClock(clock.get());
  auto world = std::make_unique<World>(home);
  auto windowServer = std::make_unique<WindowServer>(*world);
  windowServer->attachAccessibility(std::make_unique<AccessibilityServer>(*windowServer));
  windowServer->attachEvents(std::make_unique<EventServer>(*windowServer));
  // The built-in desk too can fail to apply (its preferences need a writable Preferences
  // folder); the program then stops rather than run on a desk without displays.
  auto problem = scenarioPath ? loadScenarioFile(*world, *scenarioPath)
                              : loadScenarioText(*world, defaultScenarioText(), "built-in scenario");
  if (problem) {
    windowServer.reset();
    clock->shutdown();
    platform::installClock(nullptr);
    return problem;
  }

  // The program really ends when it asks to, as it would on the Mac.
  world->processes().setExitHandler([](int status) { std::exit(status); });
  clock_ = std::move(clock);
  world_ = std::move(world);
  windowServer_ = std::move(windowServer);
  platform::installSystem(world_.get());
  platform::installWindowServer(windowServer_.get());
  return std::nullopt;
}

World& SimulatedMac::world() { return *world_; }

WindowServer& SimulatedMac::windowServer() { return *windowServer_; }

}  // namespace sim
