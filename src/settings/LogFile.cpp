#include "settings/LogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/Files.h"

namespace trelliq {

using platform::FileFaults;
using platform::FileManager;
using platform::FileOp;

namespace {

// A path that a cut elsewhere keeps replacing is given up on after this many tries;
// each replacement takes a quarter megabyte of new text, so a few are plenty.
constexpr int kAttempts = 4;

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

// Opens the file for appending. Only a file that does not exist is created (with its
// folder); one that exists but will not open is left alone.
Descriptor openForAppending(const std::string& path) {
  if (!injectedFault(FileOp::open, path)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) return Descriptor(fd);
  }
  if (errno != ENOENT) return Descriptor();
  const std::string folder = platform::parentPath(path);
  if (!FileManager::isDirectory(folder) && !FileManager::createDirectory(folder)) return Descriptor();
  if (injectedFault(FileOp::open, path)) return Descriptor();
  // No O_EXCL: when another writer created it meanwhile, both append to the same file.
  return Descriptor(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
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
  if (injectedFault(FileOp::stat, path) || ::stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::optional<std::uint64_t> sizeBySeekingToEnd(const Descriptor& file, const std::string& path) {
  if (injectedFault(FileOp::seek, path)) return std::nullopt;
  const off_t end = ::lseek(file.get(), 0, SEEK_END);
  if (end < 0) return std::nullopt;
  return static_cast<std::uint64_t>(end);
}

bool writeAll(const Descriptor& file, const std::string& path, std::string_view text) {
  if (injectedFault(FileOp::write, path)) return false;
  while (!text.empty()) {
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Replaces the file (of `size` bytes) with its newest part followed by `text`, by renaming
// a complete new file over it: a crash halfway leaves the old file whole. Only the kept
// part is read, so even a runaway file costs no more memory. False when nothing changed.
bool cutAndAppend(const std::string& path, std::uint64_t size, std::string_view text, std::uint64_t keep) {
  auto reader = platform::FileHandle::forReading(path);
  if (!reader || !reader->seek(size > keep ? size - keep : 0)) return false;
  const auto tail = reader->readToEnd();
  if (!tail) return false;
  std::string replacement(tail->begin() + static_cast<std::ptrdiff_t>(LogFile::characterStart(*tail)), tail->end());
  replacement += text;
  return FileManager::writeAtomically(path, replacement);
}

}  // namespace

bool LogFile::append(const std::string& path, std::string_view text, std::uint64_t cutAbove, std::uint64_t keep) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    Descriptor file = openForAppending(path);
    if (!file) return false;
    // Best effort: where locks are not supported, appends stay whole thanks to O_APPEND
    // and only a cut could race another writer's line.
    lockExclusive(file, path);
    if (!stillAtPath(file, path)) continue;

    // Without the size, a cut cannot be decided; skipping keeps the file as it is.
    const auto size = sizeBySeekingToEnd(file, path);
    if (!size) return false;
    if (*size > cutAbove && cutAndAppend(path, *size, text, keep)) return true;
    // An unreadable or unreplaceable file still gets the line, uncut.
    return writeAll(file, path, text);
  }
  return false;
}

std::size_t LogFile::characterStart(const std::vector<std::uint8_t>& bytes) {
  // A character is at most four bytes, so at most three continuation bytes are skipped,
  // even in text that is not valid UTF-8.
  std::size_t start = 0;
  while (start < 3 && start < bytes.size() && (bytes[start] & 0xC0) == 0x80) ++start;
  return start;
}

}  // namespace trelliq
