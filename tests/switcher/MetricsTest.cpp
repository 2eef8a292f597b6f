// Sizing a display's panel: the icon size that makes its tiles and tray fit, and the
// tile sizes that follow from it.

#include <gtest/gtest.h>

#include <cmath>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/model/Metrics.h"

namespace trelliq {
namespace {

using namespace test;

// `tiles` app tiles spread evenly over `spaces` Spaces (at least one Space group even
// without tiles), plus `wholeSpace` whole-Space tiles in the first one.
DisplayGroup displayOf(double visibleWidth, int tiles, int spaces, int wholeSpace = 0,
                       CGRect frame = CGRect(0, 0, 1440, 900)) {
  std::vector<SpaceGroup> groups;
  for (int s = 0; s < spaces; ++s) groups.push_back(space(s + 1, {}));
  for (int t = 0; t < tiles; ++t) {
    groups[static_cast<std::size_t>(t % spaces)].clusters.push_back(
        appTile(0, t % spaces + 1, app(t + 1), {window(1)}));
  }
  for (int t = 0; t < wholeSpace; ++t) groups[0].clusters.push_back(screenTile(0, 1, {app(99)}, {window(2)}));
  DisplayGroup g = display("D", std::move(groups), std::nullopt, frame);
  g.screen = screen(1, frame, CGRect(0, 0, visibleWidth, frame.height()));
  return g;
}

TEST(PanelMetrics, TheWorkedExamplesComeOut) {
  // One app tile on 1440 points and one tray app: the width allows 1288, the tray 2936.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 1, 1), 1), 104);
  // Thirty app tiles in three Spaces and no tray: about 12.7, so the smallest size.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 30, 3), 0), 40);
  const DisplayGroup hd = displayOf(1920, 1, 1, 0, CGRect(0, 0, 1920, 1080));
  EXPECT_EQ(Metrics::tile(screenTile(0, 1, {}, {}), hd, 100), (CGSize{212, 126}));
  EXPECT_EQ(Metrics::tile(appTile(0, 1, app(1), {}), hd, 100), (CGSize{116, 126}));
  EXPECT_EQ(Metrics::tile(100), (CGSize{116, 126}));
  EXPECT_EQ(Metrics::map(100), 110);
  EXPECT_EQ(Metrics::previewWindow(), (CGSize{456, 321}));
}

TEST(PanelMetrics, TheIconSizeFillsTheWidthBetweenTheLimits) {
  // Ten app tiles in two Spaces: (1440 − 136 − 33 − 112 − 160) ÷ 10 = 99.9.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 10, 2), 1), 99);
  // Two app tiles and a whole-Space tile of aspect 1.6 in one Space:
  // (1440 − 136 − 28 − 48 − 16) ÷ (2 + 1.6) = 336.7, so the maximum.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 2, 1, 1), 1), 104);
  // Six whole-Space tiles: (1440 − 136 − 70 − 96 − 96) ÷ 9.6 = 108.5, capped.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 0, 1, 6), 1), 104);
  // Eight: (1440 − 136 − 98 − 128 − 128) ÷ 12.8 = 74.2.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 0, 1, 8), 1), 74);
  // A long tray limits the size too: (1304 − 6·29) ÷ 30 − 12 = 25.7, ÷ 0.44 = 58.4.
  EXPECT_EQ(Metrics::icon(displayOf(1440, 1, 1), 30), 58);
}

TEST(PanelMetrics, EmptyCountsCountAsOne) {
  // No tiles and no Spaces: one tile in one Space; a tray of none: one app.
  const DisplayGroup bare = displayOf(300, 0, 1);
  DisplayGroup noSpaces = bare;
  noSpaces.spaces.clear();
  // (300 − 136 − 16) ÷ 1 = 148 from the width, ((300 − 136) ÷ 1 − 12) ÷ 0.44 = 345 from the tray.
  EXPECT_EQ(Metrics::icon(bare, 0), 104);
  EXPECT_EQ(Metrics::icon(noSpaces, 0), Metrics::icon(bare, 1));
  // A narrow screen: the width gives 230 − 136 − 16 = 78, the tray (94 − 12) ÷ 0.44 = 186.
  EXPECT_EQ(Metrics::icon(displayOf(230, 0, 1), 0), 78);
}

TEST(PanelMetrics, DegenerateScreensGetTheSmallestIconNeverNaNAndAFlatOneItsWidthAsAspect) {
  // Every tile a whole-Space tile on a screen of no width: nothing to divide by.
  EXPECT_EQ(Metrics::icon(displayOf(0, 0, 1, 3, CGRect(0, 0, 0, 900)), 1), Metrics::minIcon);
  EXPECT_EQ(Metrics::icon(displayOf(0, 4, 2), 0), Metrics::minIcon);
  const double flat = Metrics::icon(displayOf(1440, 0, 1, 2, CGRect(0, 0, 1440, 0)), 1);
  EXPECT_FALSE(std::isnan(flat));
  EXPECT_GE(flat, Metrics::minIcon);
  EXPECT_LE(flat, Metrics::maxIcon);

  EXPECT_EQ(Metrics::aspect(displayOf(100, 0, 1, 0, CGRect(0, 0, 300, 0.5))), 300);
  EXPECT_EQ(Metrics::aspect(displayOf(100, 0, 1, 0, CGRect(0, 0, 300, 1))), 300);
  EXPECT_EQ(Metrics::aspect(displayOf(100, 0, 1, 0, CGRect(0, 0, 300, 2))), 150);
}

}  // namespace
}  // namespace trelliq
