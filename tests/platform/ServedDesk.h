#pragma once
// The scene's window server with its accessibility and event services at hand, on one
// 1440×900 display with two desktops, the process trusted.

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/AccessibilityServer.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/WindowServer.h"
#include "support/Scene.h"
#include "support/Served.h"

struct ServedDesk {
  static constexpr std::uint32_t kDisplay = 1;
  static constexpr std::uint64_t kLeft = 10, kRight = 11;

  Scene scene;
  sim::WindowServer& server = scene.windowServer;
  sim::AccessibilityServer* ax = sim::AccessibilityServer::active();
  sim::EventServer* events = sim::EventServer::active();
  Attachment attachment;

  /// With Served::remote the façades reach this desk through a host; the scene shapes it either way.
  explicit ServedDesk(Served how = Served::inProcess) : attachment(scene, how) {
    EXPECT_TRUE(ax && events) << "the scene serves accessibility and events";
    scene.world.addDisplay(sim::makeDisplay(kDisplay, CGRect(0, 0, 1440, 900), "Built-in"));
    scene.world.setAccessibilityTrusted(true);
    server.setSpaces(kDisplay, {space(kLeft), space(kRight)}, kLeft);
  }

  static sim::Space space(std::uint64_t id, std::int32_t type = sim::kSpaceTypeDesktop) {
    sim::Space s;
    s.id = id;
    s.type = type;
    return s;
  }

  std::int32_t addApp(const std::string& name) {
    sim::App app;
    app.name = name;
    app.bundleIdentifier = "com.example." + name;
    return server.addApp(app);
  }

  std::uint32_t addWindow(std::int32_t pid, const std::string& title, std::uint64_t space,
                          CGRect bounds = CGRect(100, 100, 600, 400)) {
    sim::Window w;
    w.pid = pid;
    w.title = title;
    w.bounds = bounds;
    w.spaces = {space};
    return server.addWindow(w);
  }

  /// The element handle the app hands out for one of its windows.
  AXUIElementRef elementOf(std::uint32_t window) {
    const auto w = server.window(window);
    return w ? AXUIElementMake(AXElementID{w->pid, w->axElement}) : nullptr;
  }
};
