// Every button of Preferences, the guide and Permissions clicked through the simulated
// Mac's screen as a person would: the screen's window takes the press, the world routes
// it to the window under the pointer, and the button's own signal says it was the one hit.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <map>

#include "app/views/PermissionsWindow.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "platform/AppKit.h"
#include "platform/AppKitMenuWindows.h"
#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"
#include "ownwindows/views/PopUpButton.h"
#include "preferences/FormRow.h"
#include "preferences/HotCornerPicker.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "preferences/SwitchingSection.h"
#include "preferences/TriggersSection.h"
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

  void key(int qtKey) {
    for (QEvent::Type t : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent e(t, qtKey, Qt::NoModifier);
      QApplication::sendEvent(&hand->window, &e);
    }
    settle();
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

  // The program's windows at the pop-up menus' level, as the window list has them.
  std::vector<platform::WindowEntry> popUps() {
    std::vector<platform::WindowEntry> found;
    for (const auto& e : scene.windowServer.windowList())
      if (e.ownerPID == scene.windowServer.ownProcessIdentifier() && e.layer == NSPopUpMenuWindowLevel && e.onScreen)
        found.push_back(e);
    return found;
  }
  // The open menu's window: the smallest at that level (the rest cover the displays).
  std::optional<CGRect> openMenu() {
    std::optional<CGRect> menu;
    for (const auto& e : popUps())
      if (!menu || e.bounds.width() * e.bounds.height() < menu->width() * menu->height()) menu = e.bounds;
    return menu;
  }
  // Where the screen's picture shows desk point `at`.
  QRgb shownAt(const QImage& screen, CGPoint at) const { return screen.pixel(hand->at(at).toPoint()); }

  // A click on `button`: its menu opens as a window of the simulated Mac, composed onto the
  // screen, with the chosen entry lit and its row (22 points, under 5 of padding) centred on
  // the button; Qt's own pop-up never shows. The menu's window; nothing when it did not open.
  std::optional<CGRect> clickOpen(NSWindow& window, PopUpButton& button) {
    wheelIntoView(window, button);
    settle();
    const QImage before = hand->window.grab().toImage();
    const CGPoint middle = deskPoint(window, button);
    hand->click(middle);
    settle();
    const auto menu = openMenu();
    if (!menu || !button.menu().isTracking()) return std::nullopt;
    EXPECT_FALSE(button.view()->window()->isVisible()) << "Qt's pop-up stays closed";
    const auto lit = button.menu().highlightedItem();
    EXPECT_TRUE(lit && lit->title() == button.currentText().toStdString()) << "the chosen entry is lit";
    const std::int64_t row = lit ? button.menu().indexOfItem(*lit) : -1;
    EXPECT_NEAR(menu->minY() + 5 + 22 * row + 11, middle.y, 1) << "the chosen entry over the button";
    EXPECT_GE(menu->width(), button.width());
    const QImage after = hand->window.grab().toImage();
    EXPECT_NE(shownAt(before, {menu->midX(), menu->minY() + 4}), shownAt(after, {menu->midX(), menu->minY() + 4}))
        << "the screen shows the menu";
    return menu;
  }

  Scene scene{Scene::Start::defaultScenario};
  std::unique_ptr<WorldScreen> hand;
};

// The pop-up buttons of Preferences and the guide open their menus as menus of the
// simulated Mac, which the keys and the pointer choose from.
TEST_F(ScreenClicks, PopUpMenusOpenOnTheScreenOverTheirButtonsForKeysAndPointer) {
  PreferencesWindow preferences;
  preferences.show();
  settle();
  NSWindow& window = *preferences.window();
  auto& names = dynamic_cast<PopUpButton&>(preferences.view()->switching().namesPicker());
  ASSERT_EQ(names.currentText().toStdString(), "When focused");
  ASSERT_TRUE(clickOpen(window, names)) << "no menu window opened";
  for (int k : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}) key(k);  // the end stops the highlight
  EXPECT_EQ(Settings::defaults().stringForKey("names"), "always");
  EXPECT_FALSE(names.menu().isTracking());
  EXPECT_TRUE(popUps().empty()) << "choosing closes the menu's windows";
  EXPECT_EQ(names.currentText().toStdString(), "Always");

  // Opened again, the menu stands higher, so its second entry lies over the button; the
  // pointer chooses the first, above it; Escape and a press beside close without a choice.
  const auto menu = clickOpen(window, names);
  ASSERT_TRUE(menu);
  hand->click(CGPoint{menu->midX(), menu->minY() + 5 + 11});
  settle();
  EXPECT_EQ(Settings::defaults().stringForKey("names"), "focused");
  ASSERT_TRUE(clickOpen(window, names));
  key(Qt::Key_Escape);
  EXPECT_TRUE(popUps().empty());
  ASSERT_TRUE(clickOpen(window, names));
  hand->click(CGPoint{menu->maxX() + 40, menu->maxY() + 40});
  settle();
  EXPECT_TRUE(popUps().empty());
  EXPECT_EQ(Settings::defaults().stringForKey("names"), "focused");

  GuideWindow::shared().show();
  settle();
  auto& mode = dynamic_cast<PopUpButton&>(GuideWindow::shared().view()->modePicker());
  const int before = mode.currentIndex();
  const auto modes = clickOpen(*GuideWindow::shared().window(), mode);
  ASSERT_TRUE(modes) << "the guide's mode picker opened no menu window";
  const int other = before == 0 ? 1 : 0;
  hand->click(CGPoint{modes->midX(), modes->minY() + 5 + 22 * other + 11});
  settle();
  EXPECT_EQ(mode.currentIndex(), other) << "the pointer chose another mode";
}

// A pointer resting on a hot corner of Preferences shows that corner's tool tip as a window
// of the simulated Mac under the pointer; a press takes it away.
TEST_F(ScreenClicks, ARestingPointerShowsTheToolTipUnderIt) {
  PreferencesWindow preferences;
  preferences.show();
  settle();
  NSWindow& window = *preferences.window();
  HotCornerPicker& corners = preferences.view()->triggers().hotCornerPicker();
  wheelIntoView(window, corners);
  settle();
  const CGPoint corner = deskPoint(window, corners.target(Settings::HotCorner::topRight));
  hand->move(corner);
  settle();
  EXPECT_TRUE(popUps().empty()) << "not before the pointer has rested";
  scene.clock.advance(1.0);
  hand->window.refresh();
  EXPECT_EQ(platform::shownToolTip(), HotCornerPicker::toolTip(Settings::HotCorner::topRight, false));
  const auto tip = openMenu();
  ASSERT_TRUE(tip) << "no tool tip window";
  EXPECT_GT(tip->minY(), corner.y);
  EXPECT_LT(tip->minY(), corner.y + 40);
  hand->click(corner);
  settle();
  EXPECT_TRUE(popUps().empty()) << "a press takes the tip away";
}

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
