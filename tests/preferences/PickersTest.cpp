// The form's pickers: each writes its key at once in canonical form, leaves a value it
// does not recognise alone until the user picks, and shows the system's own uses.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <cmath>

#include "app/views/Symbol.h"
#include "ownwindows/views/PopUpButton.h"
#include "platform/sim/WindowServer.h"
#include "preferences/GesturePopUp.h"
#include "preferences/HotCornerPicker.h"
#include "preferences/TileStylePicker.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

using Corner = Settings::HotCorner;
constexpr const char* kDock = "com.apple.dock";
constexpr const char* kAccess = "com.apple.universalaccess";

class Pickers : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
    scene.windowServer.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
  }
  std::optional<std::string> stored(const std::string& key) const { return Settings::defaults().stringForKey(key); }
  void store(const std::string& key, const std::string& value) {
    Settings::defaults().set(key, platform::PlistValue(value));
  }
  static void press(QWidget& widget, QPointF at) {
    QMouseEvent event(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
  }
  Scene scene{Scene::Start::defaultScenario};
};

TEST_F(Pickers, CornersAreStoredInCaseOrderWhateverTheClickOrder) {
  HotCornerPicker picker({"hotCorner", ""});
  EXPECT_EQ(picker.switcherPresence(), 0);
  picker.click(Corner::bottomLeft);
  EXPECT_EQ(stored("hotCorner"), "bottomLeft");
  picker.click(Corner::topLeft);
  EXPECT_EQ(stored("hotCorner"), "topLeft,bottomLeft");
  picker.click(Corner::bottomRight);
  picker.click(Corner::topRight);
  EXPECT_EQ(stored("hotCorner"), "topLeft,topRight,bottomLeft,bottomRight");
  // With all four on, a click removes only its own corner; the last one leaves "".
  picker.click(Corner::topRight);
  EXPECT_EQ(stored("hotCorner"), "topLeft,bottomLeft,bottomRight");
  for (const Corner c : {Corner::topLeft, Corner::bottomLeft, Corner::bottomRight}) picker.click(c);
  EXPECT_EQ(stored("hotCorner"), "");
}

TEST_F(Pickers, AStoredValueWithStrayPiecesCountsOnlyExactOnesAndIsKeptUntilTheFirstClick) {
  store("hotCorner", "bottomRight, topLeft,,middle");
  HotCornerPicker picker({"hotCorner", ""});
  EXPECT_EQ(picker.picked(), std::set<Corner>{Corner::bottomRight});
  picker.refresh();
  EXPECT_EQ(stored("hotCorner"), "bottomRight, topLeft,,middle");
  picker.click(Corner::topRight);
  EXPECT_EQ(stored("hotCorner"), "topRight,bottomRight");
}

TEST_F(Pickers, TheSwitcherAndTargetsAnimateInOnTheClockWhileHoverIsImmediate) {
  HotCornerPicker picker({"hotCorner", ""});
  EXPECT_DOUBLE_EQ(picker.targetOpacity(Corner::bottomRight), 0.2);
  picker.hover(Corner::bottomRight, true);
  EXPECT_DOUBLE_EQ(picker.targetOpacity(Corner::bottomRight), 0.5);
  picker.hover(Corner::topLeft, true);
  picker.hover(Corner::bottomRight, false);  // leaving an old target keeps the new hover
  EXPECT_EQ(picker.hovered(), Corner::topLeft);
  picker.hover(Corner::topLeft, false);
  EXPECT_FALSE(picker.hovered());

  picker.click(Corner::bottomRight);
  scene.clock.advance(0.05);
  EXPECT_GT(picker.switcherPresence(), 0);
  EXPECT_LT(picker.switcherPresence(), 1);
  scene.clock.advance(0.2);
  EXPECT_EQ(picker.switcherPresence(), 1);
  EXPECT_DOUBLE_EQ(picker.targetOpacity(Corner::bottomRight), 0.95);
  picker.hover(Corner::bottomRight, true);  // a chosen target looks the same hovered
  EXPECT_DOUBLE_EQ(picker.targetOpacity(Corner::bottomRight), 0.95);
  picker.click(Corner::bottomRight);
  scene.clock.advance(0.3);
  EXPECT_EQ(picker.switcherPresence(), 0);
}

