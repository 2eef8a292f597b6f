// The settings app's privacy panes: opened by their links, switched by a click.

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"
#include "platform/sim/SettingsPane.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

/// The running settings app, or a new one.
std::int32_t settingsApp(Desk& desk, double now) {
  for (const auto& [pid, a] : desk.allApps()) {
    if (!a.terminated && a.bundleIdentifier == kSettingsAppBundle) return pid;
  }
  App app;
  app.name = kSettingsAppName;
  app.bundleIdentifier = kSettingsAppBundle;
  app.bundlePath = kSettingsAppPath;
  app.iconColor = 0x8E8E93;
  app.opensFirstWindow = false;
  return desk.addApp(std::move(app), now);
}

/// The middle of the display the pointer is on (else the first), for a new pane.
CGRect paneFrame(const Desk& desk) {
  const auto display = desk.displayAt(desk.pointer);
  const DeskDisplay* dd = display ? desk.display(*display) : nullptr;
  if (!dd && !desk.displayOrder().empty()) dd = desk.display(desk.displayOrder().front());
  const CGRect f = dd ? dd->frame : CGRect(0, 0, kPaneWidth, kPaneHeight);
  return CGRect(std::round(f.midX() - kPaneWidth / 2),
                std::round(f.minY() + std::max(dd ? dd->menuBar : 0.0, (f.height() - kPaneHeight) / 3)), kPaneWidth,
                kPaneHeight);
}

}  // namespace

void WindowServer::showPrivacyPane(const std::string& url) {
  const auto list = privacyListOf(url);
  if (!list) return;
  const double now = platform::now();
  edit([&](Desk& desk) {
    desk.openedURLs.push_back(url);
    const std::int32_t pid = settingsApp(desk, now);
    std::uint32_t number = 0;
    for (const auto& [n, w] : desk.allWindows()) {
      if (w.pid == pid && !w.settingsPane.empty()) number = n;
    }
    if (!number) {
      Window w;
      w.pid = pid;
      w.title = kPaneTitle;
      w.bounds = paneFrame(desk);
      w.color = 0xECECEC;
      number = desk.addWindow(w);
    }
    Window* pane = desk.window(number);
    pane->settingsPane = privacyAnchor(*list);
    if (pane->minimized) desk.setMinimized(number, false);
    desk.raise(number);
    desk.makeFrontmost(pid);
    desk.touch();
  });
}

void WindowServer::switchPrivacyPane(std::uint32_t number, CGPoint location) {
  std::optional<PrivacyList> list;
  read([&](const Desk& desk) {
    const Window* w = desk.window(number);
    if (w && paneSwitch(w->bounds).contains(location)) list = privacyListWithAnchor(w->settingsPane);
  });
  if (!list) return;
  // As a person's switch in the settings: Accessibility is given or taken at once; screen
  // recording reaches a process that starts from now on, so the running program learns
  // of it by asking a fresh copy of itself.
  if (*list == PrivacyList::accessibility) {
    world_.setAccessibilityTrusted(!world_.accessibilityTrusted(false));
  } else {
    world_.setScreenCaptureForNewProcesses(!world_.screenCaptureForNewProcesses());
  }
  edit([](Desk& desk) { desk.touch(); });  // the switch is drawn anew
}

}  // namespace sim
