// Several programs on one host process: events posted by one run through another's
// tap; a dead program's windows and taps go at once; a hung tap costs at most the tap
// timeout. The programs here are attachments from this test process, each on its own
// connection, as separate programs would be.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "platform/CGEvent.h"
#include "platform/sim/DefaultsStore.h"

namespace {

constexpr CGKeyCode kA = 0x00, kB = 0x0B;

CGEvent key(CGKeyCode code, CGEventFlags flags = 0) { return keyEvent(kCGEventKeyDown, code, flags); }

std::int64_t codeOf(const CGEvent& e) {
  auto it = e.integerFields.find(kCGKeyboardEventKeycode);
  return it == e.integerFields.end() ? -1 : it->second;
}

/// A listen-only tap at the session's tail: what got past every tap in front of it. What the
/// tap records is shared with its handler, which may still be returning when the test,
/// told of the last key, ends.
class Listener {
 public:
  explicit Listener(std::int64_t lastCode) : state_(std::make_shared<State>()) {
    state_->last = lastCode;
    sawLast_ = state_->sawLast.get_future();
  }

  platform::EventTapHandler handler() {
    return [state = state_](CGEventType type, CGEvent event, platform::EventTapReply reply) {
      bool last = false;
      if (type == kCGEventKeyDown) {
        std::lock_guard lock(state->mutex);
        state->codes.push_back(codeOf(event));
        last = codeOf(event) == state->last;
      }
      reply(event);
      if (last) state->sawLast.set_value();
    };
  }
  /// Waits until the last key got past.
  void waitForLast() { sawLast_.get(); }
  std::vector<std::int64_t> codes() const {
    std::lock_guard lock(state_->mutex);
    return state_->codes;
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<std::int64_t> codes;
    std::promise<void> sawLast;
    std::int64_t last = 0;
  };
  std::shared_ptr<State> state_;
  std::future<void> sawLast_;
};

bool listsWindow(host::RemoteMac& mac, std::uint32_t number) {
  auto list = mac.windowServer->windowList();
  return std::any_of(list.begin(), list.end(), [&](const platform::WindowEntry& w) { return w.number == number; });
}

// A host of its own with two programs attached, as every case here starts.
class HostThreadsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(stage.start());
    second = attach(home.socket());
    ASSERT_TRUE(second);
  }
  AttachedHost stage;
  const Home& home = stage.home;
  std::unique_ptr<host::RemoteMac>& first = stage.mac;
  std::unique_ptr<host::RemoteMac> second;
};

}  // namespace

TEST_F(HostThreadsTest, AKeyPostedByOneProgramRunsThroughAnothersTap) {
  auto& switcher = first;
  auto& poster = second;

  // The switcher consumes ⌘⇥ at the HID level and passes everything else.
  std::promise<CGEvent> tabSeen;
  auto tap = switcher->windowServer->createEventTap(
      keyDownTap(kCGHIDEventTap, kCGHeadInsertEventTap, false),
      [&](CGEventType type, CGEvent event, platform::EventTapReply reply) {
        if (type == kCGEventKeyDown && codeOf(event) == kTab && (event.flags & kCGEventFlagMaskCommand)) {
          tabSeen.set_value(event);
          reply(std::nullopt);
          return;
        }
        reply(event);
      });
  ASSERT_TRUE(tap);
  Listener after(kA);
  ASSERT_TRUE(poster->windowServer->createEventTap(keyDownTap(kCGSessionEventTap, kCGTailAppendEventTap, true),
                                                   after.handler()));

  poster->windowServer->postEvent(kCGHIDEventTap, key(kTab, kCGEventFlagMaskCommand));
  poster->windowServer->postEvent(kCGHIDEventTap, key(kA));
  const CGEvent shown = tabSeen.get_future().get();
  EXPECT_EQ(shown.flags & kCGEventFlagMaskCommand, kCGEventFlagMaskCommand);
  after.waitForLast();
  EXPECT_EQ(after.codes(), std::vector<std::int64_t>{kA}) << "the consumed ⌘⇥ reached nobody behind the tap";
}

