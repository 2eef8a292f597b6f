// What a program reads of its own windows is what the window server says, in process and
// attached; attached, reading it again costs no round trip until the desk changes, and a
// change the program did not make (a Space switch, a window raised over its own, a
// full-screen move finishing) is seen at the next read.

#include <gtest/gtest.h>

#include <tuple>

#include "platform/AppKitWindows.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Remote.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

class OwnWindowState : public ::testing::TestWithParam<Served> {
 protected:
  /// The round trips made so far (none in process).
  std::uint64_t asked() { return attachment.remote() ? attachment.remote()->connection->calls() : 0; }

  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Attachment attachment{scene, GetParam()};
};

TEST_P(OwnWindowState, IsReadWithoutAskingUntilTheDeskChanges) {
  NSPanel everywhere(CGRect(50, 50, 300, 200), NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered,
                     false);
  everywhere.setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces);
  everywhere.setLevel(NSPopUpMenuWindowLevel);
  // Inside Quill's "Draft.txt" (300, 90, 900, 700 in window-server points).
  NSWindow here(CGRect(400, 300, 300, 200), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  everywhere.orderFrontRegardless();
  here.orderFront(nullptr);
  here.setFrame(CGRect(420, 300, 300, 200), false);

  // A panel's show reads its windows' state at every step: the program's own changes came
  // back with their answers, and nothing is asked again.
  const std::uint64_t before = asked();
  for (int round = 0; round < 5; ++round) {
    for (const NSWindow* w : {static_cast<const NSWindow*>(&everywhere), static_cast<const NSWindow*>(&here)}) {
      EXPECT_TRUE(w->isVisible());
      EXPECT_TRUE(w->isOnActiveSpace());
      EXPECT_NE(w->occlusionState() & NSWindowOcclusionStateVisible, 0u);
      EXPECT_FALSE(w->isMiniaturized());
      EXPECT_EQ(w->styleMask() & NSWindowStyleMaskFullScreen, 0u);
    }
    EXPECT_EQ(here.frame(), CGRect(420, 300, 300, 200));
  }
  EXPECT_EQ(asked() - before, 0u) << "round trips for 55 reads of the program's own windows";

  server.switchSpace(4, sim::SwitchStyle::instant);
  EXPECT_TRUE(everywhere.isOnActiveSpace());
  EXPECT_FALSE(here.isOnActiveSpace());
  EXPECT_EQ(here.occlusionState() & NSWindowOcclusionStateVisible, 0u);
  server.switchSpace(1, sim::SwitchStyle::instant);
  EXPECT_TRUE(here.isOnActiveSpace());

  server.raiseWindow(2101);
  EXPECT_EQ(here.occlusionState() & NSWindowOcclusionStateVisible, 0u);
  EXPECT_NE(everywhere.occlusionState() & NSWindowOcclusionStateVisible, 0u);
  server.moveWindow(2101, CGPoint{800, 90});
  EXPECT_NE(here.occlusionState() & NSWindowOcclusionStateVisible, 0u);

  here.orderOut(nullptr);
  EXPECT_FALSE(here.isVisible());
  EXPECT_TRUE(everywhere.isVisible());
}

// A show reads the screens, the capture permission and the pointer between its own window
// changes: those changes leave all three standing, and a change of any of them is seen.
TEST_P(OwnWindowState, ItsOwnChangesLeaveTheScreensPermissionAndPointerStanding) {
  NSWindow window(CGRect(200, 200, 300, 200), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.orderFront(nullptr);
  const auto readAll = [] {
    return std::make_tuple(platform::system().screens().size(), platform::system().screenCaptureAllowed(),
                           platform::windowServer().pointerLocation());
  };
  const auto first = readAll();
  std::uint64_t readsAsked = 0;
  for (int step = 1; step <= 3; ++step) {
    window.setFrame(CGRect(200 + 10 * step, 200, 300, 200), false);
    server.raiseWindow(2101);  // and another app's window changes too
    const std::uint64_t before = asked();
    EXPECT_EQ(readAll(), first);
    readsAsked += asked() - before;
  }
  EXPECT_EQ(readsAsked, 0u) << "round trips to read them again";

  server.setPointer(CGPoint{321, 123});
  EXPECT_EQ(platform::windowServer().pointerLocation(), (CGPoint{321, 123}));
  scene.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(platform::system().screenCaptureAllowed());
  scene.world.addDisplay(sim::makeDisplay(9, CGRect(4000, 0, 800, 600), "Added"));
  const auto displays = scene.world.displays();
  EXPECT_EQ(platform::system().screens().size(), displays.size());
}

TEST_P(OwnWindowState, FollowsWhereTheServerMovesItsWindows) {
  NSWindow window(CGRect(200, 200, 500, 300), NSWindowStyleMaskTitled | NSWindowStyleMaskResizable,
                  NSBackingStoreType::buffered, false);
  window.orderFront(nullptr);
  const CGRect placed = window.frame();
  // The server takes the window to a full-screen Space of its own, some time later.
  window.toggleFullScreen(nullptr);
  EXPECT_EQ(window.frame(), placed);
  scene.clock.advance(server.timings().fullScreen + server.timings().slide);
  attachment.settle();
  EXPECT_EQ(window.frame(), CGRect(0, 0, 1512, 982));
  EXPECT_TRUE(window.isOnActiveSpace());
}

TRELLIQ_SERVED_BOTH_WAYS(OwnWindowState);

}  // namespace
