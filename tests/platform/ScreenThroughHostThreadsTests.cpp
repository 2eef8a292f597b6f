// The screen attached to a world host as the screen program is: told of each change (once
// until it looks again, and as long as it watches, whoever else comes and goes) instead of
// asking all the time, sent the frames it last asked for with the notice, one push until it
// showed them; its frames come in memory it maps, only what changed copied, and a change as
// large as a display composed at any size reaches it whole, however large for one message.

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "platform/AppKitWindows.h"
#include "platform/OwnWindowSurface.h"
#include "platform/host/Channel.h"
#include "platform/host/Host.h"
#include "platform/host/Remote.h"
#include "platform/host/Wire.h"
#include "platform/screen/ScreenSource.h"
#include "platform/screen/ScreenWindow.h"
#include "support/Eventually.h"
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

TEST_F(ScreenThroughHostThreads, TheScreenIsToldWhileItsOtherPushesAreStillBeingHandled) {
  ASSERT_TRUE(source);
  ASSERT_TRUE(source->watch([this] {
    std::lock_guard lock(mutex);
    ++told;
    changed.notify_all();
  }));
  // A push handler that takes its time (here: until the screen was told) holds up the
  // pushes behind it, never the notice to look again.
  struct Held {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, release = false;
  };
  auto held = std::make_shared<Held>();  // a handler's copy may outlive the test
  screenMac->windowServer->setWorkspaceListener([held](const platform::WorkspaceEvent&) {
    std::unique_lock lock(held->mutex);
    held->holding = true;
    held->changed.notify_all();
    held->changed.wait(lock, [&] { return held->release; });
  });
  scene.windowServer.announceWake();
  {
    std::unique_lock lock(held->mutex);
    ASSERT_TRUE(held->changed.wait_for(lock, std::chrono::seconds(20), [&] { return held->holding; }));
  }
  ASSERT_TRUE(source->generation());  // it looks
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  const bool toldMeanwhile = toldTimes(1);
  {
    std::lock_guard lock(held->mutex);
    held->release = true;
    held->changed.notify_all();
  }
  screenMac->windowServer->setWorkspaceListener(nullptr);
  EXPECT_TRUE(toldMeanwhile) << "the notice waited behind a push being handled";
}

TEST_F(ScreenThroughHostThreads, AScreenIsStillToldAfterOtherClientsLeave) {
  ASSERT_TRUE(source);
  ASSERT_TRUE(source->watch([this] {
    std::lock_guard lock(mutex);
    ++told;
    changed.notify_all();
  }));
  // Another screen watches too, a third client never does; both go.
  {
    const std::string socket = host::endpointFor(scene.home).socket;
    auto watching = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
    auto idle = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
    auto* other = std::get_if<std::unique_ptr<host::RemoteMac>>(&watching);
    ASSERT_TRUE(other && std::holds_alternative<std::unique_ptr<host::RemoteMac>>(idle));
    screen::RemoteScreenSource otherSource(**other);
    ASSERT_TRUE(otherSource.watch([] {}));
    ASSERT_TRUE(otherSource.generation());
    otherSource.watch(nullptr);
  }
  ASSERT_TRUE(eventually([&] { return program.host()->clientCount() == 2; }, std::chrono::seconds(20)));
  ASSERT_TRUE(source->generation());  // it looks
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  EXPECT_TRUE(toldTimes(1)) << "the screen still watching was not told";
}

