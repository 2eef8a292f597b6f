#include "platform/host/Remote.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/DispatchSource.h"
#include "platform/OwnWindowSurface.h"
#include "platform/PrivateSymbols.h"
#include "platform/Refusals.h"
#include "platform/SharedSurface.h"
#include "platform/Unicode.h"
#include "platform/host/CallTable.h"
#include "platform/host/PictureMemory.h"
#include "platform/host/Relaunch.h"
#include "platform/host/RemoteMultitouch.h"
#include "platform/host/WireValues.h"

namespace host {

using nlohmann::json;
using wire::field;
using wire::read;

// ---- Connection -------------------------------------------------------------------------

std::variant<std::shared_ptr<Connection>, std::string> Connection::open(const std::string& socketPath) {
  auto fd = connectTo(socketPath);
  if (auto* error = std::get_if<std::string>(&fd)) return *error;
  std::shared_ptr<Connection> connection(new Connection(std::get<int>(fd)));
  try {
    connection->pusher_ = startThread([raw = connection.get()] { raw->pushLoop(); });
    connection->channel_->start([raw = connection.get()](wire::Message m) { raw->received(std::move(m)); },
                                [raw = connection.get()](const std::optional<wire::Fault>& fault) {
                                  if (!fault) {
                                    raw->lost("the world host closed the connection");
                                  } else if (fault->reason == wire::Fault::Reason::version) {
                                    raw->lost("the world host speaks protocol " + std::to_string(fault->peerVersion) +
                                              ", this program " + std::to_string(wire::kProtocolVersion));
                                  } else {
                                    raw->lost("the world host sent a bad message: " + fault->what);
                                  }
                                });
  } catch (const std::system_error& e) {
    return std::string("cannot make a thread for the connection: ") + e.what();
  }
  return connection;
}

Connection::Connection(int fd) : channel_(std::make_unique<Channel>(fd)) {}

Connection::~Connection() { shutdown(); }

void Connection::close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    // Every call still waiting answers nothing, at once.
    for (auto& [id, slot] : pending_) slot.done = true;
  }
  reads_.forget();
  answered_.notify_all();
  channel_->close();
  pushed_.notify_all();
}

void Connection::shutdown() {
  close();
  channel_->join();
  if (pusher_.joinable()) {
    if (pusher_.get_id() == std::this_thread::get_id()) {
      pusher_.detach();
    } else {
      pusher_.join();
    }
  }
}

bool Connection::shutdownWithin(double seconds) {
  close();
  if (!channel_->joinWithin(seconds)) return false;
  if (!pusher_.joinable()) return true;
  if (pusher_.get_id() == std::this_thread::get_id()) {
    pusher_.detach();
    return true;
  }
  {
    std::unique_lock lock(mutex_);
    if (!pushed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return pusherDone_; })) return false;
  }
  pusher_.join();
  return true;
}

bool Connection::alive() const {
  std::lock_guard lock(mutex_);
  return !lostWhy_;
}

void Connection::setPushHandler(std::function<void(const wire::Message&)> handler) {
  std::lock_guard lock(mutex_);
  pushHandler_ = std::move(handler);
}

void Connection::setNoticeHandler(std::function<bool(const wire::Message&)> handler) {
  std::lock_guard lock(mutex_);
  noticeHandler_ = std::move(handler);
}

void Connection::setLossHandler(std::function<void(const std::string&)> handler) {
  std::optional<std::string> already;
  {
    std::lock_guard lock(mutex_);
    lossHandler_ = handler;
    if (!closing_) already = lostWhy_;
  }
  // A loss before the handler was known is not dropped: it hears of it at once.
  if (already && handler) handler(*already);
}

std::optional<std::string> Connection::whyLost() const {
  std::lock_guard lock(mutex_);
  return lostWhy_;
}

void Connection::lost(const std::string& why) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(mutex_);
    const bool first = !lostWhy_;
    if (first) lostWhy_ = why;
    // Every call still waiting answers nothing, at once.
    for (auto& [id, slot] : pending_) slot.done = true;
    if (first && !closing_) handler = lossHandler_;
  }
  reads_.forget();
  answered_.notify_all();
  pushed_.notify_all();
  if (handler) handler(why);
}

void Connection::received(wire::Message message) {
  if (message.kind == wire::Kind::push) {
    std::function<bool(const wire::Message&)> notice;
    {
      std::lock_guard lock(mutex_);
      notice = noticeHandler_;
    }
    if (notice && notice(message)) {
      {
        std::lock_guard lock(mutex_);
        ++pushesHandled_;
      }
      pushesDone_.notify_all();
      return;
    }
    {
      std::lock_guard lock(mutex_);
      pushes_.push_back(std::move(message));
    }
    pushed_.notify_all();
    return;
  }
  if (message.kind == wire::Kind::error && message.id == 0) {
    // The host's word before it hangs up (another protocol, another user).
    lost(message.body.is_string() ? message.body.get<std::string>() : "the world host refused this program");
    channel_->close();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(message.id);
    if (it == pending_.end()) return;  // an answer nobody waits for (a told request)
    if (message.kind == wire::Kind::error) {
      it->second.refused = message.body.is_string() ? message.body.get<std::string>() : message.body.dump();
    } else {
      it->second.value = std::move(message.body);
      it->second.memory = std::move(message.descriptor);
    }
    it->second.done = true;
  }
  answered_.notify_all();
}

void Connection::pushLoop() {
  struct Done {
    Connection& c;
    ~Done() {
      std::lock_guard lock(c.mutex_);
      c.pusherDone_ = true;
      c.pushed_.notify_all();
    }
  } done{*this};
  while (true) {
    wire::Message message;
    std::function<void(const wire::Message&)> handler;
    {
      std::unique_lock lock(mutex_);
      pushed_.wait(lock, [&] { return !pushes_.empty() || closing_ || lostWhy_; });
      if (closing_) return;
      if (!pushes_.empty()) {
        message = std::move(pushes_.front());
        pushes_.pop_front();
      } else {
        return;  // the host is gone and nothing is left
      }
      handler = pushHandler_;
      handlingPush_ = true;
    }
    if (handler) handler(message);
    {
      std::lock_guard lock(mutex_);
      handlingPush_ = false;
      ++pushesHandled_;
    }
    pushesDone_.notify_all();
  }
}

std::uint64_t Connection::waitForPushes() {
  std::unique_lock lock(mutex_);
  pushesDone_.wait(lock, [&] { return (pushes_.empty() && !handlingPush_) || closing_ || lostWhy_; });
  return pushesHandled_;
}

namespace {
/// The lane of the calling thread: each thread of the program gets its own.
std::uint32_t threadLane() {
  static std::atomic<std::uint32_t> next{1};
  thread_local const std::uint32_t lane = next.fetch_add(1);
  return lane;
}
}  // namespace

