// The trackpad double tap, driven through the simulated multitouch devices: frames carry
// their own timestamps (seconds), and the clock only moves them through their thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SwitchPerformerScenes.h"
#include "platform/RealClock.h"
#include "platform/sim/EventServer.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/Gestures.h"

namespace trelliq {
namespace {

using perform::linesStarting;
using sim::MultitouchDevices;

void choose(const std::string& gesture) { Settings::defaults().set("gesture", platform::PlistValue(gesture)); }

/// One touch of `fingers` fingers from `start` for `length` seconds; every finger drifts by
/// `drift` on both axes halfway through.
void touch(MultitouchDevices& devices, std::uint64_t device, int fingers, double start, double length = 0.1,
           float drift = 0) {
  std::vector<MultitouchDevices::Contact> down, later;
  for (int i = 0; i < fingers; ++i) {
    down.push_back({i + 1, 0.2f + 0.1f * i, 0.5f});
    later.push_back({i + 1, 0.2f + 0.1f * i + drift, 0.5f + drift});
  }
  devices.sendFrame(device, down, start);
  devices.sendFrame(device, later, start + length / 2);
  devices.sendFrame(device, {}, start + length);
}

/// Two 0.1 s taps whose pause is `gap`.
void doubleTap(MultitouchDevices& devices, std::uint64_t device, int fingers, double start, double gap = 0.3) {
  touch(devices, device, fingers, start);
  touch(devices, device, fingers, start + 0.1 + gap);
}

class GesturesTest : public ::testing::Test {
 protected:
  GesturesTest() { choose("threeFingerDoubleTap"); }
  ~GesturesTest() override { gestures.stop(); }

  void settle() { scene.clock.runUntilIdle(); }

