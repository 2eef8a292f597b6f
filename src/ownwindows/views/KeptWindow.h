#pragma once
// The window of a kind the program makes once and keeps (the guide, Preferences, the
// welcome window): titled and closable, only hidden when closed, centred on the main
// screen when it is made, following its view's size afterwards. Its owner keeps one as a
// member declared after its view, so the window lets go of the view before the view dies.
// A moment after the window closed, if it is still closed, the heap's free pages go back
// to the system: what drawing it took would otherwise stay resident while the program
// waits. Main thread only.

#include <QSize>
#include <memory>
#include <optional>
#include <string>

#include "platform/AppKitWindows.h"

class QWidget;

namespace trelliq {

class ClosableWindow;

class KeptWindow {
 public:
  /// `delegate` gets the window's delegate calls; it must outlive this object.
  explicit KeptWindow(NSWindowDelegate& delegate);
  /// Takes the delegate and the content view off the window, which stays alive no longer.
  ~KeptWindow();
  KeptWindow(const KeptWindow&) = delete;
  KeptWindow& operator=(const KeptWindow&) = delete;

  /// Makes the window titled `title` showing `view`, whose content is `size` at `origin`
  /// (bottom-left, global). Later `fitToView` calls count from `size`. Call once.
  void make(const std::string& title, QWidget& view, QSize size, CGPoint origin = {});

  /// Where the bottom-left corner of a window of `frame` size goes on the main screen:
  /// centred across and in the middle of its visible frame, but never with its top above
  /// it, rounded to whole points; none when there is no screen.
  static std::optional<CGPoint> centred(CGSize frame);
  /// The bottom-left corner of a titled window's `content` centred as above (the title bar
  /// counts), or (0, 0) when there is no screen.
  static CGPoint centredContent(QSize content);
  /// Moves the window to the centre of the main screen, keeping its size; nothing without
  /// a window or a screen.
  void centre();

  /// The view went to `now`: the window grows or shrinks below its title bar to match.
  void fitToView(QSize now);

  /// Null until `make`.
  NSWindow* window() const;
  /// Whether the window exists and is on screen.
  bool isVisible() const;
  /// Closes (hides) the window if there is one.
  void close();

  /// How long after the window closed its memory goes back.
  static constexpr double memoryReliefDelay = 0.75;

 private:
  /// The window's delegate: hands every call on to the owner's, and gives memory back
  /// once the window has closed.
  class Relay : public NSWindowDelegate {
   public:
    explicit Relay(KeptWindow& kept) : kept_(kept) {}
    bool windowShouldClose(NSWindow& window) override { return kept_.delegate_.windowShouldClose(window); }
    void windowWillClose(NSWindow& window) override;
    void windowDidBecomeKey(NSWindow& window) override { kept_.delegate_.windowDidBecomeKey(window); }
    void windowDidResignKey(NSWindow& window) override { kept_.delegate_.windowDidResignKey(window); }

   private:
    KeptWindow& kept_;
  };

  NSWindowDelegate& delegate_;
  Relay relay_{*this};
  std::shared_ptr<int> life_ = std::make_shared<int>();  // watched by the relief it schedules
  std::unique_ptr<ClosableWindow> window_;
  QSize fitted_;  // the view's size the window's frame was last fitted to
};

}  // namespace trelliq
