// The mode pictures and the looping demonstrations: what they draw for each mode and size,
// and the demonstrations' pace on the virtual clock.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPainter>

#include "guide/InlineKeys.h"
#include "preferences/PreferencesText.h"
#include "preferences/TileStylePicture.h"
#include "preferences/TilesDemo.h"
#include "preferences/TilesOverview.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "ui/DemoIcons.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

using Tiles = Settings::Tiles;

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override { test::ensureWidgets(); }
  static QImage render(Tiles style, double scale) {
    const QSizeF size = TileStylePicture::pictureSize(style, scale);
    QImage image(size.toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    TileStylePicture::paint(painter, QPointF(0, 0), style, scale);
    return image;
  }
  static std::vector<std::string> keyRow(const TilesDemo& demo) {
    std::vector<std::string> row;
    for (const auto& item : demo.keys().items()) {
      row.push_back(item.cap.key + (item.cap.pressed ? "↓" : "") + (item.cap.held ? "*" : ""));
    }
    return row;
  }
  Scene scene{Scene::Start::defaultScenario};
};

// The demonstration's heading is in the secondary style of the appearance.
TEST_F(Pictures, TheDemoHeadingStandsOutInBothAppearances) {
  for (const bool dark : {true, false}) {
    scene.setDark(dark);
    TilesDemo demo(TilesDemo::Kind::apps, "⌘", "App tiles", false);
    QLabel& heading = *demo.findChild<QLabel*>();
    heading.resize(heading.sizeHint());
    QImage image(heading.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(ui::windowBackground());
    heading.render(&image, {}, {}, QWidget::DrawChildren);
    int lightest = 0, darkest = 255;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        lightest = std::max(lightest, qGray(image.pixel(x, y)));
        darkest = std::min(darkest, qGray(image.pixel(x, y)));
      }
    }
    const int ground = qGray(ui::windowBackground().rgb());
    if (dark) EXPECT_GT(lightest, ground + 60);
    else EXPECT_LT(darkest, ground - 60);
  }
}

TEST_F(Pictures, HybridIsDrawnAsWindowTilesAndOnlyTheFirstTileIsHighlighted) {
  EXPECT_EQ(render(Tiles::both, 0.7), render(Tiles::windows, 0.7));
  EXPECT_NE(render(Tiles::apps, 0.7), render(Tiles::windows, 0.7));
  // The highlight darkens the first tile's corner; the second tile's corner shows the plate.
  const QImage apps = render(Tiles::apps, 1);
  EXPECT_LT(qGray(apps.pixel(10, 28)), qGray(apps.pixel(10 + 48, 28)) - 40);
  ASSERT_EQ(TileStylePicture::icons().size(), 4u);
  EXPECT_EQ(TileStylePicture::icons()[2], DemoIcons::top()[2]);
}

TEST_F(Pictures, LengthsScaleButHairlinesStay) {
  const QSizeF full = TileStylePicture::pictureSize(Tiles::apps, 1);
  const QSizeF small = TileStylePicture::pictureSize(Tiles::apps, 0.45);
  // Only the 1-point divider does not shrink.
  EXPECT_NEAR(small.width() - 1, (full.width() - 1) * 0.45, 1e-9);
  EXPECT_NEAR(small.height(), full.height() * 0.45, 1e-9);
  EXPECT_DOUBLE_EQ(full.height(), 56);
  EXPECT_DOUBLE_EQ(TileStylePicture::pictureSize(Tiles::windows, 1).height(), 74);
}

TEST_F(Pictures, TheDemoStepsEveryOnePointTwoTwoSecondsWithTheTabDownBetween) {
  TilesDemo demo(TilesDemo::Kind::apps, "⌘", "App tiles", false);
  EXPECT_EQ(demo.step(), 0);
  EXPECT_EQ(keyRow(demo), (std::vector<std::string>{"⌘*", "⇥"}));
  scene.clock.advance(0.999);
  EXPECT_EQ(demo.step(), 0);
  scene.clock.advance(0.002);
  EXPECT_EQ(demo.step(), 1);
  EXPECT_TRUE(demo.keyDown());
  EXPECT_EQ(keyRow(demo), (std::vector<std::string>{"⌘*", "⇥↓"}));
  scene.clock.advance(0.22);
  EXPECT_FALSE(demo.keyDown());
  EXPECT_EQ(keyRow(demo), (std::vector<std::string>{"⌘*", "⇥"}));
  // Three more cycles come back round to Mail.
  scene.clock.advance(3 * 1.22);
  EXPECT_EQ(demo.step(), 0);
  demo.setPlaying(false);
  const int stopped = demo.step();
  scene.clock.advance(5);
  EXPECT_EQ(demo.step(), stopped);
  EXPECT_FALSE(demo.keyDown());
}

