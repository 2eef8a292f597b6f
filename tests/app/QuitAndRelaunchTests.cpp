#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "AppDelegatePeer.h"
#include "ShellDesk.h"
#include "app/AppDelegate.h"
#include "app/NativeSwitcher.h"
#include "platform/FoundationProcesses.h"

namespace {

using trelliq::AppDelegate;
using trelliq::AppDelegatePeer;
using trelliq::NativeSwitcher;
using Lines = std::vector<std::string>;
using Args = std::vector<std::string>;

const std::string kSettingsExecutable = "/System/Applications/System Settings.app/Contents/MacOS/System Settings";
const std::string kWaitForExit =
    "while kill -0 4242 2>/dev/null; do sleep 0.1; done; sleep 0.5; /usr/bin/open \"$0\" \"$@\"";

// The program running with its delegate in place and the system's switcher handed over.
struct QuitDesk : ShellDesk {
  FakeWindow permissions, preferences;
  AppDelegate delegate{permissions, preferences};
  AppDelegatePeer peer{delegate};
  std::int32_t settings = addApp("System Settings", "/System/Applications/System Settings.app");
  std::int32_t notes = addApp("Notes", "/Applications/Notes.app");

  QuitDesk() {
    NSApp().setDelegate(&delegate);
    NSApp().finishLaunching();
    NativeSwitcher::set(false);
  }

  /// Another program sends the quit event; `sender` nothing leaves the sender out.
  void quitFrom(std::optional<std::int32_t> sender) {
    platform::AppleEvent event{kCoreEventClass, kAEQuitApplication, {}};
    if (sender) event.attributes[keySenderPIDAttr] = platform::PlistValue(*sender);
    ASSERT_TRUE(processes.sendAppleEvent(event));
    scene.clock.runUntilIdle();
  }

