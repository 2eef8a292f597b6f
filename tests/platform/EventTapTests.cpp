#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TapDesk.h"

namespace {

using Seen = std::vector<std::string>;

// Each case runs in process and in a program attached to a host serving the desk.
class EventTapTest : public ::testing::TestWithParam<Served> {};
TRELLIQ_SERVED_BOTH_WAYS(EventTapTest);

std::u16string textOf(const CGEventRef& e) {
  UniChar units[8] = {};
  UniCharCount length = 0;
  CGEventKeyboardGetUnicodeString(e, 8, &length, units);
  return std::u16string(units, std::min<UniCharCount>(length, 8));
}

// ---- Order and consumption ------------------------------------------------------------------

TEST_P(EventTapTest, HeadTapsComeFirstAndHIDTapsOnlySeeHIDEvents) {
  TapDesk desk(GetParam());
  Seen seen;
  const auto a = desk.recorder(seen, "session tail", kKeyDownMask, kCGSessionEventTap, kCGTailAppendEventTap);
  const auto b = desk.recorder(seen, "session head 1", kKeyDownMask);
  const auto c = desk.recorder(seen, "session head 2", kKeyDownMask);
  const auto h = desk.recorder(seen, "hid", kKeyDownMask, kCGHIDEventTap, kCGTailAppendEventTap);
  const auto l = desk.recorder(seen, "listener", kKeyDownMask, kCGSessionEventTap, kCGTailAppendEventTap,
                               kCGEventTapOptionListenOnly);
  ASSERT_TRUE(a && b && c && h && l);

  CGEventPost(kCGHIDEventTap, keyEvent(0));
  desk.settle();
  EXPECT_EQ(seen, (Seen{"hid", "session head 2", "session head 1", "session tail", "listener"}));

  seen.clear();
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  desk.settle();
  EXPECT_EQ(seen, (Seen{"session head 2", "session head 1", "session tail", "listener"}));
  EXPECT_EQ(desk.events->delivered().size(), 2u);
  EXPECT_EQ(desk.events->taps().size(), 5u);
}

TEST_P(EventTapTest, ConsumedEventsGoNowhereElseAndChangesReachLaterTaps) {
  TapDesk desk(GetParam());
  desk.server.makeFrontmost(desk.server.ownProcessIdentifier());
  std::vector<CGKeyCode> program;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t) {
    program.push_back(static_cast<CGKeyCode>(e.integerFields.at(kCGKeyboardEventKeycode)));
  });
  std::vector<CGEventFlags> later;
  const auto tail = desk.tap(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                             [&](CGEventTapProxy, CGEventType, CGEventRef e, void*) {
                               later.push_back(CGEventGetFlags(e));
                               return e;
                             });
  // Eats ⇥, marks 1 with shift, and answers 2 with a new event of another key.
  const auto head = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                             [](CGEventTapProxy, CGEventType, CGEventRef e, void*) -> CGEventRef {
                               const auto code = CGEventGetIntegerValueField(e, kCGKeyboardEventKeycode);
                               if (code == 48) return nullptr;
                               if (code == 18) CGEventSetFlags(e, kCGEventFlagMaskShift);
                               if (code == 19) return keyEvent(20);
                               return e;
                             });
  ASSERT_TRUE(head && tail);
  for (CGKeyCode code : {48, 18, 19}) CGEventPost(kCGHIDEventTap, keyEvent(code));
  desk.settle();

  EXPECT_EQ(later, (std::vector<CGEventFlags>{kCGEventFlagMaskShift, 0}));
  EXPECT_EQ(program, (std::vector<CGKeyCode>{18, 20}));
  ASSERT_EQ(desk.events->consumed().size(), 1u);
  EXPECT_EQ(desk.events->consumed()[0].event.integerFields.at(kCGKeyboardEventKeycode), 48);
  EXPECT_EQ(desk.events->delivered().size(), 2u);
  EXPECT_EQ(desk.events->queued(), 0u);
  EXPECT_EQ(desk.scene.clock.pending(), 0u) << "answered taps leave no time-out waiting";
}

TEST_P(EventTapTest, ListenOnlyTapsSeeButCannotChangeOrConsume) {
  TapDesk desk(GetParam());
  int heard = 0;
  const auto listener = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly, kKeyDownMask,
                                 [&](CGEventTapProxy, CGEventType, CGEventRef e, void*) -> CGEventRef {
                                   ++heard;
                                   CGEventSetFlags(e, kCGEventFlagMaskControl);
                                   return heard == 1 ? nullptr : e;
                                 });
  ASSERT_TRUE(listener);
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  CGEventPost(kCGSessionEventTap, keyEvent(1));
  desk.settle();
  EXPECT_EQ(heard, 2);
  const auto delivered = desk.events->delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].flags, 0u);
  EXPECT_EQ(delivered[1].flags, 0u);
  EXPECT_TRUE(desk.events->consumed().empty());
}

