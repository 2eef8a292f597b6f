// Window pictures in a session drawn by the real layout and views: pictures that arrive
// together go in together, a picture replacing one is drawn without laying the panel out
// again, tile pictures are kept at the size the tiles draw them, and a
// picture given up for the budget comes back when it is drawn again.

#include <QImage>
#include <map>
#include <memory>
#include <vector>

#include "DisplayPanelsStage.h"
#include "SwitcherModelPeer.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

class PanelPictureKeepingTest : public PanelsStage {
 protected:
  PanelPictureKeepingTest() {
    test::ensureWidgets();
    views_ = std::make_unique<views::QtPanelViews>([this](const scene::PanelLayoutInput& input) {
      ++layouts[input.index];
      return scene::layoutPanel(input);
    });
    PanelViews::install(views_.get());
  }
  ~PanelPictureKeepingTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  /// Delivered as the capture queue delivers a picture: through the main queue.
  void deliver(std::uint32_t window, const CGImageRef& image) {
    std::weak_ptr<Switcher> weak = switcher;
    platform::mainQueue().async([weak, window, image] {
      if (auto s = weak.lock()) s->pictures().thumbnailArrived(window, image);
    });
  }
  /// The windows the screen tiles of shown panels draw.
  std::vector<std::uint32_t> tiledWindows() const {
    std::vector<std::uint32_t> out;
    for (const DisplayGroup& d : switcher->model().workspace().displays) {
      for (const Cluster& c : d.clusters()) {
        if (!c.screen) continue;
        for (const WindowInfo& w : c.windows) {
          if (w.windowID) out.push_back(*w.windowID);
        }
      }
    }
    return out;
  }

  /// What the window server shows of each panel ordered in.
  std::vector<QImage> panelPixels() {
    std::vector<QImage> out;
    for (const DisplayPanel& p : switcher->panels()) {
      if (!p.window->isVisible()) continue;
      const CGRect frame = p.window->frame();
      const CGImageRef shown =
          scene.windowServer.captureWindowPicture(static_cast<std::uint32_t>(p.window->windowNumber()),
                                                  static_cast<int>(frame.width()), static_cast<int>(frame.height()));
      out.push_back(shown ? shown->qimage() : QImage());
    }
    return out;
  }

  bool targetIs(std::uint32_t window) const {
    const WindowInfo* target = switcher->model().focusedTarget();
    return target && target->windowID == window;
  }
  /// Steps with ⇥ until the selection stands for a window other than `other`; its number.
  std::uint32_t stepToAWindow(std::uint32_t other) {
    for (int i = 0; i < 10; ++i) {
      const WindowInfo* target = switcher->model().focusedTarget();
      if (target && target->windowID && *target->windowID != other) return *target->windowID;
      press(SwitcherKeys::tab, kCommand);
      scene.clock.advance(0.1);
    }
    return 0;
  }

  /// Expects the window's kept picture taken once, straight to `drawn`: covering it, a
  /// pixel over on one side at most. Its width.
  int expectTakenAt(std::uint32_t window, CGSize drawn) {
    const CGImageRef& kept = switcher->model().thumbnails().at(window);
    const double wider = kept->width() - drawn.width, taller = kept->height() - drawn.height;
    EXPECT_GT(wider, -1.0) << "window " << window;
    EXPECT_GT(taller, -1.0) << "window " << window;
    EXPECT_LE(std::min(wider, taller), 1.0) << "window " << window;
    return kept->width();
  }

  /// Holds ⌘ and presses ⇥ on window tiles with a picture preview; nothing runs yet.
  void pressCommandTabOnWindowTiles() {
    setPreview("thumbnail");
    UserDefaults::standard().set("tiles", "windows");
    startTap();
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
  }