TEST_F(Pickers, TargetsAreQuarterCirclesInsideTheScreenAndTakeRealClicks) {
  HotCornerPicker picker({"hotCorner", ""});
  picker.resize(picker.sizeHint());
  const double top = (picker.sizeHint().height() - HotCornerPicker::height) / 2;
  EXPECT_EQ(picker.cornerAt({3, top + 3}), Corner::topLeft);
  EXPECT_EQ(picker.cornerAt({165, top + 102}), Corner::bottomRight);
  EXPECT_FALSE(picker.cornerAt({20, top + 20}));                 // 28.3 from the corner: outside the circle
  EXPECT_FALSE(picker.cornerAt({84, top + 52}));                 // the middle
  EXPECT_FALSE(picker.cornerAt({3, top - 2}));                   // above the screen: cut off
  press(picker, {160, top + 8});
  EXPECT_EQ(stored("hotCorner"), "topRight");
  EXPECT_EQ(HotCornerPicker::toolTip(Corner::topRight, true), "Turn off the top right hot corner");
  EXPECT_EQ(HotCornerPicker::toolTip(Corner::bottomLeft, false), "Open the switcher from the bottom left corner");
  EXPECT_EQ(HotCornerPicker::accessibilityLabel(Corner::bottomLeft), "Hot corner: bottom left");
}

// Drawn at two pixels a point: the screen's soft shadow, a chosen target's soft shadow and
// the miniature switcher's plate of the appearance's material.
TEST_F(Pickers, TheCornerPictureCastsSoftShadowsAndLaysItsSwitcherOnTheAppearancesMaterial) {
  const auto draw = [&](const std::string& corners) {
    store("hotCorner", corners);
    HotCornerPicker picker({"hotCorner", ""});
    picker.resize(picker.sizeHint());
    QImage image(picker.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    picker.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
  };
  const auto at = [](const QImage& image, double x, double y) { return image.pixel(int(x * 2), int(y * 2)); };
  for (const bool dark : {false, true}) {
    scene.setDark(dark);
    const QImage none = draw(""), chosen = draw("bottomRight");
    // The screen (105 high, 4 down) casts its shadow 1 down, blurred 2 further.
    EXPECT_GT(qAlpha(at(none, 84, 4 + 105 + 2.1)), 0);
    // Beyond the old ring a point wide: the chosen target's blurred shadow darkens the wash.
    int shade = 0;
    for (int y = 4 * 2; y < (4 + 105) * 2; ++y) {
      for (int x = 0; x < 168 * 2; ++x) {
        const double d = std::hypot((x + 0.5) / 2 - 168, (y + 0.5) / 2 - (4 + 105));
        if (d > HotCornerPicker::reach + 1.6 && d < HotCornerPicker::reach + 4)
          shade += qGray(none.pixel(x, y)) - qGray(chosen.pixel(x, y));
      }
    }
    EXPECT_GE(shade, 100) << dark;
    // The switcher's plate, left of its first icon, over the wash.
    const int plate = qGray(at(chosen, 50.5, 56.5)), wash = qGray(at(none, 50.5, 56.5));
    if (dark)
      EXPECT_LT(plate, wash - 40);
    else
      EXPECT_GT(plate, wash + 40);
  }
}

TEST_F(Pickers, EachCornerTargetIsAButtonNamedForItsCornerAndSelectedWhileChosen) {
  store("hotCorner", "bottomRight");
  HotCornerPicker picker({"hotCorner", ""});
  const auto described = [&](Corner corner) { return QAccessible::queryAccessibleInterface(&picker.target(corner)); };
  for (const Corner corner : Corner::allCases()) {
    QAccessibleInterface* target = described(corner);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->text(QAccessible::Name).toStdString(), "Hot corner: " + std::string(corner.title()));
    EXPECT_EQ(target->role(), QAccessible::Button);
    EXPECT_EQ(target->state().selected, corner == Corner::bottomRight) << corner.title();
  }
  picker.click(Corner::topLeft);
  EXPECT_TRUE(described(Corner::topLeft)->state().selected);
  picker.click(Corner::bottomRight);
  EXPECT_FALSE(described(Corner::bottomRight)->state().selected);
  // The targets cover their visible quarter circles and leave the clicks to the picker.
  EXPECT_EQ(picker.target(Corner::topLeft).geometry().topLeft(), QPoint(0, 4));
  EXPECT_TRUE(picker.target(Corner::topLeft).testAttribute(Qt::WA_TransparentForMouseEvents));
}

