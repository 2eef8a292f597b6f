// A picture shrunk by averaging shows, at every drawn pixel, the rounded mean of every
// source pixel under it, whatever the sizes, the offset, the part drawn and the shrink
// (up to 256 source pixels of full white to one drawn), and nothing outside that part.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "platform/sim/AveragedPicture.h"

namespace {

/// A premultiplied picture's pixel as it is stored.
QRgb& at(QImage& image, int x, int y) { return reinterpret_cast<QRgb*>(image.scanLine(y))[x]; }
QRgb at(const QImage& image, int x, int y) { return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]; }

/// Where the drawn pixels from..from+count begin and end in the source: never before the
/// last one's end, never past the picture.
std::vector<int> edges(int from, int count, double origin, double step, int limit) {
  std::vector<int> at;
  for (int i = 0; i <= count; ++i) {
    int edge = std::clamp(static_cast<int>(std::floor((from + i - origin) * step)), 0, limit);
    if (!at.empty() && edge <= at.back()) edge = std::min(at.back() + 1, limit);
    at.push_back(edge);
  }
  return at;
}

/// The mean of the source pixels under drawn pixel (x, y) of `area`, channel by channel.
QRgb meanUnder(const QImage& source, const QRectF& target, const QRect& area, int x, int y) {
  const auto columns = edges(area.x(), area.width(), target.x(), source.width() / target.width(), source.width());
  const auto rows = edges(area.y(), area.height(), target.y(), source.height() / target.height(), source.height());
  const int i = x - area.x(), j = y - area.y();
  const int n = (columns[i + 1] - columns[i]) * (rows[j + 1] - rows[j]);
  QRgb mean = 0;
  for (int shift = 0; shift < 32 && n > 0; shift += 8) {
    int sum = 0;
    for (int r = rows[j]; r < rows[j + 1]; ++r)
      for (int c = columns[i]; c < columns[i + 1]; ++c) sum += (at(source, c, r) >> shift) & 0xFF;
    mean |= static_cast<QRgb>((sum + n / 2) / n) << shift;
  }
  return mean;
}

TEST(AveragedPicture, EachDrawnPixelIsTheMeanOfTheSourcePixelsUnderIt) {
  struct Case {
    QSize source;
    QRectF target;
    QRect area;
    bool white;
  } const cases[] = {
      {{1520, 1956}, {-136, -75, 258, 333}, {0, 0, 71, 53}, false},  // a part of a window on the screen
      {{333, 211}, {3, 5, 61, 37}, {0, 0, 70, 45}, false},           // odd sizes, all of it
      {{97, 500}, {0, 0, 20, 30}, {7, 4, 9, 17}, false},             // a part of it
      {{401, 257}, {2.5, 1.25, 40.3, 25.7}, {0, 0, 45, 30}, false},  // off whole pixels
      {{320, 320}, {0, 0, 20, 20}, {0, 0, 20, 20}, true},            // 16 × 16 to one, at full
  };
  std::minstd_rand noise(3);
  for (const Case& c : cases) {
    QImage source(c.source, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < source.height(); ++y)
      for (int x = 0; x < source.width(); ++x) {
        const int alpha = static_cast<int>(noise() % 256);
        at(source, x, y) = c.white
                               ? 0xFFFFFFFFu
                               : qRgba(static_cast<int>(noise() % (alpha + 1)), static_cast<int>(noise() % (alpha + 1)),
                                       static_cast<int>(noise() % (alpha + 1)), alpha);
      }
    QImage drawn(c.area.right() + 3, c.area.bottom() + 3, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
      QPainter painter(&drawn);
      sim::drawAveraged(painter, source, c.target, c.area);
    }
    const QRect covered = c.area & c.target.toAlignedRect();
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x) {
        const QRgb want = covered.contains(x, y) ? meanUnder(source, c.target, covered, x, y) : 0;
        ASSERT_EQ(at(std::as_const(drawn), x, y), want)
            << "at " << x << ", " << y << " of " << c.source.width() << " × " << c.source.height();
      }
  }
}

}  // namespace
