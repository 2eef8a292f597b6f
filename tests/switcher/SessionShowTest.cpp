// What a running session does besides steering: the display it opens on (from real
// desktop clicks, focus changes, the last session and the pointer), the pointer moving
// the steering and the fn trace, the second looks that refresh only a changed snapshot
// (also one without the steered display), and the pictures and app changes arriving
// while it runs.

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "SessionStage.h"
#include "SwitcherModelPeer.h"
#include "SwitcherPeer.h"
#include "platform/AppKit.h"
#include "workspace/Recency.h"

namespace trelliq::session {
namespace {

constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;
constexpr CGKeyCode kFnKey = 63;
constexpr std::uint32_t kSpace4Draft = 2102;  // Quill's window on Space 4

class SessionShowTest : public SessionStage {
 protected:
  // Screen coordinates (bottom-left) to the window server's (top-left).
  static CGPoint serverPoint(CGPoint p) { return CGPoint{p.x, NSScreen::screens().front().frame().maxY() - p.y}; }
  static CGRect screenFrame(std::size_t index) { return NSScreen::screens().at(index).frame(); }

  // A point of the bare desktop on the screen, found by looking, not assumed.
  static std::optional<CGPoint> bareDesktop(std::size_t screen) {
    const CGRect v = NSScreen::screens().at(screen).visibleFrame();
    for (double y = v.maxY() - 20; y > v.minY(); y -= 40) {
      for (double x = v.maxX() - 20; x > v.minX(); x -= 40) {
        if (OpeningDisplay::isOnDesktop({x, y})) return CGPoint{x, y};
      }
    }
    return std::nullopt;
  }
  // The index in the snapshot of the display on that screen.
  int displayIndexOf(std::size_t screen) const {
    const auto& displays = switcher->model().workspace().displays;
    for (std::size_t i = 0; i < displays.size(); ++i) {
      if (displays[i].screen == NSScreen::screens().at(screen)) return static_cast<int>(i);
    }
    return -1;
  }
  void openHolding() {
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
    scene.clock.advance(0.05);
  }
  void escape() {
    press(SwitcherKeys::escape, kCommand);
    modifiers(0);
    scene.clock.advance(0.1);
  }
  // Records every model change from now on.
  void record() {
    token = switcher->model().subscribe([this](const ModelChange& change) { changes.push_back(change); });
  }
  int count(ModelField field) const {
    return static_cast<int>(
        std::count_if(changes.begin(), changes.end(), [&](const ModelChange& c) { return c.field == field; }));
  }
  ~SessionShowTest() override {
    if (token) switcher->model().unsubscribe(token);
  }

