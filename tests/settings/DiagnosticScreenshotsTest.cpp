// Diagnostic screenshots on the simulated desk: when they are taken, how the files are
// named per display, and how the folder is kept to the newest captures.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Foundation.h"
#include "settings/DiagnosticScreenshots.h"
#include "settings/Diagnostics.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::FileManager;
namespace fs = std::filesystem;

class Screenshots : public ::testing::Test {
 protected:
  void SetUp() override {
    // The main display, and a second one to its left listed after it.
    scene_.world.setDisplays(
        {sim::makeDisplay(1, CGRect(0, 0, 160, 100), "Main"), sim::makeDisplay(2, CGRect(-120, 0, 120, 90), "Left")});
    scene_.world.setDesktopColor(1, 0x112233);
    scene_.world.setDesktopColor(2, 0xAA5500);
    scene_.world.setScreenCaptureAllowed(true);
    UserDefaults::standard().set("diagnosticScreenshots", true);
    scene_.clock.setWallTime(1767270896.789);  // 2026-01-01 12:34:56.789 UTC
  }

  std::string folder() const { return scene_.path("Library/Logs/Trelliq"); }
  std::vector<std::string> files() const {
    return FileManager::contentsOfDirectory(folder()).value_or(std::vector<std::string>{});
  }
  std::string expectedStamp() {
    std::string stamp = Diagnostics::stamp(scene_.clock.now());
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return stamp;
  }
  // An earlier capture written `age` seconds ago.
  void oldCapture(const std::string& stamp, int age) const {
    fs::create_directories(folder());
    const std::string path = folder() + "/" + stamp + "-display0.png";
    ASSERT_TRUE(FileManager::writeAtomically(path, "png"));
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age));
  }

  Scene scene_;
};

TEST_F(Screenshots, TakenOnlyWhenTheUserAskedAndCaptureIsAllowed) {
  UserDefaults::standard().removeObject("diagnosticScreenshots");
  EXPECT_FALSE(Diagnostics::screenshot());
  UserDefaults::standard().set("diagnosticScreenshots", false);
  EXPECT_FALSE(Diagnostics::screenshot());
  UserDefaults::standard().set("diagnosticScreenshots", true);
  scene_.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(Diagnostics::screenshot());
  EXPECT_EQ(scene_.clock.pending(), 0u);
  scene_.clock.runUntilIdle();
  EXPECT_FALSE(FileManager::fileExists(folder()));
}

TEST_F(Screenshots, ReturnsTheStampAtOnceAndNamesFilesLeftToRight) {
  const auto stamp = Diagnostics::screenshot();
  ASSERT_TRUE(stamp);
  EXPECT_EQ(*stamp, expectedStamp());
  EXPECT_TRUE(files().empty());  // nothing is captured on the calling thread

  scene_.clock.runUntilIdle();
  ASSERT_EQ(files(), (std::vector<std::string>{*stamp + "-display0.png", *stamp + "-display1.png"}));
  // display0 is the left display although the system lists it second.
  const auto left = FileManager::contents(folder() + "/" + *stamp + "-display0.png");
  const auto main = FileManager::contents(folder() + "/" + *stamp + "-display1.png");
  EXPECT_EQ(left, scene_.world.captureDisplay(2, 120, 90, true)->pngData());
  EXPECT_EQ(main, scene_.world.captureDisplay(1, 160, 100, true)->pngData());
}

TEST_F(Screenshots, DisplaysWithoutAScreenNumberDoNotShareAFile) {
  auto third = sim::makeDisplay(3, CGRect(160, 0, 100, 100), "Projector");
  third.screen.hasDisplayNumber = false;
  auto fourth = sim::makeDisplay(4, CGRect(260, 0, 100, 100), "Panel");
  fourth.screen.hasDisplayNumber = false;
  scene_.world.addDisplay(third);
  scene_.world.addDisplay(fourth);
  const auto stamp = Diagnostics::screenshot();
  scene_.clock.runUntilIdle();
  EXPECT_EQ(files(), (std::vector<std::string>{*stamp + "-display0.png", *stamp + "-display1.png",
                                               *stamp + "-display10.png", *stamp + "-display9.png"}));
}

TEST_F(Screenshots, ADisplayThatFailsIsSkippedAndNoContentMeansNoPruning) {
  scene_.world.setCaptureFails(2, true);
  const auto first = Diagnostics::screenshot();
  scene_.clock.runUntilIdle();
  EXPECT_EQ(files(), std::vector<std::string>{*first + "-display1.png"});

  for (int i = 0; i < 12; ++i) oldCapture("10-00-" + std::to_string(10 + i) + ".000", 100 - i);
  scene_.world.setShareableContentAvailable(false);
  scene_.clock.advance(1);
  EXPECT_TRUE(Diagnostics::screenshot());
  scene_.clock.runUntilIdle();
  EXPECT_EQ(files().size(), 13u);
}

