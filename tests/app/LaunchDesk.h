#pragma once
// The shell at launch: a simulated Mac, the two windows as recorders of what was shown
// and in which order, and a delegate that is the application's delegate.

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppDelegatePeer.h"
#include "ShellDesk.h"
#include "app/AppDelegate.h"
#include "platform/AppKitMenus.h"
#include "support/WidgetsApp.h"
#include "switcher/Switcher.h"

/// A window that notes every show in a list both windows share.
struct RecordingWindow : trelliq::AppWindow {
  RecordingWindow(std::string name, std::vector<std::string>& shows) : name(std::move(name)), shows(shows) {}
  std::string name;
  std::vector<std::string>& shows;
  bool visible = false;
  void show() override {
    shows.push_back(name);
    visible = true;
  }
  bool isVisible() const override { return visible; }
};

struct LaunchDesk : ShellDesk {
  std::vector<std::string> shows;
  RecordingWindow permissions{"permissions", shows};
  RecordingWindow preferences{"preferences", shows};
  trelliq::AppDelegate delegate{permissions, preferences};
  trelliq::AppDelegatePeer peer{delegate};

  LaunchDesk() { NSApp().setDelegate(&delegate); }
  // The switcher's watches observe the defaults on this clock's main queue; they must not
  // outlive it.
  ~LaunchDesk() { trelliq::Switcher::shared().stopTap(); }

  void launch(const std::vector<std::string>& arguments = {}) { delegate.applicationDidFinishLaunching(arguments); }

  NSMenu& menu() { return *peer.statusItem()->menu(); }
  std::string buttonTitle() const { return peer.statusItem()->button()->title(); }

  /// The menu as the user reads it: titles, "—" for a separator, "[picker]" for the picker.
  std::vector<std::string> entries() {
    std::vector<std::string> out;
    for (const auto& item : menu().items()) {
      out.push_back(item->isSeparatorItem() ? "—" : item->view() ? "[picker]" : item->title());
    }
    return out;
  }

  /// Taps the program has installed that filter (not only listen to) events.
  std::size_t activeTaps() const {
    std::size_t count = 0;
    for (const auto& tap : events->taps()) count += tap.request.listenOnly ? 0 : 1;
    return count;
  }

  /// Chooses the entry with that title, as the user would after opening the menu.
  bool choose(const std::string& title) {
    peer.statusItem()->click();
    auto item = menu().itemWithTitle(title);
    return item && menu().performActionForItemAtIndex(menu().indexOfItem(*item));
  }
};

inline const std::vector<std::string> kMenu{"[picker]",     "—", "Check for Updates…", "How It Works…",
                                            "Preferences…", "—", "Quit Trelliq"};
