// The modes that drive another running copy, run where no copy runs (the built-in desk in
// this process, on virtual time): each finishes within its own sampling times and reports
// what a desk without the copy shows. The keys still reach the system, whose own ⌘⇥
// switcher answers them. Window 2101 (Quill) lies on Space 1, 5101 (Tally) on the
// full-screen Space 5.

#include <gtest/gtest.h>

#include "Reports.h"
#include "ShotDesk.h"
#include "selftest/DirectionMode.h"
#include "selftest/FullScreenModes.h"
#include "selftest/MissingMode.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/WorldReader.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;
using reports::ScopedEnv;

class CopyModesAloneTest : public ::testing::Test, public shots::ShotDesk {
 protected:
  CopyModesAloneTest() { scene.world.setAccessibilityTrusted(true); }
  Lines report(const std::string& name = "report.txt") { return reports::lines(path(name)).value_or(Lines{}); }
  const std::string out = path("report.txt");
};

TEST_F(CopyModesAloneTest, SwitcherModesSeeNoPanelOfTheirOwnProcessAndWaitOnlyTheirSamplingTimes) {
  ScopedEnv capture("CAPTURE_DIR", scene.home);
  EXPECT_EQ(shots::dispatch({"--tab-test", out}), 0);
  EXPECT_EQ(report("timeline.txt"), (Lines{"0.05s:0 0.15s:0 0.3s:0 0.5s:0 0.8s:0 1.2s:0"}));
  const Lines tab = report();
  ASSERT_EQ(tab.size(), 2u);
  EXPECT_EQ(tab[0], "our switcher windows: []");
  // The system's own switcher took the ⌘⇥: its overlay is one of the Dock's windows.
  EXPECT_NE(tab[1].find("\"layer 20  ("), std::string::npos) << tab[1];
  EXPECT_TRUE(exists("ours-shot.png"));

  const double took = shots::elapsed([&] {
    EXPECT_EQ(shots::dispatch({"--fullscreen-test", out, "5101", "2101"}), 0);
  });
  EXPECT_EQ(report(), (Lines{"start [1, 2]", "on full-screen Space [2, 5], front: Quill",
                             "panel appeared after never (2s)", "switcher windows on screen: []", "back on [1, 2]"}));
  EXPECT_LT(took, 6.0) << "two jumps, 2 s of watching and the waits between";

  EXPECT_EQ(shots::dispatch({"--open-test", out}), 0);
  EXPECT_EQ(report(), (Lines{"space [1, 2] front Quill", "on screen: []", "all switcher windows: []"}));

  EXPECT_EQ(shots::dispatch({"--handoff-test", out}), 0);
  EXPECT_EQ(report(), (Lines{"ours open: 0 windows; after ⌘⇥: ours 0, Dock overlay windows 2"}))
      << "the Dock's bar and the system switcher's overlay";
}

TEST_F(CopyModesAloneTest, TheSystemSwitcherAnswersTheQuickPressesAndItsWindowIsTimed) {
  EXPECT_EQ(shots::dispatch({"--toggle-test", out}), 0);
  const Lines toggle = report();
  ASSERT_EQ(toggle.size(), 3u);
  EXPECT_EQ(toggle[0], "start: Quill");
  EXPECT_NE(toggle[1], "after ⌘⇥: Quill");
  EXPECT_EQ(toggle[2], "after ⌘⇥ again: Quill");

  EXPECT_EQ(shots::dispatch({"--appear-test", out, "Trelliq", "2"}), 0);
  EXPECT_EQ(report(), (Lines{"never (1.5s)", "never (1.5s)"}));
  EXPECT_EQ(shots::dispatch({"--appear-test", out, "Dock"}), 0);
  const Lines dock = report();
  ASSERT_EQ(dock.size(), 5u) << "five rounds unless told";
  for (const std::string& line : dock) EXPECT_TRUE(line.starts_with("appeared after ")) << line;
  EXPECT_EQ(shots::dispatch({"--appear-test", out, "Dock", "0"}), 0);
  EXPECT_EQ(report(), Lines{""});
}

TEST_F(CopyModesAloneTest, MissingTestLogsEveryScenarioWithoutWindowLinesAndTakesItsPictures) {
  EXPECT_EQ(shots::dispatch({"--missing-test", scene.home, "5101", "2101"}), 0);
  EXPECT_EQ(
      report("log.txt"),
      (Lines{"before: spaces showing [1, 2], front Quill", "fullscreen: spaces showing [2, 5], front Tally",
             "fullscreen-again: spaces showing [2, 5], front Tally", "after: spaces showing [1, 2], front Quill"}));
  for (const char* name : {"before", "fullscreen", "fullscreen-again", "after"}) {
    EXPECT_TRUE(exists(std::string(name) + ".png")) << name;
  }
  EXPECT_EQ(MissingMode::pointer("100,200"), CGPoint(100, 200));
  EXPECT_EQ(MissingMode::pointer(",100,,200,"), CGPoint(100, 200));
  for (const char* ignored : {"100", "a,b", "1,2,3", "100, 200"})
    EXPECT_FALSE(MissingMode::pointer(ignored)) << ignored;
}