  ObserverToken token = 0;
  std::vector<ModelChange> changes;
};

TEST_F(SessionShowTest, ASessionOpenedWhileTheStartsWarmUpRunsKeepsItsPanels) {
  // Its warm-up waits on the main queue; the keys that follow at once wait for the tap
  // instead of passing it by before its thread has run.
  ASSERT_TRUE(switcher->startTap());
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  for (int guard = 0; guard < 20; ++guard) {
    if (!scene.clock.step(sim::EventServer::kQueueLabel) && !scene.clock.step("event tap")) break;
  }
  // A slow warm-up: the show falls due before the warm-up has tidied up after itself.
  scene.clock.advanceExcept(platform::mainQueue().label(), 0.2);
  scene.clock.advance(0.1);
  ASSERT_TRUE(switcher->session().isShown());
  for (const auto& p : switcher->panels()) {
    EXPECT_TRUE(p.window->isVisible());
    EXPECT_EQ(p.window->alphaValue(), 1);
  }
  escape();
}

TEST_F(SessionShowTest, ADesktopClickSinceTheLastSessionChoosesTheDisplayUnlessAFocusCameLater) {
  startTap();
  Recency::shared().touch(kDraft, true);  // the user worked on the built-in display
  scene.clock.advance(0.1);
  const auto wide = bareDesktop(1);
  ASSERT_TRUE(wide) << "the wide display shows some bare desktop";
  click(serverPoint(*wide));
  scene.clock.advance(0.1);
  ASSERT_TRUE(switcher->memory().desktopClick());
  EXPECT_GT(Recency::shared().desktopStamp(*scene.windowServer.currentSpace(perform::kWide)), 0u)
      << "going to a desktop is a use of that desktop";

  openHolding();
  EXPECT_EQ(switcher->model().focused(), displayIndexOf(1));
  escape();

  // The click before that session no longer counts; a focus after a new click wins.
  click(serverPoint(*wide));
  scene.clock.advance(0.1);
  Recency::shared().touch(kDraft, true);
  scene.clock.advance(0.1);
  openHolding();
  EXPECT_EQ(switcher->model().focused(), displayIndexOf(0));
  escape();

  // Clicks on a window or the menu bar are not desktop clicks.
  const auto before = switcher->memory().desktopClick();
  const CGRect built = screenFrame(0);
  click(serverPoint({built.midX(), built.maxY() - 5}));
  scene.clock.advance(0.1);
  EXPECT_EQ(switcher->memory().desktopClick()->at, before->at);
}

TEST_F(SessionShowTest, ThePointerSteersAndTheLastSessionsDisplayBeatsThePointerNextTime) {
  startTap();
  const CGRect built = screenFrame(0), wide = screenFrame(1);
  movePointer(serverPoint({built.midX(), built.midY()}));
  scene.clock.advance(0.05);
  openHolding();
  ASSERT_EQ(switcher->model().focused(), displayIndexOf(0));

  movePointer(serverPoint({wide.midX(), wide.midY()}));
  scene.clock.advance(0.1);
  EXPECT_EQ(switcher->model().focused(), displayIndexOf(1)) << "the pointer took the steering along";
  escape();

  movePointer(serverPoint({built.midX(), built.midY()}));
  scene.clock.advance(0.05);
  openHolding();
  EXPECT_EQ(switcher->model().focused(), displayIndexOf(1)) << "the display steered last time";
  escape();

  // That display gone from the snapshot: the one under the pointer.
  SwitcherPeer::setLastDisplay(*switcher, "unplugged");
  openHolding();
  EXPECT_EQ(switcher->model().focused(), displayIndexOf(0));
}

TEST_F(SessionShowTest, FnIsTracedAndAPointerMoveWithinTwoSecondsIsLogged) {
  startTap();
  const CGRect built = screenFrame(0);
  movePointer(serverPoint({built.midX(), built.midY()}));
  scene.clock.advance(0.05);
  openHolding();
  const int start = switcher->model().focused();
  ASSERT_EQ(start, displayIndexOf(0));

  modifiers(kCommand | kFn, kFnKey);  // fn alone steers the next display
  scene.clock.advance(0.05);
  modifiers(kCommand, kFnKey);
  scene.clock.advance(0.05);
  EXPECT_EQ(linesStarting("fn down (flags 0x900000, before 0x100000) steering display 0 of 2").size(), 1u);
  EXPECT_NE(switcher->model().focused(), start);

  movePointer(serverPoint({built.midX() + 30, built.midY()}));
  scene.clock.advance(0.1);
  EXPECT_EQ(switcher->model().focused(), start);
  const auto moved = linesStarting("  pointer moved: steering display 0 again, ");
  ASSERT_EQ(moved.size(), 1u);
  // fn went down 0.1 s before the move; the next 1/30 s tick notices it.
  const std::string prefix = "  pointer moved: steering display 0 again, ";
  const std::string text = moved.front().substr(prefix.size());
  ASSERT_TRUE(text.ends_with("ms after fn")) << moved.front();
  const int ms = std::stoi(text);
  EXPECT_GE(ms, 100);
  EXPECT_LE(ms, 134);
  scene.clock.advance(0.5);
  EXPECT_EQ(linesStarting("  0.5s after fn: steering display 0").size(), 1u);
  EXPECT_EQ(linesStarting("  0.5s after fn: steering display 0 (didn't move)").size(), 1u);

  // Long after fn the pointer still steers, silently.
  modifiers(kCommand | kFn, kFnKey);
  modifiers(kCommand, kFnKey);
  scene.clock.advance(2.1);
  movePointer(serverPoint({built.midX() - 30, built.midY()}));
  scene.clock.advance(0.1);
  EXPECT_EQ(switcher->model().focused(), start);
  EXPECT_EQ(linesStarting("  pointer moved:").size(), 1u);
}

// The steered display unplugged while ⌘ is held: the keys steer nothing, nothing reads
// past the displays that are left, and letting go switches nowhere.
TEST_F(SessionShowTest, KeysOfASessionWhoseSteeredDisplayWasUnpluggedDoNothing) {
  startTap();
  const CGRect wide = screenFrame(1);
  movePointer(serverPoint({wide.midX(), wide.midY()}));
  scene.clock.advance(0.05);
  openHolding();
  const int steered = displayIndexOf(1);
  ASSERT_EQ(switcher->model().focused(), steered);
  ASSERT_EQ(steered, 1) << "the display unplugged must be past the ones left";
  scene.clock.advance(0.2);
  ASSERT_TRUE(switcher->session().isShown());
  const auto front = NSWorkspace::shared().frontmostApplication();
  ASSERT_TRUE(scene.world.removeDisplay(*NSScreen::screens().at(1).displayNumber()));
  scene.clock.advance(1.2);  // both second looks
  ASSERT_EQ(switcher->model().workspace().displays.size(), 1u);
  EXPECT_EQ(switcher->model().focused(), steered);

  const auto selection = switcher->model().selection();
  for (const CGKeyCode key : {SwitcherKeys::tab, SwitcherKeys::right, SwitcherKeys::grave, SwitcherKeys::down}) {
    press(key, kCommand);
    scene.clock.advance(0.05);
  }
  EXPECT_EQ(switcher->model().selection(), selection);
  modifiers(0);
  scene.clock.advance(1);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(NSWorkspace::shared().frontmostApplication(), front);
  EXPECT_TRUE(linesStarting("switch to").empty());
}

TEST_F(SessionShowTest, SecondLooksRefreshOnlyAChangedSnapshot) {
  startTap();
  openHolding();
  scene.clock.advance(0.15);
  ASSERT_TRUE(switcher->session().isShown());
  record();
  scene.clock.advance(1.2);  // both looks have run
  EXPECT_EQ(count(ModelField::workspace), 0);
  EXPECT_EQ(count(ModelField::thumbnails), 0) << "an unchanged snapshot takes no new pictures";
  escape();

  // A window that opens 0.5 s after the panels appear is there at the 1.0 s look and
  // its picture fades in.
  openHolding();
  scene.clock.advance(0.15);
  ASSERT_TRUE(switcher->session().isShown());
  changes.clear();
  scene.clock.advance(0.5);
  sim::Window letter;
  letter.pid = kQuillPID;
  letter.title = "Letter.txt";
  letter.bounds = CGRect(200, 200, 700, 500);
  letter.spaces = {1};
  const std::uint32_t added = scene.windowServer.addWindow(letter);
  scene.clock.advance(0.3);
  EXPECT_EQ(count(ModelField::workspace), 0) << "nothing looks between the two looks";
  scene.clock.advance(0.3);
  ASSERT_EQ(count(ModelField::workspace), 1);
  const auto refreshed = std::find_if(changes.begin(), changes.end(),
                                      [](const ModelChange& c) { return c.field == ModelField::workspace; });
  EXPECT_EQ(refreshed->animation, Animation::removal());
  bool present = false;
  for (const WindowInfo& w : switcher->model().workspace().windows()) present = present || w.windowID == added;
  EXPECT_TRUE(present);
  ASSERT_TRUE(switcher->model().thumbnails().count(added));
  const bool faded = std::any_of(changes.begin(), changes.end(), [](const ModelChange& c) {
    return c.field == ModelField::thumbnails && c.animation == Animation::pictureFade();
  });
  EXPECT_TRUE(faded);
}

TEST_F(SessionShowTest, PicturesAreTakenInTheOrderTheUserLooksAtThem) {
  UserDefaults::standard().set("preview", "thumbnail");
  startTap();
  openHolding();
  press(SwitcherKeys::tab, kCommand);  // Quill's tile on Space 4
  scene.clock.advance(0.05);
  ASSERT_EQ(selected(), "0:4:301");

  // A second window of the tile opens, and the next look takes every picture again.
  sim::Window letter;
  letter.pid = kQuillPID;
  letter.title = "Letter";
  letter.bounds = CGRect(200, 200, 700, 500);
  letter.spaces = {4};
  scene.windowServer.clearPrivateCalls();
  const std::uint32_t added = scene.windowServer.addWindow(letter);
  scene.clock.advance(1.2);
  std::vector<std::uint32_t> asked;
  for (const sim::PrivateCall& call : scene.windowServer.privateCalls("SLSHWCaptureWindowList")) {
    const platform::PlistArray* windows = call.arguments.size() > 2 ? call.arguments[1].asArray() : nullptr;
    // Desktop pictures are taken the same way; only windows of the snapshot count here.
    if (!windows || windows->empty() || call.arguments[2].asInteger() != 0x80A00) continue;
    const auto number = static_cast<std::uint32_t>(windows->front().asInteger().value_or(0));
    if (number > 1000) asked.push_back(number);
  }
  ASSERT_EQ(switcher->model().focusedTarget()->windowID, std::optional<std::uint32_t>(added)) << "the newest in front";
  // The target, the rest of its tile, then every other window in the snapshot's order.
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{added, kSpace4Draft, 1101, 2101, 2103, 4101, 5101, 9101, 9401, 3101,
                                               6101, 7101, 7102, 9201, 3102, 8101}));
}

