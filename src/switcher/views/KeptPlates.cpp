#include "switcher/views/KeptPlates.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/Keeper.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {

namespace {

// Device pixels: a shape shorter than this rasterizes into too few spans (a span or a few
// per row) to be handed to the engine's threads, and is drawn as it is. A narrow one (a
// separator) is not: its rows are as many.
constexpr double kSmallest = 24;
// The stretch of straight part kept between the corners, laid on again along them.
// Small enough that a picture comes from the heap's reused memory, not new pages.
constexpr int kStretch = 64;
// A shape without straight parts (a circle) is kept whole up to this side.
constexpr int kLargestWhole = 256;
// Rows a kept picture is drawn in at a time: each band is too small to be handed over.
constexpr int kBandRows = 12;

int fine(double v) { return static_cast<int>(std::lround(v * 4096)); }

// What a kept picture holds: the shape's place within it (in 4096ths of a pixel), its
// radius and pen, its colour at the painter's opacity, and the picture's size.
struct Key {
  int kind, left, top, width, height, radius, pen;
  quint64 color;
  bool smooth;
  int pictureWidth, pictureHeight;
  auto operator<=>(const Key&) const = default;
};

struct Plate {
  QImage picture;
  bool hollow = false;  // the middle of the picture holds nothing (an outline)
};

platform::Keeper<Key, Plate>& keptPlates() {
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static auto& kept = *new platform::Keeper<Key, Plate>({.count = 192, .bytes = 3u << 20});
  return kept;
}

// Shapes drawn once, not kept: the next drawing of one is kept.
platform::Keeper<Key, bool>& seenPlates() {
  static auto& seen = *new platform::Keeper<Key, bool>({.count = 1024});
  return seen;
}

// The colour the engine fills with at `opacity`: its alpha scaled as a solid brush's is.
QColor atOpacity(const QColor& color, double opacity) {
  if (opacity >= 1) return color;
  const int strength = static_cast<int>(std::lround(opacity * 256));
  const QRgba64 c = color.rgba64();
  return QColor::fromRgba64(c.red(), c.green(), c.blue(), static_cast<quint16>((c.alpha() * strength) >> 8));
}

// The parts of one side of a picture laid along one side of the shape: (where, from where,
// how long), in pixels from the box's start.
struct Piece {
  int at, from, length;
  bool middle;
};
std::vector<Piece> pieces(int length, int corner, bool sliced) {
  if (!sliced) return {{0, 0, length, false}};
  std::vector<Piece> out{{0, 0, corner, false}};
  for (int at = corner; at < length - corner; at += kStretch)
    out.push_back({at, corner, std::min(kStretch, length - corner - at), true});
  out.push_back({length - corner, corner + kStretch, corner, false});
  return out;
}

}  // namespace

