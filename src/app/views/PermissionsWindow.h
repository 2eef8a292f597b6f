#pragma once
// The welcome window ("Welcome to Trelliq"): made on the first `show`, only hidden when
// closed and reused by every later `show`. Its view checks the permissions once a second
// while the window is on screen. Main thread only.

#include <functional>
#include <memory>
#include <utility>

#include "app/AppWindow.h"
#include "ownwindows/views/KeptWindow.h"
#include "platform/AppKitWindows.h"

namespace trelliq {

class PermissionsView;

class PermissionsWindow : public AppWindow, public NSWindowDelegate {
 public:
  static constexpr const char* title = "Welcome to Trelliq";

  /// The program's window, made on first use and kept for the life of the process.
  static PermissionsWindow& shared();

  /// A window of its own (the program uses `shared`).
  PermissionsWindow();
  ~PermissionsWindow() override;
  PermissionsWindow(const PermissionsWindow&) = delete;
  PermissionsWindow& operator=(const PermissionsWindow&) = delete;

  /// Builds the window on the first call, else gives it a fresh view; centres it unless it
  /// is on screen already, then brings it forward with the keyboard.
  void show() override;
  /// Whether the window exists and is on screen.
  bool isVisible() const override;
  /// Closes (hides) the window if there is one.
  void close();

  /// Null until the first `show`.
  NSWindow* window() const { return window_.window(); }
  /// The view the window shows now; null until the first `show`.
  PermissionsView* view() const { return view_.get(); }

  void windowWillClose(NSWindow& window) override;

  /// How "How It Works" opens the guide; empty means the program's shared guide window.
  void setOpenGuide(std::function<void()> call) { openGuide_ = std::move(call); }

 private:
  std::function<void()> openGuide_;
  void install(std::unique_ptr<PermissionsView> view);
  /// Makes the window as tall as its view, its top edge where it was.
  void fitHeight();

  std::unique_ptr<PermissionsView> view_;
  KeptWindow window_{*this};  // after the view: it lets go of the view first
};

}  // namespace trelliq