TEST_F(Screenshots, KeepsTheTwelveNewestCapturesByTimeAcrossMidnight) {
  // Twelve captures of the late evening, the oldest first; the new one is after midnight.
  for (int i = 0; i < 12; ++i) oldCapture("23-59-" + std::to_string(40 + i) + ".000", 100 - i);
  fs::create_directories(folder());
  for (const char* other : {"notes.txt", "00-00-00.000-display0.png.txt", "holiday.png"}) {
    ASSERT_TRUE(FileManager::writeAtomically(folder() + "/" + other, "keep"));
    fs::last_write_time(folder() + "/" + other, fs::file_time_type::clock::now() - std::chrono::hours(48));
  }
  // A stray picture newer than every old capture is a stamp of its own, so it takes a
  // capture's place without ever being deleted.
  fs::last_write_time(folder() + "/holiday.png", fs::file_time_type::clock::now() - std::chrono::seconds(50));
  std::tm day{};
  day.tm_year = 2026 - 1900;
  day.tm_mday = 2;
  day.tm_isdst = -1;
  scene_.clock.setWallTime(static_cast<double>(std::mktime(&day)) + 1.5);  // 00:00:01.500 local time

  const auto stamp = Diagnostics::screenshot();
  ASSERT_EQ(*stamp, "00-00-01.500");
  scene_.clock.runUntilIdle();

  std::vector<std::string> expected{"00-00-00.000-display0.png.txt", "00-00-01.500-display0.png",
                                    "00-00-01.500-display1.png"};
  for (int i = 2; i < 12; ++i) expected.push_back("23-59-" + std::to_string(40 + i) + ".000-display0.png");
  expected.insert(expected.end(), {"holiday.png", "notes.txt"});
  EXPECT_EQ(files(), expected);
}

TEST_F(Screenshots, ALinkInTheFolderPlaceIsNeitherWrittenThroughNorPruned) {
  // The user's picture folder, with names close to the captures' and more than twelve stamps.
  const std::string pictures = scene_.path("Pictures");
  fs::create_directories(pictures + "/Album-display.png");
  ASSERT_TRUE(FileManager::writeAtomically(pictures + "/Album-display.png/inside.jpg", "mine"));
  ASSERT_TRUE(FileManager::writeAtomically(pictures + "/Holiday-display1.png", "mine"));
  for (int i = 0; i < 13; ++i) {
    ASSERT_TRUE(FileManager::writeAtomically(
        pictures + "/0" + std::to_string(i % 10) + "-00-0" + std::to_string(i / 10) + ".000-display0.png", "mine too"));
  }
  const auto before = FileManager::contentsOfDirectory(pictures);
  fs::create_directories(scene_.path("Library/Logs"));
  fs::create_directory_symlink(pictures, folder());

  ASSERT_TRUE(Diagnostics::screenshot());
  scene_.clock.runUntilIdle();
  EXPECT_EQ(FileManager::contentsOfDirectory(pictures), before);
  EXPECT_TRUE(FileManager::fileExists(pictures + "/Album-display.png/inside.jpg"));
}

TEST_F(Screenshots, PruningRemovesOnlyTheProgramsOwnPlainFiles) {
  for (int i = 0; i < 12; ++i) oldCapture("10-00-" + std::to_string(10 + i) + ".000", 100 - i);
  const std::string outside = scene_.path("precious.png");
  ASSERT_TRUE(FileManager::writeAtomically(outside, "mine"));
  // Each older than every capture, and each with "-display" and ".png" in its name.
  fs::create_directories(folder() + "/Album-display.png");
  ASSERT_TRUE(FileManager::writeAtomically(folder() + "/Album-display.png/inside.jpg", "mine"));
  ASSERT_TRUE(FileManager::writeAtomically(folder() + "/Holiday-display1.png", "mine"));
  fs::create_symlink(outside, folder() + "/09-00-00.000-display0.png");
  fs::create_directories(folder() + "/09-00-01.000-display0.png");
  // Older than any capture, so pruning by age alone would take them first.
  for (const std::string& path : {outside, folder() + "/Album-display.png", folder() + "/Holiday-display1.png",
                                  folder() + "/09-00-01.000-display0.png"}) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(48));
  }
  const std::string leftover = folder() + "/.10-00-21.000-display1.png.tmp-Qx81Za";
  ASSERT_TRUE(FileManager::writeAtomically(leftover, "half a picture"));

  const auto stamp = Diagnostics::screenshot();
  scene_.clock.runUntilIdle();
  std::vector<std::string> expected{"09-00-00.000-display0.png", "09-00-01.000-display0.png", "Album-display.png",
                                    "Holiday-display1.png"};
  for (int i = 1; i < 12; ++i) expected.push_back("10-00-" + std::to_string(10 + i) + ".000-display0.png");
  expected.push_back(*stamp + "-display0.png");
  expected.push_back(*stamp + "-display1.png");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files(), expected);
  EXPECT_EQ(FileManager::contents(outside), std::vector<std::uint8_t>({'m', 'i', 'n', 'e'}));
  EXPECT_TRUE(FileManager::fileExists(folder() + "/Album-display.png/inside.jpg"));
}

