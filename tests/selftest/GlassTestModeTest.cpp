// "--glass-test": reading the panel descriptions and the frame override, where the panels
// go, what each panel is and draws, and the screenshot it ends with. The built-in desk's
// first display is 1512 × 982 points.

#include <gtest/gtest.h>

#include <QVariant>
#include <QWidget>

#include "ShotDesk.h"
#include "workspace/KeyablePanel.h"
#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "selftest/ActiveTestPanel.h"
#include "selftest/GlassTestMode.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

using Recipe = GlassTestMode::PanelRecipe;
using Items = std::vector<std::pair<std::string, std::int64_t>>;

TEST(GlassTestRecipes, DescriptionsItemsAndTheFrameOverride) {
  const std::vector<Recipe> three = GlassTestMode::parseRecipes("haze=40;under=60,key=1;active=1,_variant=2");
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0].items, (Items{{"haze", 40}}));
  EXPECT_EQ(three[1].items, (Items{{"under", 60}, {"key", 1}}));
  EXPECT_EQ(three[1].label(), "key=1 under=60");
  EXPECT_EQ(three[2].value("_variant"), 2);
  EXPECT_EQ(three[2].value("key"), std::nullopt);

  // Empty descriptions go; bad items go; a name given twice keeps its first value.
  const std::vector<Recipe> odd = GlassTestMode::parseRecipes(";;a=1,b,c=x,=3,d=1=2,e= 4,a=2,f=-7;;");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].items, (Items{{"a", 1}, {"f", -7}}));
  EXPECT_EQ(odd[0].label(), "a=1 f=-7");
  EXPECT_EQ(GlassTestMode::parseRecipes("x").size(), 1u) << "a description without items is still a panel";
  EXPECT_TRUE(GlassTestMode::parseRecipes("").empty());

  EXPECT_EQ(GlassTestMode::parseFrame("10,20.5,300,1e2"), CGRect(10, 20.5, 300, 100));
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,2,three,4", "1, 2,3,4", ""}) {
    EXPECT_EQ(GlassTestMode::parseFrame(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(GlassTestMode::parseFrame(nullptr), std::nullopt);

  const CGRect screen(100, 0, 1512, 982);
  EXPECT_EQ(GlassTestMode::frame(0, screen, std::nullopt), CGRect(160, 982 - 325, 360, 175));
  EXPECT_EQ(GlassTestMode::frame(1, screen, std::nullopt).minX(), 550);
  EXPECT_EQ(GlassTestMode::frame(2, screen, std::nullopt).minX(), 940);
  EXPECT_EQ(GlassTestMode::frame(4, screen, std::nullopt), CGRect(160, 982 - 530, 360, 175)) << "a second row";
  EXPECT_EQ(GlassTestMode::frame(5, screen, CGRect(1, 2, 3, 4)), CGRect(1, 2, 3, 4));
}

class GlassPanels : public ::testing::Test, public shots::ShotDesk {
 protected:
  // The panel's picture as the window server holds it.
  CGImageRef picture(NSWindow& panel) {
    panel.orderFrontRegardless();
    return Private::capture(static_cast<std::uint32_t>(panel.windowNumber()), true);
  }
};

TEST_F(GlassPanels, EachPanelIsAClearFloatingPanelWhoseGlassShowsItsConfiguration) {
  const CGRect frame(100, 100, 360, 175);
  const auto plain = GlassTestMode::makePanel(GlassTestMode::parseRecipes("_variant=2,haze=0")[0], frame);
  EXPECT_TRUE(dynamic_cast<KeyablePanel*>(plain.get()));
  EXPECT_EQ(plain->level(), 101);
  EXPECT_FALSE(plain->isOpaque());
  EXPECT_EQ(plain->backgroundColor(), 0u);
  EXPECT_EQ(plain->collectionBehavior(), 257u);
  EXPECT_EQ(plain->styleMask(), NSWindowStyleMaskNonactivatingPanel);
  ASSERT_TRUE(plain->contentView());
  EXPECT_EQ(plain->contentView()->property("_variant").toLongLong(), 2);
  EXPECT_FALSE(plain->contentView()->property("haze").isValid()) << "the four own names are not set on the glass";

  const auto active = GlassTestMode::makePanel(GlassTestMode::parseRecipes("active=1")[0], frame);
  EXPECT_TRUE(dynamic_cast<ActiveTestPanel*>(active.get()));
  const auto under = GlassTestMode::makePanel(GlassTestMode::parseRecipes("under=60")[0], frame);
  const auto haze = GlassTestMode::makePanel(GlassTestMode::parseRecipes("haze=100")[0], frame);

  const CGImageRef p = picture(*plain), a = picture(*active), u = picture(*under), h = picture(*haze);
  ASSERT_TRUE(p && a && u && h);
  EXPECT_EQ(p->width(), 720);
  EXPECT_EQ(p->pixel(2, 2) >> 24, 0u) << "outside the rounded glass the panel is clear";
  const auto alphaAt = [](const CGImageRef& image) { return image->pixel(360, 40) >> 24; };
  EXPECT_GT(alphaAt(p), 0u);
  EXPECT_GT(alphaAt(a), alphaAt(p)) << "glass drawn active is denser than inactive glass";
  EXPECT_GT(alphaAt(u), alphaAt(p)) << "the blur layer under it";
  EXPECT_NE(h->pixel(360, 40), p->pixel(360, 40)) << "the haze over it";
}

TEST_F(GlassPanels, TheModeWritesTheScreensAfterASecondWithTheSuffixAndPanelsInPlace) {
  double spent = shots::elapsed([&] { GlassTestMode::run(scene.home, std::nullopt, "", std::nullopt); });
  EXPECT_GE(spent, 1.0);
  EXPECT_LT(spent, 1.1) << "a second, then the screenshot";
  const auto empty = shots::png(path("glass-test.png"));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->size(), QSize(3024, 1964));
  EXPECT_TRUE(exists("glass-test-display1.png"));

  GlassTestMode::run(scene.home, std::string("under=100"), "-dark", std::nullopt);
  const auto dark = shots::png(path("glass-test-dark.png"));
  ASSERT_TRUE(dark);
  // The first panel stands 60 points in and 150 points down from the first screen's top left.
  EXPECT_NE(dark->pixel(2 * 240, 2 * 237), empty->pixel(2 * 240, 2 * 237));
  EXPECT_EQ(dark->pixel(2 * 30, 2 * 237), empty->pixel(2 * 30, 2 * 237)) << "nothing left of it";
  for (const platform::WindowEntry& e : scene.windowServer.windowList()) {
    EXPECT_FALSE(e.layer == 101 && e.onScreen) << "the panels go with the mode";
  }

  // Every panel at the given frame.
  GlassTestMode::run(scene.home, std::string("under=100;under=100"), "-at", CGRect(0, 882, 100, 100));
  const auto at = shots::png(path("glass-test-at.png"));
  ASSERT_TRUE(at);
  EXPECT_NE(at->pixel(100, 100), empty->pixel(100, 100));
  EXPECT_EQ(at->pixel(100, 300), empty->pixel(100, 300));

  testing::internal::CaptureStderr();
  EXPECT_EQ(GlassTestMode::run(scene.path("none"), std::string("key=1"), "", std::nullopt), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("trelliq: cannot write " + path("none/glass-test.png")),
            std::string::npos);
  EXPECT_FALSE(exists("none"));
}

}  // namespace
}  // namespace trelliq
