#include "platform/host/Host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <set>
#include <system_error>

#include "platform/Files.h"
#include "platform/PrivateSymbols.h"
#include "platform/SharedSurface.h"
#include "platform/host/HostReads.h"
#include "platform/host/PictureMemory.h"
#include "platform/host/ScreenSurfaces.h"
#include "platform/host/HostMultitouch.h"
#include "platform/host/SharedCount.h"
#include "platform/host/WireValues.h"
#include "platform/sim/MultitouchDevices.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace host {

using nlohmann::json;
using wire::field;
using wire::read;

struct Host::Client {
  std::unique_ptr<Channel> channel;
  std::uint64_t number = 0;  // for log lines
  /// The first program attached is the world's own program; each further one is another
  /// process of the world with a pid of its own (0 here: the world's own). A client whose
  /// first call is "screenAttach" is the screen: a monitor and input devices, no process.
  enum class Role { undecided, program, screen };
  Role role = Role::undecided;
  bool primary = false;
  std::int32_t pid = 0;
  std::mutex mutex;
  std::set<std::uint64_t> taps;
  std::set<std::uint64_t> observers;
  std::set<std::uint32_t> iterators;
  std::set<std::uint32_t> windows;
  bool workspace = false;
  bool ownEvents = false;
  bool notifications = false;
  bool appleEvents = false;
  /// The screen asked to be told when what it shows may have changed; `screenTold` while
  /// it was told and has not asked for its frames since (one push until it looks).
  bool watchesScreen = false;
  bool screenTold = false;
  ScreenSurfaces screenSurfaces;  // the screen's frames in memory it maps
  struct PendingTap {
    platform::EventTapReply reply;
    CGEvent event;
  };
  std::map<std::uint64_t, PendingTap> pendingTaps;
  std::uint64_t nextPush = 1;
  /// Pictures this program has already been sent (icons), so each crosses once.
  struct SentPicture {
    std::weak_ptr<const CGImage> picture;
    std::uint64_t ref = 0;
  };
  std::map<const CGImage*, SentPicture> sentPictures;
  std::uint64_t nextPicture = 1;
  std::size_t sweepAt = 64;  // when sentPictures grows to this, gone pictures are looked for
  /// "program <pid>", and how many lines the program may cause before the rest is counted.
  std::string who;
  LineBudget logBudget{kLinesPerProgram};
  /// Each lane (a thread of the program) has its calls answered in order on a thread of
  /// its own, so the connection's reader stays free for the program's answers to pushes
  /// (a call that makes the world ask the same program for a picture would otherwise wait
  /// on itself), and one thread's slow call does not hold up another's.
  struct Lane {
    std::thread worker;
    std::deque<wire::Message> calls;
  };
  std::map<std::uint32_t, Lane> lanes;
  std::condition_variable callsReady;
  bool closing = false;
  /// What this program reads ahead, and the tables it was sent.
  std::unique_ptr<HostReads> reads;
  /// The signal channel: a record socket of the program's that carries only the frames a
  /// signal handler may send (the hot-key switch), read by a thread of its own and, before
  /// every call, by the connection's reader, so what it says takes effect first.
  int signalFD = -1;
  std::thread signalReader;
  std::mutex signalMutex;  // one reader at a time, so its records apply in order

  /// A picture the program keeps by reference: its pixels only the first time.
  json pictureByReference(const CGImageRef& picture) {
    if (!picture) return nullptr;
    std::vector<std::uint64_t> gone;
    json body;
    {
      std::lock_guard lock(mutex);
      auto it = sentPictures.find(picture.get());
      if (it != sentPictures.end() && it->second.picture.lock() == picture) return json{{"ref", it->second.ref}};
      if (it != sentPictures.end()) gone.push_back(it->second.ref);  // a picture gone before, at the same place
      if (sentPictures.size() >= sweepAt) takeGonePictures(gone);
      const std::uint64_t ref = nextPicture++;
      sentPictures[picture.get()] = {picture, ref};
      body = wire::encode(picture);
      body["ref"] = ref;
    }
    forget(gone);
    return body;
  }

  /// Adds the references of pictures the host no longer has to `gone`, and drops them.
  /// Under `mutex`.
  void takeGonePictures(std::vector<std::uint64_t>& gone) {
    std::erase_if(sentPictures, [&](const auto& entry) {
      if (!entry.second.picture.expired()) return false;
      gone.push_back(entry.second.ref);
      return true;
    });
    sweepAt = std::max<std::size_t>(64, 2 * sentPictures.size());
  }

  /// Tells the program which pictures it can let go of: the host will send them whole if
  /// they are ever needed again.
  void forget(const std::vector<std::uint64_t>& refs) {
    if (!refs.empty()) push("forget", refs);
  }
  void forgetGonePictures() {
    std::vector<std::uint64_t> gone;
    {
      std::lock_guard lock(mutex);
      takeGonePictures(gone);
    }
    forget(gone);
  }

  /// Queues a push, never waiting on the program (world threads call this); `id` 0 for one
  /// that wants no answer. False when the program is gone or was let go for not reading.
  bool push(const std::string& method, json body, std::uint64_t id = 0) {
    return channel->post({wire::Kind::push, id, method, std::move(body)});
  }
  std::uint64_t newPushID() {
    std::lock_guard lock(mutex);
    return nextPush++;
  }

  /// Throws unless the program made `id` (one of `own`): a program reaches only its own
  /// taps, windows, observers and iterators, however small and guessable their numbers.
  template <typename Id>
  void requireOwn(const std::set<Id>& own, Id id, const char* what) {
    std::lock_guard lock(mutex);
    if (!own.count(id)) throw wire::BadValue(std::string(what) + " " + std::to_string(id) + " is not the program's");
  }
  /// Takes `id` out of the program's `own`, or throws as requireOwn does.
  template <typename Id>
  void takeOwn(std::set<Id>& own, Id id, const char* what) {
    std::lock_guard lock(mutex);
    if (!own.erase(id)) throw wire::BadValue(std::string(what) + " " + std::to_string(id) + " is not the program's");
  }
};

namespace {

/// The state of every window `client` owns, after a request of its own changed one: the
/// program keeps it (OwnWindowTable), so reading it back costs no further round trip.
json ownWindowsOf(Host::Client& client) {
  std::set<std::uint32_t> numbers;
  {
    std::lock_guard lock(client.mutex);
    numbers = client.windows;
  }
  return client.reads->ownWindows(numbers);
}

/// How long the accept loop waits, first and at most, before it tries again after the
/// system gave it no descriptor (or no memory) for a program.
constexpr int kFirstAcceptRetryMs = 10;
constexpr int kLongestAcceptRetryMs = 1000;

std::optional<std::string> makePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return "cannot make " + path + ": " + std::strerror(errno);
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return path + " is not a folder";
  if (info.st_uid != ::getuid()) return path + " belongs to another user";
  if ((info.st_mode & 0777) != 0700 && ::chmod(path.c_str(), 0700) != 0) {
    return "cannot make " + path + " private: " + std::strerror(errno);
  }
  return std::nullopt;
}

ProcessSerialNumber psnOf(const json& j) {
  ProcessSerialNumber psn;
  psn.highLongOfPSN = field<std::uint32_t>(j, "hi");
  psn.lowLongOfPSN = field<std::uint32_t>(j, "lo");
  return psn;
}

}  // namespace

