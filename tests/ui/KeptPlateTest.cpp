// Rounded plates drawn from kept pictures: each lands where and in the colour it was asked
// for, as a plain fill would, and looks the same every time it is drawn again.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>
#include <vector>

#include "support/HelperThreads.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptPlates.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

// Drawn as the surfaces draw our windows: on an opaque picture at twice the scale.
QImage plate(QPointF at, const QColor& color, bool kept, double pen = 0) {
  QImage image(240, 160, QImage::Format_RGB32);
  image.fill(QColor(236, 236, 236));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(2, 2);
  p.translate(at);
  const QRectF rect(0, 0, 60, 40);
  if (kept && pen > 0) {
    ui::strokeRoundedInside(p, rect, 8, color, pen);
  } else if (kept) {
    ui::fillRounded(p, rect, 8, color);
  } else {
    p.setPen(pen > 0 ? QPen(color, pen) : QPen(Qt::NoPen));
    p.setBrush(pen > 0 ? QBrush() : QBrush(color));
    const double h = pen / 2;
    p.drawRoundedRect(rect.adjusted(h, h, -h, -h), 8 - h, 8 - h);
  }
  return image;
}

// The largest difference of any channel of any pixel.
int farthest(const QImage& a, const QImage& b) {
  int most = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      most =
          std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
    }
  }
  return most;
}

TEST(KeptPlates, EachPlateLandsWhereAndInTheColourItWasAskedForAndStaysTheSame) {
  test::ensureWidgets();
  const QColor ink = QColor::fromRgbF(0, 0, 0, 0.3f);
  const QColor accent(0, 122, 255);
  // The same plate at two places within a pixel, then in another colour, then outlined.
  for (const auto& [at, color, pen] :
       {std::tuple(QPointF(10.25, 7.5), ink, 0.0), std::tuple(QPointF(10.5, 7.75), ink, 0.0),
        std::tuple(QPointF(10.5, 7.75), accent, 0.0), std::tuple(QPointF(10.5, 7.75), accent, 1.0)}) {
    SCOPED_TRACE(testing::Message() << at.x() << "," << at.y() << " " << color.name().toStdString() << " pen " << pen);
    const QImage first = plate(at, color, true, pen);
    EXPECT_LE(farthest(first, plate(at, color, false, pen)), 1) << "as a plain fill draws it";
    EXPECT_EQ(plate(at, color, true, pen), first) << "drawn again, the same pixels";
  }
}

TEST(KeptPlates, AFadingHighlightLooksAsAPlainFillAtEveryStrengthFromOnePicture) {
  test::ensureWidgets();
  const auto highlight = [](const QColor& color, bool kept) {
    QImage image(240, 160, QImage::Format_RGB32);
    image.fill(QColor(40, 40, 42));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    p.setOpacity(0.8);  // drawn within a fading part of a demonstration
    const QRectF rect(10.25, 7.5, 46, 58);
    if (kept) {
      ui::fillRounded(p, rect, 10, color, ui::fadingAt(0.5));
    } else {
      p.setPen(Qt::NoPen);
      p.setBrush(color);
      p.drawRoundedRect(rect, 10, 10);
    }
    return image;
  };
  const std::size_t before = views::keptPlateCount();
  highlight(Qt::white, true);
  const std::size_t pictures = views::keptPlateCount();
  EXPECT_EQ(pictures, before + 1) << "not laid from a kept picture";
  for (const double strength : {0.05, 0.3, 0.55, 0.95}) {
    SCOPED_TRACE(strength);
    const QColor color = QColor::fromRgbF(1, 1, 1, static_cast<float>(strength));
    EXPECT_LE(farthest(highlight(color, true), highlight(color, false)), 1);
  }
  EXPECT_EQ(views::keptPlateCount(), pictures) << "a picture made for a strength";
}

// A card as a window's repaint of one part draws it: at twice the scale, clipped to the part.
QImage card(const QRectF& rect, bool banded) {
  QImage image(720, 720, QImage::Format_RGB32);
  image.fill(QColor(236, 236, 236));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setClipRect(QRect(20, 30, 300, 280));
  p.scale(2, 2);
  if (banded) {
    ui::fillRounded(p, rect, 10, QColor::fromRgbF(0, 0, 0, 0.05f));
  } else {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.05f));
    p.drawRoundedRect(rect, 10, 10);
  }
  return image;
}

// An outlined card drawn part by part, each part under a clip of its own (device pixels),
// as the window's repaints of single parts draw it; no part at all draws it whole.
QImage outlinedCard(const std::vector<QRect>& parts) {
  QImage image(720, 720, QImage::Format_RGB32);
  image.fill(QColor(40, 40, 42));
  const auto draw = [&](QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    p.translate(0.25, 0.5);  // off whole pixels, as a card in a laid-out form may stand
    const QRectF rect(5.25, 7.5, 300, 260);
    ui::fillRounded(p, rect, 14, QColor::fromRgbF(1, 1, 1, 0.04f));
    ui::strokeRoundedInside(p, rect, 14, QColor::fromRgbF(1, 1, 1, 0.12f), 1);
  };
  if (parts.empty()) {
    QPainter p(&image);
    draw(p);
  }
  for (const QRect& part : parts) {
    QPainter p(&image);
    p.setClipRect(part);
    draw(p);
  }
  return image;
}

TEST(KeptPlates, APartRepaintedWithinACardLooksAsTheCardDrawnWhole) {
  test::ensureWidgets();
  // Well inside; touching a corner's box though within the card's bounds; across an edge.
  const std::vector<QRect> parts{{100, 120, 300, 200}, {14, 18, 40, 30}, {560, 300, 80, 60}};
  const QImage whole = outlinedCard({}), inParts = outlinedCard(parts);
  for (const QRect& part : parts) {
    SCOPED_TRACE(testing::Message() << part.x() << "," << part.y());
    EXPECT_EQ(inParts.copy(part), whole.copy(part));
  }
}

TEST(KeptPlates, ATallPlateIsLaidInBandsThatWakeNoHelperThreadAndLooksAsInOneGo) {
  test::ensureWidgets();
  if (test::rasterHelperThreads() > 0) GTEST_SKIP() << "the helpers already run here: run this case in a process of its own";
  // A card too large to keep, and a plate that is kept, each over a hundred rows; a tall
  // part repainted within a card.
  const QRectF large(5.25, 7.5, 300, 260), kept(8.5, 9.25, 120, 90);
  const QImage cardInBands = card(large, true), plateInBands = card(kept, true);
  outlinedCard({QRect(100, 100, 200, 300)});
  // A picture scaled as the guide's miniature draws its icons, at no whole scale.
  const auto icon = [](bool banded) {
    QImage picture(64, 64, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(30, 140, 250));
    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(QColor(40, 40, 42));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2.6, 2.6);
    const QRectF rect(10.3, 10.7, 26, 26);
    if (banded) {
      ui::drawImage(p, rect, std::make_shared<const CGImage>(picture));
    } else {
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(rect, picture);
    }
    return image;
  };
  const QImage iconInBands = icon(true);
  EXPECT_EQ(test::rasterHelperThreads(), 0) << "a blend of a hundred rows or more went to the helpers";
  EXPECT_EQ(iconInBands, icon(false));
  EXPECT_EQ(cardInBands, card(large, false)) << "each pixel as one fill draws it";
  EXPECT_LE(farthest(plateInBands, card(kept, false)), 1);
}

}  // namespace
}  // namespace trelliq