TEST_F(ScreenThroughHostThreads, ChangesReachTheScreensPictureWithoutItAsking) {
  ASSERT_TRUE(source);
  screen::ScreenWindow window(source.get(), std::nullopt);
  window.show();     // sized as on a desktop
  window.refresh();  // the displays and their first frames: what the host sends from now on
  const std::uint64_t calls = screenMac->connection->calls();
  // The frames are sent with the notice, on the screen's reader; its own thread draws them.
  auto shows = [&](const std::function<bool(const QImage&)>& seen) {
    return eventually(
        [&] {
          QCoreApplication::sendPostedEvents(&window);
          return seen(window.grab().toImage());
        },
        std::chrono::seconds(20));
  };
  const QImage before = window.grab().toImage();
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  EXPECT_TRUE(shows([&](const QImage& now) { return now != before; })) << "a moved window was not drawn";

  // The program's own window draws anew and publishes each frame: each reaches the picture.
  auto inColor = [](const QColor& color) {
    return [rgb = color.rgb()](const QImage& picture) {
      int n = 0;
      for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) n += picture.pixel(x, y) == rgb;
      return n >= 100;
    };
  };
  PlainView content;
  content.color = QColor(250, 10, 240);
  NSWindow own(CGRect(100, 300, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  own.setContentView(&content);
  own.orderFront(nullptr);
  platform::OwnWindowSurface::publishAll();
  ASSERT_TRUE(shows(inColor(content.color))) << "the window's first frame was not drawn";
  content.color = QColor(10, 240, 250);
  content.update();
  platform::OwnWindowSurface::publishAll();
  EXPECT_TRUE(shows(inColor(content.color))) << "the published frame was not drawn";
  EXPECT_EQ(screenMac->connection->calls(), calls) << "the screen asked for what it was shown";
}

TEST_F(ScreenThroughHostThreads, AScreenThatStopsReadingHoldsNothingUpAndIsSentTheNewestOnceAfter) {
  ASSERT_TRUE(source);
  // The screen's reader stops at the first frames sent, as a screen that stopped would.
  struct Stop {
    std::mutex mutex;
    std::condition_variable changed;
    int sent = 0;
    bool release = false;
  };
  auto stop = std::make_shared<Stop>();  // a handler's copy may outlive the test
  ASSERT_TRUE(source->watch([stop] {
    std::unique_lock lock(stop->mutex);
    ++stop->sent;
    stop->changed.notify_all();
    stop->changed.wait(lock, [&] { return stop->release; });
  }));
  auto sentTimes = [&](int count) {
    std::unique_lock lock(stop->mutex);
    return stop->changed.wait_for(lock, std::chrono::seconds(20), [&] { return stop->sent >= count; });
  };
  const int w = 378, h = 245;
  ASSERT_TRUE(source->frames({{1, w, h, 0}}).count(1));  // what the host sends from now on
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {300, 160}));
  ASSERT_TRUE(sentTimes(1));
  // Meanwhile the world changes on and the program is answered.
  for (int x = 301; x < 500; ++x) ASSERT_TRUE(scene.windowServer.moveWindow(2101, {double(x), 160}));
  EXPECT_TRUE(program.remote()->connection->call("ownProcessIdentifier"));
  {
    std::lock_guard lock(stop->mutex);
    stop->release = true;
    stop->changed.notify_all();
  }
  ASSERT_TRUE(source->sentFrames());
  source->ready();  // it showed them: the changes since come as one push, the newest
  ASSERT_TRUE(sentTimes(2)) << "what changed meanwhile was never sent";
  auto newest = source->sentFrames();
  ASSERT_TRUE(newest && newest->count(1) && newest->at(1).shared);
  const QImage held = newest->at(1).shared->copy(), composed = scene.windowServer.composeDisplay(1, w, h);
  int differing = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) differing += (held.pixel(x, y) | 0xFF000000) != (composed.pixel(x, y) | 0xFF000000);
  EXPECT_EQ(differing, 0) << "the frame sent last is not the newest";
  // Pushes made before an answer are read before it.
  ASSERT_TRUE(screenMac->connection->call("screenGeneration"));
  screenMac->connection->waitForPushes();
  std::lock_guard lock(stop->mutex);
  EXPECT_EQ(stop->sent, 2) << "frames were sent before the screen was ready for them";
}

TEST_F(ScreenThroughHostThreads, FramesComeInMemoryTheScreenMapsWithOnlyWhatChangedCopied) {
  ASSERT_TRUE(source);
  const int w = 756, h = 491;
  // What the surface holds, beside the frame the world composes: the pixels that differ.
  auto differing = [&](const screen::ScreenSource::Frame& f) {
    const QImage held = f.shared->copy(), composed = scene.windowServer.composeDisplay(1, w, h);
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) n += (held.pixel(x, y) | 0xFF000000) != (composed.pixel(x, y) | 0xFF000000);
    return n;
  };
  auto first = source->frames({{1, w, h, 0}});
  ASSERT_TRUE(first.count(1) && first[1].shared) << "the frame did not come in memory the screen maps";
  EXPECT_FALSE(first[1].sharedChange) << "a new surface is drawn whole";
  EXPECT_EQ(differing(first[1]), 0);
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  auto next = source->frames({{1, w, h, first[1].sequence}});
  ASSERT_TRUE(next.count(1) && next[1].sharedChange);
  EXPECT_EQ(next[1].shared, first[1].shared) << "a new surface for the same size";
  EXPECT_FALSE(QRegion(0, 0, w, h).subtracted(*next[1].sharedChange).isEmpty()) << "the whole frame is drawn again";
  EXPECT_EQ(differing(next[1]), 0);
}

