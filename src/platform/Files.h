#pragma once
// File access as the product uses it (file handles, the file manager, atomic
// writes). Every operation can be made to fail on demand through FileFaults, so
// tests can walk the error paths without a broken disk.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// `partialWrite` stands for a disk that fills up: where a writer honours it, half of the
/// bytes go in and the write then fails with the rule's error.
enum class FileOp {
  open,
  read,
  write,
  seek,
  truncate,
  lock,
  rename,
  createDirectory,
  list,
  remove,
  stat,
  partialWrite
};

/// Failures to inject. A rule matches an operation whose path ends with `pathSuffix`
/// (an empty suffix matches every path) and fails it with `error` (an errno value),
/// `times` times (negative: until cleared). Thread-safe.
class FileFaults {
 public:
  static void fail(FileOp op, std::string pathSuffix, int error = 5 /* EIO */, int times = -1);
  static void clear();
  /// The errno to fail with, or 0 to go ahead; consumes one use of the matching rule.
  static int check(FileOp op, const std::string& path);
};

/// An open file. Methods answer false / nothing on failure and set `lastError`.
class FileHandle {
 public:
  /// Opens an existing file for writing (never creates it), like the system's
  /// FileHandle(forWritingTo:). `append` adds O_APPEND so every write lands at the end.
  static std::optional<FileHandle> forWriting(const std::string& path, bool append = false);
  static std::optional<FileHandle> forReading(const std::string& path);
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  /// Moves to the end; the new offset (the file's size), or nothing.
  std::optional<std::uint64_t> seekToEnd();
  std::optional<std::uint64_t> seek(std::uint64_t offset);
  std::optional<std::vector<std::uint8_t>> readToEnd();
  bool write(const void* bytes, std::size_t count);
  bool write(const std::string& text) { return write(text.data(), text.size()); }
  bool truncate(std::uint64_t length);
  /// An advisory exclusive lock on the whole file (flock), released by unlock or close.
  bool lock();
  void unlock();
  void close();

  const std::string& path() const { return path_; }
  int lastError() const { return lastError_; }

 private:
  friend class FileManager;
  FileHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
  int lastError_ = 0;
};

/// What came of reading a file that must be a plain file of bounded size.
struct FileRead {
  enum class Problem {
    none,
    missing,     // nothing at the path
    notRegular,  // a folder, a pipe, a device, a socket, or a symbolic link (never followed)
    tooLarge,    // larger than the reader allows; `size` says how large
    unreadable,  // there, plain, but it will not open or read; `error` says why
  };
  Problem problem = Problem::none;
  int error = 0;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> bytes;
  explicit operator bool() const { return problem == Problem::none; }
};

/// Whole-file and folder operations.
class FileManager {
 public:
  /// The home folder of the simulated user; tests point it at a temporary folder.
  static std::string homeDirectory();
  static void setHomeDirectory(const std::string& path);

  static bool fileExists(const std::string& path);
  static bool isDirectory(const std::string& path);
  /// Creates the folder and any missing parents; true when it exists afterwards.
  static bool createDirectory(const std::string& path, bool withIntermediates = true);
  /// File names (not paths) in a folder; nothing when it cannot be listed.
  static std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path);
  static bool removeItem(const std::string& path);
  static bool moveItem(const std::string& from, const std::string& to);
  /// Last modification time, seconds since 1970.
  static std::optional<double> modificationDate(const std::string& path);
  static std::optional<std::uint64_t> fileSize(const std::string& path);
  static std::optional<std::vector<std::uint8_t>> contents(const std::string& path);
  /// Reads a plain file of at most `limit` bytes. Never follows a symbolic link at `path`
  /// and never waits on a pipe or device: such a file is `notRegular`. The size is checked
  /// before anything is read, so a huge or sparse file costs nothing.
  static FileRead readRegularFile(const std::string& path, std::uint64_t limit);
  /// Whether `path` itself (not what a link there points at) is a symbolic link.
  static bool isSymbolicLink(const std::string& path);
  /// Whether `path` itself is a plain file; a link to one is not.
  static bool isRegularFile(const std::string& path);
  /// Removes the one thing at `path` when it is not a folder; a link is removed, not what
  /// it points at. Never recurses.
  static bool removeFile(const std::string& path);
  /// Writes `bytes` to a temporary file beside `path` (".NAME.tmp-XXXXXX") and renames it
  /// over `path`; a link at `path` is replaced, never written through. Only a plain file or
  /// a link is replaced: a folder fails with EISDIR, a pipe, device or socket with EINVAL.
  /// Fails with EFBIG, writing nothing, when the file would pass the process's file-size limit.
  static bool writeAtomically(const std::string& path, const void* bytes, std::size_t count);
  static bool writeAtomically(const std::string& path, const std::string& text) {
    return writeAtomically(path, text.data(), text.size());
  }
  /// Writes a report or picture to a path the user named. A path that names an open
  /// descriptor of the program ("/dev/stdout", "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N",
  /// or a link to one) is written through that descriptor at its position, whatever it is
  /// open on, so a file the shell opened keeps what came before and after. Otherwise a new
  /// path or a plain file is replaced atomically (a link is followed to the plain file it
  /// names, and the link stays); a pipe, terminal or other character device is written to
  /// directly, waiting for a pipe's reader. A reader that leaves early fails the write with
  /// EPIPE, never the program. A folder fails with EISDIR; anything else (a socket, a block
  /// device) is refused with EINVAL and `refused` set to what it is ("a socket", "a block
  /// device").
  static bool writeOutput(const std::string& path, const void* bytes, std::size_t count,
                          std::string* refused = nullptr);
  /// Removes the temporary files an interrupted writeAtomically of `path` left behind.
  /// Only for a caller that holds the lock every writer of `path` takes, so that no live
  /// write's file is taken away. How many were removed.
  static int removeLeftoverTemporaries(const std::string& path);
};

/// An advisory lock on a folder (flock), held for the object's life, so that processes
/// writing and tidying files in it never interleave. Only a folder is opened, without
/// waiting: a pipe in its place could otherwise hold the open for good.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  /// Whether a folder stood at the path and could be opened.
  bool opened() const { return fd_ >= 0; }
  /// Whether the lock is held (some file systems refuse locks).
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

/// Opens the plain file at `path` with `flags` (O_CREAT makes one with `mode` when nothing
/// is there), as the program's fixed files are opened: never through a symbolic link at the
/// path and never waiting on a pipe or device. With O_CREAT a link there is replaced by a
/// new plain file; anything else that is no plain file fails with EINVAL. The descriptor
/// (close-on-exec), or -1 with errno set. Any thread.
int openPlainFile(const std::string& path, int flags, mode_t mode = 0600);

/// Whether a file may grow to `size` bytes under the process's file-size limit. Writing
/// past it would end the process by SIGXFSZ or leave a piece of the write behind.
bool fitsFileSizeLimit(std::uint64_t size);

/// Joins path components with single slashes.
std::string joinPath(const std::string& a, const std::string& b);
/// The path without its last component.
std::string parentPath(const std::string& path);

}  // namespace platform
