// The Space modes run end to end on the default desk: display "Built-in Display" with
// Spaces 1 (showing), 4, 5 (full screen) and 6; "Wide Monitor" with 2 (showing) and 7.
// Window 2101 lies on Space 1, 2102 and 4101 on Space 4, 3102 on Space 7.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "Reports.h"
#include "platform/Files.h"
#include "platform/sim/EventServer.h"
#include "selftest/Dispatch.h"
#include "selftest/SpaceModes.h"
#include "support/Scene.h"
#include "switcher/DestinationScreen.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;
using reports::ScopedEnv;

class SpaceModesTest : public ::testing::Test {
 protected:
  SpaceModesTest() {
    scene_.world.setAccessibilityTrusted(true);
    scene_.world.setScreenCaptureAllowed(true);
    DestinationScreen::drawn().clear();
  }
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "trelliq");
    return dispatchSelfTests(args);
  }
  std::optional<Lines> report() { return reports::lines(out_); }
  double now() { return scene_.clock.monotonicSeconds(); }
  // The milliseconds of a jump line, after checking everything else in it.
  int jumpMilliseconds(const std::string& line, const std::string& window, const std::string& spaces,
                       const std::string& jumped, const std::string& now) {
    const std::regex shape("window " + window + " \\(space \\" + spaces.substr(0, spaces.size() - 1) +
                           "\\]\\): jumped=" + jumped + " in ([0-9]+)ms, now \\" + now.substr(0, now.size() - 1) +
                           "\\]");
    std::smatch m;
    if (!std::regex_match(line, m, shape)) {
      ADD_FAILURE() << line;
      return -1;
    }
    return std::stoi(m[1]);
  }

  Scene scene_{Scene::Start::defaultScenario};
  const std::string out_ = scene_.path("report.txt");
};

TEST_F(SpaceModesTest, JumpTestGoesToEachWindowsSpaceAndTimesTheJump) {
  const double start = now();
  EXPECT_EQ(run({"--jump-test", out_, "2102", "3102"}), 0);
  const auto lines = report();
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 3u);
  EXPECT_EQ((*lines)[0], "start [1, 2]");
  const int first = jumpMilliseconds((*lines)[1], "2102", "[4]", "true", "[2, 4]");
  const int second = jumpMilliseconds((*lines)[2], "3102", "[7]", "true", "[4, 7]");
  // A swipe lands or is given up within half a second.
  EXPECT_GT(first, 0);
  EXPECT_LT(first, 500);
  EXPECT_GT(second, 0);
  EXPECT_LT(second, 500);
  EXPECT_NEAR(now() - start, 1.0 + (first + second) / 1000.0, 0.011) << "each jump is followed by 0.5 s of sleep";
}

TEST_F(SpaceModesTest, JumpTestSkipsWindowsThatDoNotParseAndDoesNotWaitWhenNoJumpIsNeeded) {
  double start = now();
  EXPECT_EQ(run({"--jump-test", out_, "2101", "x7"}), 0);
  EXPECT_EQ(report(), (Lines{"start [1, 2]", "window 2101 (space [1]): jumped=false in 0ms, now [1, 2]"}));
  EXPECT_DOUBLE_EQ(now() - start, 0.5) << "no wait for a completion, but still the sleep";

  start = now();
  EXPECT_EQ(run({"--jump-test", out_, "-1", "4294967296"}), 0);
  EXPECT_EQ(report(), (Lines{"start [1, 2]"}));
  EXPECT_EQ(now(), start);

  // A window the window server does not know has no Space and needs no jump either.
  EXPECT_EQ(run({"--jump-test", out_, "4242", "3102"}), 0);
  const auto lines = report();
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 3u);
  EXPECT_EQ((*lines)[1], "window 4242 (space []): jumped=false in 0ms, now [1, 2]");
}

TEST_F(SpaceModesTest, JumpTestHoldsTheModifierKeyOfHoldDuringEachJump) {
  sim::EventServer& events = *sim::EventServer::active();
  const struct {
    const char* hold;
    std::optional<CGEventFlags> flags;  // none: no key is held
  } cases[] = {{"58", 0x80000},  {"56", 0x20000},       {"59", 0x40000},         {"55", 0x100000},
               {"12", 0x100000}, {"abc", std::nullopt}, {"65536", std::nullopt}, {"-58", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hold);
    ScopedEnv hold("HOLD", c.hold);
    ASSERT_TRUE(scene_.windowServer.switchSpace(1, sim::SwitchStyle::instant));
    events.clearRecords();
    EXPECT_EQ(run({"--jump-test", out_, "2102", "-"}), 0);
    std::vector<CGEvent> keys, swipes;
    for (const auto& p : events.posted()) {
      if (p.event.type == kCGEventFlagsChanged) {
        EXPECT_EQ(p.tap, kCGHIDEventTap);
        keys.push_back(p.event);
      } else {
        swipes.push_back(p.event);
      }
    }
    ASSERT_FALSE(swipes.empty());
    if (!c.flags) {
      EXPECT_TRUE(keys.empty());
      continue;
    }
    ASSERT_EQ(keys.size(), 2u);
    const auto code = std::stoll(c.hold);
    EXPECT_EQ(keys[0].integerFields.at(kCGKeyboardEventKeycode), code);
    EXPECT_EQ(keys[0].flags, *c.flags);
    EXPECT_EQ(keys[1].integerFields.at(kCGKeyboardEventKeycode), code);
    EXPECT_EQ(keys[1].flags, 0u);
    // Down before the first swipe, up only after the half second of sleep that follows the landing.
    EXPECT_LT(keys[0].timestamp, swipes.front().timestamp);
    EXPECT_GE(keys[1].timestamp, swipes.back().timestamp + 500'000'000);
  }
}

