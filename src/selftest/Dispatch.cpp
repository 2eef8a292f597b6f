#include "selftest/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "selftest/DumpMode.h"
#include "selftest/FocusModes.h"
#include "selftest/GlassTestMode.h"
#include "selftest/NativeModes.h"
#include "selftest/PictureModes.h"
#include "selftest/SpaceModes.h"
#include "selftest/WindowlessMode.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

using Args = std::vector<std::string>;

// Checks used by the table: the argument `k` places after the flag parses as the type.
std::function<bool(const Args&, std::size_t)> windowNumbersAt(std::vector<std::size_t> offsets) {
  return [offsets](const Args& args, std::size_t at) {
    return std::all_of(offsets.begin(), offsets.end(),
                       [&](std::size_t k) { return parseWindowNumber(args[at + k]).has_value(); });
  };
}

// The argument `k` places after the flag, when there is one.
std::optional<std::string> optionalAt(const Args& args, std::size_t at, std::size_t k) {
  if (at + k < args.size()) return args[at + k];
  return std::nullopt;
}

// The Space argument is an Int the window server knows (it has a screen).
std::function<bool(const Args&, std::size_t)> knownSpaceAt(std::size_t k) {
  return [k](const Args& args, std::size_t at) {
    const std::optional<std::int64_t> space = parseInteger(args[at + k]);
    return space && Private::screenOfSpace(*space).has_value();
  };
}

std::vector<SelfTestMode> makeModes() {
  // Every flag in the order it is examined. Modes that are not part of the program yet
  // have no `run` and are never selected, so their flags fall through to the next ones.
  std::vector<SelfTestMode> modes = {
      {"--jump-test",
       3,
       {},
       [](const Args& args, std::size_t at) {
         std::vector<std::uint32_t> windows;
         for (std::size_t k : {2, 3}) {
           if (auto w = parseWindowNumber(args[at + k])) windows.push_back(*w);
         }
         SpaceModes::jumpTest(args[at + 1], windows, SpaceModes::holdKey(std::getenv("HOLD")));
       }},
      {"--destination-test", 2, knownSpaceAt(2),
       [](const Args& args, std::size_t at) {
         SpaceModes::destinationTest(args[at + 1], *parseInteger(args[at + 2]));
       }},
      {"--fullscreen-test", 3, windowNumbersAt({2, 3}), {}},
      {"--tab-test", 1, {}, {}},
      {"--steer-test", 1, {}, {}},
      {"--focus-test",
       2,
       {},
       [](const Args& args, std::size_t at) { FocusModes::focusTest(args[at + 1], args[at + 2]); }},
      {"--self-focus-test", 1, {}, [](const Args& args, std::size_t at) { FocusModes::selfFocusTest(args[at + 1]); }},
      {"--opening-test", 1, {}, {}},
      {"--missing-test", 3, windowNumbersAt({2, 3}), {}},
      {"--space-loop-test",
       4,
       [](const Args& args, std::size_t at) {
         return parseWindowNumber(args[at + 2]) && parseInteger(args[at + 3]) && parseInteger(args[at + 4]);
       },
       {}},
      {"--activate-test", 3, windowNumbersAt({2, 3}),
       [](const Args& args, std::size_t at) {
         FocusModes::activateTest(args[at + 1], *parseWindowNumber(args[at + 2]), *parseWindowNumber(args[at + 3]),
                                  FocusModes::raiseMode(std::getenv("MODE")));
       }},
      {"--windowless-test",
       1,
       {},
       [](const Args& args, std::size_t at) {
         const std::optional<std::int64_t> keep = at + 2 < args.size() ? parseInteger(args[at + 2]) : std::nullopt;
         const char* tray = std::getenv("TRAY");
         WindowlessMode::run(args[at + 1], keep, tray && std::string(tray) == "finder");
       }},
      {"--desktop-focus-test",
       1,
       {},
       [](const Args& args, std::size_t at) { FocusModes::desktopFocusTest(args[at + 1]); }},
      {"--fullscreen-key-test", 3, windowNumbersAt({2}), {}},
      {"--hover-test",
       4,
       [](const Args& args, std::size_t at) {
         return parseWindowNumber(args[at + 2]) && parseDecimal(args[at + 3]) && parseDecimal(args[at + 4]);
       },
       {}},
      {"--goto", 1, windowNumbersAt({1}),
       [](const Args& args, std::size_t at) { SpaceModes::go(*parseWindowNumber(args[at + 1])); }},
      {"--open-test", 1, {}, {}},
      {"--native-test", 1, {}, [](const Args& args, std::size_t at) { NativeModes::nativeTest(args[at + 1]); }},
      {"--appear-test", 2, {}, {}},
      {"--screenshot",
       1,
       {},
       [](const Args& args, std::size_t at) { PictureModes::screenshot(args[at + 1], optionalAt(args, at, 2)); }},
      {"--native-shot", 1, {}, [](const Args& args, std::size_t at) { NativeModes::nativeShot(args[at + 1]); }},
      {"--glass-test",
       1,
       {},
       [](const Args& args, std::size_t at) {
         const char* suffix = std::getenv("SHOT_SUFFIX");
         GlassTestMode::run(args[at + 1], optionalAt(args, at, 2), suffix ? suffix : "",
                            GlassTestMode::parseFrame(std::getenv("AT")));
       }},
      {"--handoff-test", 1, {}, {}},
      {"--toggle-test", 1, {}, {}},
      {"--swipe-test", 1, {}, [](const Args& args, std::size_t at) { SpaceModes::swipeTest(args[at + 1]); }},
      {"--direction-test", 2, knownSpaceAt(2), {}},
      {"--guide-shot",
       1,
       {},
       [](const Args& args, std::size_t at) {
         PictureModes::guideShot(args[at + 1], PictureModes::delay(args, at + 2), optionalAt(args, at, 3));
       }},
      {"--permissions-shot",
       1,
       {},
       [](const Args& args, std::size_t at) {
         PictureModes::permissionsShot(args[at + 1], PictureModes::delay(args, at + 2));
       }},
      {"--prefs-shot",
       1,
       {},
       [](const Args& args, std::size_t at) {
         PictureModes::prefsShot(args[at + 1], PictureModes::delay(args, at + 2), optionalAt(args, at, 3) == "bottom");
       }},
      {"--dump", 1, {}, [](const Args& args, std::size_t at) { DumpMode::run(args[at + 1]); }},
      {"--screen-recording-check", 0, {}, {}},
  };
  return modes;
}

