// Appending to a text file that is cut when it grows: where a cut starts, and the
// failures that must leave the file as it was.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "settings/LogFile.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::FileFaults;
using platform::FileManager;
using platform::FileOp;

constexpr std::uint64_t kLimit = 0x80000;
constexpr std::uint64_t kKeep = 0x40000;

class LogFileTest : public ::testing::Test {
 protected:
  std::string read() const {
    const auto bytes = FileManager::contents(path_);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
  }
  void put(const std::string& text) const {
    std::filesystem::create_directories(platform::parentPath(path_));
    ASSERT_TRUE(FileManager::writeAtomically(path_, text));
  }
  bool append(const std::string& line) const { return LogFile::append(path_, line, kLimit, kKeep); }

  // Text of `size` bytes in numbered lines, so any cut-off piece tells where it came from.
  static std::string numberedText(std::size_t size) {
    std::string text;
    for (int n = 0; text.size() < size; ++n) text += "old line " + std::to_string(n) + "\n";
    text.resize(size);
    return text;
  }

  Scene scene_;
  const std::string path_ = scene_.path("Library/Logs/app.log");
};

TEST_F(LogFileTest, ACutKeepsOnlyWholeLines) {
  struct Row {
    const char* what;
    std::string old;
    std::string kept;
  };
  const std::string filler(kLimit + 10 - kKeep, 'f');
  const std::string keptLines = std::string(kKeep - 20, 'k') + "\n" + std::string(18, 'l') + "\n";
  const std::string longLine(kLimit + 10, 'x');
  const Row rows[] = {
      {"the cut falls inside a line", filler + "partial\n" + std::string(kKeep - 8, 'y') + "\n" + "z\n",
       std::string(kKeep - 8, 'y') + "\nz\n"},
      {"the cut falls just after a line feed", std::string(filler.size() - 1, 'f') + "\n" + keptLines, keptLines},
      {"no line feed in the kept part", std::string(10, 'a') + "\n" + longLine, ""},
      {"inside a character", filler + "\xe2\x8c\x98\n" + std::string(kKeep - 3, 'c') + "\n",
       std::string(kKeep - 3, 'c') + "\n"},
  };
  for (const Row& row : rows) {
    ASSERT_GT(row.old.size(), kLimit) << row.what;
    put(row.old);
    EXPECT_TRUE(append("new\n"));
    const std::string text = read();
    EXPECT_EQ(text.size(), row.kept.size() + 4) << row.what;
    EXPECT_TRUE(text == row.kept + "new\n") << row.what;
  }
}

TEST_F(LogFileTest, AFileThatWillNotOpenSeekOrGetItsFolderIsLeftAlone) {
  struct Row {
    FileOp op;
    const char* suffix;
    int error;
  };
  for (const Row row : {Row{FileOp::open, "app.log", EACCES}, Row{FileOp::seek, "app.log", EIO}}) {
    put("kept\n");
    FileFaults::fail(row.op, row.suffix, row.error, 1);
    EXPECT_FALSE(append("lost\n"));
    EXPECT_EQ(read(), "kept\n") << static_cast<int>(row.op);  // never written at the start
  }
  std::filesystem::remove_all(scene_.path("Library"));
  FileFaults::fail(FileOp::createDirectory, "Logs", EACCES, 1);
  EXPECT_FALSE(append("lost\n"));
  EXPECT_FALSE(FileManager::fileExists(path_));

  // Where locks are not to be had, the line still goes in.
  put("a\n");
  FileFaults::fail(FileOp::lock, "app.log", ENOLCK, 1);
  EXPECT_TRUE(append("b\n"));
  EXPECT_EQ(read(), "a\nb\n");
}

TEST_F(LogFileTest, ACutThatFailsHalfwayLeavesTheOldFileWhole) {
  const std::string old = numberedText(kLimit + 1);
  put(old);
  // The replacement is written but cannot be put in place: the line goes to the uncut file.
  FileFaults::fail(FileOp::rename, "app.log", EIO, 1);
  EXPECT_TRUE(append("new\n"));
  EXPECT_EQ(read(), old + "new\n");
  // Nothing half-written is left beside the log.
  EXPECT_EQ(FileManager::contentsOfDirectory(platform::parentPath(path_)), std::vector<std::string>{"app.log"});

  // Reading the file for the cut fails: the line is still appended, uncut.
  FileFaults::fail(FileOp::read, "app.log", EIO, 1);
  EXPECT_TRUE(append("more\n"));
  EXPECT_EQ(read(), old + "new\nmore\n");

  // Both the replacement and the plain append fail: the file stays as it was.
  FileFaults::fail(FileOp::write, "app.log", ENOSPC);
  EXPECT_FALSE(append("lost\n"));
  FileFaults::clear();
  EXPECT_EQ(read(), old + "new\nmore\n");
}

