#include "platform/host/Channel.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <system_error>
#include <variant>

namespace host {

Endpoint endpointFor(const std::string& home) {
  Endpoint e;
  e.folder = home + "/Library/Simulated Mac";
  e.socket = e.folder + "/world.sock";
  e.lock = e.folder + "/host.lock";
  return e;
}

namespace {
std::atomic<int> gThreadStartsLeft{-1};  // negative: no limit
}  // namespace

std::thread startThread(std::function<void()> body) {
  int left = gThreadStartsLeft.load();
  while (left >= 0) {
    if (left == 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    if (gThreadStartsLeft.compare_exchange_weak(left, left - 1)) break;
  }
  return std::thread(std::move(body));
}

void failThreadStartsAfter(int succeeding) { gThreadStartsLeft = succeeding; }

SocketAddress::SocketAddress(const std::string& path) {
  address_.sun_family = AF_UNIX;
  std::string usable = path;
  if (path.size() >= sizeof(address_.sun_path)) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
      problem_ = "cannot open " + folder + ": " + std::strerror(errno);
      return;
    }
    usable = "/proc/self/fd/" + std::to_string(folder_) + "/" + path.substr(slash + 1);
    if (usable.size() >= sizeof(address_.sun_path)) {
      problem_ = "the socket's name is too long: " + path;
      return;
    }
  }
  std::memcpy(address_.sun_path, usable.c_str(), usable.size() + 1);
}

SocketAddress::~SocketAddress() {
  if (folder_ >= 0) ::close(folder_);
}

std::variant<int, std::string> connectTo(const std::string& socketPath) {
  const SocketAddress address(socketPath);
  if (address.problem()) return *address.problem();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("cannot make a socket: ") + std::strerror(errno);
  if (::connect(fd, address.get(), address.size()) != 0) {
    const int error = errno;
    ::close(fd);
    return "cannot connect to " + socketPath + ": " + std::strerror(error);
  }
  return fd;
}

Channel::Channel(int fd) : fd_(fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
    peerPID_ = credentials.pid;
    peerUID_ = credentials.uid;
  }
}

Channel::~Channel() {
  close();
  join();
  ::close(fd_);
  // The peer can read nothing more; what it holds is its own.
  std::lock_guard lock(postMutex_);
  heldInFlight_.clear();
}

void Channel::startPosting(std::size_t maxQueuedBytes) {
  {
    std::lock_guard lock(postMutex_);
    maxPostedBytes_ = maxQueuedBytes;
    posterStarted_ = true;
  }
  poster_ = startThread([this] { postLoop(); });
}

void Channel::wakePoster() {
  // Under the lock, so a poster about to wait cannot miss the change.
  std::lock_guard lock(postMutex_);
  postReady_.notify_all();
  answerTaken_.notify_all();
  written_.notify_all();
}

void Channel::cut() {
  open_ = false;
  ::shutdown(fd_, SHUT_RDWR);
  wakePoster();
}

namespace {

/// Answers with descriptors a peer may leave queued, and descriptors it may leave sent but
/// unread, before the next waits for it to read. A program waits for each answer on each of
/// its few lanes, so only one that asks without reading ever comes near either.
constexpr std::size_t kMaxUnreadAnswerDescriptors = 4;
constexpr std::size_t kMaxDescriptorsInFlight = 16;

}  // namespace