  std::map<int, int> layouts;

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelPictureKeepingTest, PicturesArrivingInOneFrameGoInTogetherAndOnlyANewOneLaysThePanelsOut) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);
  ASSERT_TRUE(switcher->session().isShown());
  std::vector<std::uint32_t> windows;
  for (const std::uint32_t window : tiledWindows()) {
    const auto held = switcher->model().thumbnails().find(window);
    if (held != switcher->model().thumbnails().end() && held->second->width() > 0) windows.push_back(window);
  }
  ASSERT_GE(windows.size(), 4u);

  // Pictures replacing held ones change no frame: the panels draw them without a layout,
  // exactly as a layout of them draws.
  layouts.clear();
  std::vector<std::weak_ptr<const CGImage>> replaced;
  const WindowInfo* selected = switcher->model().focusedTarget();
  for (const std::uint32_t window : windows) {
    if (!selected || selected->windowID != window) replaced.emplace_back(switcher->model().thumbnails().at(window));
  }
  std::vector<CGImageRef> sent;
  for (const std::uint32_t window : windows) {
    sent.push_back(picture(300, 200, 0xFF000000u | (window * 2654435761u >> 8)));
    deliver(window, sent.back());
  }
  scene.clock.advance(SwitcherTiming::pictureFrame);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    EXPECT_EQ(switcher->model().thumbnails().at(windows[i]), sent[i]) << "window " << windows[i];
  }
  // Nothing holds on to a picture replaced.
  for (const auto& picture : replaced) EXPECT_TRUE(picture.expired());
  // A later picture of a window in the same frame replaces one waiting for it.
  const CGImageRef small = picture(30, 20, 0xFF00FF00u);
  deliver(windows[0], picture(300, 200, 0xFFFF0000u));
  deliver(windows[0], small);
  scene.clock.advance(SwitcherTiming::pictureFrame);
  EXPECT_EQ(switcher->model().thumbnails().at(windows[0]), small);
  // Nor does one waiting for its frame when the window's full-screen move ends with a newer one.
  const CGImageRef afterMove = picture(30, 20, 0xFF0000FFu);
  deliver(windows[0], picture(300, 200, 0xFFFF0000u));
  scene.clock.advanceExcept("thumbnails", 0);
  SwitcherModelPeer::markTransitioning(switcher->model(), windows[0]);
  deliver(windows[0], afterMove);
  scene.clock.advance(SwitcherTiming::pictureFrame);
  EXPECT_EQ(switcher->model().thumbnails().at(windows[0]), afterMove) << "the picture from before the move came back";
  EXPECT_TRUE(layouts.empty()) << "pictures replacing held ones laid a panel out";
  const std::vector<QImage> swapped = panelPixels();
  // Names shown on every tile and hidden again: every panel laid out anew.
  for (const char* names : {"always", "sometimes"}) {
    UserDefaults::standard().set("names", names);
    scene.clock.advance(1);
  }
  ASSERT_FALSE(layouts.empty());
  const std::vector<QImage> laidOut = panelPixels();
  ASSERT_EQ(swapped.size(), laidOut.size());
  for (std::size_t i = 0; i < swapped.size(); ++i) EXPECT_TRUE(swapped[i] == laidOut[i]) << "panel " << i;

  // Captures that came back empty turn pictures into placeholders: one layout per panel.
  layouts.clear();
  for (const std::uint32_t window : windows) deliver(window, picture(0, 0));
  scene.clock.advance(SwitcherTiming::pictureFrame);
  ASSERT_FALSE(layouts.empty()) << "no panel took the pictures";
  for (const auto& [display, count] : layouts) EXPECT_EQ(count, 1) << "display " << display;
  EXPECT_FALSE(panelPixels() == laidOut);
}

TEST_F(PanelPictureKeepingTest, AWindowIsTakenAtTheSizeDrawnWhenItsTurnComesAndAgainWhenThePreviewDrawsItLarger) {
  // The pictures asked for as the session begins are taken only once the panels show.
  pressCommandTabOnWindowTiles();
  scene.clock.advanceExcept("thumbnails", 1.5);
  ASSERT_TRUE(switcher->session().isShown());
  ASSERT_TRUE(switcher->model().thumbnails().empty());
  scene.clock.advance(SwitcherTiming::pictureFrame);
  const WindowInfo* selected = switcher->model().focusedTarget();
  std::map<std::uint32_t, int> widths;
  for (const std::uint32_t window : tiledWindows()) {
    const auto kept = switcher->model().thumbnails().find(window);
    if (kept == switcher->model().thumbnails().end() || (selected && selected->windowID == window)) continue;
    widths[window] = expectTakenAt(window, switcher->model().pictureKeeping().wanted(window, {}));
  }
  ASSERT_GE(widths.size(), 3u);
  // Kept at its tile's size, a picture is taken again once the preview draws it larger.
  std::uint32_t stepped = 0;
  for (int i = 0; i < 20 && !stepped; ++i) {
    press(SwitcherKeys::tab, kCommand);
    scene.clock.advance(0.1);
    const WindowInfo* target = switcher->model().focusedTarget();
    if (target && target->windowID && widths.count(*target->windowID)) stepped = *target->windowID;
  }
  ASSERT_NE(stepped, 0u);
  scene.clock.advance(0.5);
  EXPECT_GT(switcher->model().thumbnails().at(stepped)->width(), widths[stepped] * 2);
}