TEST_F(HostThreadsTest, ADeadProgramsWindowsAndTapsGoAtOnce) {
  auto& dying = first;
  auto& other = second;

  const platform::OwnWindowState panel = panelAt(CGRect(100, 100, 400, 300));
  const std::uint32_t window = dying->windowServer->createOwnWindow(panel);
  ASSERT_NE(window, 0u);
  dying->windowServer->orderOwnWindow(window, platform::OwnWindowOrder::frontRegardless);
  EXPECT_TRUE(listsWindow(*other, window)) << "another program sees the panel";
  // A tap that swallows every key, and never will again once its program is gone.
  ASSERT_TRUE(dying->windowServer->createEventTap(keyDownTap(kCGHIDEventTap, kCGHeadInsertEventTap, false),
                                                  [](CGEventType, CGEvent, platform::EventTapReply reply) {
                                                    reply(std::nullopt);
                                                  }));

  dying->connection->close();  // what the kernel does to the socket of a crashed program
  EXPECT_TRUE(eventually([&] { return !listsWindow(*other, window); })) << "no stale panel";

  Listener listener(kB);
  ASSERT_TRUE(other->windowServer->createEventTap(keyDownTap(kCGSessionEventTap, kCGTailAppendEventTap, true),
                                                  listener.handler()));
  other->windowServer->postEvent(kCGHIDEventTap, key(kB));
  listener.waitForLast();  // no tap holds the key any more
}

TEST_F(HostThreadsTest, AHungTapIsDisabledAfterTheTimeoutAndTheEventGoesOn) {
  auto& hung = first;
  auto& poster = second;

  std::promise<void> toldDisabled;
  std::mutex mutex;
  std::vector<platform::EventTapReply> held;  // never answered while the tap hangs
  auto tap = hung->windowServer->createEventTap(keyDownTap(kCGHIDEventTap, kCGHeadInsertEventTap, false),
                                                [&](CGEventType type, CGEvent, platform::EventTapReply reply) {
                                                  std::lock_guard lock(mutex);
                                                  if (type == kCGEventTapDisabledByTimeout) {
                                                    toldDisabled.set_value();
                                                  } else {
                                                    held.push_back(reply);
                                                  }
                                                });
  ASSERT_TRUE(tap);
  Listener after(kB);
  ASSERT_TRUE(poster->windowServer->createEventTap(keyDownTap(kCGSessionEventTap, kCGTailAppendEventTap, true),
                                                   after.handler()));
  poster->windowServer->postEvent(kCGHIDEventTap, key(kA));
  poster->windowServer->postEvent(kCGHIDEventTap, key(kB));
  toldDisabled.get_future().get();
  after.waitForLast();
  EXPECT_EQ(after.codes(), (std::vector<std::int64_t>{kA, kB})) << "the held key went on, in order";
  EXPECT_FALSE(hung->windowServer->isEventTapEnabled(*tap));
  std::lock_guard lock(mutex);
  EXPECT_EQ(held.size(), 1u) << "a disabled tap is shown nothing more";
}