std::optional<json> Connection::call(const std::string& method, json body, CallOptions options) {
  std::shared_ptr<wire::Descriptor> memory;
  auto value = exchange(method, std::move(body), options, memory);
  if (value && memory) {
    try {
      wire::takePixelsFromMemory(*value, memory.get());
    } catch (const std::exception& e) {  // a bad value, or no memory for a copy
      std::cerr << "trelliq: a picture from the world host could not be read: " << e.what() << "\n";
      value = nullptr;
    }
  }
  return value;
}

CGImageRef Connection::callForPicture(const std::string& method, json body) {
  std::shared_ptr<wire::Descriptor> memory;
  const auto value = exchange(method, std::move(body), {}, memory);
  if (!value) return nullptr;
  try {
    return wire::pictureFrom(*value, memory.get());
  } catch (const std::exception& e) {
    std::cerr << "trelliq: a picture from the world host could not be read: " << e.what() << "\n";
    return nullptr;
  }
}

std::shared_ptr<const platform::SharedSurface> Connection::callForSurface(const std::string& method, json body) {
  std::shared_ptr<wire::Descriptor> memory;
  const auto value = exchange(method, std::move(body), {}, memory);
  if (!value || !memory || *value != true) return nullptr;
  std::string problem;
  auto surface = platform::SharedSurface::map(memory->release(), &problem);
  if (!surface) std::cerr << "trelliq: a surface from the world host could not be mapped: " << problem << "\n";
  return surface;
}

std::optional<json> Connection::exchange(const std::string& method, json body, const CallOptions& options,
                                         std::shared_ptr<wire::Descriptor>& memory) {
  calls_.fetch_add(1, std::memory_order_relaxed);
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (lostWhy_ || closing_) return std::nullopt;
    id = nextID_++;
    pending_[id];
  }
  wire::Message message{wire::Kind::call, id, method, std::move(body), threadLane()};
  if (options.descriptor >= 0) {
    const int copy = ::fcntl(options.descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
      // No descriptor to spare: this one call fails; the connection is no worse for it.
      refused(method, std::string("cannot pass memory to the world host: ") + std::strerror(errno));
      std::lock_guard lock(mutex_);
      pending_.erase(id);
      return std::nullopt;
    }
    message.descriptor = std::make_shared<wire::Descriptor>(copy);
  }
  // A send that fails ends the channel; the reader then reads what the host said last
  // (why it refused this program, say) and reports the loss with that.
  channel_->send(message);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(kCallDeadline + options.patience));
  bool late = false;
  std::unique_lock lock(mutex_);
  while (!pending_[id].done) {
    auto until = deadline;
    // A stop signal's work waits for this thread, perhaps: a host that does not answer
    // (stopped, say) keeps it a second at most.
    if (const std::int64_t since = DispatchSourceSignal::workPendingSince()) {
      until = std::min(until, Clock::time_point(std::chrono::nanoseconds(since)) + kStopPatience);
    }
    const auto now = Clock::now();
    if (now >= until) {
      late = until == deadline;
      break;
    }
    answered_.wait_until(lock, std::min(until, now + std::chrono::milliseconds(100)));
  }
  if (late) {
    pending_.erase(id);
    lock.unlock();
    lost("the world host did not answer " + method + " within " + std::to_string(static_cast<int>(kCallDeadline)) +
         " s");
    return std::nullopt;
  }
  std::optional<json> value = std::move(pending_[id].value);
  memory = std::move(pending_[id].memory);
  const std::optional<std::string> refusal = std::move(pending_[id].refused);
  pending_.erase(id);
  lock.unlock();
  if (refusal) refused(method, *refusal);
  return value;
}

void Connection::refused(const std::string& method, const std::string& why) {
  // Said, and noted for the caller: the call's empty answer that follows is no answer.
  std::cerr << "trelliq: the world host refused " << method << ": " << platform::Unicode::oneLine(why) << "\n";
  platform::noteRefusal(method, why);
}

void Connection::tell(const std::string& method, json body, bool atOnce) {
  {
    std::lock_guard lock(mutex_);
    if (lostWhy_) return;
  }
  // Numbered 0: the host answers nothing to it.
  channel_->send({wire::Kind::call, 0, method, std::move(body), atOnce ? 0 : threadLane()});
}

void Connection::answer(std::uint64_t id, json body) { channel_->send({wire::Kind::answer, id, "", std::move(body)}); }

