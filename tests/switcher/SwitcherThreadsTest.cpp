// The tap's thread against the main queue on real threads: a keyboard thread posts
// thousands of seeded random events through the simulated Mac while the main queue runs
// sessions and, now and then, a gesture opens or closes one from the main thread. Run
// under ThreadSanitizer this checks that the tap reads only what it may; afterwards
// every session has ended, no panel is left showing and every flags-changed event passed.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <thread>

#include "platform/CGEvent.h"
#include "platform/RealClock.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/WindowServer.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/Switcher.h"

namespace trelliq {
namespace {

constexpr CGEventFlags kCommand = kCGEventFlagMaskCommand;
constexpr CGEventFlags kShift = kCGEventFlagMaskShift;
constexpr CGEventFlags kControl = kCGEventFlagMaskControl;
constexpr CGEventFlags kOption = kCGEventFlagMaskAlternate;

void post(const CGEventRef& event) { CGEventPost(kCGHIDEventTap, event); }

void flags(CGEventFlags now) {
  CGEventRef event = CGEventCreateKeyboardEvent(nullptr, 55, true);
  CGEventSetType(event, kCGEventFlagsChanged);
  CGEventSetFlags(event, now);
  post(event);
}

void press(CGKeyCode key, CGEventFlags now, bool repeat = false) {
  CGEventRef event = CGEventCreateKeyboardEvent(nullptr, key, true);
  CGEventSetFlags(event, now);
  if (repeat) CGEventSetIntegerValueField(event, kCGKeyboardEventAutorepeat, 1);
  post(event);
}

/// One user's worth of ⌘⇥ sequences: open, steer for a while, let go (or esc).
void typeSequences(std::mt19937& random, int count) {
  std::uniform_int_distribution<int> pick(0, 99);
  const CGKeyCode steering[] = {SwitcherKeys::tab, SwitcherKeys::left, SwitcherKeys::right, SwitcherKeys::grave, 7, 29};
  for (int n = 0; n < count; ++n) {
    flags(kCommand);
    press(SwitcherKeys::tab, kCommand, pick(random) < 5);
    const int steps = pick(random) % 8;
    for (int i = 0; i < steps; ++i) {
      const int what = pick(random);
      if (what < 45) {
        press(steering[what % 6], kCommand | (what % 3 == 0 ? kShift : 0), what % 7 == 0);
      } else if (what < 60) {
        const CGEventFlags tapKey = what % 2 ? kControl : kOption;
        flags(kCommand | tapKey);
        flags(kCommand);
      } else if (what < 75) {
        CGEventRef scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, what % 5 - 2, 9);
        CGEventSetIntegerValueField(scroll, kCGScrollWheelEventScrollPhase, i == 0 ? 1 : 2);
        post(scroll);
      } else if (what < 85) {
        const CGPoint at{static_cast<double>(40 * (what % 30)), static_cast<double>(30 * (what % 25))};
        post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, at, kCGMouseButtonLeft));
        post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDragged, {at.x + 3, at.y}, kCGMouseButtonLeft));
        post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, {at.x + 3, at.y}, kCGMouseButtonLeft));
      } else if (what < 90) {
        press(SwitcherKeys::escape, kCommand);
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (what - 89)));
      }
    }
    flags(0);
    if (pick(random) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

TEST(SwitcherThreads, TheTapThreadAndTheMainQueueAgreeUnderLoad) {
  Scene scene(Scene::Start::defaultScenario);
  scene.world.setAccessibilityTrusted(true);
  scene.world.setScreenCaptureAllowed(false);  // no picture queues: the tap and the main queue alone
  Settings::registerDefaults();
  platform::RealClock real;
  platform::installClock(&real);
  int argc = 1;
  char arg0[] = "tests";
  char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  sim::EventServer& events = *sim::EventServer::active();

  std::shared_ptr<Switcher> switcher;
  std::thread keyboard, onlooker;
  std::atomic<std::size_t> heldReads{0};
  std::atomic<bool> typed{false};
  std::atomic<bool> gestures{true};
  bool tapStarted = false, allClosed = false, panelsOut = false, nothingHeld = false;
  int flagsConsumed = -1, sessions = 0;

  // A gesture from the main thread now and then, racing the keyboard's openings.
  std::function<void()> gesture = [&] {
    if (!gestures) return;
    switcher->toggleFromGesture();
    real.main().asyncAfter(0.05, gesture);
  };
  real.main().async([&] {
    switcher = Switcher::make();
    tapStarted = switcher->startTap();
    if (!tapStarted) return QCoreApplication::exit(2);
    keyboard = std::thread([&] {
      std::mt19937 random(20260101);
      typeSequences(random, 300);
      typed = true;
    });
    // What the tap thread holds, read meanwhile from a thread that shares nothing else with it.
    onlooker = std::thread([&] {
      while (!typed) {
        heldReads += switcher->eventTap().hasPendingTap() + switcher->eventTap().swallowedButtonCount();
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
    real.main().asyncAfter(0.05, gesture);
  });

  // Once everything typed has gone through: stop the gestures, end whatever is open the
  // way a user would (esc, then ⌘ pressed and let go), and look.
  std::function<void()> look, check;
  std::function<void()> settle = [&] {
    if (!typed || events.queued() > 0) return void(real.main().asyncAfter(0.02, settle));
    gestures = false;
    press(SwitcherKeys::escape, kCommand);
    flags(kCommand);
    flags(0);
    real.main().async(look);
  };
  // Once those three have passed the tap, the work it posted for them is ahead of the check.
  look = [&] {
    if (events.queued() > 0) return void(real.main().asyncAfter(0.02, look));
    real.main().async(check);
  };
  check = [&] {
    allClosed = !switcher->gate().isOpen() && !switcher->session().isActive();
    nothingHeld = !switcher->eventTap().hasPendingTap() && switcher->eventTap().swallowedButtonCount() == 0;
    sessions = switcher->session().number();
    panelsOut = true;
    for (const auto& panel : switcher->panels()) panelsOut = panelsOut && !(panel.window && panel.window->isVisible());
    flagsConsumed = 0;
    for (const auto& consumed : events.consumed()) flagsConsumed += consumed.event.type == kCGEventFlagsChanged;
    switcher->stopTap();
    QCoreApplication::quit();
  };
  real.main().asyncAfter(0.05, settle);
  QTimer::singleShot(120000, &app, [] { QCoreApplication::exit(1); });  // fail-safe

  EXPECT_EQ(app.exec(), 0);
  gestures = false;
  if (keyboard.joinable()) keyboard.join();
  if (onlooker.joinable()) onlooker.join();
  ASSERT_TRUE(tapStarted);
  EXPECT_TRUE(allClosed) << "a session outlived the release of ⌘";
  EXPECT_TRUE(panelsOut) << "a panel stayed on screen after its session";
  EXPECT_TRUE(nothingHeld) << "an ⌥ tap or a swallowed button outlived every key and button let go";
  EXPECT_EQ(flagsConsumed, 0) << "flags-changed events always pass";
  EXPECT_GT(sessions, 100) << "the load opened sessions";
  real.shutdown();
  switcher.reset();
}

}  // namespace
}  // namespace trelliq
