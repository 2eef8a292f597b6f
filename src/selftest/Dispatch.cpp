#include "selftest/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <limits>

#include "selftest/DirectionMode.h"
#include "selftest/DumpMode.h"
#include "selftest/FocusModes.h"
#include "selftest/FullScreenModes.h"
#include "selftest/GestureModes.h"
#include "selftest/GlassTestMode.h"
#include "selftest/HandoffModes.h"
#include "selftest/MissingMode.h"
#include "selftest/ModeReport.h"
#include "selftest/NativeModes.h"
#include "selftest/OpenModes.h"
#include "selftest/PictureModes.h"
#include "selftest/SpaceModes.h"
#include "selftest/SteeringModes.h"
#include "selftest/WindowlessMode.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

// The program's own options, which start it normally or shape the start; "--scenario"
// takes a file (and is normally taken out of the list before it gets here).
constexpr const char* kProgramOptions[] = {"--show-preferences", "--show-permissions", "--screen-recording-check"};
constexpr const char* kScenario = "--scenario";

bool isProgramOption(const std::string& argument) {
  return std::find(std::begin(kProgramOptions), std::end(kProgramOptions), argument) != std::end(kProgramOptions);
}

// The words of a usage text, and how many of them are in brackets.
std::pair<std::size_t, std::size_t> countArguments(const std::string& text) {
  std::size_t required = 0, optional = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) ++(text[at] == '[' ? optional : required);
    at = end + 1;
  }
  return {required, optional};
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

namespace modeArguments {

SelfTestMode::Check windowNumbersAt(std::vector<std::size_t> offsets) {
  return [offsets](const SelfTestMode::Args& args, std::size_t at) {
    return std::all_of(offsets.begin(), offsets.end(),
                       [&](std::size_t k) { return parseWindowNumber(args[at + k]).has_value(); });
  };
}

SelfTestMode::Check optionalParsesAt(std::size_t first, std::size_t k, std::function<bool(const std::string&)> parses) {
  return [first, k, parses](const SelfTestMode::Args& args, std::size_t at) {
    for (std::size_t j = first; j <= k; ++j) {
      if (at + j >= args.size() || args[at + j].rfind("--", 0) == 0) return true;
    }
    return parses(args[at + k]);
  };
}

SelfTestMode::Check both(SelfTestMode::Check a, SelfTestMode::Check b) {
  return [a, b](const SelfTestMode::Args& args, std::size_t at) { return a(args, at) && b(args, at); };
}

SelfTestMode::Check knownSpaceAt(std::size_t k) {
  return [k](const SelfTestMode::Args& args, std::size_t at) {
    const std::optional<std::int64_t> space = parseInteger(args[at + k]);
    return space && Private::screenOfSpace(*space).has_value();
  };
}

std::optional<std::string> optionalAt(const SelfTestMode::Args& args, std::size_t at, std::size_t k) {
  if (at + k < args.size()) return args[at + k];
  return std::nullopt;
}

bool isWindowNumber(const std::string& text) { return parseWindowNumber(text).has_value(); }
bool isInteger(const std::string& text) { return parseInteger(text).has_value(); }
bool isDecimal(const std::string& text) { return parseDecimal(text).has_value(); }

}  // namespace modeArguments

std::size_t SelfTestMode::required() const { return countArguments(arguments).first; }

std::size_t SelfTestMode::optional() const { return countArguments(arguments).second; }

CommandLine readCommandLine(const std::vector<std::string>& args, const std::vector<SelfTestMode>& modes) {
  CommandLine line;
  const auto refuse = [&](const std::string& problem) {
    line.mode.reset();
    line.problem = problem;
    return line;
  };
  bool scenario = false;
  for (std::size_t i = 1; i < args.size();) {
    const std::string& argument = args[i];
    if (isProgramOption(argument)) {
      ++i;
      continue;
    }
    if (argument == kScenario) {
      if (scenario) return refuse("--scenario is given twice");
      if (i + 1 >= args.size()) return refuse("--scenario needs a file");
      scenario = true;
      i += 2;
      continue;
    }
    const auto found =
        std::find_if(modes.begin(), modes.end(), [&](const SelfTestMode& m) { return m.flag == argument; });
    if (found == modes.end()) return refuse("unknown argument '" + Diagnostics::escapeForeign(argument) + "'");
    const SelfTestMode& mode = *found;
    if (line.mode) return refuse(mode.flag + " after " + modes[line.mode->mode].flag + ": one mode at a time");
    if (i + mode.required() >= args.size()) return refuse(mode.flag + " needs " + mode.arguments);
    if (mode.check && !mode.check(args, i)) return refuse(mode.flag + " " + mode.arguments + ": arguments that do not parse");
    line.mode = SelectedMode{static_cast<std::size_t>(found - modes.begin()), i};
    i += 1 + mode.required();
    for (std::size_t k = 0; k < mode.optional() && i < args.size() && args[i].rfind("--", 0) != 0; ++k) ++i;
    line.end = i;
  }
  return line;
}

std::string usage(const std::vector<SelfTestMode>& modes) {
  // Items separated by ", ", in lines of at most 96 characters after a heading.
  const auto paragraph = [](const std::string& heading, const std::vector<std::string>& items) {
    std::string text = heading, line;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
      if (!line.empty() && line.size() + 1 + item.size() > 94) {
        text += "\n  " + line;
        line.clear();
      }
      line += (line.empty() ? "" : " ") + item;
    }
    return text + (line.empty() ? "" : "\n  " + line) + "\n";
  };
  std::vector<std::string> flags;
  for (const SelfTestMode& mode : modes) {
    flags.push_back(mode.flag + (mode.arguments.empty() ? "" : " " + mode.arguments));
  }
  return "usage: trelliq [--scenario FILE] [--show-preferences] [--show-permissions]\n"
         "       trelliq [--scenario FILE] MODE ARGUMENTS...\n" +
         paragraph("modes:", flags);
}

const std::vector<SelfTestMode>& selfTestModes() {
  static const std::vector<SelfTestMode> modes = [] {
    std::vector<SelfTestMode> all;
    for (std::vector<SelfTestMode> (*list)() :
         {&SpaceModes::modes, &FullScreenModes::modes, &SteeringModes::modes, &FocusModes::modes, &MissingMode::modes,
          &GestureModes::modes, &WindowlessMode::modes, &OpenModes::modes, &NativeModes::modes, &PictureModes::modes,
          &GlassTestMode::modes, &HandoffModes::modes, &DirectionMode::modes, &DumpMode::modes}) {
      std::vector<SelfTestMode> own = list();
      std::move(own.begin(), own.end(), std::back_inserter(all));
    }
    return all;
  }();
  return modes;
}

int dispatchSelfTests(const std::vector<std::string>& args, std::ostream& errors) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const CommandLine line = readCommandLine(args, modes);
  if (line.problem) {
    errors << "trelliq: " << *line.problem << "\n" << usage(modes) << std::flush;
    return 2;
  }
  if (!line.mode) return -1;
  const SelfTestMode& mode = modes[line.mode->mode];
  // The mode sees its own arguments only, so an option after them is never read as one.
  const std::vector<std::string> own(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(line.end));
  // A mode that met a refused call has read an empty answer that was none.
  return ModeReport::settle(mode.flag, mode.run(own, line.mode->at));
}

int dispatchSelfTests(const std::vector<std::string>& args) { return dispatchSelfTests(args, std::cerr); }

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
