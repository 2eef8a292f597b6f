#pragma once
// A picture shrunk much by averaging every source pixel under each drawn one, so that a
// line a pixel or two wide (an insertion point, a separator) stays as a fainter line
// where filtering, which samples a few source pixels per drawn one, would drop it.

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>

namespace sim {

/// `content` shrunk into `target`, drawn with `painter` over `area` only. Each drawn pixel
/// averages the same source pixels however the area is cut, so a frame brought up to date
/// piece by piece matches one drawn whole. At most 256 source pixels go into one drawn
/// pixel: `content` is shrunk by more than one in each direction, and by no more than
/// that allows. Whether it drew every pixel of `area` opaque. Any thread.
bool drawAveraged(QPainter& painter, const QImage& content, const QRectF& target, const QRect& area);

}  // namespace sim
