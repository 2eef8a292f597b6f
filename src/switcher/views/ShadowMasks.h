#pragma once
// The blurred masks shadows are drawn with, made once per shape and kept: window tiles
// draw the same outline's shadow hundreds of times in one paint, and blurring it again
// each time was most of that paint. Main thread only.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QSize>

namespace trelliq::views {

/// Black with the coverage of `shape` (in the mask's own coordinates) as alpha over `size`
/// pixels, blurred by three box passes of `pass` pixels along rows and columns (close to a
/// Gaussian of twice that spread). The same shape, size and pass answer the same kept
/// mask until the least recently used go past a budget; the reference lasts until the
/// next call.
const QImage& blurredMask(const QPainterPath& shape, QSize size, int pass);

/// As above, blurred by a true Gaussian of `spread` pixels: exact for the fractions of a
/// pixel that a hairline shadow's blur comes to.
const QImage& softMask(const QPainterPath& shape, QSize size, double spread);

/// A black picture with the coverage of `picture`'s pixels blurred by a Gaussian of `spread`
/// pixels; not kept.
QImage softened(const QImage& picture, double spread);

/// Paints the soft shadow that `shape` (in the painter's coordinates) casts: black at
/// `opacity`, blurred over `radius` points (a Gaussian spread of half the radius, as the
/// panels' shadows) and moved by `offset` points. The blur is made at the device's own
/// pixels, so a half-point blur still softens the edge on a doubled screen.
void paintShadow(QPainter& painter, const QPainterPath& shape, double opacity, double radius, QPointF offset);

}  // namespace trelliq::views
