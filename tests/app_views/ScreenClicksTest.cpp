// Every button of Preferences, the guide and Permissions clicked through the simulated
// Mac's screen as a person would: the screen's window takes the press, the world routes
// it to the window under the pointer, and the button's own signal says it was the one hit.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <map>

#include "app/views/PermissionsWindow.h"
#include "guide/GuideWindow.h"
#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"
#include "preferences/FormRow.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"

namespace trelliq {
namespace {

class ScreenClicks : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    scene.world.setAccessibilityTrusted(true);
    scene.windowServer.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
    Settings::registerDefaults();
    NSApp().finishLaunching();
    hand = std::make_unique<WorldScreen>(scene.world, scene.windowServer, 2400, 1000);
  }

  // The desk point (global, top-left) at the centre of `widget` in `window`'s content.
  static CGPoint deskPoint(NSWindow& window, const QWidget& widget) {
    const CGRect content = window.contentRectForFrameRect(window.frame());
    const double top = NSScreen::screens().front().frame().maxY();
    const QPoint local = widget.mapTo(window.contentView(), widget.rect().center());
    return {content.minX() + local.x(), top - content.maxY() + local.y()};
  }

  // The desk point of a titled window's close button.
  static CGPoint closeButton(NSWindow& window) {
    const CGRect frame = window.frame();
    const double top = NSScreen::screens().front().frame().maxY();
    return {frame.minX() + 20, top - frame.maxY() + 14};
  }

  // Lets the world deliver what the screen posted and the program take it, and the
  // screen show the outcome.
  void settle() {
    scene.clock.advance(0.2);
    hand->window.refresh();
  }

  // Scrolls `widget` into its scroll area's view with the wheel, through the screen.
  void wheelIntoView(NSWindow& window, QWidget& widget) {
    auto* area = window.contentView()->findChild<QScrollArea*>();
    if (!area) return;
    const CGPoint middle = deskPoint(window, *area->viewport());
    for (int turn = 0; turn < 60; ++turn) {
      const QRect seen = area->viewport()->rect();
      const QPoint centre = widget.mapTo(area->viewport(), widget.rect().center());
      if (!area->isAncestorOf(&widget) || seen.contains(centre)) return;
      hand->wheel(middle, centre.y() > seen.bottom());
      settle();
    }
  }

  // Clicks every enabled, shown button of `window` once, bringing the window back with
  // `show` before each (a click may take it away, or give it a fresh view), and expects
  // each button, and only it, to be hit.
  void clickEveryButton(NSWindow& window, const std::function<void()>& show) {
    int clicked = 0;
    for (std::size_t i = 0;; ++i) {
      show();
      settle();
      const auto buttons = window.contentView()->findChildren<QAbstractButton*>();
      if (i >= static_cast<std::size_t>(buttons.size())) break;
      QAbstractButton* b = buttons[static_cast<qsizetype>(i)];
      if (!b->isVisibleTo(window.contentView()) || !b->isEnabled()) continue;
      wheelIntoView(window, *b);
      std::map<QAbstractButton*, int> hits;
      std::vector<QMetaObject::Connection> watches;
      for (QAbstractButton* any : buttons)
        watches.push_back(QObject::connect(any, &QAbstractButton::clicked, [&hits, any] { ++hits[any]; }));
      const std::string name = b->text().toStdString() + " (" + b->metaObject()->className() + ")";
      hand->click(deskPoint(window, *b));
      settle();
      for (auto& w : watches) QObject::disconnect(w);
      EXPECT_EQ(hits, (std::map<QAbstractButton*, int>{{b, 1}})) << name;
      ++clicked;
    }
    EXPECT_GE(clicked, 2);
  }

  Scene scene{Scene::Start::defaultScenario};
  std::unique_ptr<WorldScreen> hand;
};

TEST_F(ScreenClicks, EveryButtonOfPreferencesTheGuideAndPermissionsLandsWhereItIsDrawn) {
  PreferencesWindow preferences;
  preferences.show();
  clickEveryButton(*preferences.window(), [&] { preferences.show(); });
  GuideWindow::shared().show();
  clickEveryButton(*GuideWindow::shared().window(), [] { GuideWindow::shared().show(); });
  PermissionsWindow permissions;
  permissions.show();
  clickEveryButton(*permissions.window(), [&] { permissions.show(); });
}

TEST_F(ScreenClicks, ASettingChangesAndTheCloseButtonClosesTheWindow) {
  PreferencesWindow preferences;
  preferences.show();
  settle();
  NSWindow& window = *preferences.window();
  QAbstractButton* shortcuts = nullptr;
  for (QAbstractButton* b : window.contentView()->findChildren<QAbstractButton*>())
    if (b->text() == "Show Shortcuts") shortcuts = b;
  ASSERT_TRUE(shortcuts);
  QCheckBox* instant = nullptr;
  for (QWidget* widget : window.contentView()->findChildren<QWidget*>())
    if (auto* row = dynamic_cast<FormRow*>(widget); row && row->title() == "Switch Spaces instantly")
      instant = row->findChild<QCheckBox*>();
  ASSERT_TRUE(instant);
  const bool before = Settings::defaults().boolForKey("instantSpaces");
  wheelIntoView(window, *instant);
  hand->click(deskPoint(window, *instant));
  settle();
  EXPECT_NE(Settings::defaults().boolForKey("instantSpaces"), before) << "the setting changed with the pointer";

  wheelIntoView(window, *shortcuts);
  hand->click(deskPoint(window, *shortcuts));
  settle();
  NSWindow* guide = GuideWindow::shared().window();
  ASSERT_TRUE(guide);
  EXPECT_TRUE(guide->isVisible()) << "Show Shortcuts opens the guide";
  // The guide is taller than the built-in display: its title bar must still be in reach.
  hand->click(closeButton(*guide));
  settle();
  EXPECT_FALSE(guide->isVisible()) << "the guide's close button closes it";

  preferences.show();
  settle();
  hand->click(closeButton(window));
  settle();
  EXPECT_FALSE(window.isVisible()) << "the close button closes the window";
}

}  // namespace
}  // namespace trelliq
