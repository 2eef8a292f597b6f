#include "platform/RealClock.h"

#include <pthread.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ClockInternals.h"

namespace platform {

namespace {

std::uint64_t steadyNanos() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void nameThisThread(const std::string& name) {
  // The kernel keeps at most 15 bytes of a thread's name.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

struct Entry {
  Work work;
  std::shared_ptr<WorkItem::State> state;
};
using Key = std::pair<std::uint64_t, std::uint64_t>;  // (due nanos, posting sequence)
using Agenda = std::map<Key, Entry>;

WorkItem droppedItem() {
  auto state = std::make_shared<WorkItem::State>();
  state->cancelled.store(true);
  return WorkItem(state);
}

thread_local const Executor* tCurrentExecutor = nullptr;

// ---------------------------------------------------------------------------------------------
// Named queues and run-loop threads: one std::thread each, sleeping until the head of its
// agenda falls due.

class ThreadExecutor : public Executor {
 public:
  ThreadExecutor(std::string label, bool start) : label_(std::move(label)) {
    if (start) {
      thread_ = std::thread([this] { run(); });
    } else {
      stopping_ = true;
    }
  }
  ~ThreadExecutor() override { stop(); }

  const std::string& label() const override { return label_; }
  void async(Work work) override { post(steadyNanos(), std::move(work)); }
  WorkItem asyncAfter(Seconds delay, Work work) override {
    return post(detail::saturatingAdd(steadyNanos(), detail::nanosFromSeconds(delay)), std::move(work));
  }
  WorkItem asyncAt(std::uint64_t dueNanos, Work work) override { return post(dueNanos, std::move(work)); }
  bool isCurrent() const override { return tCurrentExecutor == this; }

  /// Runs what was already due when asked to stop, drops the rest, and joins the thread.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      if (!stopping_) {
        stopping_ = true;
        stopNanos_ = steadyNanos();
      }
    }
    wake_.notify_all();
    std::lock_guard joining(joinMutex_);
    if (thread_.joinable()) {
      // A thread cannot join itself; it leaves its loop on its own once its work returns.
      if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
      } else {
        thread_.join();
      }
    }
  }

 private:
  WorkItem post(std::uint64_t due, Work work) {
    if (!work) return WorkItem();
    auto state = std::make_shared<WorkItem::State>();
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return droppedItem();
      agenda_.emplace(Key{due, sequence_++}, Entry{std::move(work), state});
    }
    wake_.notify_one();
    return WorkItem(state);
  }

  void run() {
    nameThisThread(label_);
    tCurrentExecutor = this;
    std::unique_lock lock(mutex_);
    for (;;) {
      if (agenda_.empty()) {
        if (stopping_) break;
        wake_.wait(lock);
        continue;
      }
      auto head = agenda_.begin();
      const std::uint64_t due = head->first.first;
      const bool cancelled = head->second.state->cancelled.load();
      if (stopping_ && due > stopNanos_ && !cancelled) break;
      if (!cancelled && !stopping_ && due > steadyNanos()) {
        // Waits are capped so a far-off due time cannot overflow the clock's representation.
        const auto until = std::chrono::steady_clock::time_point(
            std::chrono::nanoseconds(static_cast<std::int64_t>(std::min<std::uint64_t>(due, LLONG_MAX / 2))));
        wake_.wait_until(lock, until);
        continue;
      }
      Entry entry = std::move(head->second);
      agenda_.erase(head);
      lock.unlock();
      if (!cancelled) entry.work();
      entry = Entry();  // captures are released outside the lock
      lock.lock();
    }
    Agenda dropped;
    dropped.swap(agenda_);
    lock.unlock();
  }

  const std::string label_;
  std::thread thread_;
  std::mutex joinMutex_;  // two threads shutting down at once must not both join
  std::mutex mutex_;
  std::condition_variable wake_;
  Agenda agenda_;
  std::uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::uint64_t stopNanos_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The main queue: our own agenda, drained on the thread of the QCoreApplication. A wake-up
// event to a pump object on that thread asks for a drain when the head of the agenda changes;
// a single-shot timer made on the main thread wakes it when the head falls due.
//
// Wake-ups carry no data and are made and posted under gMainsMutex, which the pump takes
// before it looks at anything, so every hand-over between threads is ordered by our own
// mutex rather than by Qt's internals.

class MainState;
class MainPump;

std::mutex gMainsMutex;                        // guards the registry and gPump, and is held while posting
MainPump* gPump = nullptr;                     // lives on the main thread, a child of the application
std::atomic<std::uint64_t> gAppGeneration{0};  // bumped each time a QCoreApplication is built

