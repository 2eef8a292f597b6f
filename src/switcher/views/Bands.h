#pragma once
// Drawing in bands of device rows. The raster engine hands an anti-aliased blend of more
// than about a hundred spans to helper threads it wakes from inside the paint; on a
// virtual machine each wake costs more than it saves. A band of a few rows stays on the
// painting thread.

#include <QPainter>
#include <QRectF>
#include <functional>
#include <limits>

namespace trelliq::views {

/// Calls `draw` once for each band of at most `rows` rows of device pixels that `area` (in
/// the painter's coordinates, and a pixel around it, where smoothing reaches) covers within
/// the clip and the device, clipped to that band. The bands' edges fall on whole device
/// pixels at any scale, so every pixel is drawn as in one go. `draw` is called once, in one
/// go, when the painter is turned, and past `mostRows` rows: what `draw` traces whole for
/// every band (an outline) would cost more than the threads there.
void inBands(QPainter& painter, const QRectF& area, int rows, const std::function<void()>& draw,
             int mostRows = std::numeric_limits<int>::max());

}  // namespace trelliq::views
