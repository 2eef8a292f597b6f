#include "selftest/OpenModes.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "selftest/Dispatch.h"
#include "selftest/Toolkit.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

// Saves a picture of each of the copy's panels now on screen, as the window server has it.
bool capturePanels(const std::string& dir) {
  bool written = true;
  for (const Toolkit::Listed& w : Toolkit::windowList(kCGWindowListOptionOnScreenOnly)) {
    if (!w.otherCopy() || w.layer != 101 || !w.number) continue;
    const CGImageRef image = Private::capture(*w.number, true);
    if (!image) continue;
    if (const auto png = image->pngData()) {
      written &= Toolkit::save(dir + "/ours-" + std::to_string(*w.number) + ".png", *png);
    }
  }
  return written;
}

}  // namespace

OpenModes::OpenExtras OpenModes::OpenExtras::fromEnvironment() {
  return OpenExtras{Toolkit::variable("NUMBER_DIR"), Toolkit::variable("CAPTURE_DIR"),
                    Toolkit::variable("FOCUS_BOTTOM").has_value()};
}

std::int64_t OpenModes::rounds(const std::optional<std::string>& argument) {
  if (!argument) return 5;
  return std::max<std::int64_t>(0, parseInteger(*argument).value_or(5));
}

std::vector<std::string> OpenModes::copyWindows(CGWindowListOption option) {
  std::vector<std::string> lines;
  for (const Toolkit::Listed& w : Toolkit::windowList(option)) {
    if (!w.otherCopy()) continue;
    lines.push_back("layer " + w.layerText + " on=" + Toolkit::text(w.onScreen) +
                    " spaces=" + Toolkit::list(Private::spaces(w.number.value_or(0))));
  }
  return lines;
}

int OpenModes::openTest(const std::string& out, const OpenExtras& extras) {
  bool written = true;
  Toolkit::commandOptionTap();
  Toolkit::pump(0.6);
  if (extras.numberDir) {
    written &= Toolkit::writeScreenshot(*extras.numberDir + "/number-start.png");
    for (const auto& [code, digit] : {std::pair{keys::two, "2"}, std::pair{keys::one, "1"}}) {
      Toolkit::press(code);
      Toolkit::pump(0.4);
      written &= Toolkit::writeScreenshot(*extras.numberDir + "/number-" + digit + ".png");
    }
  }
  if (extras.focusBottom) {
    Toolkit::key(keys::shift, keys::press, keys::commandShift, keys::modifier);
    Toolkit::pump(0.5);
  }
  if (extras.captureDir) {
    const std::string& dir = *extras.captureDir;
    written &= Toolkit::writeScreenshot(dir + "/ours-shot.png");
    written &= Toolkit::write(dir + "/ours-state.txt",
                              {"at screenshot: " + Toolkit::strings(copyWindows(kCGWindowListOptionOnScreenOnly))});
    written &= capturePanels(dir);
  }
  if (extras.focusBottom) Toolkit::key(keys::shift, keys::release, keys::commandFlag, keys::modifier);
  Toolkit::press(keys::x);
  const std::vector<std::string> lines{
      "space " + Toolkit::spaces() + " front " + Toolkit::frontName(),
      "on screen: " + Toolkit::strings(copyWindows(kCGWindowListOptionOnScreenOnly)),
      "all switcher windows: " + Toolkit::strings(copyWindows(kCGWindowListOptionAll))};
  Toolkit::escapeAndLetGo();
  written &= Toolkit::write(out, lines);
  return Toolkit::status(written);
}

int OpenModes::appearTest(const std::string& out, const std::string& owner, std::int64_t rounds) {
  std::vector<std::string> lines;
  for (std::int64_t round = 0; round < rounds; ++round) {
    const std::set<std::uint32_t> before = Toolkit::windows(owner);
    Toolkit::post(keys::command, keys::press, keys::commandFlag, keys::modifier);
    Toolkit::pump(0.05);
    const double start = Toolkit::seconds();
    Toolkit::post(keys::tab, keys::press, keys::commandFlag, keys::plain);
    Toolkit::post(keys::tab, keys::release, keys::commandFlag, keys::plain);
    std::optional<std::int64_t> appeared;
    while (Toolkit::seconds() - start < 1.5) {
      const std::set<std::uint32_t> now = Toolkit::windows(owner);
      if (std::any_of(now.begin(), now.end(), [&](std::uint32_t n) { return !before.contains(n); })) {
        appeared = Toolkit::millisecondsSince(start);
        break;
      }
      Toolkit::pump(0.002);
    }
    lines.push_back(appeared ? "appeared after " + std::to_string(*appeared) + "ms" : std::string("never (1.5s)"));
    Toolkit::pump(0.2);
    Toolkit::post(keys::escape, keys::press, keys::commandFlag, keys::plain);
    Toolkit::post(keys::escape, keys::release, keys::commandFlag, keys::plain);
    Toolkit::post(keys::command, keys::release, 0, keys::modifier);
    Toolkit::pump(0.6);
  }
  return Toolkit::status(Toolkit::write(out, lines));
}

std::vector<SelfTestMode> OpenModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--open-test", "out", {},
       [](const Args& args, std::size_t at) { return openTest(args[at + 1], OpenExtras::fromEnvironment()); }},
      {"--appear-test", "out owner [rounds]", optionalParsesAt(3, 3, isInteger),
       [](const Args& args, std::size_t at) {
         return appearTest(args[at + 1], args[at + 2], rounds(optionalAt(args, at, 3)));
       }},
  };
}

}  // namespace trelliq
