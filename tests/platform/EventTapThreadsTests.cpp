// Event taps on real threads: the tap's callback on its own "event tap" thread, the window
// server's delivery on its queue, posters on threads of their own. Waits poll with a generous
// fail-safe so a fault shows as a failure rather than a hang; no assertion depends on speed.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <thread>
#include <vector>

#include "TapDesk.h"
#include "platform/RealClock.h"

namespace {

constexpr CGEventField kPoster = 200, kSequence = 201;

bool waitFor(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a hang guard only
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::int64_t field(const CGEvent& e, CGEventField f) {
  auto it = e.integerFields.find(f);
  return it == e.integerFields.end() ? -1 : it->second;
}

TEST(EventTapThreadsTest, EveryEventIsDecidedOnTheTapThreadAndOrderIsKept) {
  ServedDesk desk;
  platform::RealClock clock;
  platform::installClock(&clock);
  platform::Executor& tapThread = clock.thread("event tap");
  std::atomic<bool> offThread{false};
  const auto port = CGEventTapCreate(
      kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, CGEventMaskBit(kCGEventKeyDown),
      [&](CGEventTapProxy, CGEventType type, CGEventRef e, void*) -> CGEventRef {
        if (!tapThread.isCurrent()) offThread = true;
        if (type != kCGEventKeyDown) return e;
        if (CGEventGetIntegerValueField(e, kSequence) % 3 == 0) return nullptr;
        CGEventSetFlags(e, kCGEventFlagMaskShift);
        return e;
      },
      nullptr);
  ASSERT_TRUE(port);
  CFRunLoopAddSource(&tapThread, CFMachPortCreateRunLoopSource(nullptr, port, 0), kCFRunLoopCommonModes);

  constexpr int kPosters = 3, kEach = 150;
  std::vector<std::thread> threads;
  for (int p = 0; p < kPosters; ++p) {
    threads.emplace_back([p] {
      for (int i = 0; i < kEach; ++i) {
        auto e = keyEvent(static_cast<CGKeyCode>(i % 40));
        CGEventSetIntegerValueField(e, kPoster, p);
        CGEventSetIntegerValueField(e, kSequence, i);
        CGEventPost(i % 2 ? kCGHIDEventTap : kCGSessionEventTap, e);
      }
    });
  }
  // Someone turns the tap off and on meanwhile; while it is off, events pass it untouched.
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) {
      CGEventTapEnable(port, i % 2 == 1);
      std::this_thread::yield();
    }
    CGEventTapEnable(port, true);
  });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(
      waitFor([&] { return desk.events->delivered().size() + desk.events->consumed().size() == kPosters * kEach; }));

  EXPECT_FALSE(offThread);
  std::map<std::int64_t, std::int64_t> last;
  for (const CGEvent& e : desk.events->delivered()) {
    const auto p = field(e, kPoster), i = field(e, kSequence);
    EXPECT_GT(i, last.count(p) ? last[p] : -1) << "poster " << p << " overtaken";
    last[p] = i;
    // Session-posted keys skip the HID tap; HID ones it saw carry its change.
    if (i % 2 == 0) EXPECT_EQ(e.flags, 0u);
  }
  for (const auto& c : desk.events->consumed()) {
    EXPECT_EQ(field(c.event, kSequence) % 3, 0);
    EXPECT_EQ(field(c.event, kSequence) % 2, 1) << "only HID-posted keys pass the HID tap";
  }
  CFMachPortInvalidate(port);
  clock.shutdown();
}

TEST(EventTapThreadsTest, ABlockedTapIsTimedOutAndCanTurnItselfBackOn) {
  ServedDesk desk;
  platform::RealClock clock;
  platform::installClock(&clock);
  desk.events->setTapTimeout(0.05);
  platform::Executor& tapThread = clock.thread("event tap");
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> keys{0}, notices{0};
  CFMachPortRef port;
  port = CGEventTapCreate(
      kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, CGEventMaskBit(kCGEventKeyDown),
      [&](CGEventTapProxy, CGEventType type, CGEventRef, void*) -> CGEventRef {
        if (type == kCGEventTapDisabledByTimeout) {
          ++notices;
          CGEventTapEnable(port, true);
        } else if (++keys == 1) {
          released.wait();  // stuck past the limit
        }
        return nullptr;
      },
      nullptr);
  ASSERT_TRUE(port);
  CFRunLoopAddSource(&tapThread, CFMachPortCreateRunLoopSource(nullptr, port, 0), kCFRunLoopCommonModes);

  CGEventPost(kCGSessionEventTap, keyEvent(0));
  ASSERT_TRUE(waitFor([&] { return desk.events->delivered().size() == 1; })) << "the stuck tap is passed by";
  EXPECT_FALSE(CGEventTapIsEnabled(port));
  release.set_value();
  ASSERT_TRUE(waitFor([&] { return notices == 1 && CGEventTapIsEnabled(port); }));

  CGEventPost(kCGSessionEventTap, keyEvent(1));
  ASSERT_TRUE(waitFor([&] { return desk.events->consumed().size() == 1; }));
  EXPECT_EQ(desk.events->delivered().size(), 1u) << "the late answer to the first key consumed nothing";
  EXPECT_EQ(desk.events->taps().front().timeouts, 1);
  CFMachPortInvalidate(port);
  clock.shutdown();
}

}  // namespace
