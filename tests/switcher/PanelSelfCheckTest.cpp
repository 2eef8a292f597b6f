// The panels' self-check 0.4 s after they show: one log entry with a line per panel, and
// faults injected into the window server the way they happen on a real desk.

#include "DisplayPanelsStage.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/World.h"

namespace trelliq::panels {
namespace {

class CheckTest : public PanelsStage {
 protected:
  CheckTest() { setPreview("none"); }
  /// Content of both panels reported as the views would, right after the show.
  void reportContent() {
    geometry(0).setContent(CGRect(100, 600, 1300, 250));
    geometry(1).setContent(CGRect(200, 1000, 2100, 300));
  }
  /// The one "opened" entry, after the check has run.
  std::string check() {
    scene.clock.advance(0.45);
    const auto entries = entriesStarting("opened");
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? "" : entries.front();
  }
  static std::vector<std::string> lines(const std::string& entry) {
    std::vector<std::string> result;
    std::size_t at = 0;
    while (at <= entry.size()) {
      const std::size_t end = std::min(entry.find('\n', at), entry.size());
      result.push_back(entry.substr(at, end - at));
      at = end + 1;
    }
    return result;
  }
  std::uint32_t panelNumber(int i) {
    return static_cast<std::uint32_t>(switcher->panels().at(i).window->windowNumber());
  }
  std::uint64_t overlaySpace() {
    for (const std::uint64_t s : scene.windowServer.spacesOfWindow(panelNumber(0))) {
      if (!scene.windowServer.space(s)->managed) return s;
    }
    return 0;
  }
  /// A window of the editor, in front of everything in the overlay Space.
  std::uint32_t addCover(CGRect bounds, double alpha = 1) {
    sim::Window w;
    w.pid = kQuillPID;
    w.title = "Palette";
    w.layer = 1000;
    w.alpha = alpha;
    w.bounds = bounds;
    w.color = 0x202020;
    const std::uint32_t number = scene.windowServer.addWindow(w);
    scene.windowServer.addWindowsToSpaces({number}, {overlaySpace()});
    return number;
  }
};

TEST_F(CheckTest, PanelsOnScreenReadOk) {
  holdSession();
  reportContent();
  const auto entry = lines(check());
  ASSERT_EQ(entry.size(), 3u);
  EXPECT_EQ(entry[0], "opened: showing [1, 2], front Quill");
  const std::string overlay = std::to_string(overlaySpace());
  EXPECT_EQ(entry[1], "  ok Built-in Display (steered): panel #" + std::to_string(panelNumber(0)) +
                          " visible=true onScreen=true unoccluded=true activeSpace=true spaces=[1, 2, " + overlay +
                          "] frame=(0.0, 0.0, 1512.0, 982.0) screen=(0.0, 0.0, 1512.0, 982.0)"
                          " glass=(100.0, 132.0, 1300.0, 250.0) alpha=1.0 clusters=10");
  EXPECT_EQ(entry[2].rfind("  ok Wide Monitor: panel #" + std::to_string(panelNumber(1)) + " visible=true", 0), 0u)
      << entry[2];
  EXPECT_NE(entry[2].find(" glass=(1712.0, 140.0, 2100.0, 300.0) alpha=1.0 clusters=8"), std::string::npos) << entry[2];
}

TEST_F(CheckTest, NothingIsLoggedWhenTheSwitcherClosedFirst) {
  holdSession();
  switcher->session().cancel(false);
  scene.clock.advance(1);
  EXPECT_TRUE(entriesStarting("opened").empty());
}

TEST_F(CheckTest, APanelWithoutGlassIsAProblem) {
  holdSession();
  geometry(0).setContent(CGRect(100, 600, 1300, 250));
  const auto entry = lines(check());
  ASSERT_EQ(entry.size(), 3u);
  EXPECT_EQ(entry[0].rfind("opened WITH A MISSING PANEL: showing [1, 2]", 0), 0u) << entry[0];
  EXPECT_EQ(entry[1].rfind("  ok ", 0), 0u) << entry[1];
  EXPECT_EQ(entry[2].rfind("  PROBLEM Wide Monitor: ", 0), 0u) << entry[2];
  EXPECT_NE(entry[2].find(" glass=none alpha="), std::string::npos) << entry[2];
  EXPECT_EQ(entry[2].find("above it"), std::string::npos);
}

TEST_F(CheckTest, WindowsAboveTheGlassAreListedAndACoveredPanelIsAProblem) {
  setPreview("thumbnail");
  holdSession();
  reportContent();
  switcher->model().thumbnails.modify([](auto& pictures) { pictures[kDraft] = picture(1440, 900); });
  switcher->model().select(TileID::cluster(tileOf(kQuillPID, 0, 1)), 0);
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->preview().window().isVisible());
  ASSERT_TRUE(switcher->preview().window().frame().intersects(*switcher->panels().contentFrame(0)))
      << "it floats over the glass";
  const std::uint32_t cover = addCover(CGRect(0, 0, 1512, 982));
  const std::uint32_t corner = addCover(CGRect(2000, 500, 300, 100));  // over the top of the wide display's glass

