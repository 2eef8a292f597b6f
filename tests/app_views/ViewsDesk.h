#pragma once
// The shell's windows on a simulated Mac: one QApplication for the program, the desk of
// the shell's tests, System Settings to open addresses, and the delegate that restarts.

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>

#include "app/AppDelegate.h"
#include "app/ShellDesk.h"
#include "settings/Settings.h"
#include "support/WidgetsApp.h"

namespace trelliq::test {

/// A widget is shown when it would be on screen with its top-level parent.
inline bool shown(const QWidget* w) { return w && !w->isHidden() && w->isVisibleTo(w->window()); }

/// A button's title, empty when it is hidden.
inline std::string title(const QPushButton* b) { return shown(b) ? b->text().toStdString() : ""; }
inline std::string title(const QLabel* l) { return shown(l) ? l->text().toStdString() : ""; }

struct ViewsDesk : ShellDesk {
  FakeWindow preferences;

  ViewsDesk() {
    ensureWidgets();
    server.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
    Settings::registerDefaults();
    NSApp().finishLaunching();
  }

  /// Makes `permissions` the window a restart reopens, with the delegate in place.
  void installDelegate(AppWindow& permissions) {
    delegate = std::make_unique<AppDelegate>(permissions, preferences);
    NSApp().setDelegate(delegate.get());
  }

  bool exited() const { return !processes.exits().empty(); }
  /// Whether a relaunch was started that opens the welcome window again.
  bool reopensPermissions() const {
    for (const auto& launch : processes.launches()) {
      const auto& args = launch.arguments;
      if (std::find(args.begin(), args.end(), "--show-permissions") != args.end()) return true;
    }
    return false;
  }
  bool relaunched() const {
    for (const auto& launch : processes.launches())
      if (launch.executable == "/bin/sh") return true;
    return false;
  }

  std::unique_ptr<AppDelegate> delegate;
};

}  // namespace trelliq::test
