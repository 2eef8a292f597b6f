#include "selftest/GestureModes.h"

#include <vector>

#include "platform/Geometry.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/Focus.h"

namespace trelliq {

namespace {

std::string where() { return WorldReader::spaces() + " " + WorldReader::frontName(); }

}  // namespace

int GestureModes::spaceLoopTest(const std::string& out, std::uint32_t window, std::int64_t taps, std::int64_t passes) {
  std::vector<std::string> lines;
  for (std::int64_t pass = 1; pass <= passes; ++pass) {
    UserActions::go(window);
    const std::string from = where();
    // Every key of this gesture is a flags-changed event, ⌘ and ⌥ alike.
    UserActions::key(keys::command, keys::press, keys::commandFlag, keys::modifier);
    for (std::int64_t i = 0; i < taps; ++i) {
      UserActions::key(keys::option, keys::press, keys::commandOption, keys::modifier);
      UserActions::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
      ModeClock::pump(0.25);
    }
    ModeClock::pump(0.3);
    UserActions::key(keys::command, keys::release, 0, keys::modifier);
    const double release = ModeClock::seconds();
    std::string samples;
    for (const double t : {0.3, 0.6, 1.0, 2.0}) {
      ModeClock::pump(t - (ModeClock::seconds() - release));
      samples += (samples.empty() ? "" : " | ") + platform::describe(t) + "s: " + where();
    }
    lines.push_back(std::to_string(pass) + ": from " + from + " → " + samples);
  }
  UserActions::go(window);
  return ModeReport::status(ModeReport::write(out, lines));
}

int GestureModes::hoverTest(const std::string& out, std::uint32_t window, double x, double y) {
  if (const auto found = WorldReader::owner(window)) {
    activate(found->first, found->second);
    ModeClock::pump(1.0);
  }
  UserActions::commandTab();
  ModeClock::pump(0.6);
  // The pointer glides from 60 points left of the point to the point, 6 points a step.
  for (int i = 0; i <= 10; ++i) {
    UserActions::movePointer(CGPoint(x - 60 + 6 * i, y));
    ModeClock::pump(0.03);
  }
  ModeClock::pump(0.4);
  UserActions::key(keys::command, keys::release, 0, keys::modifier);
  ModeClock::pump(1.0);
  return ModeReport::status(ModeReport::write(out, {"front after hovering " + platform::describe(x) + "," +
                                                    platform::describe(y) + ": " + WorldReader::frontName()}));
}

std::vector<SelfTestMode> GestureModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--space-loop-test", "out w taps passes",
       [](const Args& args, std::size_t at) {
         // No taps is a ⌘ press alone; a run needs at least one pass.
         const std::optional<std::int64_t> taps = parseInteger(args[at + 3]), passes = parseInteger(args[at + 4]);
         return parseWindowNumber(args[at + 2]) && taps && *taps >= 0 && passes && *passes >= 1;
       },
       [](const Args& args, std::size_t at) {
         return spaceLoopTest(args[at + 1], *parseWindowNumber(args[at + 2]), *parseInteger(args[at + 3]),
                              *parseInteger(args[at + 4]));
       }},
      {"--hover-test", "out w x y",
       [](const Args& args, std::size_t at) {
         return parseWindowNumber(args[at + 2]) && parseDecimal(args[at + 3]) && parseDecimal(args[at + 4]);
       },
       [](const Args& args, std::size_t at) {
         return hoverTest(args[at + 1], *parseWindowNumber(args[at + 2]), *parseDecimal(args[at + 3]),
                          *parseDecimal(args[at + 4]));
       }},
  };
}

}  // namespace trelliq
