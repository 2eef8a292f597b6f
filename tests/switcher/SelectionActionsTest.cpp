// Acting on the selection while the switcher is open: never quitting or hiding the program
// itself, and closing the target window with its five checks that it went. (Quitting and
// hiding other apps is driven through the tap in the steering and key-binding tests.)

#include <gtest/gtest.h>

#include <string>

#include "SwitchPerformerScenes.h"
#include "SwitcherPeer.h"
#include "platform/sim/AccessibilityServer.h"

namespace trelliq::perform {
namespace {

// Default desk: Quill's draft (2101) lies on Space 1 of the built-in display; Slate's two
// windows 7102 and 7101 on Space 2 of the wide display (index 1).
constexpr std::uint32_t kSlateBuild = 7102, kDraft = 2101;

class SelectionActionsTest : public PerformScene {};

TEST_F(SelectionActionsTest, TheProgramItselfIsNeverQuitNorHidden) {
  // A window of the program's own in the snapshot, selected.
  NSWindow own(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  own.orderFront(nullptr);
  const auto number = static_cast<std::uint32_t>(own.windowNumber());
  Workspace workspace = Workspace::load(false);
  ASSERT_FALSE(workspace.displays.empty());
  SpaceGroup& here = workspace.displays[0].spaces.front();
  Cluster tile;
  const AppInfo self(NSRunningApplication::current());
  tile.id = "0:" + std::to_string(here.id) + ":" + std::to_string(self.id);
  tile.space = here.id;
  tile.apps = {self};
  tile.windows = {WindowInfo(self.id, number, nullptr, std::string("Preferences"), false, false, std::nullopt)};
  here.clusters.insert(here.clusters.begin(), tile);
  SwitcherPeer::setActive(*switcher, true);
  switcher->model().reset(workspace, 0);
  switcher->model().select(tile.id, 0);
  ASSERT_EQ(switcher->actions().selectedApp()->id, self.id);

  switcher->actions().quitSelectedApp();
  switcher->actions().hideSelectedApp();
  scene.clock.advance(1);
  EXPECT_TRUE(switcher->model().quitting().empty());
  EXPECT_FALSE(scene.windowServer.app(self.id)->hidden);
  EXPECT_FALSE(scene.windowServer.app(self.id)->terminated);
}

TEST_F(SelectionActionsTest, AClosedWindowLeavesTheSessionAtTheNextCheck) {
  openOn(1, kSlateBuild);
  switcher->actions().closeTargetWindow();
  EXPECT_TRUE(inModel(kSlateBuild));
  scene.clock.advance(0.2);
  EXPECT_FALSE(scene.windowServer.window(kSlateBuild));
  EXPECT_FALSE(inModel(kSlateBuild));
  EXPECT_TRUE(inModel(7101)) << "its app's other window stays";
}

TEST_F(SelectionActionsTest, AWindowThatGoesDuringTheChecksIsNoticed) {
  // The app answers the press but keeps the window (an unsaved document, say).
  sim::AccessibilityServer::active()->setError(kQuill, "AXPress", kAXErrorCannotComplete);
  openOn(0, kDraft);
  switcher->actions().closeTargetWindow();
  scene.clock.advance(0.5);
  // Gone during the checks: noticed.
  ASSERT_TRUE(scene.windowServer.removeWindow(kDraft));
  scene.clock.advance(0.2);
  EXPECT_FALSE(inModel(kDraft));
}

TEST_F(SelectionActionsTest, AWindowThatGoesAfterTheFifthCheckKeepsItsTile) {
  sim::AccessibilityServer::active()->setError(kQuill, "AXPress", kAXErrorCannotComplete);
  openOn(0, kDraft);
  switcher->actions().closeTargetWindow();
  scene.clock.advance(0.8);
  ASSERT_TRUE(scene.windowServer.removeWindow(kDraft));
  scene.clock.advance(1);
  EXPECT_TRUE(inModel(kDraft));
}

}  // namespace
}  // namespace trelliq::perform
