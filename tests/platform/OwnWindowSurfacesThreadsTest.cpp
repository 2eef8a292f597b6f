// Published surfaces read from other threads: a reader always gets a whole frame while the
// owner keeps publishing, and a capture made while the main thread is busy takes the
// newest published frame without waiting for it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "platform/AppKitWindows.h"
#include "platform/SharedSurface.h"
#include "support/PlainView.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

TEST(OwnWindowSurfacesThreads, AReaderNeverSeesAFrameHalfWrittenWhileTheOwnerPublishes) {
  auto surface = platform::SharedSurface::create(64, 64);
  ASSERT_TRUE(surface);
  constexpr int kFrames = 400;
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0, reads = 0;
  std::thread reader([&] {
    while (!done) {
      surface->read([&](const QImage& frame, std::uint64_t sequence) {
        // Frame n is filled with grey n % 256 throughout, as its owner published it.
        const QRgb expected = qRgb(static_cast<int>(sequence % 256), 0, 0);
        if (frame.pixel(0, 0) != expected || frame.pixel(63, 63) != expected || frame.pixel(31, 17) != expected) ++torn;
        ++reads;
      });
    }
  });
  QImage picture(64, 64, QImage::Format_ARGB32_Premultiplied);
  for (int n = 1; n <= kFrames; ++n) {
    picture.fill(qRgb(n % 256, 0, 0));
    // The whole frame changes each time; with every buffer held the owner tries again.
    while (!surface->publish(picture, QRegion(0, 0, 64, 64))) std::this_thread::yield();
    // Let the reader catch a good share of the frames.
    if (n % 40 == 0) {
      const int seen = reads.load();
      while (reads.load() == seen) std::this_thread::yield();
    }
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(surface->sequence(), static_cast<std::uint64_t>(kFrames));
}

TEST(OwnWindowSurfacesThreads, AReaderNeverSeesAPartHalfDrawnOverTheNewestFrame) {
  auto surface = platform::SharedSurface::create(256, 256);
  ASSERT_TRUE(surface);
  ASSERT_TRUE(surface->publishDrawn([](QImage& buffer) { buffer.fill(qRgb(1, 0, 0)); }));
  constexpr int kFrames = 400;
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0, reads = 0;
  std::thread reader([&] {
    while (!done) {
      surface->read([&](const QImage& frame, std::uint64_t sequence) {
        // Frame n has its part filled with grey n % 256 from the top row to the bottom.
        const QRgb expected = qRgb(static_cast<int>(sequence % 256), 0, 0);
        if (frame.pixel(10, 0) != expected || frame.pixel(200, 255) != expected) ++torn;
        ++reads;
      });
    }
  });
  const QRect part(0, 0, 256, 256);
  for (int n = 2; n <= kFrames; ++n) {
    QImage parts(part.size(), QImage::Format_ARGB32_Premultiplied);
    parts.fill(qRgb(n % 256, 0, 0));
    // With the newest frame held the owner tries again.
    while (!surface->publishOver(parts, part.topLeft(), QRegion(part))) std::this_thread::yield();
    if (n % 40 == 0) {
      const int seen = reads.load();
      while (reads.load() == seen) std::this_thread::yield();
    }
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(surface->sequence(), static_cast<std::uint64_t>(kFrames));
}

TEST(OwnWindowSurfacesThreads, ACaptureOnAnotherThreadTakesTheNewestFrameWhileTheMainThreadIsBusy) {
  trelliq::test::ensureWidgets();
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setScreenCaptureAllowed(true);
  PlainView content;
  NSWindow window(CGRect(100, 300, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.setContentView(&content);
  window.orderFront(nullptr);
  const auto number = static_cast<std::uint32_t>(window.windowNumber());

  // Changed, but not yet drawn: the main thread is busy until the capture is back.
  content.color = QColor(0, 0, 255);
  content.update();
  auto captured =
      std::async(std::launch::async, [&] { return scene.windowServer.captureWindowPicture(number, 50, 50); });
  ASSERT_EQ(captured.wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << "the capture waited for the main thread";
  const CGImageRef picture = captured.get();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width(), 50);
  EXPECT_EQ(picture->pixel(25, 25) & 0xFFFFFF, 0xFF0000u);

  // The main thread's own capture draws what is pending first.
  EXPECT_EQ(scene.windowServer.captureWindowPicture(number, 100, 100)->pixel(50, 50) & 0xFFFFFF, 0x0000FFu);
}

}  // namespace
