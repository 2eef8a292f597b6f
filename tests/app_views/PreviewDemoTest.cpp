// The live-preview demonstration's stepping on the clock, and its miniature made at the
// pixels it is laid at.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "ViewsDesk.h"
#include "app/views/PreviewDemo.h"

namespace trelliq {
namespace {

TEST(PreviewDemoTest, StepsEveryIntervalAndWrapsAfterTheFourIcons) {
  test::ViewsDesk desk;
  ASSERT_EQ(PreviewDemo::icons().size(), 4u);
  ASSERT_GE(PreviewDemo::tints().size(), PreviewDemo::icons().size()) << "every index reached has a tint";
  PreviewDemo demo;
  demo.start();
  desk.scene.clock.advance(1.09);
  EXPECT_EQ(demo.index(), 0) << "nothing moves before the first interval";
  EXPECT_EQ(demo.fade(), 1);
  desk.scene.clock.advance(0.01);
  EXPECT_EQ(demo.index(), 1);
  EXPECT_LT(demo.fade(), 0.05);
  desk.scene.clock.advance(0.1);
  const double part = demo.fade();
  EXPECT_GT(part, 0.4) << "eased out: more than the linear share early on";
  EXPECT_LT(part, 1);
  desk.scene.clock.advance(0.15);
  EXPECT_EQ(demo.fade(), 1);
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    desk.scene.clock.advance(PreviewDemo::stepInterval);
    seen.push_back(demo.index());
  }
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 0, 1}));
}

TEST(PreviewDemoTest, StoppingTakesTheOwedStepThenHoldsTheIndexAndAStartResumesFromIt) {
  test::ViewsDesk desk;
  PreviewDemo demo(2);
  EXPECT_EQ(demo.index(), 2);
  demo.start();
  demo.start();  // a second start keeps the one timer
  desk.scene.clock.advance(1.1);
  EXPECT_EQ(demo.index(), 3);
  demo.stop();
  EXPECT_FALSE(demo.isRunning());
  EXPECT_EQ(demo.index(), 0) << "the wait cut short still owes its step";
  demo.stop();
  desk.scene.clock.advance(10);
  EXPECT_EQ(demo.index(), 0) << "a stopped demo owes nothing";
  demo.start();
  desk.scene.clock.advance(1.0);
  EXPECT_EQ(demo.index(), 0) << "a restart waits a full interval";
  desk.scene.clock.advance(0.1);
  EXPECT_EQ(demo.index(), 1);
}

TEST(PreviewDemoTest, TheBezelIsAFaintPlateOverASoftShadowThatFallsBelow) {
  test::ViewsDesk desk;
  PreviewDemo demo;
  QImage image(demo.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  demo.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  // The bezel is the 5-point band around the miniature window (140 × 90, centred at the top).
  const int left = (demo.width() - 140) / 2;
  const int top = qAlpha(image.pixel(75, 2));
  const int side = qAlpha(image.pixel(left + 2, 45));
  const int bottom = qAlpha(image.pixel(75, 86));
  EXPECT_LT(top, 45) << "8 % of the primary colour, no opaque shape beneath";
  EXPECT_LT(side, 45);
  EXPECT_GT(bottom, top + 6) << "the shadow falls a point down, blurred";
  EXPECT_GT(qAlpha(image.pixel(75, 45)), 250) << "the miniature window itself is opaque";
}

TEST(PreviewDemoTest, AtADoubledScaleTheMiniatureIsMadeAtTheDevicesPixels) {
  test::ViewsDesk desk;
  PreviewDemo demo;
  // As a window's surface draws at a backing scale of two.
  QImage image(demo.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.scale(2, 2);
  demo.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
  EXPECT_EQ(demo.keptScale(), 2) << "a miniature made at one pixel a point is enlarged smoothly on every frame";
  EXPECT_GT(qAlpha(image.pixel(150, 90)), 250) << "the miniature window is drawn, opaque";
}

}  // namespace
}  // namespace trelliq
