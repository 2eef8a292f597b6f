// "--windowless-test": the snapshot it makes (only desktops, a topped-up tray), the
// display it starts on, the words for each planned switch, and whole runs on the default
// desk, whose displays "Built-in Display" (Spaces 1, 4, 5 full screen, 6) and "Wide
// Monitor" (2, 7) show Spaces 1 and 2, and whose tray holds Easel.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Reports.h"
#include "platform/Files.h"
#include "selftest/Dispatch.h"
#include "selftest/WindowlessMode.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;
using reports::ScopedEnv;

// Processes the scene does not know, so their recorded policy is the answer.
NSRunningApplication running(std::int32_t pid, const std::string& name,
                             platform::ActivationPolicy policy = platform::ActivationPolicy::regular,
                             const std::string& bundle = "") {
  platform::RunningApplicationInfo info;
  info.pid = pid;
  info.localizedName = name;
  info.activationPolicy = policy;
  if (!bundle.empty()) info.bundleIdentifier = bundle;
  return NSRunningApplication(info);
}
AppInfo appInfo(std::int32_t pid, const std::string& name, const std::string& bundle = "") {
  return AppInfo(running(pid, name, platform::ActivationPolicy::regular, bundle));
}
Lines names(const std::vector<AppInfo>& apps) {
  Lines result;
  for (const AppInfo& a : apps) result.push_back(a.name);
  return result;
}
Cluster tile(const std::string& id, std::int64_t space, std::optional<AppInfo> app) {
  Cluster c;
  c.id = id;
  c.space = space;
  if (app) c.apps = {*app};
  return c;
}
SpaceGroup space(std::int64_t id, bool fullScreen, bool current, std::vector<Cluster> clusters) {
  return SpaceGroup{id, "Space " + std::to_string(id), fullScreen, current, std::move(clusters), std::nullopt};
}
const NSScreen kScreen(1, CGRect(0, 0, 800, 600), CGRect(), NSEdgeInsets{}, "Main", 1);

TEST(WindowlessSnapshot, TheTrayIsCutToSixAndToppedUpTowardsFourWithOtherRegularApps) {
  Scene scene;
  constexpr std::int32_t own = 9000;
  const std::vector<NSRunningApplication> all = {
      running(own, "Self"),
      running(9001, "A"),
      running(9011, "Menu", platform::ActivationPolicy::accessory),
      running(9012, "R1"),
      running(9013, "R2"),
      running(9014, "R3"),
      running(9015, "Finder", platform::ActivationPolicy::regular, "com.apple.finder")};
  Workspace loaded;
  for (int i = 1; i <= 7; ++i) loaded.tray.push_back(appInfo(9000 + i, "T" + std::to_string(i)));
  EXPECT_EQ(names(WindowlessMode::snapshot(loaded, std::nullopt, all, own, WindowlessMode::Tray::topped).tray),
            (Lines{"T1", "T2", "T3", "T4", "T5", "T6"}));

  loaded.tray = {appInfo(9001, "A"), appInfo(9002, "B")};
  EXPECT_EQ(names(WindowlessMode::snapshot(loaded, std::nullopt, all, own, WindowlessMode::Tray::topped).tray),
            (Lines{"A", "B", "R1", "R2"}))
      << "neither itself, an accessory app nor one already there";

  loaded.tray = {};
  EXPECT_EQ(names(WindowlessMode::snapshot(loaded, std::nullopt, all, own, WindowlessMode::Tray::topped).tray),
            (Lines{"A", "R1", "R2", "R3"}));
  EXPECT_EQ(names(WindowlessMode::snapshot(loaded, std::nullopt, all, own, WindowlessMode::Tray::finderOnly).tray),
            Lines{})
      << "the file manager was not among the four";
  loaded.tray = {appInfo(9015, "Finder", "com.apple.finder"), appInfo(9002, "B")};
  EXPECT_EQ(names(WindowlessMode::snapshot(loaded, std::nullopt, all, own, WindowlessMode::Tray::finderOnly).tray),
            Lines{"Finder"});
}