TEST_F(CopyModesAloneTest, LoopHoverAndArrowModesReportWhereTheDeskIs) {
  EXPECT_EQ(shots::dispatch({"--space-loop-test", out, "2101", "0", "2"}), 0);
  const std::string still = "[1, 2] Quill";
  const std::string pass =
      ": from " + still + " → 0.3s: " + still + " | 0.6s: " + still + " | 1.0s: " + still + " | 2.0s: " + still;
  EXPECT_EQ(report(), (Lines{"1" + pass, "2" + pass}));

  // ⌘⇥ reaches the system's switcher, which goes to the app before.
  EXPECT_EQ(shots::dispatch({"--hover-test", out, "2101", "500", "300"}), 0);
  EXPECT_EQ(report(), Lines{"front after hovering 500.0,300.0: Finder"});

  const std::string layout = FullScreenModes::layout();
  EXPECT_NE(layout.find("Tally (full screen): Tally [5101]"), std::string::npos) << layout;
  EXPECT_EQ(shots::dispatch({"--fullscreen-key-test", out, "5101", ",up,,"}), 0);
  const Lines keys = report();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], "start: " + layout);
  EXPECT_EQ(keys[1], "  +0ms: 0 switcher windows on screen, showing [2, 5]");
  EXPECT_EQ(keys[2].rfind("up: switcher still open after 3s: false; front ", 0), 0u) << keys[2];
  EXPECT_EQ(ModeReport::items("up,,down,"), (Lines{"up", "down"}));
}

TEST_F(CopyModesAloneTest, OpeningTestFindsNoCardButStillGoesToTheOtherDisplay) {
  // Three sessions of 1.3 s or so and a 0.8 s move between them: nothing waits for a copy.
  const double took = shots::elapsed([&] { EXPECT_EQ(shots::dispatch({"--opening-test", out}), 0); });
  EXPECT_LT(took, 6.0);
  const Lines lines = report();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "1: opened on no card");
  EXPECT_EQ(lines[1], "2 (should match where 1 ended): opened on no card");
  EXPECT_EQ(lines[2].rfind("went to ", 0), 0u) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(" on Wide Monitor")) << "no card names a display: the first one is left behind";
  EXPECT_EQ(lines[3], "3 (should be there): opened on no card");
  ModeClock::pump(1);
  EXPECT_EQ(WorldReader::frontName(), "Quill") << "the front window comes back";

  EXPECT_EQ(shots::dispatch({"--steer-test", scene.home}), 0);
  EXPECT_TRUE(exists("step-0-tab.png"));
  EXPECT_TRUE(exists("step-5-backtick-display1.png"));
}

TEST_F(CopyModesAloneTest, DirectionTestSeesItsOwnJumpSlideAndAppendsOneLineARun) {
  // From Space 1 to Space 4, one step to the right: the picture moves left.
  EXPECT_EQ(shots::dispatch({"--direction-test", out, "4"}), 0);
  EXPECT_EQ(shots::dispatch({"--direction-test", out, "4", "4"}), 0);
  const Lines lines = report();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "") << "each line ends with a line feed";
  for (const std::string& line : {lines[0], lines[1]}) {
    EXPECT_EQ(line.rfind("from [1, 2] to 4 (1 along): moved left (went right), shifts ", 0), 0u) << line;
  }
  EXPECT_TRUE(lines[0].ends_with(", now [2, 4], back [1, 2]")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(", now [2, 4], back [2, 4]")) << "back equal to the target: no return";
}

TEST(DirectionAnalysis, ShiftsAreFoundOnlyBetweenChangedSamplesAndSumToTheDirection) {
  using Frame = DirectionMode::Frame;
  // A grain with no repeats, its content moved right by `x` samples.
  const auto grain = [](int x) {
    std::vector<std::uint8_t> pixels(192 * 108);
    for (int y = 0; y < 108; ++y) {
      for (int c = 0; c < 192; ++c) {
        const auto seed = static_cast<std::uint32_t>((c - x + 1000) * 7919 + y * 104729);
        pixels[static_cast<std::size_t>(y * 192 + c)] = static_cast<std::uint8_t>((seed * 2654435761u) >> 24);
      }
    }
    return pixels;
  };
  EXPECT_EQ(DirectionMode::bestShift(grain(60), grain(50)), 10);
  EXPECT_EQ(DirectionMode::bestShift(grain(50), grain(60)), -10);
  EXPECT_DOUBLE_EQ(DirectionMode::cost(grain(50), grain(50)), 0);
  const DirectionMode::Motion left = DirectionMode::analyse(
      {Frame{0, grain(100)}, Frame{10.7, grain(80)}, Frame{20, grain(80)}, Frame{30, grain(60)}});
  EXPECT_EQ(left.sum, -40);
  EXPECT_EQ(left.shifts, (Lines{"10ms:-20", "30ms:-20"})) << "a still pair adds nothing";
  // A change too small to count (a one-sample bar moving by 2) is no motion.
  std::vector<std::uint8_t> dot(192 * 108, 0), moved(192 * 108, 0);
  dot[0] = 250;
  moved[2] = 250;
  EXPECT_EQ(DirectionMode::analyse({Frame{0, dot}, Frame{5, moved}}).sum, 0);
  EXPECT_EQ(DirectionMode::analyse({Frame{0, dot}}).shifts, Lines{});
}

}  // namespace
}  // namespace trelliq