  const auto entry = lines(check());
  ASSERT_EQ(entry.size(), 3u);
  EXPECT_EQ(entry[0].rfind("opened WITH A MISSING PANEL: ", 0), 0u);
  EXPECT_EQ(entry[1].rfind("  PROBLEM Built-in Display (steered): ", 0), 0u) << entry[1];
  EXPECT_NE(entry[1].find(" unoccluded=false "), std::string::npos) << entry[1];
  EXPECT_NE(entry[1].find(" above it: Quill #" + std::to_string(cover) + " layer 1000 0,0 1512x982"), std::string::npos)
      << entry[1];
  EXPECT_EQ(entry[1].find("Trelliq"), std::string::npos) << "the preview panel is never a cover";
  EXPECT_EQ(entry[1].find("#" + std::to_string(corner)), std::string::npos) << "not over this glass";
  // Partly covered is still on screen and seen.
  EXPECT_EQ(entry[2].rfind("  ok Wide Monitor: ", 0), 0u) << entry[2];
  EXPECT_NE(entry[2].find(" above it: Quill #" + std::to_string(corner) + " layer 1000 2000,500 300x100"),
            std::string::npos)
      << entry[2];
}

TEST_F(CheckTest, APanelLeftOnAnotherSpaceIsAProblem) {
  // Without the overlay Space the panels are ordinary windows the system can move away.
  scene.world.removeSymbol(kSkyLightPath, "SLSAddWindowsToSpaces");
  holdSession();
  reportContent();
  scene.windowServer.moveWindowsToManagedSpace({panelNumber(0)}, 4);
  const auto entry = lines(check());
  ASSERT_EQ(entry.size(), 3u);
  EXPECT_EQ(entry[1].rfind("  PROBLEM Built-in Display (steered): panel #" + std::to_string(panelNumber(0)) +
                               " visible=true onScreen=false unoccluded=false activeSpace=false spaces=[4] ",
                           0),
            0u)
      << entry[1];
  EXPECT_EQ(entry[2].rfind("  ok Wide Monitor", 0), 0u) << entry[2];
}

TEST_F(CheckTest, AFrameOffByHalfAPointIsAProblemAndClearWindowsDoNotCover) {
  holdSession();
  reportContent();
  NSWindow& builtIn = *switcher->panels().at(0).window;
  builtIn.setFrame(CGRect(0.5, 0, 1512, 982), false);
  const std::uint32_t clear = addCover(CGRect(2000, 500, 300, 100), 0);
  const std::uint32_t faint = addCover(CGRect(2400, 500, 100, 100), 0.2);

  const auto entry = lines(check());
  ASSERT_EQ(entry.size(), 3u);
  EXPECT_EQ(entry[0].rfind("opened WITH A MISSING PANEL: ", 0), 0u) << entry[0];
  EXPECT_EQ(entry[1].rfind("  PROBLEM Built-in Display (steered): panel #" + std::to_string(panelNumber(0)) +
                               " visible=true onScreen=true unoccluded=true ",
                           0),
            0u)
      << entry[1];
  EXPECT_NE(entry[1].find(" frame=(0.5, 0.0, 1512.0, 982.0) screen=(0.0, 0.0, 1512.0, 982.0) "), std::string::npos)
      << entry[1];
  EXPECT_EQ(entry[2].rfind("  ok Wide Monitor: ", 0), 0u) << entry[2];
  EXPECT_EQ(entry[2].find("#" + std::to_string(clear)), std::string::npos) << "a window of alpha 0 covers nothing";
  EXPECT_NE(entry[2].find(" above it: Quill #" + std::to_string(faint) + " layer 1000 2400,500 100x100"),
            std::string::npos)
      << entry[2];
}

TEST_F(CheckTest, ADisplayWithoutAPanelIsCounted) {
  holdSession();
  reportContent();
  // A display arrives while the panels show; the next look takes it into the snapshot.
  scene.world.addDisplay(sim::makeDisplay(5, CGRect(4072, 0, 1280, 800), "Side Display"));
  const auto entry = lines(check());
  ASSERT_EQ(switcher->model().workspace().displays.size(), 3u);
  ASSERT_EQ(entry.size(), 4u);
  EXPECT_EQ(entry[0].rfind("opened WITH A MISSING PANEL: showing [", 0), 0u) << entry[0];
  EXPECT_EQ(entry[1].rfind("  ok ", 0), 0u) << entry[1];
  EXPECT_EQ(entry[2].rfind("  ok ", 0), 0u) << entry[2];
  EXPECT_EQ(entry[3], "  PROBLEM 3 displays loaded, 3 screens, 2 panels");
}

TEST_F(CheckTest, TheHeadNamesTheScreenshotWhenTheyAreOn) {
  UserDefaults::standard().set("diagnosticScreenshots", true);
  holdSession();
  reportContent();
  const auto entry = lines(check());
  ASSERT_FALSE(entry.empty());
  EXPECT_EQ(entry[0].rfind("opened: screenshot ", 0), 0u) << entry[0];
  EXPECT_NE(entry[0].find(", showing [1, 2], front Quill"), std::string::npos) << entry[0];
}

}  // namespace
}  // namespace trelliq::panels
