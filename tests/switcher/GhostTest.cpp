// The in-place preview: the ghost over the selected window with its live captures, the
// backdrops with wash, veil and destination pictures, the fades around a full-screen
// change, and the haze of the glass.

#include "DisplayPanelsStage.h"
#include "SwitcherPeer.h"
#include "switcher/DestinationScreen.h"
#include "workspace/Private.h"

namespace trelliq::panels {
namespace {

class GhostTest : public PanelsStage {
 protected:
  /// An in-place session, then Draft (on the Space showing) selected and the pass run.
  void openOnDraft() {
    setPreview("fullScreen");
    holdSession();
    ASSERT_TRUE(switcher->session().isShown());
    // In-place sessions of app tiles capture no thumbnails; window-tile sessions do.
    switcher->model().thumbnails.modify([&](auto& pictures) {
      pictures[kDraft] = picture(720, 560);
      pictures[kDocuments] = picture(720, 456);
    });
    select(tileOf(kQuillPID, 0, 1), 0);
    ASSERT_EQ(switcher->ghost().shownWindow(), kDraft);
  }
  void select(const std::string& tile, int display) {
    switcher->model().select(TileID::cluster(tile), display);
    scene.clock.advance(0.001);
  }
  NSWindow& ghostWindow() { return *switcher->ghost().panel().window; }
  const CGImageRef& ghostPicture() { return switcher->ghost().panel().layers.front()->contents(); }
  double alphaOf(const NSWindow& window) { return served(window)->alpha; }
  /// The body colour (0xRRGGBB) in the middle of the ghost's picture.
  std::uint32_t ghostColour() {
    const CGImageRef& p = ghostPicture();
    return p ? p->pixel(p->width() / 2, p->height() / 2) & 0xFFFFFF : 0;
  }
  Layer& destination(int backdrop) { return *switcher->ghost().backdropWindows().at(backdrop).layers.back(); }
};

TEST_F(GhostTest, ShowsTheWindowInPlaceAndCapturesItEveryTenthOfASecond) {
  openOnDraft();
  const CGRect bounds = scene.windowServer.window(kDraft)->bounds;
  EXPECT_TRUE(ghostWindow().isVisible());
  EXPECT_EQ(ghostWindow().frame(), platform::flipRect(bounds, 982));
  EXPECT_EQ(ghostWindow().level(), panelwindow::ghostLevel);
  ASSERT_TRUE(ghostPicture());
  EXPECT_NE(ghostPicture(), switcher->model().thumbnails().at(kDraft)) << "the live capture replaced the thumbnail";

  const int before = fullCapturesOf(kDraft);
  scene.windowServer.updateWindow(kDraft, [](sim::Window& w) { w.color = 0xC03020; });
  scene.clock.advance(0.1);
  EXPECT_EQ(ghostColour(), 0xC03020u) << "the next capture shows the change";
  scene.clock.advance(0.85);
  EXPECT_EQ(fullCapturesOf(kDraft), before + 9);

  switcher->session().cancel(false);
  EXPECT_FALSE(ghostWindow().isVisible());
  EXPECT_FALSE(ghostPicture());
  scene.clock.advance(0.5);
  EXPECT_EQ(fullCapturesOf(kDraft), before + 9) << "hiding stops the captures";
}

// The pictures of a session are each a display's size: none outlives it.
TEST_F(GhostTest, TheSessionsPicturesGoWithItAndOnesArrivingLaterAreNotKept) {
  openOnDraft();
  select(tileOf(kLumenPID, 1, 7), 1);
  scene.clock.advance(0.01);
  ASSERT_FALSE(destination(1).isHidden());
  // The pictures are composed again, and still on their way when the session ends.
  switcher->ghost().prebuildDestinations();
  ASSERT_FALSE(switcher->ghost().composing().empty());
  switcher->session().cancel(false);
  scene.clock.runUntilIdle();
  ASSERT_TRUE(switcher->ghost().composing().empty());
  EXPECT_TRUE(switcher->ghost().destinationPictures().empty());
  EXPECT_TRUE(switcher->ghost().desktopPictures().empty());
  for (const LayeredWindow& backdrop : switcher->ghost().backdropWindows()) {
    EXPECT_FALSE(backdrop.window->isVisible());
    EXPECT_FALSE(backdrop.layers.front()->contents()) << "no wash";
    EXPECT_FALSE(backdrop.layers.back()->contents()) << "no destination";
  }
}

TEST_F(GhostTest, AnotherWindowStartsFromItsThumbnailAndALateCaptureIsDropped) {
  openOnDraft();
  switcher->ghost().captureGhost();
  switcher->ghost().captureGhost();
  EXPECT_TRUE(scene.clock.step("ghost"));
  EXPECT_FALSE(scene.clock.step("ghost")) << "one capture in flight at a time";

  // Draft's capture is on its way back when Documents becomes the ghost.
  switcher->model().select(TileID::cluster(tileOf(kFinderPID, 0)), 0);
  switcher->ghost().updateGhost();
  const CGImageRef thumbnail = switcher->model().thumbnails().at(kDocuments);
  EXPECT_EQ(ghostPicture(), thumbnail);
  EXPECT_EQ(ghostWindow().frame(), platform::flipRect(scene.windowServer.window(kDocuments)->bounds, 982));
  scene.clock.runUntilIdle();
  EXPECT_EQ(ghostPicture(), thumbnail) << "Draft's late picture is not shown";
  EXPECT_FALSE(switcher->ghost().isCapturing());
  scene.clock.advance(0.1);
  EXPECT_NE(ghostPicture(), thumbnail);

  // A model change that keeps the target leaves the ghost alone.
  const CGImageRef live = ghostPicture();
  switcher->model().hoveredName.set("something");
  scene.clock.advance(0.001);
  EXPECT_EQ(ghostPicture(), live);
}

// The wallpapers of the Spaces showing, for the backdrops' washes and the desktop tiles,
// are taken at the size they are kept at, never at the display's first.
TEST_F(GhostTest, WallpapersAreTakenAtTheSizeTheyAreKept) {
  openOnDraft();
  scene.clock.advance(0.5);
  ASSERT_TRUE(switcher->ghost().backdropWindows().at(1).layers.front()->contents()) << "washed";
  ASSERT_TRUE(switcher->model().wallpapers().count(2)) << "the desktop tiles' wallpapers";
  for (const std::int64_t space : {1, 2}) {
    const auto wallpaper = Private::wallpaperWindow(space);
    ASSERT_TRUE(wallpaper);
    for (const sim::PrivateCall& call : scene.windowServer.privateCalls("SLSHWCaptureWindowList")) {
      const platform::PlistArray* asked = call.arguments.size() > 1 ? call.arguments[1].asArray() : nullptr;
      EXPECT_FALSE(asked && !asked->empty() && asked->front().asInteger() == std::int64_t{*wallpaper})
          << "Space " << space << "'s wallpaper captured whole";
    }
  }
}

TEST_F(GhostTest, BackdropsCoverEveryScreenWithWashAndVeil) {
  openOnDraft();
  scene.clock.advance(0.01);
  ASSERT_EQ(switcher->ghost().backdropWindows().size(), 2u);
  const CGRect frames[] = {kBuiltInFrame, kWideFrame};
  for (int i = 0; i < 2; ++i) {
    const LayeredWindow& backdrop = switcher->ghost().backdropWindows()[i];
    EXPECT_TRUE(backdrop.window->isVisible());
    EXPECT_EQ(backdrop.window->frame(), frames[i]);
    EXPECT_EQ(backdrop.window->level(), panelwindow::backdropLevel);
    const Layer& wash = *backdrop.layers.front();
    EXPECT_DOUBLE_EQ(wash.alpha(), 0.15);
    EXPECT_TRUE(wash.contents()) << "the wallpaper of the Space showing";
    EXPECT_EQ(wash.frame(), CGRect(0, 0, frames[i].width(), frames[i].height()));
    EXPECT_EQ(backdrop.layers[1]->background() >> 24, 0x73u) << "the veil darkens at 0.45";
    EXPECT_TRUE(destination(i).isHidden()) << "Draft's Space is on screen";
  }
  // Bottom to top: backdrops, ghost, panels.
  std::vector<std::uint32_t> order;
  for (const sim::Window& w : scene.windowServer.windows()) order.push_back(w.number);
  auto at = [&](const NSWindow& w) { return std::find(order.begin(), order.end(), w.windowNumber()) - order.begin(); };
  EXPECT_LT(at(*switcher->panels().at(0).window), at(ghostWindow()));
  EXPECT_LT(at(ghostWindow()), at(*switcher->ghost().backdropWindows()[0].window));
}

TEST_F(GhostTest, AWindowOnAnotherSpaceShowsThatSpaceOnItsScreensBackdrop) {
  openOnDraft();
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->ghost().destinationPictures().count(7)) << "built ahead when the session began";
  select(tileOf(kLumenPID, 1, 7), 1);
  EXPECT_EQ(switcher->ghost().shownWindow(), kReleaseNotes);
  EXPECT_TRUE(destination(0).isHidden());
  EXPECT_FALSE(destination(1).isHidden());
  EXPECT_TRUE(destination(1).contents()->samePixels(*switcher->ghost().destinationPictures().at(7)->unpack()));