TEST_P(EventTapTest, MasksDisabledTapsAndTapsWithoutRunLoopLetEventsPass) {
  TapDesk desk(GetParam());
  Seen seen;
  const auto keys = desk.recorder(seen, "keys", kKeyDownMask);
  const auto mouse = desk.recorder(seen, "mouse", CGEventMaskBit(kCGEventMouseMoved) | CGEventMaskBit(30));
  // A consuming tap never put on a run loop: its events pass untouched.
  const auto idle = CGEventTapCreate(
      kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kCGEventMaskForAllEvents,
      [](auto...) { return CGEventRef(); }, nullptr);
  ASSERT_TRUE(keys && mouse && idle);

  CGEventPost(kCGHIDEventTap, keyEvent(0));
  CGEventPost(kCGHIDEventTap, flagsEvent(56, kCGEventFlagMaskShift));
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {5, 5}, 0));
  desk.settle();
  EXPECT_EQ(seen, (Seen{"keys", "mouse"}));

  CGEventTapEnable(keys, false);
  EXPECT_FALSE(CGEventTapIsEnabled(keys));
  CGEventPost(kCGHIDEventTap, keyEvent(0));
  desk.settle();
  EXPECT_EQ(seen.size(), 2u);
  CGEventTapEnable(keys, true);
  CFMachPortInvalidate(mouse);
  EXPECT_FALSE(CFMachPortIsValid(mouse));
  CGEventPost(kCGHIDEventTap, keyEvent(0));
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {6, 6}, 0));
  desk.settle();
  EXPECT_EQ(seen, (Seen{"keys", "mouse", "keys"}));
  EXPECT_EQ(desk.events->delivered().size(), 6u);
  EXPECT_EQ(desk.events->taps().size(), 2u) << "the invalidated tap is gone";
}

// ---- Time-outs, user input, permissions -----------------------------------------------------

TEST_P(EventTapTest, ATapAnsweringTooLateIsDisabledToldAndPassedBy) {
  TapDesk desk(GetParam());
  std::vector<CGEventType> types;
  CFMachPortRef port;
  double work = 1.5;  // seconds the callback takes for a key
  port = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                  [&](CGEventTapProxy, CGEventType type, CGEventRef, void*) -> CGEventRef {
                    types.push_back(type);
                    if (type == kCGEventTapDisabledByTimeout) {
                      CGEventTapEnable(port, true);
                    } else {
                      desk.scene.clock.elapse(work);
                    }
                    return nullptr;  // would consume every key
                  });
  ASSERT_TRUE(port);
  EXPECT_DOUBLE_EQ(desk.events->tapTimeout(), 1.0);
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  desk.settle();
  EXPECT_EQ(types, (std::vector<CGEventType>{kCGEventKeyDown, kCGEventTapDisabledByTimeout}));
  EXPECT_EQ(desk.events->delivered().size(), 1u) << "the late answer does not consume";
  EXPECT_EQ(desk.events->taps()[0].timeouts, 1);
  EXPECT_TRUE(CGEventTapIsEnabled(port)) << "the callback turned it on again";

  work = 0.99;
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  desk.settle();
  EXPECT_EQ(desk.events->delivered().size(), 1u) << "an answer within the limit counts";
  EXPECT_EQ(desk.events->consumed().size(), 1u);
}

TEST_P(EventTapTest, ATapWhoseThreadDoesNotRunInTimeIsDisabledAndTheEventGoesOn) {
  TapDesk desk(GetParam());
  desk.events->setTapTimeout(0.25);
  std::vector<CGEventType> types;
  const auto port = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                             [&](CGEventTapProxy, CGEventType type, CGEventRef, void*) -> CGEventRef {
                               types.push_back(type);
                               return nullptr;
                             });
  ASSERT_TRUE(port);
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  CGEventPost(kCGSessionEventTap, keyEvent(1));
  // Only the server's queue runs: the tap thread is stuck.
  while (desk.scene.clock.step(sim::EventServer::kQueueLabel)) {
  }
  EXPECT_TRUE(desk.events->delivered().empty()) << "the tap holds the first key";
  desk.scene.clock.elapse(0.3);
  while (desk.scene.clock.step(sim::EventServer::kQueueLabel)) {
  }
  EXPECT_EQ(desk.events->delivered().size(), 2u) << "both keys pass the disabled tap";
  EXPECT_FALSE(CGEventTapIsEnabled(port));
  desk.settle();
  EXPECT_EQ(types, (std::vector<CGEventType>{kCGEventKeyDown, kCGEventTapDisabledByTimeout}));
  EXPECT_TRUE(desk.events->consumed().empty());
}

