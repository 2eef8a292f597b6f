// A status item and its menu as the menu bar shows them, used through the simulated Mac's
// screen: the item is a window in the menu bar beside the other programs' items, a click
// opens its menu as a window under it, and the keys and the pointer choose from it.

#include <gtest/gtest.h>

#include <QImage>
#include <QKeyEvent>

#include "platform/AppKitControls.h"
#include "platform/AppKitMenus.h"
#include "platform/CGWindow.h"
#include "platform/WindowFrame.h"
#include "support/PlainView.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"

namespace {

class MenuWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    trelliq::test::ensureWidgets();
    scene.world.setAccessibilityTrusted(true);
    NSApp().finishLaunching();
    hand = std::make_unique<WorldScreen>(scene.world, scene.windowServer, 2400, 1000);
    item = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
    item->button()->setTitle("Q");
    for (const char* title : {"First", "", "Off", "Last"}) {
      auto entry = *title ? std::make_shared<NSMenuItem>(title, "pick:", "") : NSMenuItem::separatorItem();
      if (*title) entry->setTarget([this, title] { chosen.push_back(title); });
      menu->addItem(entry);
    }
    menu->itemWithTitle("Off")->setEnabled(false);
    item->setMenu(menu);
  }
  void TearDown() override { NSStatusBar::systemStatusBar().removeStatusItem(item); }

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
  // The program's windows at `layer` on the built-in display, as the window list has them.
  std::vector<platform::WindowEntry> ownAt(std::int32_t layer) {
    std::vector<platform::WindowEntry> found;
    for (const auto& e : scene.windowServer.windowList())
      if (e.ownerPID == scene.windowServer.ownProcessIdentifier() && e.layer == layer && e.onScreen &&
          e.bounds.minX() < 1512)
        found.push_back(e);
    return found;
  }
  static CGPoint centre(const CGRect& r) { return {r.midX(), r.midY()}; }

  // A window of the program with a button 120 × 20 at (20, 30) of its content, to pop a
  // menu up from; the window is not shown yet.
  struct ButtonWindow {
    explicit ButtonWindow(NSWindowStyleMask style)
        : button(&content), window(CGRect(100, 200, 200, 100), style, NSBackingStoreType::buffered, false) {
      content.resize(200, 100);
      button.setGeometry(20, 30, 120, 20);
      window.setContentView(&content);
    }
    PlainView content;
    QWidget button;
    NSWindow window;
  };

  Scene scene{Scene::Start::defaultScenario};
  std::unique_ptr<WorldScreen> hand;
  std::shared_ptr<NSStatusItem> item;
  std::shared_ptr<NSMenu> menu = std::make_shared<NSMenu>();
  std::vector<std::string> chosen;
};

TEST_F(MenuWindows, TheItemSitsInTheMenuBarAndItsMenuOpensUnderItForKeysAndPointer) {
  settle();
  const auto items = ownAt(NSStatusWindowLevel);
  ASSERT_EQ(items.size(), 1u);
  const CGRect bar = items[0].bounds;
  EXPECT_EQ(bar.minY(), 0);
  EXPECT_EQ(bar.height(), 37) << "as tall as the notched display's menu bar";
  EXPECT_LE(bar.maxX(), 1344 - platform::kStatusItemSpacing) << "left of the other program's item";

  // A click opens the menu under the item; the keys skip the separator and the disabled
  // entry, stop at the ends, and Return chooses.
  hand->click(centre(bar));
  settle();
  ASSERT_TRUE(menu->isTracking());
  const auto open = ownAt(NSPopUpMenuWindowLevel);
  ASSERT_FALSE(open.empty());
  const CGRect shown = open.front().bounds;  // in front of what covers the displays meanwhile
  EXPECT_EQ(shown.minY(), bar.maxY() + 1);
  for (int k : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) key(k);
  key(Qt::Key_Return);
  EXPECT_EQ(chosen, std::vector<std::string>{"Last"});
  EXPECT_FALSE(menu->isTracking());
  EXPECT_TRUE(ownAt(NSPopUpMenuWindowLevel).empty()) << "the menu's windows go";

  // The pointer chooses the entry it releases on; a press beside the menu closes it.
  hand->click(centre(bar));
  settle();
  hand->click({shown.minX() + 40, shown.minY() + 5 + 11});
  settle();
  EXPECT_EQ(chosen, (std::vector<std::string>{"Last", "First"}));
  hand->click(centre(bar));
  settle();
  hand->click({700, 500});
  settle();
  EXPECT_FALSE(menu->isTracking());
  EXPECT_EQ(chosen.size(), 2u);
}

