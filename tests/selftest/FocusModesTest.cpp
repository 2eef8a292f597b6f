// The focus modes run end to end: on a small desk of two apps on two Spaces, and on the
// default desk (Quill in front with window 2101 on Space 1; Harbor Mail's 4101 on the
// hidden Space 4; Lumen's 3101 on the showing Space 2 and 3102 on the hidden Space 7;
// Cadence's 6102 has no accessibility element).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Reports.h"
#include "platform/AppKitWindows.h"
#include "platform/Files.h"
#include "selftest/Dispatch.h"
#include "selftest/FocusModes.h"
#include "support/Scene.h"
#include "workspace/WindowServerScenes.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;
using reports::ScopedEnv;

int run(std::vector<std::string> args) {
  args.insert(args.begin(), "trelliq");
  return dispatchSelfTests(args);
}

// One display with Spaces 11 (showing) and 12; Notes in front with a window on 11, Chat
// with a window on 12, Music running without windows.
class SmallDesk : public ::testing::Test {
 protected:
  SmallDesk() {
    scene_.world.setAccessibilityTrusted(true);
    scene_.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in")});
    scene_.windowServer.setSpaces(1, {scenes::space(11), scenes::space(12)}, 11);
    notes_ = scenes::addApp(scene_, "Notes");
    chat_ = scenes::addApp(scene_, "Chat");
    scenes::addApp(scene_, "Music");
    notesWindow_ = scenes::addWindow(scene_, {.pid = notes_, .spaces = {11}});
    chatWindow_ = scenes::addWindow(scene_, {.pid = chat_, .spaces = {12}});
    scene_.windowServer.makeFrontmost(notes_);
  }

  Scene scene_;
  const std::string out_ = scene_.path("report.txt");
  std::int32_t notes_ = 0, chat_ = 0;
  std::uint32_t notesWindow_ = 0, chatWindow_ = 0;
};

TEST_F(SmallDesk, FocusTestRaisesTheNamedAppsWindowAndComesBack) {
  const std::string n = std::to_string(notesWindow_), c = std::to_string(chatWindow_);
  EXPECT_EQ(run({"--focus-test", out_, "Chat"}), 0);
  EXPECT_EQ(reports::lines(out_),
            (Lines{"before: front Notes focused window " + n + " main=1",
                   "target: Chat window " + c + " accessory=false", "after: front Chat focused window " + c + " main=1",
                   "back: front Notes focused window " + n + " main=1"}));
}

TEST_F(SmallDesk, FocusTestLooksSixTenthsOfASecondAfterActivatingAndFourAfterGoingBack) {
  // An activation lasting exactly as long as a wait is seen at its end and not before, and
  // the two waits make one second: the looks are at 0.6 s and 0.4 s, no sooner, no later.
  const std::string n = std::to_string(notesWindow_), c = std::to_string(chatWindow_);
  const std::string chat = "front Chat focused window " + c + " main=1";
  const std::string notes = "front Notes focused window " + n + " main=1";
  for (const double activate : {0.6, 0.4}) {
    sim::Timings timings = scene_.windowServer.timings();
    timings.activate = activate;
    timings.raise = 0;
    scene_.windowServer.setTimings(timings);
    const double start = scene_.clock.monotonicSeconds();
    EXPECT_EQ(run({"--focus-test", out_, "Chat"}), 0);
    EXPECT_NEAR(scene_.clock.monotonicSeconds() - start, 1.0, 1e-9);
    const auto lines = reports::lines(out_);
    ASSERT_TRUE(lines && lines->size() == 4u);
    EXPECT_EQ((*lines)[2], "after: " + chat) << activate;
    EXPECT_EQ((*lines)[3], "back: " + (activate > 0.4 ? chat : notes)) << activate;
    scene_.clock.advance(1);  // the last activation settles before the next run
  }
}

