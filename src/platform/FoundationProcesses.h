#pragma once
// Processes and messages between programs: starting another program (Process), the
// program's own bundle, the executable path of a process (proc_pidpath), the program's
// end, distributed notifications and the Apple event being handled.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/ServiceManagement.h"
#include "platform/SystemPort.h"

/// One child process. A handle: copies share the same process.
class Process {
 public:
  Process();

  /// The program to run (a file path).
  void setExecutableURL(std::string path);
  const std::string& executableURL() const;
  void setArguments(std::vector<std::string> arguments);
  const std::vector<std::string>& arguments() const;
  /// Called once when the process has ended, on a thread of the system's choosing.
  void setTerminationHandler(std::function<void(const Process&)> handler);

  /// Starts it; the error when it could not start (the termination handler never runs then).
  /// A process runs at most once: a second call is an error.
  std::optional<NSError> run();

  /// 0 before it runs.
  std::int32_t processIdentifier() const;
  bool isRunning() const;
  /// The exit status once it has ended, 0 before.
  int terminationStatus() const;

  struct State;

 private:
  explicit Process(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

/// The program's own bundle.
class Bundle {
 public:
  static Bundle& main();
  /// The bundle folder, e.g. "/Applications/Trelliq.app".
  std::string bundlePath() const;
  /// The executable inside it.
  std::string executableURL() const;
  /// The bundle identifier, which also names the program's own defaults domain.
  std::string bundleIdentifier() const;

 private:
  Bundle() = default;
};

inline constexpr std::uint32_t PROC_PIDPATHINFO_MAXSIZE = 4096;

/// Writes the executable path of process `pid` into `buffer` (at most `size` bytes,
/// zero-terminated when it fits) and answers its length; 0 when the process is unknown or
/// the buffer too small.
int proc_pidpath(std::int32_t pid, void* buffer, std::uint32_t size);

namespace platform {

/// Ends the program with `status`. In the simulated Mac a test's world only records it and
/// the call returns; callers therefore return right after it.
void exitProgram(int status);

}  // namespace platform

// ---- Distributed notifications -----------------------------------------------------------

struct NSDistributedNotificationToken {
  std::uint64_t id = 0;
  friend bool operator==(const NSDistributedNotificationToken&, const NSDistributedNotificationToken&) = default;
};

/// Notifications other programs (and the system) send to every program.
class NSDistributedNotificationCenter {
 public:
  static NSDistributedNotificationCenter& defaultCenter();

  /// Calls `block` with the notification's name for every one named `name` (empty: any),
  /// asynchronously on `queue`. Only `name` filters; senders are not told apart. Thread-safe.
  NSDistributedNotificationToken addObserver(const std::string& name, platform::Executor& queue,
                                             std::function<void(const std::string& name)> block);
  /// Stops the observer; a block already queued still runs.
  void removeObserver(NSDistributedNotificationToken token);

 private:
  NSDistributedNotificationCenter() = default;
  void listen();
  void deliver(const std::string& name);

  struct Observer {
    std::uint64_t id;
    std::string name;
    platform::Executor* queue;
    std::shared_ptr<std::function<void(const std::string&)>> block;
  };
  std::mutex mutex_;
  std::uint64_t nextID_ = 1;
  std::uint64_t listening_ = 0;  // the system generation the listener was set for
  std::vector<Observer> observers_;
};

// ---- Apple events ------------------------------------------------------------------------

using FourCharCode = std::uint32_t;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEKeyword = FourCharCode;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

inline constexpr AEEventClass kCoreEventClass = fourCharCode("aevt");
inline constexpr AEEventID kAEQuitApplication = fourCharCode("quit");
inline constexpr AEKeyword keySenderPIDAttr = fourCharCode("spid");

/// An Apple event, or one value inside it.
class NSAppleEventDescriptor {
 public:
  explicit NSAppleEventDescriptor(platform::AppleEvent event) : event_(std::move(event)) {}

  AEEventClass eventClass() const { return event_.eventClass; }
  AEEventID eventID() const { return event_.eventID; }
  /// The attribute as a descriptor of its own; nothing when the event lacks it.
  std::optional<NSAppleEventDescriptor> attributeDescriptor(AEKeyword keyword) const;
  /// The value as a signed 32-bit integer; 0 when it is not a number that fits.
  std::int32_t int32Value() const;

 private:
  NSAppleEventDescriptor(platform::AppleEvent event, platform::PlistValue value)
      : event_(std::move(event)), value_(std::move(value)) {}
  platform::AppleEvent event_;
  std::optional<platform::PlistValue> value_;
};

class NSAppleEventManager {
 public:
  static NSAppleEventManager& shared();
  /// The Apple event being handled right now; nothing outside a handler. Main thread.
  std::optional<NSAppleEventDescriptor> currentAppleEvent() const;

  /// Runs `handle` with `event` as the current event (the application object's dispatch).
  void dispatch(const platform::AppleEvent& event, const std::function<void()>& handle);

 private:
  NSAppleEventManager() = default;
  std::optional<platform::AppleEvent> current_;
};
