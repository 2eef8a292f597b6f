// Mouse buttons at the tap: a click outside the switcher ends the session and nothing
// beneath sees the press, its drags or its release; clicks on the switcher's areas pass
// or are swallowed as the click targets say. Keys posted through the simulated Mac
// reach the tap the way the keyboard delivers them.

#include <algorithm>
#include <vector>

#include "SwitcherTapStage.h"
#include "platform/sim/WindowServer.h"

namespace trelliq::tap {
namespace {

constexpr std::uint32_t kDraft = 2101;

class MouseTest : public TapStage {
 public:
  sim::EventServer& events() { return *sim::EventServer::active(); }
  void startTap() {
    ASSERT_TRUE(switcher->startTap());
    scene.clock.advance(0.05);
  }
  static void post(const CGEventRef& event) { CGEventPost(kCGHIDEventTap, event); }
  /// ⌘ down and ⇥ pressed through the keyboard.
  void commandTab(bool repeat = false) {
    post(modifiers(kCommand));
    post(key(SwitcherKeys::tab, kCommand, repeat));
    CGEventRef up = CGEventCreateKeyboardEvent(nullptr, SwitcherKeys::tab, false);
    CGEventSetFlags(up, kCommand);
    post(up);
    scene.clock.advance(0.3);
  }
  /// Centre of a window, in window-server coordinates.
  CGPoint centreOf(std::uint32_t window) {
    const CGRect b = scene.windowServer.window(window)->bounds;
    return {b.midX(), b.midY()};
  }
  bool wasDelivered(CGEventType type) {
    const auto all = events().delivered();
    return std::any_of(all.begin(), all.end(), [&](const CGEvent& e) { return e.type == type; });
  }
  int consumedOf(CGEventType type) {
    const auto all = events().consumed();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const auto& c) { return c.event.type == type; }));
  }
};

TEST_F(MouseTest, AClickOutsideCancelsAndSwallowsItsDragsAndRelease) {
  startTap();
  commandTab();
  ASSERT_TRUE(switcher->session().isActive());
  const std::int32_t front = scene.windowServer.frontmost().value_or(0);
  const CGPoint at = centreOf(kDraft);
  events().clearRecords();

  post(mouse(kCGEventLeftMouseDown, at));
  post(mouse(kCGEventLeftMouseDragged, {at.x + 20, at.y + 5}));
  post(mouse(kCGEventLeftMouseDragged, {at.x + 40, at.y + 9}));
  post(mouse(kCGEventLeftMouseUp, {at.x + 40, at.y + 9}));
  scene.clock.advance(0.2);

  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(consumedOf(kCGEventLeftMouseDown), 1);
  EXPECT_EQ(consumedOf(kCGEventLeftMouseDragged), 2);
  EXPECT_EQ(consumedOf(kCGEventLeftMouseUp), 1);
  EXPECT_FALSE(wasDelivered(kCGEventLeftMouseDown));
  EXPECT_FALSE(wasDelivered(kCGEventLeftMouseUp));
  EXPECT_EQ(scene.windowServer.frontmost().value_or(0), front) << "the window beneath was not clicked";
  EXPECT_TRUE(switcher->eventTap().swallowedButtonCount() == 0);

  // The next click is the application's again.
  post(mouse(kCGEventLeftMouseDown, at));
  post(mouse(kCGEventLeftMouseUp, at));
  scene.clock.advance(0.2);
  EXPECT_TRUE(wasDelivered(kCGEventLeftMouseDown));
  EXPECT_TRUE(wasDelivered(kCGEventLeftMouseUp));
}

TEST_F(MouseTest, ClickTargetsDecideInOrderAndKeepTheSessionOpen) {
  openSession(Switcher::Action::cycle(1));
  // Screen coordinates: bottom-left origin; the first screen is 982 points high.
  switcher->gate().setClickTargets({{CGRect(100, 100, 200, 100), false}, {CGRect(0, 0, 800, 800), true}});
  const CGPoint swallowed{150, 982 - 150};  // window-server point inside the first target
  const CGPoint passes{500, 982 - 500};
  EXPECT_TRUE(consumes(kCGEventLeftMouseDown, mouse(kCGEventLeftMouseDown, swallowed)));
  EXPECT_FALSE(consumes(kCGEventLeftMouseUp, mouse(kCGEventLeftMouseUp, swallowed)))
      << "only presses that ended a session take their release along";
  EXPECT_FALSE(consumes(kCGEventLeftMouseDown, mouse(kCGEventLeftMouseDown, passes)));
  settle();
  EXPECT_TRUE(switcher->gate().isOpen());
  EXPECT_TRUE(switcher->session().isActive());

  EXPECT_TRUE(consumes(kCGEventOtherMouseDown, mouse(kCGEventOtherMouseDown, {1000, 900}, kCGMouseButtonCenter)));
  EXPECT_FALSE(switcher->gate().isOpen()) << "outside every target";
  EXPECT_TRUE(consumes(kCGEventOtherMouseUp, mouse(kCGEventOtherMouseUp, {1000, 900}, kCGMouseButtonCenter)));
  EXPECT_FALSE(consumes(kCGEventOtherMouseUp, mouse(kCGEventOtherMouseUp, {1000, 900}, kCGMouseButtonCenter)));
}

TEST_F(MouseTest, ARightClickAnywhereCommitsAStaysOpenSession) {
  openSession(Switcher::Action::cycle(1), kCommand, true);
  switcher->gate().setClickTargets({{CGRect(0, 0, 5000, 5000), true}});
  EXPECT_TRUE(consumes(kCGEventRightMouseDown, mouse(kCGEventRightMouseDown, {300, 300}, kCGMouseButtonRight)));
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_TRUE(consumes(kCGEventRightMouseDragged, mouse(kCGEventRightMouseDragged, {310, 300}, kCGMouseButtonRight)));
  EXPECT_TRUE(consumes(kCGEventRightMouseUp, mouse(kCGEventRightMouseUp, {310, 300}, kCGMouseButtonRight)));
  settle();
  EXPECT_FALSE(switcher->session().isActive());
}

TEST_F(MouseTest, ClicksWhileClosedPass) {
  for (CGEventType type : {kCGEventLeftMouseDown, kCGEventLeftMouseUp, kCGEventRightMouseDown, kCGEventOtherMouseDown,
                           kCGEventLeftMouseDragged}) {
    EXPECT_FALSE(consumes(type, mouse(type, {200, 200}))) << "type " << type;
  }
  settle();
  EXPECT_FALSE(switcher->gate().isOpen());
}

TEST_F(MouseTest, TypedLettersOfOtherScriptsAreTheSwitchersKeys) {
  startTap();
  ASSERT_TRUE(sim::EventServer::active()->setKeyboardLayout("Arabic"));
  commandTab();
  ASSERT_TRUE(switcher->session().isActive());
  ASSERT_FALSE(selectTileOf(301).empty());
  // The "2" key of this layout types an Arabic-Indic two.
  post(key(k2, kCommand));
  scene.clock.advance(0.05);
  EXPECT_EQ(pick(), std::optional<int>(1));
  EXPECT_EQ(consumedOf(kCGEventKeyDown), 2);
}

}  // namespace
}  // namespace trelliq::tap
