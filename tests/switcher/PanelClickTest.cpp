// The whole road of a click: the real panel views lay the tiles out and report their
// frames, a click posted through the simulated Mac reaches the panel's pointer bridge,
// and the controller commits the tile under it.

#include "DisplayPanelsStage.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

class PanelClickTest : public PanelsStage {
 protected:
  PanelClickTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    NSApp().finishLaunching();  // the program takes the events routed to its windows
    PanelViews::install(views_.get());
  }
  // The mirrors let go of the controller's layers before the controller goes.
  ~PanelClickTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  void click(CGPoint panelPoint) {
    const CGPoint at = globalPoint(0, panelPoint);
    post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, at, kCGMouseButtonLeft));
    scene.clock.advance(0.02);
    post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, at, kCGMouseButtonLeft));
    scene.clock.advance(1.0);
  }

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelClickTest, AClickOnADrawnTileCommitsIt) {
  setPreview("none");
  holdSession();
  ASSERT_TRUE(switcher->session().isShown());
  const std::string documents = tileOf(kFinderPID, 0);
  ASSERT_FALSE(documents.empty());
  const CGRect* tile = geometry(0).tiles.find(TileID::cluster(documents));
  ASSERT_NE(tile, nullptr) << "the view reported the tile";
  ASSERT_FALSE(switcher->gate().clickTargets().empty()) << "the view reported its content";

  click({tile->midX(), tile->midY()});
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(frontmost(), kFinderPID);
  EXPECT_EQ(frontWindowOf(kFinderPID), kDocuments);
  EXPECT_EQ(session::linesStarting("switch to ").size(), 1u);
}

}  // namespace
}  // namespace trelliq::panels
