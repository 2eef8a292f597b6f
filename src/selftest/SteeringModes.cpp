#include "selftest/SteeringModes.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Geometry.h"
#include "selftest/Dispatch.h"
#include "selftest/Toolkit.h"
#include "workspace/Focus.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

// The copy's panels among another process's on-screen windows of the program.
std::vector<std::string> panels() {
  std::vector<std::string> lines = Toolkit::onScreen("Trelliq");
  std::erase_if(lines, [](const std::string& line) { return !Toolkit::isPanel(line); });
  return lines;
}

// One switcher session on the copy: where it opened, and where `body` left it.
std::string session(const std::vector<NSScreen>& screens, const std::function<void()>& body) {
  Toolkit::commandTab();
  Toolkit::pump(0.5);
  const std::string first = SteeringModes::steered(screens);
  if (body) body();
  const std::string second = SteeringModes::steered(screens);
  Toolkit::escapeAndLetGo();
  Toolkit::pump(0.5);
  return "opened on " + first + (second == first ? "" : ", then " + second);
}

// The fn tap under ⌘: the copy's switcher steps to the next display.
void fnStep() {
  Toolkit::key(keys::fn, keys::press, keys::commandFn, keys::modifier);
  Toolkit::key(keys::fn, keys::release, keys::commandFlag, keys::modifier);
  Toolkit::pump(0.3);
}

}  // namespace

SteeringModes::TabExtras SteeringModes::TabExtras::fromEnvironment() {
  TabExtras extras;
  extras.captureDir = Toolkit::variable("CAPTURE_DIR");
  extras.numberDir = Toolkit::variable("NUMBER_DIR");
  extras.tapOptionDir = Toolkit::variable("TAP_OPT_DIR");
  extras.holdOptionDir = Toolkit::variable("HOLD_OPT_DIR");
  if (const auto tabs = Toolkit::variable("EXTRA_TABS"))
    extras.extraTabs = std::max<long long>(0, parseInteger(*tabs).value_or(0));
  return extras;
}

int SteeringModes::tabTest(const std::string& out, const TabExtras& extras) {
  bool written = true;
  Toolkit::commandTab();
  // Six samples, each 0.05 s after the one before; the labels are the schedule's names.
  std::vector<std::string> timeline;
  for (const char* label : {"0.05", "0.15", "0.3", "0.5", "0.8", "1.2"}) {
    const double start = Toolkit::seconds();
    while (Toolkit::seconds() - start < 0.05) Toolkit::pump(0.01);
    timeline.push_back(std::string(label) + "s:" + std::to_string(panels().size()));
  }
  if (extras.captureDir) {
    std::string joined;
    for (const std::string& entry : timeline) joined += (joined.empty() ? "" : " ") + entry;
    written &= Toolkit::write(*extras.captureDir + "/timeline.txt", {joined});
  }
  for (long long i = 0; i < extras.extraTabs; ++i) {
    Toolkit::press(keys::tab);
    Toolkit::pump(0.4);
  }
  if (extras.captureDir) written &= Toolkit::writeScreenshot(*extras.captureDir + "/ours-shot.png");
  if (extras.numberDir) {
    for (const auto& [code, digit] : {std::pair{keys::two, "2"}, std::pair{keys::one, "1"}}) {
      Toolkit::press(code);
      Toolkit::pump(0.4);
      written &= Toolkit::writeScreenshot(*extras.numberDir + "/number-" + digit + ".png");
    }
  }
  if (extras.tapOptionDir) {
    const std::string& dir = *extras.tapOptionDir;
    Toolkit::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    Toolkit::pump(0.05);
    Toolkit::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    Toolkit::pump(0.4);
    written &= Toolkit::writeScreenshot(dir + "/opt-tap.png");
    Toolkit::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    Toolkit::pump(0.6);
    written &= Toolkit::writeScreenshot(dir + "/opt-hold.png");
    Toolkit::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    Toolkit::pump(0.5);
    written &= Toolkit::writeScreenshot(dir + "/opt-let-go.png");
  }
  if (extras.holdOptionDir) {
    const std::string& dir = *extras.holdOptionDir;
    Toolkit::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    Toolkit::pump(0.4);
    Toolkit::key(keys::tab, keys::press, keys::commandOption, keys::plain);
    Toolkit::key(keys::tab, keys::release, keys::commandOption, keys::plain);
    Toolkit::pump(0.5);
    written &= Toolkit::writeScreenshot(dir + "/opt-held.png");
    Toolkit::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    Toolkit::pump(0.5);
    written &= Toolkit::writeScreenshot(dir + "/opt-released.png");
  }
  const std::vector<std::string> ours = panels();
  std::vector<std::string> dock = Toolkit::onScreen("Dock");
  std::erase_if(dock, [](const std::string& line) { return line.find("Desktop") != std::string::npos; });
  Toolkit::escapeAndLetGo();
  written &= Toolkit::write(
      out, {"our switcher windows: " + Toolkit::strings(ours), "Dock windows on screen: " + Toolkit::strings(dock)});
  return Toolkit::status(written);
}

