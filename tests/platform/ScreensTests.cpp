#include <gtest/gtest.h>

#include <set>

#include "platform/AppKit.h"
#include "platform/CoreGraphics.h"
#include "platform/Geometry.h"
#include "support/Scene.h"

TEST(FlipTest, TopLeftAndBottomLeftSpacesMeetAtTheFirstScreensTop) {
  const double firstMaxY = 982;
  struct Case {
    CGRect in, out;
  };
  const Case cases[] = {
      // A window at the top-left corner of the first screen.
      {CGRect(0, 0, 100, 50), CGRect(0, 932, 100, 50)},
      // One touching the bottom edge.
      {CGRect(10, 932, 100, 50), CGRect(10, 0, 100, 50)},
      // On a taller display to the right that reaches above the first (negative y at the top).
      {CGRect(1600, -458, 800, 600), CGRect(1600, 840, 800, 600)},
      // A rectangle given with a negative height is normalised.
      {CGRect(0, 50, 100, -50), CGRect(0, 932, 100, 50)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::flipRect(c.in, firstMaxY), c.out);
    // The flip is its own inverse.
    EXPECT_EQ(platform::flipRect(c.out, firstMaxY), CGRect(c.in.minX(), c.in.minY(), c.in.width(), c.in.height()));
  }
  EXPECT_EQ(platform::flipPoint({5, 0}, firstMaxY), (CGPoint{5, 982}));
  EXPECT_EQ(platform::flipPoint(platform::flipPoint({5, 7}, firstMaxY), firstMaxY), (CGPoint{5, 7}));
}

TEST(ScreensTest, DefaultDeskHasTwoDifferentDisplaysSideBySide) {
  Scene scene(Scene::Start::defaultScenario);
  const auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].frame().origin, (CGPoint{0, 0}));
  EXPECT_EQ(screens[1].frame().minX(), screens[0].frame().maxX());
  EXPECT_NE(screens[0].frame().size, screens[1].frame().size);
  EXPECT_EQ(NSScreen::main(), screens[0]);
  for (const NSScreen& s : screens) {
    EXPECT_TRUE(s.frame().contains(s.visibleFrame())) << s.localizedName();
    EXPECT_LT(s.visibleFrame().maxY(), s.frame().maxY()) << "menu bar missing on " << s.localizedName();
    ASSERT_TRUE(s.displayNumber());
    EXPECT_EQ(platform::integerEntry(s.deviceDescription(), "NSScreenNumber"), *s.displayNumber());
  }
  EXPECT_GT(screens[0].safeAreaInsets().top, 0);
  EXPECT_NE(screens[0].backingScaleFactor(), screens[1].backingScaleFactor());
  EXPECT_NE(CGDisplayCreateUUIDFromDisplayID(*screens[0].displayNumber()),
            CGDisplayCreateUUIDFromDisplayID(*screens[1].displayNumber()));
}

TEST(ScreensTest, DisplaysComeAndGoWhileRunning) {
  Scene scene(Scene::Start::defaultScenario);
  const std::uint32_t external = *NSScreen::screens()[1].displayNumber();
  const std::string uuid = *CGDisplayCreateUUIDFromDisplayID(external);

  ASSERT_TRUE(scene.world.removeDisplay(external));
  EXPECT_EQ(NSScreen::screens().size(), 1u);
  EXPECT_EQ(CGDisplayCreateUUIDFromDisplayID(external), std::nullopt);
  EXPECT_FALSE(scene.world.removeDisplay(external));

  // Plugged in again, above the built-in one this time.
  sim::Display above = sim::makeDisplay(external, CGRect(0, 982, 1920, 1080), "Wide Monitor");
  above.screen.uuid = uuid;
  scene.world.addDisplay(above);
  ASSERT_EQ(NSScreen::screens().size(), 2u);
  EXPECT_EQ(NSScreen::screens()[1].frame(), CGRect(0, 982, 1920, 1080));
  EXPECT_EQ(CGDisplayCreateUUIDFromDisplayID(external), uuid);

  // A new display in front takes the menu bar.
  scene.world.addDisplay(sim::makeDisplay(9, CGRect(0, 0, 800, 600), "Projector"), 0);
  EXPECT_EQ(NSScreen::main()->localizedName(), "Projector");

  sim::Display resized = *scene.world.display(9);
  resized.screen.frame = CGRect(0, 0, 1024, 768);
  ASSERT_TRUE(scene.world.replaceDisplay(9, resized));
  EXPECT_EQ(NSScreen::main()->frame(), CGRect(0, 0, 1024, 768));

  scene.world.setDisplays({});
  EXPECT_TRUE(NSScreen::screens().empty());
  EXPECT_EQ(NSScreen::main(), std::nullopt);
}

TEST(ScreensTest, MadeDisplaysLeaveRoomForTheMenuBarHaveStableIdentitiesOrSayTheyHaveNoNumber) {
  const sim::Display plain = sim::makeDisplay(2, CGRect(1512, 0, 2560, 1440), "Plain", 1);
  EXPECT_EQ(plain.screen.visibleFrame, CGRect(1512, 0, 2560, 1416));
  const sim::Display notched = sim::makeDisplay(1, CGRect(0, 0, 1512, 982), "Notched", 2, 32);
  EXPECT_EQ(notched.screen.visibleFrame, CGRect(0, 0, 1512, 950));
  EXPECT_EQ(notched.screen.safeAreaInsets.top, 32);

  std::set<std::string> uuids;
  for (std::uint32_t id : {1u, 2u, 3u, 69733378u}) {
    const std::string uuid = sim::displayUUID(id);
    EXPECT_EQ(uuid, sim::displayUUID(id));
    EXPECT_EQ(uuid.size(), 36u);
    EXPECT_EQ(uuid[8], '-');
    uuids.insert(uuid);
  }
  EXPECT_EQ(uuids.size(), 4u);

  Scene scene;
  sim::Display d = sim::makeDisplay(4, CGRect(0, 0, 1440, 900), "Mirror");
  d.screen.hasDisplayNumber = false;
  scene.world.addDisplay(d);
  const NSScreen screen = NSScreen::screens().at(0);
  EXPECT_EQ(screen.displayNumber(), std::nullopt);
  EXPECT_EQ(screen.deviceDescription().count("NSScreenNumber"), 0u);
}

TEST(SystemPortDeathTest, CallingThePlatformWithNoWorldStopsWithAReason) {
  EXPECT_DEATH(NSScreen::screens(), "no SystemPort is installed");
}

TEST(GeometryDescription, FramesPrintAsTheShortestDecimalThatReadsBack) {
  EXPECT_EQ(platform::describe(0), "0.0");
  EXPECT_EQ(platform::describe(-0.0), "-0.0");
  EXPECT_EQ(platform::describe(1512), "1512.0");
  EXPECT_EQ(platform::describe(-458), "-458.0");
  EXPECT_EQ(platform::describe(0.1), "0.1");
  EXPECT_EQ(platform::describe(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(platform::describe(0.0001), "0.0001");
  EXPECT_EQ(platform::describe(0.00001), "1e-05");
  EXPECT_EQ(platform::describe(1e15), "1000000000000000.0");
  EXPECT_EQ(platform::describe(1.5e16), "1.5e+16");
  EXPECT_EQ(platform::describe(CGRect(1512, -458, 2560, 1440)), "(1512.0, -458.0, 2560.0, 1440.0)");
}