TEST_F(HostThreadsTest, EachAttachedCopyIsAProcessOfTheWorldWithItsOwnWindows) {
  const std::int32_t firstPID = first->windowServer->ownProcessIdentifier();
  const std::int32_t secondPID = second->windowServer->ownProcessIdentifier();
  ASSERT_NE(firstPID, 0);
  ASSERT_NE(secondPID, 0);
  EXPECT_NE(firstPID, secondPID);

  // The first one sees the second as a running copy of itself.
  const auto mine = first->windowServer->application(firstPID);
  const auto copy = first->windowServer->application(secondPID);
  ASSERT_TRUE(mine && copy);
  EXPECT_EQ(copy->localizedName, mine->localizedName);
  EXPECT_EQ(copy->bundleIdentifier, mine->bundleIdentifier);
  EXPECT_FALSE(copy->terminated);

  // Each one's panel belongs to it, and both see both.
  const platform::OwnWindowState panel = panelAt(CGRect(40, 40, 300, 200));
  const std::uint32_t a = first->windowServer->createOwnWindow(panel);
  const std::uint32_t b = second->windowServer->createOwnWindow(panel);
  first->windowServer->orderOwnWindow(a, platform::OwnWindowOrder::frontRegardless);
  second->windowServer->orderOwnWindow(b, platform::OwnWindowOrder::frontRegardless);
  for (auto* mac : {first.get(), second.get()}) {
    std::map<std::uint32_t, platform::WindowEntry> byNumber;
    for (const auto& w : mac->windowServer->windowList()) byNumber[w.number] = w;
    ASSERT_TRUE(byNumber.count(a) && byNumber.count(b));
    EXPECT_EQ(byNumber[a].ownerPID, firstPID);
    EXPECT_EQ(byNumber[b].ownerPID, secondPID);
    EXPECT_EQ(byNumber[b].layer, 101);
    EXPECT_EQ(byNumber[b].ownerName, mine->localizedName);
  }
  EXPECT_TRUE(second->windowServer->ownWindowStatus(b)->orderedIn);

  // The second one ends: the first is told, and its app and windows are gone.
  auto told = std::make_shared<std::promise<void>>();
  auto once = std::make_shared<std::atomic<bool>>(false);
  first->windowServer->setWorkspaceListener([told, once, secondPID](const platform::WorkspaceEvent& e) {
    if (e.kind == platform::WorkspaceEvent::Kind::didTerminate && e.pid == secondPID && !once->exchange(true)) {
      told->set_value();
    }
  });
  second.reset();
  told->get_future().get();
  EXPECT_TRUE(listsWindow(*first, a));
  EXPECT_FALSE(listsWindow(*first, b));
  const auto apps = first->windowServer->runningApplications();
  EXPECT_TRUE(std::none_of(apps.begin(), apps.end(), [&](const auto& app) { return app.pid == secondPID; }));
}

TEST_F(HostThreadsTest, AScreenAttachedFirstIsNoProcessAndTheFirstProgramIsTheWorldsOwn) {
  // A host of its own, with the screen attached before any program.
  Home fresh;
  HostProcess freshHost{fresh.path};
  ASSERT_EQ(freshHost.said, "ready");
  auto screen = attach(fresh.socket(), host::AttachAs::screen);
  ASSERT_TRUE(screen);
  auto program = attach(fresh.socket());
  auto copy = attach(fresh.socket());
  ASSERT_TRUE(program && copy);
  const std::int32_t firstPID = program->windowServer->ownProcessIdentifier();
  const std::int32_t secondPID = copy->windowServer->ownProcessIdentifier();
  // Acting for no program, the screen is told the world's own program's pid.
  EXPECT_EQ(firstPID, screen->windowServer->ownProcessIdentifier()) << "the first program is the world's own";
  EXPECT_NE(secondPID, firstPID);
  const auto apps = screen->windowServer->runningApplications();
  const auto mine = std::find_if(apps.begin(), apps.end(), [&](const auto& app) { return app.pid == firstPID; });
  ASSERT_NE(mine, apps.end());
  EXPECT_EQ(std::count_if(apps.begin(), apps.end(),
                          [&](const auto& app) { return app.bundleIdentifier == mine->bundleIdentifier; }),
            2)
      << "the program and its copy, and no process for the screen";
}

TEST_F(HostThreadsTest, TwoProgramsActivatingAppsAtOnceLeaveOneConsistentDesk) {
  auto& one = first;
  auto& two = second;
  std::vector<std::int32_t> regular;
  for (const auto& app : one->windowServer->runningApplications()) {
    if (app.activationPolicy == platform::ActivationPolicy::regular && app.pid != one->windowServer->ownProcessIdentifier() &&
        app.pid != two->windowServer->ownProcessIdentifier())
      regular.push_back(app.pid);
  }
  ASSERT_GE(regular.size(), 4u);
  // Each program walks the apps in its own order, both at once.
  auto walk = [&](host::RemoteMac& mac, bool backwards) {
    for (int round = 0; round < 40; ++round) {
      const std::size_t i = backwards ? regular.size() - 1 - round % regular.size() : round % regular.size();
      mac.windowServer->activateApplication(regular[i], 0);
      mac.windowServer->frontmostApplication();
    }
  };
  std::thread a([&] { walk(*one, false); });
  std::thread b([&] { walk(*two, true); });
  a.join();
  b.join();
  // Once the reactions have landed, both see the same single active app.
  EXPECT_TRUE(eventually([&] {
    const auto apps = one->windowServer->runningApplications();
    const auto front = one->windowServer->frontmostApplication();
    const auto active = std::count_if(apps.begin(), apps.end(), [](const auto& app) { return app.active; });
    return front && active == 1 && two->windowServer->frontmostApplication() == front &&
           std::any_of(apps.begin(), apps.end(), [&](const auto& app) { return app.active && app.pid == *front; });
  }));
}