Channel::AtOnce Channel::writeAtOnce(std::unique_lock<std::mutex>& lock, Posted& posted) {
  // Behind a queued message, or one being written, it would overtake it; a descriptor's
  // memory is held until read, which only the posting thread follows.
  if (posted.descriptor || posting_ || !posted_.empty()) return AtOnce::notTried;
  posting_ = true;  // what is posted meanwhile queues behind it
  lock.unlock();
  AtOnce result = AtOnce::notTried;
  // A send() under way may wait on the peer: this never does.
  if (writeMutex_.try_lock()) {
    std::size_t sent = 0;
    result = AtOnce::partly;
    while (sent < posted.frame.size()) {
      const ssize_t n =
          ::send(fd_, posted.frame.data() + sent, posted.frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) {
        result = AtOnce::failed;
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    writeMutex_.unlock();
    if (result == AtOnce::partly && sent == posted.frame.size()) result = AtOnce::sent;
    if (result == AtOnce::partly) {
      posted.frame.erase(posted.frame.begin(), posted.frame.begin() + static_cast<std::ptrdiff_t>(sent));
      posted.begun = sent > 0;
    }
  }
  lock.lock();
  // Ahead of whatever was posted while it wrote: the rest of a frame begun comes first.
  if (result == AtOnce::partly || result == AtOnce::notTried) {
    posted_.push_front(std::move(posted));
    result = AtOnce::partly;
  }
  writeEnded();
  return result;
}

void Channel::writeEnded() {
  posting_ = false;
  if (closersWaiting_ > 0) written_.notify_all();
  if (!posted_.empty()) {
    // What was posted meanwhile waited for this write, not for a wake.
    postReady_.notify_one();
  } else if (sendersWaiting_ > 0) {
    written_.notify_all();
  }
}

bool Channel::afterPost(AtOnce written) {
  if (written == AtOnce::failed) {
    cut();
    return false;
  }
  // Told once the lock is let go: woken under it, the posting thread would only wait for it.
  if (written != AtOnce::sent) postReady_.notify_one();
  return true;
}

bool Channel::postAnswer(const wire::Message& message) {
  Posted posted{wire::encode(message), message.descriptor, false, true};
  const std::size_t bytes = posted.frame.size();
  AtOnce written = AtOnce::notTried;
  {
    std::unique_lock lock(postMutex_);
    answerTaken_.wait(lock, [&] {
      return !open_ || (answerBytes_ <= maxPostedBytes_ && answerDescriptors_ < kMaxUnreadAnswerDescriptors);
    });
    if (!open_) return false;
    written = writeAtOnce(lock, posted);
    if (written == AtOnce::notTried) {
      answerBytes_ += bytes;
      answerDescriptors_ += posted.descriptor ? 1 : 0;
      posted_.push_back(std::move(posted));
    } else if (written == AtOnce::partly) {
      answerBytes_ += posted_.front().frame.size();
    }
  }
  return afterPost(written);
}

bool Channel::post(const wire::Message& message, bool bounded) {
  if (!open_) return false;
  Posted posted{wire::encode(message), message.descriptor, bounded};
  AtOnce written = AtOnce::notTried;
  {
    std::unique_lock lock(postMutex_);
    // Again under the lock: a message queued after the poster has gone would be reported
    // as sent.
    if (!open_) return false;
    if (bounded && postedBytes_ + posted.frame.size() > maxPostedBytes_) {
      // A peer that stopped reading (a stopped process) would hold everything it is sent:
      // it is let go instead, and whatever waits on it stops waiting.
      overflowed_ = true;
      written = AtOnce::failed;
    } else {
      const std::size_t bytes = posted.frame.size();
      written = writeAtOnce(lock, posted);
      if (written == AtOnce::notTried) {
        if (bounded) postedBytes_ += bytes;
        posted_.push_back(std::move(posted));
      } else if (written == AtOnce::partly && bounded) {
        postedBytes_ += posted_.front().frame.size();
      }
    }
  }
  return afterPost(written);
}

void Channel::postLoop() {
  while (true) {
    Posted next;
    {
      std::unique_lock lock(postMutex_);
      postReady_.wait(lock, [&] { return (!posted_.empty() && !posting_) || !open_; });
      if (!open_) return;
      if (posted_.front().descriptor && !roomForDescriptor()) {
        // The kernel holds each descriptor sent until the peer reads it: a peer that asks
        // for pictures without reading them waits for its answers instead, and only it.
        // Nothing tells when it reads, so look again shortly (or at once when it ends).
        answerTaken_.wait_for(lock, std::chrono::milliseconds(2));
        continue;
      }
      next = std::move(posted_.front());
      posted_.pop_front();
      posting_ = true;
      if (next.descriptor) ++descriptorsInFlight_;
      if (next.bounded) postedBytes_ -= next.frame.size();
      if (next.answer) {
        answerBytes_ -= next.frame.size();
        answerDescriptors_ -= next.descriptor ? 1 : 0;
        answerTaken_.notify_all();
      }
    }
    const bool written = writeFrame(next.frame, next.descriptor.get());
    {
      std::lock_guard lock(postMutex_);
      if (written && next.descriptor && next.descriptor->hold)
        heldInFlight_.push_back(std::move(next.descriptor->hold));
      writeEnded();
    }
    if (!written) return;
  }
}

bool Channel::roomForDescriptor() {
  int unread = 0;
  if (::ioctl(fd_, SIOCOUTQ, &unread) == 0 && unread == 0) {
    descriptorsInFlight_ = 0;
    heldInFlight_.clear();
  }
  return descriptorsInFlight_ < kMaxDescriptorsInFlight;
}

void Channel::releaseRead() {
  std::lock_guard lock(postMutex_);
  roomForDescriptor();
}

bool ByteBudget::take(std::size_t bytes) {
  const std::size_t limit = bytes_.load();
  std::size_t held = held_.load();
  do {
    if (bytes > limit || held > limit - bytes) return false;
  } while (!held_.compare_exchange_weak(held, held + bytes));
  return true;
}

void ByteBudget::give(std::size_t bytes) { held_.fetch_sub(bytes); }

std::shared_ptr<void> ByteBudget::hold(std::size_t bytes) {
  class Held {
   public:
    Held(ByteBudget& budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
    ~Held() { budget_.give(bytes_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    ByteBudget& budget_;
    std::size_t bytes_;
  };
  if (!take(bytes)) return nullptr;
  return std::make_shared<Held>(*this, bytes);
}

void Channel::start(MessageHandler onMessage, CloseHandler onClose, ReadLimits limits) {
  reader_ = startThread([this, onMessage = std::move(onMessage), onClose = std::move(onClose), limits] {
    readLoop(onMessage, onClose, limits);
    std::lock_guard lock(finishedMutex_);
    finished_ = true;
    finishedChanged_.notify_all();
  });
}

namespace {

/// Descriptors read but not yet matched with the message naming them; more is a peer
/// sending descriptors nobody asked for.
constexpr std::size_t kMaxWaitingDescriptors = 16;

/// Appends the descriptors `header` carries to `into`, in the order they came.
void takeDescriptors(msghdr& header, std::deque<int>& into) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int received;
      std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
      into.push_back(received);
    }
  }
}

}  // namespace

void Channel::readLoop(MessageHandler onMessage, CloseHandler onClose, ReadLimits limits) {
  wire::Decoder decoder(limits.maxPayload);
  std::size_t budgeted = 0;  // of limits.shared, held for an unfinished message
  // What an unfinished message holds of the shared budget, as it grows and when it is read.
  auto holdUnfinished = [&] {
    if (!limits.shared) return true;
    const std::size_t wanted = decoder.buffered() > ReadLimits::kUnbudgetedBytes ? decoder.buffered() : 0;
    if (wanted > budgeted && !limits.shared->take(wanted - budgeted)) return false;
    if (wanted < budgeted) limits.shared->give(budgeted - wanted);
    budgeted = wanted;
    return true;
  };
  std::vector<std::uint8_t> chunk(64 * 1024);
  std::deque<int> descriptors;  // in the order they came, which is the order of their messages
  std::optional<wire::Fault> fault;
  while (!fault) {
    iovec data{chunk.data(), chunk.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    const ssize_t n = ::recvmsg(fd_, &header, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Waited for in poll, which wakes only for something to read: a reader asleep in
      // recvmsg is also woken each time the peer reads what this side wrote (room to
      // write again), a wake for nothing at every message.
      pollfd readable{fd_, POLLIN, 0};
      if (::poll(&readable, 1, -1) < 0 && errno != EINTR) break;
      continue;
    }
    takeDescriptors(header, descriptors);
    if ((header.msg_flags & MSG_CTRUNC) || descriptors.size() > kMaxWaitingDescriptors) {
      fault = wire::Fault{wire::Fault::Reason::malformed, "the peer sent more descriptors than its messages name"};
      break;
    }
    if (n <= 0) {
      if (n == 0) decoder.endOfStream();
      fault = decoder.fault();
      break;
    }
    decoder.feed(chunk.data(), static_cast<std::size_t>(n));
    if (!holdUnfinished()) {
      fault = wire::Fault{wire::Fault::Reason::oversized,
                          "a message of " + std::to_string(decoder.buffered()) +
                              " bytes so far, with the unfinished messages of others over the shared limit"};
      break;
    }
    while (auto message = decoder.next()) {
      if (message->carriesDescriptor) {
        if (descriptors.empty()) {
          fault = wire::Fault{wire::Fault::Reason::malformed, "a message names a descriptor that did not come"};
          break;
        }
        message->descriptor = std::make_shared<wire::Descriptor>(descriptors.front());
        descriptors.pop_front();
      }
      onMessage(std::move(*message));
    }
    if (!fault) fault = decoder.fault();
    if (!fault) holdUnfinished();  // messages read whole give back what they held
  }
  if (limits.shared) limits.shared->give(budgeted);
  for (int fd : descriptors) ::close(fd);
  // The close handler may still say why (a peer of another protocol is told which one
  // this side speaks); the socket is shut only after it.
  if (!fault && overflowed_) {
    fault = wire::Fault{wire::Fault::Reason::unread, "stopped reading what it was sent"};
  }
  onClose(fault);
  cut();
}

bool Channel::writeAll(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::send(fd_, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Part of a frame may be out: the stream is torn, and the connection ends here. The
      // reader still gets what the peer sent before, then the end.
      cut();
      return false;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Channel::send(const wire::Message& message) {
  if (!open_) return false;
  const auto frame = wire::encode(message);
  std::unique_lock lock(postMutex_);
  if (!posterStarted_) {
    lock.unlock();
    return writeFrame(frame, message.descriptor.get());
  }
  // Never between the parts of a frame written at once whose rest waits for the poster.
  ++sendersWaiting_;
  written_.wait(lock, [&] { return !open_ || (!posting_ && posted_.empty()); });
  --sendersWaiting_;
  if (!open_) return false;
  posting_ = true;
  lock.unlock();
  const bool written = writeFrame(frame, message.descriptor.get());
  lock.lock();
  writeEnded();
  return written;
}

bool Channel::writeFrame(const std::vector<std::uint8_t>& frame, const wire::Descriptor* descriptor) {
  std::lock_guard lock(writeMutex_);
  if (!descriptor) return writeAll(frame.data(), frame.size());
  // The descriptor rides on the frame's first bytes, so it arrives with its message.
  const int fd = descriptor->get();
  iovec data{const_cast<std::uint8_t*>(frame.data()), frame.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof(control);
  cmsghdr* c = CMSG_FIRSTHDR(&header);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
  ssize_t n;
  do {
    n = ::sendmsg(fd_, &header, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    cut();
    return false;
  }
  return writeAll(frame.data() + n, frame.size() - static_cast<std::size_t>(n));
}

bool Channel::quietBefore(std::chrono::steady_clock::time_point giveUp, std::vector<std::uint8_t>& rest) {
  {
    std::unique_lock lock(postMutex_);
    ++closersWaiting_;
    written_.wait_until(lock, giveUp, [&] { return !posting_; });
    --closersWaiting_;
    if (posting_) return false;
    // Nobody writes from now on (the connection is marked gone): the rest of a frame begun
    // is this thread's to write, and what is queued behind it is dropped.
    if (!posted_.empty() && posted_.front().begun) {
      rest = std::move(posted_.front().frame);
      posted_.pop_front();
    }
    posting_ = true;
  }
  // A send() of a channel without a posting thread writes under writeMutex_ alone.
  // (Tried rather than timed: the sanitizers do not follow timed locks.)
  while (!writeMutex_.try_lock()) {
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool Channel::writeBefore(std::chrono::steady_clock::time_point giveUp, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd writable{fd_, POLLOUT, 0};
    if (::poll(&writable, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
  }
  return true;
}

void Channel::close(const std::optional<wire::Message>& parting) {
  if (!open_.exchange(false)) return;
  wakePoster();
  // A writer still busy, or the rest of a frame begun, gets kCloseWait in all (a full socket
  // to a stopped peer is not waited for longer); what cannot be written whole by then ends
  // the connection without the parting word, which would read as the torn frame's rest.
  const auto giveUp = std::chrono::steady_clock::now() + kCloseWait;
  std::vector<std::uint8_t> rest;
  const bool quiet = quietBefore(giveUp, rest);
  if (quiet && writeBefore(giveUp, rest) && parting) writeBefore(giveUp, wire::encode(*parting));
  ::shutdown(fd_, SHUT_RDWR);
  if (quiet) writeMutex_.unlock();
}

bool Channel::joinWithin(double seconds) {
  if (!reader_.joinable()) return true;
  if (reader_.get_id() == std::this_thread::get_id()) {
    reader_.detach();
    return true;
  }
  std::unique_lock lock(finishedMutex_);
  if (!finishedChanged_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return finished_; })) return false;
  lock.unlock();
  reader_.join();
  return true;
}

void Channel::join() {
  if (reader_.joinable()) {
    // The reader's own close handler may wait for the channel's end (the channel lives on).
    if (reader_.get_id() == std::this_thread::get_id()) {
      reader_.detach();
    } else {
      reader_.join();
    }
  }
  if (poster_.joinable() && poster_.get_id() != std::this_thread::get_id()) {
    if (!open_) wakePoster();
    poster_.join();
  }
}

}  // namespace host