// The gesture pop-up shows its title where every other pop-up of the form does: from the
// left, the same distance in.
TEST_F(Pickers, TheGesturePopUpShowsItsTitleFromTheLeftAsTheOtherPopUpsDo) {
  GesturePopUp gesture({"gesture", ""});
  ASSERT_EQ(gesture.currentText().toStdString(), "None");
  PopUpButton other;
  other.addItem("None");
  const auto leftmostInk = [](QComboBox& popUp) {
    popUp.resize(GesturePopUp::fit(), popUp.sizeHint().height());
    QImage image(popUp.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    popUp.render(&image);
    for (int x = 0; x < image.width(); ++x)
      for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y)
        if (qGray(image.pixel(x, y)) < 90) return x;
    return -1;
  };
  const int at = leftmostInk(gesture);
  ASSERT_GE(at, 0) << "no title drawn";
  EXPECT_LT(at, gesture.width() / 4);
  EXPECT_NEAR(at, leftmostInk(other), 1);
}

TEST_F(Pickers, TheGesturePopUpWritesAtOnceAndShowsBareTitlesWhileClosed) {
  GesturePopUp popUp({"gesture", ""});
  ASSERT_EQ(popUp.count(), 4);
  EXPECT_EQ(popUp.currentText().toStdString(), "None");
  EXPECT_FALSE(popUp.value(1));  // the separator
  popUp.choose(3);
  EXPECT_EQ(stored("gesture"), "fourFingerDoubleTap");
  EXPECT_EQ(popUp.currentText().toStdString(), "Double-tap with four fingers");
  popUp.choose(0);
  EXPECT_EQ(stored("gesture"), "");
  // The width never follows the choice.
  const int width = popUp.sizeHint().width();
  popUp.choose(2);
  EXPECT_EQ(popUp.sizeHint().width(), width);
  EXPECT_GE(width, GesturePopUp::fit());
}

TEST_F(Pickers, AnUnknownGestureSelectsNothingAndIsNotRewritten) {
  store("gesture", "fiveFingerPinch");
  GesturePopUp popUp({"gesture", ""});
  EXPECT_EQ(popUp.currentIndex(), -1);
  popUp.select();
  popUp.menuWillOpen();
  popUp.menuDidClose();
  EXPECT_EQ(stored("gesture"), "fiveFingerPinch");
}

