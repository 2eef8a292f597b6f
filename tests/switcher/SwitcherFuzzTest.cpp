// Seeded random input into the simulated Mac: key presses with every mix of modifiers
// and repeats, modifier changes, clicks and drags anywhere, and scrolling, some of it
// arriving while a session is still opening (the main thread held back). Once each
// sequence lets go of every key and button and settles, the switcher is closed (or
// showing a session that stays open), no panel is left ordered in, and no modifier
// change was ever swallowed.

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "SessionStage.h"

namespace trelliq::session {
namespace {

constexpr CGEventFlags kControl = kCGEventFlagMaskControl, kOption = kCGEventFlagMaskAlternate,
                       kFn = kCGEventFlagMaskSecondaryFn;

class SwitcherFuzz : public SessionStage {
 protected:
  std::mt19937 random;

  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

  CGEventFlags someFlags() {
    CGEventFlags flags = 0;
    if (chance(0.75)) flags |= kCommand;
    if (chance(0.2)) flags |= kShift;
    if (chance(0.1)) flags |= kControl;
    if (chance(0.15)) flags |= kOption;
    if (chance(0.05)) flags |= kFn;
    return flags;
  }
  CGKeyCode someKey() {
    static const CGKeyCode keys[] = {SwitcherKeys::tab,
                                     SwitcherKeys::tab,
                                     SwitcherKeys::tab,
                                     SwitcherKeys::tab,
                                     SwitcherKeys::grave,
                                     SwitcherKeys::escape,
                                     SwitcherKeys::returnKey,
                                     SwitcherKeys::enter,
                                     SwitcherKeys::left,
                                     SwitcherKeys::right,
                                     SwitcherKeys::up,
                                     SwitcherKeys::down,
                                     0 /* a */,
                                     1 /* s */,
                                     4 /* h */,
                                     12 /* q */,
                                     13 /* w */,
                                     18 /* 1 */,
                                     19 /* 2 */,
                                     29 /* 0 */,
                                     43 /* , */,
                                     49 /* space */};
    return keys[pick(static_cast<int>(std::size(keys)))];
  }
  CGPoint somePoint() {
    const auto screens = NSScreen::screens();
    const CGRect f = screens[static_cast<std::size_t>(pick(static_cast<int>(screens.size())))].frame();
    const double top = screens.front().frame().maxY();
    return {f.minX() + pick(static_cast<int>(f.width())), top - f.maxY() + pick(static_cast<int>(f.height()))};
  }

  // One random input; `held` follows the modifiers the sequence holds down.
  void someEvent(CGEventFlags& held) {
    const int kind = pick(100);
    if (kind < 30) {
      held = someFlags();
      modifiers(held, held & kFn ? 63 : kCommandKey);
    } else if (kind < 75) {
      const CGKeyCode key = someKey();
      CGEventRef event = CGEventCreateKeyboardEvent(nullptr, key, true);
      CGEventSetFlags(event, held);
      if (chance(0.1)) CGEventSetIntegerValueField(event, kCGKeyboardEventAutorepeat, 1);
      post(event);
      CGEventRef up = CGEventCreateKeyboardEvent(nullptr, key, false);
      CGEventSetFlags(up, held);
      post(up);
    } else if (kind < 90) {
      static const CGEventType downs[] = {kCGEventLeftMouseDown, kCGEventRightMouseDown, kCGEventOtherMouseDown};
      static const CGEventType drags[] = {kCGEventLeftMouseDragged, kCGEventRightMouseDragged,
                                          kCGEventOtherMouseDragged};
      static const CGEventType ups[] = {kCGEventLeftMouseUp, kCGEventRightMouseUp, kCGEventOtherMouseUp};
      const int button = pick(10) < 7 ? 0 : pick(3);
      const CGPoint at = somePoint();
      post(CGEventCreateMouseEvent(nullptr, downs[button], at, static_cast<CGMouseButton>(button == 2 ? 2 : button)));
      if (chance(0.4)) post(CGEventCreateMouseEvent(nullptr, drags[button], somePoint(), button == 2 ? 2 : button));
      post(CGEventCreateMouseEvent(nullptr, ups[button], somePoint(),
                                   static_cast<CGMouseButton>(button == 2 ? 2 : button)));
    } else {
      CGEventRef scroll =
          CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, pick(81) - 40, pick(81) - 40);
      if (chance(0.5)) CGEventSetIntegerValueField(scroll, kCGScrollWheelEventScrollPhase, chance(0.5) ? 1 : 2);
      post(scroll);
    }
  }

  // Delivers what is queued without letting the main thread run.
  void tapOnly() {
    for (int guard = 0; guard < 200; ++guard) {
      if (!scene.clock.step(sim::EventServer::kQueueLabel) && !scene.clock.step("event tap")) return;
    }
  }

  void runSequence(int length) {
    CGEventFlags held = 0;
    for (int i = 0; i < length; ++i) {
      someEvent(held);
      const int pace = pick(10);
      if (pace < 3) {
        tapOnly();  // arrives while the main queue (a begin, a commit) still waits
      } else if (pace < 8) {
        scene.clock.advance(0.01 * pick(20));
      }
    }
    modifiers(0);
    scene.clock.advance(3);
  }
};

TEST_F(SwitcherFuzz, RandomInputAlwaysSettlesClosedWithNoPanelLeftAndModifiersPassed) {
  startTap();
  const auto* events = sim::EventServer::active();
  int sequences = 0, sessions = 0;
  for (const unsigned seed : {11u, 23u, 37u, 41u, 59u, 67u, 73u, 89u, 97u, 101u, 113u, 127u}) {
    random.seed(seed);
    for (int round = 0; round < 5; ++round) {
      const int before = switcher->session().number();
      runSequence(60);
      sessions += switcher->session().number() - before;
      ++sequences;
      std::ostringstream where;
      where << "seed " << seed << " round " << round;
      if (switcher->gate().isRenaming()) continue;
      if (switcher->session().isActive()) {
        EXPECT_TRUE(switcher->gate().staysOpen() && switcher->session().isShown())
            << where.str() << ": an ordinary session stayed open";
        press(SwitcherKeys::escape, 0);
        scene.clock.advance(0.5);
      }
      EXPECT_FALSE(switcher->session().isActive()) << where.str();
      EXPECT_FALSE(switcher->gate().isOpen()) << where.str();
      EXPECT_FALSE(anyPanelVisible()) << where.str() << ": a panel stayed ordered in";
      if (::testing::Test::HasFailure()) return;
    }
  }
  for (const auto& consumed : events->consumed()) {
    EXPECT_NE(consumed.event.type, kCGEventFlagsChanged) << "a modifier change was swallowed";
  }
  EXPECT_EQ(sequences, 60);
  EXPECT_GT(sessions, 60) << "the input opened sessions";
}

}  // namespace
}  // namespace trelliq::session
