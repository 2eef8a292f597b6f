// Another running copy's switcher on a full-screen Space: how soon its panel shows there,
// and what an arrow key does to its selection.

#include <gtest/gtest.h>

#include <regex>

#include "CopyDesk.h"

namespace drivers {
namespace {

class FullScreenModesTest : public CopyDesk {};

TEST_F(FullScreenModesTest, TheCopysPanelShowsOnTheFullScreenSpaceThisProcessWentTo) {
  startCopy();
  ASSERT_EQ(run({"--fullscreen-test", path("fullscreen.txt"), "5101", "2101"}), 0);
  const auto report = lines("fullscreen.txt");
  ASSERT_EQ(report.size(), 5u);
  EXPECT_EQ(report[0], "start [1, 2]");
  EXPECT_EQ(report[1], "on full-screen Space [2, 5], front: Quill");
  // How soon is the copy's own business on a loaded machine; that it came at all is this test's.
  EXPECT_TRUE(std::regex_match(report[2], std::regex("panel appeared after [0-9]+ms"))) << report[2];
  EXPECT_NE(report[3].find(std::string("\"layer 101 bounds ") + kLeftFrame + "\""), std::string::npos) << report[3];
  EXPECT_EQ(report[4], "back on [1, 2]");
}

// The copy acts on the arrow within the mode's 3 s of watching. The mode presses it once the
// copy has shown its panels on the full-screen Space, where ⌘⇥ selects Quill.
TEST_F(FullScreenModesTest, AnUpArrowPutsTheSelectedWindowOnAFullScreenSpaceOfItsOwn) {
  startCopy();
  ASSERT_EQ(run({"--fullscreen-key-test", path("keys.txt"), "5101", "up"}), 0);
  const auto report = lines("keys.txt");
  ASSERT_GE(report.size(), 3u);
  EXPECT_EQ(report.front().rfind("start: Desktop 1: Finder & Quill [2101, 1101] | ", 0), 0u) << report.front();
  EXPECT_NE(report.front().find(" | Tally (full screen): Tally [5101] | "), std::string::npos) << report.front();
  // How soon the copy leaves for the window's own Spaces is its own pace, so the watch lines
  // may start on either; they show its panels.
  EXPECT_EQ(report[1].rfind("  +", 0), 0u) << report[1];
  EXPECT_NE(report[1].find(": 3 switcher windows on screen, showing ["), std::string::npos) << report[1];
  const std::string& last = report.back();
  EXPECT_EQ(last.rfind("up: switcher still open after 3s: ", 0), 0u) << last;
  EXPECT_NE(last.find("Quill (full screen): Quill [2101]"), std::string::npos) << last;
}

}  // namespace
}  // namespace drivers
