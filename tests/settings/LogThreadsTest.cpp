// Many writers on one log at once, with real threads and a second process: no line
// may overwrite another, and no line written after a cut may go missing.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "settings/Diagnostics.h"
#include "settings/LogFile.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::FileManager;

constexpr int kWriters = 8;
constexpr int kLines = 1000;

std::string fileText(const std::string& path) {
  const auto bytes = FileManager::contents(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// The physical lines of a text that ends with a line feed.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the text ends inside a line";
  return lines;
}

// Writer -> the sequence numbers of its lines, in file order. Every line must be whole.
std::map<std::string, std::vector<int>> linesByWriter(const std::vector<std::string>& lines, const std::regex& shape) {
  std::map<std::string, std::vector<int>> writers;
  for (const std::string& line : lines) {
    std::smatch match;
    if (!std::regex_match(line, match, shape)) {
      ADD_FAILURE() << "mangled line: " << line.substr(0, 80);
      continue;
    }
    writers[match[1]].push_back(std::stoi(match[2]));
  }
  return writers;
}

// After any number of cuts each writer's lines still in the file are exactly its last
// ones, each once and in order: a gap means a line written after a cut was lost.
void expectUnbrokenEndings(const std::map<std::string, std::vector<int>>& writers, int last) {
  for (const auto& [writer, numbers] : writers) {
    ASSERT_FALSE(numbers.empty());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      ASSERT_EQ(numbers[i], numbers.front() + static_cast<int>(i)) << "writer " << writer << " lost or repeated a line";
    }
    EXPECT_EQ(numbers.back(), last) << "writer " << writer;
  }
}

void runWriters(int writers, const std::function<void(int writer)>& body) {
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) threads.emplace_back(body, w);
  for (std::thread& thread : threads) thread.join();
}

TEST(LogThreads, EightWritersLoseNoLine) {
  Scene scene;
  runWriters(kWriters, [](int writer) {
    for (int n = 0; n < kLines; ++n)
      Diagnostics::log("writer " + std::to_string(writer) + " line " + std::to_string(n));
  });
  const auto lines = linesOf(fileText(Diagnostics::url()));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWriters * kLines));
  const auto writers = linesByWriter(lines, std::regex(R"(\d\d:\d\d:\d\d\.\d{3} writer (\d) line (\d+))"));
  ASSERT_EQ(writers.size(), static_cast<std::size_t>(kWriters));
  for (const auto& [writer, numbers] : writers) EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kLines));
  expectUnbrokenEndings(writers, kLines - 1);
}

TEST(LogThreads, CutsWhileOthersWriteLoseNothingWrittenAfterThem) {
  Scene scene;
  const std::string padding(150, '.');
  runWriters(kWriters, [&](int writer) {
    for (int n = 0; n < kLines; ++n) {
      Diagnostics::log("writer " + std::to_string(writer) + " line " + std::to_string(n) + " " + padding);
    }
  });
  const std::string text = fileText(Diagnostics::url());
  // 8,000 lines of 180 bytes need several cuts; the file ends up below the limit plus a line.
  EXPECT_LE(text.size(), Diagnostics::limit + 200);
  auto lines = linesOf(text);
  ASSERT_GT(lines.size(), 1u);
  lines.erase(lines.begin());  // the piece a cut left of an older line
  const auto writers = linesByWriter(lines, std::regex(R"(\d\d:\d\d:\d\d\.\d{3} writer (\d) line (\d+) \.{150})"));
  // A writer that finished early may have had all its lines cut away since; but one
  // writer's 180 kB cannot fill the quarter megabyte a cut keeps on its own.
  EXPECT_GE(writers.size(), 2u);
  expectUnbrokenEndings(writers, kLines - 1);
  std::size_t kept = 0;
  for (const auto& [writer, numbers] : writers) kept += numbers.size();
  EXPECT_LT(kept, static_cast<std::size_t>(kWriters * kLines)) << "no cut happened";
}

// Whether a descriptor other than `own` in this process has the file at `path` open.
bool openedElsewhere(const std::string& path, int own) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(folder)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == own || fd == ::dirfd(folder)) continue;
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == path) found = true;
  }
  ::closedir(folder);
  return found;
}

