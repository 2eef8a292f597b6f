#include <gtest/gtest.h>

#include "platform/ApplicationServices.h"
#include "platform/CoreGraphics.h"
#include "platform/ServiceManagement.h"
#include "support/Scene.h"

using Status = SMAppService::Status;

TEST(LoginItemTest, RegisteringAndUnregisteringMoveTheStatus) {
  Scene scene;
  const SMAppService service = SMAppService::mainAppService();
  EXPECT_EQ(service.status(), Status::notRegistered);
  EXPECT_EQ(service.registerService(), std::nullopt);
  EXPECT_EQ(service.status(), Status::enabled);
  EXPECT_EQ(service.unregisterService(), std::nullopt);
  EXPECT_EQ(service.status(), Status::notRegistered);

  scene.world.setLoginItemNeedsApproval(true);
  EXPECT_EQ(service.registerService(), std::nullopt);
  EXPECT_EQ(service.status(), Status::requiresApproval);
  EXPECT_EQ(scene.world.callCount("setLoginItem"), 3);
}

TEST(LoginItemTest, FailuresCarryTheirDescriptionAndChangeNothing) {
  Scene scene;
  const SMAppService service = SMAppService::mainAppService();
  scene.world.failLoginItemRegister("Operation not permitted");
  auto error = service.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription, "Operation not permitted");
  EXPECT_EQ(service.status(), Status::notRegistered);

  scene.world.failLoginItemRegister(std::nullopt);
  ASSERT_EQ(service.registerService(), std::nullopt);
  scene.world.failLoginItemUnregister("Item not found");
  EXPECT_EQ(service.unregisterService()->localizedDescription, "Item not found");
  EXPECT_EQ(service.status(), Status::enabled);

  // An application the service cannot find can be neither registered nor unregistered.
  scene.world.failLoginItemUnregister(std::nullopt);
  scene.world.setLoginItemStatus(platform::LoginItemStatus::notFound);
  EXPECT_TRUE(service.registerService());
  EXPECT_TRUE(service.unregisterService());
  EXPECT_EQ(service.status(), Status::notFound);
}

TEST(LoginItemTest, TheLoginItemsPaneOpensInSystemSettingsLikeAnyOtherPane) {
  Scene scene;
  SMAppService::openSystemSettingsLoginItems();
  EXPECT_TRUE(scene.windowServer.openedURLs().empty()) << "nothing opens settings panes yet";

  scene.windowServer.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
  SMAppService::openSystemSettingsLoginItems();
  EXPECT_EQ(scene.windowServer.openedURLs(), std::vector<std::string>{sim::WindowServer::kLoginItemsPane});
}

TEST(PermissionsTest, ScreenCaptureRequestGrantsOnlyForLaterChecks) {
  Scene scene;
  EXPECT_FALSE(CGPreflightScreenCaptureAccess());
  EXPECT_FALSE(CGRequestScreenCaptureAccess());
  EXPECT_FALSE(CGPreflightScreenCaptureAccess());  // the user said nothing

  scene.world.setScreenCaptureGrantedOnRequest(true);
  EXPECT_FALSE(CGRequestScreenCaptureAccess());
  EXPECT_TRUE(CGPreflightScreenCaptureAccess());
  EXPECT_TRUE(CGRequestScreenCaptureAccess());
  EXPECT_EQ(scene.world.callCount("requestScreenCaptureAccess"), 3);

  scene.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(CGPreflightScreenCaptureAccess());
}

TEST(PermissionsTest, AccessibilityPromptIsCountedOnlyWhenItShows) {
  Scene scene;
  EXPECT_FALSE(AXIsProcessTrusted());
  EXPECT_EQ(scene.world.callCount("accessibilityPrompt"), 0);
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(true));
  EXPECT_EQ(scene.world.callCount("accessibilityPrompt"), 1);

  scene.world.setAccessibilityGrantedOnPrompt(true);
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(true));
  EXPECT_TRUE(AXIsProcessTrusted());
  EXPECT_TRUE(AXIsProcessTrustedWithOptions(true));
  EXPECT_EQ(scene.world.callCount("accessibilityPrompt"), 2);

  scene.world.setAccessibilityTrusted(false);
  EXPECT_FALSE(AXIsProcessTrusted());
}