TEST(WindowlessSnapshot, DisplaysKeepOnlyDesktopTilesOfOrdinarySpaces) {
  Scene scene;
  const AppInfo app = appInfo(9001, "A");
  const Cluster desktop1 = tile("0:1:desktop", 1, std::nullopt);
  const DisplayGroup first{
      "d0",
      kScreen,
      {space(1, false, false, {tile("0:1:a", 1, app), desktop1}), space(2, true, false, {tile("0:2:fs", 2, app)}),
       space(3, false, false, {tile("0:3:a", 3, app)}),
       space(4, false, true, {tile("0:4:a", 4, app), tile("0:4:desktop", 4, std::nullopt)})},
      "0:4:a"};
  const DisplayGroup fullScreenOnly{"d1", kScreen, {space(5, true, true, {tile("1:5:fs", 5, app)})}, "1:5:fs"};
  const Workspace loaded({first, fullScreenOnly}, {}, {{"k", "v"}}, {4});

  const Workspace shown = WindowlessMode::snapshot(loaded, std::nullopt, {}, 0, WindowlessMode::Tray::topped);
  ASSERT_EQ(shown.displays.size(), 2u);
  const DisplayGroup& d = shown.displays[0];
  ASSERT_EQ(d.spaces.size(), 2u);
  EXPECT_EQ(d.spaces[0].id, 1);
  EXPECT_EQ(d.spaces[0].label, "Space 1");
  ASSERT_EQ(d.spaces[0].clusters.size(), 1u);
  EXPECT_EQ(d.spaces[0].clusters[0].id, "0:1:desktop");
  EXPECT_EQ(d.spaces[1].id, 4);
  EXPECT_TRUE(d.spaces[1].current);
  EXPECT_EQ(d.here, "0:4:desktop") << "the current Space's first desktop tile";
  EXPECT_TRUE(shown.displays[1].spaces.empty());
  EXPECT_EQ(shown.displays[1].here, std::nullopt);
  EXPECT_EQ(shown.names, loaded.names);
  EXPECT_EQ(shown.appDesktops, loaded.appDesktops);

  // The kept display stays as loaded; a keep naming no display keeps nothing.
  const Workspace kept = WindowlessMode::snapshot(loaded, 1, {}, 0, WindowlessMode::Tray::topped);
  EXPECT_EQ(kept.displays[1].spaces.size(), 1u);
  EXPECT_EQ(kept.displays[1].here, "1:5:fs");
  EXPECT_EQ(kept.displays[0].spaces.size(), 2u);
  EXPECT_EQ(WindowlessMode::snapshot(loaded, 7, {}, 0, WindowlessMode::Tray::topped).displays[1].spaces.size(), 0u);

  // No current Space left: no front tile.
  const DisplayGroup noCurrent{
      "d2",
      kScreen,
      {space(6, false, true, {tile("2:6:a", 6, app)}), space(7, false, false, {tile("2:7:desktop", 7, std::nullopt)})},
      "2:6:a"};
  EXPECT_EQ(WindowlessMode::snapshot(Workspace({noCurrent}, {}), std::nullopt, {}, 0, WindowlessMode::Tray::topped)
                .displays[0]
                .here,
            std::nullopt);
}

TEST(WindowlessSnapshot, TheSwitcherStartsOnTheFirstDisplayThatIsNotKept) {
  EXPECT_EQ(WindowlessMode::focusedDisplay(0, std::nullopt), 0);
  EXPECT_EQ(WindowlessMode::focusedDisplay(2, std::nullopt), 0);
  EXPECT_EQ(WindowlessMode::focusedDisplay(2, 0), 1);
  EXPECT_EQ(WindowlessMode::focusedDisplay(3, 1), 0);
  EXPECT_EQ(WindowlessMode::focusedDisplay(1, 0), 0);
  EXPECT_EQ(WindowlessMode::focusedDisplay(0, 0), 0);
  EXPECT_EQ(WindowlessMode::focusedDisplay(2, -1), 0);
}

TEST(WindowlessSnapshot, PlannedSwitchesInWords) {
  Scene scene;
  const AppInfo app = appInfo(9001, "Quill");
  EXPECT_EQ(
      WindowlessMode::describe({Switcher::Switch::Window{app, WindowInfo(9001, 2101, nullptr, {}, false, false, {})}}),
      "go to Quill window 2101");
  EXPECT_EQ(WindowlessMode::describe({Switcher::Switch::Window{app, WindowInfo()}}), "go to Quill window -");
  EXPECT_EQ(WindowlessMode::describe({Switcher::Switch::Open{app, kScreen}}), "open Quill on Main");
  EXPECT_EQ(WindowlessMode::describe({Switcher::Switch::Desktop{5, kScreen}}), "go to the desktop on space 5 of Main");
}

