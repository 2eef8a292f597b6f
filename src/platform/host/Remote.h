#pragma once
// The program's side of the world host: a connection, and the two ports over it. Calls
// are answered in order per thread; pushes (tap events, notifications) are handled one
// after another on a thread of the connection's own, so a slow listener never holds up
// the answers to calls. The host never asks the program for anything it must wait on
// besides a tap's verdict: its windows' pictures are published in shared memory.
//
// When the host goes away, the call that finds out (or the reader, whichever is first)
// reports it once to the loss handler, and every call from then on answers the port's
// empty answer at once: nothing waits for a host that is gone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Channel.h"
#include "platform/host/OwnWindowTable.h"
#include "platform/host/PreferenceCache.h"
#include "platform/host/ReadCache.h"

namespace host {

/// How long a call waits for the host's answer (beyond what the call itself may take,
/// such as an accessibility time-out) before the host counts as gone.
inline constexpr double kCallDeadline = 60;
/// How long a waiting call holds up the work of a stop signal that has arrived.
inline constexpr std::chrono::seconds kStopPatience{1};

struct CallOptions {
  int descriptor = -1;  // travels with the request as a copy; the caller keeps its own
  double patience = 0;  // seconds the request may take in the world, on top of the deadline
};

class Connection {
 public:
  /// Connects to the host at `socketPath`; the error's text when none answers there.
  static std::variant<std::shared_ptr<Connection>, std::string> open(const std::string& socketPath);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Asks the host; nothing when the host is gone or refused the request (a refusal is
  /// also noted for the calling thread: platform::Refusals.h). Waits at most
  /// kCallDeadline (plus the options' patience), after which the host counts as gone, and
  /// at most kStopPatience after a stop signal arrived.
  std::optional<nlohmann::json> call(const std::string& method, nlohmann::json body = nullptr,
                                     CallOptions options = {});
  /// As call, for a request answered by a picture: the picture (its pixels in the shared
  /// memory the host wrote them to, mapped, never copied), or null when there is none, the
  /// host is gone or the answer cannot be read.
  CGImageRef callForPicture(const std::string& method, nlohmann::json body);
  /// As call, for a request answered by a surface's memory: the surface, mapped read-only,
  /// or null when there is none, the host is gone or the memory is not a surface.
  std::shared_ptr<const platform::SharedSurface> callForSurface(const std::string& method, nlohmann::json body);
  /// How many questions went to the host so far (each a round trip).
  std::uint64_t calls() const { return calls_.load(std::memory_order_relaxed); }
  /// Sends without waiting: the host does it in order with this thread's calls and answers
  /// nothing (what fails is logged there, as nobody waits to hear it). `atOnce`: the
  /// host's reader answers it itself, ahead of this thread's calls still queued there, with
  /// no thread woken for it: only for what is quick and needs no order with those calls.
  void tell(const std::string& method, nlohmann::json body, bool atOnce = false);
  /// Answers a push that wanted an answer.
  void answer(std::uint64_t id, nlohmann::json body);
  /// The handler of pushes, on the connection's push thread.
  void setPushHandler(std::function<void(const wire::Message&)> handler);
  /// The handler of notices: a push it takes (answering true) is handled on the reader as
  /// it comes, ahead of the pushes queued for the push thread, and wakes no thread of its
  /// own. Only for a handler that passes the notice on without waiting (never on the host),
  /// for pushes whose order with the others does not matter.
  void setNoticeHandler(std::function<bool(const wire::Message&)> handler);
  /// Waits until every push received so far was handled; answers how many pushes were
  /// handled since the connection opened. For tests that let the program catch up.
  std::uint64_t waitForPushes();
  /// Called once, on any thread, with the reason, when the host is found gone; at once,
  /// on the calling thread, when it was found gone before.
  void setLossHandler(std::function<void(const std::string& why)> handler);
  /// Why the host is gone (or refused this program); nothing while it serves.
  std::optional<std::string> whyLost() const;
  bool alive() const;
  Channel& channel() { return *channel_; }
  /// The answers kept from the host (reading ahead).
  ReadCache& reads() { return reads_; }
  /// Ends the connection as a program's exit would; the host then takes back whatever
  /// the program made. Calls from now on answer at once.
  void close();
  /// Closes and waits for the connection's threads (from one of them, lets it finish alone:
  /// the connection must then outlive that handler, so it is never destroyed from one).
  void shutdown();
  /// As shutdown, but waits at most `seconds` for each thread; false when one is still
  /// running (it is left to end with the process).
  bool shutdownWithin(double seconds);

 private:
  explicit Connection(int fd);
  /// Sends one request and waits for its answer, as call says; `memory` gets what came
  /// beside the answer.
  std::optional<nlohmann::json> exchange(const std::string& method, nlohmann::json body, const CallOptions& options,
                                         std::shared_ptr<wire::Descriptor>& memory);
  void received(wire::Message message);
  void lost(const std::string& why);
  /// Says that `method` was not carried out, and notes it for the thread that called
  /// (platform::noteRefusal). On the calling thread.
  void refused(const std::string& method, const std::string& why);
  void pushLoop();

  std::unique_ptr<Channel> channel_;
  mutable std::mutex mutex_;
  std::condition_variable pushed_;
  std::condition_variable answered_;
  struct Slot {
    bool done = false;
    std::optional<nlohmann::json> value;
    std::shared_ptr<wire::Descriptor> memory;  // shared memory that came beside the answer
    std::optional<std::string> refused;         // why the host refused the call
  };
  std::map<std::uint64_t, Slot> pending_;
  std::deque<wire::Message> pushes_;
  std::atomic<std::uint64_t> calls_{0};
  bool handlingPush_ = false;
  std::uint64_t pushesHandled_ = 0;
  std::condition_variable pushesDone_;
  std::function<void(const wire::Message&)> pushHandler_;
  std::function<bool(const wire::Message&)> noticeHandler_;
  std::function<void(const std::string&)> lossHandler_;
  std::optional<std::string> lostWhy_;
  bool closing_ = false;
  bool pusherDone_ = false;
  std::uint64_t nextID_ = 1;
  std::thread pusher_;
  ReadCache reads_{*this};
};

/// The SystemPort of a program attached to a host. Private functions resolve to local
/// stand-ins that forward each call to the host's world.
class RemoteSystem : public platform::SystemPort {
 public:
  explicit RemoteSystem(std::shared_ptr<Connection> connection);
  ~RemoteSystem() override;
  /// Hands the host the signal channel SLSSetSymbolicHotKeyEnabled goes over (a program's,
  /// once the host knows it is one); without it the switch answers an error. Any thread.
  void openSignalChannel();

