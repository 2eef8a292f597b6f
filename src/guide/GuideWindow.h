#pragma once
// The one "Keyboard Shortcuts" window of the program. It is built on the first request,
// kept when the user closes it and reused by every later request, so the topic, variant
// and mode it showed survive (closing returns the mode menu to the current mode). Main
// thread only.

#include <memory>
#include <optional>
#include <string>

#include "ownwindows/views/KeptWindow.h"
#include "platform/AppKitWindows.h"

namespace trelliq {

class GuideView;

class GuideWindow : public NSWindowDelegate {
 public:
  /// The program's guide, made on first use and kept for the life of the process.
  static GuideWindow& shared();

  /// A guide of its own (the program uses `shared`).
  GuideWindow();
  ~GuideWindow() override;
  GuideWindow(const GuideWindow&) = delete;
  GuideWindow& operator=(const GuideWindow&) = delete;

  /// Builds the window on the first call, on the topic titled `topic` (else the current
  /// mode's first topic); later calls ignore `topic`. Every call brings the window forward
  /// and makes it key.
  void show(const std::optional<std::string>& topic = std::nullopt);
  /// Closes the window if there is one; it stays alive for the next `show`.
  void close();

  /// Null until the first `show`.
  NSWindow* window() const { return window_.window(); }
  GuideView* view() const { return view_.get(); }

  void windowWillClose(NSWindow& window) override;

 private:
  std::unique_ptr<GuideView> view_;
  KeptWindow window_{*this};  // after the view: it lets go of the view first
};

}  // namespace trelliq