class WindowlessRun : public ::testing::Test {
 protected:
  WindowlessRun() {
    scene_.world.setAccessibilityTrusted(true);
    scene_.world.setScreenCaptureAllowed(true);
    platform::FileManager::createDirectory(dir_);
  }
  Lines pictures() {
    auto files = platform::FileManager::contentsOfDirectory(dir_).value_or(Lines{});
    std::erase_if(files, [](const std::string& f) { return f == "log.txt"; });
    std::sort(files.begin(), files.end());
    return files;
  }
  Scene scene_{Scene::Start::defaultScenario};
  const std::string dir_ = scene_.path("shots");
};

TEST_F(WindowlessRun, StepsThroughDesktopsDisplaysAndTheTray) {
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--windowless-test", dir_}), 0);
  const std::string b = "Built-in Display", w = "Wide Monitor";
  EXPECT_EQ(reports::lines(dir_ + "/log.txt"),
            (Lines{"open: steering " + b +
                       ", onTray false, selected Desktop 2; letting go would go to the desktop on space 4 of " + b,
                   "tab: steering " + b +
                       ", onTray false, selected Desktop 3; letting go would go to the desktop on space 6 of " + b,
                   "shift-tab: steering " + b +
                       ", onTray false, selected Desktop 2; letting go would go to the desktop on space 4 of " + b,
                   "shift-tab-again: steering " + b +
                       ", onTray false, selected Desktop 1; letting go would go to the desktop on space 1 of " + b,
                   "fn: steering " + w +
                       ", onTray false, selected Desktop 1; letting go would go to the desktop on space 2 of " + w,
                   "fn-again: steering " + b +
                       ", onTray false, selected Desktop 1; letting go would go to the desktop on space 1 of " + b,
                   "control: steering " + b + ", onTray true, selected Easel; letting go would open Easel on " + b}));
  // One picture per step and display; the pointer is on the built-in display.
  Lines expected;
  for (const char* step : {"open", "tab", "shift-tab", "shift-tab-again", "fn", "fn-again", "control"}) {
    expected.push_back(std::string(step) + "-display1.png");
    expected.push_back(std::string(step) + ".png");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(pictures(), expected);
  EXPECT_TRUE(Switcher::shared().session().isActive()) << "left open, as the process ends right after";
}

TEST_F(WindowlessRun, AKeptDisplayKeepsItsAppsAndTheFileManagerCanBeTheWholeTray) {
  ScopedEnv tray("TRAY", "finder");
  scene_.world.setScreenCaptureAllowed(false);  // the report is written without pictures
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--windowless-test", dir_, "0"}), 0);
  EXPECT_EQ(pictures(), Lines{});
  const auto lines = reports::lines(dir_ + "/log.txt");
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 7u);
  EXPECT_EQ((*lines)[0].rfind("open: steering Wide Monitor, onTray false, selected Desktop 2; ", 0), 0u) << (*lines)[0];
  // On the kept display the front app's tile is still there, and it is already in front.
  EXPECT_EQ((*lines)[4], "fn: steering Built-in Display, onTray false, selected Quill; letting go would do nothing");
  EXPECT_EQ(
      (*lines)[6],
      "control: steering Wide Monitor, onTray true, selected Finder; letting go would open Finder on Wide Monitor");
}

TEST_F(WindowlessRun, AFolderThatDoesNotExistGetsNothingAndAnUnparsableKeepIsAUsageError) {
  scene_.world.setScreenCaptureAllowed(false);
  const std::string missing = scene_.path("missing");
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--windowless-test", missing}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "trelliq: cannot write " + missing + "/log.txt: No such file or directory\n")
      << "the displays cannot be captured here, which is no failure of the mode";
  EXPECT_FALSE(platform::FileManager::fileExists(missing));
  ScopedEnv tray("TRAY", "Finder");  // compared exactly: the tray stays as built
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--windowless-test", dir_, "one"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("arguments that do not parse"), std::string::npos);
  EXPECT_FALSE(platform::FileManager::fileExists(dir_ + "/log.txt"));
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--windowless-test", dir_}), 0);
  const auto lines = reports::lines(dir_ + "/log.txt");
  ASSERT_TRUE(lines && lines->size() == 7u);
  EXPECT_EQ((*lines)[0].rfind("open: steering Built-in Display, ", 0), 0u);
  EXPECT_NE((*lines)[6].find("selected Easel"), std::string::npos) << (*lines)[6];
}

}  // namespace
}  // namespace trelliq