std::vector<std::weak_ptr<MainState>>& liveMains() {
  static std::vector<std::weak_ptr<MainState>> mains;
  return mains;
}

QEvent::Type wakeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class WakeEvent : public QEvent {
 public:
  WakeEvent() : QEvent(wakeEventType()) {}
};

class MainState : public std::enable_shared_from_this<MainState> {
 public:
  WorkItem post(std::uint64_t due, Work work) {
    if (!work) return WorkItem();
    auto state = std::make_shared<WorkItem::State>();
    bool newHead;
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return droppedItem();
      const Key key{due, sequence_++};
      agenda_.emplace(key, Entry{std::move(work), state});
      newHead = agenda_.begin()->first == key;
    }
    if (newHead) wake();
    return WorkItem(state);
  }

  /// Asks the main thread to drain; at most one request is in flight per application.
  void wake();

  void stop() {
    Agenda dropped;
    std::lock_guard lock(mutex_);
    stopped_ = true;
    dropped.swap(agenda_);
  }

  // Main thread only.
  void drain() {
    std::uint64_t seqLimit;
    {
      std::lock_guard lock(mutex_);
      wakeFor_.reset();  // work posted for now from here on asks for a fresh pass
      seqLimit = sequence_;
    }
    std::optional<std::uint64_t> headDue;
    for (;;) {
      Entry entry;
      {
        std::lock_guard lock(mutex_);
        headDue.reset();
        if (agenda_.empty()) return;
        auto head = agenda_.begin();
        headDue = head->first.first;
        // Work posted during this pass waits for the next one, so the event loop still breathes.
        if (head->first.first > steadyNanos() || head->first.second >= seqLimit) break;
        entry = std::move(head->second);
        agenda_.erase(head);
      }
      if (!entry.state->cancelled.load()) entry.work();
    }
    if (*headDue <= steadyNanos()) {
      wake();
    } else {
      arm(*headDue);
    }
  }

 private:
  // Main thread only.
  void arm(std::uint64_t due) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    const std::uint64_t generation = gAppGeneration.load();
    if (armedGeneration_ == generation && armedDue_ <= due) return;
    armedGeneration_ = generation;
    armedDue_ = due;
    const std::uint64_t token = ++armToken_;
    const std::uint64_t now = steadyNanos();
    const std::uint64_t waitNanos = due > now ? due - now : 0;
    const int ms = static_cast<int>(std::min<std::uint64_t>((waitNanos + 999'999) / 1'000'000, INT_MAX));
    std::weak_ptr<MainState> weak = weak_from_this();
    QTimer::singleShot(ms, Qt::PreciseTimer, app, [weak, token] {
      auto self = weak.lock();
      if (!self) return;
      if (self->armToken_ == token) self->armedDue_ = UINT64_MAX;
      self->drain();
    });
  }

  std::mutex mutex_;
  Agenda agenda_;
  std::uint64_t sequence_ = 0;
  bool stopped_ = false;
  std::optional<std::uint64_t> wakeFor_;  // application generation a drain request is in flight for

  // Touched only on the main thread.
  std::uint64_t armedDue_ = UINT64_MAX;
  std::uint64_t armedGeneration_ = 0;
  std::uint64_t armToken_ = 0;
};

std::vector<std::shared_ptr<MainState>> liveMainsSnapshot() {
  std::lock_guard lock(gMainsMutex);
  std::vector<std::shared_ptr<MainState>> mains;
  for (const auto& weak : liveMains()) {
    if (auto state = weak.lock()) mains.push_back(std::move(state));
  }
  return mains;
}

class MainPump : public QObject {
 public:
  using QObject::QObject;
  ~MainPump() override {
    std::lock_guard lock(gMainsMutex);
    if (gPump == this) gPump = nullptr;
  }

  bool event(QEvent* event) override {
    if (event->type() != wakeEventType()) return QObject::event(event);
    for (const auto& state : liveMainsSnapshot()) state->drain();
    return true;
  }
};

void MainState::wake() {
  std::lock_guard registry(gMainsMutex);
  if (!gPump) return;  // the application's start-up hook wakes us once it exists
  const std::uint64_t generation = gAppGeneration.load();
  {
    std::lock_guard lock(mutex_);
    if (stopped_ || agenda_.empty() || wakeFor_ == generation) return;
    wakeFor_ = generation;
  }
  QCoreApplication::postEvent(gPump, new WakeEvent);
}

void registerMain(const std::shared_ptr<MainState>& state) {
  std::lock_guard lock(gMainsMutex);
  auto& mains = liveMains();
  mains.erase(std::remove_if(mains.begin(), mains.end(), [](const auto& weak) { return weak.expired(); }), mains.end());
  mains.push_back(state);
}

// Runs on the main thread while each QCoreApplication is being built: the pump is made there,
// and work posted to the main queue before the application existed gets its wake-up.
void onApplicationStarted() {
  {
    std::lock_guard lock(gMainsMutex);
    gAppGeneration.fetch_add(1);
    gPump = new MainPump(QCoreApplication::instance());
  }
  for (const auto& state : liveMainsSnapshot()) state->wake();
}
Q_COREAPP_STARTUP_FUNCTION(onApplicationStarted)

class MainExecutor : public Executor {
 public:
  explicit MainExecutor(std::shared_ptr<MainState> state) : state_(std::move(state)) {}

  const std::string& label() const override { return label_; }
  void async(Work work) override { state_->post(steadyNanos(), std::move(work)); }
  WorkItem asyncAfter(Seconds delay, Work work) override {
    return state_->post(detail::saturatingAdd(steadyNanos(), detail::nanosFromSeconds(delay)), std::move(work));
  }
  WorkItem asyncAt(std::uint64_t dueNanos, Work work) override { return state_->post(dueNanos, std::move(work)); }
  bool isCurrent() const override {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
  }

 private:
  const std::string label_ = "main";
  std::shared_ptr<MainState> state_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

struct RealClock::Impl {
  std::shared_ptr<MainState> mainState = std::make_shared<MainState>();
  MainExecutor main{mainState};

  std::mutex mutex;
  bool stopped = false;
  std::map<std::string, std::unique_ptr<ThreadExecutor>> executors;

  // Background tasks: a thread each, joined once finished or at shutdown.
  std::mutex backgroundMutex;
  bool backgroundStopped = false;
  std::map<std::thread::id, std::thread> backgroundThreads;
  std::vector<std::thread::id> finished;

  Executor& executorNamed(const std::string& label) {
    if (label == main.label()) return main;
    std::lock_guard lock(mutex);
    auto& slot = executors[label];
    if (!slot) slot = std::make_unique<ThreadExecutor>(label, !stopped);
    return *slot;
  }

  // Caller holds backgroundMutex.
  std::vector<std::thread> takeFinishedLocked() {
    std::vector<std::thread> done;
    for (const auto& id : finished) {
      auto it = backgroundThreads.find(id);
      if (it == backgroundThreads.end()) continue;
      done.push_back(std::move(it->second));
      backgroundThreads.erase(it);
    }
    finished.clear();
    return done;
  }
};

RealClock::RealClock() : impl_(std::make_unique<Impl>()) { registerMain(impl_->mainState); }

RealClock::~RealClock() {
  detail::forgetClock(this);
  shutdown();
}

double RealClock::now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::uint64_t RealClock::monotonicNanos() { return steadyNanos(); }

Executor& RealClock::main() { return impl_->main; }
Executor& RealClock::queue(const std::string& label) { return impl_->executorNamed(label); }
Executor& RealClock::thread(const std::string& name) { return impl_->executorNamed(name); }

void RealClock::background(Work task) {
  if (!task) return;
  std::vector<std::thread> done;
  {
    std::lock_guard lock(impl_->backgroundMutex);
    if (impl_->backgroundStopped) return;
    done = impl_->takeFinishedLocked();
    Impl* impl = impl_.get();
    // The new thread reports itself finished under the same lock, so it is always
    // in the table by then.
    std::thread worker([impl, task = std::move(task)]() mutable {
      nameThisThread("background");
      task();
      task = nullptr;
      std::lock_guard lock(impl->backgroundMutex);
      impl->finished.push_back(std::this_thread::get_id());
    });
    const auto id = worker.get_id();
    impl_->backgroundThreads.emplace(id, std::move(worker));
  }
  for (auto& thread : done) thread.join();
}

void RealClock::shutdown() {
  std::vector<ThreadExecutor*> executors;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopped = true;
    for (auto& [label, executor] : impl_->executors) executors.push_back(executor.get());
  }
  for (ThreadExecutor* executor : executors) executor->stop();
  impl_->mainState->stop();

  std::vector<std::thread> threads;
  {
    std::lock_guard lock(impl_->backgroundMutex);
    impl_->backgroundStopped = true;
    for (auto& [id, thread] : impl_->backgroundThreads) threads.push_back(std::move(thread));
    impl_->backgroundThreads.clear();
    impl_->finished.clear();
  }
  for (auto& thread : threads) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

}  // namespace platform
