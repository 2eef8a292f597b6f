// "--dump": the outline of one snapshot, to the character, on a small scene and on the
// default desk; and the lines for the cases a scene cannot easily show.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/sim/Scenario.h"
#include "selftest/Dispatch.h"
#include "selftest/DumpMode.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"
#include "workspace/WindowServerScenes.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;

std::string read(const std::string& path) {
  const auto bytes = platform::FileManager::contents(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<no file>");
}

class Dump : public ::testing::Test {
 protected:
  Dump() { DesktopFrames::reset(); }
  ~Dump() override { DesktopFrames::reset(); }

  Scene scene_;
};

TEST_F(Dump, TheOutlineOfASmallDesk) {
  scene_.world.setScreenCaptureAllowed(true);
  scene_.world.setAccessibilityTrusted(true);
  scene_.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in")});
  ASSERT_TRUE(scene_.windowServer.setSpaces(1, {scenes::space(11), scenes::space(12), scenes::space(13)}, 11));
  const std::int32_t notes = scenes::addApp(scene_, "Notes"), chat = scenes::addApp(scene_, "Chat");
  scenes::addApp(scene_, "Music");
  scenes::addApp(scene_, "Clock", platform::ActivationPolicy::accessory);
  const std::uint32_t old = scenes::addWindow(
      scene_, {.pid = notes, .title = "Old", .bounds = CGRect(300.7, 20.2, 300, 200), .spaces = {11}});
  ASSERT_TRUE(scene_.windowServer.setMinimized(old, true));
  const std::uint32_t draft = scenes::addWindow(
      scene_, {.pid = notes, .title = "Draft\nForged line", .bounds = CGRect(100, 100, 400, 300), .spaces = {11}});
  const std::uint32_t talk = scenes::addWindow(
      scene_, {.pid = chat, .title = "", .bounds = CGRect(50, 60, 500, 400), .spaces = {12}, .accessible = false});
  ASSERT_TRUE(scene_.windowServer.setHidden(chat, true));
  UserDefaults::standard().set("spaceNames", platform::PlistDictionary{{"desktop/uuid-13", "Quiet"}});

  const std::string out = scene_.path("dump.txt");
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump", out}), 0);
  const std::string d = std::to_string(draft), o = std::to_string(old), t = std::to_string(talk);
  const Lines expected{"loaded in 0ms, shared Spaces: false",
                       "display Built-in (0.0, 0.0, 1440.0, 900.0) here=0:11:screen",
                       "  Desktop 1 [space 11, showing]",
                       "    Notes (0:11:screen), last #0",
                       "      " + d + " 'Draft\\nForged line' 100,100 400x300",
                       "      " + o + " minimized 'Old' 300,20 300x200",
                       "  Desktop 2 [space 12]",
                       "    Chat (0:12:screen) hidden, last #0",
                       "      " + t + " off-Space '' 50,60 500x400",
                       "  Quiet [space 13]",
                       "    Quiet (0:13:desktop), last #-",
                       "tray: Music"};
  std::string joined;
  for (const std::string& line : expected) joined += (joined.empty() ? "" : "\n") + line;
  EXPECT_EQ(read(out), joined);
}

TEST_F(Dump, TheDefaultDeskGivesAPlausibleOutline) {
  scene_.restart(Scene::Start::defaultScenario);
  const std::string out = scene_.path("desk.txt");
  EXPECT_EQ(DumpMode::run(out), 0);
  const std::string text = read(out);
  ASSERT_NE(text, "<no file>");
  EXPECT_EQ(text.rfind("loaded in ", 0), 0u) << text;
  EXPECT_NE(text.find("ms, shared Spaces: false\n"), std::string::npos) << text;
  EXPECT_NE(text.find("display Built-in Display (0.0, 0.0, 1512.0, 982.0) here="), std::string::npos) << text;
  EXPECT_NE(text.find("\ndisplay Wide Monitor (1512.0, "), std::string::npos) << text;
  EXPECT_NE(text.find("[space 1, showing]"), std::string::npos) << text;
  EXPECT_NE(text.find("'Draft.txt'"), std::string::npos) << text;
  EXPECT_NE(text.find(" minimized 'Old Letter.txt'"), std::string::npos) << text;
  // Windows on Spaces that do not show are part of the desk too.
  EXPECT_NE(text.find("'Notes.txt'"), std::string::npos) << text;
  EXPECT_NE(text.find("  Tally [space 5, full screen]\n    Tally (0:fullScreen:5101), last #0\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\ntray: Easel"), std::string::npos) << "the one windowless app:\n" << text;
  EXPECT_EQ(text.substr(text.rfind('\n') + 1), "tray: Easel");
  EXPECT_EQ(text.back() == '\n', false) << "no newline after the last line";
  EXPECT_EQ(text.find("Trelliq ("), std::string::npos) << "the program itself is no tile";
}

TEST_F(Dump, AnUnwritablePathWritesNothingSaysSoAndFails) {
  const std::string out = scene_.path("missing-folder/dump.txt");
  const std::string bidi = scene_.path("\xe2\x80\xae\n/dump.txt");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {out, "trelliq: cannot write " + out + ": No such file or directory\n"},
      {"/", "trelliq: cannot write /: Is a directory\n"},
      {scene_.path(""), "trelliq: cannot write " + scene_.path("") + ": Is a directory\n"},
      {bidi, "trelliq: cannot write " + scene_.path("\\u{202E}\\n/dump.txt") + ": No such file or directory\n"},
  };
  for (const auto& [path, message] : cases) {
    std::ostringstream errors;
    testing::internal::CaptureStderr();
    EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump", path}, errors), 1) << path;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    EXPECT_EQ(errors.str(), "");
  }
  EXPECT_FALSE(platform::FileManager::fileExists(out));
}