TEST_F(Pictures, TheWindowDemoMovesToTheSecondDesktopAtStepTwo) {
  TilesDemo demo(TilesDemo::Kind::windows, "⌥", "Window tiles", true);
  EXPECT_EQ(keyRow(demo), (std::vector<std::string>{"⌥*", "⇥"}));
  std::vector<std::pair<int, int>> shown;
  for (int i = 0; i < 4; ++i) {
    shown.emplace_back(TilesDemo::currentDesktop(demo.step()), TilesDemo::frontWindow(demo.step()));
    scene.clock.advance(1.22);
  }
  EXPECT_EQ(shown, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
  EXPECT_EQ(TilesDemo::sizes(true).height, 96);
  EXPECT_EQ(TilesDemo::sizes(false).tileW, 100);
}

TEST_F(Pictures, EachStepMovesOverFifteenHundredthsEasingOutAndTheTabComesUpOverTwelve) {
  TilesDemo demo(TilesDemo::Kind::windows, "⌘", "Window tiles", false);
  const auto tab = [&] { return demo.keys().litness(1); };
  EXPECT_EQ(demo.front(0, 0), 1);
  EXPECT_EQ(demo.shown(0), 1);
  scene.clock.advance(1.0 + 0.075);  // half-way into the change from Mail to Safari
  const double safari = demo.front(0, 1);
  EXPECT_GT(safari, 0.6) << "more than half the way at half the time: eased out";
  EXPECT_LT(safari, 0.9);
  EXPECT_NEAR(demo.front(0, 0), 1 - safari, 1e-9);
  EXPECT_NEAR(demo.shown(1), safari, 1e-9) << "Safari's name comes in with its window";
  EXPECT_NEAR(demo.shown(0), 1 - safari, 1e-9);
  EXPECT_NEAR(tab(), safari, 1e-9) << "the tab goes down with the step";
  scene.clock.advance(0.075);
  EXPECT_EQ(demo.front(0, 1), 1);
  EXPECT_EQ(demo.shown(0), 0);
  EXPECT_EQ(tab(), 1);
  scene.clock.advance(0.07 + 0.06);  // half-way up, 0.22 s after the press
  EXPECT_GT(tab(), 0.1);
  EXPECT_LT(tab(), 0.5);
  scene.clock.advance(0.06);
  EXPECT_EQ(tab(), 0);
}

// The panel wraps the desktops' labels and tiles in 6 above and the bottom padding below,
// in the middle of the miniature's height; the divider starts 18 below the labels' top.
TEST_F(Pictures, TheDemoPanelIsPaddedSixAboveAndItsBottomPaddingBelowInTheMiddleOfItsFrame) {
  struct Row {
    TilesDemo::Kind kind;
    bool compact;
    double panel;  // 6, the label's 12 and 4, the tile, the bottom padding
  };
  for (const Row& row :
       {Row{TilesDemo::Kind::apps, false, 6 + 16 + 54 + 10}, Row{TilesDemo::Kind::apps, true, 6 + 16 + 46 + 8},
        Row{TilesDemo::Kind::windows, false, 6 + 16 + 79.5 + 10},
        Row{TilesDemo::Kind::windows, true, 6 + 16 + 64 + 8}}) {
    TilesDemo demo(row.kind, "⌘", "Tiles", row.compact, TilesDemo::Start::still);
    demo.resize(400, demo.sizeHint().height());
    demo.layout()->activate();
    const double frame = TilesDemo::sizes(row.compact).height;
    QWidget* miniature = nullptr;
    for (QWidget* child : demo.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->height() == frame + 18) miniature = child;
    }
    ASSERT_NE(miniature, nullptr);
    QImage image(miniature->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    miniature->render(&image, {}, {}, QWidget::DrawChildren);
    // Down the middle: the panel's plate, and the divider over it.
    const int x = image.width() / 2, plate = qAlpha(ui::primary(0.07).rgba());
    int top = -1, bottom = -1, divider = -1;
    for (int y = 0; y < image.height(); ++y) {
      const int alpha = qAlpha(image.pixel(x, y));
      if (alpha >= plate / 2) {
        if (top < 0) top = y;
        bottom = y;
      }
      if (divider < 0 && alpha > plate + 5) divider = y;
    }
    const std::string what =
        (row.kind == TilesDemo::Kind::apps ? "apps" : "windows") + std::string(row.compact ? " compact" : "");
    EXPECT_NEAR(bottom + 1 - top, row.panel, 1) << what;
    EXPECT_NEAR(top, (frame - row.panel) / 2, 1) << what;
    EXPECT_NEAR(divider - top, 6 + 18, 1) << what;
  }
}

TEST_F(Pictures, TheOverviewHasItsDemosAndCaptionPerModeAndAFixedHeight) {
  struct Row {
    Tiles style;
    std::vector<std::string> holds;
    bool compact;
    std::string caption;
  };
  const std::vector<Row> rows = {
      {Tiles::apps, {"⌘"}, false, "Hold ⌘ and press ⇥ to step through your apps. Let go to switch."},
      {Tiles::windows, {"⌘"}, false,
       "Hold ⌘ and press ⇥ to step through your windows, desktop by desktop. Let go to switch."},
      {Tiles::both, {"⌘", "⌥"}, true, "⌘⇥ steps through your apps, ⌥⇥ through your windows. Let go to switch."},
  };
  for (const Row& row : rows) {
    TilesOverview overview(row.style);
    std::vector<std::string> holds;
    for (const TilesDemo* demo : overview.demos()) {
      holds.push_back(demo->hold());
      EXPECT_EQ(demo->compact(), row.compact);
    }
    EXPECT_EQ(holds, row.holds);
    EXPECT_EQ(TilesOverview::caption(row.style), row.caption);
    EXPECT_EQ(overview.height(), TilesOverview::fixedHeight + 8);
    EXPECT_EQ(overview.minimumHeight(), overview.maximumHeight());
  }
}

// A window card's shadow is blurred over the picture's scale: at four pixels a point it
// still shades the plate beyond the half point a sharp, widened copy of the card reaches.
TEST_F(Pictures, WindowCardsCastABlurredShadow) {
  const double s = 2;
  QImage image((TileStylePicture::pictureSize(Tiles::windows, s) * 4).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(4);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    TileStylePicture::paint(painter, QPointF(0, 0), Tiles::windows, s);
  }
  // The first desktop's first card: 8 of plate padding and 5 of desktop padding in, then
  // 4 % of the 68-point-wide desktop; its middle 41 % of the 42-point height down.
  const double cardLeft = 4 * s * (8 + 5 + 0.04 * 68), middle = 4 * s * (8 + 5 + 0.41 * 42);
  const int y = static_cast<int>(middle), plate = qAlpha(image.pixel(static_cast<int>(4 * s * 10), y));
  int shade = 0;
  for (int x = static_cast<int>(cardLeft - 4 * s * 1.5); x < static_cast<int>(cardLeft - 4 * s * 0.5); ++x) {
    shade += qAlpha(image.pixel(x, y)) - plate;
  }
  EXPECT_GE(shade, 4);
}

TEST(PreferencesWords, CaptionsAndLinesFollowTheStoredStrings) {
  EXPECT_EQ(PreferencesText::previewCaption("fullScreen", false), "Just the switcher");
  EXPECT_EQ(PreferencesText::previewCaption("none", true), "Just the switcher");
  EXPECT_EQ(PreferencesText::previewCaption("", true), "A small picture of the window, above the switcher");
  EXPECT_EQ(PreferencesText::desktopsCaption("whenEmpty"), "A stop for each desktop with no windows");
  EXPECT_EQ(PreferencesText::desktopsCaption("WhenEmpty"), PreferencesText::desktopsCaption("always"));
  EXPECT_EQ(PreferencesText::gestureSubtitle("fourFingerDoubleTap"),
            "Double tap with four fingers to open or close the switcher");
  using C = Settings::HotCorner;
  EXPECT_EQ(PreferencesText::hotCornerState({C::bottomRight, C::topLeft, C::bottomLeft}),
            "Top left, bottom left and bottom right");
  EXPECT_EQ(PreferencesText::hotCornerHint({C::topLeft}), "Works on every display. Click a corner again to turn it off");
  EXPECT_TRUE(PreferencesText::recommendsInstantSpaces("fullScreen", false, true));
  EXPECT_FALSE(PreferencesText::recommendsInstantSpaces("fullScreen", false, false));
  EXPECT_FALSE(PreferencesText::recommendsInstantSpaces("thumbnail", false, true));
}

}  // namespace
}  // namespace trelliq