// The decisions alone, on cases the simulated desk does not easily make.
TEST(ScreenshotDecisions, OnlyTheProgramsOwnNamesAreCaptures) {
  const struct {
    const char* name;
    bool capture;
    bool temporary;
  } rows[] = {
      {"12-34-56.789-display0.png", true, false},
      {"12-34-56.789-display12.png", true, false},
      {"Holiday-display1.png", false, false},
      {"Album-display.png", false, false},
      {"12-34-56.789-display.png", false, false},
      {"12-34-56.789-displayX.png", false, false},
      {"12:34:56.789-display0.png", false, false},
      {"12-34-56.789-display0.png.txt", false, false},
      {"x12-34-56.789-display0.png", false, false},
      {".12-34-56.789-display0.png.tmp-Ab12Cd", false, true},
      {".12-34-56.789-display0.png.tmp-Ab12", false, false},
      {".Holiday-display1.png.tmp-Ab12Cd", false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DiagnosticScreenshots::isCaptureName(row.name), row.capture) << row.name;
    EXPECT_EQ(DiagnosticScreenshots::isCaptureName(row.name, DiagnosticScreenshots::CaptureFile::temporary),
              row.temporary)
        << row.name;
  }
}

TEST(ScreenshotDecisions, NumbersLeftToRightAndDistinctFromNineForTheRest) {
  using Shots = DiagnosticScreenshots;
  EXPECT_EQ(Shots::numbers({7, 3, 5}, {5, 7, 3}), (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(Shots::numbers({1, 2}, {40, 2, 41, 1}), (std::vector<int>{9, 1, 10, 0}));
  // With ten or more screens, 9 belongs to a matched display and is skipped.
  const std::vector<std::uint32_t> ten{10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  EXPECT_EQ(Shots::numbers(ten, {99, 19}), (std::vector<int>{10, 9}));
}

TEST(ScreenshotDecisions, PruningCountsCapturesByTheirNewestFile) {
  using Shots = DiagnosticScreenshots;
  const std::string a = "10-00-01.000", b = "10-00-02.000", c = "10-00-03.000";
  // "a" has one file written late, so "b" is the oldest capture; names not ending in
  // ".png" never count.
  const std::vector<Shots::File> files{{a + "-display0.png", 10}, {a + "-display1.png", 50}, {b + "-display0.png", 20},
                                       {c + "-display0.png", 30}, {a + "-display0.txt", 0},  {a + "-display0.PNG", 0}};
  EXPECT_EQ(Shots::expired(files, 2), std::vector<std::string>{b + "-display0.png"});
  EXPECT_TRUE(Shots::expired(files, 3).empty());
  // A stray picture is a stamp of its own: it counts, so the oldest capture goes, yet it
  // is never deleted itself, not even when it is the oldest; nor is a stray that shares
  // an old capture's stamp.
  const std::vector<Shots::File> stray{{a + "-display0.png", 10}, {b + "-display0.png", 20}, {"holiday.png", 30}};
  EXPECT_EQ(Shots::expired(stray, 2), std::vector<std::string>{a + "-display0.png"});
  EXPECT_TRUE(Shots::expired(stray, 3).empty());
  EXPECT_TRUE(Shots::expired({{"holiday.png", 1}, {b + "-display0.png", 20}, {b + "-display1.png", 20}}, 1).empty());
  EXPECT_EQ(Shots::expired({{a + "-display0.png", 1}, {a + "-displayX.png", 1}, {b + "-display0.png", 2}}, 1),
            std::vector<std::string>{a + "-display0.png"});
  // Equal times fall back to the stamp's text.
  EXPECT_EQ(Shots::expired({{b + "-display0.png", 7}, {a + "-display0.png", 7}, {c + "-display0.png", 7}}, 2),
            std::vector<std::string>{a + "-display0.png"});
}

}  // namespace
}  // namespace trelliq