TEST_F(SessionShowTest, ALookOfAnotherSessionOrDuringARenameChangesNothing) {
  startTap();
  openHolding();
  scene.clock.advance(0.15);
  ASSERT_TRUE(switcher->session().isShown());
  sim::Window letter;
  letter.pid = kQuillPID;
  letter.title = "Letter.txt";
  letter.bounds = CGRect(200, 200, 700, 500);
  letter.spaces = {1};
  scene.windowServer.addWindow(letter);
  record();

  switcher->session().lookAgain(switcher->session().number() - 1);
  EXPECT_EQ(count(ModelField::workspace), 0);
  SwitcherPeer::setPendingFullScreen(*switcher, 1);
  switcher->session().lookAgain(switcher->session().number());
  EXPECT_EQ(count(ModelField::workspace), 0);
  SwitcherPeer::setPendingFullScreen(*switcher, std::nullopt);
  switcher->renaming().startRenaming("0:1:desktop", 0);
  ASSERT_TRUE(switcher->gate().isRenaming());
  switcher->session().lookAgain(switcher->session().number());
  EXPECT_EQ(count(ModelField::workspace), 0);
  switcher->renaming().finishRenaming(false, false);
  switcher->session().lookAgain(switcher->session().number());
  EXPECT_EQ(count(ModelField::workspace), 1);
}

