// What the screen's keyboard types: any character the Linux keyboard makes reaches the
// program as the key's text, whatever its place, while shortcuts with the mapped ⌘ are
// typed by the Mac's own layout.

#include <gtest/gtest.h>

#include <QKeyEvent>

#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"

namespace {

class ScreenTyping : public ::testing::Test {
 protected:
  void SetUp() override {
    trelliq::test::ensureWidgets();
    scene.world.setAccessibilityTrusted(true);
    hand = std::make_unique<WorldScreen>(scene.world, scene.windowServer, 1200, 600);
  }

  // Presses and lets go of a key of the Linux keyboard; answers the text the world
  // typed for the key going down.
  std::u16string type(int key, const QString& text, quint32 scanCode, Qt::KeyboardModifiers held = {}) {
    auto* events = sim::EventServer::active();
    events->clearRecords();
    for (QEvent::Type t : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent e(t, key, held, scanCode, 0, 0, text);
      QApplication::sendEvent(&hand->window, &e);
    }
    scene.clock.advance(0.1);
    for (const CGEvent& e : events->delivered())
      if (e.type == kCGEventKeyDown) return e.unicode;
    return u"<none>";
  }

  Scene scene{Scene::Start::defaultScenario};
  std::unique_ptr<WorldScreen> hand;
};

TEST_F(ScreenTyping, AnyCharacterOfTheLinuxKeyboardArrivesAsTyped) {
  EXPECT_EQ(type(Qt::Key_A, "a", 38), u"a");
  EXPECT_EQ(type(Qt::Key_A, "A", 38, Qt::ShiftModifier), u"A");
  EXPECT_EQ(type(Qt::Key_Udiaeresis, "\u00FC", 34), u"\u00FC") << "a key of another layout, at its place";
  EXPECT_EQ(type(Qt::Key_unknown, "\u2713", 0), u"\u2713") << "a character from no known key";
  EXPECT_EQ(type(Qt::Key_unknown, "", 0), u"<none>") << "a key that neither means nor types anything";
  // With ⌘ held the Mac's layout types the key, so shortcuts read the key.
  EXPECT_EQ(type(Qt::Key_A, "\x01", 38, Qt::ControlModifier), u"a");
}

}  // namespace
