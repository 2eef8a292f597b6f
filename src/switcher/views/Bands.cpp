#include "switcher/views/Bands.h"

#include <QPaintDevice>
#include <QTransform>
#include <algorithm>

namespace trelliq::views {

void inBands(QPainter& painter, const QRectF& area, int rows, const std::function<void()>& draw, int mostRows) {
  const QTransform device = painter.deviceTransform();
  const QTransform world = painter.worldTransform();
  // The world transform under which the painter draws at device pixels, one to one: a band
  // is clipped there, on whole pixels at any scale.
  const QTransform atPixels = device.inverted() * world;
  QRect pixels = device.mapRect(area).toAlignedRect().adjusted(-1, -1, 1, 1);
  if (painter.hasClipping()) pixels &= device.mapRect(painter.clipBoundingRect()).toAlignedRect();
  if (const QPaintDevice* target = painter.device())
    pixels &= atPixels.inverted().mapRect(QRectF(0, 0, target->width(), target->height())).toAlignedRect();
  bool banded = device.type() <= QTransform::TxScale && rows >= 1 && pixels.height() > rows &&
                pixels.height() <= mostRows;
  if (banded) {
    painter.save();
    painter.setWorldTransform(atPixels);
    banded = painter.deviceTransform().type() == QTransform::TxNone;
    painter.restore();
  }
  if (!banded) {
    if (!pixels.isEmpty()) draw();
    return;
  }
  for (int top = pixels.top(); top <= pixels.bottom(); top += rows) {
    painter.save();
    painter.setWorldTransform(atPixels);
    painter.setClipRect(QRect(pixels.left(), top, pixels.width(), std::min(rows, pixels.bottom() + 1 - top)),
                        Qt::IntersectClip);
    painter.setWorldTransform(world);
    draw();
    painter.restore();
  }
}

}  // namespace trelliq::views
