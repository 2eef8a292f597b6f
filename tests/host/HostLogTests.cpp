// The host's log lines as they reach its file: one long line is cut, and lines the file
// would not take are counted and then told of.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/host/HostLog.h"
#include "support/Scene.h"

namespace {

TEST(HostLogTest, ALongLineIsCutAndLinesTheFileWouldNotTakeAreToldOf) {
  Scene scene;
  const std::string path = scene.path("Library/Logs/simmac.log");
  host::setLogFile(path);
  host::writeLogLine("a program said " + std::string(100000, 'x'));
  platform::FileFaults::fail(platform::FileOp::write, "simmac.log", ENOSPC, 2);
  host::writeLogLine("lost");
  host::writeLogLine("lost too");
  host::writeLogLine("written");
  host::setLogFile("");

  const auto bytes = platform::FileManager::contents(path);
  ASSERT_TRUE(bytes);
  std::vector<std::string> lines;
  std::istringstream text(std::string(bytes->begin(), bytes->end()));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << std::string(bytes->begin(), bytes->end()).substr(0, 300);
  EXPECT_TRUE(lines[0].starts_with("simmac: a program said xxx"));
  EXPECT_LE(lines[0].size(), host::kMaxLogLineBytes + 40);
  EXPECT_EQ(lines[1], "simmac: 2 lines could not be written to the log");
  EXPECT_EQ(lines[2], "simmac: written");
}

}  // namespace
