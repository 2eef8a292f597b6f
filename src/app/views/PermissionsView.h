#pragma once
// The welcome window's content: a header, one card per permission, the confirmation note
// and the footer. While on screen it checks the system once a second and follows every
// change; the footer stays disabled until Accessibility is granted. Main thread only.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "ui/WhileShown.h"

class QLabel;
class QPushButton;

namespace trelliq {

class PermissionNote;
class PermissionRow;
class PreviewDemo;

class PermissionsView : public QWidget, public NSResponder {
 public:
  static constexpr int fixedWidth = 600;
  /// The application's icon in the header is this many points square.
  static constexpr int iconSide = 80;
  static constexpr platform::Seconds pollInterval = 1.0;

  /// Starts from the permissions as they read now, with no restart pending; the live-preview
  /// demonstration highlights icon `demoIndex` first.
  explicit PermissionsView(int demoIndex = 0, QWidget* parent = nullptr);
  ~PermissionsView() override;

  /// The window's one width and the height its content needs there, wrapped text included.
  QSize sizeHint() const override { return {fixedWidth, fittedHeight_}; }

  /// The window came on screen: the checks start (the first one a second from now) and
  /// the demonstration moves.
  void appear();
  /// The window left the screen: no further check starts and the demonstration stops.
  void disappear();
  bool isPolling() const { return polling_; }

  /// One check of the system, as the timer runs it. The restart question, when still
  /// open, is answered later on the main queue; `done` runs once the pass is complete.
  void poll(std::function<void()> done = nullptr);

  /// `call` runs first when either footer button is clicked: the window closes.
  void setOnClose(std::function<void()> call) { onClose_ = std::move(call); }
  /// `call` runs when Accessibility arrives while the window shows.
  void setOnAccessibilityGranted(std::function<void()> call) { onAccessibilityGranted_ = std::move(call); }
  /// `call` opens the keyboard-shortcut guide; by default the program's own guide window.
  void setOpenGuide(std::function<void()> call) { openGuide_ = std::move(call); }
  /// `call` runs when the view's fitted height changed (a note or a restart appeared), so its
  /// window can follow it.
  void setOnHeightChanged(std::function<void()> call) { onHeightChanged_ = std::move(call); }

  bool accessibility() const { return accessibility_; }
  bool screenRecording() const { return screenRecording_; }
  bool needsRestart() const { return needsRestart_; }

  PermissionRow* accessibilityRow() const { return accessibilityRow_; }
  PermissionRow* screenRecordingRow() const { return screenRecordingRow_; }
  /// Shown only while screen recording reads as granted or awaits a restart.
  PermissionNote* note() const { return note_; }
  PreviewDemo* demo() const { return demo_; }
  QWidget* footer() const { return footer_; }
  QLabel* lockLabel() const { return lock_; }
  QPushButton* howItWorks() const { return howItWorks_; }
  QPushButton* getStarted() const { return getStarted_; }

  /// "How It Works": closes the window, opens the keyboard-shortcut guide.
  void showGuide();
  /// "Get Started": closes the window, then restarts when a restart is pending. Does
  /// nothing while the footer is disabled.
  void start();

  bool acceptsFirstResponder() const override { return true; }
  /// Return is "Get Started".
  void keyDown(const NSEvent& event) override;

 private:
  std::function<void()> onHeightChanged_;
  std::function<void()> openGuide_;
  std::function<void()> onAccessibilityGranted_;
  std::function<void()> onClose_;
  void apply();
  void schedule();

  bool accessibility_;
  bool screenRecording_;
  bool needsRestart_ = false;
  bool polling_ = false;
  bool waiting_ = false;  // for the next pass, which a close cuts short
  int fittedHeight_ = 0;
  // The findings the height was fitted for (the rows, the note and the footer show them),
  // and whether the view showed then: shown, it is measured as the window shows it.
  std::optional<std::tuple<bool, bool, bool, bool>> fittedFor_;
  platform::WorkItem next_;
  std::unique_ptr<ui::WhileShown> whileShown_;
  PermissionRow* accessibilityRow_;
  PermissionRow* screenRecordingRow_;
  PermissionNote* note_;
  PreviewDemo* demo_;
  QWidget* footer_;
  QLabel* lock_;
  QPushButton* howItWorks_;
  QPushButton* getStarted_;
};

}  // namespace trelliq
