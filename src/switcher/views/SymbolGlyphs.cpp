#include "switcher/views/SymbolGlyphs.h"

#include <QPainterPathStroker>
#include <algorithm>
#include <string>
#include <tuple>

#include "platform/Keeper.h"

namespace trelliq::views {

namespace {

double lineWidth(double size, scene::Weight weight) {
  switch (weight) {
    case scene::Weight::regular:
      return size * 0.08;
    case scene::Weight::medium:
      return size * 0.095;
    case scene::Weight::semibold:
      return size * 0.11;
    case scene::Weight::bold:
      return size * 0.13;
  }
  return size * 0.08;
}

QPainterPath stroked(const QPainterPath& path, double width, Qt::PenCapStyle cap = Qt::RoundCap) {
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(cap);
  stroker.setJoinStyle(Qt::RoundJoin);
  return stroker.createStroke(path);
}

// A window outline with a menu bar across its top; with `dock`, a dock bar at its foot.
QPainterPath screenGlyph(const QPointF& c, double size, double lw, bool dock) {
  const QRectF outer(c.x() - size * 0.45, c.y() - size * 0.35, size * 0.9, size * 0.7);
  QPainterPath outline;
  outline.addRoundedRect(outer.adjusted(lw / 2, lw / 2, -lw / 2, -lw / 2), size * 0.12, size * 0.12);
  QPainterPath glyph = stroked(outline, lw);
  QPainterPath bar;
  bar.addRect(QRectF(outer.left(), outer.top(), outer.width(), lw + size * 0.12));
  QPainterPath clip;
  clip.addRoundedRect(outer, size * 0.12, size * 0.12);
  glyph = glyph.united(bar.intersected(clip));
  if (dock) {
    const double w = outer.width() * 0.5, h = size * 0.1;
    QPainterPath d;
    d.addRoundedRect(QRectF(c.x() - w / 2, outer.bottom() - lw - size * 0.06 - h, w, h), h / 2, h / 2);
    glyph = glyph.united(d);
  }
  return glyph;
}

// The outline of a symbol about the origin (its centre).
QPainterPath centredPath(const std::string& name, double size, scene::Weight weight) {
  const QPointF c(0, 0);
  const double lw = lineWidth(size, weight);
  if (name == "minus") {
    QPainterPath line;
    line.moveTo(c.x() - size * 0.31, c.y());
    line.lineTo(c.x() + size * 0.31, c.y());
    return stroked(line, lw);
  }
  if (name == "xmark.circle.fill") {
    const double r = size * 0.46, arm = size * 0.17;
    QPainterPath disc;
    disc.addEllipse(c, r, r);
    QPainterPath cross;
    cross.moveTo(c.x() - arm, c.y() - arm);
    cross.lineTo(c.x() + arm, c.y() + arm);
    cross.moveTo(c.x() + arm, c.y() - arm);
    cross.lineTo(c.x() - arm, c.y() + arm);
    // The mark is cut out of the disc, so whatever lies beneath shows through it.
    return disc.subtracted(stroked(cross, lw * 1.2));
  }
  if (name == "arrow.up.left.and.arrow.down.right") {
    // One diagonal with an open head at each end, pointing out of the corners.
    const double reach = size * 0.42, head = size * 0.3;
    QPainterPath arrows;
    arrows.moveTo(c.x() - reach, c.y() - reach);
    arrows.lineTo(c.x() + reach, c.y() + reach);
    arrows.moveTo(c.x() - reach + head, c.y() - reach);
    arrows.lineTo(c.x() - reach, c.y() - reach);
    arrows.lineTo(c.x() - reach, c.y() - reach + head);
    arrows.moveTo(c.x() + reach - head, c.y() + reach);
    arrows.lineTo(c.x() + reach, c.y() + reach);
    arrows.lineTo(c.x() + reach, c.y() + reach - head);
    return stroked(arrows, lw * 1.25);
  }
  if (name == "menubar.rectangle") return screenGlyph(c, size, lw, false);
  if (name == "menubar.dock.rectangle") return screenGlyph(c, size, lw, true);
  return {};
}

}  // namespace

QPainterPath symbolPath(const std::string& name, const QRectF& frame, double size, scene::Weight weight) {
  if (size <= 0) return {};
  // Outlines are built from joined and cut shapes, which costs more than drawing them:
  // each is built once per name, size and weight and moved into place.
  struct Key {
    std::string name;
    double size;
    scene::Weight weight;
    bool operator<(const Key& o) const { return std::tie(name, size, weight) < std::tie(o.name, o.size, o.weight); }
  };
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static auto& built = *new platform::SharedKeeper<Key, QPainterPath>({.count = 513});
  const QPainterPath path = built.get({name, size, weight}, [&] { return centredPath(name, size, weight); });
  return path.translated(frame.center());
}

}  // namespace trelliq::views
