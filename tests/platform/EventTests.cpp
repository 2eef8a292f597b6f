#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ServedDesk.h"
#include "platform/CGEvent.h"

namespace {

using Desk = ServedDesk;

// ---- Making and reading events ------------------------------------------------------------

TEST(EventValueTest, NewEventsStandAtThePointerAndAreStampedNow) {
  Desk desk;
  EXPECT_EQ(CGWarpMouseCursorPosition({300, 200}), kCGErrorSuccess);
  EXPECT_EQ(CGWarpMouseCursorPosition({std::nan(""), 1}), kCGErrorIllegalArgument);
  desk.scene.clock.advance(2.5);
  EXPECT_TRUE(desk.events->delivered().empty()) << "warping makes no event";
  const auto event = CGEventCreate(nullptr);
  ASSERT_TRUE(event);
  EXPECT_EQ(CGEventGetType(event), kCGEventNull);
  EXPECT_EQ(CGEventGetLocation(event), (CGPoint{300, 200}));
  EXPECT_EQ(CGEventGetTimestamp(event), desk.scene.clock.monotonicNanos());
  EXPECT_EQ(mach_absolute_time(), desk.scene.clock.monotonicNanos());

  const auto key = CGEventCreateKeyboardEvent(nullptr, 0, true);
  EXPECT_EQ(CGEventGetType(key), kCGEventKeyDown);
  EXPECT_EQ(CGEventGetIntegerValueField(key, kCGKeyboardEventKeycode), 0);
  UniChar text[4] = {};
  UniCharCount length = 0;
  CGEventKeyboardGetUnicodeString(key, 4, &length, text);
  EXPECT_EQ(std::u16string(text, length), u"a");
  EXPECT_EQ(CGEventGetType(CGEventCreateKeyboardEvent(nullptr, 48, false)), kCGEventKeyUp);
  CGEventKeyboardGetUnicodeString(CGEventCreateKeyboardEvent(nullptr, 48, false), 4, &length, text);
  EXPECT_EQ(std::u16string(text, length), u"\t");
  CGEventKeyboardGetUnicodeString(CGEventCreateKeyboardEvent(nullptr, 56, true), 4, &length, text);
  EXPECT_EQ(length, 0u) << "shift types nothing";

  const auto click = CGEventCreateMouseEvent(nullptr, kCGEventRightMouseDown, {5, 6}, kCGMouseButtonRight);
  EXPECT_EQ(CGEventGetLocation(click), (CGPoint{5, 6}));
  EXPECT_EQ(CGEventGetIntegerValueField(click, kCGMouseEventButtonNumber), kCGMouseButtonRight);
}

TEST(EventValueTest, IntegerAndDoubleFieldsShareOneSlot) {
  Desk desk;
  const auto e = CGEventCreate(nullptr);
  EXPECT_EQ(CGEventGetIntegerValueField(e, 124), 0);
  CGEventSetDoubleValueField(e, 124, -2.7);
  EXPECT_EQ(CGEventGetIntegerValueField(e, 124), -2);
  CGEventSetIntegerValueField(e, 124, 9);
  EXPECT_EQ(CGEventGetDoubleValueField(e, 124), 9.0);
  EXPECT_TRUE(e->doubleFields.empty());
  CGEventSetDoubleValueField(e, 125, 1e30);
  EXPECT_EQ(CGEventGetIntegerValueField(e, 125), std::numeric_limits<std::int64_t>::max());

  // The type is a field too.
  CGEventSetIntegerValueField(e, kCGSEventTypeField, 30);
  EXPECT_EQ(CGEventGetType(e), 30u);
  CGEventSetType(e, kCGEventScrollWheel);
  EXPECT_EQ(CGEventGetIntegerValueField(e, kCGSEventTypeField), kCGEventScrollWheel);

  // Null events answer zero and ignore changes.
  CGEventSetIntegerValueField(nullptr, 1, 1);
  EXPECT_EQ(CGEventGetDoubleValueField(nullptr, 1), 0.0);
}

// ---- The serialised form ------------------------------------------------------------------

TEST(EventDataTest, RoundTripKeepsEverythingIncludingForeignRecords) {
  Desk desk;
  const auto e = CGEventCreate(nullptr);
  CGEventSetType(e, 30);
  CGEventSetFlags(e, kCGEventFlagMaskCommand | kCGEventFlagMaskShift);
  CGEventSetLocation(e, {-120.5, 1e-3});
  CGEventSetIntegerValueField(e, 132, 4);
  CGEventSetIntegerValueField(e, 115, -1);
  CGEventSetDoubleValueField(e, 124, -1.6e-5);
  const std::u16string typed = u"é";
  CGEventKeyboardSetUnicodeString(e, typed.size(), typed.data());
  e->extraRecords.push_back({0x10, 0x6D, platform::PlistData(96, 0xAB)});

  const auto data = CGEventCreateData(kCFAllocatorDefault, e);
  ASSERT_TRUE(data);
  ASSERT_GE(data->size(), 4u);
  EXPECT_EQ(platform::PlistData(data->begin(), data->begin() + 4), (platform::PlistData{0, 0, 0, 2}));
  // The foreign record comes last, with its header.
  const platform::PlistData tail(data->end() - 100, data->end() - 96);
  EXPECT_EQ(tail, (platform::PlistData{0x00, 0x60, 0x10, 0x6D}));

  const auto back = CGEventCreateFromData(kCFAllocatorDefault, *data);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, *e);
  EXPECT_EQ(CGEventCreateData(kCFAllocatorDefault, back), data);
}

