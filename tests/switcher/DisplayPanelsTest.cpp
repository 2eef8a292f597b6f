// The display panels as windows of the window server, what the pointer does over them,
// and the screen areas the tap lets through to them.

#include "DisplayPanelsStage.h"
#include "platform/sim/World.h"
#include "workspace/SpaceNames.h"

namespace trelliq::panels {
namespace {

class PanelsTest : public PanelsStage {
 protected:
  sim::EventServer& events() { return *sim::EventServer::active(); }
  bool delivered(CGEventType type) {
    for (const CGEvent& e : events().delivered()) {
      if (e.type == type) return true;
    }
    return false;
  }
  bool inOverlaySpace(const NSWindow& window) {
    for (const std::uint64_t s : scene.windowServer.spacesOfWindow(static_cast<std::uint32_t>(window.windowNumber()))) {
      const auto space = scene.windowServer.space(s);
      if (space && !space->managed) return true;
    }
    return false;
  }
};

TEST_F(PanelsTest, AClickOnATileCommitsItThroughTheClickTargets) {
  setPreview("none");
  holdSession();
  ASSERT_TRUE(switcher->session().isShown());
  ASSERT_EQ(switcher->model().focused(), 0);
  const std::string documents = tileOf(kFinderPID, 0);
  ASSERT_FALSE(documents.empty());

  // What the panel view would report: its content and the file manager's tile inside it.
  geometry(0).tiles.set(TileID::cluster(documents), CGRect(300, 420, 120, 130));
  geometry(0).setContent(CGRect(200, 400, 1000, 200));
  ASSERT_EQ(switcher->gate().clickTargets(),
            (std::vector<Switcher::ClickTarget>{{CGRect(200, 982 - 600, 1000, 200), true}}));

  events().clearRecords();
  const CGPoint tile{350, 480};
  post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, globalPoint(0, tile), kCGMouseButtonLeft));
  scene.clock.advance(0.02);
  EXPECT_TRUE(delivered(kCGEventLeftMouseDown)) << "the press reaches the panel";
  EXPECT_TRUE(switcher->session().isActive());

  // The panel's mouse view reports the release.
  mouseView(0).onClick(viewPoint(0, tile));
  post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, globalPoint(0, tile), kCGMouseButtonLeft));
  scene.clock.advance(1.0);
  EXPECT_TRUE(delivered(kCGEventLeftMouseUp));
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(frontmost(), kFinderPID);
  EXPECT_EQ(frontWindowOf(kFinderPID), kDocuments);
  EXPECT_EQ(session::linesStarting("switch to ").size(), 1u);
  EXPECT_TRUE(switcher->gate().clickTargets().empty());
}

TEST_F(PanelsTest, PanelsAreMadeInOrderFramedToTheirScreensAndKeptForReuse) {
  scene.world.addDisplay(sim::makeDisplay(5, CGRect(4072, 0, 1280, 800), "Side Display"));
  holdSession();
  ASSERT_EQ(switcher->model().workspace().displays.size(), 3u);
  ASSERT_EQ(switcher->panels().count(), 3u);
  std::int64_t previous = 0;
  for (int i = 0; i < 3; ++i) {
    const SwitcherPanel& panel = *switcher->panels().at(i).window;
    EXPECT_GT(panel.windowNumber(), previous) << "panel " << i << " was made after the ones before it";
    previous = panel.windowNumber();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.frame(), switcher->model().display(i)->screen.frame());
    EXPECT_EQ(panel.level(), panelwindow::panelLevel);
    EXPECT_EQ(panel.collectionBehavior(), 337u);
    EXPECT_EQ(panel.styleMask(), 128u);
    EXPECT_TRUE(inOverlaySpace(panel)) << "panel " << i;
  }

  // A snapshot with one display orders the other panels out and keeps them.
  Workspace one = switcher->model().workspace();
  one.displays.erase(one.displays.begin() + 1, one.displays.end());
  switcher->model().refresh(one);
  switcher->panels().showPanels(switcher->preview().window());
  EXPECT_EQ(switcher->panels().count(), 3u);
  EXPECT_TRUE(switcher->panels().at(0).window->isVisible());
  EXPECT_FALSE(switcher->panels().at(1).window->isVisible());
  EXPECT_FALSE(switcher->panels().at(2).window->isVisible());

  const std::int64_t second = switcher->panels().at(1).window->windowNumber();
  switcher->model().refresh(switcher->session().loadWorkspace());
  switcher->panels().showPanels(switcher->preview().window());
  EXPECT_TRUE(switcher->panels().at(1).window->isVisible());
  EXPECT_EQ(switcher->panels().at(1).window->windowNumber(), second);
}

