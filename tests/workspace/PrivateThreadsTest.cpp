// The lazily resolved private functions under concurrent first use from the picture queues.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "WindowServerScenes.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

TEST(PrivateThreads, ConcurrentFirstCapturesResolveEachFunctionOnce) {
  Scene scene;
  scenes::twoDisplays(scene);
  scene.world.setScreenCaptureAllowed(true);
  const std::int32_t pid = scenes::addApp(scene, "Notes");
  const std::uint32_t window = scenes::addWindow(scene, {.pid = pid, .spaces = {12}});
  scene.world.resetCallCounts();

  std::atomic<int> pictures{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      if (Private::capture(window, i % 2 == 0)) ++pictures;
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(pictures.load(), 8);
  EXPECT_EQ(scene.world.callCount("dlsym:SLSHWCaptureWindowList"), 1);
  EXPECT_EQ(scene.world.callCount("dlsym:SLSMainConnectionID"), 1);
  EXPECT_EQ(scene.windowServer.privateCalls("SLSMainConnectionID").size(), 1u);
}

}  // namespace
}  // namespace trelliq