class Host::CallbackGate {
 public:
  /// One callback's way through: it goes on only while the host lives.
  class Pass {
   public:
    explicit Pass(CallbackGate& gate) : gate_(gate) {
      std::lock_guard lock(gate_.mutex_);
      open_ = !gate_.closed_;
      if (open_) ++gate_.inside_;
    }
    ~Pass() {
      if (!open_) return;
      std::lock_guard lock(gate_.mutex_);
      if (--gate_.inside_ == 0) gate_.left_.notify_all();
    }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    explicit operator bool() const { return open_; }

   private:
    CallbackGate& gate_;
    bool open_ = false;
  };
  /// Lets no callback in any more and waits for those inside.
  void closeAndWait() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    left_.wait(lock, [&] { return inside_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable left_;
  std::size_t inside_ = 0;
  bool closed_ = false;
};

Host::Host(sim::World& world, sim::WindowServer& server)
    : gate_(std::make_shared<CallbackGate>()),
      world_(world),
      server_(server),
      allowedUID_(::getuid()),
      multitouch_(std::make_unique<HostMultitouch>(world)) {
  installListeners();
}

Host::~Host() {
  stop();
  world_.setChangeListener(nullptr);
  server_.setWorkspaceListener(nullptr);
  server_.setProgramEventListener(nullptr);
  world_.setDistributedNotificationListener(nullptr);
  world_.setAppleEventListener(nullptr);
  // A listener the world took before it was unset may still be running.
  gate_->closeAndWait();
}

void Host::setAllowedUser(uid_t uid) { allowedUID_ = uid; }

void Host::note(const std::string& line) { log_.write(line); }

void Host::noteAbout(Client& client, const std::string& line) { log_.write(client.logBudget, client.who, line); }

std::vector<std::string> Host::log() const { return log_.lines(); }

std::optional<std::string> Host::listen(const std::string& home) {
  endpoint_ = endpointFor(home);
  ::mkdir((home + "/Library").c_str(), 0755);  // a fresh home may have none yet
  if (auto problem = makePrivateFolder(endpoint_.folder)) return problem;
  lockFD_ = platform::openPlainFile(endpoint_.lock, O_RDWR | O_CREAT, 0600);
  if (lockFD_ < 0) {
    if (errno == EINVAL) return endpoint_.lock + " is not a plain file; remove it to start the world host";
    return "cannot open " + endpoint_.lock + ": " + std::strerror(errno);
  }
  // The lock is the host's life: the kernel lets go of it when the host dies, however it
  // dies, so a socket found without a lock holder is a dead host's and can be replaced.
  if (::flock(lockFD_, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    const ssize_t n = ::pread(lockFD_, pid, sizeof(pid) - 1, 0);
    ::close(lockFD_);
    lockFD_ = -1;
    std::string who = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : std::string("?");
    while (!who.empty() && (who.back() == '\n' || who.back() == ' ')) who.pop_back();
    return "a world host already runs for " + home + " (pid " + who + ")";
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lockFD_, 0) != 0 || ::pwrite(lockFD_, pid.data(), pid.size(), 0) < 0) {
    return "cannot write " + endpoint_.lock;
  }
  // Programs keep answers while the world's change count, on a page they map, stands still.
  auto count = SharedCount::create(endpoint_.folder + "/changes");
  if (auto* made = std::get_if<std::unique_ptr<SharedCount>>(&count)) {
    changes_ = std::move(*made);
    changesPath_ = endpoint_.folder + "/changes";
  } else {
    note(std::get<std::string>(count) + "; programs will ask for everything");
  }
  world_.setChangeListener([this, gate = gate_, counter = changes_.get()](sim::World::Reach reach) {
    CallbackGate::Pass pass(*gate);
    if (!pass) return;
    if (counter) {
      if (reach == sim::World::Reach::beyondDesk) counter->raise(SharedCount::beyondDesk);
      counter->raise();
    }
    tellScreens();
  });
  // However long the home's path, the socket is bound where it belongs, in its folder.
  address_ = std::make_unique<SocketAddress>(endpoint_.socket);
  if (address_->problem()) return *address_->problem();
  if (::unlink(address_->usablePath()) == 0) note("replaced the socket of a host that is gone");
  listenFD_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFD_ < 0) return std::string("cannot make a socket: ") + std::strerror(errno);
  // Made private before it can be reached: the folder is 0700 already, the socket 0600.
  const mode_t previous = ::umask(0177);
  const int bound = ::bind(listenFD_, address_->get(), address_->size());
  ::umask(previous);
  if (bound != 0 || ::chmod(address_->usablePath(), 0600) != 0 || ::listen(listenFD_, 16) != 0) {
    return "cannot listen on " + endpoint_.socket + ": " + std::strerror(errno);
  }
  if (::pipe2(wakeFD_, O_CLOEXEC | O_NONBLOCK) != 0) return std::string("cannot make a pipe: ") + std::strerror(errno);
  return std::nullopt;
}

std::optional<std::string> Host::serve() {
  try {
    acceptor_ = startThread([this] { acceptLoop(); });
  } catch (const std::system_error& e) {
    return std::string("cannot make a thread to accept programs: ") + e.what();
  }
  return std::nullopt;
}

void Host::acceptLoop() {
  int retryMs = 0;  // while the system has no descriptor to give: the wait before trying again
  while (true) {
    pollfd fds[2] = {{listenFD_, POLLIN, 0}, {wakeFD_[0], POLLIN, 0}};
    // A program waiting to be accepted keeps the socket readable: without a wait between
    // tries, a loop that cannot accept it would spin.
    if (::poll(retryMs ? &fds[1] : fds, retryMs ? 1 : 2, retryMs ? retryMs : -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) {
      // Woken to stop, or to let go of a connection that ended.
      char wakes[64];
      while (::read(wakeFD_[0], wakes, sizeof(wakes)) > 0) {
      }
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    const bool due = retryMs ? fds[1].revents == 0 : (fds[0].revents & POLLIN) != 0;
    const int fd = due ? ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (!due) {
      // Only woken: nothing to accept yet.
    } else if (fd >= 0) {
      if (retryMs) note("accepting programs again");
      retryMs = 0;
      attach(fd);
    } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      if (!retryMs) note(std::string("cannot accept programs for now (") + std::strerror(errno) + "); trying again");
      retryMs = retryMs ? std::min(2 * retryMs, kLongestAcceptRetryMs) : kFirstAcceptRetryMs;
      acceptRetries_.fetch_add(1);
    }
    // Join the reader threads of connections that ended meanwhile.
    std::vector<std::shared_ptr<Client>> done;
    {
      std::lock_guard lock(mutex_);
      done.swap(finished_);
    }
    for (auto& client : done) client->channel->join();
  }
}

void Host::attach(int fd) {
  auto client = std::make_shared<Client>();
  client->channel = std::make_unique<Channel>(fd);
  client->reads = std::make_unique<HostReads>(world_, server_, changes_.get());
  client->who = "program " + std::to_string(client->channel->peerPID());
  // A refused program is told why before its connection closes (as the channel goes).
  auto refuse = [&](const std::string& why, const std::string& line) {
    log_.write(refusals_, "refused " + client->who, line);
    client->channel->send({wire::Kind::error, 0, "", why});
  };
  if (client->channel->peerUID() != allowedUID_) {
    refuse("the world host serves only its own user", "its user is " + std::to_string(client->channel->peerUID()));
    return;
  }
  bool full = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    full = clients_.size() >= kMaxPrograms;
    if (!full) client->number = ++attachments_;
  }
  if (full) {
    refuse("the world host serves at most " + std::to_string(kMaxPrograms) + " programs at once",
           "the host already serves " + std::to_string(kMaxPrograms) + " programs");
    return;
  }
  try {
    // Before the client is listed: from then on world threads may push to it.
    client->channel->startPosting(kMaxUnreadBytes);
  } catch (const std::system_error& e) {
    refuse("the world host cannot take another program now", std::string("no thread for it (") + e.what() + ")");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    clients_.push_back(client);
  }
  std::weak_ptr<Client> weak = client;
  try {
    client->channel->start(
        [this, weak](wire::Message message) {
          if (auto c = weak.lock()) handle(c, std::move(message));
        },
        [this, weak](const std::optional<wire::Fault>& fault) {
          if (auto c = weak.lock()) closed(c, fault);
        });
  } catch (const std::system_error& e) {
    // No thread to read the program: it is refused and everyone else goes on.
    if (client->pid) server_.terminate(client->pid);
    {
      std::lock_guard lock(mutex_);
      std::erase(clients_, client);
      if (client->primary) primaryTaken_ = false;
    }
    refuse("the world host cannot take another program now", std::string("no thread for it (") + e.what() + ")");
  }
  changed_.notify_all();
}

void Host::closed(const std::shared_ptr<Client>& client, const std::optional<wire::Fault>& fault) {
  std::optional<wire::Message> parting;
  if (fault) {
    noteAbout(*client, fault->what + "; connection closed");
    // A program of another protocol is told which one this host speaks before it goes.
    if (fault->reason == wire::Fault::Reason::version) {
      parting = wire::Message{wire::Kind::error, 0, "",
                              "the world host speaks protocol " + std::to_string(wire::kProtocolVersion)};
    }
  }
  // Shut before its lanes are joined: one may be writing to a peer that reads no more.
  client->channel->close(parting);
  {
    std::lock_guard lock(client->mutex);
    client->closing = true;
  }
  client->callsReady.notify_all();
  answerPending(*client);  // a call waiting on this program stops waiting
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(client->mutex);
    for (auto& [id, lane] : client->lanes) workers.push_back(std::move(lane.worker));
  }
  for (auto& worker : workers) worker.join();
  if (client->signalFD >= 0) {
    ::shutdown(client->signalFD, SHUT_RDWR);  // its reader sees the end, after what was sent last
    if (client->signalReader.joinable()) client->signalReader.join();
    ::close(client->signalFD);
    client->signalFD = -1;
  }
  reclaim(*client);
  // A copy that is gone ends as a process of the world does: its app terminates. The
  // world's own app outlives its program, but no longer holds the front and the menu bar.
  if (client->pid) {
    server_.terminate(client->pid);
  } else if (client->primary) {
    server_.resignFront(server_.ownProcessIdentifier());
  }
  log_.summarize(client->logBudget, client->who);
  {
    std::lock_guard lock(mutex_);
    std::erase(clients_, client);
    finished_.push_back(client);
    if (client->primary) primaryTaken_ = false;
  }
  wakeAcceptor();  // which lets go of the connection now, not when the next program comes
  changed_.notify_all();
}

