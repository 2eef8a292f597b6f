#include "switcher/views/KeptPlates.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
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

// Where a shape lands in device pixels and what picture it is kept in.
struct Placement {
  QRectF shape;         // the shape in device pixels
  double penWidth = 0;  // the pen in device pixels
  double round = 0;     // the outline's radius in device pixels
  int x0 = 0, y0 = 0, width = 0, height = 0;  // the whole pixels it inks, a pixel to spare around
  int corner = 0;  // past this many pixels from each side, every column (row) is the same
  bool slicedAcross = false, slicedDown = false;
  int pictureWidth = 0, pictureHeight = 0;
  QRectF inPicture;  // the shape within the picture
};

// Where the shape of `kind` filling `rect` lands on the device; nothing when it is too
// small or (by `use`) too large to be kept.
std::optional<Placement> placementOf(scene::Shape::Kind kind, const QRectF& rect, double radius, double pen,
                                     const QTransform& device, PlateUse use) {
  Placement at;
  const double scale = device.m11();
  at.shape = device.mapRect(rect);
  at.penWidth = std::max(0.0, pen) * scale;
  const QRectF ink = at.shape.adjusted(-at.penWidth / 2, -at.penWidth / 2, at.penWidth / 2, at.penWidth / 2);
  if (ink.height() < kSmallest || (use.largestArea > 0 && ink.width() * ink.height() > use.largestArea))
    return std::nullopt;
  const double half = std::min(rect.width(), rect.height()) / 2;
  if (kind == scene::Shape::Kind::roundedRectangle) at.round = std::clamp(radius, 0.0, half) * scale;
  if (kind == scene::Shape::Kind::capsule) at.round = half * scale;

  at.x0 = static_cast<int>(std::floor(ink.left())) - 1;
  at.y0 = static_cast<int>(std::floor(ink.top())) - 1;
  at.width = static_cast<int>(std::ceil(ink.right())) + 1 - at.x0;
  at.height = static_cast<int>(std::ceil(ink.bottom())) + 1 - at.y0;
  at.corner = static_cast<int>(std::ceil(at.round + at.penWidth)) + 3;
  const bool circle = kind == scene::Shape::Kind::circle;
  at.slicedAcross = !circle && at.width > 2 * at.corner + kStretch;
  at.slicedDown = !circle && at.height > 2 * at.corner + kStretch;
  if (circle && (at.width > kLargestWhole || at.height > kLargestWhole)) return std::nullopt;
  at.pictureWidth = at.slicedAcross ? 2 * at.corner + kStretch : at.width;
  at.pictureHeight = at.slicedDown ? 2 * at.corner + kStretch : at.height;
  // The far sides moved in by the pixels left out.
  at.inPicture = QRectF(at.shape.left() - at.x0, at.shape.top() - at.y0,
                        at.shape.width() - (at.width - at.pictureWidth),
                        at.shape.height() - (at.height - at.pictureHeight));
  return at;
}

// Draws the kept picture of the shape: outlined in the painter's own coordinates and placed
// as it would place them, so the pixels are the ones drawing the shape there would make.
Plate makePlate(scene::Shape::Kind kind, const QRectF& rect, double pen, const QColor& drawn, bool smooth,
                const QTransform& device, const Placement& at) {
  Plate made;
  made.picture = QImage(at.pictureWidth, at.pictureHeight, QImage::Format_ARGB32_Premultiplied);
  made.picture.fill(Qt::transparent);
  {
    QPainter p(&made.picture);
    p.setRenderHint(QPainter::Antialiasing, smooth);
    const double scale = device.m11();
    const QTransform there = device * QTransform::fromTranslate(-at.x0, -at.y0);
    const QRectF reduced(rect.topLeft(), QSizeF(rect.width() - (at.width - at.pictureWidth) / scale,
                                                rect.height() - (at.height - at.pictureHeight) / scale));
    const QPainterPath outline =
        kind == scene::Shape::Kind::circle
            ? ScenePainter::shapePath(kind, reduced, 0)
            : ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, reduced, at.round / scale);
    QPen line(drawn, std::max(0.0, pen));
    line.setJoinStyle(Qt::MiterJoin);
    for (int top = 0; top < at.pictureHeight; top += kBandRows) {
      p.resetTransform();
      p.setClipRect(QRect(0, top, at.pictureWidth, kBandRows));
      p.setTransform(there);
      if (at.penWidth > 0) {
        p.strokePath(outline, line);
      } else {
        p.fillPath(outline, drawn);
      }
    }
  }
  if (at.slicedAcross && at.slicedDown) {
    made.hollow = true;
    for (int y = at.corner; y < at.corner + kStretch && made.hollow; ++y) {
      const auto* row = reinterpret_cast<const QRgb*>(made.picture.constScanLine(y));
      made.hollow = std::all_of(row + at.corner, row + at.corner + kStretch, [](QRgb v) { return v == 0; });
    }
  }
  return made;
}

