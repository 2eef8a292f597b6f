#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "platform/Files.h"
#include "support/Scene.h"

using platform::FileFaults;
using platform::FileHandle;
using platform::FileManager;
using platform::FileOp;

namespace {

std::string text(const std::string& path) {
  auto bytes = FileManager::contents(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
}

}  // namespace

TEST(FileFaultsTest, RulesMatchByOperationAndSuffixAndRunOut) {
  Scene scene;
  const std::string log = scene.path("log.txt"), other = scene.path("other.txt");
  ASSERT_TRUE(FileManager::writeAtomically(log, "a"));
  ASSERT_TRUE(FileManager::writeAtomically(other, "b"));

  FileFaults::fail(FileOp::read, "log.txt", EACCES, 2);
  EXPECT_FALSE(FileManager::contents(log));
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(text(other), "b");  // another path is untouched
  EXPECT_FALSE(FileManager::contents(log));
  EXPECT_EQ(text(log), "a");  // used up after two failures

  FileFaults::fail(FileOp::open, "", EIO);
  EXPECT_FALSE(FileHandle::forReading(other));
  EXPECT_FALSE(FileHandle::forWriting(log));
  FileFaults::clear();
  EXPECT_TRUE(FileHandle::forReading(other));
}

TEST(FileHandleTest, WritingNeverCreatesAndAppendAlwaysLandsAtTheEnd) {
  Scene scene;
  const std::string path = scene.path("notes.txt");
  EXPECT_FALSE(FileHandle::forWriting(path));
  EXPECT_FALSE(FileManager::fileExists(path));

  ASSERT_TRUE(FileManager::writeAtomically(path, "0123456789"));
  {
    auto plain = FileHandle::forWriting(path);
    ASSERT_TRUE(plain);
    ASSERT_TRUE(plain->seek(2));
    ASSERT_TRUE(plain->write("ab"));
  }
  EXPECT_EQ(text(path), "01ab456789");
  {
    auto append = FileHandle::forWriting(path, /*append=*/true);
    ASSERT_TRUE(append);
    ASSERT_TRUE(append->seek(0));
    ASSERT_TRUE(append->write("!"));
  }
  EXPECT_EQ(text(path), "01ab456789!");
}

TEST(FileHandleTest, CuttingAFileKeepsWritingFromTheNewEnd) {
  Scene scene;
  const std::string path = scene.path("cut.txt");
  ASSERT_TRUE(FileManager::writeAtomically(path, "old old old"));
  auto handle = FileHandle::forWriting(path);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->seekToEnd(), 11u);
  ASSERT_TRUE(handle->seek(0));
  auto all = handle->readToEnd();
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 11u);
  ASSERT_TRUE(handle->truncate(0));
  ASSERT_TRUE(handle->write("new"));
  handle->close();
  // No hole of zero bytes before the new text.
  EXPECT_EQ(text(path), "new");

  auto failing = FileHandle::forWriting(path);
  FileFaults::fail(FileOp::write, "cut.txt", ENOSPC, 1);
  EXPECT_FALSE(failing->write("x"));
  EXPECT_EQ(failing->lastError(), ENOSPC);
  EXPECT_TRUE(failing->write("y"));
}

TEST(FileManagerTest, AtomicWriteReplacesWholeOrNotAtAll) {
  Scene scene;
  const std::string path = scene.path("Library/data.txt");
  ASSERT_TRUE(FileManager::createDirectory(scene.path("Library")));
  ASSERT_TRUE(FileManager::writeAtomically(path, "first"));
  ::chmod(path.c_str(), 0600);
  ASSERT_TRUE(FileManager::writeAtomically(path, "second"));
  EXPECT_EQ(text(path), "second");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  for (FileOp op : {FileOp::open, FileOp::write, FileOp::rename}) {
    FileFaults::fail(op, "data.txt", EIO, 1);
    EXPECT_FALSE(FileManager::writeAtomically(path, "third"));
    EXPECT_EQ(text(path), "second");
  }
  // A path that names a folder, or no file at all, is refused without a temporary file.
  for (const std::string folder : {std::string("/"), scene.path("Library/"), scene.path("Library//"), std::string()}) {
    errno = 0;
    EXPECT_FALSE(FileManager::writeAtomically(folder, "x")) << folder;
    EXPECT_EQ(errno, folder.empty() ? ENOENT : EISDIR) << folder;
  }
  // No temporary file is left behind by the failures.
  EXPECT_EQ(FileManager::contentsOfDirectory(scene.path("Library")), std::vector<std::string>{"data.txt"});
}

