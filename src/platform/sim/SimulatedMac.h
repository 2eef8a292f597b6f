#pragma once
// Starting the simulated Mac for the running program: the real clock (main queue on
// the Qt event loop), one world loaded from a scenario file or the built-in desk,
// installed behind the platform's façades before any product code runs.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class RealClock;
}

namespace sim {

class World;
class WindowServer;

/// Takes "--scenario FILE" out of `args` into `path` (left alone when there is none); a
/// flag without its file or given twice answers the problem and changes nothing.
std::optional<std::string> takeScenarioArgument(std::vector<std::string>& args, std::optional<std::string>& path);

/// Makes the simulated user's home folder ($TRELLIQ_HOME, else ~/.trelliq/home) and points
/// the file façade at it; the folder's path, or the problem when it cannot be made.
std::optional<std::string> makeSimulatedHome(std::string& home);

class SimulatedMac {
 public:
  SimulatedMac();
  ~SimulatedMac();

  /// Takes "--scenario FILE" out of `args` (the program never sees it), makes the
  /// simulated user's home folder ($TRELLIQ_HOME, else ~/.trelliq/home), loads that
  /// scenario or the built-in desk, and installs the world. On failure, nothing is
  /// installed and the answer is a message naming the file and the problem.
  std::optional<std::string> start(std::vector<std::string>& args);

  World& world();
  WindowServer& windowServer();

 private:
  std::unique_ptr<platform::RealClock> clock_;
  std::unique_ptr<World> world_;
  std::unique_ptr<WindowServer> windowServer_;  // beside the world; goes first
};

}  // namespace sim