TEST_F(HostThreadsTest, ClicksAndKeysReachTheProgramTheyAreForWhicheverAttachedFirst) {
  // What each program's windows were given, in order, and a latch per program.
  struct Received {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<CGEventType, std::uint32_t>> events;
    void add(const CGEvent& e, std::uint32_t window) {
      std::lock_guard lock(mutex);
      events.emplace_back(e.type, window);
      arrived.notify_all();
    }
    /// Everything received once `count` events have come (or a minute has passed).
    std::vector<std::pair<CGEventType, std::uint32_t>> awaited(std::size_t count) {
      std::unique_lock lock(mutex);
      arrived.wait_for(lock, std::chrono::minutes(1), [&] { return events.size() >= count; });
      return events;
    }
  };
  Received toFirst, toSecond;
  first->windowServer->setOwnEventListener([&](const CGEvent& e, std::uint32_t w) { toFirst.add(e, w); });
  second->windowServer->setOwnEventListener([&](const CGEvent& e, std::uint32_t w) { toSecond.add(e, w); });

  // Side by side, each a non-activating panel (bit 7) as the switcher's are.
  platform::OwnWindowState panel;
  panel.level = 101;
  panel.styleMask = 1 << 7;
  panel.frame = CGRect(40, 100, 200, 150);
  const std::uint32_t a = first->windowServer->createOwnWindow(panel);
  panel.frame = CGRect(400, 100, 200, 150);
  const std::uint32_t b = second->windowServer->createOwnWindow(panel);
  first->windowServer->orderOwnWindow(a, platform::OwnWindowOrder::frontRegardless);
  second->windowServer->orderOwnWindow(b, platform::OwnWindowOrder::frontRegardless);

  auto mouse = [](CGEventType type, CGPoint at) {
    CGEvent e;
    e.type = type;
    e.location = at;
    return e;
  };
  // A pointer move and a click over the second copy's panel, then one over the first's.
  first->windowServer->postEvent(kCGHIDEventTap, mouse(kCGEventMouseMoved, CGPoint(500, 170)));
  first->windowServer->postEvent(kCGHIDEventTap, mouse(kCGEventLeftMouseDown, CGPoint(500, 170)));
  first->windowServer->postEvent(kCGHIDEventTap, mouse(kCGEventLeftMouseUp, CGPoint(500, 170)));
  second->windowServer->postEvent(kCGHIDEventTap, mouse(kCGEventLeftMouseDown, CGPoint(100, 170)));
  using Seen = std::vector<std::pair<CGEventType, std::uint32_t>>;
  EXPECT_EQ(toSecond.awaited(3), (Seen{{kCGEventMouseMoved, b}, {kCGEventLeftMouseDown, b}, {kCGEventLeftMouseUp, b}}));
  EXPECT_EQ(toFirst.awaited(1), (Seen{{kCGEventLeftMouseDown, a}})) << "the first copy got the second's pointer";

  // The second copy's panel takes the keyboard while another app stays active.
  second->windowServer->setOwnKeyWindow(b);
  first->windowServer->postEvent(kCGHIDEventTap, key(kA));
  EXPECT_EQ(toSecond.awaited(4).at(3), std::make_pair(kCGEventKeyDown, 0u));
  // The first one's, made key after it, takes it over.
  first->windowServer->setOwnKeyWindow(a);
  second->windowServer->postEvent(kCGHIDEventTap, key(kB));
  EXPECT_EQ(toFirst.awaited(2), (Seen{{kCGEventLeftMouseDown, a}, {kCGEventKeyDown, 0u}}));
  // The next thing the second copy gets is this move, not the first one's key.
  first->windowServer->postEvent(kCGHIDEventTap, mouse(kCGEventMouseMoved, CGPoint(510, 170)));
  EXPECT_EQ(toSecond.awaited(5).at(4), std::make_pair(kCGEventMouseMoved, b))
      << "the second copy got a key meant for the first";
}

