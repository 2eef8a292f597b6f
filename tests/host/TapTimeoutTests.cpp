// A program whose tap the system times out while it is still starting: the keys that went
// past the disabled tap are lost, as on any Mac, but once the program has enabled its tap
// again a user's next ⌘⇥ opens its panels and letting go switches.

#include <gtest/gtest.h>

#include "HostProcess.h"
#include "platform/CGEvent.h"

TEST(TapTimeouts, AProgramWhoseTapTimesOutAtItsFirstKeyOpensItsPanelsOnceTheTapIsBackAndSwitches) {
  ProgramOnHost stage;
  // The first key the tap is shown times out, and the program's enabling of its tap lands
  // late, as on a loaded machine.
  ASSERT_EQ(stage.start({"--tap-timeouts", "1", "--late-tap-changes", "2"}), "");
  host::RemoteMac& mac = *stage.driver;
  const std::int32_t program = stage.copyOtherThan();
  ASSERT_NE(program, 0);
  const auto before = mac.windowServer->frontmostApplication();
  auto shows = [&] {
    for (const auto& w : mac.windowServer->windowList())
      if (w.ownerPID == program && w.layer == 101 && w.onScreen && w.alpha > 0) return true;
    return false;
  };

  ASSERT_TRUE(holdCommandTab(mac, program, shows)) << "no panels after ⌘⇥; the program's log:\n"
                                                   << fileText(stage.log());
  EXPECT_GT(tapTimeouts(mac, program), 0u) << "the first key timed out";
  mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
  EXPECT_TRUE(eventually([&] { return mac.windowServer->frontmostApplication() != before; }))
      << "letting go of ⌘ switched nothing; the program's log:\n"
      << fileText(stage.log());
  EXPECT_TRUE(eventually([&] { return !shows(); })) << "the panels stay after ⌘ is released";
}