TEST_F(PanelsTest, ContentFramesBecomeClickTargetsOnlyOnceShown) {
  setPreview("none");
  holdSession(0.05);
  ASSERT_TRUE(switcher->session().isActive());
  ASSERT_FALSE(switcher->session().isShown());
  geometry(0).setContent(CGRect(100, 50, 800, 200));
  EXPECT_EQ(switcher->panels().contentFrame(0), CGRect(100, 732, 800, 200));
  EXPECT_TRUE(switcher->gate().clickTargets().empty()) << "open but not shown yet";

  scene.clock.advance(0.15);
  ASSERT_TRUE(switcher->session().isShown());
  EXPECT_EQ(switcher->panels().contentFrame(1), std::nullopt) << "nothing reported for the second display";
  EXPECT_EQ(switcher->gate().clickTargets().size(), 1u);

  // The wide display lies right of the built-in one, its bottom edge level with it.
  geometry(1).setContent(CGRect(10, 20, 300, 100));
  EXPECT_EQ(switcher->panels().contentFrame(1), CGRect(1522, 1320, 300, 100));
  EXPECT_EQ(
      switcher->gate().clickTargets(),
      (std::vector<Switcher::ClickTarget>{{CGRect(100, 732, 800, 200), true}, {CGRect(1522, 1320, 300, 100), true}}));
  EXPECT_EQ(switcher->panels().contentFrame(2), std::nullopt);
  EXPECT_EQ(switcher->panels().contentFrame(-1), std::nullopt);

  switcher->session().cancel(false);
  EXPECT_TRUE(switcher->gate().clickTargets().empty());
}

TEST_F(PanelsTest, NameLabelsResetButtonsAndRenamingTakeThePointerFirst) {
  setPreview("none");
  holdSession();
  const std::string documents = tileOf(kFinderPID, 0), quill = tileOf(kQuillPID, 0, 1);
  PanelGeometry& g = geometry(0);
  g.tiles.set(TileID::cluster(documents), CGRect(100, 100, 200, 200));
  g.tiles.set(TileID::name(documents), CGRect(120, 260, 150, 30));
  g.tiles.set(TileID::resetName(documents), CGRect(250, 265, 16, 16));
  g.tiles.set(TileID::cluster(quill), CGRect(400, 100, 200, 200));
  g.setContent(CGRect(80, 80, 600, 260));
  auto move = [&](CGPoint p) { mouseView(0).onMove(viewPoint(0, p)); };
  auto click = [&](CGPoint p) { mouseView(0).onClick(viewPoint(0, p)); };

  move({130, 270});
  EXPECT_EQ(switcher->model().hoveredName(), documents);
  EXPECT_EQ(selected(), documents);
  move({150, 150});
  EXPECT_EQ(switcher->model().hoveredName(), std::nullopt) << "off the label";
  switcher->model().select(quill, 0);
  move({700, 700});
  EXPECT_EQ(selected(), quill) << "empty panel space leaves the selection";

  // The reset button inside the label wins over the label and the tile.
  const std::string nameKey = SpaceNames::key(kDocuments);
  SpaceNames::set("Papers", nameKey);
  switcher->model().setName("Papers", nameKey);
  click({255, 270});
  EXPECT_EQ(SpaceNames::all().count(nameKey), 0u);
  EXPECT_TRUE(switcher->session().isActive());

  // A click on the label starts the edit; the field alone gets the pointer then.
  click({130, 270});
  ASSERT_EQ(switcher->model().renaming(), documents);
  EXPECT_TRUE(switcher->gate().isRenaming());
  EXPECT_TRUE(mouseView(0).passesThrough(viewPoint(0, {130, 270})));
  EXPECT_FALSE(mouseView(0).passesThrough(viewPoint(0, {450, 150})));
  move({450, 150});
  EXPECT_EQ(selected(), documents) << "moves do nothing while editing";
  switcher->model().nameDraft.set("Letters");
  click({450, 150});
  EXPECT_EQ(switcher->model().renaming(), std::nullopt);
  EXPECT_EQ(SpaceNames::all()[nameKey], "Letters") << "a click outside the field saves";
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->gate().isOpen());

  // Right after a name was submitted the pointer is ignored.
  switcher->model().justNamed.set(documents);
  click({450, 150});
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_EQ(selected(), documents);
}

}  // namespace
}  // namespace trelliq::panels