TEST_P(EventTapTest, RemovingOrDisablingAHoldingTapReleasesItsEvent) {
  TapDesk desk(GetParam());
  int calls = 0;
  auto port = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                       [&](CGEventTapProxy, CGEventType type, CGEventRef e, void*) -> CGEventRef {
                         if (type == kCGEventKeyDown) ++calls;
                         return e;
                       });
  std::vector<CGEventType> notices;
  const auto other = desk.tap(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                              [&](CGEventTapProxy, CGEventType type, CGEventRef e, void*) {
                                if (type != kCGEventKeyDown) notices.push_back(type);
                                return e;
                              });
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  EXPECT_TRUE(desk.scene.clock.step(sim::EventServer::kQueueLabel));
  CFMachPortInvalidate(port);
  desk.settle();
  EXPECT_EQ(calls, 0) << "the callback of a removed tap is never run";
  EXPECT_EQ(desk.events->delivered().size(), 1u);

  desk.events->disableTapsByUserInput();
  desk.settle();
  EXPECT_EQ(notices, (std::vector<CGEventType>{kCGEventTapDisabledByUserInput}));
  EXPECT_FALSE(CGEventTapIsEnabled(other));
}

TEST_P(EventTapTest, PermissionsDecideWhichTapsMayBeMadeAndHeard) {
  TapDesk desk(GetParam());
  desk.scene.world.setAccessibilityTrusted(false);
  Seen seen;
  EXPECT_FALSE(desk.recorder(seen, "active", kKeyDownMask));
  EXPECT_FALSE(desk.recorder(seen, "listen", kKeyDownMask, kCGSessionEventTap, kCGTailAppendEventTap,
                             kCGEventTapOptionListenOnly));
  EXPECT_FALSE(CGEventTapCreate(
      kCGSessionEventTap, kCGHeadInsertEventTap, 7, kKeyDownMask, [](auto, auto, CGEventRef e, auto) { return e; },
      nullptr));
  desk.events->setInputMonitoringAllowed(true);
  EXPECT_TRUE(CGPreflightListenEventAccess());
  EXPECT_FALSE(CGPreflightPostEventAccess());
  const auto listen = desk.recorder(seen, "listen", kKeyDownMask, kCGSessionEventTap, kCGTailAppendEventTap,
                                    kCGEventTapOptionListenOnly);
  ASSERT_TRUE(listen);

  desk.scene.world.setAccessibilityTrusted(true);
  const auto active = desk.recorder(seen, "active", kKeyDownMask);
  ASSERT_TRUE(active);
  // Trust taken away while a key is on its way: the active tap no longer hears it, the listener does.
  CGEventPost(kCGSessionEventTap, keyEvent(0));
  desk.scene.world.setAccessibilityTrusted(false);
  desk.settle();
  EXPECT_EQ(seen, (Seen{"listen"}));
  EXPECT_EQ(desk.events->delivered().size(), 1u);
}

// ---- What a tap reads -------------------------------------------------------------------------