void Host::wakeAcceptor() {
  if (wakeFD_[1] < 0) return;
  const char wake = 1;
  [[maybe_unused]] auto n = ::write(wakeFD_[1], &wake, 1);  // a full pipe wakes it already
}

void Host::answerPending(Client& client) {
  std::map<std::uint64_t, Client::PendingTap> pending;
  {
    std::lock_guard lock(client.mutex);
    pending.swap(client.pendingTaps);
  }
  // A dead program's taps hold no event: what they were deciding goes on unchanged.
  for (auto& [id, p] : pending) p.reply(p.event);
}

void Host::reclaim(Client& client) {
  std::set<std::uint64_t> taps, observers;
  std::set<std::uint32_t> iterators, windows;
  {
    std::lock_guard lock(client.mutex);
    taps.swap(client.taps);
    observers.swap(client.observers);
    iterators.swap(client.iterators);
    windows.swap(client.windows);
    client.workspace = client.ownEvents = client.notifications = client.appleEvents = false;
    if (client.watchesScreen) screenWatchers_.fetch_sub(1, std::memory_order_release);
    client.watchesScreen = false;
  }
  answerPending(client);
  for (auto tap : taps) server_.removeEventTap(tap);
  for (auto observer : observers) server_.axDestroyObserver(observer);
  for (auto iterator : iterators) server_.releaseIOObject(iterator);
  multitouch_->forget(client.number);
  releaseHotKeys(client);
  std::optional<sim::WindowServer::ActingProgram> acting;
  if (client.pid) acting.emplace(client.pid);
  for (auto window : windows) server_.destroyOwnWindow(window);
}

void Host::readSignals(Client& client) {
  std::lock_guard lock(client.signalMutex);
  if (client.signalFD < 0) return;
  std::uint8_t record[512];
  while (true) {
    const ssize_t n = ::recv(client.signalFD, record, sizeof(record), MSG_DONTWAIT);
    if (n <= 0) return;  // nothing more now, or the program is gone
    wire::Decoder decoder(sizeof(record));
    decoder.feed(record, static_cast<std::size_t>(n));
    auto message = decoder.next();
    bool switched = false;
    if (message && decoder.buffered() == 0 && message->kind == wire::Kind::call &&
        message->method == "private.SLSSetSymbolicHotKeyEnabled") {
      try {
        switched = switchHotKey(client, field<std::uint32_t>(message->body, "key"), field<bool>(message->body, "on"))
                       .has_value();
      } catch (const std::exception&) {
        switched = false;
      }
    }
    if (!switched) noteAbout(client, "sent something else on its signal channel; ignored");
  }
}

std::optional<std::int32_t> Host::switchHotKey(const Client& client, std::uint32_t key, bool on) {
  auto* f = privateFunction<SLSSetSymbolicHotKeyEnabled_t>(world_, kSkyLightPath, "SLSSetSymbolicHotKeyEnabled");
  if (!f) return std::nullopt;
  // The world's switch and its owner change together: a program that turns a hot key off
  // holds it until it turns it on or its connection ends.
  std::lock_guard lock(hotKeysMutex_);
  const std::int32_t status = f(key, on);
  if (on) {
    hotKeyHolders_.erase(key);
  } else {
    hotKeyHolders_[key] = client.number;
  }
  return status;
}

void Host::releaseHotKeys(const Client& client) {
  auto* f = privateFunction<SLSSetSymbolicHotKeyEnabled_t>(world_, kSkyLightPath, "SLSSetSymbolicHotKeyEnabled");
  std::lock_guard lock(hotKeysMutex_);
  for (auto it = hotKeyHolders_.begin(); it != hotKeyHolders_.end();) {
    if (it->second != client.number) {
      ++it;
      continue;
    }
    if (f) f(it->first, true);
    it = hotKeyHolders_.erase(it);
  }
}

