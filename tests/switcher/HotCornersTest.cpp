// Hot corners on the default desk: display 1 (1512×982) with display 3 (2560×1440) to its
// right, bottoms aligned, so display 1's bottom-right corner is display 3's bottom-left.
// The pointer is moved as a test moves it (the listen-only tap hears it all the same) or
// by the simulated mouse; points below are bottom-left global.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/EventServer.h"
#include "platform/sim/UserInput.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/HotCorners.h"
#include "switcher/Switcher.h"

namespace trelliq {
namespace {

constexpr double kTop = 982;  // display 1's height: where bottom-left y turns into top-left y
constexpr CGPoint kTopRight{1512, 982}, kTopLeft{0, 982}, kShared{1512, 0}, kMiddle{700, 500};

void choose(const std::string& corners) { Settings::defaults().set("hotCorner", platform::PlistValue(corners)); }

class HotCornersTest : public ::testing::Test {
 protected:
  HotCornersTest() {
    scene.world.setAccessibilityTrusted(true);
    choose("topRight,topLeft");
  }
  ~HotCornersTest() override { corners.stop(); }

  /// The pointer to a bottom-left global point, and the move heard.
  void pointAt(CGPoint p, CGPoint offset = {}) {
    scene.windowServer.setPointer({p.x + offset.x, kTop - (p.y + offset.y)});
    scene.clock.runUntilIdle();
  }
  void wait(double seconds) { scene.clock.advance(seconds); }

  Scene scene{Scene::Start::defaultScenario};
  std::vector<std::uint32_t> opened;  // the display numbers the corners opened on
  HotCorners corners{[this](const NSScreen& screen) { opened.push_back(screen.displayNumber().value_or(0)); }};
};

TEST_F(HotCornersTest, FiresAfterTheDwellWithinReachOnly) {
  corners.start();
  ASSERT_TRUE(corners.isStarted());
  pointAt(kTopRight, {-4, 0});
  wait(1);
  pointAt(kTopRight);
  wait(0.1);
  pointAt(kMiddle);  // left within the dwell
  wait(1);
  EXPECT_TRUE(opened.empty()) << "4 points from the corner is outside";
  pointAt(kTopRight, {-2, -2});
  wait(0.14);
  EXPECT_TRUE(opened.empty()) << "before the dwell";
  wait(0.02);
  EXPECT_EQ(opened, (std::vector<std::uint32_t>{1}));
}

TEST_F(HotCornersTest, RearmsOnlyOnceThePointerLeftEveryCorner) {
  corners.start();
  pointAt(kTopRight);
  wait(0.2);
  ASSERT_EQ(opened.size(), 1u);
  pointAt(kTopRight, {-1, 0});
  wait(1);
  pointAt(kTopLeft, {1, -1});  // straight into another corner while disarmed
  wait(1);
  EXPECT_EQ(opened.size(), 1u);
  pointAt(kMiddle);
  EXPECT_TRUE(corners.isArmed());
  pointAt(kTopLeft);
  wait(0.2);
  EXPECT_EQ(opened.size(), 2u);
}

TEST_F(HotCornersTest, ACornerTheDockAlsoUsesStillOpens) {
  scene.world.writeForeignPreference("com.apple.dock", "wvous-tr-corner", platform::PlistValue(std::int64_t{5}));
  ASSERT_TRUE(Settings::HotCorner(Settings::HotCorner::topRight).takenByMacOS());
  corners.start();
  sim::UserInput mouse(*sim::EventServer::active());
  mouse.moveTo({1511, 1});
  wait(0.2);
  EXPECT_EQ(opened, (std::vector<std::uint32_t>{1}));
}

TEST_F(HotCornersTest, ASharedPointCountsForTheFirstScreenWithAChosenCornerThere) {
  choose("bottomLeft,bottomRight");
  corners.start();
  pointAt(kShared);
  wait(0.2);
  choose("bottomLeft");
  pointAt(kMiddle);
  pointAt(kShared);
  wait(0.2);
  EXPECT_EQ(opened, (std::vector<std::uint32_t>{1, 3}));
}

TEST_F(HotCornersTest, CornersReadAtEveryMoveAndNoneChosenKeepsItArmed) {
  corners.start();
  pointAt(kTopRight);
  choose("");  // switched off within the dwell
  wait(0.2);
  pointAt(kTopLeft);
  wait(0.2);
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(corners.isArmed());
  choose("topLeft");
  pointAt(kTopLeft, {1, 0});
  wait(0.2);
  EXPECT_EQ(opened.size(), 1u);
}

TEST_F(HotCornersTest, OffWithoutPermissionBackAfterTheSystemTurnedItOffAndStopCancelsTheDwell) {
  scene.world.setAccessibilityTrusted(false);
  corners.start();
  EXPECT_FALSE(corners.isStarted());
  sim::EventServer::active()->setInputMonitoringAllowed(true);
  corners.start();
  sim::EventServer::active()->disableTapsByUserInput();
  scene.clock.runUntilIdle();
  pointAt(kTopRight);
  wait(0.2);
  EXPECT_EQ(opened.size(), 1u) << "re-enabled from its own callback";
  pointAt(kMiddle);
  pointAt(kTopLeft);
  corners.stop();
  wait(1);
  pointAt(kMiddle);
  pointAt(kTopRight);
  wait(1);
  EXPECT_EQ(opened.size(), 1u);
}

// Through the real controller: the switcher's tap starts the corners, a corner opens a
// session that stays open, the corner again closes it, and stopping the tap stops the corners.
TEST(HotCornersSwitcherTest, ACornerOpensAndClosesAStayingSession) {
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setAccessibilityTrusted(true);
  scene.world.setScreenCaptureAllowed(true);
  Settings::registerDefaults();
  choose("topRight");
  auto switcher = Switcher::make();
  HotCorners corners([weak = switcher->weak()](const NSScreen& screen) {
    if (auto s = weak.lock()) s->openFromCorner(screen);
  });
  switcher->setWatches({[&] { corners.start(); }, [&] { corners.stop(); }});
  ASSERT_TRUE(switcher->startTap());
  scene.clock.advance(0.05);
  ASSERT_TRUE(corners.isStarted());

  auto visit = [&](double x) {
    scene.windowServer.setPointer({700, 500});
    scene.clock.runUntilIdle();
    scene.windowServer.setPointer({x, 1});
    scene.clock.advance(0.5);
  };
  visit(1511);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->gate().staysOpen());
  visit(1510);
  EXPECT_FALSE(switcher->session().isActive()) << "the same corner again closes it";

  switcher->stopTap();
  EXPECT_FALSE(corners.isStarted());
  scene.clock.advance(10);
}

}  // namespace
}  // namespace trelliq