TEST_P(EventTapTest, EveryFieldThePosterSetReachesTheTap) {
  TapDesk desk(GetParam());
  std::vector<CGEventRef> seen;
  const auto port = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             kCGEventMaskForAllEvents, [&](CGEventTapProxy, CGEventType, CGEventRef e, void*) {
                               seen.push_back(CGEventCreateCopy(e));
                               return e;
                             });
  ASSERT_TRUE(port);
  desk.scene.clock.advance(3);
  const auto scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, -25, 7);
  CGEventSetIntegerValueField(scroll, kCGScrollWheelEventScrollPhase, 1);
  CGEventSetIntegerValueField(scroll, kCGScrollWheelEventMomentumPhase, 3);
  CGEventSetLocation(scroll, {1200.5, -40});
  CGEventSetFlags(scroll, kCGEventFlagMaskCommand);
  const auto click = CGEventCreateMouseEvent(nullptr, kCGEventOtherMouseDown, {10, 20}, kCGMouseButtonCenter);
  CGEventSetIntegerValueField(click, kCGMouseEventClickState, 2);
  const auto repeat = keyEvent(48, kCGEventFlagMaskCommand | kCGEventFlagMaskShift);
  CGEventSetIntegerValueField(repeat, kCGKeyboardEventAutorepeat, 1);
  CGEventSetTimestamp(repeat, 123'456'789);
  for (const auto& e : {scroll, click, repeat}) CGEventPost(kCGHIDEventTap, e);
  desk.settle();

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(*seen[0], *scroll);
  EXPECT_EQ(CGEventGetIntegerValueField(seen[0], kCGScrollWheelEventDeltaAxis1), -2);
  EXPECT_EQ(CGEventGetIntegerValueField(seen[0], kCGScrollWheelEventDeltaAxis2), 1);
  EXPECT_EQ(CGEventGetDoubleValueField(seen[0], kCGScrollWheelEventPointDeltaAxis1), -25.0);
  EXPECT_EQ(CGEventGetDoubleValueField(seen[0], kCGScrollWheelEventFixedPtDeltaAxis1), -2.5);
  EXPECT_EQ(CGEventGetIntegerValueField(seen[0], kCGScrollWheelEventIsContinuous), 1);
  EXPECT_EQ(CGEventGetTimestamp(seen[0]), 4'000'000'000u) << "stamped when made, in nanoseconds";
  EXPECT_EQ(CGEventGetIntegerValueField(seen[1], kCGMouseEventButtonNumber), kCGMouseButtonCenter);
  EXPECT_EQ(CGEventGetIntegerValueField(seen[1], kCGMouseEventClickState), 2);
  EXPECT_EQ(CGEventGetIntegerValueField(seen[2], kCGKeyboardEventAutorepeat), 1);
  EXPECT_EQ(CGEventGetFlags(seen[2]), kCGEventFlagMaskCommand | kCGEventFlagMaskShift);
  EXPECT_EQ(CGEventGetTimestamp(seen[2]), 123'456'789u);
  EXPECT_EQ(textOf(seen[2]), u"\x19");
}

TEST_P(EventTapTest, KeysTypeTheTextOfTheLayoutAndModifiers) {
  TapDesk desk(GetParam());
  std::vector<std::u16string> typed;
  const auto port = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                             [&](CGEventTapProxy, CGEventType, CGEventRef e, void*) {
                               typed.push_back(textOf(e));
                               return e;
                             });
  ASSERT_TRUE(port);
  auto type = [&](std::vector<CGEventRef> keys) {
    typed.clear();
    for (const auto& k : keys) CGEventPost(kCGHIDEventTap, k);
    desk.settle();
    return typed;
  };
  using Texts = std::vector<std::u16string>;
  constexpr auto kCmd = kCGEventFlagMaskCommand, kOpt = kCGEventFlagMaskAlternate;
  EXPECT_EQ(type({keyEvent(0), keyEvent(0, kCGEventFlagMaskShift), keyEvent(0, kCGEventFlagMaskAlphaShift),
                  keyEvent(18, kCGEventFlagMaskAlphaShift), keyEvent(8, kCGEventFlagMaskControl | kCmd)}),
            (Texts{u"a", u"A", u"A", u"1", u"\x03"}));
  // Option letters, with ⌘ too, and a dead key composing with the next key.
  EXPECT_EQ(type({keyEvent(31, kOpt), keyEvent(31, kOpt | kCmd | kCGEventFlagMaskShift), keyEvent(14, kOpt),
                  keyEvent(14), keyEvent(32, kOpt), keyEvent(7), keyEvent(45, kOpt), keyEvent(45, kOpt)}),
            (Texts{u"ø", u"Ø", u"", u"é", u"", u"¨x", u"", u"˜"}));
  // A text the poster chose is kept.
  const auto own = keyEvent(0);
  const std::u16string omega = u"Ω";
  CGEventKeyboardSetUnicodeString(own, omega.size(), omega.data());
  EXPECT_EQ(type({own}), (Texts{u"Ω"}));

  EXPECT_FALSE(desk.events->setKeyboardLayout("Klingon"));
  EXPECT_EQ(desk.events->keyboardLayout(), "U.S.");
  ASSERT_TRUE(desk.events->setKeyboardLayout("German"));
  EXPECT_EQ(type({keyEvent(6), keyEvent(16, kCmd), keyEvent(41, kCGEventFlagMaskShift), keyEvent(24), keyEvent(14)}),
            (Texts{u"y", u"z", u"Ö", u"", u"é"}));
  ASSERT_TRUE(desk.events->setKeyboardLayout("Arabic"));
  EXPECT_EQ(type({keyEvent(20, kCmd), keyEvent(12), keyEvent(11)}), (Texts{u"٣", u"ض", u"لا"}));
  ASSERT_TRUE(desk.events->setKeyboardLayout("Greek"));
  EXPECT_EQ(type({keyEvent(0), keyEvent(0, kCGEventFlagMaskShift), keyEvent(13, kCGEventFlagMaskShift),
                  keyEvent(8, kCGEventFlagMaskControl)}),
            (Texts{u"α", u"Α", u"Σ", u"\x03"}));
}

