// Appending to a text file that is cut when it grows: where a cut starts, and the
// failures that must leave the file as it was.

#include <gtest/gtest.h>

#include <cerrno>
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

TEST_F(LogFileTest, ACutStartsOnACharacterBoundary) {
  // Characters of two, three and four bytes, placed so the plain cut would land inside them.
  for (const std::string character : {"\xc3\xa9", "\xe2\x8c\x98", "\xf0\x9f\x98\x80"}) {
    for (std::size_t inside = 1; inside < character.size(); ++inside) {
      const std::string head(kLimit + 10 - (kKeep + inside), 'h');
      std::string old = head + character;
      old += std::string(kLimit + 10 - old.size(), 't');
      put(old);
      append("new\n");
      EXPECT_EQ(read(), old.substr(head.size() + character.size()) + "new\n")
          << character.size() << "-byte character cut after " << inside;
    }
  }
  // Text that is not UTF-8 at all loses at most three more bytes.
  EXPECT_EQ(LogFile::characterStart(std::vector<std::uint8_t>(100, 0x80)), 3u);
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

}  // namespace
}  // namespace trelliq
