// ⌘⇥ into another running copy: its panels counted over time and listed, a walk through
// its steering keys photographed, and the display it opens on as the focus moves.

#include <gtest/gtest.h>

#include <QImage>
#include <set>
#include <utility>

#include "CopyDesk.h"
#include "selftest/Reports.h"

namespace drivers {
namespace {

using trelliq::reports::ScopedEnv;

class SteeringModesTest : public CopyDesk {};

TEST_F(SteeringModesTest, TabTestCountsOnePanelPerDisplayOnceTheyShowAndListsThem) {
  startCopy();
  ScopedEnv capture("CAPTURE_DIR", home.path);
  ScopedEnv extra("EXTRA_TABS", "2");  // time for a loaded machine's copy before the list is taken
  ASSERT_EQ(run({"--tab-test", path("tab.txt")}), 0);

  // The samples only grow, never past the two panels and the preview above one of them.
  // Their labels are the schedule's names, not times: the first is taken three 0.05 s
  // waits after Tab went down, at the show delay itself, so it may or may not see the
  // panels (how soon they show is measured by the appear test).
  const auto timeline = lines("timeline.txt");
  ASSERT_EQ(timeline.size(), 1u);
  std::vector<std::string> labels;
  int before = 0;
  for (std::size_t at = 0; at < timeline[0].size();) {
    const std::size_t colon = timeline[0].find(':', at), end = std::min(timeline[0].find(' ', at), timeline[0].size());
    labels.push_back(timeline[0].substr(at, colon - at));
    const int count = std::stoi(timeline[0].substr(colon + 1, end - colon - 1));
    EXPECT_GE(count, before) << timeline[0];
    EXPECT_LE(count, 3) << timeline[0];
    before = count;
    at = end + 1;
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"0.05s", "0.15s", "0.3s", "0.5s", "0.8s", "1.2s"}));

  const auto report = lines("tab.txt");
  ASSERT_EQ(report.size(), 2u);
  for (const char* frame : {kLeftFrame, kRightFrame}) {
    EXPECT_NE(report[0].find(std::string("\"layer 101  ") + frame + "\""), std::string::npos) << report[0];
  }
  EXPECT_TRUE(report[1].starts_with("Dock windows on screen: [\"layer 20 Dock (")) << report[1];
  EXPECT_EQ(report[1].find("layer 20  ("), std::string::npos) << "the system's switcher stays closed: " << report[1];
  EXPECT_FALSE(fileText(path("ours-shot.png")).empty());
}

// Over a grid across the middle band of two pictures: the share of points where they
// differ, and how many colours the second one shows there.
std::pair<double, std::size_t> middleBand(const QImage& a, const QImage& b) {
  int looked = 0, differ = 0;
  std::set<QRgb> colours;
  for (int y = a.height() / 3; y < a.height() * 2 / 3; y += 9) {
    for (int x = 0; x < a.width(); x += 9) {
      ++looked;
      differ += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
      colours.insert(b.pixel(x, y));
    }
  }
  return {looked ? static_cast<double>(differ) / looked : 0, colours.size()};
}

TEST_F(SteeringModesTest, SteerTestPhotographsEveryDisplayAfterEveryStep) {
  startCopy();
  ASSERT_EQ(run({"--steer-test", home.path}), 0);
  for (const char* step : {"0-tab", "1-fn", "2-tab", "3-tab", "4-option", "5-backtick"}) {
    for (const char* display : {".png", "-display1.png"}) {
      const std::string name = std::string("step-") + step + display;
      EXPECT_EQ(QImage(QString::fromStdString(path(name))).size(), QSize(1920, 1440)) << name;
    }
  }
}

// The first step's picture is taken 0.5 s after the copy's panels came on screen.
TEST_F(SteeringModesTest, TheStepsPicturesShowTheCopysPanels) {
  startCopy();
  ASSERT_EQ(run({"--screenshot", path("quiet.png")}), 0);
  ASSERT_EQ(run({"--steer-test", home.path}), 0);
  const QImage quiet(QString::fromStdString(path("quiet.png")));
  const QImage first(QString::fromStdString(path("step-0-tab.png")));
  ASSERT_FALSE(quiet.isNull());
  const auto [changed, colours] = middleBand(quiet, first);
  EXPECT_GT(changed, 0.3) << "the panel's glass lies across the middle of the display";
  EXPECT_GT(colours, 20u) << "with the tiles' icons and names on it";
}

// Each session shows the copy's card (the preview over the steered panel) by the time the
// mode looks, 0.5 s after its panels came on screen; the one after this process brought
// another app forward too.
TEST_F(SteeringModesTest, OpeningTestFollowsTheCopyToTheDisplayItWasSteeredTo) {
  // Tally in front, its window on the full-screen Space that does not show; displays wide
  // enough that the mode tells the copy's panels from its card (the preview) by width.
  startCopy("304", 1280);
  ASSERT_EQ(run({"--opening-test", path("opening.txt")}), 0);
  const auto report = lines("opening.txt");
  ASSERT_EQ(report.size(), 4u) << fileText(path("opening.txt"));
  EXPECT_TRUE(report[0].starts_with("1: opened on display ")) << report[0];
  EXPECT_TRUE(report[1].starts_with("2 (should match where 1 ended): opened on display ")) << report[1];
  // This process brings forward a window of the display the second session did not end on
  // (the left one when it names none), and the copy opens there next.
  const bool endedLeft =
      report[1].find("(Left)") != std::string::npos || report[1].find("(Right)") == std::string::npos;
  EXPECT_EQ(report[2], endedLeft ? "went to Lumen & Slate on Right" : "went to Finder & Quill on Left");
  EXPECT_EQ(report[3],
            std::string("3 (should be there): opened on ") + (endedLeft ? "display 1 (Right)" : "display 0 (Left)"))
      << fileText(path("opening.txt")) << "\n" << fileText(log());
}

}  // namespace
}  // namespace drivers
