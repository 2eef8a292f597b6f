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

TEST(Claims, TheSystemsCommandTabComesBackOnlyOnceNoProgramThatTookItRemains) {
  AttachedHost stage;  // looks on, and never takes ⌘⇥
  stage.start();
  auto first = attach(stage.home.socket());
  auto second = attach(stage.home.socket());
  ASSERT_TRUE(first && second);
  auto turn = [](host::RemoteMac& copy, bool on) {
    for (std::uint32_t key : {1u, 2u})
      ASSERT_EQ(copy.connection->call("private.SLSSetSymbolicHotKeyEnabled", {{"key", key}, {"on", on}}), 0);
  };
  turn(*first, false);
  turn(*second, false);
  turn(*second, true);
  EXPECT_TRUE(hotKeysAre(*stage.mac, false)) << "the first copy still holds them";

  turn(*second, false);
  const std::int32_t firstPid = first->windowServer->ownProcessIdentifier();
  second.reset();  // as when it is killed: its connection ends
  ASSERT_TRUE(eventually([&] { return copyBeside(*stage.mac, firstPid) == 0; })) << "the host let the second go";
  EXPECT_TRUE(hotKeysAre(*stage.mac, false)) << "the first copy still holds them";

  first.reset();
  EXPECT_TRUE(eventually([&] { return hotKeysOn(*stage.mac); }));
}