bool drawKeptPlate(QPainter& painter, scene::Shape::Kind kind, const QRectF& rect, double radius,
                   const QColor& color, double pen, PlateUse use) {
  const QTransform device = painter.deviceTransform();
  QPaintEngine* engine = painter.paintEngine();
  if (device.type() > QTransform::TxScale || device.m11() != device.m22() || device.m11() <= 0 || !engine ||
      engine->type() != QPaintEngine::Raster || painter.compositionMode() != QPainter::CompositionMode_SourceOver)
    return false;
  if (color.alpha() == 0 || rect.width() <= 0 || rect.height() <= 0) return true;
  const double scale = device.m11();
  const QRectF shape = device.mapRect(rect);
  const double penWidth = std::max(0.0, pen) * scale;
  const QRectF ink = shape.adjusted(-penWidth / 2, -penWidth / 2, penWidth / 2, penWidth / 2);
  if (ink.height() < kSmallest || (use.largestArea > 0 && ink.width() * ink.height() > use.largestArea))
    return false;
  // The radius the outline is drawn with, in device pixels.
  const double half = std::min(rect.width(), rect.height()) / 2;
  double round = 0;
  if (kind == scene::Shape::Kind::roundedRectangle) round = std::clamp(radius, 0.0, half) * scale;
  if (kind == scene::Shape::Kind::capsule) round = half * scale;

  // The box of whole pixels the shape inks, with a pixel to spare on every side.
  const int x0 = static_cast<int>(std::floor(ink.left())) - 1, y0 = static_cast<int>(std::floor(ink.top())) - 1;
  const int width = static_cast<int>(std::ceil(ink.right())) + 1 - x0;
  const int height = static_cast<int>(std::ceil(ink.bottom())) + 1 - y0;
  // Past this many pixels from each side, every column (row) is the same.
  const int corner = static_cast<int>(std::ceil(round + penWidth)) + 3;
  const bool circle = kind == scene::Shape::Kind::circle;
  const bool slicedAcross = !circle && width > 2 * corner + kStretch;
  const bool slicedDown = !circle && height > 2 * corner + kStretch;
  if (circle && (width > kLargestWhole || height > kLargestWhole)) return false;
  const int pictureWidth = slicedAcross ? 2 * corner + kStretch : width;
  const int pictureHeight = slicedDown ? 2 * corner + kStretch : height;
  // The shape within the picture: the far sides moved in by the pixels left out.
  const QRectF inPicture(shape.left() - x0, shape.top() - y0, shape.width() - (width - pictureWidth),
                         shape.height() - (height - pictureHeight));

  const QColor drawn = atOpacity(color, painter.opacity());
  const bool smooth = painter.testRenderHint(QPainter::Antialiasing);
  const Key key{static_cast<int>(kind),
                fine(inPicture.left()),
                fine(inPicture.top()),
                fine(inPicture.width()),
                fine(inPicture.height()),
                fine(round),
                fine(penWidth),
                drawn.rgba64(),
                smooth,
                pictureWidth,
                pictureHeight};
  platform::Keeper<Key, Plate>& kept = keptPlates();
  const Plate* plate = kept.find(key);
  if (!plate) {
    // A fill drawn once is drawn as it is: its picture would cost more than the fill. One
    // drawn again at the same place within a pixel (a plate at every paint) is kept. An
    // outline, whose rows are mostly empty, costs little to keep and is kept at once.
    platform::Keeper<Key, bool>& seen = seenPlates();
    if (penWidth <= 0 && !use.keepFillAtOnce && !seen.find(key)) {
      seen.keep(key, true);
      return false;
    }
    Plate made;
    made.picture = QImage(pictureWidth, pictureHeight, QImage::Format_ARGB32_Premultiplied);
    made.picture.fill(Qt::transparent);
    {
      QPainter p(&made.picture);
      p.setRenderHint(QPainter::Antialiasing, smooth);
      // Outlined in the painter's own coordinates and placed as it would place them, so
      // the pixels are the ones drawing the shape there would make.
      const QTransform there = device * QTransform::fromTranslate(-x0, -y0);
      const QRectF reduced(rect.topLeft(), QSizeF(rect.width() - (width - pictureWidth) / scale,
                                                  rect.height() - (height - pictureHeight) / scale));
      const QPainterPath outline =
          circle ? ScenePainter::shapePath(kind, reduced, 0)
                 : ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, reduced, round / scale);
      QPen line(drawn, std::max(0.0, pen));
      line.setJoinStyle(Qt::MiterJoin);
      for (int top = 0; top < pictureHeight; top += kBandRows) {
        p.resetTransform();
        p.setClipRect(QRect(0, top, pictureWidth, kBandRows));
        p.setTransform(there);
        if (penWidth > 0) {
          p.strokePath(outline, line);
        } else {
          p.fillPath(outline, drawn);
        }
      }
    }
    if (slicedAcross && slicedDown) {
      made.hollow = true;
      for (int y = corner; y < corner + kStretch && made.hollow; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(made.picture.constScanLine(y));
        made.hollow = std::all_of(row + corner, row + corner + kStretch, [](QRgb v) { return v == 0; });
      }
    }
    const auto bytes = static_cast<std::size_t>(made.picture.sizeInBytes());
    plate = &kept.keep(key, std::move(made), bytes);
  }

  // Only the pieces that meet the part being drawn are laid on: a plate under a small
  // change is a few of its pieces, not hundreds clipped away one by one.
  QRect drawing(x0, y0, width, height);
  if (painter.hasClipping()) drawing &= device.mapRect(painter.clipBoundingRect()).toAlignedRect();
  if (drawing.isEmpty()) return true;
  painter.save();
  // Laid on at device pixels, one to one: a blit, never smoothed.
  painter.setWorldTransform(device.inverted() * painter.worldTransform());
  if (painter.deviceTransform().type() != QTransform::TxNone) {
    painter.restore();
    return false;
  }
  painter.setOpacity(1);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const std::vector<Piece> across = pieces(width, corner, slicedAcross);
  const std::vector<Piece> down = pieces(height, corner, slicedDown);
  for (const Piece& row : down) {
    if (y0 + row.at >= drawing.bottom() + 1 || y0 + row.at + row.length <= drawing.top()) continue;
    for (const Piece& column : across) {
      if (x0 + column.at >= drawing.right() + 1 || x0 + column.at + column.length <= drawing.left()) continue;
      if (plate->hollow && row.middle && column.middle) continue;
      painter.drawImage(QPoint(x0 + column.at, y0 + row.at), plate->picture,
                        QRect(column.from, row.from, column.length, row.length));
    }
  }
  painter.restore();
  return true;
}

std::size_t keptPlateCount() { return keptPlates().count(); }

}  // namespace trelliq::views
