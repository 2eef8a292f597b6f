#pragma once
// What the tests of performing a switch share: the default desk with the options
// registered, a controller made for the test, windows and apps taken from a real
// snapshot, and the diagnostics log's lines without their time stamps.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SwitcherPeer.h"
#include "platform/Files.h"
#include "platform/sim/WindowServer.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/Switcher.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq::perform {

// The default desk (see the world's notes): display 1 shows Space 1 of 1, 4, 5 (full
// screen), 6; display 3 shows Space 2 of 2, 7.
constexpr std::uint32_t kBuiltIn = 1;
constexpr std::uint32_t kWide = 3;
constexpr std::int32_t kFinder = 201, kQuill = 301, kLumen = 302, kHarbor = 303, kTally = 304, kCadence = 305,
                       kEasel = 308, kViewer = 310;

/// The log's lines as written; none when there is no log.
inline std::vector<std::string> logFileLines() {
  std::vector<std::string> lines;
  const auto bytes = platform::FileManager::contents(Diagnostics::url());
  if (!bytes) return lines;
  const std::string text(bytes->begin(), bytes->end());
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

/// The log's lines without their time stamps ("HH:mm:ss.SSS ").
inline std::vector<std::string> logLines() {
  std::vector<std::string> lines;
  for (const std::string& line : logFileLines()) lines.push_back(line.size() > 13 ? line.substr(13) : line);
  return lines;
}

/// The log lines that start with `prefix`.
inline std::vector<std::string> linesStarting(const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& line : logLines()) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

/// A window with its app, as a plan carries them.
struct Chosen {
  AppInfo app;
  WindowInfo window;
};

/// The screen of a display number.
inline std::optional<NSScreen> screenOf(std::uint32_t display) {
  for (const auto& screen : NSScreen::screens()) {
    if (screen.displayNumber() == display) return screen;
  }
  return std::nullopt;
}

/// The default desk, trusted and allowed to capture, with the options registered and a
/// controller of its own.
class PerformScene : public ::testing::Test {
 protected:
  PerformScene() {
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    Settings::registerDefaults();
    switcher = Switcher::make();
  }
  ~PerformScene() override {
    // Work still queued refers to the controller weakly; let it find the controller gone.
    switcher.reset();
    scene.clock.advance(10);
  }

  /// A window of the desk with its app, as a plan carries them. Made from the window
  /// server, since a snapshot lists only what the apps report on the showing Spaces.
  Chosen chosen(std::uint32_t number) {
    const auto w = scene.windowServer.window(number);
    EXPECT_TRUE(w) << "window " << number;
    const std::int32_t pid = w ? w->pid : 0;
    const auto app = NSRunningApplication::withProcessIdentifier(pid);
    EXPECT_TRUE(app) << "app " << pid;
    if (!w || !app) return Chosen{AppInfo(0, NSRunningApplication({}), "", nullptr, false), WindowInfo()};
    AXUIElementRef element = w->accessible && w->axElement ? AXUIElementMake({pid, w->axElement}) : nullptr;
    return Chosen{AppInfo(*app), WindowInfo(pid, number, element, w->title, w->minimized, w->fullScreen, w->bounds)};
  }

  /// A snapshot taken while `space` showed on its display (which shows its old Space again
  /// afterwards), as an open session may still hold it.
  Workspace loadShowing(std::uint64_t space) {
    const auto display = scene.windowServer.displayOfSpace(space);
    const auto before = display ? scene.windowServer.currentSpace(*display) : std::nullopt;
    EXPECT_TRUE(scene.windowServer.switchSpace(space, sim::SwitchStyle::instant));
    Workspace workspace = Workspace::load(false);
    if (before) scene.windowServer.switchSpace(*before, sim::SwitchStyle::instant);
    scene.clock.runUntilIdle();
    return workspace;
  }

  /// A session as `begin` leaves it, but whose selection on `display` is the tile of
  /// `window` (found among that display's tiles).
  void openOn(int display, std::uint32_t window, std::optional<std::uint64_t> showing = std::nullopt) {
    SwitcherPeer::setActive(*switcher, true);
    switcher->model().reset(showing ? loadShowing(*showing) : Workspace::load(false), display);
    SwitcherPeer::setOpenedOn(*switcher, display);
    const DisplayGroup* group = switcher->model().display(display);
    ASSERT_TRUE(group);
    for (const Cluster& c : group->clusters()) {
      for (const WindowInfo& w : c.windows) {
        if (w.windowID == window) switcher->model().select(c.id, display);
      }
    }
    ASSERT_TRUE(switcher->model().focusedTarget());
    ASSERT_EQ(switcher->model().focusedTarget()->windowID, window);
  }
  /// Whether the session's snapshot still holds the window.
  bool inModel(std::uint32_t window) {
    for (const WindowInfo& w : switcher->model().workspace().windows()) {
      if (w.windowID == window) return true;
    }
    return false;
  }
  /// Whether the session's snapshot still holds a window of the app.
  bool appInModel(std::int32_t pid) {
    for (const WindowInfo& w : switcher->model().workspace().windows()) {
      if (w.pid == pid) return true;
    }
    return false;
  }
  std::uint64_t current(std::uint32_t display) { return scene.windowServer.currentSpace(display).value_or(0); }
  std::int32_t frontmost() { return scene.windowServer.frontmost().value_or(0); }
  void setInstantSpaces(bool on) { Settings::defaults().set("instantSpaces", on); }

  Scene scene{Scene::Start::defaultScenario};
  std::shared_ptr<Switcher> switcher;
};

}  // namespace trelliq::perform
