// The program's own windows as the window server sees them, and the key path through them.

#include <gtest/gtest.h>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/UserInput.h"
#include "support/Scene.h"

namespace {

using platform::PlistArray;

std::optional<platform::PlistDictionary> listed(std::int64_t number) {
  const auto list = *CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, static_cast<CGWindowID>(number));
  if (list.empty()) return std::nullopt;
  return *list[0].asDictionary();
}

/// A text field: takes the editing actions and remembers the keys typed into it.
class Field : public NSResponder {
 public:
  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const SEL& action) const override { return action == "selectAll:" || action == "copy:"; }
  void performAction(const SEL& action, NSResponder*) override { actions.push_back(action); }
  void keyDown(const NSEvent& event) override { typed += event.characters(); }
  std::vector<SEL> actions;
  std::string typed;
};

/// A window that turns ⌘ alone with a letter into an editing action for its first responder.
class EditingWindow : public NSWindow {
 public:
  using NSWindow::NSWindow;
  bool performKeyEquivalent(const NSEvent& event) override {
    if ((event.modifierFlags() & NSEventModifierFlagDeviceIndependentFlagsMask) == NSEventModifierFlagCommand &&
        event.charactersIgnoringModifiers() == "a")
      return NSApp().sendAction("selectAll:", nullptr, this);
    return NSWindow::performKeyEquivalent(event);
  }
};

class KeyPanel : public NSPanel {
 public:
  using NSPanel::NSPanel;
  bool canBecomeKeyWindow() const override { return true; }
};

class OwnWindowTest : public ::testing::Test {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
};

}  // namespace

