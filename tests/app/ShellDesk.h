#pragma once
// A simulated Mac for the application shell: one display, the program trusted, the
// system's hot keys on, a reader of the diagnostics log, and windows that only say
// whether they are showing.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/AppWindow.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/Processes.h"
#include "platform/sim/WindowServer.h"
#include "settings/Diagnostics.h"
#include "support/Scene.h"

/// Stands in for the Permissions and Preferences windows, which are built elsewhere.
struct FakeWindow : trelliq::AppWindow {
  bool visible = false;
  int shown = 0;
  void show() override {
    ++shown;
    visible = true;
  }
  bool isVisible() const override { return visible; }
};

struct ShellDesk {
  static constexpr std::uint32_t kDisplay = 1;
  static constexpr std::uint64_t kSpace = 10;

  Scene scene;
  sim::World& world = scene.world;
  sim::WindowServer& server = scene.windowServer;
  sim::EventServer* events = sim::EventServer::active();
  sim::Processes& processes = scene.world.processes();

  ShellDesk() {
    world.addDisplay(sim::makeDisplay(kDisplay, CGRect(0, 0, 1440, 900), "Built-in"));
    world.setAccessibilityTrusted(true);
    sim::Space desktop;
    desktop.id = kSpace;
    server.setSpaces(kDisplay, {desktop}, kSpace);
    server.keepCallLog(true);
    EXPECT_TRUE(events);
  }
  ~ShellDesk() { NSApp().setDelegate(nullptr); }

  /// Both of the system's switcher hot keys, as the window server has them.
  static bool hotKeysOn() {
    return sim::WindowServer::symbolicHotKeyEnabled(1) && sim::WindowServer::symbolicHotKeyEnabled(2);
  }
  static bool hotKeysOff() {
    return !sim::WindowServer::symbolicHotKeyEnabled(1) && !sim::WindowServer::symbolicHotKeyEnabled(2);
  }

  /// The log's messages without their time stamps.
  static std::vector<std::string> log() {
    std::vector<std::string> messages;
    std::ifstream file(trelliq::Diagnostics::url());
    for (std::string line; std::getline(file, line);) messages.push_back(line.size() > 13 ? line.substr(13) : "");
    return messages;
  }

  std::int32_t addApp(const std::string& name, const std::string& bundlePath) {
    sim::App app;
    app.name = name;
    app.bundlePath = bundlePath;
    return server.addApp(app);
  }
};
