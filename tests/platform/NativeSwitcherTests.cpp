#include <gtest/gtest.h>

#include <QImage>
#include <optional>
#include <vector>

#include "TapDesk.h"
#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/World.h"
#include "support/WidgetsApp.h"

namespace {

using sim::DockSwitcher;
using Pids = std::vector<std::int32_t>;

constexpr CGEventFlags kCmd = kCGEventFlagMaskCommand, kShift = kCGEventFlagMaskShift;

// A desk with the Dock and three regular apps, Ash in front, then Birch, then Cedar, and an
// accessory app and the program itself, which the system's switcher leaves out.
struct SwitcherDesk : TapDesk {
  std::int32_t dockPID = 0, ash = 0, birch = 0, cedar = 0;
  DockSwitcher& dock = events->dockSwitcher();

  SwitcherDesk() {
    sim::App dockApp;
    dockApp.name = "Dock";
    dockApp.bundleIdentifier = "com.apple.dock";
    dockApp.policy = platform::ActivationPolicy::prohibited;
    dockPID = server.addApp(dockApp);
    sim::App tray;
    tray.name = "Tray";
    tray.policy = platform::ActivationPolicy::accessory;
    server.makeFrontmost(server.addApp(tray));
    cedar = addApp("Cedar");
    birch = addApp("Birch");
    ash = addApp("Ash");
    for (auto pid : {cedar, birch, ash}) {
      addWindow(pid, "window", kLeft);
      server.makeFrontmost(pid);
    }
  }

  static void setHotKeys(bool on) {
    auto* set = platform::symbolAs<SLSSetSymbolicHotKeyEnabled_t>(platform::dlopen(kSkyLightPath, 2),
                                                                  "SLSSetSymbolicHotKeyEnabled");
    ASSERT_TRUE(set);
    set(DockSwitcher::kNextHotKey, on);
    set(DockSwitcher::kPreviousHotKey, on);
  }

  void press(CGKeyCode key, CGEventFlags flags) {
    CGEventPost(kCGHIDEventTap, keyEvent(key, flags));
    CGEventPost(kCGHIDEventTap, keyEvent(key, flags, false));
    settle();
  }
  void modifiers(CGKeyCode key, CGEventFlags flags) {
    CGEventPost(kCGHIDEventTap, flagsEvent(key, flags));
    settle();
  }

  /// The Dock's windows at the Dock's level that the window list shows on screen.
  std::vector<CGRect> dockLevelWindows() {
    std::vector<CGRect> result;
    for (const auto& w : server.windows()) {
      const auto app = server.app(w.pid);
      if (app && app->bundleIdentifier == "com.apple.dock" && w.layer == CGWindowLevelForKey(kCGDockWindowLevelKey) &&
          server.isOnScreen(w.number)) {
        result.push_back(w.bounds);
      }
    }
    return result;
  }
};

TEST(NativeSwitcherTest, CommandTabOpensStepsAndActivatesOnRelease) {
  SwitcherDesk desk;
  const std::size_t strips = desk.dockLevelWindows().size();
  desk.modifiers(55, kCmd);
  desk.press(48, kCmd);
  auto state = desk.dock.state();
  ASSERT_TRUE(state.open);
  EXPECT_EQ(state.apps, (Pids{desk.ash, desk.birch, desk.cedar}));
  EXPECT_EQ(state.apps[state.choice], desk.birch) << "the most recently used other app";
  ASSERT_EQ(desk.dockLevelWindows().size(), strips + 1);
  const auto window = desk.server.window(state.window);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->bounds.width(), 3 * DockSwitcher::kCellWidth + 2 * DockSwitcher::kMargin);
  EXPECT_EQ(window->bounds.midX(), 720);

  desk.press(48, kCmd);
  desk.press(48, kCmd);
  EXPECT_EQ(desk.dock.state().apps[desk.dock.state().choice], desk.ash) << "stepping wraps round";
  desk.press(50, kCmd);
  EXPECT_EQ(desk.dock.state().apps[desk.dock.state().choice], desk.cedar);
  EXPECT_EQ(desk.server.frontmost(), desk.ash) << "nothing changes while ⌘ is held";

  desk.modifiers(55, 0);
  EXPECT_FALSE(desk.dock.state().open);
  EXPECT_EQ(desk.dockLevelWindows().size(), strips);
  desk.scene.clock.advance(0.5);
  EXPECT_EQ(desk.server.frontmost(), desk.cedar);
  ASSERT_EQ(desk.dock.sessions().size(), 1u);
  EXPECT_EQ(desk.dock.sessions()[0].activated, desk.cedar);
}

TEST(NativeSwitcherTest, ShiftGoesBackwardsAndEscapeClosesWithoutSwitching) {
  SwitcherDesk desk;
  desk.modifiers(55, kCmd);
  desk.modifiers(56, kCmd | kShift);
  desk.press(48, kCmd | kShift);
  EXPECT_EQ(desk.dock.state().apps[desk.dock.state().choice], desk.cedar) << "⌘⇧⇥ starts at the last app";
  desk.press(53, kCmd | kShift);
  EXPECT_FALSE(desk.dock.state().open);
  desk.modifiers(55, 0);
  desk.scene.clock.advance(0.5);
  EXPECT_EQ(desk.server.frontmost(), desk.ash);
  ASSERT_EQ(desk.dock.sessions().size(), 1u);
  EXPECT_FALSE(desk.dock.sessions()[0].activated);
}