  select(tileOf(kQuillPID, 0, 1), 0);
  EXPECT_TRUE(destination(1).isHidden());

  // A picture that arrives after the selection moved on is kept but not shown.
  SwitcherPeer::forgetDestinations(*switcher);
  select(tileOf(kLumenPID, 1, 7), 1);
  select(tileOf(kQuillPID, 0, 1), 0);
  scene.clock.advance(0.5);
  ASSERT_TRUE(switcher->ghost().destinationPictures().count(7));
  EXPECT_TRUE(destination(1).isHidden());
  select(tileOf(kLumenPID, 1, 7), 1);
  EXPECT_FALSE(destination(1).isHidden()) << "from the cache at once";
}

// A Space composed ahead is kept packed until selected; shown, its pixels are those of a
// composition made afresh.
TEST_F(GhostTest, ASpaceComposedAheadIsKeptPackedAndShowsItsVeryPixels) {
  openOnDraft();
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->ghost().destinationPictures().count(7));
  const PackedImageRef kept = switcher->ghost().destinationPictures().at(7);
  EXPECT_LT(kept->bytes(), static_cast<std::size_t>(kept->width()) * kept->height() * 4 / 4);
  // Unpacked after the selection moved on, it shows nowhere.
  switcher->model().select(TileID::cluster(tileOf(kLumenPID, 1, 7)), 1);
  scene.clock.advanceExcept("ghost", 0.001);
  switcher->model().select(TileID::cluster(tileOf(kQuillPID, 0, 1)), 0);
  scene.clock.advanceExcept("ghost", 0.001);
  scene.clock.advance(0.5);
  EXPECT_TRUE(destination(1).isHidden());
  select(tileOf(kLumenPID, 1, 7), 1);
  const auto screens = NSScreen::screens();
  const CGImageRef fresh = DestinationScreen::render(7, screens.at(1).frame(), screens[0].frame().maxY(), false, false);
  ASSERT_TRUE(destination(1).contents() && fresh);
  EXPECT_TRUE(destination(1).contents()->samePixels(*fresh));
}

