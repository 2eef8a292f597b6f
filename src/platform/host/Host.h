#pragma once
// The world host: serves one simulated Mac (a world and its window server) to every
// program attached over the home's socket. Each connection is a client; what a client
// makes in the world (event taps, accessibility observers, device watches, its own
// windows) is recorded against it and taken away the moment its connection ends, as the
// system does when an app dies. Requests are answered on the connection's reader thread
// straight from the world, which is thread-safe; pushes (tap events, notifications) go
// back as messages, queued for a writer thread of the connection's own so the world never
// waits on a program, and the ones that want an answer (a tap's verdict) wait for the
// client's "answer", within the tap's time-out. Nothing the host does waits on a
// program's drawing: its windows' pictures are read from the surfaces it publishes.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Image.h"
#include "platform/host/Channel.h"
#include "platform/host/HostLog.h"

namespace sim {
class World;
class WindowServer;
}  // namespace sim

namespace host {

class HostMultitouch;
class SharedCount;
struct ScreenSurfaces;

class Host {
 public:
  /// Programs served at once; one more is refused with the reason when it makes its first
  /// call (its hello: until then it is only a connection), unless one of them has said
  /// nothing since its own hello: the one waiting longest is closed for it.
  static constexpr std::size_t kMaxPrograms = 64;
  /// Connections that have not made their first call yet, or none after their hello, at
  /// most: the one that waited longest is closed for a newcomer. Each is closed once it
  /// said nothing for kSilentSeconds after it connected, told kSilentReason.
  static constexpr std::size_t kMaxSilent = 16;
  static constexpr double kSilentSeconds = 5;
  static constexpr const char* kSilentReason = "the world host closes connections that say nothing";
  /// Threads answering one program's calls, one per lane; lanes past the last share it.
  static constexpr std::uint32_t kMaxLanes = 64;
  /// Own windows one program may have at once; one more is refused with the reason.
  static constexpr std::size_t kMaxOwnWindows = 1024;
  /// Log lines one program can cause before the rest of them is only counted.
  static constexpr std::uint32_t kLinesPerProgram = 20;
  /// Pushes a program may leave unread (beyond what its socket holds) before it is let go:
  /// the world never waits on a program that stopped reading.
  static constexpr std::size_t kMaxUnreadBytes = std::size_t{1} << 20;
  /// Calls one program may have waiting on its lanes, and their frames' bytes. Each lane
  /// waits for one call's answer before it asks again, so only a program that keeps asking
  /// without reading its answers (its lanes stalled on them) comes near either: past them
  /// it is let go, told kTooManyWaitingCalls, rather than held in the host's memory.
  static constexpr std::size_t kMaxWaitingCalls = 1024;
  static constexpr std::size_t kMaxWaitingCallBytes = 2 * wire::kMaxCallPayload;
  static constexpr const char* kTooManyWaitingCalls =
      "the world host lets go of a program that keeps asking without reading its answers";
  /// How far an own window's frame may lie from the desk's origin, and how large it may be,
  /// in points: a desk is a few displays of a few thousand points each. A frame past it,
  /// or not finite, is refused with the reason (the window server makes pixels of it).
  static constexpr double kMaxOwnWindowPoints = 1 << 20;
  /// Bytes of unfinished calls held for all programs together: each may send a call of up
  /// to wire::kMaxCallPayload, a few at the same moment; one past this ends its connection.
  static constexpr std::size_t kMaxUnfinishedBytes = 4 * wire::kMaxCallPayload;
  /// Bytes of captured pictures in shared memory that programs have not read yet, for all
  /// of them together: the largest picture, 16384² at 4 bytes a pixel. A capture past it
  /// is refused (kNoRoomForPicture) until they read what they were sent.
  static constexpr std::size_t kMaxPictureMemory = std::size_t{1} << 30;
  static constexpr const char* kNoRoomForPicture =
      "the world host holds too many pictures its programs have not read yet";

  /// Serves `world` and its `server`; both must outlive the host.
  Host(sim::World& world, sim::WindowServer& server);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  /// Takes the home's host lock and listens on its socket. Another live host for the home
  /// is an error naming it; a socket left by a dead one is replaced.
  std::optional<std::string> listen(const std::string& home);
  /// Accepts programs on a thread of its own until stop(); why it cannot, if so.
  std::optional<std::string> serve();
  /// Closes every connection and stops accepting; the socket is removed.
  void stop();

  std::size_t clientCount() const;
  /// Waits until the number of clients is `count`.
  void waitForClients(std::size_t count) const;
  /// Waits until no client has been attached for `linger` seconds, or until stop(): for a
  /// host started on demand. Before the first client came it waits at least
  /// kFirstProgramWaitSeconds.
  void waitUntilIdle(double lingerSeconds) const;
  static constexpr int kFirstProgramWaitSeconds = 10;

