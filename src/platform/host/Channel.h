#pragma once
// One end of a connection between the world host and a program: a Unix stream socket,
// a reader thread that cuts the stream into messages, and sends that may come from any
// thread. Both sides use it.

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
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

/// The address of a Unix socket at `path`, whatever the path's length. The address holds
/// at most 108 bytes; a longer path is reached through a descriptor of its folder
/// ("/proc/self/fd/N/NAME"), which stays open while this lives.
class SocketAddress {
 public:
  explicit SocketAddress(const std::string& path = {});
  ~SocketAddress();
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;

  /// Why the address cannot be used (the folder cannot be opened), or nothing.
  const std::optional<std::string>& problem() const { return problem_; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t size() const { return sizeof(address_); }
  /// A path to the socket for chmod or unlink: the short one the address holds.
  const char* usablePath() const { return address_.sun_path; }

 private:
  sockaddr_un address_{};
  int folder_ = -1;
  std::optional<std::string> problem_;
};

/// Starts a thread running `body`. Throws std::system_error when the system has no thread
/// to give (a process or thread limit), or when a test has made starts fail. Any thread.
std::thread startThread(std::function<void()> body);
/// For tests: after `succeeding` more starts, every start fails; negative lifts that.
void failThreadStartsAfter(int succeeding);

/// Connects to the host listening at `socketPath`: the socket, or the error's text.
std::variant<int, std::string> connectTo(const std::string& socketPath);

/// Bytes that many connections hold together (unfinished messages, pictures not yet read):
/// each may hold a good part, but not all of them at once. Thread-safe.
class ByteBudget {
 public:
  explicit ByteBudget(std::size_t bytes) : bytes_(bytes) {}
  /// Takes `bytes` more; false (taking nothing) when that would pass the budget.
  bool take(std::size_t bytes);
  void give(std::size_t bytes);
  /// `bytes` taken, given back when the last copy goes; null when that would pass the
  /// budget. The budget must outlive it.
  std::shared_ptr<void> hold(std::size_t bytes);
  std::size_t held() const { return held_.load(); }
  void setLimit(std::size_t bytes) { bytes_ = bytes; }

 private:
  std::atomic<std::size_t> bytes_;
  std::atomic<std::size_t> held_{0};
};

/// What a channel's reader holds of a peer's unfinished message.
struct ReadLimits {
  std::size_t maxPayload = wire::kMaxPayload;
  /// Shared by the channels it is given to; a message longer than kUnbudgetedBytes holds
  /// it while unfinished, and one the budget cannot take ends the connection.
  ByteBudget* shared = nullptr;
  static constexpr std::size_t kUnbudgetedBytes = std::size_t{64} << 10;
};

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

  /// Starts the reader thread; handlers run on it. Throws std::system_error when no thread
  /// can be made (the channel then stays unstarted, and its socket closes with it).
  void start(MessageHandler onMessage, CloseHandler onClose, ReadLimits limits = {});
  /// Starts the thread that writes what post() queues, at most `maxQueuedBytes` of frames
  /// waiting. Throws std::system_error when no thread can be made. Before start().
  void startPosting(std::size_t maxQueuedBytes);
  /// Writes one message whole, behind what was posted before it; false when the connection
  /// is gone (a write that fails ends it).
  bool send(const wire::Message& message);
  /// Queues one message for the posting thread and returns at once, whatever the peer does:
  /// for threads that must never wait on a peer. Messages go out in the order they were
  /// posted. One that finds nothing queued or being written before it, and carries no
  /// descriptor, is written at once by the calling thread instead, as far as the socket
  /// takes it without waiting (the posting thread writes the rest): waking that thread for
  /// every message would cost more than the write. A `bounded` one counts against the
  /// bound: false when the connection is gone, or when the peer left more than the bound
  /// unread (the connection then ends, and the close handler is told so). Any thread,
  /// after startPosting().
  bool post(const wire::Message& message, bool bounded = true);
  /// Queues an answer like an unbounded post(), but first waits while the answers queued
  /// before it hold more than the bound, or more than a few descriptors: a peer that asks
  /// without reading holds up only the thread answering it, never the host's memory or
  /// descriptors. False when the connection is gone. The thread that answers the peer.
  bool postAnswer(const wire::Message& message);
  /// Ends the connection; the reader thread then sees the end and calls onClose. A message
  /// another thread is writing, and the rest of one written at once, are let finish first,
  /// then `parting`, all within kCloseWait: so the peer never reads half a frame followed
  /// by anything. What is not written whole by then ends the connection there (the peer
  /// reads the end inside a frame, never another frame's bytes as its rest).
  void close(const std::optional<wire::Message>& parting = std::nullopt);
  static constexpr std::chrono::milliseconds kCloseWait{1000};
  /// Lets go of what the descriptors sent hold (wire::Descriptor::hold) once the peer has
  /// read everything sent; the posting thread also does as it sends more, and the channel
  /// when it goes. Any thread.
  void releaseRead();
  /// Waits for the reader and posting threads (from the reader itself, lets it finish alone:
  /// the reader still uses the channel after its handlers return, so the last owner never
  /// lets go of it from one of them).
  void join();
  /// Waits at most `seconds` for the reader thread to end and joins it; false (leaving it
  /// running) when it has not.
  bool joinWithin(double seconds);
  bool open() const { return open_.load(); }
  /// The peer's process and user (from the socket's credentials).
  pid_t peerPID() const { return peerPID_; }
  uid_t peerUID() const { return peerUID_; }

