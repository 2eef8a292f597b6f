#include <gtest/gtest.h>

#include <vector>

#include "TapDesk.h"
#include "platform/sim/UserInput.h"

namespace {

using sim::UserInput;

TEST(UserInputTest, ModifiersCarryEveryKeyHeldAndBothSides) {
  TapDesk desk;
  UserInput user(*desk.events);
  user.modifierDown(UserInput::kCommand);
  user.modifierDown(UserInput::kRightCommand);
  user.modifierDown(UserInput::kOption);
  user.modifierUp(UserInput::kCommand);
  user.keyDown(124);
  user.keyDown(124, true);
  user.modifierUp(UserInput::kRightCommand);
  user.modifierUp(UserInput::kOption);
  user.modifierUp(UserInput::kOption);  // not held: nothing
  user.modifierDown(UserInput::kCapsLock);
  user.keyDown(0);
  desk.settle();

  const auto got = desk.events->delivered();
  ASSERT_EQ(got.size(), 10u);
  constexpr auto kCmd = kCGEventFlagMaskCommand, kOpt = kCGEventFlagMaskAlternate, kNC = kCGEventFlagMaskNonCoalesced;
  EXPECT_EQ(got[0].flags, kCmd | UserInput::kLeftCommandBit | kNC);
  EXPECT_EQ(got[1].flags, kCmd | UserInput::kLeftCommandBit | UserInput::kRightCommandBit | kNC);
  EXPECT_EQ(got[3].flags, kCmd | kOpt | UserInput::kRightCommandBit | UserInput::kLeftOptionBit | kNC)
      << "⌘ stays down while the right one is held";
  EXPECT_EQ(got[3].integerFields.at(kCGKeyboardEventKeycode), UserInput::kCommand);
  EXPECT_EQ(got[4].flags & (kCGEventFlagMaskNumericPad | kCGEventFlagMaskSecondaryFn),
            kCGEventFlagMaskNumericPad | kCGEventFlagMaskSecondaryFn);
  EXPECT_EQ(got[4].integerFields.count(kCGKeyboardEventAutorepeat), 0u);
  EXPECT_EQ(got[5].integerFields.at(kCGKeyboardEventAutorepeat), 1);
  EXPECT_EQ(got[7].flags, kNC);
  EXPECT_EQ(got[8].flags, kCGEventFlagMaskAlphaShift | kNC);
  EXPECT_EQ(got[9].unicode, u"A");
  EXPECT_EQ(desk.events->modifierFlags(), kCGEventFlagMaskAlphaShift);
}

TEST(UserInputTest, TheUsersInputNeedsNoPermissionButTapsDo) {
  TapDesk desk;
  int heard = 0;
  const auto tap = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                            [&](auto, auto, CGEventRef e, auto) {
                              ++heard;
                              return e;
                            });
  ASSERT_TRUE(tap);
  desk.server.makeFrontmost(desk.server.ownProcessIdentifier());
  std::vector<CGEventType> program;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t) { program.push_back(e.type); });
  desk.scene.world.setAccessibilityTrusted(false);
  UserInput user(*desk.events);
  user.press(0);
  desk.settle();
  EXPECT_EQ(heard, 0);
  EXPECT_EQ(program, (std::vector<CGEventType>{kCGEventKeyDown, kCGEventKeyUp}));
  EXPECT_TRUE(desk.events->posted().empty());
}

TEST(UserInputTest, MouseAndTrackpadEventsCarryTheirFields) {
  TapDesk desk;
  UserInput user(*desk.events);
  user.moveTo({100, 100});
  user.mouseDown(kCGMouseButtonRight, 2);
  user.moveTo({130, 90});
  user.mouseUp(kCGMouseButtonRight);
  user.scroll(-25, 4, 1);
  user.wheel(0, -1);
  desk.settle();
  const auto got = desk.events->delivered();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[1].type, kCGEventRightMouseDown);
  EXPECT_EQ(got[1].integerFields.at(kCGMouseEventClickState), 2);
  EXPECT_EQ(got[2].type, kCGEventRightMouseDragged);
  EXPECT_EQ(got[2].integerFields.at(kCGMouseEventDeltaX), 30);
  EXPECT_EQ(got[2].integerFields.at(kCGMouseEventDeltaY), -10);
  EXPECT_EQ(got[3].type, kCGEventRightMouseUp);
  const auto scroll = std::make_shared<CGEvent>(got[4]);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventIsContinuous), 1);
  EXPECT_EQ(CGEventGetDoubleValueField(scroll, kCGScrollWheelEventPointDeltaAxis1), -25.0);
  EXPECT_EQ(CGEventGetDoubleValueField(scroll, kCGScrollWheelEventPointDeltaAxis2), 4.0);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis1), -2);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis2), 1);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventScrollPhase), 1);
  const auto wheel = std::make_shared<CGEvent>(got[5]);
  EXPECT_EQ(CGEventGetIntegerValueField(wheel, kCGScrollWheelEventIsContinuous), 0);
  EXPECT_EQ(CGEventGetIntegerValueField(wheel, kCGScrollWheelEventDeltaAxis2), -1);
  EXPECT_EQ(desk.server.pointerLocation(), (CGPoint{130, 90}));
}

}  // namespace
