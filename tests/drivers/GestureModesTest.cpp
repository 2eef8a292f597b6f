// Gestures on another running copy's switcher: ⌘ with ⌥ taps moving it through Spaces,
// and the pointer gliding over its panel before ⌘ is let go.

#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "CopyDesk.h"
#include "platform/Geometry.h"

namespace drivers {
namespace {

class GestureModesTest : public CopyDesk {
 protected:
  /// The left panel's glass as the copy logged it when it last opened there steered, in
  /// global top-left points.
  std::optional<CGRect> leftGlass() {
    const std::string text = fileText(log());
    const std::regex line("ok Left \\(steered\\): [^\\n]* glass=\\(([-0-9.]+), ([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\\)");
    std::optional<CGRect> glass;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
      const double x = std::stod((*it)[1]), y = std::stod((*it)[2]), w = std::stod((*it)[3]), h = std::stod((*it)[4]);
      glass = CGRect(x, 720 - y - h, w, h);  // the log speaks bottom-left
    }
    return glass;
  }
};

// Each pass takes the copy one step right on the left display, as its log says; the report
// samples the Spaces at the mode's own times after ⌘ is let go, which a loaded machine's
// copy may not keep.
TEST_F(GestureModesTest, OneOptionTapUnderCommandTakesTheCopyToTheNextSpaceEachPass) {
  startCopy();
  ASSERT_EQ(run({"--space-loop-test", path("loop.txt"), "2101", "1", "2"}), 0);
  const auto report = lines("loop.txt");
  ASSERT_EQ(report.size(), 2u);
  for (std::size_t p = 0; p < 2; ++p) {
    const std::string& line = report[p];
    EXPECT_EQ(line.rfind(std::to_string(p + 1) + ": from [1, 2] Quill → 0.3s: ", 0), 0u) << line;
    EXPECT_NE(line.find(" | 2.0s: ["), std::string::npos) << line;
  }
  // Each pass lands: the left display shows Space 4 and its desktop has the focus.
  const std::string step =
      "switch to the desktop on space \\[4\\] from \\[1, 2\\]: (jumped|slid), showing \\[2, 4\\], focused its desktop";
  EXPECT_TRUE(logShowsInOrder({step, step})) << fileText(log());
}

// The copy switches to the tile under the last move, as its log says (the report's front
// app is sampled 1 s after ⌘ is let go, which a loaded machine's copy may not keep).
TEST_F(GestureModesTest, TheCopySwitchesToTheTileUnderTheLastPointerMove) {
  startCopy();
  const std::optional<CGRect> glass = leftGlass();
  ASSERT_TRUE(glass) << fileText(log());
  // The first tile, just inside the glass, is the showing Space's desktop; ⌘⇥ alone would
  // go to Finder's window.
  const double x = glass->minX() + 28 + 12, y = glass->midY();
  ASSERT_EQ(run({"--hover-test", path("hover.txt"), "2101", platform::describe(x), platform::describe(y)}), 0);
  const auto report = lines("hover.txt");
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].rfind("front after hovering " + platform::describe(x) + "," + platform::describe(y) + ": ", 0), 0u)
      << report[0];
  EXPECT_TRUE(
      logShows("switch to the desktop on space \\[1\\] from \\[1, 2\\]: [^\n]*showing \\[1, 2\\], focused its desktop"))
      << fileText(log());
}

}  // namespace
}  // namespace drivers
