// The screen's F5 stands for the trackpad's double tap: pressed in the screen's window, the
// simulated trackpad reports two still touches, and the program's gesture reading sees the
// double tap it chose (three fingers, or four with Shift) and nothing for the other.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <memory>

#include "platform/sim/EventServer.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"
#include "switcher/Gestures.h"

namespace trelliq {
namespace {

class ScreenDoubleTap : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
    hand = std::make_unique<WorldScreen>(scene.world, scene.windowServer, 1600, 900);
    sim::EventServer::active()->multitouch().trackpad();  // the screen's, plugged in as it attaches
    gestures.start();
    scene.clock.runUntilIdle();
  }
  void TearDown() override { gestures.stop(); }

  void choose(const std::string& gesture) {
    Settings::defaults().set("gesture", platform::PlistValue(gesture));
    scene.clock.runUntilIdle();
  }
  void pressF5(Qt::KeyboardModifiers held) {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent e(type, Qt::Key_F5, held);
      QApplication::sendEvent(&hand->window, &e);
    }
    scene.clock.runUntilIdle();
  }

  Scene scene;
  std::unique_ptr<WorldScreen> hand;
  int toggles = 0;
  Gestures gestures{[this] { ++toggles; }};
};

TEST_F(ScreenDoubleTap, F5DoubleTapsWithThreeFingersAndShiftF5WithFour) {
  choose("threeFingerDoubleTap");
  pressF5(Qt::NoModifier);
  EXPECT_EQ(toggles, 1);
  pressF5(Qt::ShiftModifier);
  EXPECT_EQ(toggles, 1) << "four fingers are not the chosen three";

  choose("fourFingerDoubleTap");
  pressF5(Qt::ShiftModifier);
  EXPECT_EQ(toggles, 2);
  pressF5(Qt::NoModifier);
  EXPECT_EQ(toggles, 2);
}

}  // namespace
}  // namespace trelliq