TEST_F(SpaceModesTest, DestinationTestPaintsAHiddenSpaceOfItsOwnScreensSize) {
  EXPECT_EQ(run({"--destination-test", out_, "4"}), 0);
  auto lines = report();
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 2u);
  EXPECT_EQ((*lines)[0], "space 4 fullScreen=false image=1512x982 in 0ms");
  // The desktop picture first, then the Space's two windows with the front app's on top.
  EXPECT_EQ((*lines)[1].rfind("drawn bottom to top: Dock@", 0), 0u) << (*lines)[1];
  EXPECT_EQ((*lines)[1].substr((*lines)[1].find(", ")), ", Harbor Mail@0, Quill@0");

  EXPECT_EQ(run({"--destination-test", out_, "7"}), 0);
  lines = report();
  ASSERT_TRUE(lines);
  EXPECT_EQ((*lines)[0], "space 7 fullScreen=false image=2560x1440 in 0ms");
  EXPECT_NE((*lines)[1].find(", Lumen@0"), std::string::npos) << (*lines)[1];
}

TEST_F(SpaceModesTest, DestinationTestOfAFullScreenSpaceLeavesTheDrawnListAsItWas) {
  DestinationScreen::drawn() = {"Earlier@0", "Other@3"};
  EXPECT_EQ(run({"--destination-test", out_, "5"}), 0);
  EXPECT_EQ(report(),
            (Lines{"space 5 fullScreen=true image=1512x982 in 0ms", "drawn bottom to top: Earlier@0, Other@3"}));
}

TEST_F(SpaceModesTest, DestinationTestOfAnUnknownSpaceIsRefused) {
  for (const char* space : {"99", "x", "4.0", ""}) {
    EXPECT_EQ(run({"--destination-test", out_, space}), 2) << space;
  }
  EXPECT_FALSE(platform::FileManager::fileExists(out_));
}

TEST_F(SpaceModesTest, GotoWaitsForTheJumpOrReturnsAtOnce) {
  double start = now();
  EXPECT_EQ(run({"--goto", "3102"}), 0);
  EXPECT_EQ(Private::currentSpaces(), (std::set<std::int64_t>{1, 7}));
  EXPECT_GT(now(), start) << "it waited for the landing";
  EXPECT_LT(now() - start, 0.5);

  start = now();
  EXPECT_EQ(run({"--goto", "2101"}), 0);
  EXPECT_EQ(now(), start) << "a window on a showing Space needs no jump";
  EXPECT_EQ(run({"--goto", "w2101"}), 2);
  EXPECT_FALSE(platform::FileManager::fileExists(out_)) << "goto writes nothing";
}

TEST_F(SpaceModesTest, SwipeTestReportsTheSpacesAfterASwipeEachWayAndWithoutPermissionNoChange) {
  EXPECT_EQ(run({"--swipe-test", out_}), 0);
  EXPECT_EQ(report(), (Lines{"start [1, 2]", "after right [2, 4]", "after left [1, 2]"}));

  scene_.world.setAccessibilityTrusted(false);
  EXPECT_EQ(run({"--swipe-test", out_}), 0);
  EXPECT_EQ(report(), (Lines{"start [1, 2]", "after right [1, 2]", "after left [1, 2]"}));
}

TEST_F(SpaceModesTest, SwipeTestGivesEachSwipeFourFifthsOfASecond) {
  // The other display shows Space 7 from 0.8 s after the swipe until a moment later: only
  // a look at exactly 0.8 s sees it. The two waits then make 1.6 s, so the second is 0.8 s too.
  platform::Executor& desk = scene_.clock.queue("desk");
  desk.asyncAfter(0.8, [this] { scene_.windowServer.switchSpace(7, sim::SwitchStyle::instant); });
  desk.asyncAfter(0.801, [this] { scene_.windowServer.switchSpace(2, sim::SwitchStyle::instant); });
  const double start = now();
  EXPECT_EQ(run({"--swipe-test", out_}), 0);
  EXPECT_EQ(report(), (Lines{"start [1, 2]", "after right [4, 7]", "after left [1, 2]"}));
  EXPECT_NEAR(now() - start, 1.6, 1e-9);
}

TEST_F(SpaceModesTest, AReportInAFolderThatDoesNotExistIsNotWrittenAndTheModeFails) {
  const std::string nowhere = scene_.path("missing/report.txt");
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({"--jump-test", nowhere, "2102", "3102"}), 1);
  EXPECT_EQ(run({"--swipe-test", nowhere}), 1);
  EXPECT_EQ(run({"--destination-test", nowhere, "4"}), 1);
  const std::string line = "trelliq: cannot write " + nowhere + ": No such file or directory\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + line + line);
  EXPECT_FALSE(platform::FileManager::fileExists(scene_.path("missing")));
}

}  // namespace
}  // namespace trelliq
