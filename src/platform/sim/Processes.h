#pragma once
// The processes of the simulated Mac besides the applications: what the program starts
// (the shell, a second copy of itself), processes a test names by pid and executable,
// the program's own end, and the messages other programs send it (distributed
// notifications, Apple events). Nothing is ever really spawned: a launch is recorded and
// keeps running until a test finishes it with an exit status, except a second copy of the
// program asked "--screen-recording-check", which answers by itself after a moment from
// the screen-capture permission a newly started process sees. Every function is thread-safe.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/SystemPort.h"

namespace sim {

class World;

class Processes {
 public:
  /// Pids handed to launched processes count up from here.
  static constexpr std::int32_t kFirstPID = 7000;
  /// How long the program's second copy takes to answer its check.
  static constexpr double kCheckSeconds = 0.05;
  /// The label of the queue termination handlers are called on.
  static constexpr const char* kQueueLabel = "process termination";

  explicit Processes(World& world);

  /// One launch as the program asked for it.
  struct Launch {
    std::int32_t pid = 0;
    std::string executable;
    std::vector<std::string> arguments;
    std::optional<int> status;  // set once it has ended
  };

  // ---- What the world's port calls ----
  std::variant<std::int32_t, std::string> launch(const std::string& executable,
                                                 const std::vector<std::string>& arguments,
                                                 std::function<void(int)> terminated);
  std::string mainBundlePath() const;
  std::string mainExecutablePath() const;
  std::optional<std::string> path(std::int32_t pid) const;
  /// Records the status and calls the exit handler, when one is set.
  void exitProgram(int status);
  void setDistributedNotificationListener(std::function<void(const std::string&)> listener);
  void setAppleEventListener(std::function<void(const platform::AppleEvent&)> listener);

  // ---- Control ----
  /// Every launch, oldest first (failed ones are not listed).
  std::vector<Launch> launches() const;
  /// Ends a running launched process: its termination handler gets `status` on the
  /// termination queue. False when no such process runs.
  bool finish(std::int32_t pid, int status);
  /// With a description, every launch fails with it (nothing is recorded).
  void failLaunches(std::optional<std::string> description);
  /// While held, even the program's second copy waits for finish().
  void holdAll(bool hold);
  /// A process that is not an application (an extension, a tool) with its executable.
  void addProcess(std::int32_t pid, std::string executable);
  /// Statuses the program asked to exit with, oldest first.
  std::vector<int> exits() const;
  /// What happens on top of recording an exit (the running program really ends).
  void setExitHandler(std::function<void(int)> handler);
  /// Delivers a distributed notification to the program's listener (on the calling thread).
  void postDistributedNotification(const std::string& name);
  /// Sends an Apple event to the program; false when it is not listening.
  bool sendAppleEvent(const platform::AppleEvent& event);

 private:
  struct Running {
    Launch launch;
    std::function<void(int)> terminated;
  };

  World& world_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // lets delayed answers see the world has gone
  mutable std::mutex mutex_;
  std::int32_t nextPID_ = kFirstPID;
  std::vector<Running> launches_;
  std::map<std::int32_t, std::string> others_;
  std::optional<std::string> launchError_;
  bool hold_ = false;
  std::vector<int> exits_;
  std::function<void(int)> exitHandler_;
  std::shared_ptr<std::function<void(const std::string&)>> notificationListener_;
  std::shared_ptr<std::function<void(const platform::AppleEvent&)>> appleEventListener_;
};

}  // namespace sim