TEST_F(HostThreadsTest, AKeyGoesToACopyThatCameToTheFrontWhileAnothersPanelIsKey) {
  // Which program each key reached, in order.
  struct Keys {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<int> to;
    auto listener(int program) {
      return [this, program](const CGEvent& e, std::uint32_t) {
        if (e.type != kCGEventKeyDown) return;
        std::lock_guard lock(mutex);
        to.push_back(program);
        arrived.notify_all();
      };
    }
  } keys;
  first->windowServer->setOwnEventListener(keys.listener(1));
  second->windowServer->setOwnEventListener(keys.listener(2));

  platform::OwnWindowState panel = panelAt(CGRect(40, 100, 200, 150));
  panel.styleMask = 1 << 7;  // non-activating: the keyboard without the front
  const std::uint32_t a = first->windowServer->createOwnWindow(panel);
  first->windowServer->orderOwnWindow(a, platform::OwnWindowOrder::frontRegardless);
  first->windowServer->setOwnKeyWindow(a);
  platform::OwnWindowState window;
  window.frame = CGRect(400, 100, 300, 200);
  window.title = "Settings";
  const std::uint32_t w = second->windowServer->createOwnWindow(window);
  second->windowServer->orderOwnWindow(w, platform::OwnWindowOrder::frontRegardless);
  const std::int32_t copy = second->windowServer->ownProcessIdentifier();
  ASSERT_TRUE(second->windowServer->activateApplication(copy, 0));
  // Activation takes the system a moment.
  ASSERT_TRUE(eventually([&] { return second->windowServer->frontmostApplication() == copy; }));

  first->windowServer->postEvent(kCGHIDEventTap, key(kB));
  std::unique_lock lock(keys.mutex);
  keys.arrived.wait_for(lock, std::chrono::minutes(1), [&] { return !keys.to.empty(); });
  EXPECT_EQ(keys.to, std::vector<int>{2}) << "the key went to the other copy's panel, not the front";
}

TEST_F(HostThreadsTest, ADefaultReadAgainCostsNoRoundTripUntilAnotherProgramOrItsFileChangesIt) {
  const std::string domain = "com.example.other";
  sim::DefaultsStore files(home.path + "/Library/Preferences");  // another program writing its own file
  // Stamped a while ago, as a file nobody is writing now.
  auto settle = [&] {
    const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 10, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, files.fileFor(domain).c_str(), times, 0), 0);
  };
  auto read = [&] { return first->system->preferenceValue(domain, "k"); };
  ASSERT_TRUE(files.set(domain, "k", platform::PlistValue(1)));
  settle();
  EXPECT_EQ(read(), platform::PlistValue(1));
  const auto calls = first->connection->calls();
  EXPECT_EQ(read(), platform::PlistValue(1));
  EXPECT_EQ(first->connection->calls(), calls) << "an unchanged default is answered without the host";

  second->system->setPreferenceValue(domain, "k", platform::PlistValue(2));
  EXPECT_EQ(read(), platform::PlistValue(2)) << "a write through the host is seen at the next read";

  // A write to the file itself: the host keeps another program's domain as it read it...
  ASSERT_TRUE(files.set(domain, "k", platform::PlistValue(3)));
  settle();
  EXPECT_EQ(read(), platform::PlistValue(2));
  // ...until someone asks it to read the domain again.
  second->system->synchronizePreferences(domain);
  EXPECT_EQ(read(), platform::PlistValue(3)) << "a fresh read by another program is seen at the next read";
}