TEST_F(ScreenThroughHostThreads, ADisplayNothingOnWhichChangedIsAnsweredWithTheFrameTheScreenHolds) {
  ASSERT_TRUE(source);
  auto first = source->frames({{1, 378, 245, 0}, {3, 300, 200, 0}});
  ASSERT_TRUE(first.count(1) && first.count(3) && first[3].shared);
  auto again = source->frames({{1, 378, 245, first[1].sequence}, {3, 300, 200, first[3].sequence}});
  ASSERT_TRUE(again.count(3)) << "the display was left out of the answer";
  EXPECT_EQ(again[3].sequence, first[3].sequence);
  EXPECT_TRUE(again[3].sharedChange && again[3].sharedChange->isEmpty()) << "its frame was drawn again";
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

TEST_F(ScreenThroughHostThreads, OneAskComposesEachDisplayOnceAndNoMoreThanOnePictureHolds) {
  ASSERT_TRUE(screenMac);
  auto& connection = *screenMac->connection;
  const nlohmann::json twice{{"displays", {{{"id", 1}, {"w", 64}, {"h", 40}}, {{"id", 1}, {"w", 64}, {"h", 40}}}}};
  const auto once = connection.call("screenFrames", twice);
  ASSERT_TRUE(once && once->contains("frames"));
  EXPECT_EQ(once->at("frames").size(), 1u) << "a display asked twice was composed twice";

  // Each frame is within a picture's bounds, but together they would be held at once.
  const nlohmann::json huge{{"displays", {{{"id", 1}, {"w", 16384}, {"h", 16384}}, {{"id", 2}, {"w", 16384}, {"h", 16384}}}}};
  EXPECT_FALSE(connection.call("screenFrames", huge)) << "an answer larger than one picture was composed";
  EXPECT_TRUE(connection.alive());
}

TEST_F(ScreenThroughHostThreads, TheHostLetsGoOfTheSurfaceOfADisplayTheScreenNoLongerShows) {
  ASSERT_TRUE(source);
  const auto screens = source->screens();
  ASSERT_GE(screens.size(), 2u);
  const std::uint32_t one = screens[0].displayID, other = screens[1].displayID;
  auto both = source->frames({{one, 151, 98, 0}, {other, 192, 108, 0}});
  ASSERT_TRUE(both.count(one) && both[one].shared && both.count(other) && both[other].shared);
  ASSERT_EQ(program.host()->counts().screenSurfaces, 2u);
  source->frames({{one, 151, 98, both[one].sequence}});
  EXPECT_EQ(program.host()->counts().screenSurfaces, 1u) << "the surface of a display no longer asked for is kept";
}

// A host that takes the screen but will not tell it of changes: the screen must then look
// for itself, and ask again the next time it watches.
TEST(ScreenWatchRefusedThreads, AScreenWhoseWatchIsRefusedKeepsNoListenerAndAsksAgainNextTime) {
  Scene scene;
  const std::string socket = scene.home + "/refusing.sock";
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const host::SocketAddress address(socket);
  ASSERT_EQ(::bind(listener, address.get(), address.size()), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::atomic<int> watchesAsked{0};
  std::thread refusing([&] {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    host::wire::Decoder decoder;
    std::uint8_t buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
      decoder.feed(buffer, static_cast<std::size_t>(n));
      while (auto call = decoder.next()) {
        nlohmann::json answer = nullptr;  // knows nothing else
        if (call->method == "screenAttach") answer = true;
        if (call->method == "screenWatch") answer = (++watchesAsked, false);
        const auto frame = host::wire::encode(host::wire::Message{host::wire::Kind::reply, call->id, "", answer});
        [[maybe_unused]] auto sent = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
      }
    }
    ::close(fd);
  });
  [&] {
    auto attached = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
    auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached);
    ASSERT_TRUE(mac) << std::get<std::string>(attached);
    screen::RemoteScreenSource source(**mac);
    EXPECT_FALSE(source.watch([] {})) << "a refused watch was taken for one that tells";
    EXPECT_FALSE(source.watch([] {}));
    EXPECT_EQ(watchesAsked, 2) << "the next watch did not ask again";
  }();
  ::shutdown(listener, SHUT_RDWR);
  refusing.join();
  ::close(listener);
}