// An optional sign, then at least one digit and nothing else; the digits without the sign.
std::optional<std::pair<bool, std::string>> signedDigits(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return std::nullopt;
  }
  return std::make_pair(negative, text.substr(i));
}

}  // namespace

std::optional<SelectedMode> selectSelfTest(const std::vector<std::string>& args,
                                           const std::vector<SelfTestMode>& modes) {
  for (std::size_t m = 0; m < modes.size(); ++m) {
    const SelfTestMode& mode = modes[m];
    if (!mode.run) continue;
    const auto found = std::find(args.begin(), args.end(), mode.flag);
    if (found == args.end()) continue;
    const auto at = static_cast<std::size_t>(found - args.begin());
    if (at + mode.arguments >= args.size()) continue;
    if (mode.check && !mode.check(args, at)) continue;
    return SelectedMode{m, at};
  }
  return std::nullopt;
}

const std::vector<SelfTestMode>& selfTestModes() {
  static const std::vector<SelfTestMode> modes = makeModes();
  return modes;
}

int dispatchSelfTests(const std::vector<std::string>& args) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const std::optional<SelectedMode> selected = selectSelfTest(args, modes);
  if (!selected) return -1;
  modes[selected->mode].run(args, selected->at);
  return 0;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  const auto parts = signedDigits(text);
  if (!parts) return std::nullopt;
  // Parse the magnitude unsigned so that the most negative value fits.
  std::uint64_t magnitude = 0;
  const std::string& digits = parts->second;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!parts->first) {
    if (magnitude > maxPositive) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > maxPositive + 1) return std::nullopt;
  if (magnitude == maxPositive + 1) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude);
}

std::optional<std::uint32_t> parseWindowNumber(const std::string& text) {
  const auto parts = signedDigits(text);
  if (!parts) return std::nullopt;
  std::uint64_t value = 0;
  const std::string& digits = parts->second;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  if (parts->first && value != 0) return std::nullopt;  // "-0" is still zero
  return static_cast<std::uint32_t>(value);
}

std::optional<double> parseDecimal(const std::string& text) {
  // Digits with at most one point, then an optional exponent: nothing else is a decimal.
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      ++i;
      ++exponentDigits;
    }
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  const std::size_t start = text[0] == '+' ? 1 : 0;  // from_chars takes no plus sign
  double value = 0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  if (error != std::errc()) return std::nullopt;  // also too large or too small to hold
  return value;
}

}  // namespace trelliq
