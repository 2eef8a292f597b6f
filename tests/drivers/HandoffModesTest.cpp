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

// Two quick presses: each switch lands within the mode's 1.2 s, by the copy's recency.
TEST_F(HandoffModesTest, TwoQuickCommandTabsGoToTheOtherAppAndBack) {
  startCopy();
  ASSERT_EQ(run({"--toggle-test", path("toggle.txt")}), 0);
  EXPECT_EQ(lines("toggle.txt"),
            (std::vector<std::string>{"start: Quill", "after ⌘⇥: Finder", "after ⌘⇥ again: Quill"}));
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