// A press on the item held and dragged down the menu lights the entries it passes and
// chooses the one it is let go on; dragged off the menu and let go, it closes unchosen.
TEST_F(MenuWindows, APressDraggedOntoAnEntryAndLetGoChoosesIt) {
  settle();
  const CGRect bar = ownAt(NSStatusWindowLevel).at(0).bounds;
  const auto drag = [&](CGPoint to) {
    const QPointF at = hand->at(to);
    QMouseEvent e(QEvent::MouseMove, at, hand->window.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&hand->window, &e);
    settle();
  };
  for (const bool onEntry : {true, false}) {
    hand->press(hand->at(centre(bar)), QEvent::MouseButtonPress);
    settle();
    ASSERT_TRUE(menu->isTracking());
    const CGRect shown = ownAt(NSPopUpMenuWindowLevel).front().bounds;
    const CGPoint first{shown.minX() + 40, shown.minY() + 5 + 11};
    drag(first);
    EXPECT_EQ(menu->highlightedItem(), menu->itemAtIndex(0));
    const CGPoint end = onEntry ? first : CGPoint{700, 500};
    drag(end);
    hand->press(hand->at(end), QEvent::MouseButtonRelease);
    settle();
    EXPECT_FALSE(menu->isTracking());
  }
  EXPECT_EQ(chosen, std::vector<std::string>{"First"});
}

// A pop-up button's menu: the entry it is positioned by lit, its title starting at the
// point given in a view of a window and its row's middle on it; moved up as little as keeps
// it on its display; the keys go on from the lit entry.
TEST_F(MenuWindows, APositionedMenuLightsItsEntryAtThePointAndStaysOnItsDisplay) {
  ButtonWindow popUpFrom(NSWindowStyleMaskBorderless);
  QWidget& button = popUpFrom.button;
  NSWindow& window = popUpFrom.window;
  window.orderFrontRegardless();
  settle();
  const double top = NSScreen::screens().front().frame().maxY();
  ASSERT_TRUE(menu->popUpMenuPositioningItem(*menu->itemAtIndex(3), CGPoint{10, 10}, button));
  settle();
  ASSERT_FALSE(ownAt(NSPopUpMenuWindowLevel).empty());
  CGRect shown = ownAt(NSPopUpMenuWindowLevel).front().bounds;
  EXPECT_EQ(menu->highlightedItem(), menu->itemAtIndex(3));
  EXPECT_EQ(shown.minX() + 22, 100 + 20 + 10) << "the title at the point";
  EXPECT_EQ(shown.minY() + 5 + 22 + 11 + 22 + 11, top - 300 + 30 + 10) << "the row's middle on the point";

  // At the display's foot the menu is lifted to stay on it.
  window.setFrame(CGRect(100, 0, 200, 100), false);
  settle();
  ASSERT_TRUE(menu->popUpMenuPositioningItem(*menu->itemAtIndex(0), CGPoint{10, 10}, button));
  settle();
  shown = ownAt(NSPopUpMenuWindowLevel).front().bounds;
  EXPECT_EQ(shown.maxY(), top - 4);
  key(Qt::Key_Down);
  EXPECT_EQ(menu->highlightedItem(), menu->itemAtIndex(3)) << "past the separator and the disabled entry";
  key(Qt::Key_Return);
  EXPECT_EQ(chosen, std::vector<std::string>{"Last"});
  EXPECT_FALSE(menu->popUpMenuPositioningItem(*NSMenuItem::separatorItem(), CGPoint{}, button)) << "not an entry";
  window.setContentView(nullptr);
}

