#pragma once
// The picture of a part that was just replaced, laid over the place it held and fading out
// there while its successor shows beneath: a cross-fade of two widgets that never coexist.
// It removes itself once faded. Main thread only.

#include <QPixmap>
#include <QWidget>

#include "ui/Paint.h"

namespace trelliq::ui {

class FadingPicture : public QWidget {
 public:
  /// Pictures `leaving` as it is drawn now and lays the picture over it, in its parent,
  /// fading out over `transition`. Null when `leaving` has no parent or no size yet.
  static FadingPicture* over(QWidget& leaving, const Transition& transition);

  /// The picture's opacity now, 1 down to 0.
  double opacity() const { return opacity_.value(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  FadingPicture(QPixmap picture, QWidget* parent);
  QPixmap picture_;
  Tween opacity_{1};
};

}  // namespace trelliq::ui
