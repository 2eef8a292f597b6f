// Captures of the program's own windows asked for on other threads: the main thread draws
// them, and when it does not get to it, the last picture it drew stands in.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/AppKitWindows.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

class Plain : public QWidget {
 public:
  Plain() { resize(100, 100); }
  QColor color = QColor(255, 0, 0);

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), color); }
};

TEST(OwnWindowPicturesThreads, AnotherThreadGetsTheMainThreadsDrawingOrElseTheLastOne) {
  trelliq::test::ensureWidgets();
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setScreenCaptureAllowed(true);
  Plain content;
  NSWindow window(CGRect(100, 300, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.setContentView(&content);
  window.orderFront(nullptr);
  const auto number = static_cast<std::uint32_t>(window.windowNumber());
  sim::WindowServer& server = scene.windowServer;

  // The main queue turns while the other thread waits: it gets a fresh drawing.
  CGImageRef fromThread;
  std::atomic<bool> done = false;
  std::thread capturer([&] {
    fromThread = server.captureWindowPicture(number, 100, 100);
    done = true;
  });
  while (!done) scene.clock.advance(0.001);
  capturer.join();
  ASSERT_TRUE(fromThread);
  EXPECT_EQ(fromThread->pixel(50, 50) & 0xFFFFFF, 0xFF0000u);

  // The main thread is busy (here: joining): after its wait the thread takes the last
  // drawing, scaled to the size it asked for, rather than nothing.
  content.color = QColor(0, 0, 255);
  std::thread waiting([&] { fromThread = server.captureWindowPicture(number, 50, 50); });
  waiting.join();
  ASSERT_TRUE(fromThread);
  EXPECT_EQ(fromThread->width(), 50);
  EXPECT_EQ(fromThread->pixel(25, 25) & 0xFFFFFF, 0xFF0000u);

  // The drawing it asked for runs once the main queue turns, and the main thread draws afresh.
  scene.clock.advance(0.01);
  EXPECT_EQ(server.captureWindowPicture(number, 100, 100)->pixel(50, 50) & 0xFFFFFF, 0x0000FFu);
}

}  // namespace
