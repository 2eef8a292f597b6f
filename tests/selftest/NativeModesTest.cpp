// "--native-test" and "--native-shot" on the built-in desk, whose Dock draws the system's
// own ⌘⇥ switcher: what they list and write, and that they leave it closed.

#include <gtest/gtest.h>

#include "Reports.h"
#include "ShotDesk.h"
#include "app/NativeSwitcher.h"
#include "platform/AppKitWorkspace.h"
#include "selftest/NativeModes.h"
#include "selftest/WorldReader.h"

namespace trelliq {
namespace {

class NativeModesTest : public ::testing::Test, public shots::ShotDesk {};

TEST_F(NativeModesTest, TheTestListsAndCapturesTheSwitchersWindowAndClosesItWithoutSwitching) {
  const std::size_t dockBefore = NativeModes::dockWindows().size();
  const std::string front = WorldReader::frontName();
  EXPECT_EQ(shots::dispatch({"--native-test", scene.home}), 0);

  const auto lines = reports::lines(path("native.txt"));
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 2u);
  const std::string& line = (*lines)[0];
  ASSERT_EQ(line.rfind("window ", 0), 0u) << line;
  const std::string number = line.substr(7, line.find(' ', 7) - 7);
  EXPECT_NE(line.find(" layer 20 name '' bounds ("), std::string::npos) << line;
  const auto picture = shots::pngSize(path("native-" + number + ".png"));
  ASSERT_TRUE(picture);
  EXPECT_EQ((*lines)[1], "  saved " + std::to_string(picture->width()) + "x" + std::to_string(picture->height()));

  EXPECT_EQ(NativeModes::dockWindows().size(), dockBefore) << "esc closed it";
  EXPECT_EQ(WorldReader::frontName(), front);
}

TEST_F(NativeModesTest, NothingNewGivesAnEmptyReportAndTheShotKeepsNoFileWhereNoneCanBeWritten) {
  // Without screen capture the window is listed, but not saved.
  scene.world.setScreenCaptureAllowed(false);
  EXPECT_EQ(shots::dispatch({"--native-test", scene.home}), 0);
  const auto lines = reports::lines(path("native.txt"));
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->size(), 1u);
  scene.world.setScreenCaptureAllowed(true);

  // With the system's ⌘⇥ turned off nothing opens.
  NativeSwitcher::set(false);
  EXPECT_EQ(shots::dispatch({"--native-test", scene.home}), 0);
  EXPECT_EQ(reports::lines(path("native.txt")), (std::vector<std::string>{""}));
  NativeSwitcher::set(true);

  EXPECT_EQ(shots::dispatch({"--native-shot", scene.home}), 0);
  EXPECT_EQ(shots::pngSize(path("native-shot.png")), QSize(3024, 1964));
  EXPECT_TRUE(exists("native-shot-display1.png"));
  EXPECT_EQ(shots::dispatch({"--native-shot", path("none")}), 1);
  EXPECT_FALSE(exists("none"));
}

}  // namespace
}  // namespace trelliq
