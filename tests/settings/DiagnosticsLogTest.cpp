// The diagnostics log as the rest of the program sees it: where it is, what one call
// writes, how the stamp follows the clock, and the cut at the real limit.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "settings/Diagnostics.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::FileManager;

// A local time on 2026-03-14, whatever the machine's time zone.
double localTime(int hour, int minute, double seconds) {
  std::tm day{};
  day.tm_year = 2026 - 1900;
  day.tm_mon = 2;
  day.tm_mday = 14;
  day.tm_hour = hour;
  day.tm_min = minute;
  day.tm_isdst = -1;
  return static_cast<double>(std::mktime(&day)) + seconds;
}

class DiagnosticsLog : public ::testing::Test {
 protected:
  std::string logText() const {
    const auto bytes = FileManager::contents(scene_.path("Library/Logs/Trelliq.log"));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
  }
  void putLog(const std::string& text) const {
    std::filesystem::create_directories(scene_.path("Library/Logs"));
    ASSERT_TRUE(FileManager::writeAtomically(scene_.path("Library/Logs/Trelliq.log"), text));
  }

  Scene scene_;
};

TEST_F(DiagnosticsLog, LivesUnderTheCurrentHomeFolder) {
  EXPECT_EQ(Diagnostics::url(), scene_.path("Library/Logs/Trelliq.log"));
  EXPECT_EQ(Diagnostics::shots(), scene_.path("Library/Logs/Trelliq"));
  // The home folder moves (as between scenes): the next line goes to the new place.
  const std::string elsewhere = scene_.path("elsewhere");
  FileManager::setHomeDirectory(elsewhere);
  Diagnostics::log("moved");
  FileManager::setHomeDirectory(scene_.home);
  EXPECT_TRUE(FileManager::fileExists(elsewhere + "/Library/Logs/Trelliq.log"));
  EXPECT_FALSE(FileManager::fileExists(scene_.path("Library/Logs/Trelliq.log")));
}

TEST_F(DiagnosticsLog, EachCallAppendsOneStampedEntryAsGiven) {
  // The first line also makes the folder and the file.
  scene_.clock.setWallTime(localTime(8, 0, 0));
  Diagnostics::log("");
  scene_.clock.advance(0.5);
  Diagnostics::log("first\nsecond");
  scene_.clock.advance(0.001);
  Diagnostics::log("app \"" + Diagnostics::escapeForeign("Evil\n08:00:00.502 forged") + "\" quit");
  EXPECT_EQ(logText(),
            "08:00:00.000 \n"
            "08:00:00.500 first\n"
            "second\n"
            "08:00:00.501 app \"Evil\\n08:00:00.502 forged\" quit\n");
}

TEST_F(DiagnosticsLog, TheStampWrapsAtMidnightWithNoMarker) {
  scene_.clock.setWallTime(localTime(23, 59, 59.9));
  Diagnostics::log("before");
  scene_.clock.advance(0.2);
  Diagnostics::log("after");
  EXPECT_EQ(logText(), "23:59:59.900 before\n00:00:00.100 after\n");
}

TEST_F(DiagnosticsLog, CutKeepsTheWholeLinesOfTheNewestQuarterMegabyte) {
  scene_.clock.setWallTime(localTime(12, 0, 0));
  std::string old;
  for (int n = 0; old.size() < Diagnostics::limit + 1; ++n) old += "12:00:00.000 line " + std::to_string(n) + "\n";

  putLog(old.substr(0, Diagnostics::limit));
  Diagnostics::log("at the limit");
  EXPECT_EQ(logText(), old.substr(0, Diagnostics::limit) + "12:00:00.000 at the limit\n");

  putLog(old.substr(0, Diagnostics::limit + 1));
  Diagnostics::log("past it");
  const std::string text = logText();
  const std::string line = "12:00:00.000 past it\n";
  // Of the newest 262,144 bytes only whole lines stay, so the first line left has its stamp.
  const std::size_t from = Diagnostics::limit + 1 - 262144;
  const std::string newest = old.substr(from, 262144);
  const std::string kept = old[from - 1] == '\n' ? newest : newest.substr(newest.find('\n') + 1);
  EXPECT_EQ(text.size(), kept.size() + line.size());
  EXPECT_TRUE(text == kept + line) << text.substr(0, 60);
  EXPECT_EQ(text.substr(0, 13), "12:00:00.000 ");
}

}  // namespace
}  // namespace trelliq