TEST_F(PanelPictureKeepingTest, AWindowTakenRightAfterAPanelReportsWhatItDrawsIsTakenAtThatSize) {
  pressCommandTabOnWindowTiles();
  const PictureKeeping& keeping = switcher->model().pictureKeeping();
  const auto drawnNow = [&] {
    std::map<std::uint32_t, CGSize> out;
    for (const std::uint32_t window : tiledWindows()) {
      if (keeping.drawnNow(window)) out[window] = keeping.wanted(window, {});
    }
    return out;
  };
  // All but the capture, one piece at a time, until a panel has reported what it draws; the
  // main queue has not turned since. Then the capture takes its windows.
  for (int i = 0; i < 3000 && drawnNow().empty(); ++i) {
    if (!scene.clock.stepExcept("thumbnails")) scene.clock.elapse(0.001);
  }
  const std::map<std::uint32_t, CGSize> drawn = drawnNow();
  ASSERT_FALSE(drawn.empty()) << "no panel reported";
  while (scene.clock.step("thumbnails")) {
  }
  scene.clock.advance(SwitcherTiming::pictureFrame);
  const WindowInfo* selected = switcher->model().focusedTarget();
  int taken = 0;
  for (const auto& [window, size] : drawn) {
    if (selected && selected->windowID == window) continue;
    ASSERT_TRUE(switcher->model().thumbnails().count(window)) << "window " << window;
    expectTakenAt(window, size);
    ++taken;
  }
  EXPECT_GE(taken, 3);
}

TEST_F(PanelPictureKeepingTest, APictureTakenBeforeAWindowsFullScreenMoveNeverComesBackAfterIt) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);
  ASSERT_TRUE(switcher->session().isShown());
  const std::uint32_t window = stepToAWindow(0);
  ASSERT_NE(window, 0u);
  // Much larger than anything draws it, taken just before the move.
  const std::uint32_t before = 0xFFFF0000u;
  deliver(window, picture(3000, 2000, before));
  scene.clock.advanceExcept("thumbnails", 0);
  press(SwitcherKeys::up, kCommand);
  scene.clock.advanceExcept("thumbnails", 0);
  ASSERT_EQ(switcher->fullScreen().pending(), window) << "the move did not start";
  // The move lands and settles while the capture queue is still busy.
  for (int i = 0; i < 40 && switcher->fullScreen().pending(); ++i) scene.clock.advanceExcept("thumbnails", 0.1);
  ASSERT_FALSE(switcher->fullScreen().pending());
  // Whatever the queue finishes, one piece at a time, the old look never shows again.
  for (int i = 0; i < 100 && scene.clock.step("thumbnails"); ++i) {
    scene.clock.advanceExcept("thumbnails", SwitcherTiming::pictureFrame);
    const auto kept = switcher->model().thumbnails().find(window);
    if (kept == switcher->model().thumbnails().end()) continue;
    EXPECT_NE(kept->second->pixel(kept->second->width() / 2, kept->second->height() / 2), before)
        << "the picture from before the move came back";
  }
}

TEST_F(PanelPictureKeepingTest, FromTheSecondSessionOnTilePicturesAreKeptAtTheSizeTheTilesDrawThem) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);
  press(SwitcherKeys::escape, kCommand);
  modifiers(0);
  scene.clock.advance(0.5);
  ASSERT_FALSE(switcher->session().isActive());
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(1.5);
  ASSERT_TRUE(switcher->session().isShown());
  const WindowInfo* selected = switcher->model().focusedTarget();
  int checked = 0;
  for (const WindowInfo& w : switcher->model().workspace().windows()) {
    if (!w.windowID || !w.bounds || (selected && selected->windowID == w.windowID)) continue;
    const auto kept = switcher->model().thumbnails().find(*w.windowID);
    if (kept == switcher->model().thumbnails().end()) continue;
    // A tile draws a window at a small part of its size (the preview's picture is kept whole).
    EXPECT_LT(kept->second->width(), w.bounds->width() / 2) << "window " << *w.windowID;
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

TEST_F(PanelPictureKeepingTest, OnlyWhatIsDrawnIsKeptWithoutRoomAndAPictureGivenUpComesBackWhenDrawnAgain) {
  setPreview("thumbnail");
  holdSession(0.6);
  ASSERT_TRUE(switcher->session().isShown());
  switcher->model().pictureKeeping().setBudget(0);
  const std::uint32_t first = stepToAWindow(0);
  const std::uint32_t second = stepToAWindow(first);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(switcher->model().thumbnails().size(), 1u);
  EXPECT_TRUE(switcher->model().thumbnails().count(second)) << "the picture the preview draws stays";

  for (int i = 0; i < 10 && !targetIs(first); ++i) {
    press(SwitcherKeys::tab, kCommand | kCGEventFlagMaskShift);
    scene.clock.advance(0.1);
  }
  ASSERT_TRUE(targetIs(first));
  const auto back = switcher->model().thumbnails().find(first);
  ASSERT_NE(back, switcher->model().thumbnails().end()) << "taken again once the preview draws it";
  EXPECT_EQ(switcher->preview().picture().contents(), back->second);
}

}  // namespace
}  // namespace trelliq::panels
