#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ServedDesk.h"
#include "platform/Accessibility.h"
#include "platform/CGEvent.h"

// Observers come and go, attributes are read and set and events are posted from several
// threads while the desk changes and the clock delivers: nothing may race, no posted
// event may be lost or overtake an earlier one from the same thread.
TEST(AccessibilityThreadsTest, CallersOnManyThreadsWhileTheDeskChanges) {
  ServedDesk desk;
  const auto pid = desk.addApp("Jotter");
  const auto a = desk.addWindow(pid, "A", ServedDesk::kLeft);
  const auto b = desk.addWindow(pid, "B", ServedDesk::kLeft);
  constexpr int kRounds = 60;
  std::atomic<int> heard{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;

  threads.emplace_back([&] {
    for (int i = 1; i <= kRounds; ++i) {
      CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {double(i), 5}, 0));
    }
  });
  threads.emplace_back([&] {
    const auto element = desk.elementOf(a);
    for (int i = 0; i < kRounds; ++i) {
      AXValue value;
      AXUIElementCopyAttributeValue(AXUIElementCreateApplication(pid), kAXWindowsAttribute, &value);
      AXUIElementSetAttributeValue(element, kAXPositionAttribute, CGPoint{double(i), 40});
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds / 4; ++i) {
      AXObserverRef observer;
      AXObserverCreate(
          pid, [&](AXObserverRef, AXUIElementRef, const std::string&, void*) { ++heard; }, &observer);
      AXObserverAddNotification(observer, AXUIElementCreateApplication(pid), kAXFocusedWindowChangedNotification,
                                nullptr);
      CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer), kCFRunLoopCommonModes);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) desk.server.raiseWindow(i % 2 ? a : b);
  });
  // The test thread drives the clock meanwhile.
  std::thread driver([&] {
    while (!done) desk.scene.clock.runUntilIdle();
  });
  for (auto& t : threads) t.join();
  done = true;
  driver.join();
  desk.scene.clock.advance(1.0);

  const auto delivered = desk.events->delivered();
  ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kRounds));
  for (int i = 0; i < kRounds; ++i) EXPECT_EQ(delivered[i].location.x, i + 1);
  EXPECT_EQ(desk.server.pointerLocation(), (CGPoint{double(kRounds), 5}));
  EXPECT_EQ(desk.server.window(a)->bounds.origin, (CGPoint{double(kRounds - 1), 40}));
  EXPECT_TRUE(desk.ax->registrations(pid).empty()) << "every observer was dropped";
}