  /// The last log lines (also written to standard error): faults of connections,
  /// refused peers.
  std::vector<std::string> log() const;

  /// What the host keeps and has done, for a look from outside.
  struct Counts {
    std::size_t programs = 0;         // attached now
    std::size_t lanes = 0;            // threads answering their calls
    std::size_t sentPictures = 0;     // pictures they were sent and may keep
    std::size_t screenSurfaces = 0;   // display frames kept in memory the screens map
    std::uint64_t acceptRetries = 0;  // times the system gave no descriptor for a program
    std::size_t unfinishedBytes = 0;  // of programs' calls not yet read whole
    std::size_t pictureBytes = 0;     // of captures sent that programs have not read yet
    std::uint64_t picturesRefused = 0;  // captures refused for want of that memory
  };
  Counts counts() const;

  /// Refuses peers whose user is not `uid` (the host's own user unless changed).
  void setAllowedUser(uid_t uid);
  /// How long a connection may say nothing (kSilentSeconds unless changed).
  void setSilentSeconds(double seconds);
  /// How much picture memory programs may leave unread (kMaxPictureMemory unless changed).
  void setPictureMemory(std::size_t bytes) { pictureMemory_.setLimit(bytes); }

  struct Client;

 private:
  void acceptLoop();
  /// Wakes the accept loop: to stop, or to let go of connections that ended. Any thread.
  void wakeAcceptor();
  void attach(int fd);
  /// Closes `client`, which said nothing, telling it why. Any thread but its reader.
  void silence(Client& client, const std::string& why);
  /// Whether `client` counts as silent: no call yet, or none since its hello. Under mutex_.
  static bool saysNothing(const Client& client);
  /// With `room` or more silent clients (only those, with `servedOnly`, that said hello),
  /// the one waiting longest, marked silenced for the caller to close; else null. Under
  /// mutex_.
  std::shared_ptr<Client> longestSilentIfFull(std::size_t room, bool servedOnly);
  /// Tells `client` the host serves as many programs as it may, unless it was `silenced`
  /// (told already). False. Reader thread.
  bool refuseProgram(Client& client, bool silenced);
  /// Closes the connections that said nothing for their time; the milliseconds until the
  /// next one's time is up, or -1 when none waits. The accept loop.
  int closeSilent();
  void closed(const std::shared_ptr<Client>& client, const std::optional<wire::Fault>& fault);
  void reclaim(Client& client);
  /// Applies every record waiting on the client's signal channel, in order.
  void readSignals(Client& client);
  /// Turns a symbolic hot key of the world off for `client`, who then holds it off, or lets
  /// go of its hold, the key coming on once no program holds it; the function's status, or
  /// nothing when the world lacks it.
  std::optional<std::int32_t> switchHotKey(const Client& client, std::uint32_t key, bool on);
  /// Lets go of every hot key `client` holds off, turning on those nobody else holds:
  /// claims die with their owner.
  void releaseHotKeys(const Client& client);
  /// Lets go of whatever waits on the program: tap verdicts pass the event.
  void answerPending(Client& client);
  /// A client's first call says what it is: the screen, or a program (the first one the
  /// world's own, each further one another process of the world). False, and the client
  /// refused, when the host serves as many as it can already. Reader thread.
  bool settleRole(Client& client, const std::string& firstCall);
  void handle(const std::shared_ptr<Client>& client, wire::Message message);
  /// Hands a tap the program's verdict `answer` on the event it was shown. Reader thread.
  void takeVerdict(Client& client, const wire::Message& answer);
  /// Lets go of `client`, whose calls waiting on its lanes passed what one program may
  /// leave there (`why`). Its reader thread.
  void letGoOfAsking(Client& client, const std::string& why);
  void work(const std::shared_ptr<Client>& client, std::uint32_t lane);
  void answer(const std::shared_ptr<Client>& client, wire::Message message);
  /// The picture memory `picture` takes, held while it is unread; null when there is no
  /// room even after letting go of what programs have read.
  std::shared_ptr<void> holdPictureMemory(const CGImageRef& picture);
  /// A captured picture's answer: its pixels in shared memory, handed back in `memory` and
  /// holding their share of the picture memory until read. Throws NoRoomForPicture when
  /// there is none left. A lane's thread.
  nlohmann::json pictureReply(const CGImageRef& picture, std::shared_ptr<wire::Descriptor>& memory);
  struct NoRoomForPicture : std::exception {};
  void note(const std::string& line);
  /// A line about a program, within what that program may cause.
  void noteAbout(Client& client, const std::string& line);
  /// Sends a push to every client that asked for that kind of push.
  void broadcast(const std::string& method, const nlohmann::json& body, bool Client::*wants,
                 bool primaryOnly = false);
  void installListeners();
  /// What the world has to say about a program's call (a preferences file it cannot read)
  /// goes to the host's log as that program's line, within its limits.
  void routeWorldMessages();
  /// Tells each screen that watches of a change (tellScreen). Any thread.
  void tellScreens();
  /// Pushes "screenChanged" to `client` if it watches and was not told since it last asked
  /// for its frames; one that takes its frames has them composed and pushed instead
  /// (pushScreenFrames), or, while it has not shown the last ones, owed. Any thread.
  void tellScreen(Client& client);
  /// Composes the frames `client` last asked for and pushes them ("screenFrames", as that
  /// request answers); a "screenChanged" notice instead when one of them cannot go in the
  /// memory it maps (it then asks). Never waits on the screen. Its lane's thread.
  void pushScreenFrames(const std::shared_ptr<Client>& client);
  /// The frames a screen asks for: for each display of `v`'s "displays" ({id, w, h, since,
  /// shared}), what changed since the frame the screen holds, or the frame whole; a display
  /// asked "shared" whose surface in `surfaces` has that size is brought up to date there
  /// instead, and answered with the surface's sequence. With them the desk's change count
  /// and the displays, from before they were composed. `sharedOnly`: nothing when a
  /// display asked is not in a surface of its size. A lane's thread.
  std::optional<nlohmann::json> screenFrames(const nlohmann::json& v, ScreenSurfaces& surfaces, bool sharedOnly);
  /// A new surface in `surfaces` for display `v` ({id, w, h}), its memory handed back in
  /// `memory`; null (and no surface) for an unknown display, or a frame too large or out
  /// of memory, whose frames then go as pictures. Throws BadValue for a malformed request.
  nlohmann::json screenSurface(const nlohmann::json& v, ScreenSurfaces& surfaces,
                               std::shared_ptr<wire::Descriptor>& memory);
  /// Answers one request of `client` by the handler of its name (HostCalls.cpp): made
  /// from the call table's row, or written for it, on `lane` (as the host keys lanes).
  /// `descriptor` came with the request;
  /// `memory` gets the shared memory that goes back beside the answer (a picture, a
  /// surface). Throws wire::BadValue for an unknown or malformed request. A lane's thread.
  nlohmann::json call(const std::shared_ptr<Client>& client, const std::string& method, const nlohmann::json& v,
                      std::uint32_t lane, wire::Descriptor* descriptor, std::shared_ptr<wire::Descriptor>& memory);
  /// The handlers of the requests, with the host's insides at hand.
  struct Calls;
  friend struct Calls;

