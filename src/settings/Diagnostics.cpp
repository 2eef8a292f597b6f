#include "settings/Diagnostics.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "settings/LogFile.h"

namespace trelliq {

namespace {

// What a cut keeps: half the limit, so a cut happens once per quarter megabyte of text.
constexpr std::uint64_t kKeptByCut = Diagnostics::limit / 2;

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

void appendEscape(std::string& out, unsigned codePoint) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\u{%02X}", codePoint);
  out += buffer;
}

}  // namespace

void Diagnostics::log(std::string_view message) {
  std::string line = stamp(platform::clock().now());
  line.reserve(line.size() + message.size() + 2);
  line += ' ';
  line += message;
  line += '\n';
  LogFile::append(url(), line, limit, kKeptByCut);
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

std::string Diagnostics::outside(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F) {
      appendEscape(out, byte);
      continue;
    }
    // C1 controls (U+0080...U+009F, among them the next-line character) and the line
    // and paragraph separators U+2028 and U+2029 also end a line for some readers.
    const auto next = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    if (byte == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
      appendEscape(out, next(1));
      ++i;
      continue;
    }
    if (byte == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
      appendEscape(out, next(2) == 0xA8 ? 0x2028 : 0x2029);
      i += 2;
      continue;
    }
    out += static_cast<char>(byte);
  }
  return out;
}

}  // namespace trelliq
