#pragma once
// The small moving picture beside the Screen Recording permission: a miniature window as
// a live preview would show it, above a strip of four sample app icons. Every 1.1 seconds
// the highlight moves to the next icon and the miniature cross-fades to that app's
// window. It runs on the installed clock only while started. Main thread only.

#include <QColor>
#include <QImage>
#include <QWidget>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/Clock.h"
#include "platform/Image.h"
#include "platform/Keeper.h"

namespace trelliq {

class PreviewDemo : public QWidget {
 public:
  static constexpr platform::Seconds stepInterval = 1.1;
  static constexpr platform::Seconds fadeDuration = 0.25;
  static constexpr int fixedWidth = 150;

  /// The sample icons (at most four, never none), taken once from the guide's set.
  static const std::vector<CGImageRef>& icons();
  /// One tint per icon: blue, teal, yellow, red.
  static const std::vector<QColor>& tints();

  explicit PreviewDemo(int index = 0, QWidget* parent = nullptr);
  ~PreviewDemo() override;

  /// Starts stepping (the first step one interval from now); a running demo keeps its timer.
  void start();
  /// Stops stepping. A wait cut short still owes its step, so a running demo moves on once
  /// more; the index is kept for the next start.
  void stop();
  bool isRunning() const { return timer_.isValid(); }

  int index() const { return index_; }
  /// How far the cross-fade to `index` has got, 0 to 1 (eased out); 1 when at rest.
  double fade() const;

  QSize sizeHint() const override;
  /// The device pixels per point the last miniature was made at; 0 before the first.
  double keptScale() const { return keptScale_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void step();
  /// The miniature window's frame, the strip of icons beneath it and icon `i`'s cell in it.
  QRectF windowFrame() const;
  QRectF strip() const;
  QRectF cellRect(int i) const;
  void paintWindow(QPainter& painter, const QRectF& frame, int index, double opacity);
  void paintWindowLayer(QPainter& painter, const QRectF& frame, int index);

  /// An app's miniature window drawn once, with its shadow: a cross-fade only changes how
  /// strongly each is laid on.
  struct Miniature {
    QImage layer;
    QImage shadow;
  };
  // By the app's index, the pixels a point covers and the appearance.
  using MiniatureLook = std::tuple<int, double, bool>;
  std::optional<platform::Keeper<MiniatureLook, Miniature>> miniatures_;

  double keptScale_ = 0;
  int index_;
  int previous_;
  double stepStart_ = -1;
  platform::Timer timer_;
};

}  // namespace trelliq