TEST(EventDataTest, AppendedRecordsBecomeExtraRecords) {
  Desk desk;
  const auto e = CGEventCreate(nullptr);
  auto data = *CGEventCreateData(kCFAllocatorDefault, e);
  const platform::PlistData payload = {1, 2, 3};
  data.insert(data.end(), {0x00, 0x03, 0x10, 0x6D});
  data.insert(data.end(), payload.begin(), payload.end());
  const auto back = CGEventCreateFromData(kCFAllocatorDefault, data);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->extraRecords.size(), 1u);
  EXPECT_EQ(back->extraRecords[0], (CGEventRecord{0x10, 0x6D, payload}));
  EXPECT_EQ(back->timestamp, e->timestamp);
}

TEST(EventDataTest, MalformedDataGivesNoEvent) {
  Desk desk;
  const auto good = *CGEventCreateData(kCFAllocatorDefault, CGEventCreate(nullptr));
  EXPECT_FALSE(CGEventCreateFromData(kCFAllocatorDefault, {0, 0, 0}));
  auto version = good;
  version[3] = 3;
  EXPECT_FALSE(CGEventCreateFromData(kCFAllocatorDefault, version));
  auto cut = good;
  cut.pop_back();
  EXPECT_FALSE(CGEventCreateFromData(kCFAllocatorDefault, cut));
  auto overlong = good;
  overlong.insert(overlong.end(), {0x00, 0x10, 0x10, 0x6D, 1, 2});
  EXPECT_FALSE(CGEventCreateFromData(kCFAllocatorDefault, overlong));
  // One of the event's own records with a payload of the wrong size.
  auto badType = platform::PlistData{0, 0, 0, 2, 0x00, 0x02, 0x10, 0x01, 0, 30};
  EXPECT_FALSE(CGEventCreateFromData(kCFAllocatorDefault, badType));
  EXPECT_TRUE(CGEventCreateFromData(kCFAllocatorDefault, {0, 0, 0, 2}));
  EXPECT_FALSE(CGEventCreateData(kCFAllocatorDefault, nullptr));
}

// ---- Posting ------------------------------------------------------------------------------

TEST(EventPostTest, PostedEventsArriveLaterInOrderAndMoveThePointer) {
  Desk desk;
  const auto move = CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {700, 450}, kCGMouseButtonLeft);
  const auto key = CGEventCreateKeyboardEvent(nullptr, 56, true);
  CGEventSetType(key, kCGEventFlagsChanged);
  CGEventSetFlags(key, kCGEventFlagMaskShift | kCGEventFlagMaskNonCoalesced);
  CGEventPost(kCGHIDEventTap, move);
  CGEventPost(kCGSessionEventTap, key);

  EXPECT_TRUE(desk.events->delivered().empty());
  EXPECT_NE(desk.server.pointerLocation(), (CGPoint{700, 450}));
  desk.scene.clock.runUntilIdle();
  const auto delivered = desk.events->delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].type, kCGEventMouseMoved);
  EXPECT_EQ(delivered[1].type, kCGEventFlagsChanged);
  EXPECT_EQ(desk.server.pointerLocation(), (CGPoint{700, 450}));
  EXPECT_EQ(desk.events->modifierFlags(), kCGEventFlagMaskShift);
  // A later event made without a location starts where the pointer now is.
  EXPECT_EQ(CGEventGetLocation(CGEventCreate(nullptr)), (CGPoint{700, 450}));
}

