#pragma once
// The one "Trelliq Preferences" window: made on the first `show`, centred then, and kept
// for the life of the process; closing only hides it, and every later `show` brings back
// the same window, view and view state where the user left it. Main thread only.

#include <memory>

#include "app/AppWindow.h"
#include "ownwindows/views/KeptWindow.h"
#include "platform/AppKitWindows.h"

namespace trelliq {

class PreferencesView;

class PreferencesWindow : public AppWindow, public NSWindowDelegate {
 public:
  static constexpr const char* title = "Trelliq Preferences";

  /// The program's Preferences window controller, made on first use.
  static PreferencesWindow& shared();

  /// A controller of its own (the program uses `shared`).
  PreferencesWindow();
  ~PreferencesWindow() override;
  PreferencesWindow(const PreferencesWindow&) = delete;
  PreferencesWindow& operator=(const PreferencesWindow&) = delete;

  /// Makes the window on the first call, then activates the program and brings the
  /// window to the front as key window.
  void show() override;
  /// The window's own visibility; false while none has been made.
  bool isVisible() const override;

  /// Null until the first `show`.
  NSWindow* window() const { return window_.window(); }
  PreferencesView* view() const { return view_.get(); }

  void windowWillClose(NSWindow& window) override;

 private:
  std::unique_ptr<PreferencesView> view_;
  KeptWindow window_{*this};  // after the view: it lets go of the view first
};

}  // namespace trelliq