int SteeringModes::steerTest(const std::string& dir) {
  struct Step {
    const char* name;
    std::function<void()> keystroke;
  };
  const Step steps[] = {
      {"tab", [] { Toolkit::press(keys::tab); }},
      {"fn", [] { Toolkit::tapUnderCommand(keys::fn, keys::commandFn); }},
      {"tab", [] { Toolkit::press(keys::tab); }},
      {"tab", [] { Toolkit::press(keys::tab); }},
      {"option", [] { Toolkit::tapUnderCommand(keys::option, keys::commandOption); }},
      {"backtick", [] { Toolkit::press(keys::grave); }},
  };
  Toolkit::key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  bool written = true;
  std::size_t pictures = 0;
  for (std::size_t n = 0; n < std::size(steps); ++n) {
    steps[n].keystroke();
    Toolkit::pump(0.5);
    const Toolkit::Shots shots =
        Toolkit::debugScreenshot(dir + "/step-" + std::to_string(n) + "-" + steps[n].name + ".png");
    written &= !shots.unwritable;
    pictures += shots.written;
  }
  Toolkit::escapeAndLetGo();
  if (!written) return 1;
  return pictures > 0 ? 0 : Toolkit::failed("--steer-test: no display could be captured");
}

std::string SteeringModes::steered(const std::vector<NSScreen>& screens) {
  const double primaryTop = ScreenGeometry::primaryTop();
  for (const Toolkit::Listed& w : Toolkit::windowList(kCGWindowListOptionOnScreenOnly)) {
    if (!w.otherCopy() || w.layer != 101) continue;
    if (!w.bounds) return "no card";
    if (w.bounds->size.width >= 1000) continue;
    const CGPoint centre = platform::flipPoint(CGPoint{w.bounds->midX(), w.bounds->midY()}, primaryTop);
    for (std::size_t i = 0; i < screens.size(); ++i) {
      if (NSMouseInRect(centre, screens[i].frame())) {
        return "display " + std::to_string(i) + " (" + screens[i].localizedName() + ")";
      }
    }
    return "?";
  }
  return "no card";
}

int SteeringModes::openingTest(const std::string& out) {
  std::vector<NSScreen> screens = NSScreen::screens();
  std::stable_sort(screens.begin(), screens.end(),
                   [](const NSScreen& a, const NSScreen& b) { return a.frame().minX() < b.frame().minX(); });
  const std::optional<NSRunningApplication> frontApp = NSWorkspace::shared().frontmostApplication();
  const std::optional<std::uint32_t> frontWindow =
      frontApp ? focusedWindowID(frontApp->processIdentifier()) : std::nullopt;

  std::vector<std::string> lines{"1: " + session(screens, fnStep)};
  lines.push_back("2 (should match where 1 ended): " + session(screens, nullptr));

  const Workspace snapshot = Workspace::load(true);
  std::size_t end = 0;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    if (lines[1].find("(" + screens[i].localizedName() + ")") != std::string::npos) {
      end = i;
      break;
    }
  }
  const std::optional<NSScreen> ending = screens.empty() ? std::nullopt : std::optional<NSScreen>(screens[end]);
  const std::optional<std::int32_t> frontPID =
      frontApp ? std::optional<std::int32_t>(frontApp->processIdentifier()) : std::nullopt;
  const Cluster* target = nullptr;
  const DisplayGroup* where = nullptr;
  for (const DisplayGroup& display : snapshot.displays) {
    if (ending && display.screen == *ending) continue;
    for (const SpaceGroup& space : display.spaces) {
      for (const Cluster& c : space.clusters) {
        const std::optional<std::int32_t> pid = c.app() ? std::optional<std::int32_t>(c.app()->id) : std::nullopt;
        if (pid != frontPID && !c.windows.empty() && c.windows.front().element) {
          target = &c;
          break;
        }
      }
      if (target) break;
    }
    if (target) {
      where = &display;
      break;
    }
  }
  const AppInfo* app = target ? target->app(&target->windows.front()) : nullptr;
  if (app) {
    activate(*app, target->windows.front());
    Toolkit::pump(0.8);
    lines.push_back("went to " + target->name() + " on " + where->screen.localizedName());
    lines.push_back("3 (should be there): " + session(screens, nullptr));
  } else {
    lines.push_back("no other app's window on a showing Space of the other display to go to");
  }
  if (frontApp && frontWindow) {
    activate(AppInfo(*frontApp),
             WindowInfo(frontApp->processIdentifier(), frontWindow, nullptr, std::nullopt, false, false, std::nullopt));
  }
  return Toolkit::status(Toolkit::write(out, lines));
}

std::vector<SelfTestMode> SteeringModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--tab-test", "out", {},
       [](const Args& args, std::size_t at) { return tabTest(args[at + 1], TabExtras::fromEnvironment()); }},
      {"--steer-test", "dir", {}, [](const Args& args, std::size_t at) { return steerTest(args[at + 1]); }},
      {"--opening-test", "out", {}, [](const Args& args, std::size_t at) { return openingTest(args[at + 1]); }},
  };
}

}  // namespace trelliq