 private:
  void readLoop(MessageHandler onMessage, CloseHandler onClose, ReadLimits limits);
  void postLoop();
  bool writeFrame(const std::vector<std::uint8_t>& frame, const wire::Descriptor* descriptor);
  bool writeAll(const std::uint8_t* bytes, std::size_t count);
  /// Marks the connection gone and shuts the socket at once; the posting thread stops.
  void cut();
  void wakePoster();
  // Whether another descriptor may go to the peer now. The posting thread, under postMutex_.
  bool roomForDescriptor();
  struct Posted;
  enum class AtOnce { notTried, sent, partly, failed };
  // Writes `posted` now when nothing is queued or being written before it, as much as the
  // socket takes without waiting; what is left of it stays in `posted`. With postMutex_
  // held by `lock`, let go of while it writes.
  AtOnce writeAtOnce(std::unique_lock<std::mutex>& lock, Posted& posted);
  // A write of posting_'s ended: whoever waits for that goes on. Under postMutex_.
  void writeEnded();
  // What a post answers once its message is written or queued, `written` as writeAtOnce
  // left it: a failed write ends the connection. Without postMutex_.
  bool afterPost(AtOnce written);
  // For close(): waits until no other thread writes, then holds writeMutex_ with the rest of
  // a frame begun (if any) taken into `rest`; false when a writer is still busy at `giveUp`.
  bool quietBefore(std::chrono::steady_clock::time_point giveUp, std::vector<std::uint8_t>& rest);
  // Writes `bytes` as the socket takes them until `giveUp`; false when not all went.
  bool writeBefore(std::chrono::steady_clock::time_point giveUp, const std::vector<std::uint8_t>& bytes);

  int fd_;
  std::atomic<bool> open_{true};
  std::mutex writeMutex_;
  std::thread reader_;
  std::mutex finishedMutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;  // the reader has returned
  struct Posted {
    std::vector<std::uint8_t> frame;
    std::shared_ptr<wire::Descriptor> descriptor;
    bool bounded = true;
    bool answer = false;
    bool begun = false;  // the rest of a frame whose first bytes are out
  };
  std::thread poster_;
  std::mutex postMutex_;
  std::condition_variable postReady_;
  std::deque<Posted> posted_;
  bool posting_ = false;  // a message taken from posted_, written at once or sent is being written
  bool posterStarted_ = false;
  std::condition_variable written_;  // posting_ ended with nothing queued, for send()
  std::size_t sendersWaiting_ = 0;
  std::size_t closersWaiting_ = 0;  // told of every write's end, on written_
  std::size_t postedBytes_ = 0;  // of bounded messages
  std::condition_variable answerTaken_;
  std::size_t answerBytes_ = 0;        // of answers queued by postAnswer
  std::size_t answerDescriptors_ = 0;  // carried by them
  std::size_t descriptorsInFlight_ = 0;  // sent, perhaps not yet read (the posting thread's)
  std::vector<std::shared_ptr<void>> heldInFlight_;  // what those hold; under postMutex_
  std::size_t maxPostedBytes_ = 0;
  std::atomic<bool> overflowed_{false};  // the peer left more than the bound unread
  pid_t peerPID_ = 0;
  uid_t peerUID_ = static_cast<uid_t>(-1);
};

}  // namespace host
