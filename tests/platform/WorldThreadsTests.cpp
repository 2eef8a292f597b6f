#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/AppKit.h"
#include "platform/CoreFoundation.h"
#include "platform/Foundation.h"
#include "platform/ScreenCaptureKit.h"
#include "support/Scene.h"

namespace {
SCContentFilter filterFor(SCDisplay display) {
  SCContentFilter filter;
  filter.display = display;
  return filter;
}
}  // namespace

// The event-tap thread, the picture queues and the main queue all reach the world at
// once; nothing may tear, and every write must land.
TEST(WorldThreadsTest, ConcurrentCallersSeeConsistentStateAndLoseNoWrite) {
  Scene scene(Scene::Start::defaultScenario);
  constexpr int kRounds = 40;
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;

  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (i % 2)
        scene.world.removeDisplay(3);
      else
        scene.world.addDisplay(sim::makeDisplay(3, CGRect(1512, 0, 2560, 1440), "Wide Monitor"));
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      for (const NSScreen& s : NSScreen::screens()) {
        if (s.displayNumber() == 3u && s.frame() != CGRect(1512, 0, 2560, 1440)) torn = true;
      }
      SCScreenshotManager::captureImageNow(filterFor(SCDisplay{1, 64, 32}),
                                           SCStreamConfiguration{.width = 64, .height = 32});
    }
  });
  // Two writers in this program and one in a second program on the same home.
  for (int writer = 0; writer < 2; ++writer) {
    threads.emplace_back([&, writer] {
      for (int i = 0; i < kRounds; ++i) UserDefaults::standard().set("key" + std::to_string(writer * 100 + i), i);
    });
  }
  sim::World second(scene.home);
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) second.setPreferenceValue("app.ondrel.trelliq", "other" + std::to_string(i), i);
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      scene.world.writeForeignPreference("com.apple.dock", "wvous-tl-corner", i);
      CFPreferencesAppSynchronize("com.apple.dock");
      CFPreferencesCopyAppValue("wvous-tl-corner", "com.apple.dock");
    }
  });
  for (std::thread& t : threads) t.join();

  EXPECT_FALSE(torn);
  const auto domain = UserDefaults::standard().persistentDomain("app.ondrel.trelliq");
  ASSERT_TRUE(domain);
  EXPECT_EQ(domain->size(), 3u * kRounds);
  CFPreferencesAppSynchronize("com.apple.dock");
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", "com.apple.dock"), platform::PlistValue(kRounds - 1));
}
