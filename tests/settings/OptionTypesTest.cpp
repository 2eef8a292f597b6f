// The option types as values: stored names, parsing and printing of hot-corner lists,
// gestures by finger count.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/Settings.h"

namespace trelliq {
namespace {

using Corner = Settings::HotCorner;

std::string storedOf(std::string_view text) { return Corner::stored(Corner::set(text)); }

TEST(OptionTypes, CasesInOrderAndOnlyExactNamesParse) {
  for (const auto tiles : Settings::Tiles::allCases()) {
    EXPECT_EQ(Settings::Tiles::fromRaw(tiles.rawValue()), tiles);
  }
  for (const auto corner : Corner::allCases()) EXPECT_EQ(Corner::fromRaw(corner.rawValue()), corner);
  EXPECT_EQ(Settings::Desktops::fromRaw("firstWhenEmpty"), Settings::Desktops::firstWhenEmpty);
  EXPECT_EQ(Settings::Preview::fromRaw("fullScreen"), Settings::Preview::fullScreen);
  EXPECT_EQ(Settings::Names::fromRaw("always"), Settings::Names::always);

  std::vector<std::string_view> names;
  for (const auto corner : Corner::allCases()) names.push_back(corner.title());
  EXPECT_EQ(names, (std::vector<std::string_view>{"top left", "top right", "bottom left", "bottom right"}));

  for (const char* wrong : {"", "Apps", "apps ", " apps", "app", "fullscreen", "always\n"}) {
    EXPECT_FALSE(Settings::Tiles::fromRaw(wrong)) << '"' << wrong << '"';
    EXPECT_FALSE(Settings::Preview::fromRaw(wrong)) << '"' << wrong << '"';
  }
}

TEST(HotCornerText, KeepsOnlyExactPiecesAndStoresInCaseOrder) {
  struct Row {
    const char* text;
    const char* stored;
  };
  const Row rows[] = {
      {"", ""},
      {",,,", ""},
      {"topLeft", "topLeft"},
      {"bottomRight,topLeft", "topLeft,bottomRight"},
      {"topLeft,,bottomLeft", "topLeft,bottomLeft"},
      {"topLeft, bottomLeft", "topLeft"},  // a blank is part of the piece
      {" topLeft", ""},
      {"topleft,TopRight,bottomRigth", ""},
      {"topRight,topRight,topRight", "topRight"},
      {"bottomRight,bottomLeft,topRight,topLeft,", "topLeft,topRight,bottomLeft,bottomRight"},
  };
  for (const Row& row : rows) EXPECT_EQ(storedOf(row.text), row.stored) << '"' << row.text << '"';
}

TEST(HotCornerText, ListsTitlesAsProse) {
  EXPECT_EQ(Corner::list({}, true), "");
  EXPECT_EQ(Corner::list({Corner::bottomRight}, false), "bottom right");
  EXPECT_EQ(Corner::list({Corner::bottomLeft, Corner::topLeft}, true), "top left or bottom left");
  EXPECT_EQ(Corner::list({Corner::bottomLeft, Corner::topLeft}, false), "top left and bottom left");
  EXPECT_EQ(Corner::list({Corner::bottomRight, Corner::topRight, Corner::topLeft}, false),
            "top left, top right and bottom right");
  EXPECT_EQ(Corner::list(Corner::set("bottomRight,bottomLeft,topRight,topLeft"), true),
            "top left, top right, bottom left or bottom right");
}

TEST(GestureValues, FingersAndTitles) {
  for (int fingers = -1; fingers <= 6; ++fingers) {
    const auto gesture = Settings::Gesture::fromFingers(fingers);
    if (fingers == 3 || fingers == 4) {
      ASSERT_TRUE(gesture);
      EXPECT_EQ(gesture->fingers(), fingers);
    } else {
      EXPECT_FALSE(gesture) << fingers;
    }
  }
  EXPECT_EQ(Settings::Gesture(Settings::Gesture::threeFingerDoubleTap).title(), "Double-tap with three fingers");
  EXPECT_EQ(Settings::Gesture(Settings::Gesture::fourFingerDoubleTap).title(), "Double-tap with four fingers");
}

}  // namespace
}  // namespace trelliq
