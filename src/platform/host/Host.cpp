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
#include <utility>

#include "platform/Files.h"
#include "platform/PrivateSymbols.h"
#include "platform/SharedSurface.h"
#include "platform/host/HostClient.h"
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


namespace {

/// Queues `message` on `lane` of `client`, within what one program may leave waiting on
/// its lanes (Host::kMaxWaitingCalls, kMaxWaitingCallBytes); past that, why it cannot,
/// queueing nothing. Under the client's mutex.
std::optional<std::string> waitOnLane(Host::Client& client, Host::Client::Lane& lane, wire::Message&& message) {
  const std::size_t calls = client.waitingCalls + 1;
  const std::size_t bytes = client.waitingBytes + message.frameBytes;
  if (calls > Host::kMaxWaitingCalls)
    return "kept asking without reading its answers: more than " + std::to_string(Host::kMaxWaitingCalls) +
           " calls waiting on its lanes";
  if (bytes > Host::kMaxWaitingCallBytes)
    return "kept asking without reading its answers: calls of more than " +
           std::to_string(Host::kMaxWaitingCallBytes) + " bytes waiting on its lanes";
  client.waitingCalls = calls;
  client.waitingBytes = bytes;
  lane.calls.push_back(std::move(message));
  return std::nullopt;
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
  routeWorldMessages();
}

Host::~Host() {
  stop();
  world_.setChangeListener(nullptr);
  server_.setWorkspaceListener(nullptr);
  server_.setProgramEventListener(nullptr);
  world_.setDistributedNotificationListener(nullptr);
  world_.setAppleEventListener(nullptr);
  world_.setPreferencesReporter(nullptr);
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
    const int silentMs = closeSilent();
    pollfd fds[2] = {{listenFD_, POLLIN, 0}, {wakeFD_[0], POLLIN, 0}};
    // A program waiting to be accepted keeps the socket readable: without a wait between
    // tries, a loop that cannot accept it would spin.
    int waitMs = retryMs ? retryMs : -1;
    if (silentMs >= 0 && (waitMs < 0 || silentMs < waitMs)) waitMs = silentMs;
    if (::poll(retryMs ? &fds[1] : fds, retryMs ? 1 : 2, waitMs) < 0) {
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
  // Programs count towards kMaxPrograms once they said what they are (settleRole). Until
  // then only a few may wait: the longest waiting makes room for a newcomer, so silent
  // connections never keep a program out for longer than it takes to connect.
  std::shared_ptr<Client> longestSilent;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    client->number = ++attachments_;
    longestSilent = longestSilentIfFull(kMaxSilent, false);
  }
  if (longestSilent) silence(*longestSilent, "made room for another connection");
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
        },
        {wire::kMaxCallPayload, &unfinishedCalls_});
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

void Host::silence(Client& client, const std::string& why) {
  log_.write(refusals_, "closed the connection of " + client.who, "it said nothing; " + why);
  client.channel->close(wire::Message{wire::Kind::error, 0, "", kSilentReason});
}

bool Host::saysNothing(const Client& client) {
  if (client.silenced) return false;
  const bool served = client.role == Client::Role::program || client.role == Client::Role::screen;
  return client.role == Client::Role::undecided || (served && !client.spoke);
}

std::shared_ptr<Host::Client> Host::longestSilentIfFull(std::size_t room, bool servedOnly) {
  std::size_t silent = 0;
  std::shared_ptr<Client> longest;
  for (const auto& other : clients_) {
    if (!saysNothing(*other)) continue;
    ++silent;
    if (!longest && (!servedOnly || other->role != Client::Role::undecided)) longest = other;
  }
  if (silent < room || !longest) return nullptr;
  longest->silenced = true;
  return longest;
}

