// The window classes of the program's panels and windows, given key downs the way the
// application object dispatches them: who may become key, how they look, where ⌘W and
// the edit keys go, and which keys fall through to the standard handling.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "ownwindows/ClosableWindow.h"
#include "platform/AppKitWindows.h"
#include "support/Scene.h"
#include "switcher/SwitcherPanel.h"

namespace trelliq {
namespace {

/// A text field: records the actions it takes (selectAll: selects its text) and the key
/// equivalents the standard handling offers it, consuming those in `consumes`.
class Field : public NSResponder {
 public:
  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const SEL& a) const override { return accepted.find(a) != std::string::npos; }
  void performAction(const SEL& action, NSResponder* sender) override {
    actions.push_back(action);
    senders.push_back(sender);
    if (action == "selectAll:") selected = text;
  }
  bool performKeyEquivalent(const NSEvent& e) override {
    offered += e.charactersIgnoringModifiers();
    return consumes.find(e.charactersIgnoringModifiers()) != std::string::npos;
  }
  std::string text = "Desktop 3", selected, offered, consumes;
  std::string accepted = "cut: copy: paste: selectAll:";
  std::vector<SEL> actions;
  std::vector<NSResponder*> senders;
};

struct Keeper : NSWindowDelegate {
  bool windowShouldClose(NSWindow&) override { return ++asked, allow; }
  void windowWillClose(NSWindow&) override { ++closed; }
  bool allow = true;
  int asked = 0, closed = 0;
};

NSEvent key(const std::string& k, NSEventModifierFlags extra = 0) {
  const std::string typed = extra & NSEventModifierFlagCapsLock ? std::string(1, std::toupper(k[0])) : k;
  return NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand | extra, typed, k, false, 0);
}

const CGRect kRect(100, 100, 400, 300);
constexpr auto kBuffered = NSBackingStoreType::buffered;
constexpr NSWindowStyleMask kBorderless = NSWindowStyleMaskNonactivatingPanel;

class PanelWindows : public ::testing::Test {
 protected:
  void focus(NSWindow& window, Field& field) {
    field.setNextResponder(&window);
    window.makeKeyAndOrderFront(nullptr);
    ASSERT_TRUE(window.makeFirstResponder(&field));
  }
  Scene scene_{Scene::Start::defaultScenario};
};

TEST_F(PanelWindows, ASwitcherPanelLooksKeyButTakesKeysOnlyWhileRenaming) {
  SwitcherPanel panel(kRect, kBorderless, kBuffered, false);
  panel.orderFrontRegardless();
  panel.makeKeyWindow();
  EXPECT_FALSE(panel.isKeyWindow()) << "would take the keyboard from the front app";
  EXPECT_TRUE(panel._hasActiveAppearance() && panel._hasActiveAppearanceIgnoringKeyFocus() &&
              panel._hasKeyAppearance());

  Field field;
  panel.setTakesKeys(true);
  focus(panel, field);
  EXPECT_TRUE(panel.isKeyWindow());
  NSApp().sendEvent(key("a"));
  NSApp().sendEvent(key("c"));
  NSApp().sendEvent(key("x"));
  NSApp().sendEvent(key("v"));
  EXPECT_EQ(field.actions, (std::vector<SEL>{"selectAll:", "copy:", "cut:", "paste:"}));
  EXPECT_EQ(field.selected, "Desktop 3");
  EXPECT_EQ(field.senders[0], &panel);
  // ⌘W is nothing special here; modifiers besides ⌘ make the keys ordinary ones.
  EXPECT_FALSE(panel.performKeyEquivalent(key("w")));
  EXPECT_TRUE(panel.isVisible());
  for (auto extra : {NSEventModifierFlagShift, NSEventModifierFlagOption, NSEventModifierFlagControl,
                     NSEventModifierFlagCapsLock, NSEventModifierFlagFunction}) {
    EXPECT_FALSE(panel.performKeyEquivalent(key("a", extra)));
  }
  EXPECT_EQ(field.offered, "waaaaa");
  EXPECT_TRUE(panel.performKeyEquivalent(key("a", 0x8))) << "device-dependent bits do not count";

  // Renaming over: ⌘A goes the standard way and selects nothing.
  panel.setTakesKeys(false);
  field.selected.clear();
  EXPECT_FALSE(panel.performKeyEquivalent(key("a")));
  EXPECT_TRUE(field.selected.empty());
  EXPECT_FALSE(panel.canBecomeKeyWindow());
}

TEST_F(PanelWindows, CommandWClosesAClosableWindowAsItsCloseButtonWould) {
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

TEST_F(PanelWindows, AClosableWindowsEditKeysAndWhatFallsThrough) {
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
