// Moving between an ordinary and a full-screen window while another running copy's
// switcher is opened in every scenario: which of its windows show, and on which Spaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "CopyDesk.h"

namespace drivers {
namespace {

class MissingModeTest : public CopyDesk {};

TEST_F(MissingModeTest, TheCopysPanelsAreLoggedInEveryScenarioAndJoinTheFullScreenSpace) {
  startCopy();
  ASSERT_EQ(run({"--missing-test", home.path, "5101", "2101"}), 0);
  const auto log = lines("log.txt");
  std::vector<std::string> summaries;
  std::map<std::string, std::vector<std::string>> windows;
  for (const std::string& line : log) {
    if (line.starts_with("  ")) {
      ASSERT_FALSE(summaries.empty()) << line;
      windows[summaries.back()].push_back(line);
    } else {
      summaries.push_back(line);
    }
  }
  EXPECT_EQ(summaries,
            (std::vector<std::string>{
                "before: spaces showing [1, 2], front Quill", "fullscreen: spaces showing [2, 5], front Tally",
                "fullscreen-again: spaces showing [2, 5], front Tally", "after: spaces showing [1, 2], front Quill"}));
  // Each scenario lists both panels and the preview, shown or not, beside the copy's status items.
  for (const auto& [summary, lines] : windows) {
    const auto panels = std::count_if(lines.begin(), lines.end(),
                                      [](const std::string& line) { return line.find(" layer 101 ") != std::string::npos; });
    EXPECT_EQ(panels, 3) << summary;
  }
  // On the full-screen Space the left panel shows there, in the overlay Space as well (the
  // mode looks once the copy has shown its panels).
  for (const char* scenario : {"fullscreen: spaces showing [2, 5], front Tally",
                               "fullscreen-again: spaces showing [2, 5], front Tally"}) {
    const auto& lines = windows[scenario];
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find(" layer 101 0,0 960x720 alpha 1 ON SCREEN ordered=true spaces [5, ") != std::string::npos;
    })) << scenario << "\n" << fileText(path("log.txt"));
  }
  for (const char* name : {"before", "fullscreen", "fullscreen-again", "after"}) {
    EXPECT_FALSE(fileText(path(std::string(name) + ".png")).empty()) << name;
  }
}

}  // namespace
}  // namespace drivers
