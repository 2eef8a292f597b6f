// "--screenshot", "--prefs-shot", "--guide-shot" and "--permissions-shot" on the built-in
// desk: the file each writes, its size, how long it waits, and what happens when nothing
// can be written. Window pictures are twice the window's size in points; the built-in
// desk's displays are 1512 × 982 and 2560 × 1440 points, with the pointer on the first.

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QScrollBar>

#include "ShotDesk.h"
#include "app/views/PermissionsWindow.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "guide/ShortcutLegendView.h"
#include "guide/TopicRow.h"
#include "preferences/PreferencesWindow.h"
#include "settings/Settings.h"
#include "selftest/PictureModes.h"

namespace trelliq {
namespace {

using shots::dispatch;
using shots::elapsed;
using shots::pngSize;
using Args = std::vector<std::string>;

QSize doubled(const NSWindow& window) {
  return QSize(static_cast<int>(window.frame().width() * 2), static_cast<int>(window.frame().height() * 2));
}

class PictureModesTest : public ::testing::Test, public shots::ShotDesk {};

TEST_F(PictureModesTest, TheFlagsNeedTheirArgumentsAndDelaysAreRead) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const auto flag = [&](Args args) -> std::string {
    args.insert(args.begin(), "trelliq");
    const CommandLine line = readCommandLine(args, modes);
    if (line.problem) return "refused";
    return line.mode ? modes[line.mode->mode].flag + "@" + std::to_string(line.mode->at) : "normal start";
  };
  EXPECT_EQ(flag({"--screenshot"}), "refused");
  EXPECT_EQ(flag({"--prefs-shot"}), "refused");
  EXPECT_EQ(flag({"--glass-test", "--dump"}), "--glass-test@1") << "a later flag is just its folder";
  EXPECT_EQ(flag({"--permissions-shot", "o.png", "--glass-test"}), "refused") << "the glass test lacks its folder";
  EXPECT_EQ(flag({"--guide-shot", "g.png", "1", "Spaces"}), "--guide-shot@1");
  EXPECT_EQ(flag({"--guide-shot", "g.png", "1", "Spaces", "--guide-shot", "h.png"}), "refused");
  EXPECT_EQ(flag({"--native-shot", "dir"}), "--native-shot@1");
  EXPECT_EQ(flag({"--native-test"}), "refused");
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatch({"--screenshot"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--screenshot needs out [w]"), std::string::npos);

  const Args args = {"--prefs-shot", "out", "0.25", "-2", "bottom", "1e300", ""};
  EXPECT_EQ(PictureModes::delay(args, 2), 0.25);
  EXPECT_EQ(PictureModes::delay(args, 3), 0.0) << "a negative wait is no wait";
  EXPECT_EQ(PictureModes::delay(args, 4), PictureModes::kDefaultDelay);
  EXPECT_EQ(PictureModes::delay(args, 5), PictureModes::kLongestDelay);
  EXPECT_EQ(PictureModes::delay(args, 6), PictureModes::kDefaultDelay);
  EXPECT_EQ(PictureModes::delay(args, 7), PictureModes::kDefaultDelay) << "absent";
}

TEST_F(PictureModesTest, AScreenshotIsTheWindowsPictureElseEveryDisplay) {
  EXPECT_EQ(dispatch({"--screenshot", path("window.png"), "2101"}), 0);
  EXPECT_EQ(pngSize(path("window.png")), QSize(1800, 1400)) << "Draft.txt, 900 × 700 points";
  EXPECT_FALSE(exists("window-display1.png"));

  // No such window: every display instead.
  EXPECT_EQ(dispatch({"--screenshot", path("screens.png"), "99999"}), 0);
  EXPECT_EQ(pngSize(path("screens.png")), QSize(3024, 1964));
  EXPECT_EQ(pngSize(path("screens-display1.png")), QSize(5120, 2880));
  for (const char* window : {"Draft", "5000000000", "NaN"}) {  // not a window number: a usage error
    testing::internal::CaptureStderr();
    EXPECT_EQ(dispatch({"--screenshot", path("bad.png"), window}), 2) << window;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("--screenshot out [w]: arguments that do not parse"),
              std::string::npos);
    EXPECT_FALSE(exists("bad.png"));
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatch({"--screenshot", path("none/window.png"), "2101"}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "trelliq: cannot write " + path("none/window.png") + ": No such file or directory\n");
  EXPECT_FALSE(exists("none"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatch({"--screenshot", "/"}), 1) << "a folder is no picture, and nothing aborts";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "trelliq: cannot write /: Is a directory\ntrelliq: cannot write /: Is a directory\n")
      << "one line for each display's picture";

  // Without screen capture neither the window nor the displays can be pictured.
  scene.world.setScreenCaptureAllowed(false);
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatch({"--screenshot", path("denied.png"), "2101"}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "trelliq: --screenshot: no display could be captured\n");
  EXPECT_FALSE(exists("denied.png"));
  EXPECT_FALSE(exists("denied-display1.png"));
}

TEST_F(PictureModesTest, ThePreferencesShotWaitsScrollsOnlyWithADelayBeforeBottomAndShowsTheForm) {
  shots::inOwnProcess([&] {
    ASSERT_FALSE(Settings::defaults().stringForKey("tiles")) << "a fresh program has registered nothing";
    // Without a delay: 1.5 s, nothing scrolled.
    EXPECT_NEAR(elapsed([&] { EXPECT_EQ(dispatch({"--prefs-shot", path("top.png")}), 0); }), 1.5, 1e-6);
    NSWindow* window = PreferencesWindow::shared().window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title(), "Trelliq Preferences");
    EXPECT_EQ(Settings::defaults().stringForKey("tiles"), "apps") << "the form shows the registered options";
    EXPECT_EQ(pngSize(path("top.png")), doubled(*window));
    const std::vector<QAbstractScrollArea*> areas = PictureModes::scrollViews(window->contentView());
    ASSERT_FALSE(areas.empty());
    ASSERT_GT(areas.front()->verticalScrollBar()->maximum(), 0) << "the form is taller than the window";
    EXPECT_EQ(areas.front()->verticalScrollBar()->value(), 0);

    EXPECT_NEAR(elapsed([&] { dispatch({"--prefs-shot", path("bottom.png"), "0", "bottom"}); }), 0.5, 1e-6);
    for (QAbstractScrollArea* area : areas) {
      EXPECT_EQ(area->verticalScrollBar()->value(), area->verticalScrollBar()->maximum());
    }
    const auto top = shots::png(path("top.png")), bottom = shots::png(path("bottom.png"));
    ASSERT_TRUE(top && bottom);
    EXPECT_NE(*top, *bottom) << "the picture is the form as it is drawn, scrolled";

    // "Bottom" is not "bottom", nor is "bottom" a delay: usage errors, nothing drawn.
    testing::internal::CaptureStderr();
    EXPECT_EQ(dispatch({"--prefs-shot", path("again.png"), "0.2", "Bottom"}), 2);
    EXPECT_EQ(dispatch({"--prefs-shot", path("again.png"), "bottom"}), 2);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(exists("again.png"));
    EXPECT_EQ(dispatch({"--prefs-shot", path("none/prefs.png"), "0"}), 1);
    EXPECT_FALSE(exists("none"));
  });
}

TEST_F(PictureModesTest, TheGuideShotOpensOnTheTopicAndWaitsTheDelay) {
  shots::inOwnProcess([&] {
    EXPECT_NEAR(elapsed([&] { dispatch({"--guide-shot", path("guide.png"), "0.5", "Spaces"}); }), 0.5, 1e-6);
    NSWindow* window = GuideWindow::shared().window();
    ASSERT_TRUE(window);
    EXPECT_EQ(pngSize(path("guide.png")), doubled(*window));
    std::string selected;
    for (const TopicRow* row : GuideWindow::shared().view()->topicRows()) {
      if (row->isSelected()) selected = row->title();
    }
    EXPECT_EQ(selected, "Spaces");
    // The options' defaults are registered as at a launch, so the legend shows what the
    // running program shows: the ⌥` switcher is on by default and has its group.
    const auto groups = ShortcutLegend::groups(GuideWindow::shared().view()->legend().mode());
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(groups.back().title, "An app's windows, opened with ⌥`");

    EXPECT_NEAR(elapsed([&] { dispatch({"--guide-shot", path("later.png")}); }), 1.5, 1e-6);
    EXPECT_TRUE(pngSize(path("later.png")));
    // The window closed by the user is gone from the screen; the mode brings it back.
    window->performClose(nullptr);
    dispatch({"--guide-shot", path("reopened.png"), "0"});
    EXPECT_EQ(pngSize(path("reopened.png")), doubled(*window));
  });
}

TEST_F(PictureModesTest, ThePermissionsShotNeedsScreenCapture) {
  shots::inOwnProcess([&] {
    scene.world.setScreenCaptureAllowed(false);
    testing::internal::CaptureStderr();
    EXPECT_NEAR(elapsed([&] { EXPECT_EQ(dispatch({"--permissions-shot", path("denied.png")}), 1); }), 1.5, 1e-6);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trelliq: cannot capture the Permissions window\n");
    EXPECT_FALSE(exists("denied.png"));
    NSWindow* window = PermissionsWindow::shared().window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());

    scene.world.setScreenCaptureAllowed(true);
    EXPECT_EQ(dispatch({"--permissions-shot", path("welcome.png"), "0"}), 0);
    EXPECT_EQ(pngSize(path("welcome.png")), doubled(*window));
  });
}

}  // namespace
}  // namespace trelliq
