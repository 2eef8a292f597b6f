// A key cap drawn on its own: its measured size and its lit plate.

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <cmath>

#include "support/WidgetsApp.h"
#include "ui/KeyCap.h"
#include "ui/Paint.h"

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

// The label's 6.5 points are exact: at two pixels a point its text is the 13-pixel text,
// measured and drawn, not the 14 pixels a size rounded up to 7 points would give.
TEST_F(KeyCapViews, ALabelIsSixAndAHalfPointsMeasuredAndDrawn) {
  const QString word = "command";
  const double thirteen = QFontMetricsF(ui::systemFont(13)).horizontalAdvance(word);
  const KeyCapLook look{.key = "", .label = word.toStdString()};
  EXPECT_NEAR(KeyCap::capSize(look).width(), std::ceil(thirteen / 2) + 2 * look.padding(), 1);

  // The ink's width across: the word drawn alone at 13 pixels, and the cap's label doubled.
  const auto inkWidth = [](const QImage& image) {
    int left = image.width(), right = -1;
    for (int y = 4; y < image.height() - 4; ++y) {
      for (int x = 4; x < image.width() - 4; ++x) {
        if (qGray(image.pixel(x, y)) >= 200) continue;
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
    return right - left + 1;
  };
  QImage alone(200, 40, QImage::Format_ARGB32_Premultiplied);
  alone.fill(Qt::white);
  {
    QPainter painter(&alone);
    painter.setFont(ui::systemFont(13));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, 0, 200, 40), Qt::AlignCenter, word);
  }
  QImage cap((KeyCap::capSize(look) * 2).toSize(), QImage::Format_ARGB32_Premultiplied);
  cap.setDevicePixelRatio(2);
  cap.fill(Qt::white);
  {
    QPainter painter(&cap);
    KeyCap::paint(painter, {0, 0}, look);
  }
  EXPECT_NEAR(inkWidth(cap), inkWidth(alone), 1.5);
}

}  // namespace
}  // namespace trelliq