TEST_F(SessionShowTest, PicturesOfWindowsInTransitionWaitForTheFullScreenChange) {
  startTap();
  openHolding();
  SwitcherModelPeer::markTransitioning(switcher->model(), kDraft);
  const CGImageRef picture = CGImage::empty();
  SwitcherPeer::setPendingFullScreen(*switcher, kDraft);
  switcher->pictures().thumbnailArrived(kDraft, picture);
  EXPECT_TRUE(switcher->model().transitioning().count(kDraft));
  EXPECT_NE(switcher->model().thumbnails().at(kDraft), picture) << "dropped while the change is pending";

  SwitcherPeer::setPendingFullScreen(*switcher, std::nullopt);
  switcher->pictures().thumbnailArrived(kDraft, picture);
  EXPECT_FALSE(switcher->model().transitioning().count(kDraft));
  EXPECT_EQ(switcher->model().thumbnails().at(kDraft), picture);

  // Pictures keep arriving after the session ended; they are kept.
  escape();
  const CGImageRef later = CGImage::empty();
  switcher->pictures().thumbnailArrived(kDocuments, later);
  scene.clock.advance(SwitcherTiming::pictureFrame);
  EXPECT_EQ(switcher->model().thumbnails().at(kDocuments), later);
}

TEST_F(SessionShowTest, APictureReplacingAShownOneGoesInAtOnceBesideAFirstOneFadingIn) {
  startTap();
  openHolding();
  scene.clock.advance(1.5);
  const auto& pictures = switcher->model().thumbnails();
  constexpr std::uint32_t kUnseen = 4242;  // a window without a picture yet
  ASSERT_TRUE(pictures.count(kDraft));
  ASSERT_FALSE(pictures.count(kUnseen));
  const CGImageRef replacing = CGImage::empty(), first = CGImage::empty();
  // The animation each picture went into the model with.
  std::map<std::uint32_t, std::optional<Animation>> cameIn;
  token = switcher->model().subscribe([&](const ModelChange& change) {
    if (change.field != ModelField::thumbnails) return;
    for (const auto& [window, picture] : {std::pair{kDraft, replacing}, std::pair{kUnseen, first}}) {
      const auto found = pictures.find(window);
      if (found != pictures.end() && found->second == picture) cameIn.try_emplace(window, change.animation);
    }
  });

  switcher->pictures().thumbnailArrived(kUnseen, first);
  switcher->pictures().thumbnailArrived(kDraft, replacing);
  scene.clock.advance(SwitcherTiming::pictureFrame);
  ASSERT_EQ(cameIn.size(), 2u);
  EXPECT_EQ(cameIn[kDraft], std::nullopt) << "the replacing picture faded in";
  EXPECT_EQ(cameIn[kUnseen], Animation::pictureFade());
}

TEST_F(SessionShowTest, AnAppThatQuitsLeavesTheSessionWithTheRemovalAnimation) {
  startTap();
  openHolding();
  record();
  scene.windowServer.terminate(kLumenPID);
  scene.clock.advance(0.1);
  for (const WindowInfo& w : switcher->model().workspace().windows()) EXPECT_NE(w.pid, kLumenPID);
  const auto removal = std::find_if(changes.begin(), changes.end(),
                                    [](const ModelChange& c) { return c.field == ModelField::workspace; });
  ASSERT_NE(removal, changes.end());
  EXPECT_EQ(removal->animation, Animation::removal());
  escape();

  // Between sessions only the quit watch goes.
  changes.clear();
  bool watchStopped = false;
  SwitcherPeer::watchQuit(*switcher, kSlatePID, NSKeyValueObservation([&] { watchStopped = true; }));
  scene.windowServer.terminate(kSlatePID);
  scene.clock.advance(0.1);
  EXPECT_TRUE(watchStopped);
  EXPECT_FALSE(switcher->actions().watchesQuitOf(kSlatePID));
  EXPECT_EQ(count(ModelField::workspace), 0);
}

}  // namespace
}  // namespace trelliq::session