TEST_F(LogFileTest, APipeFolderOrDeviceAtThePathNeverTakesTheLine) {
  std::filesystem::create_directories(platform::parentPath(path_));
  // A pipe with a reader: a blocking open would succeed and hand the line to the reader.
  ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
  const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_FALSE(append("line\n"));
  char buffer[16];
  EXPECT_LE(::read(reader, buffer, sizeof buffer), 0) << "the line went into the pipe";
  ::close(reader);
  // Without a reader, the open alone would wait for one for ever.
  EXPECT_FALSE(append("line\n"));
  std::filesystem::remove(path_);

  std::filesystem::create_directory(path_);
  EXPECT_FALSE(append("line\n"));
  EXPECT_TRUE(FileManager::isDirectory(path_));
}

TEST_F(LogFileTest, ALinkAtThePathIsReplacedNeverFollowed) {
  const std::string outside = scene_.path("elsewhere/photos.txt");
  std::filesystem::create_directories(platform::parentPath(outside));
  std::filesystem::create_directories(platform::parentPath(path_));
  ASSERT_TRUE(FileManager::writeAtomically(outside, std::string(kLimit + 100, 'p')));
  std::filesystem::create_symlink(outside, path_);
  EXPECT_TRUE(append("line\n"));
  EXPECT_FALSE(FileManager::isSymbolicLink(path_));
  EXPECT_EQ(read(), "line\n");
  EXPECT_EQ(FileManager::fileSize(outside), kLimit + 100) << "the link's target was written";

  // A link to nothing is not made into a file there either.
  std::filesystem::remove(path_);
  const std::string missing = scene_.path("elsewhere/new.txt");
  std::filesystem::create_symlink(missing, path_);
  EXPECT_TRUE(append("again\n"));
  EXPECT_FALSE(FileManager::fileExists(missing));
  EXPECT_EQ(read(), "again\n");
}

TEST_F(LogFileTest, ALineThatDoesNotFitIsTakenBackWhole) {
  put("a\n");
  FileFaults::fail(FileOp::partialWrite, "app.log", ENOSPC, 1);
  EXPECT_FALSE(append("a line the disk had no room for\n"));
  EXPECT_EQ(read(), "a\n");
  EXPECT_TRUE(append("b\n"));
  EXPECT_EQ(read(), "a\nb\n") << "the next line starts a line of its own";
}

TEST_F(LogFileTest, TheFileSizeLimitNeitherTearsALineNorEndsTheProcess) {
  put("0123456789\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // SIGXFSZ as it comes: the process dies when a write passes the limit.
    std::signal(SIGXFSZ, SIG_DFL);
    const struct rlimit small { 20, 20 };
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(3);
    const bool first = append("a line too long to fit\n");
    const bool second = append("short\n");
    ::_exit(!first && second ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  EXPECT_EQ(read(), "0123456789\nshort\n");
}

TEST_F(LogFileTest, LeftoversOfAnInterruptedCutAreRemovedWhenSeen) {
  put("a\n");
  const std::string folder = platform::parentPath(path_);
  ASSERT_TRUE(FileManager::writeAtomically(folder + "/.app.log.tmp-Ab12Cd", "half a cut"));
  ASSERT_TRUE(FileManager::writeAtomically(folder + "/.app.log.tmp-notours", "someone else's"));
  ASSERT_TRUE(FileManager::writeAtomically(folder + "/.other.log.tmp-Ab12Cd", "another file's"));
  EXPECT_TRUE(append("b\n"));
  EXPECT_EQ(FileManager::contentsOfDirectory(folder),
            (std::vector<std::string>{".app.log.tmp-notours", ".other.log.tmp-Ab12Cd", "app.log"}));
}

}  // namespace
}  // namespace trelliq
