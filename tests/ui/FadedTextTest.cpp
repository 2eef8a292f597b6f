// Text fading in or out is drawn in a faded colour: it looks as text drawn at the painter's
// opacity, and is blended on the painting thread.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "support/HelperThreads.h"
#include "support/WidgetsApp.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

// A name label as the demonstrations draw it, at twice the scale, faded to `opacity` by the
// painter or by its colour.
QImage label(double opacity, bool byColour) {
  QImage image(200, 80, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(40, 40, 42));
  QPainter p(&image);
  p.setClipRect(image.rect());
  p.scale(2, 2);
  p.setFont(ui::systemFont(11, QFont::DemiBold));
  const QColor ink = QColor::fromRgbF(1, 1, 1, 0.85f);
  if (byColour) {
    p.setPen(ui::faded(ink, opacity));
  } else {
    p.setOpacity(opacity);
    p.setPen(ink);
  }
  p.drawText(QRectF(10, 10, 60, 14), Qt::AlignCenter, "Calendar");
  return image;
}

TEST(FadedText, LooksAsTextAtThePaintersOpacityAndWakesNoHelperThread) {
  test::ensureWidgets();
  if (test::rasterHelperThreads() > 0) GTEST_SKIP() << "the helpers already run here: run this case in a process of its own";
  const std::vector<double> opacities{0.2, 0.5, 0.75, 1.0};
  std::vector<QImage> faded;
  for (const double opacity : opacities) faded.push_back(label(opacity, true));
  EXPECT_EQ(test::rasterHelperThreads(), 0);
  for (std::size_t i = 0; i < opacities.size(); ++i) {
    const QImage drawn = label(opacities[i], false);
    int most = 0;
    for (int y = 0; y < drawn.height(); ++y) {
      for (int x = 0; x < drawn.width(); ++x)
        most = std::max(most, std::abs(qGray(faded[i].pixel(x, y)) - qGray(drawn.pixel(x, y))));
    }
    EXPECT_LE(most, 1) << opacities[i];
  }
}

}  // namespace
}  // namespace trelliq
