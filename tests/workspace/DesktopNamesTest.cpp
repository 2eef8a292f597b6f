// The user's names of desktops and full-screen windows in the user defaults, and the
// remembered window frames used while a window changes full screen.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <optional>
#include <string>

#include "platform/AppKit.h"
#include "platform/Foundation.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceNames.h"

namespace trelliq {
namespace {

using platform::PlistDictionary;
using platform::PlistValue;
using Names = std::map<std::string, std::string>;

class DesktopNames : public ::testing::Test {
 protected:
  // What the program's own domain holds under "spaceNames".
  std::optional<PlistValue> stored() const {
    return scene_.world.preferenceValue(sim::World::kApplicationDomain, "spaceNames");
  }
  static void store(const PlistValue& value) { UserDefaults::standard().set("spaceNames", value); }

  Scene scene_;
};

TEST_F(DesktopNames, SetTrimsKeepingMultiByteCharactersWholeAndBlankNamesRemoveTheKey) {
  SpaceNames::set(" Work \n", "desktop/A");
  SpaceNames::set("\t Mail", "window/7");
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Work"}, {"window/7", "Mail"}}));

  // Inner blanks stay; Unicode space separators and line ends at the ends go.
  SpaceNames::set(
      "\xE3\x80\x80"
      "Deep  Work\xE2\x80\xA8\xC2\xA0",
      "desktop/A");
  EXPECT_EQ(SpaceNames::all().at("desktop/A"), "Deep  Work");

  SpaceNames::set("  ", "window/7");
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Deep  Work"}}));
  SpaceNames::set("\n", "desktop/A");
  EXPECT_TRUE(SpaceNames::all().empty());
  EXPECT_FALSE(stored()) << "the last name gone removes the key";

  EXPECT_EQ(SpaceNames::trimmed("  \xC3\xA9t\xC3\xA9 "), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(SpaceNames::trimmed("\xE2\x80\x83"), "");  // an em space alone
  // A character that only ends in the byte of a space separator is not one.
  EXPECT_EQ(SpaceNames::trimmed("x\xE4\xB8\x80"), "x\xE4\xB8\x80");
}

TEST_F(DesktopNames, MalformedEntriesAreSkippedOneByOneAndAnotherTypeReadsAsNoNamesUntilTheNextSave) {
  store(PlistDictionary{
      {"desktop/A", "Work"}, {"desktop/B", 42}, {"window/9", PlistDictionary{{"x", "y"}}}, {"window/10", "Film"}});
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Work"}, {"window/10", "Film"}}));

  // Saving writes the valid names back, with the new one, instead of starting afresh.
  SpaceNames::set("Mail", "desktop/C");
  EXPECT_EQ(stored(), PlistValue(PlistDictionary{{"desktop/A", "Work"}, {"desktop/C", "Mail"}, {"window/10", "Film"}}));

  // A value of another type reads as no names until the next save.
  store(PlistValue("Work"));
  EXPECT_TRUE(SpaceNames::all().empty());
  SpaceNames::forgetWindows({});
  EXPECT_EQ(stored(), PlistValue("Work")) << "nothing was dropped, so nothing is written";
  SpaceNames::set("Mail", "desktop/C");
  EXPECT_EQ(stored(), PlistValue(PlistDictionary{{"desktop/C", "Mail"}}));
}

TEST_F(DesktopNames, ForgettingWindowsKeepsDesktopsAndListedWindows) {
  SpaceNames::save({{"desktop/A", "Work"}, {"window/7", "Mail"}, {"window/8", "Film"}, {"window/x", "Odd"}});
  SpaceNames::forgetWindows({8, 99});
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Work"}, {"window/8", "Film"}}));
  SpaceNames::forgetWindows({});
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Work"}}));
}

TEST_F(DesktopNames, ForgettingWritesOnlyWhenSomethingWasDropped) {
  SpaceNames::save({{"desktop/A", "Work"}, {"window/7", "Mail"}});
  // Every save replaces the preferences file by a new one, so its inode tells writes apart.
  const std::string file = scene_.world.preferencesFile(sim::World::kApplicationDomain);
  const auto inode = [&] {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : ino_t{0};
  };
  const ino_t first = inode();
  ASSERT_NE(first, ino_t{0});
  SpaceNames::forgetWindows({7});
  EXPECT_EQ(inode(), first) << "nothing to drop, nothing written";
  SpaceNames::forgetWindows({});
  const ino_t second = inode();
  EXPECT_NE(second, first);
  EXPECT_EQ(SpaceNames::all(), (Names{{"desktop/A", "Work"}}));
  SpaceNames::forgetWindows({});
  EXPECT_EQ(inode(), second) << "no window name left to drop";
}

// ---- Remembered frames ----

class RememberedFrames : public ::testing::Test {
 protected:
  RememberedFrames() {
    DesktopFrames::reset();
    // A 1440x900 main screen with a 32-point notch, and a 1920x1080 screen to its right
    // whose top lies 100 points below the main screen's top.
    scene_.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in", 2, 32),
                              sim::makeDisplay(2, CGRect(1440, -280, 1920, 1080), "Wide")});
  }
  ~RememberedFrames() override { DesktopFrames::reset(); }

  static WindowInfo window(std::uint32_t number, CGRect bounds, bool minimized = false, bool fullScreen = false) {
    return WindowInfo(100, number, nullptr, std::nullopt, minimized, fullScreen, bounds);
  }
  static NSScreen screen(std::size_t i) { return NSScreen::screens().at(i); }

