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
