// A key cap drawn on its own: its measured size and its lit plate.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "support/WidgetsApp.h"
#include "ui/KeyCap.h"

namespace trelliq {
namespace {

class KeyCapViews : public ::testing::Test {
 protected:
  void SetUp() override { test::ensureWidgets(); }
};

TEST_F(KeyCapViews, MeasuredCapsKeepTheirFixedSizesAndSmallCapsGrowWithText) {
  EXPECT_EQ(KeyCap::capSize({.key = "⇥", .label = "tab", .width = 46}), QSizeF(46, 30));
  EXPECT_EQ(KeyCap::capSize({.key = "a much longer word than fits", .width = 20}).width(), 20);
  const QSizeF tiny = KeyCap::capSize({.key = "⌥", .width = 80, .small = true});
  EXPECT_GE(tiny.width(), 15);
  EXPECT_LT(tiny.width(), 80);
  EXPECT_GE(tiny.height(), 14);
  EXPECT_GT(KeyCap::capSize({.key = "command", .small = true}).width(), tiny.width());
  KeyCap cap({.key = "⌘", .width = 46});
  EXPECT_EQ(cap.sizeHint(), QSize(46, 30));
}

TEST_F(KeyCapViews, ALitCapIsPaintedInTheAccentColour) {
  auto centre = [](const KeyCapLook& look) {
    KeyCap cap(look);
    cap.resize(cap.sizeHint());
    QImage image(cap.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    cap.render(&image);
    return image.pixelColor(3, 3);  // inside the plate, clear of the text
  };
  const QColor unlit = centre({.key = "⌘", .width = 46});
  const QColor held = centre({.key = "⌘", .width = 46, .held = true});
  const QColor pressed = centre({.key = "⌘", .width = 46, .pressed = true});
  EXPECT_GT(held.blue(), held.red() + 100);
  EXPECT_EQ(held, pressed);
  EXPECT_EQ(unlit.red(), unlit.blue());  // the neutral control colour
}

// On a doubled screen the half-point blur reaches a pixel beyond where a sharp shadow moved
// straight down would end: beside the cap and below the shadow's edge.
TEST_F(KeyCapViews, AnUnlitCapsShadowIsBlurredAndALitCapCastsNone) {
  auto render = [](const KeyCapLook& look) {
    QImage image(120, 90, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    KeyCap::paint(painter, {7, 7}, look);  // 46 × 30: pixels 14 to 105 across, 14 to 73 down
    return image;
  };
  const QImage unlit = render({.key = "⌘", .width = 46});
  EXPECT_GT(qAlpha(unlit.pixel(13, 44)), 0) << "beside the cap";
  EXPECT_GT(qAlpha(unlit.pixel(60, 75)), 0) << "below the half point the shadow drops";
  const QImage lit = render({.key = "⌘", .width = 46, .held = true});
  EXPECT_EQ(qAlpha(lit.pixel(13, 44)), 0);
  EXPECT_EQ(qAlpha(lit.pixel(60, 75)), 0);
}

}  // namespace
}  // namespace trelliq