TEST_F(OwnWindowTest, AWindowGetsItsNumberWhenFirstOrderedInAndKeepsIt) {
  NSWindow window(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  EXPECT_EQ(window.windowNumber(), 0);
  EXPECT_FALSE(window.isVisible());
  window.setTitle("Preferences");
  window.orderFront(nullptr);
  const std::int64_t number = window.windowNumber();
  ASSERT_GT(number, 0);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(NSApp().windowWithWindowNumber(number), &window);

  auto entry = listed(number);
  ASSERT_TRUE(entry);
  EXPECT_EQ(integerEntry(*entry, kCGWindowOwnerPID), server.ownProcessIdentifier());
  EXPECT_EQ(stringEntry(*entry, kCGWindowName), "Preferences");
  CGRect bounds;
  CGRectMakeWithDictionaryRepresentation(*dictionaryEntry(*entry, kCGWindowBounds), &bounds);
  EXPECT_EQ(bounds, CGRect(100, 982 - 428, 400, 328));  // title bar added, flipped at the first screen's top

  window.close();
  EXPECT_FALSE(window.isVisible());
  window.orderFront(nullptr);
  EXPECT_EQ(window.windowNumber(), number);

  window.setLevel(NSPopUpMenuWindowLevel);
  window.setAlphaValue(0.5);
  entry = listed(number);
  EXPECT_EQ(integerEntry(*entry, kCGWindowLayer), 101);
  EXPECT_EQ(doubleEntry(*entry, kCGWindowAlpha), 0.5);
}

TEST_F(OwnWindowTest, DestroyedWindowsLeaveTheServer) {
  std::int64_t number = 0;
  {
    NSWindow window(CGRect(0, 0, 200, 200), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
    window.orderFrontRegardless();
    number = window.windowNumber();
    EXPECT_TRUE(listed(number));
  }
  EXPECT_FALSE(listed(number));
  EXPECT_EQ(NSApp().windowWithWindowNumber(number), nullptr);
}

TEST_F(OwnWindowTest, AWindowOnAllSpacesIsOnEveryCurrentSpace) {
  NSPanel everywhere(CGRect(50, 50, 300, 200), NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered,
                     false);
  everywhere.setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces);
  NSWindow here(CGRect(50, 50, 300, 200), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  everywhere.orderFrontRegardless();
  here.orderFront(nullptr);
  EXPECT_TRUE(everywhere.isOnActiveSpace());
  EXPECT_TRUE(here.isOnActiveSpace());

  server.switchSpace(4, sim::SwitchStyle::instant);
  EXPECT_TRUE(everywhere.isOnActiveSpace());
  EXPECT_FALSE(here.isOnActiveSpace());
  EXPECT_TRUE(here.isVisible());  // still ordered in, on a Space that does not show
  EXPECT_EQ(here.occlusionState() & NSWindowOcclusionStateVisible, 0u);

  // Ordered in again, a window comes to the Space the user looks at.
  here.orderOut(nullptr);
  here.orderFront(nullptr);
  EXPECT_TRUE(here.isOnActiveSpace());
}

TEST_F(OwnWindowTest, OcclusionFollowsWhatLiesInFront) {
  // Inside Quill's "Draft.txt" (300, 90, 900, 700 in window-server points).
  NSWindow window(CGRect(400, 300, 300, 200), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  window.orderFront(nullptr);
  EXPECT_NE(window.occlusionState() & NSWindowOcclusionStateVisible, 0u);
  server.raiseWindow(2101);
  EXPECT_EQ(window.occlusionState() & NSWindowOcclusionStateVisible, 0u);
  server.moveWindow(2101, CGPoint{800, 90});
  EXPECT_NE(window.occlusionState() & NSWindowOcclusionStateVisible, 0u);
}

TEST_F(OwnWindowTest, KeyWindowsAreTheOnesThatMayBecomeKey) {
  NSWindow titled(CGRect(0, 0, 300, 200), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  NSPanel borderless(CGRect(0, 0, 300, 200), NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered, false);
  KeyPanel keyable(CGRect(0, 0, 2, 2), NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered, false);
  int became = 0;
  const auto token = NSNotificationCenter::defaultCenter().addObserver(
      NSWindowDidBecomeKeyNotification, &titled, nullptr, [&](const NSNotification&) { ++became; });

  titled.makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(titled.isKeyWindow());
  EXPECT_EQ(NSApp().keyWindow(), &titled);
  EXPECT_EQ(became, 1);
  titled.makeKeyWindow();
  EXPECT_EQ(became, 1);  // already key: no second notification
  EXPECT_EQ(server.app(server.ownProcessIdentifier())->focusedWindow,
            static_cast<std::uint32_t>(titled.windowNumber()));

  borderless.orderFront(nullptr);
  borderless.makeKeyWindow();
  EXPECT_TRUE(titled.isKeyWindow());
  keyable.orderFrontRegardless();
  keyable.makeKeyWindow();
  EXPECT_TRUE(keyable.isKeyWindow());
  EXPECT_FALSE(titled.isKeyWindow());
  // Panels never become main.
  keyable.makeMainWindow();
  EXPECT_FALSE(keyable.isMainWindow());
  NSNotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(OwnWindowTest, KeyEquivalentsGoThroughTheKeyWindowThenTheFirstResponder) {
  EditingWindow window(CGRect(0, 0, 300, 200), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  Field field;
  field.setNextResponder(&window);
  ASSERT_TRUE(window.makeFirstResponder(&field));
  window.makeKeyAndOrderFront(nullptr);

  NSApp().sendEvent(NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand, "a", "a", false, 0));
  EXPECT_EQ(field.actions, std::vector<SEL>{"selectAll:"});
  // ⌘ with Caps Lock is not "⌘ alone": the window passes it on and the field gets it as a key.
  NSApp().sendEvent(NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand | NSEventModifierFlagCapsLock,
                                      "a", "a", false, 0));
  EXPECT_EQ(field.actions.size(), 1u);
  EXPECT_EQ(field.typed, "a");
  NSApp().sendEvent(NSEvent::keyEvent(NSEventType::keyDown, 0, "x", "x", false, 7));
  EXPECT_EQ(field.typed, "ax");

  // Actions go along the chain from the first responder; nobody takes "paste:".
  EXPECT_TRUE(NSApp().sendAction("copy:", nullptr, nullptr));
  EXPECT_FALSE(NSApp().sendAction("paste:", nullptr, nullptr));
  EXPECT_TRUE(window.makeFirstResponder(nullptr));
  EXPECT_EQ(window.firstResponder(), &window);
  EXPECT_FALSE(NSApp().sendAction("copy:", nullptr, nullptr));
}

TEST_F(OwnWindowTest, EventsTheServerRoutesReachTheKeyWindow) {
  NSWindow window(CGRect(0, 0, 300, 200), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  Field field;
  window.makeFirstResponder(&field);
  window.makeKeyAndOrderFront(nullptr);
  NSApp().finishLaunching();

  CGEvent key;
  key.type = kCGEventKeyDown;
  key.integerFields[kCGKeyboardEventKeycode] = 0;  // "a" on a US layout
  key.unicode = u"A";
  key.flags = kCGEventFlagMaskShift;
  server.deliverToProgram(key, static_cast<std::uint32_t>(window.windowNumber()));
  EXPECT_EQ(field.typed, "");  // delivered on the main queue, not on the caller's thread
  scene.clock.runUntilIdle();
  EXPECT_EQ(field.typed, "A");

  NSApp().setDispatchesEventsAutomatically(false);
  server.deliverToProgram(key, 0);
  scene.clock.runUntilIdle();
  EXPECT_EQ(field.typed, "A");
  auto waiting = NSApp().nextEvent();
  ASSERT_TRUE(waiting);
  EXPECT_EQ(waiting->charactersIgnoringModifiers(), "a");
  EXPECT_EQ(waiting->modifierFlags(), NSEventModifierFlagShift);
  EXPECT_FALSE(NSApp().nextEvent());
  NSApp().setDispatchesEventsAutomatically(true);
}

TEST_F(OwnWindowTest, FullScreenAndMiniaturizingAreTheServersToDo) {
  NSWindow window(CGRect(200, 200, 500, 300), NSWindowStyleMaskTitled | NSWindowStyleMaskResizable,
                  NSBackingStoreType::buffered, false);
  window.orderFront(nullptr);
  window.toggleFullScreen(nullptr);
  EXPECT_EQ(window.styleMask() & NSWindowStyleMaskFullScreen, 0u);
  scene.clock.advance(server.timings().fullScreen + server.timings().slide);
  EXPECT_NE(window.styleMask() & NSWindowStyleMaskFullScreen, 0u);
  EXPECT_EQ(window.frame(), CGRect(0, 0, 1512, 982));
  EXPECT_TRUE(window.isOnActiveSpace());
  window.toggleFullScreen(nullptr);
  scene.clock.advance(server.timings().fullScreen + server.timings().slide);
  EXPECT_EQ(window.styleMask() & NSWindowStyleMaskFullScreen, 0u);
  EXPECT_EQ(window.frame(), CGRect(200, 200, 500, 328));

  window.miniaturize(nullptr);
  scene.clock.advance(server.timings().minimize);
  EXPECT_TRUE(window.isMiniaturized());
  EXPECT_FALSE(window.isVisible());
  window.deminiaturize(nullptr);
  scene.clock.advance(server.timings().minimize);
  EXPECT_FALSE(window.isMiniaturized());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(OwnWindowTest, APanelMovedToAnotherSpaceAndFocusedBringsThatSpace) {
  const NSScreen screen = NSScreen::screens()[0];
  KeyPanel panel(CGRect(screen.frame().width() / 2, screen.frame().height() / 2, 2, 2),
                 NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered, false, &screen);
  panel.orderFrontRegardless();
  const auto number = static_cast<std::uint32_t>(panel.windowNumber());
  auto h = platform::dlopen(kSkyLightPath, 2);
  ASSERT_EQ(platform::symbolAs<SLSMoveWindowsToManagedSpace_t>(h, "SLSMoveWindowsToManagedSpace")(
                sim::WindowServer::kConnectionID, PlistArray{number}, 4),
            0);
  EXPECT_FALSE(panel.isOnActiveSpace());
  panel.makeKeyWindow();
  ProcessSerialNumber psn;
  ASSERT_EQ(platform::symbolAs<GetProcessForPID_t>(platform::dlopen(kApplicationServicesPath, 2), "GetProcessForPID")(
                server.ownProcessIdentifier(), &psn),
            0);
  ASSERT_EQ(
      platform::symbolAs<SLPSSetFrontProcessWithOptions_t>(h, "_SLPSSetFrontProcessWithOptions")(&psn, number, 0x200),
      0);
  scene.clock.advance(1);
  EXPECT_EQ(server.currentSpace(1), 4u);
  EXPECT_TRUE(panel.isOnActiveSpace());
  EXPECT_TRUE(NSApp().isActive());
  // None of the user's windows moved.
  EXPECT_EQ(server.spacesOfWindow(2102), std::vector<std::uint64_t>{4});
  EXPECT_EQ(server.spacesOfWindow(2101), std::vector<std::uint64_t>{1});
}

// The program keeps some windows for its whole life (the guide), with an observer of the
// main queue; a test's world and clock go before them, and the next test's world shows them.
TEST(OwnWindowKeptForLifeTest, AWindowAndItsObserverKeptPastTheirWorldServeTheNextOne) {
  auto kept = std::make_unique<NSWindow>(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled,
                                         NSBackingStoreType::buffered, false);
  int told = 0;
  NSNotificationToken token;
  {
    Scene first;
    token = NSNotificationCenter::defaultCenter().addObserver("kept.note", nullptr, &platform::mainQueue(),
                                                              [&](const NSNotification&) { ++told; });
    kept->orderFront(nullptr);
    ASSERT_TRUE(kept->isVisible());
  }
  Scene second;
  NSWindow stranger(CGRect(0, 0, 50, 50), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  stranger.orderFront(nullptr);  // may take the number the kept window had in the first world
  NSNotificationCenter::defaultCenter().post({"kept.note", nullptr, std::nullopt});
  second.clock.advance(0);
  EXPECT_EQ(told, 1) << "the observer did not hear on the main queue of the world installed now";
  EXPECT_FALSE(kept->isVisible()) << "the kept window answered for a window of the new world";
  kept->orderFront(nullptr);
  EXPECT_TRUE(kept->isVisible());
  EXPECT_NE(kept->windowNumber(), stranger.windowNumber());
  EXPECT_TRUE(listed(kept->windowNumber())) << "the new world does not list the kept window";
  NSNotificationCenter::defaultCenter().removeObserver(token);
}

// A click on a window brings its app forward, whoever's it is: on one of the program's
// ordinary windows the program becomes frontmost with that window key and in front, and
// a click on another app's window then gives that app the front.
TEST_F(OwnWindowTest, AClickOnAWindowMakesItKeyAndActivatesItsApp) {
  NSApp().finishLaunching();
  sim::UserInput hand(*sim::EventServer::active());
  const NSWindowStyleMask titled = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable;
  NSWindow back(CGRect(100, 100, 300, 200), titled, NSBackingStoreType::buffered, false);
  NSWindow front(CGRect(500, 100, 300, 200), titled, NSBackingStoreType::buffered, false);
  back.orderFront(nullptr);
  front.makeKeyAndOrderFront(nullptr);
  ASSERT_EQ(server.frontmost(), 301) << "Quill is in front";
  const double top = NSScreen::screens().front().frame().maxY();
  hand.click(CGPoint{200, top - 200});  // inside `back`
  scene.clock.runUntilIdle();
  EXPECT_EQ(server.frontmost(), server.ownProcessIdentifier());
  EXPECT_TRUE(back.isKeyWindow());
  EXPECT_EQ(server.windowAt(CGPoint{200, top - 200}), back.windowNumber());

  hand.click(CGPoint{1100, 700});  // Quill's Draft.txt, right of both
  scene.clock.runUntilIdle();
  EXPECT_EQ(server.frontmost(), 301);
  EXPECT_FALSE(back._hasKeyAppearance()) << "the program is no longer in front";
}