  /// Lets the world's callbacks into the host while it lives, and lets its destructor wait
  /// for those already in: the world calls them outside its own locks, from its threads.
  class CallbackGate;
  std::shared_ptr<CallbackGate> gate_;
  sim::World& world_;
  sim::WindowServer& server_;
  Endpoint endpoint_;
  std::unique_ptr<SocketAddress> address_;
  std::unique_ptr<SharedCount> changes_;  // the world's change count, mapped by the programs
  std::string changesPath_;
  int lockFD_ = -1;
  int listenFD_ = -1;
  int wakeFD_[2] = {-1, -1};
  uid_t allowedUID_;
  std::atomic<double> silentSeconds_{kSilentSeconds};
  std::thread acceptor_;

  // Before the clients, whose channels give back to them as they go.
  ByteBudget unfinishedCalls_{kMaxUnfinishedBytes};
  ByteBudget pictureMemory_{kMaxPictureMemory};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::shared_ptr<Client>> clients_;
  std::vector<std::shared_ptr<Client>> finished_;  // closed, their reader threads to be joined
  HostLog log_;
  LineBudget refusals_{kLinesPerProgram};
  LineBudget worldLines_{kLinesPerProgram};  // what the world says outside any program's call
  LineBudget framesEvicted_{3};  // display frames let go past the composer's budget
  std::atomic<std::uint64_t> acceptRetries_{0};
  std::atomic<std::uint64_t> picturesRefused_{0};
  /// Clients watching the screen: every world change reads it, and with none watching it
  /// looks no further.
  std::atomic<std::size_t> screenWatchers_{0};
  bool stopping_ = false;
  std::mutex hotKeysMutex_;
  std::map<std::uint32_t, std::set<std::uint64_t>> hotKeyHolders_;  // hot key -> numbers of the clients holding it off
  bool primaryTaken_ = false;
  std::uint64_t attachments_ = 0;
  std::unique_ptr<HostMultitouch> multitouch_;  // the trackpad's frames, for the programs that read them
};

}  // namespace host
