// What a display capture shows of a panel drawn by the real views: the window server
// composes the clear panel window, so its glass must tint the display across the whole
// content, not only where the tiles are.

#include "SwitcherPanelsStage.h"
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
    const NSScreen& screen = switcher->model.display(display)->screen;
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
  ASSERT_TRUE(switcher->shown);
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
    const double height = switcher->model.display(display)->screen.frame().height();
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
  switcher->cancel(false);
  scene.clock.advance(1.0);
  ASSERT_FALSE(switcher->shown);
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

}  // namespace
}  // namespace trelliq::panels
