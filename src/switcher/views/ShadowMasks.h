#pragma once
// The blurred masks shadows are drawn with, made once per shape and kept: window tiles
// draw the same outline's shadow hundreds of times in one paint, and blurring it again
// each time was most of that paint. Main thread only.

#include <QImage>
#include <QPainterPath>
#include <QSize>

namespace trelliq::views {

/// Black with the coverage of `shape` (in the mask's own coordinates) as alpha over `size`
/// pixels, blurred by three box passes of `pass` pixels along rows and columns (close to a
/// Gaussian of twice that spread). The same shape, size and pass answer the same kept
/// mask until the least recently used go past a budget; the reference lasts until the
/// next call.
const QImage& blurredMask(const QPainterPath& shape, QSize size, int pass);

}  // namespace trelliq::views