TEST(FileManagerTest, FoldersMovesAndRemovals) {
  Scene scene;
  const std::string deep = scene.path("a/b/c");
  EXPECT_TRUE(FileManager::createDirectory(deep));
  EXPECT_TRUE(FileManager::isDirectory(deep));
  EXPECT_TRUE(FileManager::createDirectory(deep));  // already there is fine
  EXPECT_FALSE(FileManager::createDirectory(scene.path("x/y"), /*withIntermediates=*/false));

  ASSERT_TRUE(FileManager::writeAtomically(scene.path("a/z.txt"), "z"));
  ASSERT_TRUE(FileManager::writeAtomically(scene.path("a/m.txt"), "m"));
  EXPECT_EQ(FileManager::contentsOfDirectory(scene.path("a")), (std::vector<std::string>{"b", "m.txt", "z.txt"}));
  EXPECT_FALSE(FileManager::contentsOfDirectory(scene.path("missing")));

  // A move never replaces what is already there.
  EXPECT_FALSE(FileManager::moveItem(scene.path("a/z.txt"), scene.path("a/m.txt")));
  EXPECT_EQ(text(scene.path("a/m.txt")), "m");
  EXPECT_TRUE(FileManager::moveItem(scene.path("a/z.txt"), scene.path("a/y.txt")));
  EXPECT_EQ(FileManager::fileSize(scene.path("a/y.txt")), 1u);

  EXPECT_TRUE(FileManager::removeItem(scene.path("a")));
  EXPECT_FALSE(FileManager::fileExists(scene.path("a")));
  EXPECT_FALSE(FileManager::removeItem(scene.path("a")));
}

TEST(FileManagerTest, HomeFolderIsTheScenesUntilReset) {
  {
    Scene scene;
    EXPECT_EQ(FileManager::homeDirectory(), scene.home);
    EXPECT_TRUE(FileManager::isDirectory(scene.home));
  }
  const char* home = std::getenv("HOME");
  EXPECT_EQ(FileManager::homeDirectory(), home && *home ? std::string(home) : "/");
}

TEST(PathsTest, JoinAndParent) {
  EXPECT_EQ(platform::joinPath("/home/u", "Library/Logs"), "/home/u/Library/Logs");
  EXPECT_EQ(platform::joinPath("/home/u/", "/Library"), "/home/u/Library");
  EXPECT_EQ(platform::joinPath("/", "tmp"), "/tmp");
  EXPECT_EQ(platform::joinPath("", "tmp"), "tmp");
  EXPECT_EQ(platform::parentPath("/home/u/Library/Logs/Trelliq.log"), "/home/u/Library/Logs");
  EXPECT_EQ(platform::parentPath("/home/u/"), "/home");
  EXPECT_EQ(platform::parentPath("/tmp"), "/");
  EXPECT_EQ(platform::parentPath("file"), "");
}

TEST(FileManagerTest, ReadingAPlainFileRefusesEverythingElseWithoutWaiting) {
  Scene scene;
  const std::string plain = scene.path("plain.txt"), pipe = scene.path("pipe"), folder = scene.path("folder"),
                    link = scene.path("link"), big = scene.path("big");
  ASSERT_TRUE(FileManager::writeAtomically(plain, "hello"));
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);  // no writer: a blocking open would wait for ever
  ASSERT_TRUE(FileManager::createDirectory(folder));
  ASSERT_EQ(::symlink(plain.c_str(), link.c_str()), 0);
  ASSERT_TRUE(FileManager::writeAtomically(big, std::string(101, 'b')));
  using Problem = platform::FileRead::Problem;
  const struct {
    std::string path;
    Problem problem;
  } rows[] = {{plain, Problem::none},      {scene.path("missing"), Problem::missing},
              {pipe, Problem::notRegular}, {folder, Problem::notRegular},
              {link, Problem::notRegular}, {big, Problem::tooLarge}};
  for (const auto& row : rows) {
    const platform::FileRead read = FileManager::readRegularFile(row.path, 100);
    EXPECT_EQ(read.problem, row.problem) << row.path;
    EXPECT_EQ(read.bytes.empty(), row.problem != Problem::none) << row.path;
  }
  EXPECT_EQ(FileManager::readRegularFile(big, 100).size, 101u);
  EXPECT_EQ(FileManager::readRegularFile(big, 101).bytes.size(), 101u);

  // Removing a file never goes through a link or into a folder.
  EXPECT_TRUE(FileManager::removeFile(link));
  EXPECT_TRUE(FileManager::fileExists(plain));
  EXPECT_FALSE(FileManager::removeFile(folder));
  EXPECT_TRUE(FileManager::isDirectory(folder));
}

