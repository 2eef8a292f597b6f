#include "selftest/SteeringModes.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Geometry.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/Focus.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

// The copy's panels among another process's on-screen windows of the program.
std::vector<std::string> panels() {
  std::vector<std::string> lines = WorldReader::onScreen("Trelliq");
  std::erase_if(lines, [](const std::string& line) { return !WorldReader::isPanel(line); });
  return lines;
}

// One switcher session on the copy: where it opened, and where `body` left it.
std::string session(const std::vector<NSScreen>& screens, const std::function<void()>& body) {
  UserActions::commandTab();
  UserActions::lookOnceCopysPanelShows(0.5);
  const std::string first = SteeringModes::steered(screens);
  if (body) body();
  const std::string second = SteeringModes::steered(screens);
  UserActions::escapeAndLetGo();
  ModeClock::pump(0.5);
  return "opened on " + first + (second == first ? "" : ", then " + second);
}

// The fn tap under ⌘: the copy's switcher steps to the next display.
void fnStep() {
  UserActions::key(keys::fn, keys::press, keys::commandFn, keys::modifier);
  UserActions::key(keys::fn, keys::release, keys::commandFlag, keys::modifier);
  ModeClock::pump(0.3);
}

}  // namespace

SteeringModes::TabExtras SteeringModes::TabExtras::fromEnvironment() {
  TabExtras extras;
  extras.captureDir = ModeReport::variable("CAPTURE_DIR");
  extras.numberDir = ModeReport::variable("NUMBER_DIR");
  extras.tapOptionDir = ModeReport::variable("TAP_OPT_DIR");
  extras.holdOptionDir = ModeReport::variable("HOLD_OPT_DIR");
  if (const auto tabs = ModeReport::variable("EXTRA_TABS"))
    extras.extraTabs = std::max<long long>(0, parseInteger(*tabs).value_or(0));
  return extras;
}

int SteeringModes::tabTest(const std::string& out, const TabExtras& extras) {
  bool written = true;
  UserActions::commandTab();
  // Six samples, each 0.05 s after the one before; the labels are the schedule's names.
  std::vector<std::string> timeline;
  for (const char* label : {"0.05", "0.15", "0.3", "0.5", "0.8", "1.2"}) {
    const double start = ModeClock::seconds();
    while (ModeClock::seconds() - start < 0.05) ModeClock::pump(0.01);
    timeline.push_back(std::string(label) + "s:" + std::to_string(panels().size()));
  }
  if (extras.captureDir) {
    std::string joined;
    for (const std::string& entry : timeline) joined += (joined.empty() ? "" : " ") + entry;
    written &= ModeReport::write(*extras.captureDir + "/timeline.txt", {joined});
  }
  for (long long i = 0; i < extras.extraTabs; ++i) {
    UserActions::press(keys::tab);
    ModeClock::pump(0.4);
  }
  if (extras.captureDir) written &= ModeReport::writeScreenshot(*extras.captureDir + "/ours-shot.png");
  if (extras.numberDir) {
    for (const auto& [code, digit] : {std::pair{keys::two, "2"}, std::pair{keys::one, "1"}}) {
      UserActions::press(code);
      ModeClock::pump(0.4);
      written &= ModeReport::writeScreenshot(*extras.numberDir + "/number-" + digit + ".png");
    }
  }
  if (extras.tapOptionDir) {
    const std::string& dir = *extras.tapOptionDir;
    UserActions::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    ModeClock::pump(0.05);
    UserActions::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    ModeClock::pump(0.4);
    written &= ModeReport::writeScreenshot(dir + "/opt-tap.png");
    UserActions::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    ModeClock::pump(0.6);
    written &= ModeReport::writeScreenshot(dir + "/opt-hold.png");
    UserActions::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    ModeClock::pump(0.5);
    written &= ModeReport::writeScreenshot(dir + "/opt-let-go.png");
  }
  if (extras.holdOptionDir) {
    const std::string& dir = *extras.holdOptionDir;
    UserActions::key(keys::option, keys::press, keys::commandOption, keys::modifier);
    ModeClock::pump(0.4);
    UserActions::key(keys::tab, keys::press, keys::commandOption, keys::plain);
    UserActions::key(keys::tab, keys::release, keys::commandOption, keys::plain);
    ModeClock::pump(0.5);
    written &= ModeReport::writeScreenshot(dir + "/opt-held.png");
    UserActions::key(keys::option, keys::release, keys::commandFlag, keys::modifier);
    ModeClock::pump(0.5);
    written &= ModeReport::writeScreenshot(dir + "/opt-released.png");
  }
  const std::vector<std::string> ours = panels();
  std::vector<std::string> dock = WorldReader::onScreen("Dock");
  std::erase_if(dock, [](const std::string& line) { return line.find("Desktop") != std::string::npos; });
  UserActions::escapeAndLetGo();
  written &= ModeReport::write(out, {"our switcher windows: " + ModeReport::strings(ours),
                                     "Dock windows on screen: " + ModeReport::strings(dock)});
  return ModeReport::status(written);
}

int SteeringModes::steerTest(const std::string& dir) {
  struct Step {
    const char* name;
    std::function<void()> keystroke;
  };
  const Step steps[] = {
      {"tab", [] { UserActions::press(keys::tab); }},
      {"fn", [] { UserActions::tapUnderCommand(keys::fn, keys::commandFn); }},
      {"tab", [] { UserActions::press(keys::tab); }},
      {"tab", [] { UserActions::press(keys::tab); }},
      {"option", [] { UserActions::tapUnderCommand(keys::option, keys::commandOption); }},
      {"backtick", [] { UserActions::press(keys::grave); }},
  };
  UserActions::key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  bool written = true;
  std::size_t pictures = 0;
  for (std::size_t n = 0; n < std::size(steps); ++n) {
    steps[n].keystroke();
    UserActions::lookOnceCopysPanelShows(0.5);
    const ModeReport::Shots shots =
        ModeReport::debugScreenshot(dir + "/step-" + std::to_string(n) + "-" + steps[n].name + ".png");
    written &= !shots.unwritable;
    pictures += shots.written;
  }
  UserActions::escapeAndLetGo();
  if (!written) return 1;
  return pictures > 0 ? 0 : ModeReport::failed("--steer-test: no display could be captured");
}

std::string SteeringModes::steered(const std::vector<NSScreen>& screens) {
  const double primaryTop = ScreenGeometry::primaryTop();
  for (const WorldReader::Listed& w : WorldReader::windowList(kCGWindowListOptionOnScreenOnly)) {
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
    ModeClock::pump(0.8);
    lines.push_back("went to " + target->name() + " on " + where->screen.localizedName());
    lines.push_back("3 (should be there): " + session(screens, nullptr));
  } else {
    lines.push_back("no other app's window on a showing Space of the other display to go to");
  }
  if (frontApp && frontWindow) {
    activate(AppInfo(*frontApp),
             WindowInfo(frontApp->processIdentifier(), frontWindow, nullptr, std::nullopt, false, false, std::nullopt));
  }
  return ModeReport::status(ModeReport::write(out, lines));
}

std::vector<SelfTestMode> SteeringModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--tab-test",
       "out",
       {},
       [](const Args& args, std::size_t at) { return tabTest(args[at + 1], TabExtras::fromEnvironment()); }},
      {"--steer-test", "dir", {}, [](const Args& args, std::size_t at) { return steerTest(args[at + 1]); }},
      {"--opening-test", "out", {}, [](const Args& args, std::size_t at) { return openingTest(args[at + 1]); }},
  };
}

}  // namespace trelliq
