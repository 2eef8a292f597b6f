#pragma once
// Stops what a view keeps running (demonstrations, polls) while the window holding it is
// ordered out, and starts it again when the window comes back: a window nobody sees does
// nothing. A view that was never shown is left alone, as it may be drawn off screen or
// start before its window shows. Main thread only.

#include <QObject>
#include <functional>

class QWidget;

namespace trelliq::ui {

class WhileShown : public QObject {
 public:
  /// Watches `view` for as long as this object lives (the view's own member, so that it
  /// goes before the view hides as it dies): `pause` runs when it is hidden after being
  /// shown, `resume` when it shows again after such a pause.
  WhileShown(QWidget& view, std::function<void()> pause, std::function<void()> resume);

  /// Between a pause and its resume.
  bool paused() const { return paused_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> pause_;
  std::function<void()> resume_;
  bool paused_ = false;
};

}  // namespace trelliq::ui
