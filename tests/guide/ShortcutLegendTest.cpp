// The legend's groups per mode and setting, its rows and its key glyphs.

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "support/WidgetsApp.h"
#include "guide/ShortcutLegendView.h"
#include "guide/model/ShortcutLegend.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using Tiles = Settings::Tiles;

std::vector<std::string> titlesOf(const std::vector<ShortcutLegend::Group>& groups) {
  std::vector<std::string> result;
  for (const auto& g : groups) result.push_back(g.hold + " " + g.title + " " + std::to_string(g.entries.size()));
  return result;
}

TEST(ShortcutLegends, GroupsFollowTheModeAndTheAppWindowsSettingAndWindowTilesOnOptionDropKeys) {
  EXPECT_EQ(titlesOf(ShortcutLegend::groups(Tiles::apps, false)), (std::vector<std::string>{"⌘ All shortcuts 12"}));
  EXPECT_EQ(titlesOf(ShortcutLegend::groups(Tiles::windows, true)),
            (std::vector<std::string>{"⌘ All shortcuts 13", "⌥ An app's windows, opened with ⌥` 5"}));
  EXPECT_EQ(titlesOf(ShortcutLegend::groups(Tiles::both, true)),
            (std::vector<std::string>{"⌘ App tiles 12", "⌥ Window tiles 8", "⌥ An app's windows, opened with ⌥` 5"}));

  // Window tiles on ⌥ drop the keys that mean something else there.
  std::vector<std::string> firstKeys;
  for (const auto& e : ShortcutLegend::windowsOnOption()) firstKeys.push_back(e.keys.front());
  EXPECT_EQ(firstKeys, (std::vector<std::string>{"⇥", "←", "`", "⇧", "⌃", "fn", "↑", "esc"}));
}

TEST(ShortcutLegends, PairsCarryTheirSeparatorAndRowsHoldTwoEntries) {
  for (const auto* table :
       {&ShortcutLegend::apps(), &ShortcutLegend::windows(), &ShortcutLegend::appWindowsOnOption()}) {
    for (const auto& e : *table) {
      ASSERT_FALSE(e.keys.empty());
      EXPECT_EQ(e.keys.size() == 2, !e.between.empty()) << e.text;
    }
  }
  const auto& pick = ShortcutLegend::apps()[4];
  EXPECT_EQ(pick.keys, (std::vector<std::string>{"1", "9"}));
  EXPECT_EQ(pick.between, "–");

  const auto apps = ShortcutLegend::rows(ShortcutLegend::apps());
  EXPECT_EQ(apps.size(), 6u);
  const auto windows = ShortcutLegend::rows(ShortcutLegend::windows());
  ASSERT_EQ(windows.size(), 7u);
  EXPECT_EQ(windows.back().size(), 1u);
  EXPECT_EQ(windows.back()[0].text, "Cancel");
  EXPECT_TRUE(ShortcutLegend::rows({}).empty());
}

TEST(ShortcutLegends, WordsAreSetSmallerThanSingleGlyphs) {
  EXPECT_EQ(ShortcutLegend::keyFontSize("⌥"), 13);  // one character, three bytes
  EXPECT_EQ(ShortcutLegend::keyFontSize("Q"), 13);
  EXPECT_EQ(ShortcutLegend::keyFontSize("fn"), 11);
  EXPECT_EQ(ShortcutLegend::keyFontSize("esc"), 11);
}

TEST(ShortcutLegendViews, TheSettingIsReadAgainAtEachLayoutNotWatched) {
  test::ensureWidgets();
  Scene scene;
  Settings::registerDefaults();
  ShortcutLegendView legend(Tiles::apps);
  const int withAppWindows = legend.heightForWidth(704);
  Settings::defaults().set("appWindows", platform::PlistValue(false));
  const int without = legend.heightForWidth(704);
  EXPECT_LT(without, withAppWindows);
  EXPECT_EQ(without,
            static_cast<int>(std::ceil(ShortcutLegendView::heightFor(ShortcutLegend::groups(Tiles::apps, false)))));
  legend.setMode(Tiles::both);
  EXPECT_GT(legend.heightForWidth(704), without);
}

// A legend key's half-point shadow is blurred: beside the key, where a shadow moved
// straight down never falls, a doubled screen shows its halo.
TEST(ShortcutLegendViews, KeysCastABlurredShadow) {
  test::ensureWidgets();
  Scene scene;
  Settings::registerDefaults();
  ShortcutLegendView legend(Tiles::apps);
  legend.resize(704, legend.heightForWidth(704));
  QImage image(legend.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::transparent);
  legend.render(&image, {}, {}, QWidget::DrawChildren);
  // The second column's first key: a column and its gap in, below the header and its gap.
  const double keyLeft = (704 - 18) / 2.0 + 18, keyMiddle = 18 + 10 + ShortcutLegend::keySize / 2;
  EXPECT_GT(qAlpha(image.pixel(static_cast<int>(2 * keyLeft) - 1, static_cast<int>(2 * keyMiddle))), 0);
}

}  // namespace
}  // namespace trelliq
