// A listen-only tap for pointer moves hears every move of the pointer: those events carry
// and those a test or a warp makes without an event, in order.

#include <gtest/gtest.h>

#include <vector>

#include "TapDesk.h"
#include "platform/sim/UserInput.h"

namespace {

TEST(PointerTapTest, HearsPostedMovesHardwareMovesWarpsAndTestMoves) {
  TapDesk desk;
  std::vector<CGPoint> heard;
  const auto listener = desk.tap(
      kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, CGEventMaskBit(kCGEventMouseMoved),
      [&](CGEventTapProxy, CGEventType, CGEventRef e, void*) { return heard.push_back(e->location), e; },
      CFRunLoopGetMain());
  std::vector<std::string> active;
  const auto recorder = desk.recorder(active, "active", CGEventMaskBit(kCGEventMouseMoved));
  sim::UserInput user(*desk.events);

  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {10, 10}, 0));
  user.moveTo({20, 20});
  desk.settle();
  desk.server.setPointer({30, 30});
  CGWarpMouseCursorPosition({40, 40});
  CGWarpMouseCursorPosition({40, 40});  // not a move
  desk.settle();

  EXPECT_EQ(heard, (std::vector<CGPoint>{{10, 10}, {20, 20}, {30, 30}, {40, 40}}));
  EXPECT_EQ(active.size(), 2u) << "an active tap hears only the events";
  EXPECT_EQ(desk.events->delivered().size(), 2u) << "a warp reaches no application";
}

}  // namespace
