// What goes into a log line: the time stamp and outside text made safe.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "settings/Diagnostics.h"

namespace trelliq {
namespace {

// Runs the test body in a fixed time zone and puts the previous one back.
class InTimeZone {
 public:
  explicit InTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~InTimeZone() {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> previous_;
};

// 2026-03-14 in UTC, plus the given time of day.
double utc(int hour, int minute, double seconds) { return 1773446400.0 + hour * 3600 + minute * 60 + seconds; }

TEST(LogStamp, TimeOfDayWithTruncatedMilliseconds) {
  InTimeZone zone("UTC0");
  EXPECT_EQ(Diagnostics::stamp(utc(0, 0, 0)), "00:00:00.000");
  EXPECT_EQ(Diagnostics::stamp(utc(9, 5, 7.25)), "09:05:07.250");
  EXPECT_EQ(Diagnostics::stamp(utc(13, 4, 5.9999)), "13:04:05.999");   // truncated, not rounded up
  EXPECT_EQ(Diagnostics::stamp(utc(21, 30, 12.345)), "21:30:12.345");  // 12.345 is not exact in binary
  EXPECT_EQ(Diagnostics::stamp(utc(23, 59, 59.999)), "23:59:59.999");
  EXPECT_EQ(Diagnostics::stamp(utc(23, 59, 59.999) + 0.001), "00:00:00.000");  // wraps with no date
  EXPECT_EQ(Diagnostics::stamp(-0.25), "23:59:59.750");
  EXPECT_EQ(Diagnostics::stamp(std::numeric_limits<double>::quiet_NaN()).size(), 12u);
}

TEST(LogStamp, UsesTheLocalTimeZone) {
  InTimeZone zone("XST-5:30");  // five and a half hours east of UTC
  EXPECT_EQ(Diagnostics::stamp(utc(0, 0, 0)), "05:30:00.000");
  EXPECT_EQ(Diagnostics::stamp(utc(18, 29, 59.5)), "23:59:59.500");
  EXPECT_EQ(Diagnostics::stamp(utc(18, 30, 0)), "00:00:00.000");
}

TEST(OutsideText, LineBreaksAndControlsBecomeVisibleEscapes) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"Ledger 2", "Ledger 2"},
      {"", ""},
      {"two\nlines", "two\\nlines"},
      {"cr\r\nlf", "cr\\r\\nlf"},
      {"tab\there", "tab\\there"},
      {std::string("nul\0byte", 8), "nul\\u{00}byte"},
      {"esc\x1b[31m", "esc\\u{1B}[31m"},
      {"del\x7f", "del\\u{7F}"},
      {"next\xc2\x85line", "next\\u{85}line"},
      {"sep\xe2\x80\xa8"
       "par\xe2\x80\xa9",
       "sep\\u{2028}par\\u{2029}"},
      {"caf\xc3\xa9 \xe2\x80\x94 \xe2\x8c\x98", "caf\xc3\xa9 \xe2\x80\x94 \xe2\x8c\x98"},  // ordinary text stays
      {"C:\\path\\n", "C:\\path\\n"},  // backslashes are not doubled
      {"cut\xe2\x80", "cut\xe2\x80"},  // a truncated sequence at the end is left as it is
      // Bidirectional controls reorder what a viewer shows after them: every one is
      // escaped, its neighbours in the same block are not.
      {"exe.\xe2\x80\xaetxt", "exe.\\u{202E}txt"},
      {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad", "\\u{202A}\\u{202B}\\u{202C}\\u{202D}"},
      {"\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9", "\\u{2066}\\u{2067}\\u{2068}\\u{2069}"},
      {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\u{200E}\\u{200F}\\u{61C}"},
      {"\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b", "\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b"},
  };
  for (const Row& row : rows) EXPECT_EQ(Diagnostics::escapeForeign(row.in), row.out) << row.in;
}

TEST(OutsideText, EscapedTextNeverHoldsALineBreak) {
  std::string everything;
  for (int byte = 0; byte < 256; ++byte) everything += static_cast<char>(byte);
  const std::string escaped = Diagnostics::escapeForeign(everything);
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  EXPECT_EQ(escaped.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace trelliq