TEST_F(Dump, ADeviceTakesTheOutlineAndASocketIsRefusedWithoutBeingReplaced) {
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump", "/dev/null"}), 0);
  struct stat st {};
  ASSERT_EQ(::lstat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  const std::string socketPath = scene_.path("s");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump", socketPath}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "trelliq: cannot write " + socketPath + ": it is a socket; name a file, a pipe or a terminal\n");
  ASSERT_EQ(::lstat(socketPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  ::close(listener);
}

TEST_F(Dump, ASnapshotWithoutDisplaysGivesTheFirstAndLastLineOnly) {
  EXPECT_EQ(DumpMode::lines(Workspace(), 12, true), (Lines{"loaded in 12ms, shared Spaces: true", "tray: "}));
  const std::string out = scene_.path("empty.txt");
  DumpMode::run(out);
  EXPECT_EQ(read(out), "loaded in 0ms, shared Spaces: false\ntray: ");
}

TEST_F(Dump, LinesForWindowsWithoutNumberTitleOrBoundsAndEmptySpaces) {
  platform::RunningApplicationInfo info;
  info.pid = 5;
  const AppInfo odd(5, NSRunningApplication(info), "Odd\r\x1b[2J", nullptr, false);
  Cluster c;
  c.id = "0:3:5";
  c.space = 3;
  c.apps = {odd};
  c.windows = {WindowInfo(5, std::nullopt, nullptr, std::nullopt, false, false, std::nullopt),
               WindowInfo(5, 77, nullptr, "T", true, false, CGRect(-10.9, 5.5, 99.99, 0.4))};
  SpaceGroup empty{4, "Desktop 2", false, false, {}, std::nullopt};
  SpaceGroup full{3, "Odd", true, true, {c}, std::nullopt};
  const NSScreen screen(9, CGRect(-1280.5, 1e-05, 1280, 1e16), CGRect(), NSEdgeInsets{}, "Side", 1);
  const Workspace w{{DisplayGroup{"X", screen, {full, empty}, std::nullopt}}, {odd, odd}};
  EXPECT_EQ(DumpMode::lines(w, 3, false),
            (Lines{"loaded in 3ms, shared Spaces: false", "display Side (-1280.5, 1e-05, 1280.0, 1e+16) here=-",
                   "  Odd [space 3, full screen, showing]", "    Odd\\r\\u{1B}[2J (0:3:5), last #-",
                   "      ? off-Space '' ", "      77 minimized off-Space 'T' -10,5 99x0", "  Desktop 2 [space 4]",
                   "tray: Odd\\r\\u{1B}[2J, Odd\\r\\u{1B}[2J"}));
}

TEST_F(Dump, BoundsPrintTheirTruncatedValueExactlyHoweverLarge) {
  struct Row {
    CGRect bounds;
    std::string printed;
  };
  const Row rows[] = {
      {CGRect(1e19, -1e19, 9.2233720368547758e18, 1), "10000000000000000000,-10000000000000000000 9223372036854775808x1"},
      {CGRect(-0.9, 0.9, 4294967296.5, 1e300 / 1e300), "0,0 4294967296x1"},
      {CGRect(-1e22, 123456789012345678.0, 0.5, 2.5), "-10000000000000000000000,123456789012345680 0x2"},
      {CGRect(1.7976931348623157e308, 0, 1, 1),
       "17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955863276687817154045895"
       "35143824642343213268894641827684675467035375169860499105765512820762454900903893289440758685084551339423045832"
       "36903222948165808559332123348274797826204144723168738177180919299881250404026184124858368,0 1x1"},
  };
  for (const Row& row : rows) {
    const WindowInfo window(5, 77, nullptr, "T", false, false, row.bounds);
    Cluster c;
    c.id = "0:3:5";
    c.windows = {window};
    const NSScreen screen(9, CGRect(0, 0, 100, 100), CGRect(), NSEdgeInsets{}, "Side", 1);
    const Workspace w{{DisplayGroup{"X", screen, {SpaceGroup{3, "D", false, true, {c}, std::nullopt}}, std::nullopt}},
                      {}};
    const Lines lines = DumpMode::lines(w, 0, false);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "      77 off-Space 'T' " + row.printed);
  }
}

}  // namespace
}  // namespace trelliq
