// Spreading the window pictures of a whole-Space tile so that overlapping windows stay
// visible and inside the tile.

#include <gtest/gtest.h>

#include "switcher/model/WindowSpread.h"

namespace trelliq {
namespace {

const CGRect kBounds(0, 0, 400, 300);

double overlapWidth(const CGRect& a, const CGRect& b) {
  const CGRect o = a.intersection(b);
  return o.isNull() ? 0 : o.width();
}

TEST(WindowSpread, PicturesThatDoNotOverlapByMoreThanHalfAPointAreOnlyShrunk) {
  const std::map<int, CGRect> one{{3, CGRect(10.3, 20.7, 55.5, 40.2)}};
  EXPECT_EQ(spread(one, kBounds), one);  // a lone picture is left exactly as it came
  EXPECT_TRUE(spread({}, kBounds).empty());

  auto out = spread({{0, CGRect(0, 0, 100, 100)}, {1, CGRect(200, 0, 100, 60)}}, kBounds);
  // 85 % about the centre, rounded outward: 7.5 … 92.5 becomes 7 … 93.
  EXPECT_EQ(out.at(0), CGRect(7, 7, 86, 86));
  EXPECT_EQ(out.at(1), CGRect(207, 4, 86, 52));
  // After shrinking, these two overlap by exactly 0.5 point across.
  out = spread({{0, CGRect(0, 0, 100, 100)}, {1, CGRect(84.5, 0, 100, 100)}}, kBounds);
  EXPECT_EQ(out.at(0), CGRect(7, 7, 86, 86));
  EXPECT_EQ(out.at(1), CGRect(92, 7, 85, 86));  // 92 … 177 is whole already
}

TEST(WindowSpread, TallTwinsArePushedSidewaysTheSmallerKeyToTheLeft) {
  const CGRect tall(150, 50, 40, 200);
  const auto out = spread({{7, tall}, {2, tall}}, kBounds);
  EXPECT_LT(out.at(2).midX(), out.at(7).midX());
  EXPECT_EQ(out.at(2).minY(), out.at(7).minY());  // not moved vertically
  EXPECT_EQ(out.at(2).width(), 35);               // 34 wide, rounded outward
  // Pushed until at most half a point overlaps, plus what rounding outward adds.
  EXPECT_LE(overlapWidth(out.at(2), out.at(7)), 2.5);
  EXPECT_GT(overlapWidth(out.at(2), out.at(7)), 0);  // and not further
}

TEST(WindowSpread, AWideOverlapPushesVerticallyTheHigherOneUp) {
  const auto out = spread({{0, CGRect(100, 100, 100, 100)}, {1, CGRect(100, 150, 100, 100)}}, kBounds);
  EXPECT_LT(out.at(0).minY(), 107);  // moved up from its shrunk place
  EXPECT_GT(out.at(1).minY(), 157);  // moved down
  EXPECT_EQ(out.at(0).minX(), 107);  // not moved sideways
  EXPECT_LE(out.at(0).maxY() - out.at(1).minY(), 2.5);
}

TEST(WindowSpread, APicturePushedPastAnEdgeStopsOnItAndItsPartnerKeepsMoving) {
  const auto out = spread({{0, CGRect(0, 0, 100, 100)}, {1, CGRect(0, 50, 100, 100)}}, kBounds);
  EXPECT_EQ(out.at(0).minY(), 0);  // held at the top edge
  EXPECT_GT(out.at(1).minY(), 57.5);
  EXPECT_LE(out.at(0).maxY() - out.at(1).minY(), 2.5);
  for (const auto& [key, r] : out) EXPECT_TRUE(CGRect(-1, -1, 402, 302).contains(r)) << key;
}

TEST(WindowSpread, APairThatCannotSeparateEndsAtThePassLimit) {
  // Larger than the bounds: both are held on the left and top edges and never part.
  const auto out = spread({{0, CGRect(0, 0, 100, 100)}, {1, CGRect(0, 0, 100, 100)}}, CGRect(0, 0, 50, 50));
  EXPECT_EQ(out.at(0), CGRect(0, 0, 85, 85));
  EXPECT_EQ(out.at(1), CGRect(0, 0, 85, 85));
}

TEST(WindowSpread, ManyOverlappingPicturesAllStayInside) {
  std::map<int, CGRect> frames;
  for (int i = 0; i < 30; ++i) frames[i] = CGRect(100 + i, 80 + (i % 3), 120, 90);
  const auto out = spread(frames, kBounds);
  ASSERT_EQ(out.size(), frames.size());
  for (const auto& [key, r] : out) {
    EXPECT_GE(r.minX(), 0) << key;
    EXPECT_GE(r.minY(), 0) << key;
    EXPECT_LE(r.maxX(), 401) << key;
    EXPECT_LE(r.maxY(), 301) << key;
  }
}

}  // namespace
}  // namespace trelliq