  Scene scene;
  MultitouchDevices& devices = sim::EventServer::active()->multitouch();
  int toggles = 0;
  Gestures gestures{[this] { ++toggles; }};
};

TEST_F(GesturesTest, TwoStillThreeFingerTapsToggleOnceAndAThirdStartsAfresh) {
  const auto pad = devices.addDevice();
  gestures.start();
  EXPECT_EQ(linesStarting("gestures: "), (std::vector<std::string>{"gestures: reading 1 trackpad"}));
  doubleTap(devices, pad, 3, 10);
  settle();
  EXPECT_EQ(toggles, 1);
  EXPECT_EQ(linesStarting("gesture: "), (std::vector<std::string>{"gesture: double-tap with three fingers"}));
  touch(devices, pad, 3, 10.9);  // right after the pair: the first of a new one
  settle();
  EXPECT_EQ(toggles, 1);
  touch(devices, pad, 3, 11.2);
  settle();
  EXPECT_EQ(toggles, 2);
}

TEST_F(GesturesTest, OnlyTwoQuickStillTapsWithTheSameFingersCount) {
  const auto pad = devices.addDevice();
  gestures.start();
  double t = 10;
  auto next = [&] { return t += 5; };
  touch(devices, pad, 3, next());
  touch(devices, pad, 4, t + 0.4);  // three, then four
  doubleTap(devices, pad, 2, next());
  doubleTap(devices, pad, 5, next());
  doubleTap(devices, pad, 3, next(), 0.5);  // too long a pause
  touch(devices, pad, 3, next(), 0.35);     // too long a tap clears the pending first one
  touch(devices, pad, 3, t + 0.6);
  touch(devices, pad, 3, next(), 0.1, 0.05);  // a finger moved
  touch(devices, pad, 3, t + 0.4);
  // Three fingers, then five at once, then three again: a five-finger touch.
  devices.sendFrame(pad, {{1, .2f, .5f}, {2, .3f, .5f}, {3, .4f, .5f}}, next());
  devices.sendFrame(pad, {{1, .2f, .5f}, {2, .3f, .5f}, {3, .4f, .5f}, {4, .5f, .5f}, {5, .6f, .5f}}, t + 0.02);
  devices.sendFrame(pad, {}, t + 0.1);
  touch(devices, pad, 3, t + 0.4);
  settle();
  EXPECT_EQ(toggles, 0);
  doubleTap(devices, pad, 3, next(), 0.39);  // a pause just within the limit
  // A hovering finger does not count: still three.
  const std::vector<MultitouchDevices::Contact> hover{
      {1, .2f, .5f}, {2, .3f, .5f}, {3, .4f, .5f}, {4, .5f, .5f, MultitouchDevices::kHovering}};
  for (const double at : {next(), t + 0.4}) {
    devices.sendFrame(pad, hover, at);
    devices.sendFrame(pad, {}, at + 0.1);
  }
  settle();
  EXPECT_EQ(toggles, 2);
}

TEST_F(GesturesTest, TheChosenGestureDecidesAndZoomKeepsItsOwn) {
  const auto pad = devices.addDevice();
  choose("fourFingerDoubleTap");
  gestures.start();
  doubleTap(devices, pad, 3, 10);
  doubleTap(devices, pad, 4, 20);
  settle();
  EXPECT_EQ(toggles, 1);
  EXPECT_EQ(linesStarting("gesture: "), (std::vector<std::string>{"gesture: double-tap with four fingers"}));

  choose("threeFingerDoubleTap");
  scene.world.writeForeignPreference("com.apple.universalaccess", "closeViewTrackpadGestureZoomEnabled",
                                     platform::PlistValue(true));
  doubleTap(devices, pad, 3, 30);
  settle();
  EXPECT_EQ(toggles, 1);
  EXPECT_EQ(linesStarting("gesture: ").back(), "gesture: double-tap with three fingers, left to Zoom");

  // Look up also uses the three-finger tap but does not keep it from the switcher.
  scene.world.writeForeignPreference("com.apple.universalaccess", "closeViewTrackpadGestureZoomEnabled",
                                     platform::PlistValue(false));
  scene.world.writeForeignPreference("com.apple.AppleMultitouchTrackpad", "TrackpadThreeFingerTapGesture",
                                     platform::PlistValue(std::int64_t{2}));
  doubleTap(devices, pad, 3, 40);
  settle();
  EXPECT_EQ(toggles, 2);
}

TEST_F(GesturesTest, MiceAreNeverReadAndADeviceOfUnknownFamilyIs) {
  const auto pad = devices.addDevice();
  const auto mouse = devices.addDevice(MultitouchDevices::kMouse);
  devices.addDevice(MultitouchDevices::kSecondMouse);
  const auto unknown = devices.addDevice(MultitouchDevices::kSecondMouse);
  devices.setFamilyUnreadable(unknown, true);
  gestures.start();
  EXPECT_EQ(linesStarting("gestures: "), (std::vector<std::string>{"gestures: reading 2 trackpads"}));
  EXPECT_EQ(gestures.devices(),
            (std::vector{MultitouchDevices::reference(pad), MultitouchDevices::reference(unknown)}));
  EXPECT_FALSE(devices.sendFrame(mouse, {{1, .5f, .5f}})) << "neither started nor registered";
  doubleTap(devices, unknown, 3, 10);
  settle();
  EXPECT_EQ(toggles, 1);
}

TEST_F(GesturesTest, ANewDeviceOrAWakeRestartsTheDevicesOnceASecondLater) {
  const auto pad = devices.addDevice();
  gestures.start();
  const auto later = devices.addDevice(MultitouchDevices::kExternalTrackpad);
  scene.clock.advance(0.5);
  devices.addDevice(MultitouchDevices::kMouse);  // within the second: one restart, a second after it
  scene.clock.advance(0.9);
  EXPECT_FALSE(devices.device(later)->started);
  scene.clock.advance(0.2);
  EXPECT_TRUE(devices.device(later)->started);
  EXPECT_EQ(linesStarting("gestures: "),
            (std::vector<std::string>{"gestures: reading 1 trackpad", "gestures: reading 2 trackpads"}));

  devices.sleep();  // silences both until they are restarted
  devices.wake();
  scene.clock.advance(0.9);
  EXPECT_FALSE(devices.sendFrame(pad, {{1, .5f, .5f}}));
  scene.clock.advance(0.2);
  doubleTap(devices, later, 3, 10);
  doubleTap(devices, pad, 3, 10);
  settle();
  EXPECT_EQ(toggles, 2);
}

TEST_F(GesturesTest, TheOptionSwitchedOffStopsReadingAndAFirstTapOutlastsTheRestart) {
  const auto pad = devices.addDevice();
  gestures.start();
  touch(devices, pad, 3, 10);
  settle();
  choose("");
  settle();
  EXPECT_FALSE(devices.device(pad)->started);
  EXPECT_EQ(devices.device(pad)->callbacks, 0u);
  choose("threeFingerDoubleTap");
  settle();
  touch(devices, pad, 3, 10.4);  // pairs with the tap before the stop
  settle();
  EXPECT_EQ(toggles, 1);
}

TEST_F(GesturesTest, FramesWithoutRecordsOrWithANegativeCountHaveNoFingers) {
  const auto pad = devices.addDevice();
  gestures.start();
  const std::vector<MultitouchDevices::Contact> three{{1, .2f, .5f}, {2, .3f, .5f}, {3, .4f, .5f}};
  devices.sendFrame(pad, three, 10);
  devices.sendRawFrame(pad, three, 3, true, 10.1);  // no records: the fingers lifted
  devices.sendFrame(pad, three, 10.4);
  devices.sendRawFrame(pad, three, -3, false, 10.5);
  settle();
  EXPECT_EQ(toggles, 1);
}

TEST_F(GesturesTest, StopRemovesTheObserversAndTheArrivalPort) {
  const auto pad = devices.addDevice();
  gestures.start();
  gestures.stop();
  EXPECT_FALSE(devices.device(pad)->started);
  devices.addDevice();
  choose("fourFingerDoubleTap");
  scene.clock.advance(2);
  EXPECT_FALSE(devices.device(pad)->started) << "neither arrivals nor defaults restart it";
  EXPECT_EQ(sim::EventServer::active()->ioRegistry().matchings(MultitouchDevices::kServiceClass), 0);
}

TEST(GesturesFrameworkTest, AMissingFunctionLeavesTheGestureSilentlyOff) {
  Scene scene;
  choose("threeFingerDoubleTap");
  scene.world.removeSymbol(kMultitouchSupportPath, "MTDeviceStart");
  sim::EventServer::active()->multitouch().addDevice();
  Gestures gestures([] { FAIL() << "nothing is read"; });
  gestures.start();
  EXPECT_TRUE(gestures.isRunning());
  EXPECT_TRUE(gestures.devices().empty());
  EXPECT_TRUE(linesStarting("gestures: ").empty());
}

// Frames of two trackpads on two real threads at once, each completing double taps: every
// pair toggles exactly once. Then the same again while the main thread keeps switching the
// option off and on, so frames meet devices being stopped and started: whatever is
// recognised then, nothing may race.
TEST(GesturesThreads, TwoDevicesOnTwoThreadsWhileTheOptionFlips) {
  Scene scene;
  choose("threeFingerDoubleTap");
  platform::RealClock real;
  platform::installClock(&real);
  int argc = 1;
  char arg0[] = "tests";
  char* argv[] = {arg0, nullptr};
  // The widget tests' application, if one was made, runs the loop; replacing it would leak it.
  std::optional<QCoreApplication> own;
  if (!QCoreApplication::instance()) own.emplace(argc, argv);
  MultitouchDevices& devices = sim::EventServer::active()->multitouch();
  const auto first = devices.addDevice(MultitouchDevices::kBuiltInTrackpad, "multitouch");
  const auto second = devices.addDevice(MultitouchDevices::kExternalTrackpad, "multitouch 2");
  constexpr int kPairs = 150;
  constexpr int kFlips = 40;
  std::atomic<int> toggles{0}, sent{0}, flips{0};
  Gestures gestures([&] { ++toggles; });
  std::vector<std::thread> fingers;
  // Phase one: kPairs double taps per device. Phase two: taps on until the option has flipped enough.
  auto tapAway = [&](bool untilFlipped) {
    for (const auto device : {first, second}) {
      fingers.emplace_back([&, device, untilFlipped] {
        for (int i = 0; untilFlipped ? flips < kFlips : i < kPairs; ++i) {
          doubleTap(devices, device, 3, (untilFlipped ? 1000.0 : 10.0) + 2.0 * i);
        }
        ++sent;
      });
    }
  };
  real.main().async([&] {
    gestures.start();
    tapAway(false);
  });
  int phase = 0, firstToggles = -1;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (phase == 0 && sent == 2 && toggles == 2 * kPairs) {
      firstToggles = toggles;
      phase = 1;
      tapAway(true);
    } else if (phase == 1) {
      if (flips < kFlips) choose(++flips % 2 ? "" : "threeFingerDoubleTap");
      if (sent == 4) QCoreApplication::quit();
    }
  });
  look.start(1);
  QTimer failSafe;  // ends with the test, whichever application runs the loop
  failSafe.setSingleShot(true);
  QObject::connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  failSafe.start(60000);

  EXPECT_EQ(QCoreApplication::exec(), 0);
  for (auto& thread : fingers) thread.join();
  gestures.stop();
  real.shutdown();
  EXPECT_EQ(firstToggles, 2 * kPairs);
  EXPECT_GT(devices.device(first)->starts, kFlips / 4) << "the option flipped while frames arrived";
}

}  // namespace
}  // namespace trelliq