  Scene scene_;
};

TEST_F(RememberedFrames, OrdinaryWindowsAreRememberedButNotMinimizedOrFullScreenOnes) {
  DesktopFrames::note(window(1, CGRect(10, 40, 500, 400)));
  DesktopFrames::note(window(1, CGRect(900, 900, 10, 10), /*minimized=*/true));
  DesktopFrames::note(window(2, CGRect(0, 0, 1440, 900), false, /*fullScreen=*/true));
  DesktopFrames::note(WindowInfo(100, std::nullopt, nullptr, std::nullopt, false, false, CGRect(1, 1, 1, 1)));
  DesktopFrames::note(WindowInfo(100, 3, nullptr, std::nullopt, false, false, std::nullopt));
  EXPECT_EQ(DesktopFrames::frame(1), CGRect(10, 40, 500, 400));
  EXPECT_FALSE(DesktopFrames::frame(2));
  EXPECT_FALSE(DesktopFrames::frame(3));
  EXPECT_EQ(DesktopFrames::frames().size(), 1u);
}

TEST_F(RememberedFrames, AFrozenFrameHoldsUntilTheWindowIsSeenInFullScreen) {
  const CGRect before(10, 40, 500, 400);
  DesktopFrames::freeze(window(5, before));
  DesktopFrames::note(window(5, CGRect(0, 32, 1440, 868)));  // seen in between, not yet full screen
  EXPECT_EQ(DesktopFrames::frame(5), before);
  DesktopFrames::note(window(5, CGRect(0, 32, 1440, 868), false, true));
  EXPECT_FALSE(DesktopFrames::frozen().contains(5));
  DesktopFrames::note(window(5, CGRect(20, 50, 300, 300)));
  EXPECT_EQ(DesktopFrames::frame(5), CGRect(20, 50, 300, 300));

  // Freezing takes the frame whatever the flags say; a window without a number is ignored.
  DesktopFrames::freeze(window(6, CGRect(1, 2, 300, 200), /*minimized=*/true));
  EXPECT_EQ(DesktopFrames::frame(6), CGRect(1, 2, 300, 200));
  DesktopFrames::freeze(WindowInfo(100, std::nullopt, nullptr, std::nullopt, false, false, CGRect(1, 1, 1, 1)));
  EXPECT_EQ(DesktopFrames::frozen(), (std::set<std::uint32_t>{6}));
}

TEST_F(RememberedFrames, ForgetKeepsListedWindowsAndEveryFullScreenFrame) {
  DesktopFrames::note(window(1, CGRect(10, 40, 500, 400)));
  DesktopFrames::note(window(2, CGRect(30, 40, 500, 400)));
  DesktopFrames::freeze(window(3, CGRect(50, 40, 500, 400)));
  DesktopFrames::note(window(4, CGRect(0, 32, 1440, 868), false, true));
  DesktopFrames::forget({2});
  EXPECT_FALSE(DesktopFrames::frame(1));
  EXPECT_TRUE(DesktopFrames::frame(2));
  EXPECT_TRUE(DesktopFrames::frozen().empty());
  EXPECT_EQ(DesktopFrames::fullScreenFrames().size(), 1u);
}

TEST_F(RememberedFrames, FullScreenFrameIsBelowTheSafeAreaUntilOneIsSeenThenTheNewestOnTheScreen) {
  DesktopFrames::note(window(7, CGRect(0, 0, 1440, 900), false, true));
  DesktopFrames::note(window(8, CGRect(1440, 100, 1920, 1080), false, true));
  EXPECT_EQ(DesktopFrames::fullScreenFrame(screen(0)), CGRect(0, 0, 1440, 900));
  // An overlapping newer frame replaces the older one.
  DesktopFrames::note(window(9, CGRect(0, 25, 1440, 875), false, true));
  EXPECT_EQ(DesktopFrames::fullScreenFrames().size(), 2u);
  EXPECT_EQ(DesktopFrames::fullScreenFrame(screen(0)), CGRect(0, 25, 1440, 875));
  // A frame of another width on the screen does not count as its full-screen frame.
  DesktopFrames::reset();
  DesktopFrames::note(window(10, CGRect(100, 100, 800, 600), false, true));
  EXPECT_EQ(DesktopFrames::fullScreenFrame(screen(0)), CGRect(0, 32, 1440, 868));
  // The second screen's top is at 800 in screen coordinates, 900 - 800 below the first's.
  EXPECT_EQ(ScreenGeometry::windowServerFrame(screen(1)), CGRect(1440, 100, 1920, 1080));
  EXPECT_EQ(DesktopFrames::fullScreenFrame(screen(1)), CGRect(1440, 100, 1920, 1080));
}

TEST_F(RememberedFrames, ScreenFramesWithoutScreensUseTheScreenItself) {
  const NSScreen main = screen(0);
  const NSScreen lower = screen(1);
  scene_.world.setDisplays({});
  EXPECT_EQ(ScreenGeometry::windowServerFrame(main), CGRect(0, 0, 1440, 900));
  EXPECT_EQ(ScreenGeometry::windowServerFrame(lower), CGRect(1440, 0, 1920, 1080));
  EXPECT_EQ(ScreenGeometry::primaryTop(), 0);
}

}  // namespace
}  // namespace trelliq
