#include "selftest/FocusModes.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "switcher/SwitchPerformer.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

std::int32_t ownPID() { return NSProcessInfo::processInfo().processIdentifier(); }

std::optional<std::int32_t> frontPID() {
  const std::optional<NSRunningApplication> front = NSWorkspace::shared().frontmostApplication();
  if (!front) return std::nullopt;
  return front->processIdentifier();
}

// A window known by its number alone, as the window list gives it.
WindowInfo bare(std::int32_t pid, std::optional<std::uint32_t> window, std::optional<std::string> title = {}) {
  return WindowInfo(pid, window, nullptr, std::move(title), false, false, std::nullopt);
}

// The desktop-focus test's line: front app, its focused window and the Spaces showing.
std::string desktopState() {
  const std::optional<std::int32_t> pid = frontPID();
  const std::optional<std::uint32_t> focused = pid ? focusedWindowID(*pid) : std::nullopt;
  return "front " + WorldReader::frontName("-") + " focused window " +
         (focused ? std::to_string(*focused) : std::string("-")) + " showing " + WorldReader::spaces();
}

}  // namespace

FocusModes::Raise FocusModes::raiseMode(const char* value) {
  const std::string mode = value ? value : "";
  if (mode == "nsactivate") return Raise::application;
  if (mode == "both") return Raise::both;
  if (mode == "raise") return Raise::accessibility;
  return Raise::own;
}

int FocusModes::focusTest(const std::string& out, const std::string& name) {
  const Workspace snapshot = Workspace::load(true);
  std::vector<Cluster> clusters;
  for (const DisplayGroup& display : snapshot.displays) {
    for (Cluster& c : display.clusters()) clusters.push_back(std::move(c));
  }
  const std::int32_t own = ownPID();
  const Cluster* target = nullptr;
  for (const Cluster& c : clusters) {
    if (c.name() == name && (!c.app() || c.app()->id != own)) {
      target = &c;
      break;
    }
  }
  const std::optional<std::int32_t> frontProcess = frontPID();
  const Cluster* front = nullptr;
  for (const Cluster& c : clusters) {
    if (frontProcess && c.app() && c.app()->id == *frontProcess) {
      front = &c;
      break;
    }
  }
  if (!target || target->windows.empty() || !target->app() || !front || !front->app()) {
    return ModeReport::status(ModeReport::write(out, {"no " + name + " window (or nothing in front to come back to)"}));
  }
  std::vector<std::string> lines{"before: " + WorldReader::state()};
  const WindowInfo& window = target->windows.front();
  lines.push_back("target: " + name + " window " +
                  (window.windowID ? std::to_string(*window.windowID) : std::string("?")) +
                  " accessory=" + ModeReport::text(target->accessory()));
  activate(*target->app(), window);
  ModeClock::pump(0.6);
  lines.push_back("after: " + WorldReader::state());
  // A front tile whose remembered window index is out of range goes back to the app alone.
  const auto index = static_cast<std::size_t>(front->lastWindow.value_or(0));
  std::optional<WindowInfo> back;
  if (index < front->windows.size()) back = front->windows[index];
  activate(*front->app(), back);
  ModeClock::pump(0.4);
  lines.push_back("back: " + WorldReader::state());
  return ModeReport::status(ModeReport::write(out, lines));
}

int FocusModes::selfFocusTest(const std::string& out) {
  NSApplication& app = NSApp();
  app.setActivationPolicy(NSApplicationActivationPolicyAccessory);
  app.finishLaunching();
  // Routed events wait for the pump below, as in a process that launched without running.
  app.setDispatchesEventsAutomatically(false);
  const std::optional<std::int32_t> previous = frontPID();

  auto window =
      std::make_unique<NSWindow>(CGRect(200, 200, 400, 300), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                 NSBackingStoreType::buffered, false);
  window->setTitle("Focus test");
  window->orderFrontRegardless();
  ModeClock::pumpEvents(0.3, 0.01);

  const AppInfo me(NSRunningApplication::current());
  const WindowInfo mine = bare(ownPID(), static_cast<std::uint32_t>(window->windowNumber()), window->title());
  std::vector<std::string> lines{"before: " + WorldReader::state(app, *window)};
  activate(me, mine);
  ModeClock::pumpEvents(0.6, 0.01);
  lines.push_back("after: " + WorldReader::state(app, *window));
  if (previous) {
    if (const std::optional<NSRunningApplication> before = NSRunningApplication::withProcessIdentifier(*previous)) {
      activate(AppInfo(*before), bare(*previous, focusedWindowID(*previous)));
      ModeClock::pumpEvents(0.4, 0.01);
    }
  }
  lines.push_back("back: front " + WorldReader::frontName());
  const bool written = ModeReport::write(out, lines);
  app.setDispatchesEventsAutomatically(true);
  return ModeReport::status(written);
}

