// What a point in a panel refers to, and what the panel reported about where things lie.

#include <gtest/gtest.h>

#include <unordered_map>

#include "switcher/model/PanelGeometry.h"

namespace trelliq {
namespace {

TEST(TileIdentity, EveryPayloadFieldAndTheKindTellIdentitiesApart) {
  std::unordered_map<TileID, int> map;
  map[TileID::cluster("x")] = 1;
  map[TileID::name("x")] = 2;
  map[TileID::resetName("x")] = 3;
  map[TileID::window("x", 0, 1)] = 4;
  map[TileID::window("x", 0, 2)] = 5;
  map[TileID::window("x", 1, 1)] = 6;
  map[TileID::tray(7)] = 7;
  map[TileID::tray(8)] = 8;
  EXPECT_EQ(map.size(), 8u);
  EXPECT_EQ(map.at(TileID::window("x", 0, 2)), 5);
  EXPECT_EQ(TileID::window("x", -1, 3), TileID::window("x", -1, 3));
  EXPECT_NE(TileID::window("x", -1, 3), TileID::window("x", -1, 4));
  EXPECT_EQ(std::hash<TileID>{}(TileID::name("y")), std::hash<TileID>{}(TileID::name("y")));
}

TEST(ReportedFrames, ALaterReportOfTheSameIdentityWins) {
  TileFrames frames;
  frames.set(TileID::cluster("a"), CGRect(0, 0, 10, 10));
  frames.set(TileID::cluster("b"), CGRect(10, 0, 10, 10));
  TileFrames later;
  later.set(TileID::cluster("a"), CGRect(5, 5, 1, 1));
  later.set(TileID::name("a"), CGRect(0, 12, 10, 4));
  frames.merge(later);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(*frames.find(TileID::cluster("a")), CGRect(5, 5, 1, 1));
  EXPECT_EQ(frames.find(TileID::resetName("a")), nullptr);
  // Reports keep the order they first came in.
  EXPECT_EQ(frames.begin()->first, TileID::cluster("a"));
}

TEST(ReportedContent, OnContentChangeFiresOncePerChange) {
  PanelGeometry geometry;
  int calls = 0;
  geometry.onContentChange = [&] { ++calls; };
  EXPECT_TRUE(geometry.content().isNull());
  geometry.setContent(CGRect::null());
  EXPECT_EQ(calls, 0);
  geometry.setContent(CGRect(0, 0, 100, 50));
  geometry.setContent(CGRect(0, 0, 100, 50));
  EXPECT_EQ(calls, 1);
  geometry.setContent(CGRect(1, 0, 100, 50));
  geometry.setContent(CGRect(1, 0, 100, 51));
  EXPECT_EQ(calls, 3);
  geometry.modifyContent([](CGRect& r) { r.origin.y = 9; });
  geometry.modifyContent([](CGRect&) {});
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(geometry.content(), CGRect(1, 9, 100, 51));
  geometry.onContentChange = nullptr;
  geometry.setContent(CGRect(0, 0, 1, 1));  // nobody listening: just stored
  EXPECT_EQ(geometry.content(), CGRect(0, 0, 1, 1));
}

TEST(ReportedContent, ReportsCombineIntoTheirUnion) {
  EXPECT_EQ(PanelGeometry::unite(CGRect::null(), CGRect(1, 2, 3, 4)), CGRect(1, 2, 3, 4));
  EXPECT_EQ(PanelGeometry::unite(CGRect(1, 2, 3, 4), CGRect::null()), CGRect(1, 2, 3, 4));
  EXPECT_TRUE(PanelGeometry::unite(CGRect::null(), CGRect::null()).isNull());
  EXPECT_EQ(PanelGeometry::unite(CGRect(0, 0, 10, 10), CGRect(20, 5, 5, 20)), CGRect(0, 0, 25, 25));
}

class HitTesting : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& t = geometry_.tiles;
    t.set(TileID::cluster("a"), CGRect(0, 0, 100, 100));
    t.set(TileID::window("a", 0, 1), CGRect(10, 10, 50, 50));
    t.set(TileID::window("a", 1, 2), CGRect(30, 30, 50, 50));
    t.set(TileID::name("a"), CGRect(20, 80, 60, 20));
    t.set(TileID::resetName("a"), CGRect(70, 80, 10, 10));
    t.set(TileID::tray(5), CGRect(200, 0, 20, 20));
    t.set(TileID::cluster("b"), CGRect(200, 0, 20, 20));  // the same frame, reported later
  }
  PanelGeometry geometry_;
};

TEST_F(HitTesting, TheFrontMostKindOfTargetWins) {
  EXPECT_EQ(geometry_.hitTest({5, 5}), TileID::cluster("a"));
  EXPECT_EQ(geometry_.hitTest({15, 15}), TileID::window("a", 0, 1));
  EXPECT_EQ(geometry_.hitTest({40, 40}), TileID::window("a", 1, 2));
  EXPECT_EQ(geometry_.hitTest({40, 85}), TileID::name("a"));
  EXPECT_EQ(geometry_.hitTest({75, 85}), TileID::resetName("a"));
}

TEST_F(HitTesting, TiesGoToTheFirstReportAndMaximumEdgesAreOutside) {
  EXPECT_EQ(geometry_.hitTest({210, 10}), TileID::tray(5));
  EXPECT_EQ(geometry_.hitTest({200, 0}), TileID::tray(5));
  EXPECT_EQ(geometry_.hitTest({220, 10}), std::nullopt);
  EXPECT_EQ(geometry_.hitTest({100, 50}), std::nullopt);
  EXPECT_EQ(geometry_.hitTest({-1, -1}), std::nullopt);
  PanelGeometry empty;
  EXPECT_EQ(empty.hitTest({0, 0}), std::nullopt);
}

}  // namespace
}  // namespace trelliq
