// What a session leaves queued when it ends: sessions may follow each other at once, and
// pictures asked for one that ended would pile up behind the next one's.

#include "DisplayPanelsStage.h"
#include "SwitcherPeer.h"

namespace trelliq::panels {
namespace {

class SessionWorkTest : public PanelsStage {
 protected:
  /// ⌘⇥ held on window tiles with the in-place preview until the panels show, while
  /// `queue` runs nothing.
  void openHolding(const std::string& queue) {
    setPreview("fullScreen");
    UserDefaults::standard().set("tiles", "windows");
    startTap();
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
    scene.clock.advanceExcept(queue, 0.3);
    ASSERT_TRUE(switcher->session().isShown());
  }
  /// Escape and ⌘ let go, while `queue` still runs nothing.
  void endHolding(const std::string& queue) {
    press(SwitcherKeys::escape, kCommand);
    modifiers(0);
    scene.clock.advanceExcept(queue, 0.05);
    ASSERT_FALSE(switcher->session().isActive());
  }
  /// The window captures made while `queue` runs what it holds.
  std::size_t capturesRunning(const std::string& queue) {
    const std::size_t before = scene.windowServer.privateCalls("SLSHWCaptureWindowList").size();
    while (scene.clock.step(queue)) {
    }
    return scene.windowServer.privateCalls("SLSHWCaptureWindowList").size() - before;
  }
};

TEST_F(SessionWorkTest, WindowAndDesktopPicturesNotTakenWhenTheSessionEndsAreNotTakenAtAll) {
  openHolding("thumbnails");
  endHolding("thumbnails");
  EXPECT_EQ(capturesRunning("thumbnails"), 0u);
  openHolding("thumbnails");
  EXPECT_GT(capturesRunning("thumbnails"), 0u) << "the next session takes its own";
}

TEST_F(SessionWorkTest, DestinationsStillQueuedWhenTheSessionEndsAreSkippedAndTheNextComposesItsOwn) {
  openHolding("destination");
  ASSERT_FALSE(switcher->ghost().composing().empty());
  endHolding("destination");
  EXPECT_EQ(capturesRunning("destination"), 0u) << "nothing composed, no wash taken";

  openHolding("destination");
  EXPECT_FALSE(switcher->ghost().composing().empty());
  scene.clock.runUntilIdle();
  EXPECT_FALSE(switcher->ghost().destinationPictures().empty());
}

}  // namespace
}  // namespace trelliq::panels