int Host::closeSilent() {
  const auto now = std::chrono::steady_clock::now();
  const auto patience = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(silentSeconds_.load()));
  std::vector<std::shared_ptr<Client>> due;
  std::optional<std::chrono::steady_clock::duration> next;
  {
    std::lock_guard lock(mutex_);
    for (const auto& client : clients_) {
      if (!saysNothing(*client)) continue;
      const auto left = client->accepted + patience - now;
      if (left <= std::chrono::steady_clock::duration::zero()) {
        client->silenced = true;
        due.push_back(client);
      } else if (!next || left < *next) {
        next = left;
      }
    }
  }
  for (auto& client : due) silence(*client, "closed after " + std::to_string(silentSeconds_.load()) + " s");
  if (!next) return -1;
  // Rounded up, so the wait never ends just before the moment.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*next).count());
}

void Host::setSilentSeconds(double seconds) {
  silentSeconds_ = seconds;
  wakeAcceptor();
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
    for (auto& [id, lane] : client->lanes) lane.ready.notify_one();
  }
  answerPending(*client);  // a call waiting on this program stops waiting
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(client->mutex);
    // A lane whose thread could not be made has none to wait for.
    for (auto& [id, lane] : client->lanes)
      if (lane.worker.joinable()) workers.push_back(std::move(lane.worker));
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
  server_.forgetOwnWindowChanges();
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
  // The world's switch and its holders change together. Several copies may each turn a hot
  // key off: it is on again only once none of them holds it, so one copy that turns it on
  // or ends never gives the system ⌘⇥ back under another that still runs.
  std::lock_guard lock(hotKeysMutex_);
  auto held = hotKeyHolders_.find(key);
  if (!on) {
    const std::int32_t status = f(key, false);
    // Only a key the world has is held: made-up ones would grow the table without end.
    if (status == 0) hotKeyHolders_[key].insert(client.number);
    return status;
  }
  if (held != hotKeyHolders_.end()) {
    held->second.erase(client.number);
    if (!held->second.empty()) return 0;  // still off for another program
    hotKeyHolders_.erase(held);
  }
  return f(key, true);
}