int FocusModes::activateTest(const std::string& out, std::uint32_t w1, std::uint32_t w2, Raise raise) {
  std::vector<std::string> lines{"start " + WorldReader::spaces() + " " + WorldReader::frontName()};
  if (const auto first = WorldReader::owner(w1)) {
    const auto& [app, window] = *first;
    switch (raise) {
      case Raise::own:
        activate(app, window);
        break;
      case Raise::application:
        app.app.activate(0);
        break;
      case Raise::both:
        activate(app, window);
        ModeClock::pump(0.3);
        app.app.activate(0);
        break;
      case Raise::accessibility:
        if (const AXUIElementRef element = Private::axElement(app.id, w1)) {
          AXUIElementSetAttributeValue(element, kAXMainAttribute, AXValue(true));
          AXUIElementPerformAction(element, kAXRaiseAction);
        }
        break;
    }
    const std::pair<const char*, double> samples[] = {{"0.3", 0.3}, {"1.0", 0.7}, {"2.0", 1.7}};
    for (const auto& [label, wait] : samples) {
      ModeClock::pump(wait);
      const std::optional<std::uint32_t> focused = focusedWindowID(app.id);
      lines.push_back(std::string(label) + "s " + WorldReader::spaces() + " " + WorldReader::frontName() + " focused " +
                      (focused ? std::to_string(*focused) : std::string("-")));
    }
  }
  if (const auto second = WorldReader::owner(w2)) {
    UserActions::jumpToSpaceOf(w2);
    activate(second->first, second->second);
    ModeClock::pump(0.5);
  }
  lines.push_back("back " + WorldReader::spaces() + " " + WorldReader::frontName());
  return ModeReport::status(ModeReport::write(out, lines));
}

int FocusModes::desktopFocusTest(const std::string& out) {
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  const std::optional<NSRunningApplication> remembered = NSWorkspace::shared().frontmostApplication();
  const std::vector<NSScreen> screens = NSScreen::screens();
  std::optional<NSScreen> screen;
  const CGPoint pointer = NSEvent::mouseLocation();
  for (const NSScreen& s : screens) {
    if (NSMouseInRect(pointer, s.frame())) {
      screen = s;
      break;
    }
  }
  if (!screen && !screens.empty()) screen = screens.front();

  std::vector<std::string> lines{"before: " + desktopState()};
  // Without any screen there is no desktop to focus, and the report says nothing of one.
  if (screen) {
    lines.push_back("focusDesktop(" + screen->localizedName() +
                    "): " + ModeReport::text(SwitchPerformer::focusDesktop(*screen)));
  }
  ModeClock::pump(0.5);
  lines.push_back("after: " + desktopState());
  if (remembered) remembered->activate(0);
  ModeClock::pump(0.5);
  lines.push_back("back: " + desktopState());
  return ModeReport::status(ModeReport::write(out, lines));
}

std::vector<SelfTestMode> FocusModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--focus-test",
       "out app",
       {},
       [](const Args& args, std::size_t at) { return focusTest(args[at + 1], args[at + 2]); }},
      {"--self-focus-test", "out", {}, [](const Args& args, std::size_t at) { return selfFocusTest(args[at + 1]); }},
      {"--activate-test", "out w1 w2", windowNumbersAt({2, 3}),
       [](const Args& args, std::size_t at) {
         return activateTest(args[at + 1], *parseWindowNumber(args[at + 2]), *parseWindowNumber(args[at + 3]),
                             raiseMode(std::getenv("MODE")));
       }},
      {"--desktop-focus-test",
       "out",
       {},
       [](const Args& args, std::size_t at) { return desktopFocusTest(args[at + 1]); }},
  };
}

}  // namespace trelliq