TEST_F(GhostTest, DesktopsShowThroughOrOnTheirBackdrop) {
  openOnDraft();
  select("0:1:desktop", 0);
  EXPECT_EQ(switcher->ghost().shownDesktop(), 1);
  EXPECT_EQ(switcher->ghost().shownWindow(), std::nullopt);
  EXPECT_FALSE(ghostWindow().isVisible());
  for (const auto& backdrop : switcher->ghost().backdropWindows())
    EXPECT_FALSE(backdrop.window->isVisible()) << "Space 1 shows";

  select("0:4:desktop", 0);
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->ghost().desktopPictures().count(4));
  EXPECT_TRUE(switcher->ghost().backdropWindows()[0].window->isVisible());
  EXPECT_FALSE(destination(0).isHidden());
  EXPECT_TRUE(destination(0).contents()->samePixels(*switcher->ghost().desktopPictures().at(4)->unpack()));
  EXPECT_TRUE(destination(1).isHidden());

  const int captures = fullCapturesOf(kDraft);
  scene.clock.advance(0.5);
  EXPECT_EQ(fullCapturesOf(kDraft), captures) << "no ghost timer for a desktop";
}

TEST_F(GhostTest, FadesOutAndBackInAroundAFullScreenChange) {
  openOnDraft();
  scene.clock.advance(0.01);
  std::vector<NSWindow*> all{&ghostWindow()};
  for (auto& backdrop : switcher->ghost().backdropWindows()) all.push_back(backdrop.window.get());

  switcher->ghost().fadeGhost(Ghost::Fade::out);
  scene.clock.advance(0.1);
  for (NSWindow* w : all) {
    EXPECT_GT(alphaOf(*w), 0.2);
    EXPECT_LT(alphaOf(*w), 0.8);
  }
  scene.clock.advance(0.15);
  for (NSWindow* w : all) {
    EXPECT_EQ(alphaOf(*w), 1) << "alpha restored";
    EXPECT_TRUE(w->isVisible()) << "no full-screen change pending";
  }

  SwitcherPeer::setPendingFullScreen(*switcher, kDraft);
  switcher->ghost().fadeGhost(Ghost::Fade::out);
  scene.clock.advance(0.25);
  for (NSWindow* w : all) {
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(alphaOf(*w), 1);
  }

  SwitcherPeer::setPendingFullScreen(*switcher, std::nullopt);
  switcher->ghost().backdropWindows()[1].window->orderFrontRegardless();  // one backdrop still showing
  switcher->ghost().fadeGhost(Ghost::Fade::in);
  EXPECT_TRUE(ghostWindow().isVisible());
  EXPECT_EQ(switcher->ghost().shownWindow(), kDraft);
  EXPECT_TRUE(ghostPicture()) << "captured at once";
  scene.clock.advance(0.1);
  EXPECT_GT(alphaOf(*switcher->ghost().backdropWindows()[1].window), 0.2);
  EXPECT_LT(alphaOf(*switcher->ghost().backdropWindows()[1].window), 0.8);
  scene.clock.advance(0.15);
  for (auto& backdrop : switcher->ghost().backdropWindows()) EXPECT_EQ(alphaOf(*backdrop.window), 1);
}

