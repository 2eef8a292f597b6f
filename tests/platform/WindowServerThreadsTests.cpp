// The window server under callers on several real threads at once: the event-tap
// thread, capture queues, the screen's connections and the main queue all reach it in
// the running program.

#include <gtest/gtest.h>

#include <QImage>
#include <QRegion>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/SharedSurface.h"
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

// The screen's connection and a capture compose frames of one display at once while a
// program publishes its glass panel and a window moves: afterwards the frame each kept,
// brought up to date, still matches one composed whole.
TEST(WindowServerThreadsTest, FramesComposedOnSeveralThreadsStayTrue) {
  Scene scene(Scene::Start::defaultScenario);
  sim::WindowServer& server = scene.windowServer;
  platform::OwnWindowState state;
  state.frame = CGRect(200, 300, 800, 300);
  state.level = 101;
  state.opaque = false;
  const std::uint32_t panel = server.createOwnWindow(state);
  server.orderOwnWindow(panel, platform::OwnWindowOrder::frontRegardless);
  auto surface = platform::SharedSurface::create(800, 300);
  QImage plate(800, 300, QImage::Format_ARGB32_Premultiplied);
  plate.fill(QColor(40, 40, 44, 140));
  surface->publish(plate, QRegion());
  server.setOwnWindowSurface(panel, surface);

  constexpr int kFrames = 40, kWidth = 378, kHeight = 245;
  std::atomic<int> composing{2};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      std::uint64_t since = 0;
      for (int i = 0; i < kFrames; ++i) {
        // One asks what changed at one size, the other whole frames at two sizes.
        const int width = t == 0 ? kWidth : kWidth + 1 + i % 2;
        EXPECT_TRUE(server.composeDisplayFrame(1, width, kHeight, t == 0 ? since : 0,
                                               [&](const QImage& frame, const auto& change) {
                                                 EXPECT_EQ(frame.size(), QSize(width, kHeight));
                                                 since = change.sequence;
                                               }));
      }
      --composing;
    });
  }
  for (int i = 0; composing.load() > 0; ++i) {
    QImage lit = plate;
    lit.fill(QColor(90, 140, 230, 100 + i % 100));
    surface->publish(lit, QRegion(QRect(0, 0, 800, 300)));
    server.moveWindow(2101, {static_cast<double>(100 + i % 200), 140});
  }
  for (auto& t : threads) t.join();

  QImage updated, whole;
  server.composeDisplayFrame(1, kWidth, kHeight, 0, [&](const QImage& f, const auto&) { updated = f.copy(); });
  server.dropDisplayFrames();
  server.composeDisplayFrame(1, kWidth, kHeight, 0, [&](const QImage& f, const auto&) { whole = f.copy(); });
  ASSERT_EQ(updated.size(), whole.size());
  int worst = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const QRgb a = updated.pixel(x, y), b = whole.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                        std::abs(qBlue(a) - qBlue(b))});
    }
  EXPECT_LE(worst, 2) << "the frame kept through the changes differs from a whole one";
}
