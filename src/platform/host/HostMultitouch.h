#pragma once
// The trackpad's frames for programs attached to a host. The world's multitouch functions
// take a bare function for frames, so the host registers one of its own per device that
// some program reads, and sends each frame on as a push ("mtFrame") to every program that
// registered for that device. What a program registered and started is recorded against
// it and taken back when its connection ends, as the framework does for a process that
// dies: its callbacks go, and a device only it had started is stopped.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/PrivateSymbols.h"

namespace sim {
class World;
}

namespace host {

class HostMultitouch {
 public:
  /// Sends a push to one program; false when it is gone.
  using Push = std::function<bool(const std::string& method, nlohmann::json body)>;

  /// Serves the framework `world` registered; only one at a time per process (frames reach
  /// the newest one).
  explicit HostMultitouch(sim::World& world);
  ~HostMultitouch();
  HostMultitouch(const HostMultitouch&) = delete;
  HostMultitouch& operator=(const HostMultitouch&) = delete;

  /// Whether `name` is one of the framework's functions served here.
  static bool serves(const std::string& name);
  /// Runs the framework's function `name` for program `client` with body `v` (devices are
  /// named by their ids) and answers what it answered; throws wire::BadValue for a body it
  /// cannot read. Any thread.
  nlohmann::json call(std::uint64_t client, const Push& push, const std::string& name, const nlohmann::json& v);
  /// Takes back what `client` registered and started.
  void forget(std::uint64_t client);

 private:
  struct Reader {
    Push push;
    std::set<std::uint64_t> devices;  // registered for frames
    std::set<std::uint64_t> started;
  };
  /// The one function the world calls for frames of every device a program reads.
  static std::int32_t frame(MTDeviceRef device, const std::uint8_t* contacts, std::int32_t count, double timestamp,
                            std::int32_t number);
  bool readByAnyone(std::uint64_t device) const;
  bool startedByAnyone(std::uint64_t device) const;
  void stopIfUnused(std::uint64_t device);

  sim::World& world_;
  // Held across a change of who reads a device and the world's call for it; taken before
  // mutex_, which the device's frames take on their own thread.
  std::mutex changing_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, Reader> readers_;
};

}  // namespace host