void Host::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  wakeAcceptor();
  if (acceptor_.joinable()) acceptor_.join();
  // Only now: a program the acceptor was attaching as the stop came is listed by the time
  // the acceptor has ended, and is closed with the rest.
  std::vector<std::shared_ptr<Client>> clients;
  {
    std::lock_guard lock(mutex_);
    clients = clients_;
  }
  for (auto& client : clients) client->channel->close();
  for (auto& client : clients) client->channel->join();
  {
    std::lock_guard lock(mutex_);
    clients.insert(clients.end(), finished_.begin(), finished_.end());
    finished_.clear();
  }
  for (auto& client : clients) client->channel->join();
  if (listenFD_ >= 0) {
    ::close(listenFD_);
    ::unlink(address_->usablePath());
    listenFD_ = -1;
  }
  for (int& fd : wakeFD_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (lockFD_ >= 0) {
    ::close(lockFD_);
    lockFD_ = -1;
  }
}

Host::Counts Host::counts() const {
  std::vector<std::shared_ptr<Client>> clients;
  Counts counts;
  {
    std::lock_guard lock(mutex_);
    clients = clients_;
    counts.programs = clients_.size();
  }
  for (auto& client : clients) {
    std::lock_guard lock(client->mutex);
    for (const auto& [id, lane] : client->lanes) counts.lanes += lane.worker.joinable() ? 1 : 0;
    counts.sentPictures += client->sentPictures.size();
  }
  for (auto& client : clients) {
    std::lock_guard lock(client->screenSurfaces.mutex);
    counts.screenSurfaces += client->screenSurfaces.byDisplay.size();
  }
  counts.acceptRetries = acceptRetries_.load();
  return counts;
}

std::size_t Host::clientCount() const {
  std::lock_guard lock(mutex_);
  return clients_.size();
}

void Host::waitForClients(std::size_t count) const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return clients_.size() == count || stopping_; });
}

void Host::waitUntilIdle(double lingerSeconds) const {
  const auto linger = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(lingerSeconds));
  // The program that started the host attaches once it has read "ready", which a loaded
  // machine can delay past a short linger: until a first program came, the host waits longer.
  const auto firstWait = std::max(linger, std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::seconds(kFirstProgramWaitSeconds)));
  std::unique_lock lock(mutex_);
  auto idleSince = std::chrono::steady_clock::now();
  bool anyCame = false;
  while (!stopping_) {
    if (!clients_.empty()) {
      anyCame = true;
      changed_.wait(lock, [&] { return clients_.empty() || stopping_; });
      idleSince = std::chrono::steady_clock::now();
      continue;
    }
    const auto until = idleSince + (anyCame ? linger : firstWait);
    if (changed_.wait_until(lock, until, [&] { return !clients_.empty() || stopping_; })) continue;
    return;
  }
}

void Host::broadcast(const std::string& method, const json& body, bool Client::*wants, bool primaryOnly) {
  std::vector<std::shared_ptr<Client>> clients;
  {
    std::lock_guard lock(mutex_);
    clients = clients_;
  }
  for (auto& client : clients) {
    bool wanted = false;
    {
      std::lock_guard lock(client->mutex);
      wanted = (*client).*wants && (client->primary || !primaryOnly);
    }
    if (wanted) client->push(method, body);
  }
}

void Host::tellScreens() {
  if (screenWatchers_.load(std::memory_order_acquire) == 0) return;
  std::vector<std::shared_ptr<Client>> clients;
  {
    std::lock_guard lock(mutex_);
    clients = clients_;
  }
  for (auto& client : clients) {
    {
      std::lock_guard lock(client->mutex);
      if (!client->watchesScreen || client->screenTold) continue;
      client->screenTold = true;
    }
    client->push("screenChanged", nullptr);
  }
}

void Host::installListeners() {
  server_.setWorkspaceListener([this, gate = gate_](const platform::WorkspaceEvent& event) {
    CallbackGate::Pass pass(*gate);
    if (!pass) return;
    broadcast("workspace", wire::encode(event), &Client::workspace);
    // An ending process may take the icon of an older ended one with it; programs that
    // were sent that icon can let go of it too.
    if (event.kind == platform::WorkspaceEvent::Kind::didTerminate) {
      std::vector<std::shared_ptr<Client>> clients;
      {
        std::lock_guard lock(mutex_);
        clients = clients_;
      }
      for (auto& client : clients) client->forgetGonePictures();
    }
  });
  server_.setProgramEventListener([this, gate = gate_](const CGEvent& event, std::uint32_t window, std::int32_t pid) {
    CallbackGate::Pass pass(*gate);
    if (!pass) return;
    // Keys and clicks go to the program they are for: the world's own is the primary one.
    // Posted by a copy, the event is routed on that copy's thread: its own pid is not the
    // world's there.
    bool worlds = false;
    {
      sim::WindowServer::ActingProgram world(0);
      worlds = pid == server_.ownProcessIdentifier();
    }
    std::shared_ptr<Client> to;
    {
      std::lock_guard lock(mutex_);
      for (const auto& client : clients_) {
        if (worlds ? client->primary : client->pid == pid) to = client;
      }
    }
    if (!to) return;
    {
      std::lock_guard lock(to->mutex);
      if (!to->ownEvents) return;
    }
    to->push("ownEvent", json{{"event", wire::encode(event)}, {"window", window}});
  });
  world_.setDistributedNotificationListener([this, gate = gate_](const std::string& name) {
    if (CallbackGate::Pass pass(*gate); pass) broadcast("notification", name, &Client::notifications);
  });
  world_.setAppleEventListener([this, gate = gate_](const platform::AppleEvent& event) {
    if (CallbackGate::Pass pass(*gate); pass) broadcast("appleEvent", wire::encode(event), &Client::appleEvents);
  });
}

void Host::settleRole(Client& client, const std::string& firstCall) {
  if (firstCall == "screenAttach") {
    {
      std::lock_guard lock(mutex_);
      if (client.role != Client::Role::undecided) return;
      client.role = Client::Role::screen;
    }
    // The screen brings its input devices: a trackpad, for the double tap its keys make.
    if (sim::MultitouchDevices* devices = sim::MultitouchDevices::active()) devices->trackpad();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (client.role != Client::Role::undecided) return;
    client.role = Client::Role::program;
    client.primary = !primaryTaken_;
    primaryTaken_ = true;
    if (client.primary) return;
  }
  // Another copy of the program: a process of the world beside the first, launched now,
  // before its first call is answered.
  sim::App copy = server_.app(server_.ownProcessIdentifier()).value_or(sim::App{});
  copy.pid = 0;
  copy.launchDate.reset();
  copy.terminated = false;
  copy.hidden = false;
  copy.focusedWindow = 0;
  client.pid = server_.addApp(copy);
}

