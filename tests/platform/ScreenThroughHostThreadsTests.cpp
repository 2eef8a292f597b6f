// The screen attached to a world host as the screen program is: told of each change (once
// until it looks again) instead of asking all the time, and a change as large as a
// display composed at any size reaches it whole, however large for one message.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <variant>

#include "platform/AppKitWindows.h"
#include "platform/OwnWindowSurface.h"
#include "platform/host/Remote.h"
#include "platform/screen/ScreenSource.h"
#include "support/PlainView.h"
#include "support/Served.h"
#include "support/WidgetsApp.h"

namespace {

class ScreenThroughHostThreads : public ::testing::Test {
 protected:
  ScreenThroughHostThreads() {
    trelliq::test::ensureWidgets();
    auto attached = host::RemoteMac::attach(host::endpointFor(scene.home).socket, nullptr, host::AttachAs::screen);
    if (auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached)) screenMac = std::move(*mac);
    if (screenMac) source = std::make_unique<screen::RemoteScreenSource>(*screenMac);
  }
  ~ScreenThroughHostThreads() override {
    if (source) source->watch(nullptr);
  }

  /// Waits until the screen was told `count` times in all; false past the deadline.
  bool toldTimes(int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return told >= count; });
  }
  int toldSoFar() {
    screenMac->connection->waitForPushes();
    std::lock_guard lock(mutex);
    return told;
  }

  Scene scene{Scene::Start::defaultScenario};
  Attachment program{scene, Served::remote};
  std::unique_ptr<host::RemoteMac> screenMac;
  std::unique_ptr<screen::RemoteScreenSource> source;
  std::mutex mutex;
  std::condition_variable changed;
  int told = 0;
};

}  // namespace

TEST_F(ScreenThroughHostThreads, TheScreenIsToldOfEachChangeOnceUntilItLooks) {
  ASSERT_TRUE(source);
  ASSERT_TRUE(source->watch([this] {
    std::lock_guard lock(mutex);
    ++told;
    changed.notify_all();
  }));
  ASSERT_TRUE(source->generation());  // it looks
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  ASSERT_TRUE(toldTimes(1)) << "a moved window was not told";
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {360, 160}));
  ASSERT_TRUE(source->generation());  // answered behind any push made before it
  EXPECT_EQ(toldSoFar(), 1) << "told again before it looked";

  // The program's own window draws anew: its new frame is published, and the screen hears.
  PlainView content;
  NSWindow window(CGRect(100, 300, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.setContentView(&content);
  window.orderFront(nullptr);
  platform::OwnWindowSurface::publishAll();
  // What the program told of its first frame reached the host (its calls are answered in
  // order); the screen looks only after that, so it is told once more only for the next.
  program.remote()->connection->call("ownProcessIdentifier");
  // The tell must be the publish's: a round in which the world changed too (the window's
  // order-in settling late) could have been told for that, so it is played again.
  bool onlyThePublish = false;
  for (int round = 0; round < 5 && !onlyThePublish; ++round) {
    const auto looked = source->generation();
    ASSERT_TRUE(looked);
    const int before = toldSoFar();
    content.color = QColor(0, 0, 255 - round);
    content.update();
    platform::OwnWindowSurface::publishAll();
    ASSERT_TRUE(toldTimes(before + 1)) << "a published frame was not told";
    const auto now = source->generation();
    ASSERT_TRUE(now);
    onlyThePublish = *now == *looked + 1;  // one new frame, and nothing else
  }
  EXPECT_TRUE(onlyThePublish) << "the world kept changing beside every publish";
}

TEST_F(ScreenThroughHostThreads, AChangeLargerThanAMessageReachesTheScreen) {
  ASSERT_TRUE(source);
  // The built-in display at 4 × 6 times its points: 142 MB of pixels, past one message.
  const int w = 6048, h = 5892;
  auto first = source->frames({{1, w, h, 0}});
  ASSERT_TRUE(first.count(1) && !first[1].whole.isNull());
  // A window as large as the display comes to the front: the change is the display whole.
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {0, 0}));
  ASSERT_TRUE(scene.windowServer.resizeWindow(2101, {1512, 982}));
  ASSERT_TRUE(scene.windowServer.raiseWindow(2101));
  auto change = source->frames({{1, w, h, first[1].sequence}});
  ASSERT_TRUE(change.count(1)) << "the change did not reach the screen";
  EXPECT_TRUE(screenMac->connection->alive());
  std::int64_t pixels = change[1].whole.isNull() ? 0 : std::int64_t{w} * h;
  for (const auto& [at, piece] : change[1].pieces) pixels += std::int64_t{piece.width()} * piece.height();
  EXPECT_GE(pixels, std::int64_t{w} * h * 9 / 10) << "the change is most of the display";
}
