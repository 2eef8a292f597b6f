// The small pieces of a switcher tile as laid-out nodes: icons, badges, dots and the
// selection highlight.

#include <gtest/gtest.h>

#include <QImage>
#include <memory>

#include "Snapshots.h"
#include "switcher/layout/TileParts.h"

namespace trelliq::scene {
namespace {

using namespace test;

const Node& child(const Node& n, const std::string& key) {
  for (const Node& c : n.children) {
    if (c.key == key) return c;
  }
  ADD_FAILURE() << "no child " << key << " under " << n.key;
  static const Node none;
  return none;
}

CGImageRef picture() { return std::make_shared<const CGImage>(QImage(8, 8, QImage::Format_ARGB32)); }

TEST(TileParts, IconsDrawTheirArtworkAtTheSizeAndShowAtMostTwoApps) {
  const Node icon = appIcon(picture(), 40);
  const CGRect image = child(icon, "image").frame;  // 40 ÷ 0.805, centred, not clipped
  EXPECT_EQ(icon.frame, CGRect(0, 0, 40, 40));
  EXPECT_NEAR(image.width(), 49.69, 0.01);
  EXPECT_NEAR(image.midX(), 20, 1e-9);

  AppInfo a = app(1), b = app(2);
  b.icon = picture();
  EXPECT_EQ(tileIcon({a}, 100).children.size(), 1u);
  const Node three = tileIcon({a, b, app(3)}, 100);
  ASSERT_EQ(three.children.size(), 2u);
  EXPECT_EQ(three.children[1].frame, CGRect(63, 63, 45, 45));  // 100 − 45 + 8
  EXPECT_EQ(std::get<Picture>(three.children[1].children[0].content).image, b.icon);
}

TEST(TileParts, ADesktopIconIsAWidePictureCentredInItsSquare) {
  const Node bare = desktopIcon(CGImage::empty(), 100);  // 0 × 0: no picture
  const Node& plate = child(bare, "picture");
  EXPECT_EQ(plate.frame, CGRect(0, 17.5, 100, 65));
  EXPECT_EQ(std::get<Picture>(plate.content).placeholder, (Paint{Paint::Tone::primary, 0.15}));
  EXPECT_EQ(std::get<Picture>(plate.content).cornerRadius, 8);
  EXPECT_EQ(std::get<Symbol>(child(plate, "symbol").content),
            (Symbol{"menubar.dock.rectangle", 30, Weight::regular, Paint{Paint::Tone::secondary, 1}}));

  const Node withWallpaper = desktopIcon(picture(), 55);
  const Node& filled = child(withWallpaper, "picture");
  EXPECT_TRUE(filled.children.empty());
  EXPECT_FALSE(std::get<Picture>(filled.content).placeholder);
  EXPECT_EQ(filled.frame.height(), 36);  // 0.65 × 55 = 35.75
}

TEST(TileParts, ABadgeSitsOnItsCornerAndReachesPastIt) {
  const CGRect icon(10, 20, 104, 104);
  // 104 × 0.32 = 33.28 → 33, moved 6.6 past the corner.
  for (const auto& [below, y] : {std::pair{false, 20 - 6.6}, std::pair{true, 124 - 33 + 6.6}}) {
    const Node badge = iconBadge({.symbol = "minus", .help = "Minimized", .size = 104, .below = below}, icon);
    EXPECT_NEAR(badge.frame.minX(), 114 - 33 + 6.6, 1e-9);
    EXPECT_NEAR(badge.frame.minY(), y, 1e-9) << below;
    EXPECT_EQ(badge.frame.size, (CGSize{33, 33}));
    EXPECT_EQ(badge.help, "Minimized");
    EXPECT_EQ(std::get<Symbol>(child(badge, "symbol").content),
              (Symbol{"minus", 16.5, Weight::semibold, Paint{Paint::Tone::white, 1}}));
  }
}

TEST(TileParts, DotsCountUpToNineWindowsAndMarkThePickedOne) {
  EXPECT_EQ(windowDots({window(1)}, 0).frame, CGRect(0, 0, 0, 5));
  EXPECT_TRUE(windowDots({window(1)}, 0).children.empty());

  std::vector<WindowInfo> twelve;
  for (std::uint32_t i = 0; i < 12; ++i) twelve.push_back(window(i + 1, 100, i == 3));
  const Node row = windowDots(twelve, 2);
  ASSERT_EQ(row.children.size(), 9u);
  EXPECT_EQ(row.frame, CGRect(0, 0, 8 * 5 + 8 + 8 * 4, 5));
  EXPECT_EQ(row.children[2].frame, CGRect(18, -1.5, 8, 8));  // past the row by 1.5 each way
  EXPECT_EQ(row.children[3].frame, CGRect(30, 0, 5, 5));
  EXPECT_EQ(row.children[2].key, std::to_string(twelve[2].id));
  const double opacities[] = {0.65, 0.65, 1, 0.25, 0.65};
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(std::get<Shape>(row.children[k].content).fill->opacity, opacities[k]) << k;
  }
  for (const Node& dot : windowDots(twelve, 10).children) EXPECT_EQ(dot.frame.width(), 5);
}

TEST(TileParts, TheHighlightCoversTheTopSquareUnlessExtended) {
  const CGSize tile{116, 126};
  const std::tuple<bool, std::optional<double>, double> cases[] = {
      {false, 108.0, 108}, {true, 108.0, 126}, {false, std::nullopt, 126}, {false, 500.0, 126}};
  for (const auto& [extended, square, height] : cases) {
    const Node shape = highlight({.selected = true, .extended = extended, .radius = 20, .square = square}, tile);
    const Node& rect = child(shape, "selection");
    EXPECT_EQ(rect.frame, CGRect(0, 0, 116, height)) << extended;
    EXPECT_EQ(rect.transitions.frame, (Animation{0.18, Animation::Curve::easeOut}));
    EXPECT_FALSE(rect.transitions.opacity);
    EXPECT_EQ(shape.children.size(), 1u);
  }
  // In front but not selected: the bar, and the rectangle keeps its place unseen.
  const Node front = highlight({.here = true, .square = 108.0}, tile);
  EXPECT_EQ(child(front, "selection").opacity, 0);
  EXPECT_EQ(child(front, "front").frame, CGRect(50, 2.5, 16, 3));
  EXPECT_EQ(std::get<Shape>(child(front, "front").content).fill, (Paint{Paint::Tone::primary, 0.4}));
}

}  // namespace
}  // namespace trelliq::scene
