// The self-tests' shared operations on the simulated Mac: time with and without the main
// run loop, keys as posted events, the one-line descriptions of the front, and the
// screenshot of every display with its file names.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Files.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Scenario.h"
#include "selftest/MissingMode.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

double elapsed(Scene& scene, double since) { return scene.clock.monotonicSeconds() - since; }

TEST(ModeClock, PumpRunsTheMainQueueWhileASleepOnlyLetsTheRestOfTheSystemRun) {
  Scene scene;
  bool mainRan = false, workerRan = false;
  platform::mainQueue().asyncAfter(0.1, [&] { mainRan = true; });
  platform::clock().queue("worker").asyncAfter(0.1, [&] { workerRan = true; });

  const double start = scene.clock.monotonicSeconds();
  ModeClock::sleep(0.2);
  EXPECT_DOUBLE_EQ(elapsed(scene, start), 0.2);
  EXPECT_TRUE(workerRan);
  EXPECT_FALSE(mainRan) << "a sleeping main thread runs nothing of its queue";

  ModeClock::pump(0.01);
  EXPECT_TRUE(mainRan) << "the overdue work runs once the run loop turns";

  // No time at all, and backwards, return at once.
  const double before = scene.clock.monotonicSeconds();
  ModeClock::pump(0);
  ModeClock::pump(-1);
  ModeClock::sleep(-0.5);
  EXPECT_EQ(scene.clock.monotonicSeconds(), before);
}

TEST(ModeClock, PumpUntilStopsAtTheConditionOrGivesUpAtItsLimit) {
  Scene scene;
  bool done = false;
  platform::mainQueue().asyncAfter(0.25, [&] { done = true; });
  double start = scene.clock.monotonicSeconds();
  EXPECT_TRUE(ModeClock::pumpUntil([&] { return done; }, 0.01, 5));
  EXPECT_NEAR(elapsed(scene, start), 0.25, 0.011) << "polled in 0.01 s slices";

  start = scene.clock.monotonicSeconds();
  EXPECT_FALSE(ModeClock::pumpUntil([] { return false; }, 0.1, 1.0));
  EXPECT_NEAR(elapsed(scene, start), 1.0, 1e-9);

  start = scene.clock.monotonicSeconds();
  EXPECT_TRUE(ModeClock::pumpUntil([] { return true; }));
  EXPECT_EQ(elapsed(scene, start), 0) << "a condition already met costs no time";
  EXPECT_EQ(ModeClock::millisecondsSince(scene.clock.monotonicSeconds() - 0.0129), 12) << "truncated, not rounded";
}

TEST(UserActions, KeysArePostedAtTheHidTapWithExactlyTheirFlags) {
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setAccessibilityTrusted(true);
  sim::EventServer& events = *sim::EventServer::active();
  events.clearRecords();

  const double start = scene.clock.monotonicSeconds();
  UserActions::key(58, keys::press, 0x180000, keys::modifier);
  EXPECT_NEAR(elapsed(scene, start), 0.05, 1e-9) << "each key is followed by 0.05 s of run loop";
  UserActions::key(48, keys::release, 0x100000, keys::plain);
  ASSERT_TRUE(UserActions::post(55, keys::release, 0, keys::modifier));

  const auto posted = events.posted();
  ASSERT_EQ(posted.size(), 3u);
  const struct {
    CGEventType type;
    std::int64_t code;
    CGEventFlags flags;
  } expected[] = {{kCGEventFlagsChanged, 58, 0x180000}, {kCGEventKeyUp, 48, 0x100000}, {kCGEventFlagsChanged, 55, 0}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(posted[i].tap, kCGHIDEventTap) << i;
    EXPECT_EQ(posted[i].event.type, expected[i].type) << i;
    EXPECT_EQ(posted[i].event.integerFields.at(kCGKeyboardEventKeycode), expected[i].code) << i;
    EXPECT_EQ(posted[i].event.flags, expected[i].flags) << i;
  }
}

TEST(UserActions, TheKeysOfANewSessionWaitUntilTheCopysLastPanelHasGone) {
  Scene scene;
  // Another copy whose last session's panel is still up, and a panel kept ordered in at
  // alpha 0 (it shows nothing).
  const auto problem = sim::loadScenarioText(scene.world, R"json({
    "displays": [{"id": 1, "uuid": "SCREEN-1", "name": "Built-in", "frame": [0, 0, 1440, 900]}],
    "permissions": {"screenCapture": true, "accessibility": true},
    "apps": [{"pid": 500, "name": "Trelliq"}],
    "windows": [{"number": 61, "app": 500, "layer": 101, "frame": [0, 0, 1440, 900]},
                {"number": 62, "app": 500, "layer": 101, "alpha": 0, "frame": [0, 0, 1440, 900]}]
  })json", "copy.json");
  ASSERT_FALSE(problem) << *problem;
  sim::EventServer& events = *sim::EventServer::active();
  events.clearRecords();
  std::optional<std::size_t> postedWhenGone;
  platform::mainQueue().asyncAfter(0.3, [&] {
    scene.windowServer.removeWindow(61);
    postedWhenGone = events.posted().size();
  });

  UserActions::commandTab();
  ASSERT_EQ(postedWhenGone, 0u) << "no key of the new session before the old panel went";
  EXPECT_EQ(events.posted().size(), 3u);

  const double start = scene.clock.monotonicSeconds();
  UserActions::commandOptionTap();
  EXPECT_NEAR(elapsed(scene, start), 0.15, 1e-9) << "a transparent panel is not waited for";
}