TEST_F(SmallDesk, FocusTestNeverTargetsItsOwnProgramEvenAloneOnASpace) {
  scene_.windowServer.moveWindowsToManagedSpace({notesWindow_}, 12);
  NSWindow own(CGRect(10, 10, 200, 100), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  own.setTitle("Trelliq");
  own.orderFrontRegardless();
  scene_.clock.advance(0.1);
  EXPECT_EQ(run({"--focus-test", out_, "Trelliq"}), 0);
  EXPECT_EQ(reports::lines(out_), (Lines{"no Trelliq window (or nothing in front to come back to)"}));
  EXPECT_EQ(scene_.windowServer.frontmost(), notes_);
}

TEST_F(SmallDesk, FocusTestReportsAnAccessoryTarget) {
  scene_.windowServer.updateApp(chat_, [](sim::App& a) { a.policy = platform::ActivationPolicy::accessory; });
  EXPECT_EQ(run({"--focus-test", out_, "Chat"}), 0);
  const auto lines = reports::lines(out_);
  ASSERT_TRUE(lines && lines->size() == 4u);
  EXPECT_EQ((*lines)[1], "target: Chat window " + std::to_string(chatWindow_) + " accessory=true");
}

TEST_F(SmallDesk, FocusTestWithoutATargetOrAFrontToComeBackToWritesOneLineAndActivatesNothing) {
  // The program's own window never makes it a target.
  NSWindow own(CGRect(10, 10, 200, 100), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  own.setTitle("Trelliq");
  own.orderFrontRegardless();
  for (const std::string name : {"Trelliq", "Music", "Nobody", "chat"}) {
    EXPECT_EQ(run({"--focus-test", out_, name}), 0);
    EXPECT_EQ(reports::lines(out_), (Lines{"no " + name + " window (or nothing in front to come back to)"}));
  }
  // A name from the command line is outside text: it cannot forge a line of the report.
  EXPECT_EQ(run({"--focus-test", out_, "Nobody\nafter: forged\xe2\x80\xae"}), 0);
  EXPECT_EQ(reports::lines(out_),
            (Lines{"no Nobody\\nafter: forged\\u{202E} window (or nothing in front to come back to)"}));
  // The front app without a tile: nothing to come back to.
  scene_.windowServer.makeFrontmost(scene_.windowServer.apps().back().pid);  // Music
  EXPECT_EQ(run({"--focus-test", out_, "Chat"}), 0);
  EXPECT_EQ(reports::lines(out_), (Lines{"no Chat window (or nothing in front to come back to)"}));
  scene_.clock.advance(1);
  EXPECT_EQ(scene_.windowServer.frontmost(), scene_.windowServer.apps().back().pid) << "nothing was activated";
}

class DefaultDesk : public ::testing::Test {
 protected:
  DefaultDesk() {
    scene_.world.setAccessibilityTrusted(true);
    scene_.world.setScreenCaptureAllowed(true);
  }
  Scene scene_{Scene::Start::defaultScenario};
  const std::string out_ = scene_.path("report.txt");
};

TEST_F(DefaultDesk, SelfFocusTestActivatesItsOwnWindowAndHandsTheFrontBack) {
  EXPECT_EQ(run({"--self-focus-test", out_}), 0);
  EXPECT_EQ(reports::lines(out_),
            (Lines{"before: front Quill, we're active false, window key false",
                   "after: front Trelliq, we're active true, window key true", "back: front Quill"}));
  scene_.clock.advance(1);
  EXPECT_EQ(scene_.windowServer.frontmost(), 301);
}

TEST_F(DefaultDesk, ActivateTestBringsTheWindowForwardTheWayModeSays) {
  const struct {
    std::optional<std::string> mode;
    std::string w1;
    Lines samples;
    std::string back = "back [1, 2] Quill";  // w2 in front, its Space showing
  } cases[] = {
      // The program's own activation follows the window to its Space.
      {std::nullopt, "4101", {"1.0s [2, 4] Harbor Mail focused 4101", "2.0s [2, 4] Harbor Mail focused 4101"}},
      {"RAISE", "4101", {"1.0s [2, 4] Harbor Mail focused 4101", "2.0s [2, 4] Harbor Mail focused 4101"}},
      // A plain activation brings the app's own focused window, not the one asked for.
      {"nsactivate", "3102", {"1.0s [1, 2] Lumen focused 3101", "2.0s [1, 2] Lumen focused 3101"}},
      {"both", "3102", {"1.0s [1, 7] Lumen focused 3102", "2.0s [1, 7] Lumen focused 3102"}, "back [1, 7] Quill"},
      // The accessibility raise changes the app's focused window but not the front app.
      {"raise", "3102", {"1.0s [1, 2] Quill focused 3102", "2.0s [1, 2] Quill focused 3102"}},
      // No element to raise: nothing happens, and the samples say so.
      {"raise", "6102", {"1.0s [1, 2] Quill focused 6101", "2.0s [1, 2] Quill focused 6101"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode.value_or("(none)") + " " + c.w1);
    ScopedEnv mode("MODE", c.mode);
    scene_.restart(Scene::Start::defaultScenario);
    scene_.world.setAccessibilityTrusted(true);
    const double start = scene_.clock.monotonicSeconds();
    EXPECT_EQ(run({"--activate-test", out_, c.w1, "2101"}), 0);
    const auto lines = reports::lines(out_);
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 5u);
    EXPECT_EQ((*lines)[0], "start [1, 2] Quill");
    EXPECT_EQ((*lines)[1].rfind("0.3s [", 0), 0u) << (*lines)[1];
    EXPECT_EQ(Lines(lines->begin() + 2, lines->begin() + 4), c.samples);
    EXPECT_EQ((*lines)[4], c.back);
    EXPECT_GE(scene_.clock.monotonicSeconds() - start, 2.7 + 0.5 - 1e-9) << "samples at 0.3, 1.0 and 2.7 s";
  }
}

TEST_F(DefaultDesk, ActivateTestWithAnUnknownFirstWindowWritesOnlyStartAndBack) {
  EXPECT_EQ(run({"--activate-test", out_, "99999", "3102"}), 0);
  EXPECT_EQ(reports::lines(out_), (Lines{"start [1, 2] Quill", "back [1, 7] Lumen"}));
  EXPECT_EQ(run({"--activate-test", out_, "99999", "99998"}), 0);
  EXPECT_EQ(reports::lines(out_), (Lines{"start [1, 7] Lumen", "back [1, 7] Lumen"}));
}

TEST_F(DefaultDesk, DesktopFocusTestFocusesTheDesktopUnderThePointerAndGivesTheFrontBack) {
  EXPECT_EQ(run({"--desktop-focus-test", out_}), 0);
  auto lines = reports::lines(out_);
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 4u);
  EXPECT_EQ((*lines)[0], "before: front Quill focused window 2101 showing [1, 2]");
  EXPECT_EQ((*lines)[1], "focusDesktop(Built-in Display): true");
  EXPECT_EQ((*lines)[2].rfind("after: front Finder focused window ", 0), 0u) << (*lines)[2];
  EXPECT_EQ((*lines)[3], "back: front Quill focused window 2101 showing [1, 2]");

  scene_.windowServer.setPointer(CGPoint(2500, 300));  // on the Wide Monitor
  EXPECT_EQ(run({"--desktop-focus-test", out_}), 0);
  lines = reports::lines(out_);
  ASSERT_TRUE(lines && lines->size() == 4u);
  EXPECT_EQ((*lines)[1], "focusDesktop(Wide Monitor): true");
  EXPECT_EQ((*lines)[2].rfind("after: front Finder focused window ", 0), 0u) << (*lines)[2];
}

TEST_F(DefaultDesk, DesktopFocusTestWithoutTheFileManagerChangesNothing) {
  ASSERT_TRUE(scene_.windowServer.terminate(201));
  EXPECT_EQ(run({"--desktop-focus-test", out_}), 0);
  EXPECT_EQ(reports::lines(out_),
            (Lines{"before: front Quill focused window 2101 showing [1, 2]", "focusDesktop(Built-in Display): false",
                   "after: front Quill focused window 2101 showing [1, 2]",
                   "back: front Quill focused window 2101 showing [1, 2]"}));
}

TEST(FocusModes, ModeIsReadExactly) {
  EXPECT_EQ(FocusModes::raiseMode(nullptr), FocusModes::Raise::own);
  EXPECT_EQ(FocusModes::raiseMode(""), FocusModes::Raise::own);
  EXPECT_EQ(FocusModes::raiseMode("nsactivate"), FocusModes::Raise::application);
  EXPECT_EQ(FocusModes::raiseMode("both"), FocusModes::Raise::both);
  EXPECT_EQ(FocusModes::raiseMode("raise"), FocusModes::Raise::accessibility);
  EXPECT_EQ(FocusModes::raiseMode("raise "), FocusModes::Raise::own);
  EXPECT_EQ(FocusModes::raiseMode("NSActivate"), FocusModes::Raise::own);
}

}  // namespace
}  // namespace trelliq
