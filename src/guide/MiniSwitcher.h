#pragma once
// The miniature switcher of a demonstration frame: the app-tile kind (four sample icons on
// two desktops, window dots under the second) or the window-tile kind (two desktops with
// two window outlines each), each with the lower row of apps without windows when the
// script uses it. What is highlighted follows the frame alone. Main thread only.

#include <QWidget>

#include "guide/model/GuideTopic.h"
#include "ui/Paint.h"

namespace trelliq {

class MiniSwitcher : public QWidget {
 public:
  /// Unscaled height of either kind.
  static constexpr double panelHeight = 86;

  MiniSwitcher(Demo demo, Demo::Step step, QWidget* parent = nullptr);

  /// Shows another frame: the highlight moves over `transition`, and whether it is open
  /// fades and scales the miniature in or out.
  void setStep(Demo::Step step, const Transition& transition = Transition::immediate());
  const Demo::Step& step() const { return step_; }

  /// Unscaled size of the miniature for `demo` (its kind and tray decide the width).
  static QSizeF contentSize(const Demo& demo);
  /// Paints the miniature unscaled with its top left at the origin.
  static void paint(QPainter& painter, const Demo& demo, const Demo::Step& step);
  /// As above, `progress` (0 to 1) of the way from frame `from` to frame `step`: each
  /// highlight, dot, tray icon and picked window between its two looks.
  static void paint(QPainter& painter, const Demo& demo, const Demo::Step& from, const Demo::Step& step,
                    double progress);

  /// The open or closed look now: opacity 1 and scale 1.3 open, 0 and 1.2 closed.
  double opacity() const { return opacity_.value(); }
  double scale() const { return scale_.value(); }
  /// How far the highlight has moved from the previous frame to this one, 0 to 1.
  double selectionProgress() const { return selection_.value(); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Demo demo_;
  Demo::Step step_;
  Demo::Step previous_;
  ui::Tween selection_{1};
  ui::Tween opacity_;
  ui::Tween scale_;
};

}  // namespace trelliq