TEST_F(GhostTest, OtherPreviewOptionsHideGhostAndBackdrops) {
  openOnDraft();
  setPreview("thumbnail");
  switcher->model().hoveredName.set("anything");
  scene.clock.advance(0.01);
  EXPECT_FALSE(ghostWindow().isVisible());
  for (auto& backdrop : switcher->ghost().backdropWindows()) EXPECT_FALSE(backdrop.window->isVisible());
  EXPECT_EQ(switcher->ghost().shownWindow(), std::nullopt);
}

TEST_F(GhostTest, ChangesInOneTurnMakeOnePassThatSeesOnlyTheLastSelection) {
  openOnDraft();
  const int documentsBefore = fullCapturesOf(kDocuments);
  const CGRect draftFrame = ghostWindow().frame();
  const std::string documents = tileOf(kFinderPID, 0), draft = tileOf(kQuillPID, 0, 1);
  ASSERT_FALSE(documents.empty());

  switcher->model().select(TileID::cluster(documents), 0);
  const std::size_t posted = scene.clock.pending();
  for (int i = 0; i < 5; ++i) {
    switcher->model().select(TileID::cluster(i % 2 ? documents : draft), 0);
    EXPECT_EQ(scene.clock.pending(), posted) << "change " << i + 2 << " joins the pass already posted";
  }
  scene.clock.advance(0.001);
  EXPECT_EQ(switcher->ghost().shownWindow(), kDraft);
  EXPECT_EQ(ghostWindow().frame(), draftFrame);
  EXPECT_EQ(fullCapturesOf(kDocuments), documentsBefore) << "the ghost never went to Documents on the way";
}

// With instant Space switching the ghost bridges the switch; without it, it goes with the panels.
class GhostThroughASwitchTest : public GhostTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GhostThroughASwitchTest, StaysUpAfterThePanelsOnlyWithInstantSpaces) {
  const bool instant = GetParam();
  UserDefaults::standard().set("instantSpaces", instant);
  openOnDraft();
  modifiers(0);  // letting go of ⌘ commits
  for (int i = 0; i < 1000 && switcher->session().isActive(); ++i) scene.clock.advance(0.001);
  ASSERT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(anyPanelVisible());
  EXPECT_EQ(ghostWindow().isVisible(), instant);
  scene.clock.advance(1.0);
  EXPECT_FALSE(ghostWindow().isVisible()) << "gone shortly after the switch";
  EXPECT_EQ(frontWindowOf(kQuillPID), kDraft);
}

