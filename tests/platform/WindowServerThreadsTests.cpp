// The window server under callers on several real threads at once: the event-tap
// thread, capture queues and the main queue all reach it in the running program.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "support/Scene.h"

TEST(WindowServerThreadsTest, ConcurrentCallersKeepTheDeskConsistent) {
  Scene scene(Scene::Start::defaultScenario);
  sim::WindowServer& server = scene.windowServer;
  const std::size_t windowsBefore = server.windows().size();
  std::atomic<int> created{0}, destroyed{0};
  const auto listener = server.addChangeListener([&](const sim::DeskChange& c) {
    if (c.kind == sim::DeskChange::Kind::windowCreated) ++created;
    if (c.kind == sim::DeskChange::Kind::windowDestroyed) ++destroyed;
  });
  auto setHotKey = platform::symbolAs<SLSSetSymbolicHotKeyEnabled_t>(platform::dlopen(kSkyLightPath, 2),
                                                                     "SLSSetSymbolicHotKeyEnabled");
  auto spaces =
      platform::symbolAs<SLSCopySpacesForWindows_t>(platform::dlopen(kSkyLightPath, 2), "SLSCopySpacesForWindows");

  constexpr int kRounds = 150;
  std::vector<std::thread> threads;
  // Windows come and go.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      sim::Window w;
      w.pid = 301;
      w.title = "Scratch " + std::to_string(i);
      w.bounds = CGRect(10 + i, 40, 300, 200);
      const std::uint32_t n = server.addWindow(w);
      server.raiseWindow(n);
      server.removeWindow(n);
    }
  });
  // The desk changes under the readers.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      server.switchSpace(i % 2 ? 4 : 1, sim::SwitchStyle::instant);
      server.makeFrontmost(i % 2 ? 302 : 301);
      server.setMinimized(2102, i % 3 == 0);
      setHotKey(1, i % 2 == 0);
    }
  });
  // Readers: the window list, Spaces of windows, pictures.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0);
      ASSERT_TRUE(list);
      auto s = spaces(sim::WindowServer::kConnectionID, 7, platform::PlistArray{2101, 2102});
      ASSERT_TRUE(s);
      EXPECT_FALSE(s->empty());
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds / 10; ++i) EXPECT_TRUE(scene.world.captureDisplay(1, 151, 98, false));
  });
  for (auto& t : threads) t.join();
  server.removeChangeListener(listener);

  EXPECT_EQ(created.load(), kRounds);
  EXPECT_EQ(destroyed.load(), kRounds);
  EXPECT_EQ(server.windows().size(), windowsBefore);
  EXPECT_EQ(server.currentSpace(1), 4u);
  EXPECT_EQ(server.frontmost(), 302);
}
