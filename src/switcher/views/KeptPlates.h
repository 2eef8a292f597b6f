#pragma once
// Filled and outlined shapes of the panels (glass plates, rims, borders, highlights) laid
// on from kept pictures. The raster engine hands an anti-aliased fill or stroke of more
// than about a hundred spans to helper threads it wakes from inside the paint; on a
// virtual machine each wake costs more than the fill. A picture laid on unscaled on whole
// pixels is a plain blend on the painting thread. A large shape is kept small: its
// corners as they are and one stretch of its straight parts, which is laid on again and
// again along them (every column between the corners is the same), so a plate of any
// size at one place within a pixel is one small picture. Main thread only.

#include <QColor>
#include <QPainter>
#include <QRectF>

#include "switcher/layout/PanelScene.h"

namespace trelliq::views {

/// When a drawer's shapes are worth a kept picture.
struct PlateUse {
  // A fill is kept the first time it is drawn, not the second: a shape that is then always
  // laid from its picture looks the same at every frame.
  bool keepFillAtOnce = false;
  // Shapes inking more device pixels than this are drawn as they are (0: any size).
  double largestArea = 0;
  // The picture is kept in the colour alone and laid on at the painter's opacity: a shape
  // fading in or out is one picture at every frame of the fade, not one per frame.
  bool laidAtOpacity = false;
};

/// Fills (`pen` 0) the shape of `kind` filling `rect`, or strokes its outline with a pen
/// of `pen` width (mitred), in `color` at the painter's opacity, from a kept picture;
/// `radius` rounds a rounded rectangle (never past half its shorter side). False, drawing
/// nothing, when the shape is too small or (by `use`) too large to be worth it, a fill is
/// drawn for the first time at its place within a pixel (unless `use` keeps it at once), or
/// the painter is not one a kept picture can stand in for (turned, another blend, not
/// raster): draw it as it is.
bool drawKeptPlate(QPainter& painter, scene::Shape::Kind kind, const QRectF& rect, double radius,
                   const QColor& color, double pen, PlateUse use = {});

/// Kept plate pictures now (self-checks and tests).
std::size_t keptPlateCount();

}  // namespace trelliq::views
