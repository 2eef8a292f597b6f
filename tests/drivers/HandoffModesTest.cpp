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

// Two quick presses go to the other app and back by the copy's recency, as its log says.
// The report samples the front app at the mode's own times, which a loaded machine's copy
// may not keep: a sample may still name the app before the switch.
TEST_F(HandoffModesTest, TwoQuickCommandTabsGoToTheOtherAppAndBack) {
  startCopy();
  ASSERT_EQ(run({"--toggle-test", path("toggle.txt")}), 0);
  const auto report = lines("toggle.txt");
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0], "start: Quill");
  EXPECT_TRUE(report[1] == "after ⌘⇥: Finder" || report[1] == "after ⌘⇥: Quill") << report[1];
  EXPECT_TRUE(report[2] == "after ⌘⇥ again: Quill" || report[2] == "after ⌘⇥ again: Finder") << report[2];
  EXPECT_TRUE(eventually([&] {
    const std::string text = fileText(log());
    const std::size_t there = text.find("switch to Finder window ");
    return there != std::string::npos && text.find("switch to Quill window ", there) != std::string::npos;
  })) << fileText(log());
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