TEST(EventPostTest, ZeroTimestampIsStampedWhenPostedAndTheCallerKeepsItsEvent) {
  Desk desk;
  const auto e = CGEventCreate(nullptr);
  CGEventSetTimestamp(e, 0);
  desk.scene.clock.advance(1.0);
  CGEventPost(kCGSessionEventTap, e);
  CGEventSetType(e, kCGEventKeyDown);  // changed after posting: the posted copy keeps its type
  desk.scene.clock.runUntilIdle();
  ASSERT_EQ(desk.events->delivered().size(), 1u);
  EXPECT_EQ(desk.events->delivered()[0].timestamp, desk.scene.clock.monotonicNanos());
  EXPECT_EQ(desk.events->delivered()[0].type, kCGEventNull);
  EXPECT_EQ(CGEventGetTimestamp(e), 0u);
}

TEST(EventPostTest, WithoutPermissionPostedEventsAreDropped) {
  Desk desk;
  desk.scene.world.setAccessibilityTrusted(false);
  EXPECT_FALSE(CGPreflightPostEventAccess());
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {9, 9}, 0));
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(desk.events->delivered().empty());
  ASSERT_EQ(desk.events->posted().size(), 1u);
  EXPECT_TRUE(desk.events->posted()[0].dropped);
  EXPECT_NE(desk.server.pointerLocation(), (CGPoint{9, 9}));
}

TEST(EventPostTest, KeysReachTheProgramWhileFrontmostOrThroughANonactivatingKeyPanel) {
  Desk desk;
  std::vector<CGKeyCode> received;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t) {
    received.push_back(static_cast<CGKeyCode>(e.integerFields.at(kCGKeyboardEventKeycode)));
  });
  const auto type = [&](CGKeyCode key) {
    CGEventPost(kCGSessionEventTap, CGEventCreateKeyboardEvent(nullptr, key, true));
    desk.scene.clock.runUntilIdle();
  };
  const auto other = desk.addApp("Jotter");
  desk.server.makeFrontmost(other);
  type(13);
  EXPECT_TRUE(received.empty());

  // A titled key window of a background program does not take the keyboard.
  platform::OwnWindowState titled;
  titled.frame = CGRect(100, 100, 400, 300);
  titled.styleMask = 1;
  const std::uint32_t window = desk.server.createOwnWindow(titled);
  desk.server.orderOwnWindow(window, platform::OwnWindowOrder::frontRegardless);
  desk.server.setOwnKeyWindow(window);
  type(14);
  EXPECT_TRUE(received.empty());

  // A non-activating panel that is key takes it, and the other app stays in front.
  platform::OwnWindowState panel;
  panel.frame = CGRect(0, 0, 800, 200);
  panel.styleMask = 1 << 7;
  const std::uint32_t number = desk.server.createOwnWindow(panel);
  desk.server.setOwnKeyWindow(number);
  type(15);
  EXPECT_TRUE(received.empty()) << "not ordered in yet";
  desk.server.orderOwnWindow(number, platform::OwnWindowOrder::frontRegardless);
  type(16);
  EXPECT_EQ(received, (std::vector<CGKeyCode>{16}));
  EXPECT_EQ(desk.server.frontmost(), other);
  desk.server.orderOwnWindow(number, platform::OwnWindowOrder::out);
  type(17);
  EXPECT_EQ(received, (std::vector<CGKeyCode>{16}));

  desk.server.makeFrontmost(desk.server.ownProcessIdentifier());
  type(12);
  EXPECT_EQ(received, (std::vector<CGKeyCode>{16, 12}));
}

}  // namespace