  /// The relaunch launches (all of them "/bin/sh"), by their arguments.
  std::vector<Args> shells() const {
    std::vector<Args> result;
    for (const auto& launch : processes.launches()) {
      EXPECT_EQ(launch.executable, "/bin/sh");
      result.push_back(launch.arguments);
    }
    return result;
  }
};

TEST(QuitAndRelaunchTest, SystemSettingsQuitReopensWithTheWindowThatWasShowing) {
  struct Case {
    bool permissions, preferences;
    Args extra;
  };
  const Case cases[] = {
      {false, false, {}},
      {true, false, {"--args", "--show-permissions"}},
      {false, true, {"--args", "--show-preferences"}},
      {true, true, {"--args", "--show-permissions"}},
  };
  for (const Case& c : cases) {
    QuitDesk desk;
    desk.permissions.visible = c.permissions;
    desk.preferences.visible = c.preferences;
    desk.quitFrom(desk.settings);

    EXPECT_EQ(ShellDesk::log(), Lines{"asked to quit by " + kSettingsExecutable + "; opening again once quit"});
    Args expected{"-c", kWaitForExit, "/Applications/Trelliq.app"};
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(desk.shells(), std::vector<Args>{expected});
    EXPECT_TRUE(ShellDesk::hotKeysOn());
    EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  }
}

TEST(QuitAndRelaunchTest, ThePrivacyExtensionCountsAsSystemSettings) {
  QuitDesk desk;
  const std::string extension =
      "/System/Library/ExtensionKit/Extensions/SecurityPrivacyExtension.appex/Contents/MacOS/SecurityPrivacyExtension";
  desk.processes.addProcess(880, extension);
  desk.quitFrom(880);
  EXPECT_EQ(ShellDesk::log(), Lines{"asked to quit by " + extension + "; opening again once quit"});
  EXPECT_EQ(desk.shells().size(), 1u);
}

TEST(QuitAndRelaunchTest, OtherSendersAreNamedButNotReopened) {
  struct Case {
    std::optional<std::int32_t> sender;
    std::string named;
  };
  const Case cases[] = {
      {std::nullopt, "pid 0"},
      {31337, "pid 31337"},
      {-1, "pid -1"},
  };
  for (const Case& c : cases) {
    QuitDesk desk;
    desk.quitFrom(c.sender);
    EXPECT_EQ(ShellDesk::log(), Lines{"asked to quit by " + c.named});
    EXPECT_TRUE(desk.shells().empty());
    EXPECT_TRUE(ShellDesk::hotKeysOn());
    EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  }
  QuitDesk desk;
  desk.quitFrom(desk.notes);
  EXPECT_EQ(ShellDesk::log(), Lines{"asked to quit by /Applications/Notes.app/Contents/MacOS/Notes"});
  EXPECT_TRUE(desk.shells().empty());
}

TEST(QuitAndRelaunchTest, ASenderPathCannotForgeLogLines) {
  QuitDesk desk;
  desk.processes.addProcess(881, "/tmp/evil\n12:00:00.000 accessibility: fine");
  desk.quitFrom(881);
  EXPECT_EQ(ShellDesk::log(), Lines{"asked to quit by /tmp/evil\\n12:00:00.000 accessibility: fine"});
}

TEST(QuitAndRelaunchTest, QuittingFromTheMenuRestoresTheKeysQuietly) {
  QuitDesk desk;
  NSApp().terminate(nullptr);
  EXPECT_TRUE(ShellDesk::log().empty());
  EXPECT_TRUE(desk.shells().empty());
  EXPECT_TRUE(ShellDesk::hotKeysOn());
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
}

TEST(QuitAndRelaunchTest, OnlyQuitEventsAreLookedAt) {
  QuitDesk desk;
  std::optional<NSApplicationTerminateReply> reply;
  const platform::AppleEvent open{kCoreEventClass, fourCharCode("odoc"), {{keySenderPIDAttr, desk.settings}}};
  NSAppleEventManager::shared().dispatch(open, [&] { reply = desk.delegate.applicationShouldTerminate(NSApp()); });
  EXPECT_EQ(reply, NSApplicationTerminateReply::terminateNow);
  EXPECT_TRUE(ShellDesk::log().empty());
  EXPECT_FALSE(desk.peer.reopenAfterQuit());

  // An event that is not a quit does not end the program either.
  ASSERT_TRUE(desk.processes.sendAppleEvent(open));
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(desk.processes.exits().empty());
  EXPECT_FALSE(NSAppleEventManager::shared().currentAppleEvent()) << "only current while handled";
}

TEST(QuitAndRelaunchTest, RestartReopensWithoutNamingASender) {
  QuitDesk desk;
  desk.preferences.visible = true;
  AppDelegate::restart();
  EXPECT_TRUE(desk.peer.reopenAfterQuit());
  EXPECT_TRUE(ShellDesk::log().empty());
  EXPECT_EQ(desk.shells(),
            (std::vector<Args>{{"-c", kWaitForExit, "/Applications/Trelliq.app", "--args", "--show-preferences"}}));
  EXPECT_TRUE(ShellDesk::hotKeysOn());
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
}

TEST(QuitAndRelaunchTest, AnEarlierMarkIsReportedByALaterQuit) {
  QuitDesk desk;
  desk.peer.markReopen();
  desk.quitFrom(desk.notes);
  EXPECT_EQ(ShellDesk::log(),
            Lines{"asked to quit by /Applications/Notes.app/Contents/MacOS/Notes; opening again once quit"});
  EXPECT_EQ(desk.shells().size(), 1u);
}

TEST(QuitAndRelaunchTest, AShellThatCannotStartStillQuits) {
  QuitDesk desk;
  desk.processes.failLaunches("no such file");
  desk.quitFrom(desk.settings);
  EXPECT_TRUE(desk.processes.launches().empty());
  EXPECT_TRUE(ShellDesk::hotKeysOn());
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
}

}  // namespace
