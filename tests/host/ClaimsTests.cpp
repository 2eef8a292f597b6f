// What a program holds in the shared world dies with it, however it ends: killed, the
// menu-bar program gives the system its ⌘⇥ back and its event taps leave the world.

#include <gtest/gtest.h>
#include <signal.h>

#include "HostProcess.h"
#include "platform/CGEvent.h"

namespace {

std::size_t worldTaps(host::RemoteMac& mac) {
  const auto taps = mac.connection->call("eventTaps");
  return taps && taps->is_array() ? taps->size() : 0;
}

}  // namespace

TEST(Claims, AKilledProgramGivesBackTheSystemsCommandTabAndItsTapsLeaveTheWorld) {
  ProgramOnHost stage;
  ASSERT_EQ(stage.start(), "");
  auto& driver = stage.driver;
  ASSERT_TRUE(eventually([&] { return worldTaps(*driver) > 0; })) << "the program put its tap in";

  ::kill(stage.program->pid, SIGKILL);
  stage.program->wait();
  EXPECT_TRUE(eventually([&] { return hotKeysOn(*driver); })) << "⌘⇥ stays off for good";
  EXPECT_TRUE(eventually([&] { return worldTaps(*driver) == 0; })) << worldTaps(*driver) << " taps left";

  // As a user finds it: ⌘⇥ opens the system's own switcher, and letting go switches.
  const auto before = driver->windowServer->frontmostApplication();
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kTab, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
  EXPECT_TRUE(eventually([&] { return driver->windowServer->frontmostApplication() != before; }));
}