// Lays the kept picture on at device pixels, one to one: a blit, never smoothed. Only the
// pieces that meet the part being drawn are laid on: a plate under a small change is a
// few of its pieces, not hundreds clipped away one by one. False, drawing nothing, when
// the painter cannot be brought to device pixels.
bool layPlate(QPainter& painter, const QTransform& device, const Plate& plate, const Placement& at, bool atPainterOpacity) {
  QRect drawing(at.x0, at.y0, at.width, at.height);
  if (painter.hasClipping()) drawing &= device.mapRect(painter.clipBoundingRect()).toAlignedRect();
  if (drawing.isEmpty()) return true;
  painter.save();
  painter.setWorldTransform(device.inverted() * painter.worldTransform());
  if (painter.deviceTransform().type() != QTransform::TxNone) {
    painter.restore();
    return false;
  }
  if (!atPainterOpacity) painter.setOpacity(1);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const std::vector<Piece> across = pieces(at.width, at.corner, at.slicedAcross);
  const std::vector<Piece> down = pieces(at.height, at.corner, at.slicedDown);
  for (const Piece& row : down) {
    if (at.y0 + row.at >= drawing.bottom() + 1 || at.y0 + row.at + row.length <= drawing.top()) continue;
    for (const Piece& column : across) {
      if (at.x0 + column.at >= drawing.right() + 1 || at.x0 + column.at + column.length <= drawing.left()) continue;
      if (plate.hollow && row.middle && column.middle) continue;
      painter.drawImage(QPoint(at.x0 + column.at, at.y0 + row.at), plate.picture,
                        QRect(column.from, row.from, column.length, row.length));
    }
  }
  painter.restore();
  return true;
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
  const std::optional<Placement> at = placementOf(kind, rect, radius, pen, device, use);
  if (!at) return false;

  const QColor drawn = use.laidAtOpacity ? color : atOpacity(color, painter.opacity());
  const bool smooth = painter.testRenderHint(QPainter::Antialiasing);
  const Key key{static_cast<int>(kind),
                fine(at->inPicture.left()),
                fine(at->inPicture.top()),
                fine(at->inPicture.width()),
                fine(at->inPicture.height()),
                fine(at->round),
                fine(at->penWidth),
                drawn.rgba64(),
                smooth,
                at->pictureWidth,
                at->pictureHeight};
  platform::Keeper<Key, Plate>& kept = keptPlates();
  const Plate* plate = kept.find(key);
  if (!plate) {
    // A fill drawn once is drawn as it is: its picture would cost more than the fill. One
    // drawn again at the same place within a pixel (a plate at every paint) is kept. An
    // outline, whose rows are mostly empty, costs little to keep and is kept at once.
    platform::Keeper<Key, bool>& seen = seenPlates();
    if (at->penWidth <= 0 && !use.keepFillAtOnce && !seen.find(key)) {
      seen.keep(key, true);
      return false;
    }
    Plate made = makePlate(kind, rect, pen, drawn, smooth, device, *at);
    const auto bytes = static_cast<std::size_t>(made.picture.sizeInBytes());
    plate = &kept.keep(key, std::move(made), bytes);
  }
  return layPlate(painter, device, *plate, *at, use.laidAtOpacity);
}

std::size_t keptPlateCount() { return keptPlates().count(); }

}  // namespace trelliq::views
