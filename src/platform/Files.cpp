#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Fault injection

namespace {

struct FaultRule {
  FileOp op;
  std::string pathSuffix;
  int error;
  int times;
};

std::mutex gFaultsMutex;
std::vector<FaultRule> gFaults;

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void FileFaults::fail(FileOp op, std::string pathSuffix, int error, int times) {
  if (times == 0) return;
  std::lock_guard lock(gFaultsMutex);
  gFaults.push_back({op, std::move(pathSuffix), error, times});
}

void FileFaults::clear() {
  std::lock_guard lock(gFaultsMutex);
  gFaults.clear();
}

int FileFaults::check(FileOp op, const std::string& path) {
  std::lock_guard lock(gFaultsMutex);
  for (auto it = gFaults.begin(); it != gFaults.end(); ++it) {
    if (it->op != op || !endsWith(path, it->pathSuffix)) continue;
    const int error = it->error;
    if (it->times > 0 && --it->times == 0) gFaults.erase(it);
    return error;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// FileHandle

namespace {

// Fails with the injected error, when there is one, the way a system call would.
bool injected(FileOp op, const std::string& path, int& lastError) {
  if (int e = FileFaults::check(op, path)) {
    lastError = e;
    errno = e;
    return true;
  }
  return false;
}

int openRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::optional<FileHandle> FileHandle::forWriting(const std::string& path, bool append) {
  int error = 0;
  if (injected(FileOp::open, path, error)) return std::nullopt;
  const int extra = append ? O_APPEND : 0;
  // Readable as well when the file allows it, so a writer can take the file's content back in.
  int fd = openRetrying(path, O_RDWR | extra);
  if (fd < 0 && errno == EACCES) fd = openRetrying(path, O_WRONLY | extra);
  if (fd < 0) return std::nullopt;
  return FileHandle(fd, path);
}

std::optional<FileHandle> FileHandle::forReading(const std::string& path) {
  int error = 0;
  if (injected(FileOp::open, path, error)) return std::nullopt;
  const int fd = openRetrying(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  return FileHandle(fd, path);
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), lastError_(other.lastError_) {
  other.fd_ = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    lastError_ = other.lastError_;
    other.fd_ = -1;
  }
  return *this;
}

FileHandle::~FileHandle() { close(); }

std::optional<std::uint64_t> FileHandle::seekToEnd() {
  if (fd_ < 0) return std::nullopt;
  if (injected(FileOp::seek, path_, lastError_)) return std::nullopt;
  const off_t at = ::lseek(fd_, 0, SEEK_END);
  if (at < 0) {
    lastError_ = errno;
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(at);
}

std::optional<std::uint64_t> FileHandle::seek(std::uint64_t offset) {
  if (fd_ < 0) return std::nullopt;
  if (injected(FileOp::seek, path_, lastError_)) return std::nullopt;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
  if (at < 0) {
    lastError_ = errno;
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(at);
}

std::optional<std::vector<std::uint8_t>> FileHandle::readToEnd() {
  if (fd_ < 0) return std::nullopt;
  if (injected(FileOp::read, path_, lastError_)) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

bool FileHandle::write(const void* bytes, std::size_t count) {
  if (fd_ < 0) return false;
  if (injected(FileOp::write, path_, lastError_)) return false;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t n = ::write(fd_, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileHandle::truncate(std::uint64_t length) {
  if (fd_ < 0) return false;
  if (injected(FileOp::truncate, path_, lastError_)) return false;
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
    lastError_ = errno;
    return false;
  }
  // The system's truncate also moves the position to the new end.
  ::lseek(fd_, static_cast<off_t>(length), SEEK_SET);
  return true;
}

bool FileHandle::lock() {
  if (fd_ < 0) return false;
  if (injected(FileOp::lock, path_, lastError_)) return false;
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) lastError_ = errno;
  return rc == 0;
}

void FileHandle::unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

void FileHandle::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---------------------------------------------------------------------------------------------
// FileManager

namespace {

std::mutex gHomeMutex;
std::string gHome;  // empty: not set, use $HOME

bool statPath(const std::string& path, struct stat& st) {
  if (int e = FileFaults::check(FileOp::stat, path)) {
    errno = e;
    return false;
  }
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string FileManager::homeDirectory() {
  std::lock_guard lock(gHomeMutex);
  if (!gHome.empty()) return gHome;
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) : std::string("/");
}

void FileManager::setHomeDirectory(const std::string& path) {
  std::lock_guard lock(gHomeMutex);
  gHome = path;
}

bool FileManager::fileExists(const std::string& path) {
  struct stat st;
  return statPath(path, st);
}

bool FileManager::isDirectory(const std::string& path) {
  struct stat st;
  return statPath(path, st) && S_ISDIR(st.st_mode);
}

bool FileManager::createDirectory(const std::string& path, bool withIntermediates) {
  if (path.empty()) return false;
  if (isDirectory(path)) return true;
  if (int e = FileFaults::check(FileOp::createDirectory, path)) {
    errno = e;
    return false;
  }
  if (withIntermediates) {
    const std::string parent = parentPath(path);
    if (!parent.empty() && parent != path && !isDirectory(parent) && !createDirectory(parent, true)) return false;
  }
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  // Another thread or process may have made it in the meantime.
  return errno == EEXIST && isDirectory(path);
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path) {
  if (int e = FileFaults::check(FileOp::list, path)) {
    errno = e;
    return std::nullopt;
  }
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  // The system promises no order; a fixed one keeps runs repeatable.
  std::sort(names.begin(), names.end());
  return names;
}

bool FileManager::removeItem(const std::string& path) {
  if (int e = FileFaults::check(FileOp::remove, path)) {
    errno = e;
    return false;
  }
  std::error_code error;
  const auto removed = std::filesystem::remove_all(path, error);
  return !error && removed > 0;
}

bool FileManager::moveItem(const std::string& from, const std::string& to) {
  if (int e = FileFaults::check(FileOp::rename, from)) {
    errno = e;
    return false;
  }
  // Like the system's move, never replaces what is already at the destination.
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

std::optional<double> FileManager::modificationDate(const std::string& path) {
  struct stat st;
  if (!statPath(path, st)) return std::nullopt;
  return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

std::optional<std::uint64_t> FileManager::fileSize(const std::string& path) {
  struct stat st;
  if (!statPath(path, st)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::vector<std::uint8_t>> FileManager::contents(const std::string& path) {
  auto handle = FileHandle::forReading(path);
  if (!handle) return std::nullopt;
  return handle->readToEnd();
}

FileRead FileManager::readRegularFile(const std::string& path, std::uint64_t limit) {
  FileRead result;
  auto failed = [&](FileRead::Problem problem, int error) {
    result.problem = problem;
    result.error = error;
    result.bytes.clear();
    errno = error;
    return result;
  };
  if (int e = FileFaults::check(FileOp::open, path)) {
    return failed(e == ENOENT ? FileRead::Problem::missing : FileRead::Problem::unreadable, e);
  }
  // Non-blocking, so a pipe without a writer or a device cannot hold the caller in open().
  const int fd = openRetrying(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) return failed(FileRead::Problem::missing, e);
    // ELOOP: a symbolic link sits at the path itself.
    if (e == ELOOP) return failed(FileRead::Problem::notRegular, e);
    return failed(FileRead::Problem::unreadable, e);
  }
  FileHandle handle(fd, path);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failed(FileRead::Problem::unreadable, errno);
  if (!S_ISREG(st.st_mode)) return failed(FileRead::Problem::notRegular, EINVAL);
  result.size = static_cast<std::uint64_t>(st.st_size);
  if (result.size > limit) return failed(FileRead::Problem::tooLarge, EFBIG);
  if (int e = FileFaults::check(FileOp::read, path)) return failed(FileRead::Problem::unreadable, e);
  result.bytes.reserve(static_cast<std::size_t>(result.size));
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(FileRead::Problem::unreadable, errno);
    }
    if (n == 0) break;
    // The file grew while being read: the limit still holds.
    if (result.bytes.size() + static_cast<std::size_t>(n) > limit) {
      result.size = result.bytes.size() + static_cast<std::size_t>(n);
      return failed(FileRead::Problem::tooLarge, EFBIG);
    }
    result.bytes.insert(result.bytes.end(), buffer, buffer + n);
  }
  result.size = result.bytes.size();
  return result;
}

bool FileManager::isSymbolicLink(const std::string& path) {
  struct stat st {};
  if (int e = FileFaults::check(FileOp::stat, path)) {
    errno = e;
    return false;
  }
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool FileManager::isRegularFile(const std::string& path) {
  struct stat st {};
  if (int e = FileFaults::check(FileOp::stat, path)) {
    errno = e;
    return false;
  }
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileManager::removeFile(const std::string& path) {
  if (int e = FileFaults::check(FileOp::remove, path)) {
    errno = e;
    return false;
  }
  // unlink never follows a link and refuses a folder.
  return ::unlink(path.c_str()) == 0;
}

int FileManager::removeLeftoverTemporaries(const std::string& path) {
  const std::string folder = parentPath(path);
  const std::string name = path.substr(folder.empty() ? 0 : folder.size() + 1);
  const std::string prefix = "." + name + ".tmp-";
  const std::string where = folder.empty() ? "." : folder;
  DIR* dir = ::opendir(where.c_str());
  if (!dir) return 0;
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string found = entry->d_name;
    // mkstemp's six characters and nothing more.
    if (found.size() == prefix.size() + 6 && found.compare(0, prefix.size(), prefix) == 0) leftovers.push_back(found);
  }
  ::closedir(dir);
  int removed = 0;
  for (const std::string& leftover : leftovers) {
    const std::string full = joinPath(where, leftover);
    if (isRegularFile(full) && removeFile(full)) ++removed;
  }
  return removed;
}

int openPlainFile(const std::string& path, int flags, mode_t mode) {
  if (const int e = FileFaults::check(FileOp::open, path)) {
    errno = e;
    return -1;
  }
  auto notPlain = [] {
    errno = EINVAL;
    return -1;
  };
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = openRetrying(path, flags | O_NOFOLLOW | O_NONBLOCK, mode);
    struct stat st {};
    if (fd < 0) {
      const int error = errno;
      if (error == ENOENT || error == ENOTDIR || ::lstat(path.c_str(), &st) != 0) {
        errno = error;
        return -1;
      }
      // A link is taken away, never followed, where the file would be made anyway.
      if (S_ISLNK(st.st_mode) && (flags & O_CREAT) && ::unlink(path.c_str()) == 0) continue;
      if (!S_ISREG(st.st_mode)) return notPlain();
      errno = error;
      return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return notPlain();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  return notPlain();
}

bool fitsFileSizeLimit(std::uint64_t size) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  return size <= static_cast<std::uint64_t>(limit.rlim_cur);
}

bool FileManager::writeAtomically(const std::string& path, const void* bytes, std::size_t count) {
  if (int e = FileFaults::check(FileOp::open, path)) {
    errno = e;
    return false;
  }
  if (!fitsFileSizeLimit(count)) {
    errno = EFBIG;
    return false;
  }
  const std::string folder = parentPath(path);
  const std::size_t nameAt = folder.empty() ? 0 : std::min(folder.size() + 1, path.size());
  const std::string name = path.substr(nameAt);
  // "/", "dir/" or "": a folder or nothing, never a file to replace.
  if (name.empty() || name.find('/') != std::string::npos) {
    errno = path.empty() ? ENOENT : EISDIR;
    return false;
  }
  // A device node or a pipe renamed over would be gone for every other program using it.
  struct stat target;
  const bool there = ::lstat(path.c_str(), &target) == 0;
  if (there && !S_ISREG(target.st_mode) && !S_ISLNK(target.st_mode)) {
    errno = S_ISDIR(target.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  std::string temp = joinPath(folder.empty() ? "." : folder, "." + name + ".tmp-XXXXXX");
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; keep the mode the target had, or the usual one for a
  // new file. A link at the path is replaced, so what it points at has no say.
  ::fchmod(fd, there && S_ISREG(target.st_mode) ? (target.st_mode & 07777) : 0644);

  bool ok = true;
  // Faults aimed at the target also hit the write of its replacement.
  if (int e = FileFaults::check(FileOp::write, path)) {
    errno = e;
    ok = false;
  }
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (ok && count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && ok) ok = false;
  if (ok) {
    if (int e = FileFaults::check(FileOp::rename, path)) {
      errno = e;
      ok = false;
    }
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
  }
  return ok;
}

namespace {

// A write to a pipe whose reader has gone raises SIGPIPE at the writing thread, which would
// end the program without a word. Held back around the write (and taken away should the
// write raise it), it leaves the write's EPIPE, reported like any other failed write.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
  }
  ~PipeSignalHeld() {
    const int error = errno;
    if (!pendingBefore_) {
      const timespec none{0, 0};
      while (::sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    errno = error;
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_{};
  sigset_t before_{};
  bool pendingBefore_ = false;
};

// The number of a descriptor path ("/dev/stdout", "/dev/fd/3", "/proc/self/fd/3" and the
// like), read as written with repeated and "." parts left out; nothing for any other path.
std::optional<int> descriptorOfPath(const std::string& path) {
  std::string plain;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string part = path.substr(at, end - at);
    if (!part.empty() && part != ".") plain += "/" + part;
    at = end + 1;
  }
  if (path.empty() || path.front() != '/') return std::nullopt;
  if (plain == "/dev/stdin") return 0;
  if (plain == "/dev/stdout") return 1;
  if (plain == "/dev/stderr") return 2;
  for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                   std::string("/proc/thread-self/fd/"),
                                   "/proc/" + std::to_string(::getpid()) + "/fd/"}) {
    if (!plain.starts_with(folder)) continue;
    const std::string digits = plain.substr(folder.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    return std::stoi(digits);
  }
  return std::nullopt;
}

// The descriptor of this process that `path` names, itself or through links to such a
// path; nothing when it names a file like any other.
std::optional<int> namedDescriptor(std::string path) {
  for (int links = 0; links < 40; ++links) {
    if (const auto fd = descriptorOfPath(path)) return fd;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return std::nullopt;
    const std::string next(target, static_cast<std::size_t>(n));
    path = next.front() == '/' ? next : joinPath(parentPath(path), next);
  }
  return std::nullopt;
}

// Writes through an open descriptor of the program, at its position (its end when it
// appends), as the program's own output would go: what the shell wrote before stays, and
// what it writes after follows. The limit on a file's size is checked first.
bool writeThrough(int fd, const void* bytes, std::size_t count) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    const int flags = ::fcntl(fd, F_GETFL);
    const off_t position = flags >= 0 && (flags & O_APPEND) ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
    if (!fitsFileSizeLimit(static_cast<std::uint64_t>(std::max<off_t>(position, 0)) + count)) {
      errno = EFBIG;
      return false;
    }
  }
  PipeSignalHeld held;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool FileManager::writeOutput(const std::string& path, const void* bytes, std::size_t count, std::string* refused) {
  struct stat st {};
  if (const auto fd = namedDescriptor(path)) return writeThrough(*fd, bytes, count);
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return writeAtomically(path, bytes, count);
  if (S_ISREG(st.st_mode)) {
    // The file a link names is replaced, never the link: "/dev/stdout" is no file of ours.
    if (!isSymbolicLink(path)) return writeAtomically(path, bytes, count);
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return false;
    const std::string target = resolved;
    std::free(resolved);
    return writeAtomically(target, bytes, count);
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
    if (refused) *refused = S_ISSOCK(st.st_mode) ? "a socket" : S_ISBLK(st.st_mode) ? "a block device" : "no file";
    errno = EINVAL;
    return false;
  }
  FileHandle handle(-1, path);
  if (injected(FileOp::open, path, handle.lastError_)) return false;
  // Blocks until a pipe has a reader, as a shell's redirection would.
  handle.fd_ = openRetrying(path, O_WRONLY | O_NOCTTY);
  if (handle.fd_ < 0) return false;
  if (::fstat(handle.fd_, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    // It changed under us: whatever is there now takes the way its kind takes.
    handle.close();
    return writeOutput(path, bytes, count, refused);
  }
  bool written = false;
  {
    PipeSignalHeld held;
    written = handle.write(bytes, count);
  }
  if (written) return true;
  errno = handle.lastError();
  return false;
}

std::string joinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  std::string left = a;
  while (left.size() > 1 && left.back() == '/') left.pop_back();
  std::size_t start = 0;
  while (start < b.size() && b[start] == '/') ++start;
  if (left == "/") return "/" + b.substr(start);
  return left + "/" + b.substr(start);
}

std::string parentPath(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

FolderLock::FolderLock(const std::string& folder) {
  if (FileFaults::check(FileOp::lock, folder)) return;
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  held_ = rc == 0;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