void Host::handle(const std::shared_ptr<Client>& client, wire::Message message) {
  if (message.kind == wire::Kind::answer) {
    std::optional<Client::PendingTap> tap;
    {
      std::lock_guard lock(client->mutex);
      if (auto it = client->pendingTaps.find(message.id); it != client->pendingTaps.end()) {
        tap = std::move(it->second);
        client->pendingTaps.erase(it);
      }
    }
    if (tap) {
      std::optional<CGEvent> verdict;
      try {
        wire::decode(message.body, verdict);
      } catch (const std::exception&) {
        verdict = tap->event;  // an answer that is not an event consumes nothing
      }
      tap->reply(verdict);
    }
    return;
  }
  if (message.kind != wire::Kind::call) {
    noteAbout(*client, std::string("sent a ") + wire::kindName(message.kind) + "; ignored");
    return;
  }
  settleRole(*client, message.method);
  readSignals(*client);
  if (message.lane == 0) {
    // Lane 0 is answered at once, before anything read after it: what a program sends
    // without waiting (the hot-key switch from a signal handler) takes effect before its
    // next call, whichever thread makes that.
    answer(client, std::move(message));
    return;
  }
  std::optional<wire::Message> unanswerable;
  std::string why;
  {
    std::lock_guard lock(client->mutex);
    if (client->closing) return;
    // A program has a handful of threads; one that makes up lanes shares the last one.
    const std::uint32_t id = std::min(message.lane, kMaxLanes);
    Client::Lane& lane = client->lanes[id];
    lane.calls.push_back(std::move(message));
    if (!lane.worker.joinable()) {
      try {
        lane.worker = startThread([this, client, id] { work(client, id); });
      } catch (const std::system_error& e) {
        // The call is refused; the lane tries for a thread again with its next call.
        unanswerable = std::move(lane.calls.back());
        lane.calls.pop_back();
        why = e.what();
      }
    }
  }
  if (unanswerable) {
    noteAbout(*client, "no thread for the calls of its lane " + std::to_string(unanswerable->lane) + " (" + why +
                           "); call refused");
    client->channel->post(
        {wire::Kind::error, unanswerable->id, "", "the world host cannot make a thread for this call now"}, false);
    return;
  }
  client->callsReady.notify_all();
}

void Host::work(const std::shared_ptr<Client>& client, std::uint32_t lane) {
  while (true) {
    wire::Message message;
    {
      std::unique_lock lock(client->mutex);
      auto& calls = client->lanes[lane].calls;
      client->callsReady.wait(lock, [&] { return client->closing || !calls.empty(); });
      if (client->closing) return;
      message = std::move(calls.front());
      calls.pop_front();
    }
    answer(client, std::move(message));
  }
}

void Host::answer(const std::shared_ptr<Client>& client, wire::Message message) {
  wire::Message reply{wire::Kind::reply, message.id, "", nullptr};
  std::optional<sim::WindowServer::ActingProgram> acting;
  if (client->pid) acting.emplace(client->pid);
  try {
    if (auto picture = capture(message.method, message.body)) {
      reply.body = wire::pictureInMemory(*picture, reply.descriptor);
    } else if (message.method == "screenSurface") {
      reply.body = screenSurface(message.body, client->screenSurfaces, reply.descriptor);
    } else {
      reply.body = call(client, message.method, message.body, message.descriptor.get());
      // A large picture (a display at scale 2) goes beside the reply, in shared memory.
      reply.descriptor = wire::movePixelsToMemory(reply.body);
    }
  } catch (const std::exception& e) {
    reply.kind = wire::Kind::error;
    reply.body = "bad request " + message.method + ": " + e.what();
  }
  // Behind every push made before it, so a program that has its answer has those too; an
  // answer is what the program asked for, and never counts as left unread. A program that
  // asks without reading waits here, on its own lane.
  client->channel->postAnswer(reply);
}

std::optional<CGImageRef> Host::capture(const std::string& m, const json& v) {
  if (m == "captureDisplay") {
    return world_.captureDisplay(field<std::uint32_t>(v, "id"), field<int>(v, "w"), field<int>(v, "h"),
                                 field<bool>(v, "cursor"));
  }
  if (m == "captureWindowPicture") {
    return server_.captureWindowPicture(field<std::uint32_t>(v, "id"), field<int>(v, "w"), field<int>(v, "h"));
  }
  if (m == "hwCaptureWindow") {
    // SLSHWCaptureWindowList one window at a time, so each picture has memory of its own.
    auto f = privateFunction<SLSHWCaptureWindowList_t>(world_, kSkyLightPath, "SLSHWCaptureWindowList");
    if (!f) throw wire::BadValue("the world has no SLSHWCaptureWindowList");
    const auto window = field<std::uint32_t>(v, "window");
    const auto pictures = f(field<CGSConnectionID>(v, "cid"), &window, 1, field<std::uint32_t>(v, "options"));
    return pictures && !pictures->empty() ? pictures->front() : CGImageRef();
  }
  return std::nullopt;
}