namespace {

/// What an accessibility request may take in the world: its time-out.
double patienceFor(double timeout) { return std::isfinite(timeout) && timeout > 0 ? timeout : 0; }

/// Reads an answer as T; the fallback when there is none or it is not a T.
template <typename T>
T answerAs(const std::optional<json>& answer, T fallback) {
  if (!answer) return fallback;
  try {
    return read<T>(*answer);
  } catch (const std::exception& e) {
    std::cerr << "trelliq: an answer of the world host could not be read: " << e.what() << "\n";
    return fallback;
  }
}

/// A call of the table made from its row: the arguments as the row's body, the answer
/// read as R (the fallback when there is none), or for `picture` the picture that comes
/// back in shared memory.
template <typename R, calls::Via via, std::size_t N, typename... Args, typename Fallback>
R forwardCall(Connection& connection, const char* name, const std::array<const char*, N>& names,
              const std::tuple<Args...>& arguments, Fallback fallback) {
  json body = calls::requestBody(names, arguments);
  if constexpr (via == calls::Via::picture) {
    static_assert(std::is_same_v<R, CGImageRef>, "a picture call answers a picture");
    platform::OwnWindowSurface::publishAll();  // the program's own windows as it last drew them
    return connection.callForPicture(name, std::move(body));
  } else if constexpr (via == calls::Via::tell) {
    static_assert(std::is_void_v<R>, "a call told without waiting answers nothing");
    connection.tell(name, std::move(body), true);
  } else if constexpr (std::is_void_v<R>) {
    connection.call(name, std::move(body));
  } else {
    std::optional<json> answer;
    if constexpr (via == calls::Via::kept) answer = connection.reads().answer(name, body);
    if (!answer) answer = connection.call(name, std::move(body));
    return answerAs<R>(answer, fallback());
  }
}

// ---- Private functions: local stand-ins that forward to the host's world -----------------

std::atomic<Connection*> forwardTo{nullptr};

/// A frame made in advance, in plain storage that lives for the whole process: a signal
/// handler may send it while statics are being destroyed.
struct PreparedFrame {
  std::uint8_t bytes[128];
  std::size_t size;
};
/// SLSSetSymbolicHotKeyEnabled for hot keys 1 and 2, off and on.
PreparedFrame gHotKeyFrames[2][2];
/// The program's end of the signal channel: a socket of its own that carries only these
/// frames, one record each, so a handler never waits for a lock another thread holds and
/// never leaves half a frame.
std::atomic<int> gSignalFD{-1};
static_assert(std::atomic<int>::is_always_lock_free);
/// Signal channels let go of: shut, their numbers kept until a new channel takes one over,
/// so a handler that read a number just before it was let go never writes to another file.
std::mutex gRetiredSignalMutex;
std::vector<int> gRetiredSignalFDs;

std::optional<json> forward(const std::string& name, json body) {
  Connection* c = forwardTo.load();
  return c ? c->call("private." + name, std::move(body)) : std::nullopt;
}

json psnJSON(const ProcessSerialNumber* psn) {
  return json{{"hi", psn ? psn->highLongOfPSN : 0}, {"lo", psn ? psn->lowLongOfPSN : 0}};
}

std::optional<platform::PlistArray> arrayAnswer(const std::optional<json>& answer) {
  auto value = answerAs<std::optional<platform::PlistValue>>(answer, std::nullopt);
  if (!value || !value->asArray()) return std::nullopt;
  return *value->asArray();
}

/// A question the host answers from counted state: kept while the world stands still.
std::optional<json> forwardKept(const std::string& name, json body) {
  Connection* c = forwardTo.load();
  if (!c) return std::nullopt;
  if (auto kept = c->reads().answer("private." + name, body)) return kept;
  return c->call("private." + name, std::move(body));
}

CGSConnectionID mainConnectionID() { return answerAs<CGSConnectionID>(forwardKept("SLSMainConnectionID", nullptr), 0); }
std::optional<platform::PlistArray> copyManagedDisplaySpaces(CGSConnectionID cid) {
  return arrayAnswer(forwardKept("SLSCopyManagedDisplaySpaces", cid));
}
std::optional<platform::PlistArray> copySpacesForWindows(CGSConnectionID cid, std::int32_t mask,
                                                         const platform::PlistArray& windows) {
  // One window's Spaces, asked once per window by a snapshot, come from the table.
  Connection* c = forwardTo.load();
  if (c && windows.size() == 1) {
    const auto number = windows.front().asInteger();
    if (number && *number > 0 && *number <= 0xFFFFFFFFll) {
      if (auto kept = c->reads().spacesOf(cid, mask, static_cast<std::uint32_t>(*number))) {
        if (!*kept) return std::nullopt;
        platform::PlistArray spaces;
        for (std::int64_t space : **kept) spaces.emplace_back(static_cast<long long>(space));
        return spaces;
      }
    }
  }
  return arrayAnswer(forward("SLSCopySpacesForWindows", {{"cid", cid},
                                                         {"mask", mask},
                                                         {"windows", wire::encode(platform::PlistValue(windows))}}));
}
std::int32_t windowIsOrderedIn(CGSConnectionID cid, std::uint32_t window, bool* orderedIn) {
  if (Connection* c = forwardTo.load()) {
    if (auto kept = c->reads().orderedIn(cid, window)) {
      if (orderedIn) *orderedIn = kept->second;
      return kept->first;
    }
  }
  auto answer = answerAs<std::vector<json>>(forward("SLSWindowIsOrderedIn", {{"cid", cid}, {"window", window}}), {});
  if (answer.size() != 2 || !answer[1].is_boolean()) return 1000;
  if (orderedIn) *orderedIn = answer[1].get<bool>();
  return answerAs<std::int32_t>(answer[0], 1000);
}
std::int32_t setFrontProcess(ProcessSerialNumber* psn, std::uint32_t window, std::uint32_t options) {
  return answerAs<std::int32_t>(
      forward("_SLPSSetFrontProcessWithOptions", {{"psn", psnJSON(psn)}, {"window", window}, {"options", options}}),
      1000);
}
std::int32_t postEventRecordTo(ProcessSerialNumber* psn, const std::uint8_t* record) {
  json bytes = json::binary(std::vector<std::uint8_t>(record, record + 248));
  return answerAs<std::int32_t>(forward("SLPSPostEventRecordTo", {{"psn", psnJSON(psn)}, {"record", bytes}}), 1000);
}
std::optional<std::vector<CGImageRef>> hwCaptureWindowList(CGSConnectionID cid, const std::uint32_t* windows,
                                                           std::int32_t count, std::uint32_t options) {
  Connection* c = forwardTo.load();
  if (!c || !windows) return std::nullopt;
  platform::OwnWindowSurface::publishAll();  // the program's own windows as it last drew them
  // One window a call: each picture comes in shared memory of its own, and the stream stays
  // free for the answers other threads wait for meanwhile. The world therefore records a
  // list of N windows as N calls of one, where a program in process is recorded once.
  std::vector<CGImageRef> pictures;
  for (std::int32_t i = 0; i < count; ++i) {
    if (CGImageRef picture =
            c->callForPicture("hwCaptureWindow", {{"cid", cid}, {"window", windows[i]}, {"options", options}})) {
      pictures.push_back(std::move(picture));
    }
  }
  if (pictures.empty()) return std::nullopt;
  return pictures;
}
CGSSpaceID spaceCreate(CGSConnectionID cid, std::int32_t type, const platform::PlistDictionary* options) {
  json o = options ? wire::encode(platform::PlistValue(*options)) : json(nullptr);
  return answerAs<CGSSpaceID>(forward("SLSSpaceCreate", {{"cid", cid}, {"type", type}, {"options", o}}), 0);
}
std::int32_t spaceSetAbsoluteLevel(CGSConnectionID cid, CGSSpaceID space, std::int32_t level) {
  return answerAs<std::int32_t>(
      forward("SLSSpaceSetAbsoluteLevel", {{"cid", cid}, {"space", space}, {"level", level}}), 1000);
}
std::int32_t showSpaces(CGSConnectionID cid, const platform::PlistArray& spaces) {
  return answerAs<std::int32_t>(
      forward("SLSShowSpaces", {{"cid", cid}, {"spaces", wire::encode(platform::PlistValue(spaces))}}), 1000);
}
std::int32_t addWindowsToSpaces(CGSConnectionID cid, const platform::PlistArray& windows,
                                const platform::PlistArray& spaces) {
  return answerAs<std::int32_t>(forward("SLSAddWindowsToSpaces", {{"cid", cid},
                                                                  {"windows", wire::encode(platform::PlistValue(windows))},
                                                                  {"spaces", wire::encode(platform::PlistValue(spaces))}}),
                                1000);
}
std::int32_t moveWindowsToManagedSpace(CGSConnectionID cid, const platform::PlistArray& windows, CGSSpaceID space) {
  return answerAs<std::int32_t>(
      forward("SLSMoveWindowsToManagedSpace",
              {{"cid", cid}, {"windows", wire::encode(platform::PlistValue(windows))}, {"space", space}}),
      1000);
}
std::int32_t setSymbolicHotKeyEnabled(std::uint32_t hotKey, bool enabled) {
  // Safe in a signal handler: no allocation, no lock, no wait (a host that reads nothing
  // leaves the record unsent; the hot keys come back when the program's connection ends).
  // The host reads this channel before anything the program sends after it.
  const int fd = gSignalFD.load();
  if (fd < 0 || (hotKey != 1 && hotKey != 2)) return 1000;
  const PreparedFrame& frame = gHotKeyFrames[hotKey - 1][enabled ? 1 : 0];
  ssize_t sent;
  do {
    sent = ::send(fd, frame.bytes, frame.size, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(frame.size) ? 0 : 1000;
}
AXError getWindow(const AXUIElementRef& element, std::uint32_t* window) {
  if (!element) return kAXErrorIllegalArgument;
  if (Connection* c = forwardTo.load()) {
    if (auto kept = c->reads().windowOf(element->identity(), element->messagingTimeout())) {
      if (kept->first == kAXErrorSuccess && window) *window = kept->second;
      return kept->first;
    }
  }
  auto answer = answerAs<std::vector<std::int64_t>>(forward("_AXUIElementGetWindow", wire::encode(element->identity())),
                                                    {});
  if (answer.size() != 2) return kAXErrorCannotComplete;
  if (answer[0] == kAXErrorSuccess && window) *window = static_cast<std::uint32_t>(answer[1]);
  return static_cast<AXError>(answer[0]);
}
AXUIElementRef createWithRemoteToken(const platform::PlistData& token) {
  auto id = answerAs<std::optional<AXElementID>>(forward("_AXUIElementCreateWithRemoteToken", json::binary(token)),
                                                 std::nullopt);
  return id ? AXUIElementMake(*id) : nullptr;
}
std::int32_t getProcessForPID(std::int32_t pid, ProcessSerialNumber* psn) {
  auto answer = answerAs<std::vector<std::int64_t>>(forward("GetProcessForPID", pid), {});
  if (answer.size() != 3) return -600;
  if (answer[0] == 0 && psn) {
    psn->highLongOfPSN = static_cast<std::uint32_t>(answer[1]);
    psn->lowLongOfPSN = static_cast<std::uint32_t>(answer[2]);
  }
  return static_cast<std::int32_t>(answer[0]);
}
std::optional<platform::PlistArray> applicationArray(std::int32_t session) {
  return arrayAnswer(forward("_LSCopyApplicationArrayInFrontToBackOrder", session));
}
std::optional<platform::PlistValue> informationItem(std::int32_t session, const platform::PlistValue& application,
                                                    const std::string& key) {
  return answerAs<std::optional<platform::PlistValue>>(
      forward("_LSCopyApplicationInformationItem",
              {{"session", session}, {"app", wire::encode(application)}, {"key", key}}),
      std::nullopt);
}
/// The data symbol's string, fetched from the host once per attachment.
std::string pidKey;

void* localStandIn(const std::string& name) {
  static const std::map<std::string, void*> table = {
      {"SLSMainConnectionID", reinterpret_cast<void*>(&mainConnectionID)},
      {"SLSCopyManagedDisplaySpaces", reinterpret_cast<void*>(&copyManagedDisplaySpaces)},
      {"SLSCopySpacesForWindows", reinterpret_cast<void*>(&copySpacesForWindows)},
      {"SLSWindowIsOrderedIn", reinterpret_cast<void*>(&windowIsOrderedIn)},
      {"_SLPSSetFrontProcessWithOptions", reinterpret_cast<void*>(&setFrontProcess)},
      {"SLPSPostEventRecordTo", reinterpret_cast<void*>(&postEventRecordTo)},
      {"SLSHWCaptureWindowList", reinterpret_cast<void*>(&hwCaptureWindowList)},
      {"SLSSpaceCreate", reinterpret_cast<void*>(&spaceCreate)},
      {"SLSSpaceSetAbsoluteLevel", reinterpret_cast<void*>(&spaceSetAbsoluteLevel)},
      {"SLSShowSpaces", reinterpret_cast<void*>(&showSpaces)},
      {"SLSAddWindowsToSpaces", reinterpret_cast<void*>(&addWindowsToSpaces)},
      {"SLSMoveWindowsToManagedSpace", reinterpret_cast<void*>(&moveWindowsToManagedSpace)},
      {"SLSSetSymbolicHotKeyEnabled", reinterpret_cast<void*>(&setSymbolicHotKeyEnabled)},
      {"_AXUIElementGetWindow", reinterpret_cast<void*>(&getWindow)},
      {"_AXUIElementCreateWithRemoteToken", reinterpret_cast<void*>(&createWithRemoteToken)},
      {"GetProcessForPID", reinterpret_cast<void*>(&getProcessForPID)},
      {"_LSCopyApplicationArrayInFrontToBackOrder", reinterpret_cast<void*>(&applicationArray)},
      {"_LSCopyApplicationInformationItem", reinterpret_cast<void*>(&informationItem)},
  };
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second;
}

}  // namespace

// ---- RemoteSystem -----------------------------------------------------------------------

RemoteSystem::RemoteSystem(std::shared_ptr<Connection> connection)
    : connection_(std::move(connection)), exitHandler_([](int status) { std::exit(status); }) {
  for (int key = 1; key <= 2; ++key) {
    for (int on = 0; on <= 1; ++on) {
      const auto frame = wire::encode(wire::Message{wire::Kind::call, 0, "private.SLSSetSymbolicHotKeyEnabled",
                                                    json{{"key", key}, {"on", on == 1}}});
      PreparedFrame& prepared = gHotKeyFrames[key - 1][on];
      if (frame.size() > sizeof(prepared.bytes)) std::abort();  // cannot happen: a fixed short message
      std::memcpy(prepared.bytes, frame.data(), frame.size());
      prepared.size = frame.size();
    }
  }
  forwardTo.store(connection_.get());
  multitouch::forwardTo(connection_.get());
}

void RemoteSystem::openSignalChannel() {
  // Records, so each frame arrives whole or not at all.
  int ends[2];
  if (signalFD_ >= 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return;
  ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
  if (connection_->call("signalChannel", nullptr, {.descriptor = ends[1]})) {
    signalFD_ = ends[0];
    std::lock_guard lock(gRetiredSignalMutex);
    if (!gRetiredSignalFDs.empty() && ::dup3(ends[0], gRetiredSignalFDs.back(), O_CLOEXEC) >= 0) {
      // The retired number now names the new channel (in one step: never another file).
      signalFD_ = gRetiredSignalFDs.back();
      gRetiredSignalFDs.pop_back();
      ::close(ends[0]);
    }
  } else {
    ::close(ends[0]);
  }
  ::close(ends[1]);
  gSignalFD.store(signalFD_);
}

RemoteSystem::~RemoteSystem() {
  Connection* mine = connection_.get();
  forwardTo.compare_exchange_strong(mine, nullptr);
  multitouch::stopForwarding(connection_.get());
  int fd = signalFD_;
  gSignalFD.compare_exchange_strong(fd, -1);
  if (signalFD_ >= 0) {
    ::shutdown(signalFD_, SHUT_RDWR);  // the host sees the end; a late handler's send fails
    std::lock_guard lock(gRetiredSignalMutex);
    gRetiredSignalFDs.push_back(signalFD_);
  }
}

std::optional<json> RemoteSystem::kept(const std::string& method, const json& body) {
  if (auto answer = connection_->reads().answer(method, body)) return answer;
  return connection_->call(method, body);
}
std::optional<platform::PlistValue> RemoteSystem::preferenceValue(const std::string& domain, const std::string& key) {
  return preferences_.read({domain}, key, [&] {
    return answerAs<std::optional<platform::PlistValue>>(
        connection_->call("preferenceValue", {{"domain", domain}, {"key", key}}), std::nullopt);
  });
}
std::optional<platform::PlistValue> RemoteSystem::firstPreferenceValue(const std::vector<std::string>& domains,
                                                                     const std::string& key) {
  return preferences_.read(domains, key, [&] {
    return answerAs<std::optional<platform::PlistValue>>(
        connection_->call("firstPreferenceValue", {{"domains", domains}, {"key", key}}), std::nullopt);
  });
}
bool RemoteSystem::preferencesWritten(const std::string& domain, const std::optional<json>& answer) {
  const bool saved = answerAs(answer, false);
  std::lock_guard lock(mutex_);
  if (saved) {
    unsavedDomains_.erase(domain);
  } else if (unsavedDomains_.insert(domain).second) {
    std::cerr << "simulated system: the preferences of " << platform::Unicode::oneLine(domain)
              << " could not be saved; the host keeps them and saves them with the next write" << std::endl;
  }
  return saved;
}
bool RemoteSystem::setPreferenceValues(const std::string& domain, const platform::PlistDictionary& values) {
  // One message and one write of the file, as in process: all the keys reach it or none.
  return preferencesWritten(
      domain, connection_->call("setPreferenceValues",
                                {{"domain", domain}, {"values", wire::encode(platform::PlistValue(values))}}));
}
bool RemoteSystem::setPreferenceValue(const std::string& domain, const std::string& key,
                                      const std::optional<platform::PlistValue>& value) {
  return preferencesWritten(
      domain,
      connection_->call("setPreferenceValue", {{"domain", domain}, {"key", key}, {"value", wire::encode(value)}}));
}
platform::LoginItemStatus RemoteSystem::loginItemStatus() {
  const int status = answerAs(connection_->call("loginItemStatus"), static_cast<int>(platform::LoginItemStatus::notFound));
  if (status < 0 || status > 3) return platform::LoginItemStatus::notFound;
  return static_cast<platform::LoginItemStatus>(status);
}
std::optional<std::string> RemoteSystem::setLoginItem(bool on) {
  auto answer = connection_->call("setLoginItem", on);
  if (!answer) return std::string("the world host is gone");
  return answerAs<std::optional<std::string>>(answer, std::nullopt);
}
void* RemoteSystem::symbol(const std::string& path, const std::string& name) {
  if (!answerAs(kept("symbol", {{"path", path}, {"name", name}}), false)) return nullptr;
  if (name == "_kLSPIDKey") {
    auto key = answerAs<std::optional<std::string>>(forward(name, nullptr), std::nullopt);
    if (!key) return nullptr;
    pidKey = *key;
    return &pidKey;
  }
  if (void* framework = multitouch::standIn(name)) return framework;
  return localStandIn(name);
}
std::variant<std::int32_t, std::string> RemoteSystem::launchProcess(const std::string& executable,
                                                                    const std::vector<std::string>& arguments,
                                                                    std::function<void(int status)> terminated) {
  std::uint64_t token = 0;
  {
    std::lock_guard lock(mutex_);
    token = nextToken_++;
    terminated_[token] = std::move(terminated);
  }
  auto answer = connection_->call("launchProcess", {{"executable", executable}, {"arguments", arguments}, {"token", token}});
  if (answer && answer->is_object() && answer->contains("pid") && (*answer)["pid"].is_number_integer()) {
    // The world records the shell; opening the program's own bundle again starts a real
    // copy of it on the same home, as the shell would on a Mac. A failed start is no
    // error, as a failed open in the shell is none.
    const std::int32_t self = answerAs<std::int32_t>(connection_->call("ownProcessIdentifier"), 0);
    if (auto real = relaunchCommand(executable, arguments, mainBundlePath(), self, ::getpid(), ownExecutable())) {
      spawnDetached(*real);
    }
    return (*answer)["pid"].get<std::int32_t>();
  }
  std::lock_guard lock(mutex_);
  terminated_.erase(token);
  if (answer && answer->is_object() && answer->contains("error") && (*answer)["error"].is_string()) {
    return (*answer)["error"].get<std::string>();
  }
  return std::string("the world host is gone");
}
void RemoteSystem::exitProgram(int status) {
  std::function<void(int)> handler;
  {
    std::lock_guard lock(mutex_);
    handler = exitHandler_;
  }
  handler(status);
}
void RemoteSystem::setExitHandler(std::function<void(int)> handler) {
  std::lock_guard lock(mutex_);
  exitHandler_ = std::move(handler);
}
void RemoteSystem::setDistributedNotificationListener(std::function<void(const std::string& name)> listener) {
  const bool on = static_cast<bool>(listener);
  {
    std::lock_guard lock(mutex_);
    notificationListener_ = std::move(listener);
  }
  connection_->call("listen", {{"kind", "notifications"}, {"on", on}});
}
void RemoteSystem::setAppleEventListener(std::function<void(const platform::AppleEvent& event)> listener) {
  const bool on = static_cast<bool>(listener);
  {
    std::lock_guard lock(mutex_);
    appleEventListener_ = std::move(listener);
  }
  connection_->call("listen", {{"kind", "appleEvents"}, {"on", on}});
}

bool RemoteSystem::handlePush(const wire::Message& push) {
  try {
    if (push.method == "notification") {
      std::function<void(const std::string&)> listener;
      {
        std::lock_guard lock(mutex_);
        listener = notificationListener_;
      }
      if (listener) listener(read<std::string>(push.body));
      return true;
    }
    if (push.method == "mtFrame") {
      multitouch::deliver(push.body);  // a frame it cannot read is dropped, as a torn one would be
      return true;
    }
    if (push.method == "appleEvent") {
      std::function<void(const platform::AppleEvent&)> listener;
      {
        std::lock_guard lock(mutex_);
        listener = appleEventListener_;
      }
      if (listener) listener(read<platform::AppleEvent>(push.body));
      return true;
    }
    if (push.method == "terminated") {
      std::function<void(int)> terminated;
      {
        std::lock_guard lock(mutex_);
        auto it = terminated_.find(field<std::uint64_t>(push.body, "token"));
        if (it == terminated_.end()) return true;
        terminated = std::move(it->second);
        terminated_.erase(it);
      }
      if (terminated) terminated(field<int>(push.body, "status"));
      return true;
    }
  } catch (const std::exception& e) {
    std::cerr << "trelliq: a message of the world host could not be read: " << e.what() << "\n";
    return true;
  }
  return false;
}

// ---- RemoteWindowServer -----------------------------------------------------------------

RemoteWindowServer::RemoteWindowServer(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

std::uint64_t RemoteWindowServer::newKey() {
  std::lock_guard lock(mutex_);
  return nextKey_++;
}

std::vector<platform::WindowEntry> RemoteWindowServer::windowList() {
  if (auto kept = connection_->reads().windowList()) return std::move(*kept);
  return answerAs<std::vector<platform::WindowEntry>>(connection_->call("windowList"), {});
}
std::optional<std::uint64_t> RemoteWindowServer::createEventTap(const platform::EventTapRequest& request,
                                                                platform::EventTapHandler handler) {
  const std::uint64_t key = newKey();
  {
    std::lock_guard lock(mutex_);
    taps_[key] = std::move(handler);
  }
  auto tap = answerAs<std::optional<std::uint64_t>>(
      connection_->call("createEventTap", {{"request", wire::encode(request)}, {"key", key}}), std::nullopt);
  std::lock_guard lock(mutex_);
  if (!tap) {
    taps_.erase(key);
  } else {
    tapKeys_[*tap] = key;
  }
  return tap;
}
void RemoteWindowServer::removeEventTap(std::uint64_t tap) {
  connection_->call("removeEventTap", tap);
  std::lock_guard lock(mutex_);
  if (auto it = tapKeys_.find(tap); it != tapKeys_.end()) {
    taps_.erase(it->second);
    tapKeys_.erase(it);
  }
}
std::size_t RemoteWindowServer::keptPictures() const {
  std::lock_guard lock(mutex_);
  return pictures_.size();
}

CGImageRef RemoteWindowServer::takePicture(json& body) {
  if (!body.is_object() || !body.contains("ref")) return answerAs<CGImageRef>(body, nullptr);
  std::uint64_t ref = 0;
  try {
    ref = read<std::uint64_t>(body["ref"]);
  } catch (const std::exception&) {
    body = nullptr;
    return nullptr;
  }
  CGImageRef picture;
  if (body.contains("px")) {
    body.erase("ref");
    picture = answerAs<CGImageRef>(body, nullptr);
    std::lock_guard lock(mutex_);
    pictures_[ref] = picture;
  } else {
    std::lock_guard lock(mutex_);
    if (auto it = pictures_.find(ref); it != pictures_.end()) picture = it->second;
  }
  body = nullptr;
  return picture;
}

std::optional<platform::RunningApplicationInfo> RemoteWindowServer::readApplication(json body) {
  if (!body.is_object()) return std::nullopt;
  CGImageRef icon = body.contains("icon") ? takePicture(body["icon"]) : nullptr;
  auto app = answerAs<std::optional<platform::RunningApplicationInfo>>(body, std::nullopt);
  if (app) app->icon = icon;
  return app;
}

std::vector<platform::RunningApplicationInfo> RemoteWindowServer::runningApplications() {
  if (auto kept = connection_->reads().applications([this](json one) { return readApplication(std::move(one)); })) {
    return std::move(*kept);
  }
  auto answer = connection_->call("runningApplications");
  std::vector<platform::RunningApplicationInfo> apps;
  if (!answer || !answer->is_array()) return apps;
  for (json& one : *answer) {
    if (auto app = readApplication(std::move(one))) apps.push_back(std::move(*app));
  }
  return apps;
}
std::optional<platform::RunningApplicationInfo> RemoteWindowServer::application(std::int32_t pid) {
  if (auto kept = connection_->reads().application(pid)) return kept;
  auto answer = connection_->call("application", pid);
  return answer ? readApplication(std::move(*answer)) : std::nullopt;
}
void RemoteWindowServer::openApplication(
    const std::string& path, bool activates,
    std::function<void(std::optional<std::int32_t> pid, std::optional<std::string> error)> done) {
  const std::uint64_t token = newKey();
  {
    std::lock_guard lock(mutex_);
    opens_[token] = std::move(done);
  }
  if (!connection_->call("openApplication", {{"path", path}, {"activates", activates}, {"token", token}})) {
    std::function<void(std::optional<std::int32_t>, std::optional<std::string>)> failed;
    {
      std::lock_guard lock(mutex_);
      failed = std::move(opens_[token]);
      opens_.erase(token);
    }
    if (failed) failed(std::nullopt, std::string("the world host is gone"));
  }
}
CGImageRef RemoteWindowServer::bundleIcon(const std::string& path) {
  auto answer = connection_->call("bundleIcon", path);
  return answer ? takePicture(*answer) : nullptr;
}
void RemoteWindowServer::setWorkspaceListener(std::function<void(const platform::WorkspaceEvent&)> listener) {
  const bool on = static_cast<bool>(listener);
  {
    std::lock_guard lock(mutex_);
    workspaceListener_ = std::move(listener);
  }
  connection_->call("listen", {{"kind", "workspace"}, {"on", on}});
}
// Every change to one of the program's windows is answered with the state of those that
// changed, which the program keeps; its questions are answered from that while nothing changed.
std::uint32_t RemoteWindowServer::createOwnWindow(const platform::OwnWindowState& state) {
  const auto answer = connection_->call("createOwnWindow", wire::encode(state));
  if (!answer || !answer->is_object() || !answer->contains("own")) return 0;
  ownWindows_.take(answer->at("own"));
  return answerAs<std::uint32_t>(answer->value("n", json()), 0);
}
void RemoteWindowServer::updateOwnWindow(std::uint32_t number, const platform::OwnWindowState& state) {
  keepOwnWindows(connection_->call("updateOwnWindow", {{"n", number}, {"state", wire::encode(state)}}));
}
void RemoteWindowServer::orderOwnWindow(std::uint32_t number, platform::OwnWindowOrder order) {
  keepOwnWindows(connection_->call("orderOwnWindow", {{"n", number}, {"order", static_cast<int>(order)}}));
}
void RemoteWindowServer::setOwnKeyWindow(std::uint32_t number) {
  keepOwnWindows(connection_->call("setOwnKeyWindow", number));
}
std::optional<platform::OwnWindowStatus> RemoteWindowServer::ownWindowStatus(std::uint32_t number) {
  if (!connection_->alive()) return std::nullopt;
  if (auto kept = ownWindows_.status(number)) return *kept;
  if (const auto table = connection_->call("ownWindows")) {
    if (auto fresh = ownWindows_.take(*table, number)) return *fresh;
  }
  return answerAs<std::optional<platform::OwnWindowStatus>>(connection_->call("ownWindowStatus", number), std::nullopt);
}
void RemoteWindowServer::destroyOwnWindow(std::uint32_t number) {
  keepOwnWindows(connection_->call("destroyOwnWindow", number));
}
void RemoteWindowServer::keepOwnWindows(const std::optional<json>& answer) {
  if (answer && answer->is_object()) ownWindows_.take(*answer);
}
void RemoteWindowServer::setOwnEventListener(std::function<void(const CGEvent&, std::uint32_t)> listener) {
  const bool on = static_cast<bool>(listener);
  {
    std::lock_guard lock(mutex_);
    ownEventListener_ = std::move(listener);
  }
  connection_->call("listen", {{"kind", "ownEvents"}, {"on", on}});
}
void RemoteWindowServer::setOwnWindowSurface(std::uint32_t number,
                                             std::shared_ptr<const platform::SharedSurface> surface) {
  // The memory itself crosses, once per surface: frames published later are read there.
  connection_->call("setOwnWindowSurface", {{"n", number}}, {.descriptor = surface ? surface->descriptor() : -1});
}
bool RemoteWindowServer::handleNotice(const wire::Message& push) {
  const bool frames = push.method == "screenFrames";
  if (!frames && push.method != "screenChanged") return false;
  std::lock_guard lock(screenMutex_);
  if (screenListener_) screenListener_(frames ? push.body : nullptr);
  return true;
}
bool RemoteWindowServer::setScreenListener(std::function<void(json frames)> listener) {
  bool ask = false;
  {
    std::lock_guard lock(screenMutex_);
    ask = listener && !screenWatched_;
    screenWatched_ = screenWatched_ || ask;
    screenListener_ = std::move(listener);
  }
  if (!ask) return true;
  const auto taken = connection_->call("screenWatch", {{"frames", true}});
  if (taken && taken->is_boolean() && taken->get<bool>()) return true;
  // Nobody will tell: a listener kept now would only wait for pushes that never come.
  std::lock_guard lock(screenMutex_);
  screenWatched_ = false;
  screenListener_ = nullptr;
  return false;
}
platform::AXAnswer RemoteWindowServer::axCopyAttribute(AXElementID element, const std::string& attribute,
                                                       double timeout) {
  if (auto kept = connection_->reads().attribute(element, attribute, timeout)) return std::move(*kept);
  auto answer = connection_->call("axCopyAttribute", {{"e", wire::encode(element)}, {"a", attribute}, {"t", timeout}},
                                  {.patience = patienceFor(timeout)});
  platform::AXAnswer out{kAXErrorCannotComplete, {}};
  if (!answer) return out;
  try {
    out.error = field<AXError>(*answer, "error");
    out.value = field<AXValue>(*answer, "value");
  } catch (const std::exception&) {
    out = {kAXErrorCannotComplete, {}};
  }
  return out;
}
AXError RemoteWindowServer::axSetAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                                           double timeout) {
  return answerAs<AXError>(
      connection_->call(
          "axSetAttribute",
          {{"e", wire::encode(element)}, {"a", attribute}, {"value", wire::encode(value)}, {"t", timeout}},
          {.patience = patienceFor(timeout)}),
      kAXErrorCannotComplete);
}
AXError RemoteWindowServer::axPerformAction(AXElementID element, const std::string& action, double timeout) {
  return answerAs<AXError>(
      connection_->call("axPerformAction", {{"e", wire::encode(element)}, {"a", action}, {"t", timeout}},
                        {.patience = patienceFor(timeout)}),
      kAXErrorCannotComplete);
}
std::pair<AXError, std::uint64_t> RemoteWindowServer::axCreateObserver(
    std::int32_t pid, std::function<void(AXElementID, const std::string&)> deliver) {
  const std::uint64_t key = newKey();
  {
    std::lock_guard lock(mutex_);
    observers_[key] = std::move(deliver);
  }
  auto answer = answerAs<std::vector<std::int64_t>>(connection_->call("axCreateObserver", {{"pid", pid}, {"key", key}}),
                                                    {});
  std::lock_guard lock(mutex_);
  if (answer.size() != 2 || answer[1] <= 0) {
    observers_.erase(key);
    return {answer.size() == 2 ? static_cast<AXError>(answer[0]) : kAXErrorCannotComplete, 0};
  }
  observerKeys_[static_cast<std::uint64_t>(answer[1])] = key;
  return {static_cast<AXError>(answer[0]), static_cast<std::uint64_t>(answer[1])};
}
void RemoteWindowServer::axDestroyObserver(std::uint64_t observer) {
  connection_->call("axDestroyObserver", observer);
  std::lock_guard lock(mutex_);
  if (auto it = observerKeys_.find(observer); it != observerKeys_.end()) {
    observers_.erase(it->second);
    observerKeys_.erase(it);
  }
}
std::optional<std::uint32_t> RemoteWindowServer::addServiceMatching(const std::string& className,
                                                                    std::function<void()> arrived) {
  const std::uint64_t key = newKey();
  {
    std::lock_guard lock(mutex_);
    matchings_[key] = std::move(arrived);
  }
  auto iterator = answerAs<std::optional<std::uint32_t>>(
      connection_->call("addServiceMatching", {{"class", className}, {"key", key}}), std::nullopt);
  std::lock_guard lock(mutex_);
  if (!iterator) {
    matchings_.erase(key);
  } else {
    matchingKeys_[*iterator] = key;
  }
  return iterator;
}
void RemoteWindowServer::releaseIOObject(std::uint32_t object) {
  connection_->call("releaseIOObject", object);
  std::lock_guard lock(mutex_);
  if (auto it = matchingKeys_.find(object); it != matchingKeys_.end()) {
    matchings_.erase(it->second);
    matchingKeys_.erase(it);
  }
}

bool RemoteWindowServer::handlePush(const wire::Message& push) {
  try {
    return eventPush(push) || callbackPush(push);
  } catch (const std::exception& e) {
    std::cerr << "trelliq: a message of the world host could not be read: " << e.what() << "\n";
    if (push.id) connection_->answer(push.id, nullptr);
    return true;
  }
}

bool RemoteWindowServer::eventPush(const wire::Message& push) {
  if (push.method == "tap") {
    platform::EventTapHandler handler;
    {
      std::lock_guard lock(mutex_);
      if (auto it = taps_.find(field<std::uint64_t>(push.body, "key")); it != taps_.end()) handler = it->second;
    }
    const CGEvent event = field<CGEvent>(push.body, "event");
    auto connection = connection_;
    const std::uint64_t id = push.id;
    if (!handler) {
      connection->answer(id, wire::encode(event));  // a tap already removed passes events on
      return true;
    }
    handler(field<CGEventType>(push.body, "type"), event, [connection, id](std::optional<CGEvent> verdict) {
      connection->answer(id, wire::encode(verdict));
    });
    return true;
  }
  if (push.method == "workspace") {
    std::function<void(const platform::WorkspaceEvent&)> listener;
    {
      std::lock_guard lock(mutex_);
      listener = workspaceListener_;
    }
    if (listener) listener(read<platform::WorkspaceEvent>(push.body));
    return true;
  }
  if (push.method == "ownEvent") {
    std::function<void(const CGEvent&, std::uint32_t)> listener;
    {
      std::lock_guard lock(mutex_);
      listener = ownEventListener_;
    }
    if (listener) listener(field<CGEvent>(push.body, "event"), field<std::uint32_t>(push.body, "window"));
    return true;
  }
  return false;
}

bool RemoteWindowServer::callbackPush(const wire::Message& push) {
  if (push.method == "ax") {
    std::function<void(AXElementID, const std::string&)> deliver;
    {
      std::lock_guard lock(mutex_);
      if (auto it = observers_.find(field<std::uint64_t>(push.body, "key")); it != observers_.end()) {
        deliver = it->second;
      }
    }
    if (deliver) deliver(field<AXElementID>(push.body, "e"), field<std::string>(push.body, "n"));
    return true;
  }
  if (push.method == "arrived") {
    std::function<void()> arrived;
    {
      std::lock_guard lock(mutex_);
      if (auto it = matchings_.find(read<std::uint64_t>(push.body)); it != matchings_.end()) arrived = it->second;
    }
    if (arrived) arrived();
    return true;
  }
  if (push.method == "opened") {
    std::function<void(std::optional<std::int32_t>, std::optional<std::string>)> done;
    {
      std::lock_guard lock(mutex_);
      auto it = opens_.find(field<std::uint64_t>(push.body, "token"));
      if (it == opens_.end()) return true;
      done = std::move(it->second);
      opens_.erase(it);
    }
    if (done) {
      done(field<std::optional<std::int32_t>>(push.body, "pid"), field<std::optional<std::string>>(push.body, "error"));
    }
    return true;
  }
  if (push.method == "forget") {
    // Pictures the host no longer has: it sends them whole should they be needed again.
    const auto refs = read<std::vector<std::uint64_t>>(push.body);
    std::lock_guard lock(mutex_);
    for (const std::uint64_t ref : refs) pictures_.erase(ref);
    return true;
  }
  return false;
}

// ---- The forwarders made from the call table ----------------------------------------------

#define TRELLIQ_FORWARDER(Class, remote, host, name, Result, params, args, fields, via, fallback, owner) \
  TRELLIQ_FORWARDER_##remote(Class, name, Result, params, args, fields, via, fallback)
#define TRELLIQ_FORWARDER_gen(Class, name, Result, params, args, fields, via, fallback)                  \
  auto Class::name params -> Result {                                                                   \
    return forwardCall<Result, calls::Via::via>(*connection_, #name, calls::fieldNames fields,          \
                                                std::forward_as_tuple args, [] { return Result fallback; }); \
  }
#define TRELLIQ_FORWARDER_own(...)
#define TRELLIQ_FORWARDER_local(...)
#define TRELLIQ_SYSTEM_FORWARDER(...) TRELLIQ_FORWARDER(RemoteSystem, __VA_ARGS__)
#define TRELLIQ_WINDOW_SERVER_FORWARDER(...) TRELLIQ_FORWARDER(RemoteWindowServer, __VA_ARGS__)
PLATFORM_SYSTEM_CALLS(TRELLIQ_SYSTEM_FORWARDER)
PLATFORM_WINDOW_SERVER_CALLS(TRELLIQ_WINDOW_SERVER_FORWARDER)

// ---- RemoteMac --------------------------------------------------------------------------

RemoteMac::~RemoteMac() {
  // Pushes reach the ports through the connection's threads: those end first.
  if (connection) connection->shutdown();
}

std::variant<std::unique_ptr<RemoteMac>, std::string> RemoteMac::attach(const std::string& socketPath, bool* refused,
                                                                        AttachAs as) {
  if (refused) *refused = false;
  auto opened = Connection::open(socketPath);
  if (auto* error = std::get_if<std::string>(&opened)) return *error;
  auto mac = std::make_unique<RemoteMac>();
  mac->connection = std::get<std::shared_ptr<Connection>>(opened);
  mac->system = std::make_unique<RemoteSystem>(mac->connection);
  mac->windowServer = std::make_unique<RemoteWindowServer>(mac->connection);
  RemoteSystem* system = mac->system.get();
  RemoteWindowServer* windowServer = mac->windowServer.get();
  // A host that will not serve this client (another user's, or one that cannot take
  // another) says so first: the first answer tells whether it serves. The first call also
  // tells the host what the client is, so a screen never takes a program's place.
  if (!mac->connection->call(as == AttachAs::screen ? "screenAttach" : "ownProcessIdentifier")) {
    if (auto why = mac->connection->whyLost()) {
      if (refused) *refused = true;
      return *why;
    }
  }
  if (as == AttachAs::program) mac->system->openSignalChannel();
  if (auto count = mac->connection->call("changeCount"); count && count->is_string()) {
    mac->connection->reads().attach(count->get<std::string>());
    mac->windowServer->ownWindows().attach(count->get<std::string>());
    if (auto folder = mac->connection->call("preferencesFolder"); folder && folder->is_string()) {
      system->preferences().attach(count->get<std::string>(), folder->get<std::string>());
    }
  }
  mac->connection->setNoticeHandler(
      [windowServer](const wire::Message& push) { return windowServer->handleNotice(push); });
  mac->connection->setPushHandler([system, windowServer](const wire::Message& push) {
    if (!windowServer->handlePush(push) && !system->handlePush(push)) {
      std::cerr << "trelliq: the world host sent an unknown message " << platform::Unicode::oneLine(push.method)
                << "\n";
    }
  });
  return mac;
}

}  // namespace host
