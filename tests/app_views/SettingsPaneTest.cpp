// The system's privacy pane answers Preferences' "Change…": a person switches the
// program's access off and on again in it, and Preferences follows within a second.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QScrollArea>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/SettingsPane.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"

namespace trelliq {
namespace {

class SettingsPane : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings::registerDefaults();
    NSApp().finishLaunching();
  }
  void settle(double seconds = 0.2) {
    scene.clock.advance(seconds);
    hand.window.refresh();
  }
  // The Accessibility row's button (the first of the Permissions section), scrolled into view.
  QAbstractButton* accessibilityButton() {
    NSWindow& w = *preferences.window();
    for (auto* b : w.contentView()->findChildren<QAbstractButton*>()) {
      const QString text = b->text();
      if (text != QString::fromUtf8("Change\u2026") && text != QString::fromUtf8("Allow\u2026")) continue;
      auto* area = w.contentView()->findChild<QScrollArea*>();
      if (area) area->ensureWidgetVisible(b);
      return b;
    }
    return nullptr;
  }
  CGPoint deskPoint(const QWidget& widget) {
    NSWindow& w = *preferences.window();
    const CGRect content = w.contentRectForFrameRect(w.frame());
    const double top = NSScreen::screens().front().frame().maxY();
    const QPoint local = widget.mapTo(w.contentView(), widget.rect().center());
    return {content.minX() + local.x(), top - content.maxY() + local.y()};
  }
  // The pane's window on screen, if one shows.
  std::optional<sim::Window> pane() {
    for (const sim::Window& w : scene.windowServer.windows())
      if (!w.settingsPane.empty() && scene.windowServer.isOnScreen(w.number)) return w;
    return std::nullopt;
  }
  void clickSwitch() {
    const CGRect s = sim::paneSwitch(pane()->bounds);
    hand.click({s.midX(), s.midY()});
    settle(1.2);  // Preferences looks again once a second
  }

  const bool widgets_ = (test::ensureWidgets(), true);  // before the screen's window
  Scene scene{Scene::Start::defaultScenario};
  WorldScreen hand{scene.world, scene.windowServer, 2400, 1000};
  PreferencesWindow preferences;
};

TEST_F(SettingsPane, AccessGivenOrTakenInThePaneReachesPreferences) {
  scene.world.setAccessibilityTrusted(true);
  preferences.show();
  settle(1.2);
  QAbstractButton* button = accessibilityButton();
  ASSERT_TRUE(button);
  ASSERT_EQ(button->text(), QString::fromUtf8("Change\u2026"));
  hand.click(deskPoint(*button));
  settle();
  ASSERT_TRUE(pane()) << "\"Change…\" opened no pane";
  EXPECT_EQ(pane()->settingsPane, "Privacy_Accessibility");
  EXPECT_EQ(scene.windowServer.app(*scene.windowServer.frontmost())->name, "System Settings");

  clickSwitch();
  EXPECT_FALSE(scene.world.accessibilityTrusted(false));
  EXPECT_EQ(accessibilityButton()->text(), QString::fromUtf8("Allow\u2026")) << "Preferences missed the withdrawal";
  clickSwitch();
  EXPECT_TRUE(scene.world.accessibilityTrusted(false));
  EXPECT_EQ(accessibilityButton()->text(), QString::fromUtf8("Change\u2026")) << "Preferences missed the grant";
}

}  // namespace
}  // namespace trelliq
