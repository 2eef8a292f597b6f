#include "platform/host/HostLog.h"

#include <unistd.h>

#include <cerrno>

#include "platform/Unicode.h"

namespace host {

void writeLogLine(std::string_view text) {
  static std::mutex writing;
  const std::string line = "simmac: " + platform::Unicode::oneLine(text) + "\n";
  std::lock_guard lock(writing);
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a log that cannot be written loses the line, never the host
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
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
