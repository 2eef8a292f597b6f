// A segmented control as drawn: the separators stand between unchosen segments only.

#include <gtest/gtest.h>

#include <QImage>
#include <QLayout>

#include "support/WidgetsApp.h"
#include "ui/SegmentedControl.h"

namespace trelliq {
namespace {

TEST(SegmentedControlLook, SeparatorsStandBetweenUnchosenSegmentsAndNeverBesideTheChosenOne) {
  test::ensureWidgets();
  ui::SegmentedControl control({"A", "B", "C", "D"});
  control.choose("B");
  control.resize(control.sizeHint());
  control.layout()->activate();
  QImage image(control.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  control.render(&image);
  const int middle = control.height();  // in pixels
  // How far the pixel of an unchosen segment touching the border at `border` (points)
  // stands from the track 3 points further in, on the side given.
  const auto mark = [&](int border, int side) {
    const int at = side > 0 ? 2 * border : 2 * border - 1;
    return std::abs(qGray(image.pixel(at, middle)) - qGray(image.pixel(at + 6 * side, middle)));
  };
  const auto& segments = control.segments();
  EXPECT_LE(mark(segments[1]->geometry().left(), -1), 2) << "a separator left of the chosen segment";
  EXPECT_LE(mark(segments[2]->geometry().left(), +1), 2) << "a separator right of the chosen segment";
  EXPECT_GE(mark(segments[3]->geometry().left(), +1), 10) << "no separator between the unchosen segments";
  EXPECT_GE(mark(segments[3]->geometry().left(), -1), 10);
}

}  // namespace
}  // namespace trelliq
