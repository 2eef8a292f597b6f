// An option another program writes reaches the running copy's next key: the menu-bar
// program runs as a real process attached to a host, and this test, attached beside it as
// a second program, writes the program's preferences through the host as any other
// program would, then presses keys at the HID level as a user does.

#include <gtest/gtest.h>

#include <algorithm>

#include "HostProcess.h"

namespace {

constexpr CGKeyCode kOptionKey = 0x3A;

/// Whether the program of world pid `pid` shows a display panel now (layer 101, on
/// screen, as large as a display).
bool panelShows(host::RemoteMac& mac, std::int32_t pid) {
  const auto screens = mac.system->screens();
  const auto windows = mac.windowServer->windowList();
  return std::any_of(windows.begin(), windows.end(), [&](const platform::WindowEntry& w) {
    return w.ownerPID == pid && w.layer == 101 && w.onScreen && w.alpha > 0 &&
           std::any_of(screens.begin(), screens.end(), [&](const auto& s) {
             return s.frame.size.width == w.bounds.width() && s.frame.size.height == w.bounds.height();
           });
  });
}

/// Holds ⌥ and presses ⇥ until a panel of `program` shows; a key lost to a tap time-out
/// (a loaded machine) is pressed again once the tap is back. False when none ever shows.
bool holdOptionTab(host::RemoteMac& mac, std::int32_t program) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t lost = tapTimeouts(mac, program);
    auto lostOne = [&] { return tapTimeouts(mac, program) > lost; };
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kOptionKey, kCGEventFlagMaskAlternate));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kTab, kCGEventFlagMaskAlternate));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyUp, kTab, kCGEventFlagMaskAlternate));
    if (eventually([&] { return panelShows(mac, program) || lostOne(); }) && !lostOne()) return true;
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kOptionKey, 0));
    if (!lostOne() || !tapsBack(mac, program)) return false;
  }
  return false;
}

}  // namespace

// ⌥⇥ opens window tiles only in the style that offers both kinds of tiles; the copy
// started in the one of app tiles alone, where ⌥⇥ is no trigger.
TEST(OptionsWrittenElsewhere, TheRunningCopysNextKeysFollowTheTileStyleAnotherProgramWrote) {
  ProgramOnHost stage;
  ASSERT_EQ(stage.start(), "");
  const std::int32_t program = stage.copyOtherThan();
  ASSERT_NE(program, 0) << "the program is no process of the world";
  host::RemoteMac& other = *stage.driver;
  ASSERT_TRUE(other.system->setPreferenceValue(other.system->applicationDomainName(), "tiles",
                                               platform::PlistValue("both")));

  EXPECT_TRUE(holdOptionTab(other, program)) << "its log:\n" << fileText(stage.log());
  other.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kOptionKey, 0));
  EXPECT_TRUE(eventually([&] { return !panelShows(other, program); })) << "letting go of ⌥ closes the panels";
}
