// What a display capture shows of a panel drawn by the real views: the window server
// composes the clear panel window, so its glass must tint the display across the whole
// content, not only where the tiles are.

#include "DisplayPanelsStage.h"
#include "platform/ScreenCaptureKit.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

class PanelGlassCaptureTest : public PanelsStage {
 protected:
  PanelGlassCaptureTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    scene.world.setScreenCaptureAllowed(true);
    PanelViews::install(views_.get());
  }
  ~PanelGlassCaptureTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  // The whole display at one pixel per point.
  CGImageRef capture(int display) {
    const NSScreen& screen = switcher->model().display(display)->screen;
    const CGRect f = screen.frame();
    SCContentFilter filter;
    filter.display = SCDisplay{*screen.displayNumber(), static_cast<int>(f.width()), static_cast<int>(f.height())};
    return SCScreenshotManager::captureImageNow(
        filter, SCStreamConfiguration{.width = static_cast<int>(f.width()), .height = static_cast<int>(f.height())});
  }

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelGlassCaptureTest, BothPanelsGlassTintsTheDisplayAcrossTheContent) {
  setPreview("none");
  holdSession();
  scene.clock.advance(1.0);  // past the fade-in
  ASSERT_TRUE(switcher->session().isShown());
  std::vector<CGImageRef> shownCaptures;
  std::vector<int> rows;
  std::vector<std::pair<int, int>> spans;
  // Display 1 is the one without the pointer: its panel is drawn faded, over the dark
  // build window, where the dark glass changes the backdrop by a level or two only; any
  // change counts as glass.
  for (int display : {0, 1}) {
    SCOPED_TRACE(display);
    const CGRect content = geometry(display).content();
    ASSERT_FALSE(content.isNull()) << "the view reported its content";
    const CGImageRef shown = capture(display);
    ASSERT_TRUE(shown);
    const double height = switcher->model().display(display)->screen.frame().height();
    // A row just inside the glass's top, above the tiles; the columns clear of the rounded
    // corners (the radius is at most half the height).
    const int y = static_cast<int>(height - content.maxY()) + 4;
    const int from = static_cast<int>(content.minX() + content.height() / 2);
    const int to = static_cast<int>(content.maxX() - content.height() / 2);
    ASSERT_LT(from, to);
    shownCaptures.push_back(shown);
    rows.push_back(y);
    spans.emplace_back(from, to);
  }
  switcher->session().cancel(false);
  scene.clock.advance(1.0);
  ASSERT_FALSE(switcher->session().isShown());
  for (int display : {0, 1}) {
    SCOPED_TRACE(display);
    const CGImageRef bare = capture(display);
    const CGImageRef& shown = shownCaptures[static_cast<std::size_t>(display)];
    const int y = rows[static_cast<std::size_t>(display)];
    const auto [from, to] = spans[static_cast<std::size_t>(display)];
    int untinted = 0, first = -1;
    for (int x = from; x < to; ++x) {
      if ((shown->pixel(x, y) & 0xFFFFFF) == (bare->pixel(x, y) & 0xFFFFFF)) {
        ++untinted;
        if (first < 0) first = x;
      }
    }
    EXPECT_EQ(untinted, 0) << "columns " << from << "–" << to << " at row " << y << ": the glass is missing from "
                           << first;
  }
}

// The glass as the system offers it: without the private variant a pane is clear, so the
// desk shows through with little blur, and has no haze. A sharp edge lies behind the
// panel's glass: a light and a dark strip meeting under its middle.
class GlassStyleCaptureTest : public PanelGlassCaptureTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GlassStyleCaptureTest, TheDeskShowsThroughClearGlassWithoutHazeAndFrostedThroughTheVariant) {
  const bool variant = GetParam();
  scene.world.setGlassVariantAvailable(variant);
  constexpr std::uint32_t kLight = 0xE0E0E0, kDark = 0x202020;
  for (const bool left : {true, false}) {
    sim::Window strip;
    strip.pid = sim::WindowServer::kWindowServerPID;
    strip.layer = 20;
    strip.subrole = "";
    strip.allSpaces = true;
    strip.color = left ? kLight : kDark;
    strip.bounds = CGRect(left ? 0 : kBuiltInFrame.width() / 2, 0, kBuiltInFrame.width() / 2, kBuiltInFrame.height());
    scene.windowServer.addWindow(strip);
  }
  setPreview("none");
  holdSession();
  scene.clock.advance(1.0);  // past the fade-in
  ASSERT_TRUE(switcher->session().isShown());
  const CGRect content = geometry(0).content();
  ASSERT_FALSE(content.isNull());
  const CGImageRef shown = capture(0);
  ASSERT_TRUE(shown);
  // A row just inside the glass's top, above the tiles; the edge under its middle.
  const int y = static_cast<int>(kBuiltInFrame.height() - content.maxY()) + 4;
  const int edge = static_cast<int>(kBuiltInFrame.width() / 2);
  ASSERT_GT(content.width(), 200);

  // Far from the edge the glass tints the strip: glass over haze over the strip.
  const double haze = variant ? Session::clearEndHaze : 0, glass = 150.0 / 255;
  const auto tinted = [&](std::uint32_t rgb) {
    const double behind = rgb & 0xFF;
    return (behind * (1 - haze) + 18 * haze) * (1 - glass) + 38 * glass;
  };
  const int light = qBlue(shown->pixel(edge - 60, y)), dark = qBlue(shown->pixel(edge + 60, y));
  EXPECT_NEAR(light, tinted(kLight), 5);
  EXPECT_NEAR(dark, tinted(kDark), 5);

  // Across the edge the frosted glass blurs over many points, the clear glass over few.
  int between = 0;
  for (int x = edge - 50; x < edge + 50; ++x) {
    const int v = qBlue(shown->pixel(x, y));
    between += v < light - 6 && v > dark + 6;
  }
  if (variant) {
    EXPECT_GT(between, 12);
  } else {
    EXPECT_LT(between, 8);
  }
}

INSTANTIATE_TEST_SUITE_P(Variant, GlassStyleCaptureTest, ::testing::Bool());

}  // namespace
}  // namespace trelliq::panels