TEST_F(Pickers, AGestureMacOSUsesIsNotedInTheOpenMenuOnlyAndTheWarningFollowsTheSystem) {
  scene.world.writeForeignPreference(kAccess, "closeViewTrackpadGestureZoomEnabled", platform::PlistValue(true));
  GesturePopUp popUp({"gesture", ""});
  EXPECT_EQ(popUp.text(2), "Double-tap with three fingers");
  popUp.showPopup();  // in no window: the menu is filled, not shown
  EXPECT_EQ(popUp.text(2), "Double-tap with three fingers   in use: Zoom");
  const auto& runs = popUp.menu().itemAtIndex(2)->attributedTitle();
  ASSERT_EQ(runs.size(), 2u) << "the menu's entry: its title, then the note";
  EXPECT_EQ(runs[1].text, "   in use: Zoom");
  EXPECT_TRUE(runs[1].italic && runs[1].secondary && !runs[0].italic && runs[0].secondary);
  EXPECT_TRUE(popUp.menu().itemAtIndex(3)->attributedTitle().empty()) << "an entry without a note is plain";
  EXPECT_EQ(popUp.noteStart(2), static_cast<int>(std::string_view("Double-tap with three fingers").size()))
      << "the note in italics";
  EXPECT_EQ(popUp.text(3), "Double-tap with four fingers");
  EXPECT_FALSE(popUp.noteStart(3));
  popUp.choose(2);  // picking closes the menu afterwards
  popUp.menuDidClose();
  EXPECT_EQ(stored("gesture"), "threeFingerDoubleTap");
  EXPECT_EQ(popUp.currentText().toStdString(), "Double-tap with three fingers");
  EXPECT_FALSE(popUp.noteStart(2)) << "closed, the bare title";

  GestureInUse warning(Settings::Gesture::threeFingerDoubleTap);
  EXPECT_TRUE(warning.warns());
  EXPECT_EQ(warning.text(),
            "macOS uses this gesture for Zoom. You can turn it off in System Settings › Accessibility › Zoom");
  warning.button().click();
  const auto opened = scene.windowServer.openedURLs();
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ(opened.back(), "x-apple.systempreferences:com.apple.preference.universalaccess?Zoom");

  // The user turns Zoom's gesture off while the window stays open.
  scene.world.writeForeignPreference(kAccess, "closeViewTrackpadGestureZoomEnabled", platform::PlistValue(false));
  popUp.menuWillOpen();
  EXPECT_EQ(popUp.text(2), "Double-tap with three fingers");
  warning.refresh();
  EXPECT_FALSE(warning.warns());
  EXPECT_TRUE(warning.isHidden());
  EXPECT_FALSE(GestureInUse(Settings::Gesture::fourFingerDoubleTap).warns());
}

// A greyed item of the open menu is in the secondary label colour: light in the dark
// appearance, dark in the light one.
TEST_F(Pickers, AGestureInUseIsGreyedInTheColourOfTheAppearance) {
  scene.world.writeForeignPreference(kAccess, "closeViewTrackpadGestureZoomEnabled", platform::PlistValue(true));
  for (const bool dark : {true, false}) {
    scene.setDark(dark);
    GesturePopUp popUp({"gesture", ""});
    popUp.menuWillOpen();
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 320, 22);
    option.font = popUp.font();
    option.palette = popUp.palette();
    option.state = QStyle::State_Enabled;
    QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(ui::windowBackground());
    {
      QPainter painter(&image);
      popUp.itemDelegate()->paint(&painter, option, popUp.model()->index(2, 0));
    }
    const int ground = qGray(ui::windowBackground().rgb());
    int far = 0;  // the gray furthest from the ground
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const int gray = qGray(image.pixel(x, y));
        if (std::abs(gray - ground) > std::abs(far)) far = gray - ground;
      }
    }
    if (dark) EXPECT_GT(far, 60);
    else EXPECT_LT(far, -60);
    popUp.menuDidClose();
  }
}