json Host::call(const std::shared_ptr<Client>& client, const std::string& m, const json& v,
                wire::Descriptor* descriptor) {
  using namespace platform;
  sim::WindowServer& ws = server_;
  std::weak_ptr<Client> weak = client;
  // Programs keep what they read while this count stands (PreferenceCache); a file
  // written behind the host's back changes its stamp, which they look at themselves.
  auto preferencesChanged = [this] {
    if (changes_) changes_->raise(SharedCount::preferences);
  };

  // ---- SystemPort ----
  if (m == "screens") return wire::encode(world_.screens());
  if (m == "screenCaptureAllowed") return world_.screenCaptureAllowed();
  if (m == "requestScreenCaptureAccess") return world_.requestScreenCaptureAccess();
  if (m == "accessibilityTrusted") return world_.accessibilityTrusted(read<bool>(v));
  if (m == "applicationDomainName") return world_.applicationDomainName();
  if (m == "preferenceValue") {
    return wire::encode(world_.preferenceValue(field<std::string>(v, "domain"), field<std::string>(v, "key")));
  }
  if (m == "setPreferenceValue") {
    const bool saved = world_.setPreferenceValue(field<std::string>(v, "domain"), field<std::string>(v, "key"),
                                                 field<std::optional<PlistValue>>(v, "value"));
    preferencesChanged();
    return saved;
  }
  if (m == "firstPreferenceValue") {
    return wire::encode(
        world_.firstPreferenceValue(field<std::vector<std::string>>(v, "domains"), field<std::string>(v, "key")));
  }
  if (m == "setPreferenceValues") {
    const auto values = field<PlistValue>(v, "values");
    if (!values.asDictionary()) throw wire::BadValue("values is not a dictionary");
    const bool saved = world_.setPreferenceValues(field<std::string>(v, "domain"), *values.asDictionary());
    preferencesChanged();
    return saved;
  }
  if (m == "preferenceDomain") {
    auto domain = world_.preferenceDomain(read<std::string>(v));
    return domain ? wire::encode(PlistValue(*domain)) : json(nullptr);
  }
  if (m == "synchronizePreferences") {
    world_.synchronizePreferences(read<std::string>(v));
    preferencesChanged();
    return nullptr;
  }
  if (m == "preferencesFolder") return world_.preferencesFolder();
  if (m == "loginItemStatus") return static_cast<int>(world_.loginItemStatus());
  if (m == "setLoginItem") return wire::encode(world_.setLoginItem(read<bool>(v)));
  if (m == "shareableDisplays") {
    auto displays = world_.shareableDisplays();
    if (!displays) return nullptr;
    json a = json::array();
    for (const auto& d : *displays) a.push_back(json::array({d.displayID, d.width, d.height}));
    return a;
  }
  // ---- The screen's window (not a port: what a monitor shows needs no capture grant) ----
  if (m == "screenAttach") return true;  // the screen says what it is (see settleRole)
  if (m == "screenGeneration") {
    {
      std::lock_guard lock(client->mutex);
      client->screenTold = false;  // the screen looks: what changes from now on is told again
    }
    return ws.generation();
  }
  if (m == "screenDoubleTap") {
    const int fingers = read<int>(v);
    if (fingers != 3 && fingers != 4) return false;
    sim::MultitouchDevices* devices = sim::MultitouchDevices::active();
    return devices && devices->doubleTap(fingers);
  }
  if (m == "screenWatch") {
    std::lock_guard lock(client->mutex);
    if (!client->watchesScreen) screenWatchers_.fetch_add(1, std::memory_order_release);
    client->watchesScreen = true;
    return true;
  }
  if (m == "screenFrames") {
    {
      std::lock_guard lock(client->mutex);
      client->screenTold = false;  // what changes from now on is told again
    }
    return screenFrames(v, client->screenSurfaces);
  }
  if (m == "ownWindowSurfacePublished") {
    tellScreens();
    return nullptr;
  }
  // ---- What the host tells tests about the world's shared state (not a port either) ----
  if (m == "eventTaps") {
    json ids = json::array();
    if (sim::EventServer* events = sim::EventServer::active())
      for (const auto& tap : events->taps()) ids.push_back(tap.id);
    return ids;
  }
  if (m == "eventTapStates") {
    json states = json::array();
    if (sim::EventServer* events = sim::EventServer::active())
      for (const auto& tap : events->taps())
        states.push_back({{"id", tap.id}, {"pid", tap.owner}, {"enabled", tap.enabled}, {"timeouts", tap.timeouts}});
    return states;
  }
  if (m == "hotKeysEnabled") {
    return json::array({sim::WindowServer::symbolicHotKeyEnabled(1), sim::WindowServer::symbolicHotKeyEnabled(2)});
  }
  if (m == "libraryExists") return world_.libraryExists(read<std::string>(v));
  if (m == "glassEffectViewResponds") return world_.glassEffectViewResponds(read<std::string>(v));
  if (m == "symbol") {
    return world_.symbol(field<std::string>(v, "path"), field<std::string>(v, "name")) != nullptr;
  }
  if (m == "launchProcess") {
    const std::uint64_t token = field<std::uint64_t>(v, "token");
    auto started = world_.launchProcess(
        field<std::string>(v, "executable"), field<std::vector<std::string>>(v, "arguments"),
        [weak, token](int status) {
          if (auto c = weak.lock()) c->push("terminated", json{{"token", token}, {"status", status}});
        });
    if (auto* pid = std::get_if<std::int32_t>(&started)) return json{{"pid", *pid}};
    return json{{"error", std::get<std::string>(started)}};
  }
  if (m == "mainBundlePath") return world_.mainBundlePath();
  if (m == "mainExecutablePath") return world_.mainExecutablePath();
  if (m == "processPath") return wire::encode(world_.processPath(read<std::int32_t>(v)));
  // ---- Reading ahead (HostReads) ----
  if (m == "changeCount") return changes_ ? json(changesPath_) : json(nullptr);
  if (m == "read") {
    return client->reads->read(v, [&](const std::string& method, const json& body) {
      if (method == "read" || method == "rows") throw wire::BadValue("a read of a read");
      return call(client, method, body, nullptr);
    });
  }
  if (m == "rows") return client->reads->rows(v);
  if (m == "signalChannel") {
    if (!descriptor) throw wire::BadValue("no socket came with the request");
    const int fd = descriptor->get();
    int type = 0;
    socklen_t length = sizeof(type);
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET) {
      throw wire::BadValue("the signal channel is not a record socket");
    }
    std::scoped_lock lock(client->mutex, client->signalMutex);
    if (client->signalFD >= 0 || client->closing) throw wire::BadValue("the program has its signal channel already");
    // No thread for it: the call fails (a std::system_error) and the program goes on
    // without the channel; its hot keys still come back when it ends.
    client->signalReader = startThread([this, c = client.get(), fd] {
      pollfd watch{fd, POLLIN, 0};
      while (true) {
        if (::poll(&watch, 1, -1) < 0 && errno != EINTR) return;
        readSignals(*c);
        if (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) return;
      }
    });
    client->signalFD = descriptor->release();
    return nullptr;
  }
  if (m == "listen") {
    // Which pushes the program wants: "workspace", "ownEvents", "notifications", "appleEvents".
    const bool on = field<bool>(v, "on");
    const std::string kind = field<std::string>(v, "kind");
    std::lock_guard lock(client->mutex);
    if (kind == "workspace") {
      client->workspace = on;
    } else if (kind == "ownEvents") {
      client->ownEvents = on;
    } else if (kind == "notifications") {
      client->notifications = on;
    } else if (kind == "appleEvents") {
      client->appleEvents = on;
    } else {
      throw wire::BadValue("unknown push kind " + kind);
    }
    return nullptr;
  }

  // ---- WindowServerPort ----
  if (m == "windowList") return wire::encode(ws.windowList());
  if (m == "pointerLocation") return wire::encode(ws.pointerLocation());
  if (m == "warpPointer") {
    ws.warpPointer(read<CGPoint>(v));
    return nullptr;
  }
  if (m == "listenEventAccess") return ws.listenEventAccess();
  if (m == "postEventAccess") return ws.postEventAccess();
  if (m == "postEvent") {
    ws.postEvent(field<CGEventTapLocation>(v, "tap"), field<CGEvent>(v, "event"));
    return nullptr;
  }
  if (m == "createEventTap") {
    const auto key = field<std::uint64_t>(v, "key");
    auto tap = ws.createEventTap(field<EventTapRequest>(v, "request"), [weak, key](CGEventType type, CGEvent event,
                                                                                   EventTapReply reply) {
      auto c = weak.lock();
      if (!c) {
        reply(event);
        return;
      }
      const std::uint64_t push = c->newPushID();
      {
        std::lock_guard lock(c->mutex);
        if (c->closing) {
          reply(event);
          return;
        }
        c->pendingTaps[push] = {reply, event};
      }
      if (!c->push("tap", json{{"key", key}, {"type", type}, {"event", wire::encode(event)}}, push)) {
        std::lock_guard lock(c->mutex);
        if (c->pendingTaps.erase(push)) reply(event);
      }
    });
    if (!tap) return nullptr;
    std::lock_guard lock(client->mutex);
    client->taps.insert(*tap);
    return *tap;
  }
  if (m == "setEventTapEnabled") {
    const auto tap = field<std::uint64_t>(v, "tap");
    client->requireOwn(client->taps, tap, "tap");
    ws.setEventTapEnabled(tap, field<bool>(v, "on"));
    return nullptr;
  }
  if (m == "isEventTapEnabled") return ws.isEventTapEnabled(read<std::uint64_t>(v));
  if (m == "removeEventTap") {
    const auto tap = read<std::uint64_t>(v);
    client->takeOwn(client->taps, tap, "tap");
    ws.removeEventTap(tap);
    return nullptr;
  }
  if (m == "ownProcessIdentifier") return ws.ownProcessIdentifier();
  if (m == "operatingSystemVersion") {
    auto os = ws.operatingSystemVersion();
    return json::array({os.majorVersion, os.minorVersion, os.patchVersion});
  }
  if (m == "runningApplications") {
    json apps = json::array();
    for (const auto& app : ws.runningApplications()) {
      json one = wire::encode(app);
      one["icon"] = client->pictureByReference(app.icon);
      apps.push_back(std::move(one));
    }
    return apps;
  }
  if (m == "application") {
    auto app = ws.application(read<std::int32_t>(v));
    if (!app) return nullptr;
    json one = wire::encode(*app);
    one["icon"] = client->pictureByReference(app->icon);
    return one;
  }
  if (m == "frontmostApplication") return wire::encode(ws.frontmostApplication());
  if (m == "activateApplication") {
    return ws.activateApplication(field<std::int32_t>(v, "pid"), field<std::uint32_t>(v, "options"));
  }
  if (m == "hideApplication") return ws.hideApplication(read<std::int32_t>(v));
  if (m == "unhideApplication") return ws.unhideApplication(read<std::int32_t>(v));
  if (m == "terminateApplication") return ws.terminateApplication(field<std::int32_t>(v, "pid"), field<bool>(v, "force"));
  if (m == "openApplication") {
    const std::uint64_t token = field<std::uint64_t>(v, "token");
    ws.openApplication(field<std::string>(v, "path"), field<bool>(v, "activates"),
                       [weak, token](std::optional<std::int32_t> pid, std::optional<std::string> error) {
                         if (auto c = weak.lock()) {
                           c->push("opened",
                                   json{{"token", token}, {"pid", wire::encode(pid)}, {"error", wire::encode(error)}});
                         }
                       });
    return nullptr;
  }
  if (m == "openURL") return ws.openURL(read<std::string>(v));
  if (m == "openSystemSettingsLoginItems") {
    ws.openSystemSettingsLoginItems();
    return nullptr;
  }
  if (m == "applicationPath") return wire::encode(ws.applicationPath(read<std::string>(v)));
  // Made afresh for each request: sent whole, never kept by reference.
  if (m == "bundleIcon") return wire::encode(ws.bundleIcon(read<std::string>(v)));
  if (m == "createOwnWindow") {
    const std::uint32_t number = ws.createOwnWindow(read<OwnWindowState>(v));
    {
      std::lock_guard lock(client->mutex);
      client->windows.insert(number);
    }
    return json{{"n", number}, {"own", ownWindowsOf(*client)}};
  }
  if (m == "updateOwnWindow") {
    const auto number = field<std::uint32_t>(v, "n");
    client->requireOwn(client->windows, number, "window");
    ws.updateOwnWindow(number, field<OwnWindowState>(v, "state"));
    return ownWindowsOf(*client);
  }
  if (m == "orderOwnWindow") {
    const int order = field<int>(v, "order");
    if (order < 0 || order > static_cast<int>(OwnWindowOrder::out)) throw wire::BadValue("bad order");
    const auto number = field<std::uint32_t>(v, "n");
    client->requireOwn(client->windows, number, "window");
    ws.orderOwnWindow(number, static_cast<OwnWindowOrder>(order));
    return ownWindowsOf(*client);
  }
  if (m == "setOwnKeyWindow") {
    const auto number = read<std::uint32_t>(v);
    if (number != 0) client->requireOwn(client->windows, number, "window");  // 0: none is key
    ws.setOwnKeyWindow(number);
    return ownWindowsOf(*client);
  }
  if (m == "ownWindowStatus") return wire::encode(ws.ownWindowStatus(read<std::uint32_t>(v)));
  if (m == "ownWindows") return ownWindowsOf(*client);
  if (m == "destroyOwnWindow") {
    const auto number = read<std::uint32_t>(v);
    client->takeOwn(client->windows, number, "window");
    ws.destroyOwnWindow(number);
    return ownWindowsOf(*client);
  }
  if (m == "setOwnWindowSurface") {
    const auto number = field<std::uint32_t>(v, "n");
    client->requireOwn(client->windows, number, "window");
    if (!descriptor) {
      ws.setOwnWindowSurface(number, nullptr);
      return nullptr;
    }
    // The program's memory, mapped here read-only: pictures of the window read it and
    // never ask the program.
    std::string problem;
    auto surface = platform::SharedSurface::map(descriptor->release(), &problem);
    if (!surface) throw wire::BadValue(problem);
    ws.setOwnWindowSurface(number, std::move(surface));
    return nullptr;
  }
  if (m == "axCopyAttribute") {
    auto answer = ws.axCopyAttribute(field<AXElementID>(v, "e"), field<std::string>(v, "a"), axTimeoutOf(v));
    return json{{"error", answer.error}, {"value", wire::encode(answer.value)}};
  }
  if (m == "axSetAttribute") {
    return ws.axSetAttribute(field<AXElementID>(v, "e"), field<std::string>(v, "a"), field<AXValue>(v, "value"),
                             axTimeoutOf(v));
  }
  if (m == "axPerformAction") {
    return ws.axPerformAction(field<AXElementID>(v, "e"), field<std::string>(v, "a"), axTimeoutOf(v));
  }
  if (m == "axCreateObserver") {
    const auto key = field<std::uint64_t>(v, "key");
    auto [error, observer] = ws.axCreateObserver(
        field<std::int32_t>(v, "pid"), [weak, key](AXElementID element, const std::string& notification) {
          if (auto c = weak.lock()) c->push("ax", json{{"key", key}, {"e", wire::encode(element)}, {"n", notification}});
        });
    if (observer) {
      std::lock_guard lock(client->mutex);
      client->observers.insert(observer);
    }
    return json::array({error, observer});
  }
  if (m == "axAddNotification") {
    client->requireOwn(client->observers, field<std::uint64_t>(v, "o"), "observer");
    return ws.axAddNotification(field<std::uint64_t>(v, "o"), field<AXElementID>(v, "e"), field<std::string>(v, "n"));
  }
  if (m == "axRemoveNotification") {
    client->requireOwn(client->observers, field<std::uint64_t>(v, "o"), "observer");
    return ws.axRemoveNotification(field<std::uint64_t>(v, "o"), field<AXElementID>(v, "e"),
                                   field<std::string>(v, "n"));
  }
  if (m == "axDestroyObserver") {
    const auto observer = read<std::uint64_t>(v);
    client->takeOwn(client->observers, observer, "observer");
    ws.axDestroyObserver(observer);
    return nullptr;
  }
  if (m == "shareableWindows") return wire::encode(ws.shareableWindows(read<bool>(v)));
  if (m == "addServiceMatching") {
    const auto key = field<std::uint64_t>(v, "key");
    auto iterator = ws.addServiceMatching(field<std::string>(v, "class"), [weak, key] {
      if (auto c = weak.lock()) c->push("arrived", key);
    });
    if (iterator) {
      std::lock_guard lock(client->mutex);
      client->iterators.insert(*iterator);
    }
    return wire::encode(iterator);
  }
  if (m == "nextMatchedService") {
    const auto iterator = read<std::uint32_t>(v);
    client->requireOwn(client->iterators, iterator, "iterator");
    return ws.nextMatchedService(iterator);
  }
  if (m == "releaseIOObject") {
    const auto object = read<std::uint32_t>(v);
    {
      // Services (what an iterator hands out) are released too; only the world's matching
      // is anybody's to end, and only the program's own.
      std::lock_guard lock(client->mutex);
      if (!client->iterators.erase(object)) return nullptr;
    }
    ws.releaseIOObject(object);
    return nullptr;
  }

  // ---- Private functions, called with the world's own registered addresses ----
  if (m.starts_with("private.")) {
    const std::string name = m.substr(8);
    if (HostMultitouch::serves(name)) {
      auto push = [weak](const std::string& method, json body) {
        auto c = weak.lock();
        return c && c->push(method, std::move(body));
      };
      return multitouch_->call(client->number, push, name, v);
    }
    auto missing = [&] { throw wire::BadValue("the world has no " + name); };
    if (name == "SLSMainConnectionID") {
      auto f = privateFunction<SLSMainConnectionID_t>(world_, kSkyLightPath, "SLSMainConnectionID");
      if (!f) missing();
      return f();
    }
    if (name == "SLSCopyManagedDisplaySpaces") {
      auto f = privateFunction<SLSCopyManagedDisplaySpaces_t>(world_, kSkyLightPath, "SLSCopyManagedDisplaySpaces");
      if (!f) missing();
      auto r = f(read<CGSConnectionID>(v));
      return r ? wire::encode(PlistValue(*r)) : json(nullptr);
    }
    if (name == "SLSCopySpacesForWindows") {
      auto f = privateFunction<SLSCopySpacesForWindows_t>(world_, kSkyLightPath, "SLSCopySpacesForWindows");
      if (!f) missing();
      auto windows = field<PlistValue>(v, "windows");
      if (!windows.asArray()) throw wire::BadValue("windows is not an array");
      auto r = f(field<CGSConnectionID>(v, "cid"), field<std::int32_t>(v, "mask"), *windows.asArray());
      return r ? wire::encode(PlistValue(*r)) : json(nullptr);
    }
    if (name == "SLSWindowIsOrderedIn") {
      auto f = privateFunction<SLSWindowIsOrderedIn_t>(world_, kSkyLightPath, "SLSWindowIsOrderedIn");
      if (!f) missing();
      bool in = false;
      const auto error = f(field<CGSConnectionID>(v, "cid"), field<std::uint32_t>(v, "window"), &in);
      return json::array({error, in});
    }
    if (name == "_SLPSSetFrontProcessWithOptions") {
      auto f = privateFunction<SLPSSetFrontProcessWithOptions_t>(world_, kSkyLightPath, "_SLPSSetFrontProcessWithOptions");
      if (!f) missing();
      ProcessSerialNumber psn = psnOf(field<json>(v, "psn"));
      return f(&psn, field<std::uint32_t>(v, "window"), field<std::uint32_t>(v, "options"));
    }
    if (name == "SLPSPostEventRecordTo") {
      auto f = privateFunction<SLPSPostEventRecordTo_t>(world_, kSkyLightPath, "SLPSPostEventRecordTo");
      if (!f) missing();
      ProcessSerialNumber psn = psnOf(field<json>(v, "psn"));
      const json& record = v.at("record");
      if (!record.is_binary() || record.get_binary().size() != 248) throw wire::BadValue("a record is 248 bytes");
      return f(&psn, record.get_binary().data());
    }
    if (name == "SLSSpaceCreate") {
      auto f = privateFunction<SLSSpaceCreate_t>(world_, kSkyLightPath, "SLSSpaceCreate");
      if (!f) missing();
      auto options = field<std::optional<PlistValue>>(v, "options");
      const PlistDictionary* dictionary = options ? options->asDictionary() : nullptr;
      return f(field<CGSConnectionID>(v, "cid"), field<std::int32_t>(v, "type"), dictionary);
    }
    if (name == "SLSSpaceSetAbsoluteLevel") {
      auto f = privateFunction<SLSSpaceSetAbsoluteLevel_t>(world_, kSkyLightPath, "SLSSpaceSetAbsoluteLevel");
      if (!f) missing();
      return f(field<CGSConnectionID>(v, "cid"), field<CGSSpaceID>(v, "space"), field<std::int32_t>(v, "level"));
    }
    auto arrayField = [&](const char* key) {
      auto value = field<PlistValue>(v, key);
      if (!value.asArray()) throw wire::BadValue(std::string(key) + " is not an array");
      return *value.asArray();
    };
    if (name == "SLSShowSpaces") {
      auto f = privateFunction<SLSShowSpaces_t>(world_, kSkyLightPath, "SLSShowSpaces");
      if (!f) missing();
      return f(field<CGSConnectionID>(v, "cid"), arrayField("spaces"));
    }
    if (name == "SLSAddWindowsToSpaces") {
      auto f = privateFunction<SLSAddWindowsToSpaces_t>(world_, kSkyLightPath, "SLSAddWindowsToSpaces");
      if (!f) missing();
      return f(field<CGSConnectionID>(v, "cid"), arrayField("windows"), arrayField("spaces"));
    }
    if (name == "SLSMoveWindowsToManagedSpace") {
      auto f = privateFunction<SLSMoveWindowsToManagedSpace_t>(world_, kSkyLightPath, "SLSMoveWindowsToManagedSpace");
      if (!f) missing();
      return f(field<CGSConnectionID>(v, "cid"), arrayField("windows"), field<CGSSpaceID>(v, "space"));
    }
    if (name == "SLSSetSymbolicHotKeyEnabled") {
      auto status = switchHotKey(*client, field<std::uint32_t>(v, "key"), field<bool>(v, "on"));
      if (!status) missing();
      return *status;
    }
    if (name == "_AXUIElementGetWindow") {
      auto f = privateFunction<AXUIElementGetWindow_t>(world_, kApplicationServicesPath, "_AXUIElementGetWindow");
      if (!f) missing();
      std::uint32_t window = 0;
      const AXError error = f(AXUIElementMake(read<AXElementID>(v)), &window);
      return json::array({error, window});
    }
    if (name == "_AXUIElementCreateWithRemoteToken") {
      auto f = privateFunction<AXUIElementCreateWithRemoteToken_t>(world_, kApplicationServicesPath,
                                                                   "_AXUIElementCreateWithRemoteToken");
      if (!f) missing();
      if (!v.is_binary()) throw wire::BadValue("a token is data");
      auto element = f(PlistData(v.get_binary().begin(), v.get_binary().end()));
      return element ? wire::encode(element->identity()) : json(nullptr);
    }
    if (name == "GetProcessForPID") {
      auto f = privateFunction<GetProcessForPID_t>(world_, kApplicationServicesPath, "GetProcessForPID");
      if (!f) missing();
      ProcessSerialNumber psn;
      const auto error = f(read<std::int32_t>(v), &psn);
      return json::array({error, psn.highLongOfPSN, psn.lowLongOfPSN});
    }
    if (name == "_LSCopyApplicationArrayInFrontToBackOrder") {
      auto f = privateFunction<LSCopyApplicationArrayInFrontToBackOrder_t>(
          world_, kCoreServicesPath, "_LSCopyApplicationArrayInFrontToBackOrder");
      if (!f) missing();
      auto r = f(read<std::int32_t>(v));
      return r ? wire::encode(PlistValue(*r)) : json(nullptr);
    }
    if (name == "_LSCopyApplicationInformationItem") {
      auto f = privateFunction<LSCopyApplicationInformationItem_t>(world_, kCoreServicesPath,
                                                                   "_LSCopyApplicationInformationItem");
      if (!f) missing();
      return wire::encode(
          f(field<std::int32_t>(v, "session"), field<PlistValue>(v, "app"), field<std::string>(v, "key")));
    }
    if (name == "_kLSPIDKey") {
      auto key = reinterpret_cast<const LSPIDKey_t*>(world_.symbol(kCoreServicesPath, "_kLSPIDKey"));
      if (!key) missing();
      return *key;
    }
  }
  throw wire::BadValue("unknown method");
}

}  // namespace host