INSTANTIATE_TEST_SUITE_P(InstantSpaces, GhostThroughASwitchTest, ::testing::Bool());

TEST_F(GhostTest, ComposingAheadHappensOncePerSpace) {
  setPreview("fullScreen");
  switcher->model().reset(switcher->session().loadWorkspace(), 0);
  switcher->ghost().prebuildDestinations();
  switcher->ghost().prebuildDestinations();
  // Each display's most recent window's Space first (4 on the built-in display, 7 on the
  // wide one); a picture of each display's size fills the budget, so no more follow.
  EXPECT_EQ(switcher->ghost().composing(), (std::set<std::int64_t>{4, 7}));
  EXPECT_TRUE(switcher->ghost().composingDesktops().empty()) << "past the budget";
  int compositions = 0;
  while (scene.clock.step("destination")) {
    ++compositions;
    // A display-sized picture each: none waits for a busy main thread beside another.
    EXPECT_FALSE(scene.clock.step("destination")) << "the next is made once the main thread took this one";
    while (scene.clock.step("main")) {
    }
  }
  EXPECT_EQ(compositions, 2) << "two windows of one Space, or a second pass, compose nothing more";
  scene.clock.runUntilIdle();
  EXPECT_TRUE(switcher->ghost().composing().empty());
  EXPECT_EQ(switcher->ghost().destinationPictures().size(), 2u);
}

TEST_F(GhostTest, ComposedPicturesStayWithinTheirBudgetTheNewestKept) {
  // Four more desktops on the wide display: a picture of its size for each.
  const std::uint32_t wide = scene.windowServer.displays().at(1).displayID;
  std::uint64_t last = 0;
  for (int i = 0; i < 4; ++i) last = scene.windowServer.addSpace(wide, sim::Space{});
  openOnDraft();
  // Each selected in turn is composed as it is selected.
  for (int i = 0; i < 4; ++i) {
    select("1:" + std::to_string(last - 3 + static_cast<std::uint64_t>(i)) + ":desktop", 1);
    scene.clock.advance(0.01);
  }
  std::size_t bytes = 0;
  for (const auto* kept : {&switcher->ghost().destinationPictures(), &switcher->ghost().desktopPictures()}) {
    for (const auto& [space, picture] : *kept) bytes += static_cast<std::size_t>(picture->width()) * picture->height() * 4;
  }
  EXPECT_LE(bytes, Ghost::composedBudget);
  EXPECT_GT(bytes, Ghost::composedBudget / 2);
  EXPECT_TRUE(switcher->ghost().desktopPictures().count(static_cast<std::int64_t>(last)));
}

TEST_F(GhostTest, TheHazeFollowsTheSystemsTintOnlyWithTheGlassVariant) {
  struct Case {
    std::optional<double> tint;
    double haze;
  };
  for (const Case& c : {Case{std::nullopt, 0.3}, Case{0.5, 0.15}, Case{1, 0}, Case{2, 0}, Case{-1, 0.3}}) {
    if (c.tint) {
      UserDefaults::standard().set("NSGlassTintAmount", *c.tint);
    } else {
      UserDefaults::standard().removeObject("NSGlassTintAmount");
    }
    switcher->session().updateHaze();
    EXPECT_NEAR(switcher->session().haze(), c.haze, 1e-12) << c.tint.value_or(-99);
    EXPECT_NEAR(switcher->model().haze(), c.haze, 1e-12);
    EXPECT_NEAR(switcher->preview().pane().haze().alpha(), c.haze, 1e-12);
  }
  EXPECT_EQ(switcher->preview().pane().glass().glassLook(), (GlassLook{platform::GlassStyle::regular, 2}));
}

TEST_F(GhostTest, WithoutTheGlassVariantThePaneIsClearAndHasNoHaze) {
  scene.world.setGlassVariantAvailable(false);
  UserDefaults::standard().set("NSGlassTintAmount", 0.5);
  switcher->session().updateHaze();
  EXPECT_EQ(switcher->session().haze(), 0);
  EXPECT_EQ(switcher->model().haze(), 0);
  EXPECT_EQ(switcher->preview().pane().haze().alpha(), 0);
  EXPECT_EQ(switcher->preview().pane().glass().glassLook(), (GlassLook{platform::GlassStyle::clear, std::nullopt}));
}

}  // namespace
}  // namespace trelliq::panels
