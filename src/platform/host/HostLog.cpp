#include "platform/host/HostLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Files.h"
#include "platform/LogFile.h"
#include "platform/Unicode.h"

namespace host {

namespace {

std::mutex gWriting;
std::string gLogPath;     // empty: standard error
bool gErrorsFollow = false;  // standard error is the log file, and is opened again after a cut
std::uint64_t gLost = 0;  // lines that could not be written since the last one that was

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool writeToStandardError(std::string_view line) {
  while (!line.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

/// After a cut replaced the log file, standard error (where the libraries and the
/// sanitizers write) is opened on the new one. Under gWriting.
void followCut() {
  struct stat named {}, errors {};
  if (!gErrorsFollow || ::stat(gLogPath.c_str(), &named) != 0 || ::fstat(STDERR_FILENO, &errors) != 0 ||
      sameFile(named, errors))
    return;
  const int fd = platform::openPlainFile(gLogPath, O_WRONLY | O_APPEND);
  if (fd < 0) return;
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

/// One line's text: escaped, and cut (on a character's boundary) when too long.
std::string lineOf(std::string_view text) {
  std::string escaped = platform::Unicode::oneLine(text);
  if (escaped.size() <= kMaxLogLineBytes) return escaped;
  std::size_t end = kMaxLogLineBytes;
  while (end > 0 && (static_cast<unsigned char>(escaped[end]) & 0xC0) == 0x80) --end;
  escaped.resize(end);
  return escaped + "… (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

void setLogFile(const std::string& path) {
  std::lock_guard lock(gWriting);
  gLogPath = path;
  struct stat named {}, errors {};
  gErrorsFollow = !path.empty() && ::stat(path.c_str(), &named) == 0 && ::fstat(STDERR_FILENO, &errors) == 0 &&
                  sameFile(named, errors);
}

void writeLogLine(std::string_view text) {
  std::string line = "simmac: " + lineOf(text) + "\n";
  std::lock_guard lock(gWriting);
  if (gLost > 0) {
    line = "simmac: " + std::to_string(gLost) + (gLost == 1 ? " line" : " lines") +
           " could not be written to the log\n" + line;
  }
  // A log that cannot be written loses the line, never the host (SIGXFSZ is ignored).
  const bool written = gLogPath.empty()
                           ? writeToStandardError(line)
                           : platform::LogFile::append(gLogPath, line, platform::LogFile::kCutAbove,
                                                       platform::LogFile::kKeptByCut);
  if (!written) {
    ++gLost;
    return;
  }
  gLost = 0;
  if (!gLogPath.empty()) followCut();
}

bool LineBudget::admit(std::uint64_t& soFar) {
  std::lock_guard lock(mutex_);
  soFar = 0;
  if (used_ < allowed_) {
    ++used_;
    return true;
  }
  ++heldBack_;
  std::uint64_t n = heldBack_;
  while (n % 10 == 0) n /= 10;
  if (n == 1 && heldBack_ >= 1000) soFar = heldBack_;
  return false;
}

std::uint64_t LineBudget::takeHeldBack() {
  std::lock_guard lock(mutex_);
  const std::uint64_t count = heldBack_;
  heldBack_ = 0;
  return count;
}

void HostLog::write(const std::string& line) {
  writeLogLine(line);
  std::lock_guard lock(mutex_);
  kept_.push_back(line);
  if (kept_.size() > kKept) kept_.pop_front();
}

void HostLog::write(LineBudget& budget, const std::string& who, const std::string& line) {
  std::uint64_t soFar = 0;
  if (budget.admit(soFar)) {
    write(who + ": " + line);
  } else if (soFar) {
    write(who + ": … and " + std::to_string(soFar) + " more so far");
  }
}

void HostLog::summarize(LineBudget& budget, const std::string& who) {
  if (const std::uint64_t held = budget.takeHeldBack()) write(who + ": … and " + std::to_string(held) + " more");
}

std::vector<std::string> HostLog::lines() const {
  std::lock_guard lock(mutex_);
  return {kept_.begin(), kept_.end()};
}

}  // namespace host