TEST(MissingMode, AnotherCopysPanelOnADisplayBesideTheFirstIsListedWhereItStands) {
  Scene scene;
  const auto problem = sim::loadScenarioText(scene.world, R"json({
    "displays": [{"id": 1, "frame": [0, 0, 960, 720]}, {"id": 2, "frame": [960, 0, 960, 720]}],
    "apps": [{"pid": 500, "name": "Trelliq"}],
    "windows": [{"number": 71, "app": 500, "layer": 101, "frame": [960, 40, 900, 680]}]
  })json",
                                             "copy.json");
  ASSERT_FALSE(problem) << *problem;
  const std::vector<std::string> lines = MissingMode::copyWindows();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("  71 layer 101 960,40 900x680 ", 0), 0u) << lines[0];
}

// A responder that notes the keys the application hands it.
struct KeyRecorder : NSResponder {
  std::vector<std::uint16_t> keys;
  bool acceptsFirstResponder() const override { return true; }
  void keyDown(const NSEvent& event) override { keys.push_back(event.keyCode()); }
};

TEST(ModeClock, TheEventPumpAloneHandsRoutedEventsToTheApplication) {
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setAccessibilityTrusted(true);
  NSApplication& app = NSApp();
  app.finishLaunching();
  app.setDispatchesEventsAutomatically(false);
  NSWindow window(CGRect(100, 100, 300, 200), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  KeyRecorder recorder;
  window.makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(window.makeFirstResponder(&recorder));
  app.activate();
  ModeClock::pump(0.5);
  ASSERT_TRUE(app.isActive());

  UserActions::post(7, keys::press, 0, keys::plain);
  ModeClock::pump(0.2);
  EXPECT_TRUE(recorder.keys.empty()) << "the run loop alone leaves events waiting";
  ModeClock::pumpEvents(0.1, 0.01);
  EXPECT_EQ(recorder.keys, std::vector<std::uint16_t>{7});
  app.setDispatchesEventsAutomatically(true);
}

TEST(WorldReader, TheFrontIsDescribedInOneLine) {
  {
    Scene scene;  // nothing runs, nothing is in front
    EXPECT_EQ(WorldReader::state(), "front ? focused window - ");
    EXPECT_EQ(WorldReader::frontName("-"), "-");
    EXPECT_EQ(WorldReader::spaces(), "[]");
  }
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setAccessibilityTrusted(true);
  EXPECT_EQ(WorldReader::state(), "front Quill focused window 2101 main=1");
  EXPECT_EQ(WorldReader::spaces(), "[1, 2]");
  // Without the accessibility permission neither the window nor its main flag can be read.
  scene.world.setAccessibilityTrusted(false);
  EXPECT_EQ(WorldReader::state(), "front Quill focused window - ");
  EXPECT_EQ(ModeReport::list({}), "[]");
  EXPECT_EQ(ModeReport::list({-3, 12}), "[-3, 12]");
}

class Screenshot : public ::testing::Test {
 protected:
  Screenshot() {
    scene_.world.setScreenCaptureAllowed(true);
    // Two small displays side by side: Left (display 7) and Right (display 8).
    scene_.world.setDisplays(
        {sim::makeDisplay(7, CGRect(0, 0, 40, 30), "Left"), sim::makeDisplay(8, CGRect(40, 0, 50, 20), "Right")});
  }
  std::optional<std::pair<int, int>> size(const std::string& name) {
    const auto bytes = platform::FileManager::contents(scene_.path(name));
    if (!bytes) return std::nullopt;
    QImage image;
    if (!image.loadFromData(bytes->data(), static_cast<int>(bytes->size()), "PNG")) return std::pair{-1, -1};
    return std::pair{image.width(), image.height()};
  }
  std::vector<std::string> files() {
    auto names = platform::FileManager::contentsOfDirectory(scene_.home).value_or(std::vector<std::string>{});
    std::erase_if(names, [](const std::string& n) { return n.find(".png") == std::string::npos; });
    std::sort(names.begin(), names.end());
    return names;
  }
  Scene scene_;
};

TEST_F(Screenshot, ThePointersDisplayTakesThePathAndTheOthersTheirPlaceFromTheLeft) {
  scene_.windowServer.setPointer(CGPoint(60, 10));  // on Right
  ModeReport::debugScreenshot(scene_.path("shot.png"));
  EXPECT_EQ(files(), (std::vector<std::string>{"shot-display0.png", "shot.png"}));
  EXPECT_EQ(size("shot.png"), (std::pair{100, 40})) << "twice the size in points";
  EXPECT_EQ(size("shot-display0.png"), (std::pair{80, 60}));
}

TEST_F(Screenshot, NoPointerDisplayNoPngInThePathOrNoPermission) {
  scene_.windowServer.setPointer(CGPoint(500, 500));  // on no screen
  ModeReport::debugScreenshot(scene_.path("a.png"));
  EXPECT_EQ(files(), (std::vector<std::string>{"a-display0.png", "a-display1.png"}));

  // Without ".png" every display writes the same file, the last one staying.
  scene_.windowServer.setPointer(CGPoint(10, 10));
  ModeReport::debugScreenshot(scene_.path("b"));
  EXPECT_EQ(size("b"), (std::pair{100, 40}));

  // A folder that does not exist is not made.
  ModeReport::debugScreenshot(scene_.path("none/d.png"));
  EXPECT_FALSE(platform::FileManager::fileExists(scene_.path("none")));

  scene_.world.setScreenCaptureAllowed(false);
  ModeReport::debugScreenshot(scene_.path("c.png"));
  EXPECT_FALSE(platform::FileManager::fileExists(scene_.path("c.png")));
}

}  // namespace
}  // namespace trelliq