namespace {

mode_t kindAt(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

}  // namespace

// A report sent to a device or a pipe goes into it; the node itself is never replaced.
TEST(FileOutputTest, ADeviceTakesTheBytesAndASocketOrFolderIsRefused) {
  Scene scene;
  EXPECT_TRUE(FileManager::writeOutput("/dev/null", "report", 6));
  EXPECT_EQ(kindAt("/dev/null"), S_IFCHR);
  errno = 0;
  EXPECT_FALSE(FileManager::writeOutput("/dev/full", "report", 6));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(kindAt("/dev/full"), S_IFCHR);

  const std::string socketPath = scene.path("s");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string folder = scene.path("folder");
  ASSERT_TRUE(FileManager::createDirectory(folder));
  for (const auto& [path, kind, what] : {std::tuple{socketPath, S_IFSOCK, "a socket"}, {folder, S_IFDIR, ""}}) {
    std::string refused;
    EXPECT_FALSE(FileManager::writeOutput(path, "x", 1, &refused));
    EXPECT_EQ(refused, what);
    EXPECT_EQ(kindAt(path), kind);
    // The program's own files are never renamed over one either.
    EXPECT_FALSE(FileManager::writeAtomically(path, "x"));
    EXPECT_EQ(kindAt(path), kind);
  }
  ::close(listener);

  // A link to a plain file: the file takes the report, the link stays.
  const std::string file = scene.path("out.txt"), link = scene.path("link");
  ASSERT_TRUE(FileManager::writeAtomically(file, "old"));
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  EXPECT_TRUE(FileManager::writeOutput(link, "new", 3));
  EXPECT_EQ(kindAt(link), S_IFLNK);
  EXPECT_EQ(text(file), "new");
}

TEST(FileOutputThreadsTest, APipeGivesItsReaderTheWholeReportAndStaysAPipe) {
  Scene scene;
  const std::string pipe = scene.path("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string report(200000, 'r');  // more than a pipe holds: the writer waits on the reader
  std::string received;
  std::thread reader([&] {
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    if (fd >= 0) ::close(fd);
  });
  EXPECT_TRUE(FileManager::writeOutput(pipe, report.data(), report.size()));
  // Lets the reader go should the write never have opened the pipe.
  if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
  reader.join();
  EXPECT_EQ(received, report);
  EXPECT_EQ(kindAt(pipe), S_IFIFO);
  EXPECT_FALSE(FileManager::writeAtomically(pipe, "x"));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(kindAt(pipe), S_IFIFO);
}

// A report sent to the program's own standard output (or any descriptor it holds) lands
// where that descriptor stands: what the shell wrote before and after stays in the file.
TEST(FileOutputTest, APathNamingAnOpenDescriptorIsWrittenThroughItWhereItStands) {
  Scene scene;
  const std::string log = scene.path("app.log"), link = scene.path("out");
  ASSERT_TRUE(FileManager::writeAtomically(log, "earlier\n"));
  struct stat before {};
  ASSERT_EQ(::stat(log.c_str(), &before), 0);
  // As ">> app.log" opens it, and as "> f" does after the shell's first echo.
  const int appending = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const std::string second = scene.path("f");
  const int positioned = ::open(second.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(appending, 0);
  ASSERT_GE(positioned, 0);
  ASSERT_EQ(::write(positioned, "HEADER\n", 7), 7);
  const std::string viaProc = "/proc/self/fd/" + std::to_string(appending);
  ASSERT_EQ(::symlink(("/dev/fd/" + std::to_string(appending)).c_str(), link.c_str()), 0);
  EXPECT_TRUE(FileManager::writeOutput(viaProc, "one\n", 4));
  EXPECT_TRUE(FileManager::writeOutput(link, "two\n", 4));
  EXPECT_TRUE(FileManager::writeOutput("/dev//fd/./" + std::to_string(positioned), "report\n", 7));
  ASSERT_EQ(::write(positioned, "FOOTER\n", 7), 7);
  struct stat after {};
  ASSERT_EQ(::stat(log.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
  EXPECT_EQ(text(log), "earlier\none\ntwo\n");
  EXPECT_EQ(text(second), "HEADER\nreport\nFOOTER\n");
  EXPECT_EQ(kindAt(link), S_IFLNK);

  ::close(positioned);
  errno = 0;
  EXPECT_FALSE(FileManager::writeOutput("/dev/fd/" + std::to_string(positioned), "x", 1)) << "closed by now";
  EXPECT_EQ(errno, EBADF);
  ::close(appending);
}

// A reader that leaves after a few bytes fails the write, as a full disk would; the
// program goes on to say so.
TEST(FileOutputThreadsTest, AReaderThatLeavesEarlyFailsTheWriteAndNotTheProgram) {
  Scene scene;
  const std::string pipe = scene.path("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // As a shell starts the program: a reader's leaving would end it.
  struct sigaction previous {};
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  ASSERT_EQ(::sigaction(SIGPIPE, &fatal, &previous), 0);
  std::thread reader([&] {
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[100];
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
  });
  const std::string report(1 << 20, 'r');  // more than a pipe holds
  errno = 0;
  const bool written = FileManager::writeOutput(pipe, report.data(), report.size());
  const int error = errno;
  reader.join();
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, EPIPE);
}