TEST_F(Pickers, TheModeCardsFollowTheStoredStringExactly) {
  TileStylePicker picker({"tiles", "apps"});
  using Tiles = Settings::Tiles;
  EXPECT_TRUE(picker.card(Tiles::apps).isSelected());
  EXPECT_FALSE(picker.card(Tiles::windows).isSelected());
  EXPECT_EQ(picker.card(Tiles::both).caption(), "App tiles on ⌘⇥, window tiles on ⌥⇥");
  EXPECT_TRUE(picker.card(Tiles::both).roles().empty());
  EXPECT_EQ(picker.card(Tiles::apps).borderWidth(), 2);
  EXPECT_EQ(picker.card(Tiles::windows).fillOpacity(), 0.02);

  EXPECT_EQ(picker.card(Tiles::apps).mark().name(), "checkmark.circle.fill");
  EXPECT_EQ(picker.card(Tiles::windows).mark().name(), "circle");
  picker.click(Tiles::both);
  EXPECT_EQ(picker.card(Tiles::both).mark().name(), "checkmark.circle.fill") << "a drawn mark, never a character";
  EXPECT_EQ(picker.card(Tiles::apps).mark().name(), "circle");
  EXPECT_EQ(stored("tiles"), "both");
  EXPECT_EQ(picker.card(Tiles::both).caption(), "");
  EXPECT_EQ(picker.card(Tiles::both).roles(),
            (std::vector<std::string>{"PRIMARY App tiles ⌘ ⇥", "SECONDARY Window tiles ⌥ ⇥"}));
  EXPECT_FALSE(picker.card(Tiles::apps).isSelected());

  for (const char* odd : {"", "Apps", "everything"}) {
    store("tiles", odd);
    picker.refresh();
    for (const auto t : Tiles::allCases()) EXPECT_FALSE(picker.card(t).isSelected()) << odd;
    EXPECT_EQ(stored("tiles"), odd);
  }
}

TEST_F(Pickers, AClickAnywhereOnACardSelectsIt) {
  TileStylePicker picker({"tiles", "apps"});
  picker.resize(600, 260);
  picker.layout()->activate();
  TileStyleCard& windows = picker.card(Settings::Tiles::windows);
  press(windows, QPointF(windows.width() / 2, windows.height() - 3));  // below the caption
  EXPECT_EQ(stored("tiles"), "windows");
  EXPECT_TRUE(windows.isSelected());
  // Cards share the row equally.
  EXPECT_NEAR(picker.card(Settings::Tiles::apps).width(), windows.width(), 1);
}

