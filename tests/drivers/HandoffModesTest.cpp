// The ⌘⇥ hand-over with another running copy: the system's switcher stays away, quick
// presses toggle between two apps, and a Space change the copy makes slides sideways.

#include <gtest/gtest.h>

#include "CopyDesk.h"
#include "selftest/Reports.h"

namespace drivers {
namespace {

using trelliq::reports::ScopedEnv;

class HandoffModesTest : public CopyDesk {};

TEST_F(HandoffModesTest, WhileTheCopyHoldsCommandTabTheDockShowsOnlyItsBar) {
  startCopy();
  ASSERT_EQ(run({"--handoff-test", path("handoff.txt")}), 0);
  const auto report = lines("handoff.txt");
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].rfind("ours open: ", 0), 0u) << report[0];
  EXPECT_TRUE(report[0].ends_with(", Dock overlay windows 1")) << "no overlay beside the Dock's bar: " << report[0];
}

// Two quick presses go to the other app and back by the copy's recency: the world brings
// Finder and then Quill to the front, and the copy's log has both switches in that order.
// The report samples the front app at the mode's own times, which a loaded machine's copy
// may not keep, so only its start is checked.
TEST_F(HandoffModesTest, TwoQuickCommandTabsGoToTheOtherAppAndBack) {
  startCopy();
  const FrontWatch fronts(home.socket());
  ASSERT_TRUE(fronts.attached());
  ASSERT_EQ(run({"--toggle-test", path("toggle.txt")}), 0);
  const auto report = lines("toggle.txt");
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0], "start: Quill");
  EXPECT_TRUE(fronts.cameInOrder({201, 301})) << "fronts: " << fronts.seen() << "\n" << fileText(log());
  EXPECT_TRUE(
      logShowsInOrder({"switch to Finder window 1101 on space \\[1\\] from \\[1, 2\\]: [^\n]*showing \\[1, 2\\] after",
                       "switch to Quill window 2101 on space \\[1\\] from \\[1, 2\\]: [^\n]*showing \\[1, 2\\] after"}))
      << fileText(log());
}

TEST_F(HandoffModesTest, ASpaceChangeMadeByTheCopysSwitcherIsSeenSlidingAcross) {
  startCopy();
  ScopedEnv taps("TAPS", "1");
  ASSERT_EQ(run({"--direction-test", path("direction.txt"), "4"}), 0);
  const auto report = lines("direction.txt");
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0].rfind("from [1, 2] to 4 (1 along): moved left (went right), shifts ", 0), 0u) << report[0];
  EXPECT_TRUE(report[0].ends_with(", now [2, 4], back [1, 2]")) << report[0];
  EXPECT_EQ(report[1], "");
}

}  // namespace
}  // namespace drivers
