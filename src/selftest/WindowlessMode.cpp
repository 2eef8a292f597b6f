#include "selftest/WindowlessMode.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <utility>

#include "platform/AppKitWindows.h"
#include "platform/Files.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "settings/Settings.h"

namespace trelliq {

namespace {

constexpr const char* kFinder = "com.apple.finder";

// A display's Spaces without full-screen Spaces and app tiles, and the front tile to match.
void onlyDesktops(DisplayGroup& display) {
  std::vector<SpaceGroup> spaces;
  for (SpaceGroup space : display.spaces) {
    if (space.fullScreen) continue;
    std::erase_if(space.clusters, [](const Cluster& c) { return !c.isDesktop(); });
    if (!space.clusters.empty()) spaces.push_back(std::move(space));
  }
  display.spaces = std::move(spaces);
  display.here.reset();
  const auto current =
      std::find_if(display.spaces.begin(), display.spaces.end(), [](const SpaceGroup& s) { return s.current; });
  if (current != display.spaces.end()) display.here = current->clusters.front().id;
}

}  // namespace

Workspace WindowlessMode::snapshot(const Workspace& loaded, std::optional<std::int64_t> keep,
                                   const std::vector<NSRunningApplication>& running, std::int32_t own, Tray trayApps) {
  std::vector<DisplayGroup> displays = loaded.displays;
  for (std::size_t d = 0; d < displays.size(); ++d) {
    if (keep && static_cast<std::int64_t>(d) == *keep) continue;
    onlyDesktops(displays[d]);
  }

  std::vector<AppInfo> tray(loaded.tray.begin(), loaded.tray.begin() + std::min<std::size_t>(6, loaded.tray.size()));
  const auto inLoaded = [&](std::int32_t pid) {
    return std::any_of(loaded.tray.begin(), loaded.tray.end(), [&](const AppInfo& a) { return a.id == pid; });
  };
  std::size_t room = loaded.tray.size() < 4 ? 4 - loaded.tray.size() : 0;
  for (const NSRunningApplication& app : running) {
    if (room == 0) break;
    const std::int32_t pid = app.processIdentifier();
    if (app.activationPolicy() != platform::ActivationPolicy::regular || pid == own || inLoaded(pid)) continue;
    tray.emplace_back(app);
    --room;
  }
  if (trayApps == Tray::finderOnly) {
    std::erase_if(tray,
                  [](const AppInfo& a) { return a.app.bundleIdentifier() != std::optional<std::string>(kFinder); });
  }
  return Workspace(std::move(displays), std::move(tray), loaded.names, loaded.appDesktops);
}

int WindowlessMode::focusedDisplay(std::size_t displays, std::optional<std::int64_t> keep) {
  for (std::size_t d = 0; d < displays; ++d) {
    if (!keep || static_cast<std::int64_t>(d) != *keep) return static_cast<int>(d);
  }
  return 0;
}

std::string WindowlessMode::describe(const Switcher::Switch& planned) {
  if (const auto* w = std::get_if<Switcher::Switch::Window>(&planned.what)) {
    return "go to " + w->app.name + " window " +
           (w->window.windowID ? std::to_string(*w->window.windowID) : std::string("-"));
  }
  if (const auto* o = std::get_if<Switcher::Switch::Open>(&planned.what)) {
    return "open " + o->app.name + " on " + o->screen.localizedName();
  }
  const auto& d = std::get<Switcher::Switch::Desktop>(planned.what);
  return "go to the desktop on space " + std::to_string(d.space) + " of " + d.screen.localizedName();
}

std::string WindowlessMode::line(const std::string& name, const SwitcherModel& model,
                                 const std::vector<Switcher::Switch>& plan) {
  const int focused = model.focused();
  const DisplayGroup* display = model.display(focused);
  std::string selection = "-";
  if (const AppInfo* app = model.selectedTrayApp()) {
    selection = app->name;
  } else if (const Cluster* cluster = model.selectedCluster(focused)) {
    selection = cluster->name();
  }
  std::string planText;
  for (const Switcher::Switch& s : plan) planText += (planText.empty() ? "" : ", ") + describe(s);
  return name + ": steering " + (display ? display->screen.localizedName() : std::string("?")) + ", onTray " +
         ModeReport::text(model.onTray()) + ", selected " + selection + "; letting go would " +
         (plan.empty() ? std::string("do nothing") : planText);
}

int WindowlessMode::run(const std::string& dir, std::optional<std::int64_t> keep, Tray tray) {
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  const Workspace loaded = Workspace::load(Settings::desktops(), false);
  const Workspace shown = snapshot(loaded, keep, NSWorkspace::shared().runningApplications(),
                                   NSProcessInfo::processInfo().processIdentifier(), tray);
  const int focused = focusedDisplay(shown.displays.size(), keep);

  Switcher& switcher = Switcher::shared();
  switcher.model().reset(shown, focused);
  switcher.model().stepCluster(1);
  switcher.session().present();

  SwitcherModel& model = switcher.model();
  const std::vector<std::pair<std::string, std::function<void()>>> steps = {
      {"open", [] {}},
      {"tab", [&] { model.stepCluster(1); }},
      {"shift-tab", [&] { model.stepCluster(-1); }},
      {"shift-tab-again", [&] { model.stepCluster(-1); }},
      {"fn", [&] { model.focusNextDisplay(); }},
      {"fn-again", [&] { model.focusNextDisplay(); }},
      {"control",
       [&] {
         model.setControlHeld(true);
         model.enterTray();
       }},
  };
  std::vector<std::string> lines;
  bool written = true;
  for (const auto& [name, action] : steps) {
    action();
    ModeClock::pump(0.6);
    lines.push_back(
        line(name, model, SwitchPerformer::plannedSwitches(switcher.model(), switcher.session().openedOnDisplay())));
    // Displays that cannot be captured give no pictures; the log still says what happened.
    if (ModeReport::debugScreenshot(platform::joinPath(dir, name + ".png")).unwritable) written = false;
  }
  if (!ModeReport::write(platform::joinPath(dir, "log.txt"), lines)) written = false;
  return ModeReport::status(written);
}

std::vector<SelfTestMode> WindowlessMode::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--windowless-test", "dir [keep]", optionalParsesAt(2, 2, isInteger),
       [](const Args& args, std::size_t at) {
         const std::optional<std::int64_t> keep = at + 2 < args.size() ? parseInteger(args[at + 2]) : std::nullopt;
         const char* tray = std::getenv("TRAY");
         return run(args[at + 1], keep, tray && std::string(tray) == "finder" ? Tray::finderOnly : Tray::topped);
       }},
  };
}

}  // namespace trelliq
