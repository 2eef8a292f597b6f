// The switcher's panel window, given key downs the way the application object dispatches
// them: whether it may become key, how it looks, and where the edit keys go.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/AppKitWindows.h"
#include "support/KeyResponder.h"
#include "support/Scene.h"
#include "switcher/SwitcherPanel.h"

namespace trelliq {
namespace {

using test::Field;
using test::focus;
using test::key;

const CGRect kRect(100, 100, 400, 300);
constexpr auto kBuffered = NSBackingStoreType::buffered;
constexpr NSWindowStyleMask kBorderless = NSWindowStyleMaskNonactivatingPanel;

class PanelWindows : public ::testing::Test {
 protected:
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

}  // namespace
}  // namespace trelliq