  PLATFORM_SYSTEM_CALLS(PLATFORM_PORT_OVERRIDE)

  /// How the program ends when it asks to (std::exit unless changed).
  void setExitHandler(std::function<void(int status)> handler);
  /// Handles the pushes meant for the system half; false for others.
  bool handlePush(const wire::Message& push);
  /// Where answered preferences are kept between reads (attached by RemoteMac::attach).
  PreferenceCache& preferences() { return preferences_; }

 private:
  /// A question the host tags: kept while the world stands still, else asked.
  std::optional<nlohmann::json> kept(const std::string& method, const nlohmann::json& body = nullptr);
  /// Whether the host saved a preference write; says so on standard error when a domain's
  /// writes start failing, as a store in process does (the host keeps the values meanwhile).
  bool preferencesWritten(const std::string& domain, const std::optional<nlohmann::json>& answer);

  std::shared_ptr<Connection> connection_;
  std::mutex mutex_;
  std::function<void(const std::string&)> notificationListener_;
  std::function<void(const platform::AppleEvent&)> appleEventListener_;
  std::map<std::uint64_t, std::function<void(int)>> terminated_;
  std::uint64_t nextToken_ = 1;
  std::function<void(int)> exitHandler_;
  int signalFD_ = -1;  // the program's end of the signal channel
  PreferenceCache preferences_;
  std::set<std::string> unsavedDomains_;  // under mutex_
};

class RemoteWindowServer : public platform::WindowServerPort {
 public:
  explicit RemoteWindowServer(std::shared_ptr<Connection> connection);