TEST(NativeSwitcherTest, KeysWhileOpenGoToTheSwitcherNotTheProgram) {
  SwitcherDesk desk;
  desk.server.makeFrontmost(desk.server.ownProcessIdentifier());
  std::vector<CGEventType> program;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t) { program.push_back(e.type); });
  desk.modifiers(55, kCmd);
  desk.press(48, kCmd);
  desk.press(12, kCmd);
  EXPECT_TRUE(desk.dock.state().open);
  EXPECT_EQ(program, (std::vector<CGEventType>{kCGEventFlagsChanged})) << "the ⌘ press only";
  // ⌘ let go while its flags change never reached the system: the next key ends the session.
  desk.press(0, 0);
  EXPECT_FALSE(desk.dock.state().open);
  EXPECT_EQ(program.back(), kCGEventKeyUp);
}

TEST(NativeSwitcherTest, SilentWhenTheHotKeysAreOffATapTookTheKeyOrTheDockIsGone) {
  SwitcherDesk desk;
  desk.server.makeFrontmost(desk.server.ownProcessIdentifier());
  std::vector<std::int64_t> program;
  desk.server.setOwnEventListener([&](const CGEvent& e, std::uint32_t) {
    if (e.type == kCGEventKeyDown) program.push_back(e.integerFields.at(kCGKeyboardEventKeycode));
  });
  SwitcherDesk::setHotKeys(false);
  desk.modifiers(55, kCmd);
  desk.press(48, kCmd);
  desk.press(48, kCmd | kShift);
  EXPECT_FALSE(desk.dock.state().open);
  EXPECT_EQ(program, (std::vector<std::int64_t>{48, 48})) << "the keys reach the front application";

  SwitcherDesk::setHotKeys(true);
  const auto eat = desk.tap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kKeyDownMask,
                            [](auto, auto, CGEventRef e, auto) -> CGEventRef {
                              return CGEventGetIntegerValueField(e, kCGKeyboardEventKeycode) == 48 ? nullptr : e;
                            });
  ASSERT_TRUE(eat);
  desk.press(48, kCmd);
  EXPECT_FALSE(desk.dock.state().open);
  CFMachPortInvalidate(eat);

  desk.server.terminate(desk.dockPID);
  desk.press(48, kCmd);
  EXPECT_FALSE(desk.dock.state().open);
  EXPECT_TRUE(desk.dock.sessions().empty());
}

// The switcher's window as the display shows it: each offered app's icon, in the order
// offered, and the chosen one lit, in either appearance.
TEST(NativeSwitcherTest, ItShowsTheOfferedAppsIconsInOrderAndLightsTheChosenOne) {
  trelliq::test::ensureWidgets();
  for (const bool dark : {false, true}) {
    SwitcherDesk desk;
    if (dark)
      desk.scene.world.setPreferenceValue(sim::World::kGlobalDomain, "AppleInterfaceStyle",
                                          platform::PlistValue("Dark"));
    const std::vector<std::pair<std::int32_t, std::uint32_t>> icons{
        {desk.ash, 0xD94F70}, {desk.birch, 0x2E8B57}, {desk.cedar, 0x2A7FD4}};
    for (const auto& [pid, colour] : icons) desk.server.updateApp(pid, [c = colour](sim::App& a) { a.iconColor = c; });
    desk.modifiers(55, kCmd);
    desk.press(48, kCmd);
    ASSERT_TRUE(desk.dock.state().open);
    const CGRect bounds = desk.server.window(desk.dock.state().window)->bounds;

    // Where each icon's left edge first shows, and the plate a few points left of it.
    struct Seen {
      int x = -1;
      QRgb beside = 0;
    };
    const auto look = [&] {
      QImage shown;
      EXPECT_TRUE(desk.server.composeDisplayFrame(ServedDesk::kDisplay, 1440, 900, 0,
                                                  [&](const QImage& frame, const auto&) { shown = frame.copy(); }));
      const QImage plate = shown.copy(QRectF(bounds.minX(), bounds.minY(), bounds.width(), bounds.height()).toRect());
      std::vector<Seen> seen;
      for (const auto& [pid, colour] : icons) {
        Seen s;
        for (int x = 0; x < plate.width() && s.x < 0; ++x)
          for (int y = 0; y < plate.height() && s.x < 0; ++y)
            if ((plate.pixel(x, y) & 0xFFFFFF) == colour) s = {x, plate.pixel(std::max(0, x - 4), y)};
        seen.push_back(s);
      }
      return seen;
    };
    const auto lightness = [](QRgb p) { return qRed(p) + qGreen(p) + qBlue(p); };
    const std::string appearance = dark ? "dark" : "light";
    std::vector<Seen> seen = look();
    ASSERT_GE(seen[0].x, 0) << appearance;
    EXPECT_GT(seen[1].x, seen[0].x) << appearance << ": the most recently active app first";
    EXPECT_GT(seen[2].x, seen[1].x) << appearance;
    // Birch is chosen: lit beside its icon, unlike the others.
    EXPECT_GT(std::abs(lightness(seen[1].beside) - lightness(seen[0].beside)), 30) << appearance;
    EXPECT_GT(std::abs(lightness(seen[1].beside) - lightness(seen[2].beside)), 30) << appearance;

    desk.press(48, kCmd);
    seen = look();
    EXPECT_GT(std::abs(lightness(seen[2].beside) - lightness(seen[1].beside)), 30) << appearance << ": Cedar lit";
    EXPECT_LT(std::abs(lightness(seen[1].beside) - lightness(seen[0].beside)), 20) << appearance;
    desk.modifiers(55, 0);
  }
}

}  // namespace