// ---- What the system does with what passed ---------------------------------------------------

TEST_P(EventTapTest, PointerAndModifiersFollowEventsThatReachTheSession) {
  TapDesk desk(GetParam());
  const auto eatMoves = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                                 CGEventMaskBit(kCGEventMouseMoved) | CGEventMaskBit(kCGEventFlagsChanged),
                                 [](auto, auto, CGEventRef, auto) { return CGEventRef(); });
  ASSERT_TRUE(eatMoves);
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {640, 300}, 0));
  CGEventPost(kCGHIDEventTap, flagsEvent(55, kCGEventFlagMaskCommand | kCGEventFlagMaskNonCoalesced));
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventRightMouseDown, {641, 301}, 1));
  desk.settle();
  EXPECT_EQ(desk.server.pointerLocation(), (CGPoint{641, 301})) << "consumed in the session, yet the pointer moved";
  EXPECT_EQ(desk.events->modifierFlags(), kCGEventFlagMaskCommand);
  EXPECT_EQ(desk.events->pressedButtons(), 1u << kCGMouseButtonRight);
  EXPECT_EQ(desk.events->delivered().size(), 1u);

  // Eaten at the HID point, the move never happens.
  const auto hid =
      desk.tap(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, CGEventMaskBit(kCGEventMouseMoved),
               [](auto, auto, CGEventRef, auto) { return CGEventRef(); });
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {10, 10}, 0));
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventRightMouseUp, {641, 301}, 1));
  desk.settle();
  EXPECT_EQ(desk.server.pointerLocation(), (CGPoint{641, 301}));
  EXPECT_EQ(desk.events->pressedButtons(), 0u);
}

TEST_P(EventTapTest, ClicksActivateOtherAppsAndDragsStayWithTheProgramsWindow) {
  TapDesk desk(GetParam());
  const auto pid = desk.addApp("Jotter");
  const auto theirs = desk.addWindow(pid, "Jotter", ServedDesk::kLeft, CGRect(600, 100, 400, 300));
  sim::Window panel;
  panel.pid = desk.server.ownProcessIdentifier();
  panel.layer = 101;
  panel.bounds = CGRect(100, 100, 200, 200);
  panel.own = true;
  const auto own = desk.server.addWindow(panel);
  const auto other = desk.addApp("Lister");
  desk.server.makeFrontmost(other);
  std::vector<std::pair<CGEventType, std::uint32_t>> program;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t n) { program.push_back({e.type, n}); });

  auto post = [&](CGEventType type, CGPoint at) {
    CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, type, at, kCGMouseButtonLeft));
  };
  post(kCGEventLeftMouseDown, {150, 150});
  post(kCGEventLeftMouseDragged, {700, 200});  // over the other app's window
  post(kCGEventLeftMouseUp, {700, 200});
  desk.settle();
  using Got = std::vector<std::pair<CGEventType, std::uint32_t>>;
  EXPECT_EQ(program, (Got{{kCGEventLeftMouseDown, own}, {kCGEventLeftMouseDragged, own}, {kCGEventLeftMouseUp, own}}));
  EXPECT_EQ(desk.server.frontmost(), other) << "panels do not activate the program";

  const auto eat =
      desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
               CGEventMaskBit(kCGEventLeftMouseDown), [](auto, auto, CGEventRef, auto) { return CGEventRef(); });
  post(kCGEventLeftMouseDown, {700, 200});
  desk.settle();
  EXPECT_EQ(desk.server.frontmost(), other) << "a consumed click does nothing";
  CFMachPortInvalidate(eat);
  post(kCGEventLeftMouseDown, {700, 200});
  post(kCGEventLeftMouseDragged, {160, 160});
  desk.settle();
  EXPECT_EQ(desk.server.frontmost(), pid);
  EXPECT_EQ(desk.server.windowsOf(pid).front().number, theirs);
  EXPECT_EQ(program.size(), 3u) << "a drag that began elsewhere is not the program's";
}

}  // namespace