TEST(LogThreads, AWriterWaitingOnAReplacedFileWritesToItsSuccessor) {
  Scene scene;
  const std::string path = scene.path("Library/Logs/app.log");
  ASSERT_TRUE(LogFile::append(path, "old\n", Diagnostics::limit, Diagnostics::limit / 2));

  // Hold the lock as a cutting writer would, while another writer opens the file.
  const std::string resolved = std::filesystem::canonical(path).string();  // as /proc names it
  const int held = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::thread writer([&] { LogFile::append(path, "new\n", Diagnostics::limit, Diagnostics::limit / 2); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!openedElsewhere(resolved, held) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(openedElsewhere(resolved, held)) << "the writer never opened the file";

  // The cut puts a new file in place and lets go of the old one.
  ASSERT_TRUE(FileManager::writeAtomically(path, "kept tail\n"));
  ::flock(held, LOCK_UN);
  writer.join();

  EXPECT_EQ(fileText(path), "kept tail\nnew\n");
  char buffer[16] = {};
  EXPECT_EQ(::pread(held, buffer, sizeof buffer, 0), 4);
  EXPECT_STREQ(buffer, "old\n");  // nothing went into the file that was replaced
  ::close(held);
}

TEST(LogThreads, TwoProcessesAppendingAndCuttingLoseNothing) {
  Scene scene;
  const std::string path = scene.path("Library/Logs/Trelliq.log");
  constexpr int kEach = 2500;
  // Both writers meet before their last lines, so those interleave and fit in the kept
  // tail however the two processes are scheduled before that.
  constexpr int kTogether = 100;
  const std::string padding(200, '-');
  const auto write = [&](const char* who, int from, int to) {
    for (int n = from; n < to; ++n) {
      const std::string line = std::string(who) + " line " + std::to_string(n) + " " + padding + "\n";
      LogFile::append(path, line, Diagnostics::limit, Diagnostics::limit / 2);
    }
  };
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const auto meet = [](int tell, int hear) {
    char token = 'g';
    return ::write(tell, &token, 1) == 1 && ::read(hear, &token, 1) == 1;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!meet(toParent[1], toChild[0])) ::_exit(2);
    write("child", 0, kEach - kTogether);
    if (!meet(toParent[1], toChild[0])) ::_exit(2);
    write("child", kEach - kTogether, kEach);
    ::_exit(0);
  }
  ASSERT_TRUE(meet(toChild[1], toParent[0]));
  write("parent", 0, kEach - kTogether);
  ASSERT_TRUE(meet(toChild[1], toParent[0]));
  write("parent", kEach - kTogether, kEach);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);

  auto lines = linesOf(fileText(path));
  ASSERT_GT(lines.size(), 1u);
  lines.erase(lines.begin());
  const auto writers = linesByWriter(lines, std::regex(R"((child|parent) line (\d+) -{200})"));
  EXPECT_EQ(writers.size(), 2u);
  expectUnbrokenEndings(writers, kEach - 1);
}

TEST(LogThreads, SixtyFourProcessesAppendingAndCuttingLoseNoLineAndCutOnWholeLines) {
  Scene scene;
  const std::string path = scene.path("Library/Logs/Trelliq.log");
  constexpr int kProcesses = 64;
  constexpr int kEach = 150;
  // Small limits, so the file is cut every few dozen lines while everyone writes.
  constexpr std::uint64_t kCutAbove = 8192, kKeep = 4096;
  const std::string padding(60, '=');
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(start[1]);
      char go = 0;
      if (::read(start[0], &go, 1) != 1) ::_exit(200);
      int lost = 0;
      for (int n = 0; n < kEach; ++n) {
        const std::string line = "p" + std::to_string(p) + " line " + std::to_string(n) + " " + padding + "\n";
        if (!LogFile::append(path, line, kCutAbove, kKeep)) ++lost;
      }
      ::_exit(std::min(lost, 199));
    }
    children.push_back(child);
  }
  ::close(start[0]);
  // Everyone starts together.
  const std::string go(kProcesses, 'g');
  ASSERT_EQ(::write(start[1], go.data(), go.size()), static_cast<ssize_t>(go.size()));
  ::close(start[1]);
  int lost = 0;
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    lost += WEXITSTATUS(status);
  }
  EXPECT_EQ(lost, 0) << "lines given up on while others cut the file";

  // Every line left is whole, the first one included, and each writer's lines are its
  // newest ones without a gap.
  const auto lines = linesOf(fileText(path));
  ASSERT_FALSE(lines.empty());
  const auto writers = linesByWriter(lines, std::regex(R"(p(\d+) line (\d+) ={60})"));
  expectUnbrokenEndings(writers, kEach - 1);
  EXPECT_LE(fileText(path).size(), kCutAbove + 100);
}

}  // namespace
}  // namespace trelliq
