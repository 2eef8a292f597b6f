#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "ShellDesk.h"
#include "app/Permission.h"
#include "settings/Settings.h"

namespace {

using trelliq::Permission;
using trelliq::Settings;

struct PermissionDesk : ShellDesk {
  PermissionDesk() { server.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app"); }

  /// Asks whether screen recording came after launch and lets the answer arrive.
  std::optional<bool> allowedSinceLaunch(double wait = 1) {
    std::optional<bool> answer;
    Permission::screenRecordingAllowedSinceLaunch([&](bool allowed) { answer = allowed; });
    EXPECT_FALSE(answer) << "never answered before returning";
    scene.clock.advance(wait);
    return answer;
  }

  std::uint32_t addWindow(std::int32_t pid, std::int32_t layer = 0) {
    sim::Window w;
    w.pid = pid;
    w.title = "window";
    w.layer = layer;
    w.bounds = CGRect(100, 100, 600, 400);
    w.spaces = {kSpace};
    return server.addWindow(w);
  }
};

TEST(PermissionTest, AccessibilityNeedsTrustAndAWorkingTap) {
  PermissionDesk desk;
  EXPECT_TRUE(Permission::accessibility.isGranted());
  EXPECT_TRUE(desk.events->taps().empty()) << "the test tap is removed at once";

  desk.events->setActiveTapsRefused(true);
  EXPECT_FALSE(Permission::accessibility.isGranted()) << "trusted in the list, refused by the event filter";
  EXPECT_FALSE(Permission::canFilterEvents());

  desk.events->setActiveTapsRefused(false);
  desk.world.setAccessibilityTrusted(false);
  desk.events->setInputMonitoringAllowed(true);
  EXPECT_FALSE(Permission::accessibility.isGranted());
  EXPECT_FALSE(Permission::canFilterEvents()) << "listening alone is not filtering";
}

TEST(PermissionTest, ScreenRecordingFollowsThePreflight) {
  PermissionDesk desk;
  EXPECT_FALSE(Permission::screenRecording.isGranted());
  desk.world.setScreenCaptureAllowed(true);
  EXPECT_TRUE(Permission::screenRecording.isGranted());
}

TEST(PermissionTest, CasesAreDistinctAndNameTheirPanesAndKeys) {
  EXPECT_EQ(Permission::allCases, (std::array{Permission::accessibility, Permission::screenRecording}));
  EXPECT_EQ((std::unordered_set<Permission>{Permission::accessibility, Permission::screenRecording,
                                            Permission::accessibility})
                .size(),
            2u);
  EXPECT_EQ(Permission::accessibility.settings(),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
  EXPECT_EQ(Permission::screenRecording.settings(),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
  EXPECT_EQ(Permission::accessibility.askedKey(), "askedForAccessibility");
  EXPECT_EQ(Permission::screenRecording.askedKey(), "askedForScreenRecording");
}

TEST(PermissionTest, TheFirstRequestPromptsAndEveryLaterOneOpensSettings) {
  struct Case {
    Permission permission;
    const char* promptCall;
  };
  for (const Case c : {Case{Permission::accessibility, "accessibilityPrompt"},
                       Case{Permission::screenRecording, "requestScreenCaptureAccess"}}) {
    PermissionDesk desk;
    desk.world.setAccessibilityTrusted(false);  // asked for because it is missing
    const Permission other =
        c.permission == Permission::accessibility ? Permission::screenRecording : Permission::accessibility;
    EXPECT_FALSE(Settings::defaults().boolForKey(c.permission.askedKey())) << "not registered: reads false";
    c.permission.request();
    EXPECT_EQ(desk.world.callCount(c.promptCall), 1);
    EXPECT_TRUE(Settings::defaults().boolForKey(c.permission.askedKey()));
    EXPECT_FALSE(Settings::defaults().boolForKey(other.askedKey())) << "each permission has its own mark";
    EXPECT_TRUE(desk.server.openedURLs().empty());

    c.permission.request();
    EXPECT_EQ(desk.world.callCount(c.promptCall), 1);
    EXPECT_EQ(desk.server.openedURLs(), std::vector<std::string>{c.permission.settings()});

    // The mark outlives the process: the next launch goes to System Settings too.
    desk.scene.restart();
    desk.world.setAccessibilityTrusted(false);
    desk.server.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
    c.permission.request();
    EXPECT_EQ(desk.world.callCount(c.promptCall), 0);
    EXPECT_EQ(desk.server.openedURLs(), std::vector<std::string>{c.permission.settings()});
  }
}

TEST(PermissionTest, AGrantFromThePromptShowsInTheNextCheck) {
  PermissionDesk desk;
  desk.world.setAccessibilityTrusted(false);
  desk.world.setAccessibilityGrantedOnPrompt(true);
  desk.world.setScreenCaptureGrantedOnRequest(true);
  Permission::accessibility.request();
  Permission::screenRecording.request();
  EXPECT_TRUE(Permission::accessibility.isGranted());
  EXPECT_TRUE(Permission::screenRecording.isGranted());
}

TEST(PermissionTest, ScreenRecordingAtLaunchIsFixedForTheProcess) {
  PermissionDesk desk;
  EXPECT_FALSE(Permission::screenRecordingAtLaunch());
  desk.world.setScreenCaptureAllowed(true);
  EXPECT_FALSE(Permission::screenRecordingAtLaunch());
  desk.scene.restart();
  desk.world.setScreenCaptureAllowed(true);
  EXPECT_TRUE(Permission::screenRecordingAtLaunch()) << "a new process notes its own launch";
}

TEST(PermissionTest, AllowedSinceLaunchAsksAChildOnlyWhenThisProcessCannotTell) {
  {
    PermissionDesk desk;
    desk.world.setScreenCaptureAllowed(true);
    Permission::screenRecordingAtLaunch();
    EXPECT_EQ(desk.allowedSinceLaunch(0), false) << "allowed from the start: no restart needed";
    EXPECT_TRUE(desk.processes.launches().empty());
  }
  {
    PermissionDesk desk;
    Permission::screenRecordingAtLaunch();
    desk.world.setScreenCaptureAllowed(true);
    EXPECT_EQ(desk.allowedSinceLaunch(0), true);
    EXPECT_TRUE(desk.processes.launches().empty());
  }
  for (bool childSees : {true, false}) {
    PermissionDesk desk;
    Permission::screenRecordingAtLaunch();
    desk.world.setScreenCaptureForNewProcesses(childSees);
    EXPECT_FALSE(Permission::screenRecording.isGranted()) << "this process keeps its answer";
    EXPECT_EQ(desk.allowedSinceLaunch(), childSees);
    const auto launches = desk.processes.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].executable, "/Applications/Trelliq.app/Contents/MacOS/Trelliq");
    EXPECT_EQ(launches[0].arguments, std::vector<std::string>{"--screen-recording-check"});
  }
}

TEST(PermissionTest, OnlyAChildThatExitsWithZeroSaysYes) {
  for (int status : {0, 1, 2, 255}) {
    PermissionDesk desk;
    Permission::screenRecordingAtLaunch();
    desk.processes.holdAll(true);
    std::optional<bool> answer;
    Permission::screenRecordingAllowedSinceLaunch([&](bool allowed) { answer = allowed; });
    desk.scene.clock.advance(10);
    EXPECT_FALSE(answer) << "no time-out: the child's answer is awaited";
    ASSERT_EQ(desk.processes.launches().size(), 1u);
    ASSERT_TRUE(desk.processes.finish(desk.processes.launches()[0].pid, status));
    desk.scene.clock.runUntilIdle();
    EXPECT_EQ(answer, status == 0) << status;
  }
  PermissionDesk desk;
  Permission::screenRecordingAtLaunch();
  desk.processes.failLaunches("cannot execute");
  EXPECT_EQ(desk.allowedSinceLaunch(0), false) << "a child that cannot start counts as no";
}

TEST(PermissionTest, ConfirmCaptureTakesTheFrontWindowOfAnotherAppOnce) {
  PermissionDesk desk;
  const std::int32_t notes = desk.addApp("Notes", "/Applications/Notes.app");
  const std::uint32_t back = desk.addWindow(notes);
  desk.addWindow(notes, 25);  // a floating window in front: not a normal window
  desk.addWindow(desk.server.ownProcessIdentifier());
  const std::string line = "screen recording: first capture, so macOS asks to confirm it now";

  Permission::confirmScreenCapture();
  desk.scene.clock.advance(1);
  EXPECT_FALSE(Settings::defaults().boolForKey("screenCaptureConfirmed")) << "without the permission nothing happens";
  EXPECT_TRUE(desk.server.privateCalls("SLSHWCaptureWindowList").empty());

  desk.world.setScreenCaptureAllowed(true);
  Permission::confirmScreenCapture();
  desk.scene.clock.advance(1);
  EXPECT_TRUE(Settings::defaults().boolForKey("screenCaptureConfirmed"));
  EXPECT_EQ(ShellDesk::log(), std::vector<std::string>{line});
  const auto captures = desk.server.privateCalls("SLSHWCaptureWindowList");
  ASSERT_EQ(captures.size(), 1u);
  ASSERT_EQ(captures[0].arguments.size(), 3u);
  EXPECT_EQ(captures[0].arguments[1], platform::PlistValue(platform::PlistArray{back}))
      << "the own window in front is passed over";

  Permission::confirmScreenCapture();
  desk.scene.clock.advance(1);
  EXPECT_EQ(ShellDesk::log().size(), 1u) << "once per user";
  EXPECT_EQ(desk.server.privateCalls("SLSHWCaptureWindowList").size(), 1u);
}

TEST(PermissionTest, ConfirmCaptureWithOnlyOwnWindowsWritesNothing) {
  PermissionDesk desk;
  desk.world.setScreenCaptureAllowed(true);
  Permission::confirmScreenCapture();
  desk.addWindow(desk.server.ownProcessIdentifier());
  Permission::confirmScreenCapture();
  desk.scene.clock.advance(1);
  EXPECT_FALSE(Settings::defaults().boolForKey("screenCaptureConfirmed")) << "the next launch tries again";
  EXPECT_TRUE(ShellDesk::log().empty());
  EXPECT_TRUE(desk.server.privateCalls("SLSHWCaptureWindowList").empty());
}

}  // namespace