  PLATFORM_WINDOW_SERVER_CALLS(PLATFORM_PORT_OVERRIDE)

  /// Handles the pushes meant for the window-server half; false for others.
  bool handlePush(const wire::Message& push);
  /// Handles the notices the reader passes on at once (the screen's "look again"); false
  /// for others.
  bool handleNotice(const wire::Message& push);
  /// Has `listener` called, on the connection's reader thread, when what the displays show
  /// may have changed: with the frames the screen last asked for, composed anew as that
  /// request answers them, once until it says it showed them ("screenReady") or asks again;
  /// or with null, once until it next asks for its frames, when they could not be sent
  /// (it then asks). It must pass that on without waiting: the reader reads nothing
  /// meanwhile. The first one asks the host to tell; false, with no listener kept, when
  /// the host does not take that request (the caller then has to look for itself). Null
  /// stops the calls, waiting for one under way. Any thread but the reader.
  bool setScreenListener(std::function<void(nlohmann::json frames)> listener);
  /// How many pictures (icons) the host sent by reference are kept for it. Any thread.
  std::size_t keptPictures() const;
  /// The state of the program's own windows as the host last sent it (attached by RemoteMac::attach).
  OwnWindowTable& ownWindows() { return ownWindows_; }

 private:
  std::uint64_t newKey();
  /// The pushes of events (tap verdicts asked, the screen, the workspace, the program's
  /// own events), and those answering a request's callback (accessibility, devices, an
  /// opened application, pictures to forget); false for others. Throw for a bad push.
  bool eventPush(const wire::Message& push);
  bool callbackPush(const wire::Message& push);
  /// Reads a picture sent by reference (pixels the first time only) and keeps it.
  CGImageRef takePicture(nlohmann::json& body);
  std::optional<platform::RunningApplicationInfo> readApplication(nlohmann::json body);
  /// Keeps the state of the program's windows that came with the answer to a change of one.
  void keepOwnWindows(const std::optional<nlohmann::json>& answer);

  std::shared_ptr<Connection> connection_;
  mutable std::mutex mutex_;
  std::uint64_t nextKey_ = 1;
  std::map<std::uint64_t, platform::EventTapHandler> taps_;        // by key
  std::map<std::uint64_t, std::uint64_t> tapKeys_;                 // tap id -> key
  std::map<std::uint64_t, std::function<void(AXElementID, const std::string&)>> observers_;  // by key
  std::map<std::uint64_t, std::uint64_t> observerKeys_;            // observer id -> key
  std::map<std::uint64_t, std::function<void()>> matchings_;       // by key
  std::map<std::uint32_t, std::uint64_t> matchingKeys_;            // iterator -> key
  std::map<std::uint64_t, std::function<void(std::optional<std::int32_t>, std::optional<std::string>)>> opens_;
  std::function<void(const platform::WorkspaceEvent&)> workspaceListener_;
  std::function<void(const CGEvent&, std::uint32_t)> ownEventListener_;
  std::mutex screenMutex_;  // held while the screen's listener runs, so it can be taken away safely
  std::function<void(nlohmann::json frames)> screenListener_;
  bool screenWatched_ = false;
  std::map<std::uint64_t, CGImageRef> pictures_;  // icons by the host's reference
  OwnWindowTable ownWindows_;
};

/// What a client is to the host, said by its first call: a program (a process of the world)
/// or the screen (a monitor and input devices, no process).
enum class AttachAs { program, screen };

/// Both ports over one connection, with the pushes routed to them.
struct RemoteMac {
  ~RemoteMac();
  std::shared_ptr<Connection> connection;
  std::unique_ptr<RemoteSystem> system;
  std::unique_ptr<RemoteWindowServer> windowServer;
  /// Connects, routes pushes and waits for the host's first answer, to a first call that
  /// says what this client is (`as`); the error's text when no host answers at
  /// `socketPath`, or when one answers but refuses the client (then `refused` is set).
  static std::variant<std::unique_ptr<RemoteMac>, std::string> attach(const std::string& socketPath,
                                                                      bool* refused = nullptr,
                                                                      AttachAs as = AttachAs::program);
};

}  // namespace host
