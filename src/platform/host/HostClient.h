#pragma once
// What the host keeps about one attached client (Host.cpp, and the handlers of its
// requests in HostCalls.cpp): its role, what it made in the world, its lanes and the
// pictures it was sent.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/WindowServerPort.h"
#include "platform/host/Channel.h"
#include "platform/host/Host.h"
#include "platform/host/HostLog.h"
#include "platform/host/HostReads.h"
#include "platform/host/ScreenSurfaces.h"
#include "platform/host/WireValues.h"

namespace host {

struct Host::Client {
  std::unique_ptr<Channel> channel;
  std::uint64_t number = 0;  // for log lines
  /// The first program attached is the world's own program; each further one is another
  /// process of the world with a pid of its own (0 here: the world's own). A client whose
  /// first call is "screenAttach" is the screen: a monitor and input devices, no process.
  /// Until its first call a client is only a connection: it counts towards no limit but
  /// that of the silent ones, and has kSilentSeconds to make that call. Under the host's
  /// mutex.
  enum class Role { undecided, program, screen, refused };
  Role role = Role::undecided;
  std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
  bool silenced = false;  // closed for saying nothing
  /// It made a call after its hello. Until then a program or screen also counts as silent
  /// (kMaxSilent, kSilentSeconds), so programs that only said hello keep nobody out.
  bool spoke = false;
  bool primary = false;
  std::int32_t pid = 0;
  std::mutex mutex;
  std::set<std::uint64_t> taps;
  std::set<std::uint64_t> observers;
  std::set<std::uint32_t> iterators;
  std::set<std::uint32_t> windows;
  std::size_t windowsMaking = 0;  // being made now, counted against the limit
  /// The state of its windows as last sent (encoded, by number), and how many times it
  /// was sent: a change is answered with what differs from it. Under `ownWindowsMutex`,
  /// which nothing holds while it calls the program or takes `mutex` for long.
  std::mutex ownWindowsMutex;
  std::map<std::uint32_t, nlohmann::json> sentWindows;
  std::uint64_t sentWindowsCount = 0;
  bool workspace = false;
  bool ownEvents = false;
  bool notifications = false;
  bool appleEvents = false;
  /// The screen asked to be told when what it shows may have changed; `screenTold` while
  /// it was told and has not asked for its frames since (one push until it looks).
  bool watchesScreen = false;
  bool screenTold = false;
  /// Or it takes the frames themselves: the displays it last asked for (`screenAsk`, at
  /// the sizes asked) are composed on the thread of the lane it asks on and pushed, one
  /// push until it says it showed it ("screenReady"); a change meanwhile is `screenOwed`,
  /// pushed as soon as it is ready, so a slow screen skips frames and the newest wins.
  bool screenTakesFrames = false;
  bool screenOwed = false;
  std::uint32_t screenLane = 0;
  std::shared_ptr<const nlohmann::json> screenAsk;  // null until it asked
  /// The displays as last sent to it: they go again only once they differ.
  nlohmann::json screensSent;
  /// Leaves the displays out of `answer` (a "screenFrames" answer or push) when they are
  /// those it was sent last; else they count as sent.
  void keepScreensSent(nlohmann::json& answer) {
    auto screens = answer.find("screens");
    if (screens == answer.end()) return;
    std::lock_guard lock(mutex);
    if (*screens == screensSent) {
      answer.erase(screens);
    } else {
      screensSent = *screens;
    }
  }
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
  /// on itself), and one thread's slow call does not hold up another's. Each lane is woken
  /// alone: waking every lane for each call woke the program's idle lanes at every frame.
  struct Lane {
    std::thread worker;
    std::deque<wire::Message> calls;
    std::condition_variable ready;
    bool screenFramesDue = false;  // the screen's frames are to be composed and pushed
  };
  std::map<std::uint32_t, Lane> lanes;  // a lane stays where it is until the program goes
  /// The calls waiting on all its lanes, and their frames' bytes (kMaxWaitingCalls…).
  std::size_t waitingCalls = 0;
  std::size_t waitingBytes = 0;
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
  nlohmann::json pictureByReference(const CGImageRef& picture) {
    if (!picture) return nullptr;
    std::vector<std::uint64_t> gone;
    nlohmann::json body;
    {
      std::lock_guard lock(mutex);
      auto it = sentPictures.find(picture.get());
      if (it != sentPictures.end() && it->second.picture.lock() == picture) return nlohmann::json{{"ref", it->second.ref}};
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
  bool push(const std::string& method, nlohmann::json body, std::uint64_t id = 0) {
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

/// Marks the client whose call the calling thread answers (Host::call), while it does: what
/// the world says meanwhile is about that program's call.
class AnsweringFor {
 public:
  explicit AnsweringFor(Host::Client& client) : before_(current()) { current() = &client; }
  ~AnsweringFor() { current() = before_; }
  AnsweringFor(const AnsweringFor&) = delete;
  AnsweringFor& operator=(const AnsweringFor&) = delete;
  /// The client of the call being answered on this thread; null when none is.
  static Host::Client*& current() {
    thread_local Host::Client* client = nullptr;
    return client;
  }

 private:
  Host::Client* before_;
};

}  // namespace host
