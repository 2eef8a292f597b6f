// The program's closable windows, given key downs the way the application object
// dispatches them: ⌘W closes as the close button would, the edit keys go to the focused
// field, and the rest falls through to the standard handling.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ownwindows/ClosableWindow.h"
#include "support/KeyResponder.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using test::Field;
using test::focus;
using test::key;

struct Keeper : NSWindowDelegate {
  bool windowShouldClose(NSWindow&) override { return ++asked, allow; }
  void windowWillClose(NSWindow&) override { ++closed; }
  bool allow = true;
  int asked = 0, closed = 0;
};

const CGRect kRect(100, 100, 400, 300);
constexpr auto kBuffered = NSBackingStoreType::buffered;

class ClosableWindows : public ::testing::Test {
 protected:
  Scene scene_{Scene::Start::defaultScenario};
};

TEST_F(ClosableWindows, CommandWClosesAClosableWindowAsItsCloseButtonWould) {
  ClosableWindow preferences(kRect, NSWindowStyleMaskTitled | NSWindowStyleMaskClosable, kBuffered, false);
  Keeper keeper;
  preferences.setDelegate(&keeper);
  Field field;
  focus(preferences, field);

  EXPECT_FALSE(preferences.performKeyEquivalent(key("w", NSEventModifierFlagShift)));  // ⌘⇧W: not here
  keeper.allow = false;
  EXPECT_TRUE(preferences.performKeyEquivalent(key("w")));  // consumed, though the delegate keeps it
  EXPECT_TRUE(preferences.isVisible());
  keeper.allow = true;
  NSApp().sendEvent(key("w"));
  EXPECT_FALSE(preferences.isVisible());
  EXPECT_EQ(keeper.asked, 2);
  EXPECT_EQ(keeper.closed, 1);
  preferences.makeKeyAndOrderFront(nullptr);  // kept by its owner and shown again
  EXPECT_TRUE(preferences.isVisible());
}

TEST_F(ClosableWindows, AClosableWindowsEditKeysAndWhatFallsThrough) {
  ClosableWindow shortcuts(kRect, NSWindowStyleMaskTitled, kBuffered, false);
  Field field;
  field.accepted = "copy: selectAll:";  // a read-only field: no paste:
  focus(shortcuts, field);

  NSApp().sendEvent(key("a"));
  NSApp().sendEvent(key("c"));
  EXPECT_EQ(field.actions, (std::vector<SEL>{"selectAll:", "copy:"}));
  EXPECT_EQ(field.senders, (std::vector<NSResponder*>{&shortcuts, &shortcuts}));
  EXPECT_TRUE(field.offered.empty());

  // ⌘C with Caps Lock, a ⌘V nobody takes and keys without text: the standard handling.
  EXPECT_FALSE(shortcuts.performKeyEquivalent(key("c", NSEventModifierFlagCapsLock)));
  EXPECT_FALSE(shortcuts.performKeyEquivalent(key("v")));
  field.consumes = "v";
  EXPECT_TRUE(shortcuts.performKeyEquivalent(key("v")));
  EXPECT_FALSE(shortcuts.performKeyEquivalent(
      NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand, "", "a", false, 0)));
  EXPECT_EQ(field.actions.size(), 2u);
  EXPECT_EQ(field.offered, "cvva");
}

}  // namespace
}  // namespace trelliq
