#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "platform/Files.h"

namespace platform {

namespace {

// A writer retries only when another writer cut the file between its open and its lock,
// which the lock makes rare and short; the bound only guards against a path something
// else keeps replacing.
constexpr int kAttempts = 10000;

// True when a test asked this operation on this path to fail; errno then says how.
bool injectedFault(FileOp op, const std::string& path) {
  if (const int error = FileFaults::check(op, path)) {
    errno = error;
    return true;
  }
  return false;
}

// An open file descriptor, closed (and so unlocked) when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Never waits on a pipe or device and never writes through a link.
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;

enum class Opened { file, link, unusable };

// Keeps the descriptor only when it is a plain file: a pipe would take the line away from
// the log, and a device could be anything.
Opened keepIfPlain(int fd, Descriptor& out) {
  Descriptor file(fd);
  struct stat st {};
  if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Opened::unusable;
  out = std::move(file);
  return Opened::file;
}

// Opens the file for appending. Only a file that does not exist is created (with its
// folder); one that exists but will not open, or is not a plain file, is left alone. A
// symbolic link at the path is reported, never followed.
Opened openForAppending(const std::string& path, Descriptor& out) {
  if (!injectedFault(FileOp::open, path)) {
    const int fd = ::open(path.c_str(), kAppendFlags);
    if (fd >= 0) return keepIfPlain(fd, out);
  }
  if (errno == ELOOP) return Opened::link;
  if (errno != ENOENT) return Opened::unusable;
  const std::string folder = parentPath(path);
  if (!FileManager::isDirectory(folder) && !FileManager::createDirectory(folder)) return Opened::unusable;
  if (injectedFault(FileOp::open, path)) return Opened::unusable;
  // No O_EXCL: when another writer created it meanwhile, both append to the same file.
  const int fd = ::open(path.c_str(), kAppendFlags | O_CREAT, 0644);
  if (fd < 0) return errno == ELOOP ? Opened::link : Opened::unusable;
  return keepIfPlain(fd, out);
}

bool lockExclusive(const Descriptor& file, const std::string& path) {
  if (injectedFault(FileOp::lock, path)) return false;
  while (::flock(file.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Whether the path still names the open file. A cut renames a new file over the path,
// and a writer that opened the old one before that must not write into it.
bool stillAtPath(const Descriptor& file, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  if (::fstat(file.get(), &opened) != 0) return false;
  if (injectedFault(FileOp::stat, path) || ::lstat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::optional<std::uint64_t> sizeBySeekingToEnd(const Descriptor& file, const std::string& path) {
  if (injectedFault(FileOp::seek, path)) return std::nullopt;
  const off_t end = ::lseek(file.get(), 0, SEEK_END);
  if (end < 0) return std::nullopt;
  return static_cast<std::uint64_t>(end);
}

// Appends the line whole or not at all. A full disk or the file-size limit can stop a
// write part-way; under the lock the file is then cut back to where the line began, so
// the next line never continues a broken one.
bool appendWhole(const Descriptor& file, const std::string& path, std::uint64_t size, std::string_view text,
                 bool locked) {
  if (!fitsFileSizeLimit(size + text.size())) return false;
  if (injectedFault(FileOp::write, path)) return false;
  auto rollBack = [&](int error) {
    if (locked) {
      [[maybe_unused]] const int rc = ::ftruncate(file.get(), static_cast<off_t>(size));
    }
    errno = error;
    return false;
  };
  // A test's stand-in for a disk that fills up part-way through the line.
  if (injectedFault(FileOp::partialWrite, path)) {
    const int error = errno;
    [[maybe_unused]] const ssize_t half = ::write(file.get(), text.data(), text.size() / 2);
    return rollBack(error);
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t written = ::write(file.get(), rest.data(), rest.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return rest.size() == text.size() ? false : rollBack(errno);
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Replaces the file (of `size` bytes) with its newest whole lines followed by `text`, by
// renaming a complete new file over it: a crash halfway leaves the old file whole. Only
// the kept part is read, so even a runaway file costs no more memory. False when nothing
// changed.
bool cutAndAppend(const std::string& path, std::uint64_t size, std::string_view text, std::uint64_t keep) {
  auto reader = FileHandle::forReading(path);
  // One byte before the kept part as well, to tell whether it starts a line.
  const std::uint64_t from = size > keep ? size - keep - 1 : 0;
  if (!reader || !reader->seek(from)) return false;
  const auto tail = reader->readToEnd();
  if (!tail) return false;
  std::string replacement(tail->begin() + static_cast<std::ptrdiff_t>(LogFile::lineStart(*tail, size > keep)),
                          tail->end());
  replacement += text;
  return FileManager::writeAtomically(path, replacement);
}

// Leftovers of a cut that was interrupted are swept once per process and path, and at
// every cut; only under the lock, where no other writer's cut can be under way.
void sweepOnce(const std::string& path) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard lock(mutex);
    if (!swept.insert(path).second) return;
  }
  FileManager::removeLeftoverTemporaries(path);
}

}  // namespace

bool LogFile::append(const std::string& path, std::string_view text, std::uint64_t cutAbove, std::uint64_t keep) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    Descriptor file;
    switch (openForAppending(path, file)) {
      case Opened::file:
        break;
      case Opened::link:
        // A link is replaced by a plain file, as a file that cannot be opened would be;
        // what it points at is never touched.
        if (FileManager::isSymbolicLink(path) && !FileManager::removeFile(path)) return false;
        continue;
      case Opened::unusable:
        return false;
    }
    // Best effort: where locks are not supported, appends stay whole thanks to O_APPEND
    // and only a cut could race another writer's line.
    const bool locked = lockExclusive(file, path);
    if (!stillAtPath(file, path)) continue;

    // Without the size, a cut cannot be decided; skipping keeps the file as it is.
    const auto size = sizeBySeekingToEnd(file, path);
    if (!size) return false;
    if (locked) sweepOnce(path);
    if (*size > cutAbove) {
      if (locked) FileManager::removeLeftoverTemporaries(path);
      if (cutAndAppend(path, *size, text, keep)) return true;
    }
    // An unreadable or unreplaceable file still gets the line, uncut.
    return appendWhole(file, path, *size, text, locked);
  }
  return false;
}

std::size_t LogFile::lineStart(const std::vector<std::uint8_t>& bytes, bool afterFirstByte) {
  if (!afterFirstByte) return 0;
  const auto feed = std::find(bytes.begin(), bytes.end(), static_cast<std::uint8_t>('\n'));
  return feed == bytes.end() ? bytes.size() : static_cast<std::size_t>(feed - bytes.begin()) + 1;
}

}  // namespace platform
