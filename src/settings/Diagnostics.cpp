#include "settings/Diagnostics.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Unicode.h"
#include "settings/LogFile.h"

namespace trelliq {

namespace {

// The world host's log is cut where this one is.
static_assert(Diagnostics::limit == LogFile::kCutAbove);

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

}  // namespace

void Diagnostics::log(std::string_view message) {
  std::string line = stamp(platform::clock().now());
  line.reserve(line.size() + message.size() + 2);
  line += ' ';
  line += message;
  line += '\n';
  LogFile::append(url(), line, limit, LogFile::kKeptByCut);
}

std::string Diagnostics::url() {
  return platform::joinPath(platform::FileManager::homeDirectory(), "Library/Logs/Trelliq.log");
}

std::string Diagnostics::stamp(double date) {
  if (!std::isfinite(date)) date = 0;
  // Through whole microseconds first, so 12.345 stored as 12.34499999 still shows .345.
  const auto micros = static_cast<std::int64_t>(std::llround(date * 1e6));
  const std::int64_t millis = floorDivide(micros, 1000);
  const std::int64_t seconds = floorDivide(millis, 1000);
  const auto whole = static_cast<std::time_t>(seconds);
  std::tm local{};
  {
    // The C library's time-zone state is shared; one caller at a time re-reads it, so a
    // time-zone change made while the program runs shows in the next stamp.
    static std::mutex zoneLock;
    std::lock_guard lock(zoneLock);
    tzset();
    if (!localtime_r(&whole, &local)) local = std::tm{};
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis - seconds * 1000));
  return buffer;
}

std::string Diagnostics::escapeForeign(std::string_view text) { return platform::Unicode::oneLine(text); }

}  // namespace trelliq
