#pragma once
// The stage every test stands on: a fresh temporary home folder (the file manager
// points at it), a VirtualClock and a fresh simulated world, both installed, and the
// process-wide leftovers of earlier tests (registered defaults, injected file faults)
// cleared. Leaving the scope uninstalls everything and removes the folder.

#include <optional>
#include <string>

#include "platform/VirtualClock.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

class Scene {
 public:
  enum class Start { empty, defaultScenario };
  explicit Scene(Start start = Start::empty);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  /// A path inside the home folder.
  std::string path(const std::string& relative) const;
  /// Throws the world away and starts a new one on the same home folder, as a relaunch
  /// of the program would: files survive, everything in memory is gone. `world` stays valid.
  void restart(Start start = Start::empty);
  /// Sets the system's appearance, dark or light, and lets the program see it: the program
  /// reads it again at most once a second, so the clock moves on by that second.
  void setDark(bool dark);

 private:
  static std::string makeHome();
  std::optional<sim::World> world_;
  std::optional<sim::WindowServer> windowServer_;

 public:
  const std::string home;
  platform::VirtualClock clock;
  sim::World& world;
  /// The window server beside the world, installed as the platform's; survives restart() like `world`.
  sim::WindowServer& windowServer;
};
