#pragma once
// One end of a connection between the world host and a program: a Unix stream socket,
// a reader thread that cuts the stream into messages, and sends that may come from any
// thread. Both sides use it.

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/host/Wire.h"

namespace host {

/// Where a home's host lives: a private folder in the home, its socket and its lock.
struct Endpoint {
  std::string folder;  // <home>/Library/Simulated Mac (0700)
  std::string socket;  // world.sock in it (0600)
  std::string lock;    // host.lock in it: held (flock) by the running host
};
Endpoint endpointFor(const std::string& home);

/// Connects to the host listening at `socketPath`: the socket, or the error's text.
std::variant<int, std::string> connectTo(const std::string& socketPath);

class Channel {
 public:
  using MessageHandler = std::function<void(wire::Message message)>;
  /// Called once when the stream ends: with the fault that ended it, or nothing for a
  /// clean close or a broken socket.
  using CloseHandler = std::function<void(const std::optional<wire::Fault>& fault)>;

  /// Takes over the connected socket `fd`.
  explicit Channel(int fd);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  /// Starts the reader thread; handlers run on it.
  void start(MessageHandler onMessage, CloseHandler onClose);
  /// Writes one message; false when the connection is gone.
  bool send(const wire::Message& message);
  /// Writes bytes that are already a frame, without waiting for the write lock: for a
  /// signal handler, which must neither allocate nor block. False when it could not.
  bool sendPreparedFromSignal(const std::vector<std::uint8_t>& frame);
  /// Ends the connection; the reader thread then sees the end and calls onClose.
  void close();
  /// Waits for the reader thread (from the reader itself, lets it finish alone).
  void join();
  bool open() const { return open_.load(); }
  /// The peer's process and user (from the socket's credentials).
  pid_t peerPID() const { return peerPID_; }
  uid_t peerUID() const { return peerUID_; }

 private:
  void readLoop(MessageHandler onMessage, CloseHandler onClose);
  bool writeAll(const std::uint8_t* bytes, std::size_t count);

  int fd_;
  std::atomic<bool> open_{true};
  std::mutex writeMutex_;
  std::thread reader_;
  pid_t peerPID_ = 0;
  uid_t peerUID_ = static_cast<uid_t>(-1);
};

}  // namespace host
