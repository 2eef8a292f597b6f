// Opening at login: the one-time set-up on a user's first launch, switching it, and
// what a failure leaves behind.

#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "platform/Foundation.h"
#include "settings/Diagnostics.h"
#include "settings/LaunchAtLogin.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::LoginItemStatus;

class LoginItem : public ::testing::Test {
 protected:
  std::string logText() const {
    const auto bytes = platform::FileManager::contents(Diagnostics::url());
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  }
  std::string stamp() { return Diagnostics::stamp(scene_.clock.now()); }
  bool setUpMark() const { return UserDefaults::standard().boolForKey("launchAtLoginSetUp"); }

  Scene scene_;
};

TEST_F(LoginItem, FirstLaunchTurnsItOnAndLaterLaunchesKeepTheUsersChoice) {
  LaunchAtLogin::setUpOnFirstLaunch();
  EXPECT_TRUE(setUpMark());
  EXPECT_EQ(scene_.world.loginItemStatus(), LoginItemStatus::enabled);
  EXPECT_TRUE(LaunchAtLogin::isOn());

  // The user turns it off; the next launch must not turn it back on.
  EXPECT_TRUE(LaunchAtLogin::set(false));
  scene_.restart();
  scene_.world.resetCallCounts();
  LaunchAtLogin::setUpOnFirstLaunch();
  EXPECT_EQ(scene_.world.callCount("setLoginItem"), 0);
  EXPECT_FALSE(LaunchAtLogin::isOn());
  EXPECT_EQ(logText(), "");
}

TEST_F(LoginItem, AFailedFirstSetUpIsLoggedOnceAndNotRetried) {
  scene_.world.failLoginItemRegister("The operation couldn\u2019t be completed.");
  LaunchAtLogin::setUpOnFirstLaunch();
  EXPECT_TRUE(setUpMark());
  EXPECT_FALSE(LaunchAtLogin::isOn());
  EXPECT_EQ(logText(), stamp() + " couldn't turn on opening at login: The operation couldn\u2019t be completed.\n");

  scene_.restart();
  scene_.world.resetCallCounts();
  LaunchAtLogin::setUpOnFirstLaunch();
  EXPECT_EQ(scene_.world.callCount("setLoginItem"), 0);
  EXPECT_FALSE(LaunchAtLogin::isOn());
}

TEST_F(LoginItem, SwitchingReportsTheServicesAnswer) {
  EXPECT_TRUE(LaunchAtLogin::set(true));
  EXPECT_TRUE(LaunchAtLogin::isOn());
  EXPECT_TRUE(LaunchAtLogin::set(false));
  EXPECT_FALSE(LaunchAtLogin::isOn());

  // Turning off what is already off: whatever the service says decides.
  scene_.world.failLoginItemUnregister("Operation not permitted");
  EXPECT_FALSE(LaunchAtLogin::set(false));
  scene_.world.setLoginItemStatus(LoginItemStatus::enabled);
  EXPECT_FALSE(LaunchAtLogin::set(false));
  EXPECT_TRUE(LaunchAtLogin::isOn());
  const std::string line = " couldn't turn off opening at login: Operation not permitted\n";
  EXPECT_EQ(logText(), stamp() + line + stamp() + line);
}

TEST_F(LoginItem, AnErrorDescriptionCannotForgeLogLines) {
  scene_.world.failLoginItemRegister("denied\n00:00:00.000 all good\r");
  EXPECT_FALSE(LaunchAtLogin::set(true));
  EXPECT_EQ(logText(), stamp() + " couldn't turn on opening at login: denied\\n00:00:00.000 all good\\r\n");
}

TEST_F(LoginItem, StatusReadsAsOnWaitingOrOff) {
  struct Row {
    LoginItemStatus status;
    bool on;
    bool waiting;
  };
  for (const Row row :
       {Row{LoginItemStatus::notRegistered, false, false}, Row{LoginItemStatus::enabled, true, false},
        Row{LoginItemStatus::requiresApproval, false, true}, Row{LoginItemStatus::notFound, false, false}}) {
    scene_.world.setLoginItemStatus(row.status);
    EXPECT_EQ(LaunchAtLogin::isOn(), row.on) << static_cast<int>(row.status);
    EXPECT_EQ(LaunchAtLogin::needsApproval(), row.waiting) << static_cast<int>(row.status);
  }

  // A registration the user still has to allow.
  scene_.world.setLoginItemStatus(LoginItemStatus::notRegistered);
  scene_.world.setLoginItemNeedsApproval(true);
  EXPECT_TRUE(LaunchAtLogin::set(true));
  EXPECT_FALSE(LaunchAtLogin::isOn());
  EXPECT_TRUE(LaunchAtLogin::needsApproval());
}

}  // namespace
}  // namespace trelliq
