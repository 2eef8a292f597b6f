// The panel of the self-test modes that check how windows look, beside the keyable panel
// it stands in for: who may become key, and which appearance each draws with.

#include <gtest/gtest.h>

#include "workspace/KeyablePanel.h"
#include "platform/AppKitWindows.h"
#include "selftest/ActiveTestPanel.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

const CGRect kRect(100, 100, 400, 300);
constexpr auto kBuffered = NSBackingStoreType::buffered;
constexpr NSWindowStyleMask kBorderless = NSWindowStyleMaskNonactivatingPanel;

class PanelWindows : public ::testing::Test {
 protected:
  Scene scene_{Scene::Start::defaultScenario};
};

TEST_F(PanelWindows, KeyableAndActiveTestPanels) {
  NSPanel plain(kRect, kBorderless, kBuffered, false);
  KeyablePanel keyable(kRect, kBorderless, kBuffered, false);
  ActiveTestPanel active(kRect, kBorderless, kBuffered, false);
  EXPECT_FALSE(plain.canBecomeKeyWindow());
  keyable.orderFrontRegardless();
  keyable.makeKeyWindow();
  EXPECT_TRUE(keyable.isKeyWindow());

  active.orderFrontRegardless();
  active.makeKeyWindow();
  EXPECT_FALSE(active.isKeyWindow());
  EXPECT_TRUE(active._hasActiveAppearance() && active._hasActiveAppearanceIgnoringKeyFocus() &&
              active._hasKeyAppearance());
  EXPECT_FALSE(plain._hasKeyAppearance());
}

}  // namespace
}  // namespace trelliq
