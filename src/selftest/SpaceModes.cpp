#include "selftest/SpaceModes.h"

#include <cstdlib>

#include "platform/AppKit.h"
#include "platform/CGEvent.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "switcher/DestinationScreen.h"
#include "workspace/Private.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

std::optional<std::uint16_t> SpaceModes::holdKey(const char* value) {
  if (!value) return std::nullopt;
  const std::optional<std::int64_t> code = parseInteger(value);
  if (!code || *code < 0 || *code > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*code);
}

std::uint64_t SpaceModes::holdFlags(std::uint16_t code) {
  switch (code) {
    case 56:
      return kCGEventFlagMaskShift;
    case 58:
      return kCGEventFlagMaskAlternate;
    case 59:
      return kCGEventFlagMaskControl;
    default:
      return kCGEventFlagMaskCommand;
  }
}

int SpaceModes::jumpTest(const std::string& out, const std::vector<std::uint32_t>& windows,
                         std::optional<std::uint16_t> hold) {
  std::vector<std::string> lines{"start " + WorldReader::spaces()};
  for (const std::uint32_t w : windows) {
    // The modifier goes down and up with the thread asleep, as a finger on the key would.
    if (hold && UserActions::post(*hold, keys::press, holdFlags(*hold), keys::modifier)) ModeClock::sleep(0.05);
    const double start = ModeClock::seconds();
    const bool jumped = UserActions::jumpToSpaceOf(w);
    const std::int64_t ms = ModeClock::millisecondsSince(start);
    lines.push_back("window " + std::to_string(w) + " (space " + ModeReport::list(Private::spaces(w)) + "): jumped=" +
                    ModeReport::text(jumped) + " in " + std::to_string(ms) + "ms, now " + WorldReader::spaces());
    ModeClock::sleep(0.5);
    if (hold && UserActions::post(*hold, keys::release, 0, keys::modifier)) ModeClock::sleep(0.05);
  }
  return ModeReport::status(ModeReport::write(out, lines));
}

int SpaceModes::destinationTest(const std::string& out, std::int64_t space) {
  const std::optional<Private::SpaceScreen> place = Private::screenOfSpace(space);
  if (!place) return ModeReport::failed("no screen shows Space " + std::to_string(space));
  const double primaryTop = ScreenGeometry::primaryTop();
  const double start = ModeClock::seconds();
  const CGImageRef image =
      DestinationScreen::render(space, place->screen.frame(), primaryTop, place->fullScreen, false);
  const std::int64_t ms = ModeClock::millisecondsSince(start);
  const std::string size = image ? std::to_string(image->width()) + "x" + std::to_string(image->height()) : "none";
  std::string drawn;
  for (const std::string& entry : DestinationScreen::drawn()) drawn += (drawn.empty() ? "" : ", ") + entry;
  return ModeReport::status(
      ModeReport::write(out, {"space " + std::to_string(space) + " fullScreen=" + ModeReport::text(place->fullScreen) +
                                  " image=" + size + " in " + std::to_string(ms) + "ms",
                              "drawn bottom to top: " + drawn}));
}

int SpaceModes::go(std::uint32_t window) {
  UserActions::jumpToSpaceOf(window);
  return 0;
}

int SpaceModes::swipeTest(const std::string& out) {
  std::vector<std::string> lines{"start " + WorldReader::spaces()};
  for (const bool right : {true, false}) {
    SpaceSwipe::post(SpaceSwipe::began, right, std::nullopt);
    SpaceSwipe::post(SpaceSwipe::changed, right, std::nullopt);
    SpaceSwipe::post(SpaceSwipe::ended, right, std::nullopt);
    ModeClock::sleep(0.8);
    lines.push_back(std::string(right ? "after right " : "after left ") + WorldReader::spaces());
  }
  return ModeReport::status(ModeReport::write(out, lines));
}

std::vector<SelfTestMode> SpaceModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--jump-test",
       "out w1 w2",
       {},
       [](const Args& args, std::size_t at) {
         std::vector<std::uint32_t> windows;
         for (std::size_t k : {2, 3}) {
           if (auto w = parseWindowNumber(args[at + k])) windows.push_back(*w);
         }
         return jumpTest(args[at + 1], windows, holdKey(std::getenv("HOLD")));
       }},
      {"--destination-test", "out space", knownSpaceAt(2),
       [](const Args& args, std::size_t at) { return destinationTest(args[at + 1], *parseInteger(args[at + 2])); }},
      {"--goto", "w", windowNumbersAt({1}),
       [](const Args& args, std::size_t at) { return go(*parseWindowNumber(args[at + 1])); }},
      {"--swipe-test", "out", {}, [](const Args& args, std::size_t at) { return swipeTest(args[at + 1]); }},
  };
}

}  // namespace trelliq
