#include "selftest/OpenModes.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

// Saves a picture of each of the copy's panels now on screen, as the window server has it.
bool capturePanels(const std::string& dir) {
  bool written = true;
  for (const WorldReader::Listed& w : WorldReader::windowList(kCGWindowListOptionOnScreenOnly)) {
    if (!w.otherCopy() || w.layer != 101 || !w.number) continue;
    const CGImageRef image = Private::capture(*w.number, true);
    if (!image) continue;
    if (const auto png = image->pngData()) {
      written &= ModeReport::save(dir + "/ours-" + std::to_string(*w.number) + ".png", *png);
    }
  }
  return written;
}

}  // namespace

OpenModes::OpenExtras OpenModes::OpenExtras::fromEnvironment() {
  return OpenExtras{ModeReport::variable("NUMBER_DIR"), ModeReport::variable("CAPTURE_DIR"),
                    ModeReport::variable("FOCUS_BOTTOM").has_value()};
}

std::int64_t OpenModes::rounds(const std::optional<std::string>& argument) {
  if (!argument) return 5;
  return std::max<std::int64_t>(0, parseInteger(*argument).value_or(5));
}

std::vector<std::string> OpenModes::copyWindows(CGWindowListOption option) {
  std::vector<std::string> lines;
  for (const WorldReader::Listed& w : WorldReader::windowList(option)) {
    if (!w.otherCopy()) continue;
    lines.push_back("layer " + w.layerText + " on=" + ModeReport::text(w.onScreen) +
                    " spaces=" + ModeReport::list(Private::spaces(w.number.value_or(0))));
  }
  return lines;
}

int OpenModes::openTest(const std::string& out, const OpenExtras& extras) {
  bool written = true;
  UserActions::commandOptionTap();
  UserActions::lookOnceCopysPanelShows(0.6);
  if (extras.numberDir) {
    written &= ModeReport::writeScreenshot(*extras.numberDir + "/number-start.png");
    for (const auto& [code, digit] : {std::pair{keys::two, "2"}, std::pair{keys::one, "1"}}) {
      UserActions::press(code);
      ModeClock::pump(0.4);
      written &= ModeReport::writeScreenshot(*extras.numberDir + "/number-" + digit + ".png");
    }
  }
  if (extras.focusBottom) {
    UserActions::key(keys::shift, keys::press, keys::commandShift, keys::modifier);
    ModeClock::pump(0.5);
  }
  if (extras.captureDir) {
    const std::string& dir = *extras.captureDir;
    written &= ModeReport::writeScreenshot(dir + "/ours-shot.png");
    written &=
        ModeReport::write(dir + "/ours-state.txt",
                          {"at screenshot: " + ModeReport::strings(copyWindows(kCGWindowListOptionOnScreenOnly))});
    written &= capturePanels(dir);
  }
  if (extras.focusBottom) UserActions::key(keys::shift, keys::release, keys::commandFlag, keys::modifier);
  UserActions::press(keys::x);
  const std::vector<std::string> lines{
      "space " + WorldReader::spaces() + " front " + WorldReader::frontName(),
      "on screen: " + ModeReport::strings(copyWindows(kCGWindowListOptionOnScreenOnly)),
      "all switcher windows: " + ModeReport::strings(copyWindows(kCGWindowListOptionAll))};
  UserActions::escapeAndLetGo();
  written &= ModeReport::write(out, lines);
  return ModeReport::status(written);
}

int OpenModes::appearTest(const std::string& out, const std::string& owner, std::int64_t rounds) {
  std::vector<std::string> lines;
  for (std::int64_t round = 0; round < rounds; ++round) {
    const std::set<std::uint32_t> before = WorldReader::windows(owner);
    UserActions::post(keys::command, keys::press, keys::commandFlag, keys::modifier);
    ModeClock::pump(0.05);
    const double start = ModeClock::seconds();
    UserActions::post(keys::tab, keys::press, keys::commandFlag, keys::plain);
    UserActions::post(keys::tab, keys::release, keys::commandFlag, keys::plain);
    std::optional<std::int64_t> appeared;
    while (ModeClock::seconds() - start < 1.5) {
      const std::set<std::uint32_t> now = WorldReader::windows(owner);
      if (std::any_of(now.begin(), now.end(), [&](std::uint32_t n) { return !before.contains(n); })) {
        appeared = ModeClock::millisecondsSince(start);
        break;
      }
      ModeClock::pump(0.002);
    }
    lines.push_back(appeared ? "appeared after " + std::to_string(*appeared) + "ms" : std::string("never (1.5s)"));
    ModeClock::pump(0.2);
    UserActions::post(keys::escape, keys::press, keys::commandFlag, keys::plain);
    UserActions::post(keys::escape, keys::release, keys::commandFlag, keys::plain);
    UserActions::post(keys::command, keys::release, 0, keys::modifier);
    ModeClock::pump(0.6);
  }
  return ModeReport::status(ModeReport::write(out, lines));
}

std::vector<SelfTestMode> OpenModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--open-test",
       "out",
       {},
       [](const Args& args, std::size_t at) { return openTest(args[at + 1], OpenExtras::fromEnvironment()); }},
      {"--appear-test", "out owner [rounds]", optionalParsesAt(3, 3, isInteger),
       [](const Args& args, std::size_t at) {
         return appearTest(args[at + 1], args[at + 2], rounds(optionalAt(args, at, 3)));
       }},
  };
}

}  // namespace trelliq