void Host::releaseHotKeys(const Client& client) {
  auto* f = privateFunction<SLSSetSymbolicHotKeyEnabled_t>(world_, kSkyLightPath, "SLSSetSymbolicHotKeyEnabled");
  std::lock_guard lock(hotKeysMutex_);
  for (auto it = hotKeyHolders_.begin(); it != hotKeyHolders_.end();) {
    if (!it->second.erase(client.number) || !it->second.empty()) {
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
  counts.unfinishedBytes = unfinishedCalls_.held();
  counts.pictureBytes = pictureMemory_.held();
  counts.picturesRefused = picturesRefused_.load();
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
  for (auto& client : clients) tellScreen(*client);
}

void Host::tellScreen(Client& client) {
  Client::Lane* composer = nullptr;
  {
    std::lock_guard lock(client.mutex);
    if (!client.watchesScreen || client.closing) return;
    if (client.screenTold) {
      client.screenOwed = client.screenTakesFrames;
      return;
    }
    client.screenTold = true;
    // Composed on the thread that answers the screen's own asks: never on the caller's (a
    // program's reader, the world's), and never beside an ask of the screen's.
    auto lane =
        client.screenTakesFrames && client.screenAsk ? client.lanes.find(client.screenLane) : client.lanes.end();
    if (lane != client.lanes.end() && lane->second.worker.joinable()) {
      lane->second.screenFramesDue = true;
      composer = &lane->second;
    }
  }
  // Woken once the lock is let go, so it does not wake only to wait for it.
  if (composer) {
    composer->ready.notify_one();
    return;
  }
  client.push("screenChanged", nullptr);
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

void Host::routeWorldMessages() {
  world_.setPreferencesReporter([this, gate = gate_](const std::string& message) {
    CallbackGate::Pass pass(*gate);
    if (!pass) return;
    if (Client* client = AnsweringFor::current()) {
      noteAbout(*client, message);
    } else {
      log_.write(worldLines_, "simulated system", message);
    }
  });
}

bool Host::refuseProgram(Client& client, bool silenced) {
  if (silenced) return false;  // closed already, and told why
  // Every place is held by a program that made calls after its hello: one that only said
  // hello would have made room.
  log_.write(refusals_, "refused " + client.who,
             "the host already serves " + std::to_string(kMaxPrograms) + " programs, each making calls");
  client.channel->close(wire::Message{wire::Kind::error, 0, "",
                                     "the world host serves at most " + std::to_string(kMaxPrograms) +
                                         " programs at once"});
  return false;
}

bool Host::settleRole(Client& client, const std::string& firstCall) {
  bool silenced = false;
  std::shared_ptr<Client> makesRoom;  // a program that said nothing since its hello
  {
    std::lock_guard lock(mutex_);
    if (client.role != Client::Role::undecided) {
      client.spoke = true;
      return client.role != Client::Role::refused;
    }
    silenced = client.silenced;
    const auto served = std::count_if(clients_.begin(), clients_.end(), [](const auto& other) {
      return other->role == Client::Role::program || other->role == Client::Role::screen;
    });
    const bool full = static_cast<std::size_t>(served) >= kMaxPrograms;
    if (full && !silenced) makesRoom = longestSilentIfFull(1, true);
    if ((full && !makesRoom) || silenced) {
      client.role = Client::Role::refused;
    } else if (firstCall == "screenAttach") {
      client.role = Client::Role::screen;
    } else {
      client.role = Client::Role::program;
      client.primary = !primaryTaken_;
      primaryTaken_ = true;
    }
  }
  if (makesRoom) silence(*makesRoom, "made room for another program");
  if (client.role == Client::Role::refused) return refuseProgram(client, silenced);
  if (client.role == Client::Role::screen) {
    // The screen brings its input devices: a trackpad, for the double tap its keys make.
    if (sim::MultitouchDevices* devices = sim::MultitouchDevices::active()) devices->trackpad();
    return true;
  }
  if (client.primary) return true;
  // Another copy of the program: a process of the world beside the first, launched now,
  // before its first call is answered.
  sim::App copy = server_.app(server_.ownProcessIdentifier()).value_or(sim::App{});
  copy.pid = 0;
  copy.launchDate.reset();
  copy.terminated = false;
  copy.hidden = false;
  copy.focusedWindow = 0;
  client.pid = server_.addApp(copy);
  return true;
}

void Host::takeVerdict(Client& client, const wire::Message& answer) {
  std::optional<Client::PendingTap> tap;
  {
    std::lock_guard lock(client.mutex);
    if (auto it = client.pendingTaps.find(answer.id); it != client.pendingTaps.end()) {
      tap = std::move(it->second);
      client.pendingTaps.erase(it);
    }
  }
  if (!tap) return;
  std::optional<CGEvent> verdict;
  try {
    wire::decode(answer.body, verdict);
  } catch (const std::exception&) {
    verdict = tap->event;  // an answer that is not an event consumes nothing
  }
  tap->reply(verdict);
}

void Host::handle(const std::shared_ptr<Client>& client, wire::Message message) {
  if (message.kind == wire::Kind::answer) {
    takeVerdict(*client, message);
    return;
  }
  if (message.kind != wire::Kind::call) {
    noteAbout(*client, std::string("sent a ") + wire::kindName(message.kind) + "; ignored");
    return;
  }
  if (!settleRole(*client, message.method)) return;
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
  std::optional<std::string> tooMany;
  Client::Lane* woken = nullptr;
  {
    std::lock_guard lock(client->mutex);
    if (client->closing) return;
    // A program has a handful of threads; one that makes up lanes shares the last one.
    const std::uint32_t id = std::min(message.lane, kMaxLanes);
    Client::Lane& lane = client->lanes[id];
    woken = &lane;
    tooMany = waitOnLane(*client, lane, std::move(message));
    if (tooMany) {
      client->closing = true;  // nothing it sent after this is answered
    } else if (!lane.worker.joinable()) {
      try {
        lane.worker = startThread([this, client, id] { work(client, id); });
      } catch (const std::system_error& e) {
        // The call is refused; the lane tries for a thread again with its next call.
        unanswerable = std::move(lane.calls.back());
        lane.calls.pop_back();
        --client->waitingCalls;
        client->waitingBytes -= unanswerable->frameBytes;
        why = e.what();
      }
    }
  }
  if (tooMany) {
    letGoOfAsking(*client, *tooMany);
    return;
  }
  if (unanswerable) {
    noteAbout(*client, "no thread for the calls of its lane " + std::to_string(unanswerable->lane) + " (" + why +
                           "); call refused");
    if (unanswerable->id == 0) return;  // told: nobody waits for the refusal
    client->channel->post(
        {wire::Kind::error, unanswerable->id, "", "the world host cannot make a thread for this call now"}, false);
    return;
  }
  woken->ready.notify_one();
}

void Host::letGoOfAsking(Client& client, const std::string& why) {
  noteAbout(client, why + "; connection closed");
  // Told if its socket takes it: a program that reads nothing hears nothing more.
  client.channel->close(wire::Message{wire::Kind::error, 0, "", kTooManyWaitingCalls});
}

void Host::work(const std::shared_ptr<Client>& client, std::uint32_t lane) {
  while (true) {
    wire::Message message;
    {
      std::unique_lock lock(client->mutex);
      Client::Lane& mine = client->lanes[lane];
      auto& calls = mine.calls;
      mine.ready.wait(lock, [&] { return client->closing || !calls.empty() || mine.screenFramesDue; });
      if (client->closing) return;
      if (std::exchange(mine.screenFramesDue, false)) {
        lock.unlock();
        pushScreenFrames(client);
        continue;
      }
      message = std::move(calls.front());
      calls.pop_front();
      --client->waitingCalls;
      client->waitingBytes -= message.frameBytes;
    }
    answer(client, std::move(message));
  }
}

void Host::answer(const std::shared_ptr<Client>& client, wire::Message message) {
  wire::Message reply{wire::Kind::reply, message.id, "", nullptr};
  std::optional<sim::WindowServer::ActingProgram> acting;
  if (client->pid) acting.emplace(client->pid);
  try {
    reply.body = call(client, message.method, message.body, std::min(message.lane, kMaxLanes), message.descriptor.get(),
                      reply.descriptor);
    // A large picture (a display at scale 2) goes beside the reply, in shared memory.
    if (!reply.descriptor) reply.descriptor = wire::movePixelsToMemory(reply.body);
  } catch (const NoRoomForPicture&) {
    reply.kind = wire::Kind::error;
    reply.body = kNoRoomForPicture;
  } catch (const std::exception& e) {
    reply.kind = wire::Kind::error;
    reply.body = "bad request " + message.method + ": " + e.what();
  }
  if (message.id == 0) {
    // Told, not asked: nobody waits for an answer, and sending one would only wake the
    // program's reader and this connection's writer for nothing. What failed is logged.
    if (reply.kind == wire::Kind::error) noteAbout(*client, "told " + reply.body.get<std::string>());
    return;
  }
  // Behind every push made before it, so a program that has its answer has those too; an
  // answer is what the program asked for, and never counts as left unread. A program that
  // asks without reading waits here, on its own lane.
  client->channel->postAnswer(reply);
}

std::shared_ptr<void> Host::holdPictureMemory(const CGImageRef& picture) {
  if (!picture) return std::make_shared<int>(0);  // nothing to hold
  const std::size_t bytes = static_cast<std::size_t>(picture->width()) * static_cast<std::size_t>(picture->height()) * 4;
  if (auto hold = pictureMemory_.hold(bytes)) return hold;
  std::vector<std::shared_ptr<Client>> clients;
  {
    std::lock_guard lock(mutex_);
    clients = clients_;
  }
  for (auto& client : clients) client->channel->releaseRead();
  return pictureMemory_.hold(bytes);
}

json Host::pictureReply(const CGImageRef& picture, std::shared_ptr<wire::Descriptor>& memory) {
  // The pixels are let go of by the caller; their copy in shared memory counts until it is read.
  auto hold = holdPictureMemory(picture);
  if (!hold) {
    picturesRefused_.fetch_add(1);
    throw NoRoomForPicture();
  }
  json body = wire::pictureInMemory(picture, memory);
  if (memory) memory->hold = std::move(hold);
  return body;
}

}  // namespace host
