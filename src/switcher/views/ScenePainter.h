#pragma once
// Paints a panel's scene tree with QPainter: the glass plates with their haze, shapes,
// one-line text, the symbols, pictures with their placeholders, borders and shadows.
// Each node's opacity and its scale about its anchor apply to its whole subtree. The
// name field itself is a real text field placed by the panel view; the painter leaves
// its place empty. Colours are those of the panels' dark appearance. Main thread (fonts).

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <functional>
#include <vector>

#include "switcher/layout/PanelScene.h"

namespace trelliq::views {

class ScenePainter {
 public:
  /// Paints `root` and its subtree; the painter's coordinates are those of the root's
  /// parent (the root's frame places it). Nodes at opacity or scale 0 draw nothing.
  static void paint(QPainter& painter, const scene::Node& root);

  /// Whether `node` draws at all: one at opacity or scale 0 (a picture about to fade in)
  /// draws nothing, its subtree included.
  static bool draws(const scene::Node& node) { return node.opacity > 0 && node.scale > 0; }

  /// Where painting `node` may put ink, in its parent's coordinates: the frames of the
  /// nodes with content, their shadows, after every scale; null when nothing draws.
  static QRectF extent(const scene::Node& node);

  /// Adds to `areas` where `before` and `after` (one node in two trees, or null where a
  /// tree lacks it) draw differently, in their parent's coordinates.
  static void damage(const scene::Node* before, const scene::Node* after, std::vector<QRectF>& areas);

  /// `root` painted on a transparent picture of `size` points (self-checks and tests).
  static QImage render(const scene::Node& root, QSize size);

  /// A paint on the dark glass: primary is white at the opacity, secondary white at
  /// 0.55 × the opacity, white and black as named. Opacities are clamped to [0, 1].
  static QColor color(const scene::Paint& paint);

  /// The plate of a glass surface and the haze under it (at full strength).
  static QColor glassColor();
  static QColor hazeColor();

  /// The outline of a shape of `kind` filling `rect`; `radius` rounds a rounded rectangle
  /// (never past half its shorter side).
  static QPainterPath shapePath(scene::Shape::Kind kind, const QRectF& rect, double radius);

  /// A shape of `kind` filling `rect`, filled with `color`: from a kept plate where one
  /// may stand in (not inside a layer being drawn), which wakes none of the raster
  /// engine's helper threads.
  static void fillShape(QPainter& painter, scene::Shape::Kind kind, const QRectF& rect, double radius,
                        const QColor& color);
  /// A line of `width` in `color` along the inside of a shape of `kind` filling `rect`,
  /// from a kept plate where one may stand in.
  static void strokeInside(QPainter& painter, scene::Shape::Kind kind, const QRectF& rect, double radius,
                           const QColor& color, double width);

  /// `picture` drawn filling `rect` (the painter's coordinates), as a node of that frame
  /// with that content draws it: rounded by its corner radius, with its border and shadow.
  /// For a picture shown alone (the preview's): its sample is kept only until the next.
  static void paintPicture(QPainter& painter, const QRectF& rect, const scene::Picture& picture);

  /// Runs `draw`, which inks only within `area` (the painter's coordinates), in the panels'
  /// bands of device rows (see `views::inBands`; there, helper threads also fault in new
  /// pages side by side). An `outline` is traced whole for each band, so one taller than a
  /// few hundred rows is drawn at once.
  static void inBands(QPainter& painter, const QRectF& area, const std::function<void()>& draw, bool outline = true);

  /// A soft black shadow of `path`, blurred by the shadow's radius and moved by its offset.
  static void paintShadow(QPainter& painter, const QPainterPath& path, const scene::Shadow& shadow);
};

}  // namespace trelliq::views