TEST_F(Pickers, APickedCardChangesItsLookOverFifteenHundredthsOfASecondEasingOut) {
  TileStylePicker picker({"tiles", "apps"});
  picker.resize(600, 300);
  picker.show();
  TileStyleCard& both = picker.card(Settings::Tiles::both);
  TileStyleCard& apps = picker.card(Settings::Tiles::apps);
  const auto roleTitleInk = [&] {
    // The darkest pixel of the first role title, as drawn.
    const QImage image = both.grab().toImage();
    const QLabel* title = both.findChild<QLabel*>("roleTitle");
    const QRect box(title->mapTo(&both, QPoint(0, 0)), title->size());
    int darkest = 255;
    for (int y = box.top(); y <= box.bottom(); ++y) {
      for (int x = box.left(); x <= box.right(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
    }
    return darkest;
  };
  press(both, QPointF(both.width() / 2, both.height() - 3));
  EXPECT_EQ(stored("tiles"), "both") << "written at once";
  EXPECT_EQ(both.borderWidth(), 1) << "the look has not moved yet";
  EXPECT_EQ(apps.fillOpacity(), 0.06);
  scene.clock.advance(0.075);
  // Half the time, more than half the way: the change eases out.
  EXPECT_GT(both.selectedness(), 0.6);
  EXPECT_LT(both.selectedness(), 0.9);
  EXPECT_NEAR(apps.selectedness(), 1 - both.selectedness(), 1e-9);
  const int halfway = roleTitleInk();
  scene.clock.advance(0.075);
  EXPECT_EQ(both.borderWidth(), 2);
  EXPECT_EQ(apps.fillOpacity(), 0.02);
  EXPECT_LT(roleTitleInk(), halfway - 20) << "the role rows fade in with the rest";
}

TEST_F(Pickers, TheHybridRoleRowsHoldTheirTitleTwoBelowAndTheirKeysThreeApart) {
  store("tiles", "both");  // the rows show only while the hybrid mode is the stored one
  TileStylePicker picker({"tiles", "both"});
  picker.resize(600, 300);
  picker.show();
  picker.grab();  // laid out as drawn
  const TileStyleCard& both = picker.card(Settings::Tiles::both);
  const auto titles = both.findChildren<QLabel*>("roleTitle");
  std::vector<const KeyLabel*> keys;
  for (const QWidget* w : both.findChildren<QWidget*>()) {
    if (const auto* key = dynamic_cast<const KeyLabel*>(w)) keys.push_back(key);
  }
  ASSERT_EQ(titles.size(), 2);
  ASSERT_EQ(keys.size(), 4u);
  for (int row = 0; row < 2; ++row) {
    const QRect first = keys[2 * row]->geometry(), second = keys[2 * row + 1]->geometry();
    EXPECT_EQ(second.left() - first.right() - 1, 3) << row;
    EXPECT_EQ(titles[row]->geometry().top() - first.bottom() - 1, 2) << row;
  }
  EXPECT_EQ(keys[2]->geometry().top() - titles[0]->geometry().bottom() - 1, 8) << "the rows are 8 apart";
}

TEST_F(Pickers, KeyLabelsAreAtLeastThirtyByTwentyFourAndGrowWithLongerKeys) {
  KeyLabel one("⌘");
  EXPECT_GE(one.sizeHint().width(), 30);
  EXPECT_EQ(one.sizeHint().height(), 24);
  EXPECT_GT(KeyLabel("Return ↩").sizeHint().width(), one.sizeHint().width());
  // A key wider than the least width is its text and the two points each side, no more.
  QFont bold = ui::systemFont(13, QFont::Bold);
  const double text = QFontMetricsF(bold).horizontalAdvance("Return ↩");
  ASSERT_GT(text, 26);
  EXPECT_EQ(KeyLabel("Return ↩").sizeHint().width(), static_cast<int>(std::ceil(text)) + 4);
}

// In the hybrid card, each key's plate covers its whole 30 × 24 and its shadow falls below.
TEST_F(Pickers, AKeyPlateFillsItsLabelAndCastsItsShadowBelowIt) {
  store("tiles", "both");
  TileStylePicker picker({"tiles", "both"});
  picker.resize(600, 300);
  picker.show();
  picker.grab();  // laid out as drawn
  TileStyleCard& both = picker.card(Settings::Tiles::both);
  const QImage card = both.grab().toImage();
  const KeyLabel* key = nullptr;
  for (const QWidget* w : both.findChildren<QWidget*>()) {
    if (const auto* k = dynamic_cast<const KeyLabel*>(w)) key = key ? key : k;
  }
  ASSERT_TRUE(key);
  const QRect plate(key->mapTo(&both, QPoint(0, 0)), key->size());
  ASSERT_GE(plate.width(), 30);
  ASSERT_EQ(plate.height(), 24);
  const int x = plate.center().x(), below = plate.bottom() + 1;
  // The bottom row is the plate's own border, drawn whole, as the top row is; the row below
  // is shaded, against the card beside the key.
  EXPECT_LT(std::abs(qGray(card.pixel(x, plate.bottom())) - qGray(card.pixel(x, plate.top()))), 4);
  EXPECT_LT(qGray(card.pixel(x, below)), qGray(card.pixel(plate.left() - 4, below)) - 4);
}

// The cards' titles are in the headline style, bold as the permission rows' titles are.
TEST_F(Pickers, TheCardTitlesAreBoldHeadlines) {
  TileStylePicker picker({"tiles", "apps"});
  for (const auto style : Settings::Tiles::allCases()) {
    const auto labels = picker.card(style).findChildren<QLabel*>();
    const auto title = std::find_if(labels.begin(), labels.end(), [&](const QLabel* l) {
      return l->text().toStdString() == picker.card(style).title();
    });
    ASSERT_NE(title, labels.end());
    EXPECT_EQ((*title)->font().weight(), QFont::Bold) << picker.card(style).title();
    EXPECT_EQ((*title)->font().pixelSize(), 13);
  }
}

}  // namespace
}  // namespace trelliq