// An entry greyed while it stays choosable is drawn in the secondary label colour: half
// black in the light appearance, 55 % white in the dark, against the label's 85 % and 90 %.
TEST_F(MenuWindows, AGreyedEntryIsInTheSecondaryLabelColourOfTheAppearance) {
  menu->itemWithTitle("Last")->setAttributedTitle({{"Last", false, true}});
  PlainView content;
  content.resize(200, 100);
  NSWindow window(CGRect(100, 200, 200, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.setContentView(&content);
  window.orderFrontRegardless();
  for (const bool dark : {false, true}) {
    scene.setDark(dark);
    ASSERT_TRUE(menu->popUpMenuPositioningItem(*menu->itemAtIndex(2), CGPoint{10, 10}, content));
    settle();
    const platform::WindowEntry shown = ownAt(NSPopUpMenuWindowLevel).front();
    const QImage picture = scene.windowServer.ownWindowSurface(shown.number)->copy();
    const double s = picture.width() / shown.bounds.width();
    // How far the row's text stands from the plate beside it: 5 of padding, then rows of 22
    // and the separator's 11.
    const auto contrast = [&](double rowTop) {
      const int y0 = static_cast<int>((rowTop + 4) * s), y1 = static_cast<int>((rowTop + 18) * s);
      const int plate = qGray(picture.pixel(static_cast<int>((shown.bounds.width() - 8) * s), (y0 + y1) / 2));
      int far = 0;
      for (int y = y0; y < y1; ++y) {
        for (int x = static_cast<int>(18 * s); x < static_cast<int>(80 * s); ++x)
          far = std::max(far, std::abs(qGray(picture.pixel(x, y)) - plate));
      }
      return static_cast<double>(far);
    };
    EXPECT_NEAR(contrast(5 + 22 + 11 + 22) / contrast(5), dark ? 0.55 / 0.9 : 0.5 / 0.85, 0.03) << dark;
    menu->cancelTracking();
    settle();
  }
  window.setContentView(nullptr);
}

// A pop-up opened from the program's key window while the program is in front leaves that
// window key, drawn so by the window server, and the keys still go to the menu.
TEST_F(MenuWindows, TheWindowAPopUpOpensFromStaysKey) {
  ButtonWindow popUpFrom(NSWindowStyleMaskTitled);
  QWidget& button = popUpFrom.button;
  NSWindow& window = popUpFrom.window;
  NSApp().activate();
  window.makeKeyAndOrderFront(nullptr);
  settle();
  const auto drawnKey = [&] {
    const CGRect f = window.frame();
    const QImage picture = scene.windowServer.composeWindow(static_cast<std::uint32_t>(window.windowNumber()),
                                                            static_cast<int>(f.width()), static_cast<int>(f.height()));
    const CGPoint c = platform::titleButtonCentre(platform::TitleButton::close);
    const QRgb p = picture.pixel(static_cast<int>(c.x), static_cast<int>(platform::kTitleBarHeight / 2));
    return qRed(p) > 200 && qGreen(p) < 140;
  };
  ASSERT_TRUE(NSApp().isActive());
  ASSERT_TRUE(drawnKey());
  ASSERT_TRUE(menu->popUpMenuPositioningItem(*menu->itemAtIndex(0), CGPoint{10, 10}, button));
  settle();
  EXPECT_TRUE(window.isKeyWindow());
  EXPECT_TRUE(drawnKey()) << "the window went grey under its pop-up";
  key(Qt::Key_Down);
  key(Qt::Key_Return);
  EXPECT_EQ(chosen, std::vector<std::string>{"Last"});
  EXPECT_TRUE(window.isKeyWindow());
  window.setContentView(nullptr);
}

// A lit row is drawn in the highlight's ink throughout, the greyed note of its title too:
// nothing in the row is darker than the accent it stands on.
TEST_F(MenuWindows, ALitRowDrawsItsGreyedNoteInTheHighlightInk) {
  menu->itemAtIndex(3)->setAttributedTitle({{"Last", false, false}, {"   in use: Zoom", true, true}});
  ButtonWindow popUpFrom(NSWindowStyleMaskBorderless);
  QWidget& button = popUpFrom.button;
  NSWindow& window = popUpFrom.window;
  window.orderFrontRegardless();
  settle();
  ASSERT_TRUE(menu->popUpMenuPositioningItem(*menu->itemAtIndex(3), CGPoint{10, 10}, button));
  settle();
  ASSERT_EQ(menu->highlightedItem(), menu->itemAtIndex(3));
  const platform::WindowEntry shown = ownAt(NSPopUpMenuWindowLevel).front();
  const CGImageRef picture = scene.windowServer.captureWindowPicture(
      shown.number, static_cast<int>(shown.bounds.width()), static_cast<int>(shown.bounds.height()));
  ASSERT_TRUE(picture);
  const QImage image = picture->qimage().convertToFormat(QImage::Format_ARGB32);
  // The lit plate: the rows and columns of accent blue.
  QRect plate;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (QColor(image.pixel(x, y)) == platform::controlAccentColor()) plate |= QRect(x, y, 1, 1);
  ASSERT_GT(plate.width(), 100) << "no lit row";
  int darkest = 255, inked = 0;
  for (int y = plate.top() + 2; y <= plate.bottom() - 2; ++y) {
    for (int x = plate.left() + 4; x <= plate.right() - 4; ++x) {
      const QRgb p = image.pixel(x, y);
      darkest = std::min(darkest, qBlue(p));
      if (qRed(p) > 200) ++inked;
    }
  }
  EXPECT_GT(inked, 40) << "the row's text";
  EXPECT_GE(darkest, 230) << "a run of the lit row drawn in a dimmer ink";
  window.setContentView(nullptr);
}

}  // namespace
