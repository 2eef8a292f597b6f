#include "platform/sim/DisplayComposer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Keeper.h"
#include "platform/SharedSurface.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/FramePixels.h"

namespace sim {

namespace {

using Placed = DisplayComposer::Placed;
using Backdrops = std::map<std::uint32_t, DisplayComposer::Backdrop>;

/// Three passes of a box of `radius` pixels along rows, then along columns: close to a
/// Gaussian, with no steps. Edges repeat their last pixel.
void boxBlur(QImage& image, int radius) {
  const int w = image.width(), h = image.height();
  auto* bits = reinterpret_cast<QRgb*>(image.bits());
  const std::ptrdiff_t stride = image.bytesPerLine() / static_cast<std::ptrdiff_t>(sizeof(QRgb));
  std::vector<QRgb> line(static_cast<std::size_t>(std::max(w, h)));
  const int span = 2 * radius + 1;
  // One pass along `length` pixels `step` apart from `first`.
  auto pass = [&](QRgb* first, int length, std::ptrdiff_t step) {
    for (int k = 0; k < length; ++k) line[k] = first[k * step];
    int a = 0, r = 0, g = 0, b = 0;
    auto add = [&](QRgb p, int sign) {
      a += sign * qAlpha(p), r += sign * qRed(p), g += sign * qGreen(p), b += sign * qBlue(p);
    };
    for (int k = -radius; k <= radius; ++k) add(line[std::clamp(k, 0, length - 1)], 1);
    for (int k = 0; k < length; ++k) {
      first[k * step] = qRgba(r / span, g / span, b / span, a / span);
      add(line[std::min(k + radius + 1, length - 1)], 1);
      add(line[std::max(k - radius, 0)], -1);
    }
  };
  for (int round = 0; round < 3; ++round) {
    for (int y = 0; y < h; ++y) pass(bits + y * stride, w, 1);
    for (int x = 0; x < w; ++x) pass(bits + x, h, stride);
  }
}

/// `a` and `b` (premultiplied) mixed, `w` of 256 parts `b`.
inline QRgb mix(QRgb a, QRgb b, std::uint32_t w) {
  const std::uint32_t v = 256 - w;
  const std::uint32_t rb = (((a & 0xFF00FF) * v + (b & 0xFF00FF) * w) >> 8) & 0xFF00FF;
  const std::uint32_t ag = (((a >> 8) & 0xFF00FF) * v + ((b >> 8) & 0xFF00FF) * w) & 0xFF00FF00;
  return rb | ag;
}

/// `p` (premultiplied) at `keep` of 255 its strength.
inline QRgb weaken(QRgb p, std::uint32_t keep) {
  std::uint32_t rb = (p & 0xFF00FF) * keep;
  rb = ((rb + ((rb >> 8) & 0xFF00FF) + 0x800080) >> 8) & 0xFF00FF;
  std::uint32_t ag = ((p >> 8) & 0xFF00FF) * keep;
  ag = (ag + ((ag >> 8) & 0xFF00FF) + 0x800080) & 0xFF00FF00;
  return rb | ag;
}

/// Where each of `count` pixels from `from` of a side `full` pixels long falls on the same
/// side shrunk to `shrunk`, pixel centres matched: the two pixels it lies between and the
/// weight of the second, of 256.
struct Tap {
  int a = 0, b = 0;
  std::uint32_t w = 0;
};
std::vector<Tap> taps(int from, int count, int full, int shrunk) {
  std::vector<Tap> out(static_cast<std::size_t>(std::max(count, 0)));
  const double k = static_cast<double>(shrunk) / std::max(full, 1);
  for (int i = 0; i < count; ++i) {
    const double f = std::clamp((from + i + 0.5) * k - 0.5, 0.0, static_cast<double>(shrunk - 1));
    const int a = static_cast<int>(f);
    out[static_cast<std::size_t>(i)] = {a, std::min(a + 1, shrunk - 1),
                                        static_cast<std::uint32_t>(std::lround((f - a) * 256))};
  }
  return out;
}

/// The backdrop under a clear window within `part` (frame pixels): its blurred picture
/// grown back to its area's size, kept only where the window's content is, fully from
/// half its opacity up, so a faint shadow's edge does not carry a frosted halo. `content`
/// is the window's picture placed at `at`. Each pixel depends on where it lies alone, so
/// a part comes out as the same part of the whole. The answer lies in memory this thread
/// reuses: it lasts until the thread's next call.
QImage maskedBackdrop(const DisplayComposer::Backdrop& backdrop, const QImage& content, QPoint at, const QRect& part) {
  const QImage& small = backdrop.soft;
  const QRect& area = backdrop.area;
  // Fresh memory for each glass of each frame would cost more in its first touch than
  // what is painted into it.
  thread_local std::vector<QRgb> scratch;
  scratch.resize(std::max(scratch.size(), static_cast<std::size_t>(part.width()) * part.height()));
  QImage out(reinterpret_cast<uchar*>(scratch.data()), part.width(), part.height(),
             static_cast<qsizetype>(part.width()) * 4, QImage::Format_ARGB32_Premultiplied);
  const std::vector<Tap> xs = taps(part.left() - area.left(), part.width(), area.width(), small.width());
  const std::vector<Tap> ys = taps(part.top() - area.top(), part.height(), area.height(), small.height());
  if (xs.empty() || ys.empty()) return out;
  const int first = xs.front().a, last = xs.back().b;
  std::vector<QRgb> row(static_cast<std::size_t>(small.width()));
  const int cw = content.width(), ch = content.height(), ow = out.width(), oh = out.height();
  for (int y = 0; y < oh; ++y) {
    auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
    const int cy = part.top() + y - at.y();
    const auto* in = cy >= 0 && cy < ch ? reinterpret_cast<const QRgb*>(content.constScanLine(cy)) : nullptr;
    // The row of the small picture this line falls on, mixed from the two it lies between.
    const Tap& t = ys[static_cast<std::size_t>(y)];
    const auto* above = reinterpret_cast<const QRgb*>(small.constScanLine(t.a));
    const auto* below = reinterpret_cast<const QRgb*>(small.constScanLine(t.b));
    for (int x = first; x <= last; ++x) row[static_cast<std::size_t>(x)] = mix(above[x], below[x], t.w);
    for (int x = 0; x < ow; ++x) {
      const int cx = part.left() + x - at.x();
      const std::uint32_t keep = in && cx >= 0 && cx < cw ? std::min(255, qAlpha(in[cx]) * 2) : 0;
      if (keep == 0) {
        px[x] = 0;
        continue;
      }
      const Tap& s = xs[static_cast<std::size_t>(x)];
      const QRgb p = mix(row[static_cast<std::size_t>(s.a)], row[static_cast<std::size_t>(s.b)], s.w);
      px[x] = keep == 255 ? p : weaken(p, keep);
    }
  }
  return out;
}

/// Whether `content` placed at `at` (frame pixels) shows anything within `area`: a panel
/// ordered in before it has drawn is clear all over.
bool showsAnything(const QImage& content, QPoint at, const QRect& area) {
  const QRect part = area.translated(-at).intersected(content.rect());
  for (int y = part.top(); y <= part.bottom(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(content.constScanLine(y));
    for (int x = part.left(); x <= part.right(); ++x)
      if (qAlpha(line[x]) != 0) return true;
  }
  return false;
}

/// What of a window shows within the area being composed.
struct Seen {
  QRegion region;                  // what no solid window in front hides, its shadow included
  std::optional<Painted> content;  // a surface window's content, read where its body shows
  bool readable = true;            // false: a surface that cannot be read; the window shows nothing
  bool busy = false;               // its program was copying into its surface: not read
};

/// Only a window that will be painted whole hides anything: not a clear own window, nor
/// one whose content could not be read.
bool solid(const Placed& p, const std::optional<Painted>& content) {
  const Shown& s = p.shown;
  const bool painted = s.surface ? s.opaque && content.has_value() : !(s.window.own && !s.opaque);
  return painted && s.window.alpha >= 1 && s.chrome.kind != Chrome::Kind::clear &&
         s.chrome.kind != Chrome::Kind::dock && s.chrome.kind != Chrome::Kind::appSwitcher &&
         s.chrome.kind != Chrome::Kind::menuBar && s.chrome.kind != Chrome::Kind::statusItem;
}

/// The side of the square each rounded corner of a framed window fits in, in pixels.
int cornerSide(double sx) { return static_cast<int>(std::ceil(kWindowCornerRadius * sx)) + 1; }

/// The part of a window's rectangle `inset` pixels in from its edges, without its rounded
/// corners. With no inset, what a solid window hides whole: its straight edges lie on
/// whole pixels, but its corners blend with what is behind.
QRegion within(const Placed& p, double sx, int inset = 0) {
  const int corner = p.shown.chrome.framed() ? cornerSide(sx) : 0;
  const QRect inside = p.placed.adjusted(inset, inset, -inset, -inset);
  return QRegion(inside.adjusted(corner, 0, -corner, 0)) + QRegion(inside.adjusted(0, corner, 0, -corner));
}

/// Whether `region` covers little of `around` (its bounds), as the corners of a window do.
bool sparse(const QRegion& region, const QRect& around) {
  long long area = 0;
  for (const QRect& r : region) area += static_cast<long long>(r.width()) * r.height();
  return area * 8 < static_cast<long long>(around.width()) * around.height();
}

/// What each window of `windows` (back to front) shows within `dirty`, front to back: what
/// no solid window in front of it hides (its shadow included), empty for one hidden whole.
/// Glass blurs what lies behind it, so behind a clear window's glass everything else shows.
/// A surface window's content is read only where its body shows (else only whether it can
/// be read): one that cannot be read leaves its window out, so it must neither hide what
/// lies behind nor pass for painted, and is recorded as having shown no frame, so that
/// the first one it shows is composed whole. `desktop` gets what of the desktop is seen.
/// Without `cull`, every window shows wherever it reaches.
std::vector<Seen> seeWindows(std::vector<Placed>& windows, const QRegion& dirty, QRegion& desktop, double sx,
                             bool cull = true) {
  std::vector<Seen> seen(windows.size());
  QRegion hidden;
  for (std::size_t i = windows.size(); i-- > 0;) {
    Placed& p = windows[i];
    Seen& v = seen[i];
    const QRegion extent = dirty.intersected(p.extent);
    v.region = hidden.isEmpty() ? extent : extent.subtracted(hidden);
    if (p.shown.surface && !v.region.isEmpty()) {
      // Glass is read wherever it reaches: whether its content shows anything over the
      // glass decides its backdrop.
      const QRect need = (p.glass.isEmpty() ? v.region : extent).intersected(p.placed).boundingRect();
      if (!need.isEmpty())
        v.content = paintShown(p.shown, p.placed.width(), p.placed.height(), true, need.translated(-p.placed.topLeft()),
                               &v.busy);
      v.readable = v.content || (need.isEmpty() && p.shown.surface->read([](const QImage&, std::uint64_t) {}, &v.busy));
      if (!v.readable) p.surfaceSeq = 0;
    }
    if (!p.glass.isEmpty()) hidden -= p.glass;
    if (cull && solid(p, v.content)) hidden += within(p, sx);
  }
  desktop = hidden.isEmpty() ? dirty : dirty.subtracted(hidden);
  return seen;
}

/// A window's edge in a frame's pixels, however far off its frame lies (or not a number):
/// past kFarPixels it is that far off, out of every frame, and the sums made of it (its
/// width, its shadow's reach) stay within an int.
int pixelAt(double x) {
  constexpr int kFarPixels = 1 << 28;
  if (!(x > -kFarPixels)) return -kFarPixels;  // also NaN
  if (x > kFarPixels) return kFarPixels;
  return static_cast<int>(std::round(x));
}

/// Where each window of `windows` lies in a frame of `width` × `height` pixels of `frame`.
std::vector<Placed> place(const std::vector<const std::vector<Shown>*>& lists, const CGRect& frame, int width,
                          int height) {
  const double sx = width / frame.width(), sy = height / frame.height();
  const QRect all(0, 0, width, height);
  std::vector<Placed> placed;
  for (const auto* list : lists) {
    for (const Shown& s : *list) {
      Placed p;
      p.shown = s;
      const Window& w = s.window;
      p.rect = QRectF((w.bounds.minX() - frame.minX()) * sx, (w.bounds.minY() - frame.minY()) * sy,
                      w.bounds.width() * sx, w.bounds.height() * sy);
      const int pw = std::max(1, platform::pictureSide(std::round(p.rect.width())));
      const int ph = std::max(1, platform::pictureSide(std::round(p.rect.height())));
      p.placed = QRect(pixelAt(p.rect.x()), pixelAt(p.rect.y()), pw, ph);
      const int reach = s.chrome.framed() ? shadowReach(sx) : 1;
      p.extent = p.placed.adjusted(-reach, -reach, reach, reach);
      if (s.surface) {
        p.surfaceSeq = s.surface->sequence();
        if (!s.opaque) p.glass = surfaceArea(s, pw, ph).toAlignedRect().translated(p.placed.topLeft()).intersected(all);
      }
      // The Dock and its app switcher are frosted too: what lies behind their translucent
      // plates is blurred.
      if (s.chrome.kind == Chrome::Kind::dock || s.chrome.kind == Chrome::Kind::appSwitcher)
        p.glass = p.placed.intersected(all);
      placed.push_back(std::move(p));
    }
  }
  return placed;
}

/// Whether `now` (being composed) looks as `kept` (in a kept frame) did.
bool sameLook(const Placed& now, const Placed& kept) {
  const auto& surface = now.shown.surface;
  const bool sameSurface = !surface.owner_before(kept.surfaceOf) && !kept.surfaceOf.owner_before(surface);
  return now.placed == kept.placed && now.shown.chrome == kept.shown.chrome &&
         now.shown.window.alpha == kept.shown.window.alpha && now.shown.opaque == kept.shown.opaque &&
         now.shown.glass == kept.shown.glass && sameSurface;
}

/// Where a surface's damage `region` (its own pixels) lies in the frame.
QRect surfaceDamage(const Placed& p, const QRegion& region) {
  const Shown& s = p.shown;
  const QRectF area = surfaceArea(s, p.placed.width(), p.placed.height());
  const double kx = area.width() / std::max(1, s.surface->width());
  const double ky = area.height() / std::max(1, s.surface->height());
  const QRectF r = region.boundingRect();
  return QRectF(p.placed.x() + area.x() + r.x() * kx, p.placed.y() + area.y() + r.y() * ky, r.width() * kx,
                r.height() * ky)
      .toAlignedRect()
      .adjusted(-2, -2, 2, 2);
}

/// The windows (by index into `now`) whose place in the order moved: all but the longest
/// run whose order before and now agree.
std::vector<std::size_t> reordered(const std::vector<std::pair<std::size_t, std::size_t>>& common) {
  // Longest increasing run of the former indices, in the present order.
  std::vector<std::size_t> tails, tailAt, parent(common.size(), SIZE_MAX);
  for (std::size_t i = 0; i < common.size(); ++i) {
    const std::size_t before = common[i].second;
    auto it = std::lower_bound(tails.begin(), tails.end(), before);
    const std::size_t k = static_cast<std::size_t>(it - tails.begin());
    if (it == tails.end()) {
      tails.push_back(before);
      tailAt.push_back(i);
    } else {
      *it = before;
      tailAt[k] = i;
    }
    if (k > 0) parent[i] = tailAt[k - 1];
  }
  std::vector<bool> kept(common.size(), false);
  for (std::size_t i = tailAt.empty() ? SIZE_MAX : tailAt.back(); i != SIZE_MAX; i = parent[i]) kept[i] = true;
  std::vector<std::size_t> moved;
  for (std::size_t i = 0; i < common.size(); ++i)
    if (!kept[i]) moved.push_back(common[i].first);
  return moved;
}

/// The outline of a framed window at `placed` as it is within `part` (inside `placed`):
/// the rounded rectangle of the window cut down to a little beyond `part`, whose own
/// corners where it was cut lie outside `part`. Qt rasterizes a clip path whole, so a
/// window that shows only a sliver clips to a small one.
QPainterPath shapeNear(const QRect& placed, const QRect& part, double sx) {
  const int reach = static_cast<int>(std::ceil(kWindowCornerRadius * sx)) + 2;
  const QRect near = part.adjusted(-reach, -reach, reach, reach).intersected(placed);
  return windowShape(QRectF(near), sx);
}

/// How much of each pixel a framed window's rounded corners cover at `sx` pixels per point,
/// as alpha: the outline of a window 2 × `side` + 2 pixels square, whose corners each fit
/// in a square of `side` pixels (the top left one at the origin, the others `side` + 2 on).
QImage cornerCoverage(double sx, int side) {
  // Only a few scales are in use at a time.
  static platform::SharedKeeper<std::pair<double, int>, QImage> kept({.count = 16});
  return kept.get({sx, side}, [&] {
    QImage mask(2 * side + 2, 2 * side + 2, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(windowShape(QRectF(mask.rect()), sx), Qt::black);
    return mask;
  });
}

/// Whether a framed window's chrome at `placed` is painted with a plain clip and its corners
/// cut by their coverage (paintFramedChrome): a window with room for its four corners.
bool cutAtCorners(const QRect& placed, double sx) {
  return placed.width() >= 2 * cornerSide(sx) && placed.height() >= 2 * cornerSide(sx);
}

/// Paints the chrome of framed window `p` into `target` through `painter` within `part`:
/// whole over its rectangle, a plain clip, and then its rounded corners cut out of what it
/// painted there by their coverage, over what lay there before. Clipping to the rounded
/// outline instead makes Qt blend every pixel of the window through a mask.
void paintFramedChrome(QPainter& painter, QImage& target, const Placed& p, const QRegion& part, double sx) {
  const QRect& placed = p.placed;
  const int side = cornerSide(sx);
  const QRegion area = part.intersected(placed).intersected(painter.clipBoundingRect().toAlignedRect());
  struct Corner {
    QRect at;
    QPoint inMask;
    QImage under;
    QRect part;  // what of the corner is painted
  };
  Corner corners[] = {
      {QRect(placed.left(), placed.top(), side, side), {0, 0}, {}, {}},
      {QRect(placed.right() - side + 1, placed.top(), side, side), {side + 2, 0}, {}, {}},
      {QRect(placed.left(), placed.bottom() - side + 1, side, side), {0, side + 2}, {}, {}},
      {QRect(placed.right() - side + 1, placed.bottom() - side + 1, side, side), {side + 2, side + 2}, {}, {}}};
  for (Corner& k : corners) {
    k.part = area.intersected(k.at).boundingRect();
    if (!k.part.isEmpty()) k.under = target.copy(k.part);
  }
  painter.save();
  painter.setClipRect(placed, Qt::IntersectClip);
  painter.translate(placed.topLeft());
  paintChrome(painter, p.shown.chrome, placed.width(), placed.height(), sx);
  painter.restore();
  const QImage mask = cornerCoverage(sx, side);
  for (const Corner& k : corners) {
    if (k.under.isNull()) continue;
    const QRect& r = k.part;
    QImage body = target.copy(r).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
      QPainter cut(&body);
      cut.setCompositionMode(QPainter::CompositionMode_DestinationIn);
      cut.drawImage(QPoint(0, 0), mask, QRect(k.inMask + r.topLeft() - k.at.topLeft(), r.size()));
    }
    painter.drawImage(r.topLeft(), k.under);
    painter.drawImage(r.topLeft(), body);
  }
}

/// Paints the body of window `p` (its chrome, or `picture` over its glass's backdrop) into
/// `painter` within `part` and its rounded shape; clear windows in `stale` get their
/// backdrop blurred anew from what lies behind in `target`.
void paintBody(QPainter& painter, QImage& target, const Placed& p, const std::optional<Painted>& picture,
               const QRegion& part, Backdrops& backdrops, const std::set<std::uint32_t>& stale, double sx) {
  const Shown& s = p.shown;
  const QRect& placed = p.placed;
  painter.save();
  painter.setClipRegion(part, Qt::IntersectClip);
  if (!picture && s.chrome.framed() && cutAtCorners(placed, sx)) {
    paintFramedChrome(painter, target, p, part, sx);
    painter.restore();
    return;
  }
  if (s.chrome.framed()) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(shapeNear(placed, part.boundingRect(), sx), Qt::IntersectClip);
  }
  if (!picture) {
    painter.translate(placed.topLeft());
    if (!s.chrome.framed()) painter.setClipRect(0, 0, placed.width(), placed.height(), Qt::IntersectClip);
    paintChrome(painter, s.chrome, placed.width(), placed.height(), sx);
  } else {
    const QPoint at = placed.topLeft() + picture->at;
    if (!p.glass.isEmpty()) {
      const std::uint32_t number = s.window.number;
      auto b = backdrops.find(number);
      if (stale.count(number) || b == backdrops.end() || b->second.area != p.glass) {
        // Blurred only under content that shows: until then it is owed (a null picture),
        // and the content's first change that shows anything blurs it.
        QImage soft;
        if (showsAnything(picture->image, at, p.glass)) soft = frostedBackdrop(target, p.glass, sx, s.glass);
        b = backdrops.insert_or_assign(number, DisplayComposer::Backdrop{p.glass, std::move(soft)}).first;
      }
      const QRect under = part.boundingRect().intersected(p.glass);
      if (!under.isEmpty() && !b->second.soft.isNull())
        painter.drawImage(under.topLeft(), maskedBackdrop(b->second, picture->image, at, under));
    }
    painter.drawImage(at, picture->image);
  }
  painter.restore();
}

/// Paints `windows` back to front into `target` where `dirty` says, each only where it
/// shows (see seeWindows), over what is already there: its shadow where it is not under
/// the window's own solid body, its body where that shows, its border where that may.
/// Clear windows in `stale` get their backdrop blurred anew from what lies behind. Without
/// `cull`, each shadow is painted whole, under its window too.
void paintWindows(QImage& target, const std::vector<Placed>& windows, const std::vector<Seen>& seen,
                  const QRegion& dirty, Backdrops& backdrops, const std::set<std::uint32_t>& stale, double sx,
                  bool cull) {
  QPainter painter(&target);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const Placed& p = windows[i];
    const Shown& s = p.shown;
    const Window& w = s.window;
    const QRegion& shows = seen[i].region;
    if (shows.isEmpty() && !p.glass.isEmpty() && (stale.count(w.number) || !backdrops.count(w.number))) {
      // Glass hidden whole cannot be blurred anew now: it is once it shows again. Renewing
      // it on every frame until then would make each frame copy it.
      backdrops.insert_or_assign(w.number, DisplayComposer::Backdrop{p.glass, QImage(), true});
    }
    if (shows.isEmpty() || !seen[i].readable) continue;
    if (!s.surface && w.own && !s.opaque) continue;  // a clear own window without content
    const QRect& placed = p.placed;
    // A glass's backdrop is kept up to date wherever the window shows.
    const QRegion sliver = shows.intersected(placed);
    const bool body = !p.glass.isEmpty() || !sliver.isEmpty();
    const QRect bounds = shows.boundingRect();
    // A rectangle where the part is the whole dirty rectangle: Qt clips to a rectangle far
    // faster than to a region.
    painter.setClipRegion(dirty.rectCount() == 1 ? QRegion(bounds) : dirty.intersected(bounds));
    std::optional<Painted> picture;
    if (s.surface) {
      picture = seen[i].content;
      if (body && !picture) continue;
    } else if (body && (w.alpha < 1 || !p.glass.isEmpty())) {
      picture = paintShown(s, placed.width(), placed.height(), true,
                           bounds.intersected(placed).translated(-placed.topLeft()));
    }
    const bool framed = s.chrome.framed();
    painter.setOpacity(std::clamp(w.alpha, 0.0, 1.0));
    const bool opaque = solid(p, seen[i].content);
    if (framed && !shows.subtracted(opaque ? within(p, sx) : QRegion()).isEmpty())
      paintShadow(painter, QRectF(placed), sx, s.chrome.key, cull && opaque, &shows);
    if (body) {
      const QRect around = p.glass.isEmpty() ? sliver.boundingRect() : bounds;
      if (picture || !framed || !sparse(sliver, around)) {
        paintBody(painter, target, p, picture, around, backdrops, stale, sx);
      } else {
        // A window behind one of its size shows its body only by the corners of the one
        // in front: only each corner's part is painted. Chrome cut at its corners is painted
        // once, clipped to them all; one clipped to its outline, by corner, so that each
        // clip path stays small.
        const QPoint centre = placed.center();
        QRegion corners;
        for (const QRect& quarter : {QRect(QPoint(placed.left(), placed.top()), centre),
                                     QRect(QPoint(centre.x() + 1, placed.top()), QPoint(placed.right(), centre.y())),
                                     QRect(QPoint(placed.left(), centre.y() + 1), QPoint(centre.x(), placed.bottom())),
                                     QRect(centre + QPoint(1, 1), placed.bottomRight())}) {
          const QRect part = sliver.intersected(quarter).boundingRect();
          if (part.isEmpty()) continue;
          if (cutAtCorners(placed, sx))
            corners += part;
          else
            paintBody(painter, target, p, picture, part, backdrops, stale, sx);
        }
        if (!corners.isEmpty()) paintBody(painter, target, p, picture, corners, backdrops, stale, sx);
      }
    }
    // The border lies along the edges and around the corners, within its width and a pixel
    // of blending.
    const int border = static_cast<int>(std::ceil(std::max(1.0, 0.5 * sx))) + 2;
    if (framed && !shows.subtracted(within(p, sx, border)).isEmpty())
      paintBorder(painter, QRectF(placed), sx, s.chrome.dark, &shows);
  }
}

/// The desktop `space` shows on the display of `scene`, painted into `image` where `region`
/// says, and at most where `bounds` says.
void paintDesktop(QImage& image, const DisplayScene& scene, const SpaceScene& space, const QRegion& region,
                  const QRegion& bounds) {
  if (space.type == kSpaceTypeFullScreen) {
    QPainter painter(&image);
    for (const QRect& r : region) painter.fillRect(r, Qt::black);
    return;
  }
  Display shown = scene.display;
  if (space.color) shown.desktopColor = space.color;
  paintDisplayPicture(image, shown, region, bounds);
}

/// Paints `windows` (back to front), as `seen` (seeWindows within `dirty`) says each shows,
/// and `desktop` of `space` unless it is null, into `target`.
void paintSeen(QImage& target, const DisplayScene& scene, const SpaceScene* space, const std::vector<Placed>& windows,
               const std::vector<Seen>& seen, const QRegion& desktop, const QRegion& dirty, Backdrops& backdrops,
               const std::set<std::uint32_t>& stale, double sx, bool cull = true) {
  if (space) paintDesktop(target, scene, *space, desktop, dirty);
  paintWindows(target, windows, seen, dirty, backdrops, stale, sx, cull);
}

/// Paints `windows` (back to front) and, unless `space` is null, the desktop of `space`
/// behind them into `target` where `dirty` says, each only where it is seen (without
/// `cull`, wherever it reaches).
void paintScene(QImage& target, const DisplayScene& scene, const SpaceScene* space, std::vector<Placed>& windows,
                const QRegion& dirty, Backdrops& backdrops, const std::set<std::uint32_t>& stale, double sx,
                bool cull = true) {
  QRegion desktop;
  const std::vector<Seen> seen = seeWindows(windows, dirty, desktop, sx, cull);
  paintSeen(target, scene, space, windows, seen, desktop, dirty, backdrops, stale, sx, cull);
}

/// A frame's image before anything is painted, on memory from `pixels` when given: black,
/// so that no pixel can show what the memory held before, whatever paints or fails to.
QImage blankFrame(int width, int height, FramePixels* pixels = nullptr) {
  QImage image = pixels ? pixels->image(width, height) : QImage(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

/// One Space's picture composed whole (a slide's two halves).
QImage wholeSpace(const DisplayScene& scene, const SpaceScene& space, int width, int height, FramePixels& pixels) {
  QImage image = blankFrame(width, height, &pixels);
  Backdrops backdrops;
  std::vector<Placed> windows = place({&space.windows}, scene.frame, width, height);
  paintScene(image, scene, &space, windows, QRegion(image.rect()), backdrops, {}, width / scene.frame.width());
  return image;
}

/// A frame of a slide between Spaces: it moves every pixel, the old Space leaving
/// towards one side while the new one comes in from the other.
QImage slideFrame(const DisplayScene& scene, int width, int height, FramePixels& pixels) {
  const QRect all(0, 0, width, height);
  QImage image = blankFrame(width, height, &pixels);
  {
    QPainter painter(&image);
    const double shift = scene.direction * scene.progress * width;
    painter.drawImage(QPointF(-shift, 0), wholeSpace(scene, *scene.from, width, height, pixels));
    painter.drawImage(QPointF(scene.direction * width - shift, 0), wholeSpace(scene, scene.to, width, height, pixels));
  }
  Backdrops backdrops;
  std::vector<Placed> overlay = place({&scene.overlay}, scene.frame, width, height);
  paintScene(image, scene, nullptr, overlay, QRegion(all), backdrops, {}, width / scene.frame.width());
  return image;
}

/// What changed from the windows a frame was composed with (`before`) to those it shows
/// now, each with how deep in the order it lies: a clear window's backdrop changes only
/// with what lies behind it. -1: anywhere.
std::vector<std::pair<int, QRect>> changedAreas(const std::vector<Placed>& before, const std::vector<Placed>& now) {
  std::vector<std::pair<int, QRect>> changes;
  std::unordered_map<std::uint32_t, std::size_t> index;
  for (std::size_t i = 0; i < before.size(); ++i) index[before[i].shown.window.number] = i;
  std::vector<std::pair<std::size_t, std::size_t>> common;
  std::vector<bool> stays(before.size(), false);
  for (std::size_t i = 0; i < now.size(); ++i) {
    const Placed& p = now[i];
    const int depth = static_cast<int>(i);
    auto was = index.find(p.shown.window.number);
    if (was == index.end()) {
      changes.emplace_back(depth, p.extent);
      continue;
    }
    const Placed& old = before[was->second];
    stays[was->second] = true;
    common.emplace_back(i, was->second);
    if (!sameLook(p, old)) {
      changes.emplace_back(depth, p.extent);
      changes.emplace_back(depth, old.extent);
    } else if (p.surfaceSeq != old.surfaceSeq) {
      const auto region = p.shown.surface->damageSince(old.surfaceSeq);
      changes.emplace_back(depth, region ? surfaceDamage(p, *region) : p.extent);
    }
  }
  for (std::size_t i = 0; i < before.size(); ++i)
    if (!stays[i]) changes.emplace_back(-1, before[i].extent);
  for (const std::size_t i : reordered(common)) {
    changes.emplace_back(-1, now[i].extent);
    changes.emplace_back(-1, before[index[now[i].shown.window.number]].extent);
  }
  return changes;
}

/// What to paint for the changes `found` (clipped to `all`): glass over something that
/// changed is composed whole, its backdrop blurred anew (its number goes in `stale`); so
/// is glass whose backdrop is owed when its own content changes. Glass whose backdrop
/// fell due while it was hidden whole is too, once it shows again (it is in `showing`).
QRegion dirtyAfter(std::vector<std::pair<int, QRect>> found, const std::vector<Placed>& now,
                   const Backdrops& backdrops, const std::set<std::uint32_t>& showing, std::set<std::uint32_t>& stale,
                   const QRect& all) {
  stale.clear();
  for (std::size_t i = 0; i < now.size(); ++i) {
    const Placed& p = now[i];
    if (p.glass.isEmpty()) continue;
    const std::uint32_t number = p.shown.window.number;
    const auto b = backdrops.find(number);
    bool renew = b == backdrops.end() || b->second.area != p.glass;
    if (!renew && b->second.due && !showing.count(number)) continue;
    renew = renew || b->second.due;
    const int behind = renew ? 0 : static_cast<int>(i) + (b->second.soft.isNull() ? 1 : 0);
    for (std::size_t c = 0; c < found.size() && !renew; ++c)
      renew = found[c].first < behind && found[c].second.intersects(p.glass);
    if (!renew) continue;
    stale.insert(number);
    found.emplace_back(static_cast<int>(i), p.glass);
  }
  QRegion region;
  for (const auto& [depth, rect] : found) region += rect.intersected(all);
  return region;
}

/// Whether a frame with `seen` (seeWindows of `now`) is better left as it was for now:
/// some window's program was copying into its surface, for kBusyTicks compositions in a
/// row at most (a program stopped or killed in the middle of a copy holds nothing up for
/// longer: its window is left out then, as one that cannot be read). `busy` counts each
/// such window's compositions in a row. `again` is set when a window is left out for the
/// first time: the frame composes only what changed without it, the next one all of it.
bool holdFor(const std::vector<Placed>& now, const std::vector<Seen>& seen, std::map<std::uint32_t, int>& busy,
             bool& again) {
  std::map<std::uint32_t, int> still;
  bool hold = false;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (!seen[i].busy) continue;
    const std::uint32_t number = now[i].shown.window.number;
    const auto before = busy.find(number);
    const int ticks = still[number] = (before == busy.end() ? 0 : before->second) + 1;
    hold = hold || ticks <= DisplayComposer::kBusyTicks;
    again = again || ticks == DisplayComposer::kBusyTicks + 1;
  }
  busy = std::move(still);
  return hold;
}

/// What changed since the frame `since`, from the kept `history`: nothing for that frame
/// itself, unknown (the whole frame) for one no longer kept or after a frame made whole.
std::optional<QRegion> damageSince(const std::list<std::pair<std::uint64_t, QRegion>>& history,
                                   std::uint64_t since, std::uint64_t sequence, bool whole) {
  if (since == sequence) return QRegion();
  if (whole) return std::nullopt;
  auto from = std::find_if(history.begin(), history.end(), [&](const auto& h) { return h.first == since; });
  if (from == history.end()) return std::nullopt;
  QRegion sinceThen;
  for (auto it = std::next(from); it != history.end(); ++it) sinceThen += it->second;
  return sinceThen;
}

}  // namespace

QImage frostedBackdrop(const QImage& target, const QRect& area, double scale, platform::GlassStyle style) {
  const QRect inside = area.intersected(target.rect());
  if (inside.isEmpty()) return QImage();
  const double points = style == platform::GlassStyle::clear ? 3 : 40;
  const double spread = std::max(2.0, points * scale);
  // Shrunk so that a small box, passed three times, spreads as far as the glass asks; the
  // shrinking averages areas and the growing back (maskedBackdrop) interpolates an image
  // already smooth, so neither leaves steps.
  constexpr int kRadius = 2;
  const double shrink = std::max(1.0, spread / (2 * kRadius));
  const QImage behind = platform::premultipliedPixels(target, inside);
  const QSize small(std::max(1, static_cast<int>(std::lround(inside.width() / shrink))),
                    std::max(1, static_cast<int>(std::lround(inside.height() / shrink))));
  QImage soft =
      small == inside.size() ? behind.copy() : behind.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  soft = soft.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  boxBlur(soft, kRadius);
  return soft;
}

QImage composePlainly(const DisplayScene& scene, int width, int height) {
  QImage image = blankFrame(width, height);
  std::vector<Placed> windows = place({&scene.to.windows, &scene.overlay}, scene.frame, width, height);
  Backdrops backdrops;
  paintScene(image, scene, &scene.to, windows, QRegion(image.rect()), backdrops, {}, width / scene.frame.width(),
             false);
  return image;
}

std::size_t DisplayComposer::Kept::bytes() const {
  std::size_t total = static_cast<std::size_t>(image.sizeInBytes());
  for (const auto& [number, backdrop] : backdrops) total += static_cast<std::size_t>(backdrop.soft.sizeInBytes());
  return total;
}

std::size_t DisplayComposer::trim(std::uint64_t request) {
  const std::uint64_t before = evicted_;
  std::size_t total = 0;
  for (const Kept& k : frames_) total += k.bytes();
  auto over = [&] { return total > budget_ || frames_.size() > kKeptFrames; };
  auto drop = [&](std::list<Kept>::iterator it) {
    total -= it->bytes();
    ++evicted_;
    return frames_.erase(it);
  };
  for (auto it = frames_.end(); over() && it != frames_.begin();) {
    --it;
    if (it->request != request) it = drop(it);
  }
  // One ask's frames that do not fit together: those asked first stay and are brought up
  // to date from then on. Letting go of the least recently asked instead would make each
  // of the displays an ask names, asked in the same order every time, let go of the next,
  // and every frame would be composed whole.
  while (over() && !frames_.empty()) drop(frames_.begin());
  return static_cast<std::size_t>(evicted_ - before);
}

DisplayComposer::Kept& DisplayComposer::kept(std::uint32_t id, int width, int height) {
  auto it = std::find_if(frames_.begin(), frames_.end(),
                         [&](const Kept& k) { return k.id == id && k.width == width && k.height == height; });
  if (it != frames_.end()) {
    frames_.splice(frames_.begin(), frames_, it);
  } else {
    frames_.emplace_front();
    frames_.front().id = id, frames_.front().width = width, frames_.front().height = height;
  }
  return frames_.front();
}

std::optional<double> DisplayComposer::dropUnused() {
  std::lock_guard lock(mutex_);
  const double now = platform::clock().monotonicSeconds();
  std::erase_if(frames_, [&](const Kept& k) { return now - k.used >= kUnusedSeconds; });
  if (frames_.empty()) {
    pixels_.clear();
    return std::nullopt;
  }
  double oldest = now;
  for (const Kept& k : frames_) oldest = std::min(oldest, k.used);
  const double next = oldest + kUnusedSeconds - now;
  // The memory of frames let go goes too when no frame takes it: one of a size no screen
  // shows any more would else stay as long as any frame is kept.
  const auto spare = pixels_.dropUnused(now, kUnusedSeconds);
  return spare ? std::min(next, *spare) : next;
}

void DisplayComposer::recordFrame(Kept& k, const QRegion& changed) {
  k.sequence = ++sequence_;
  k.history.emplace_back(k.sequence, changed);
  while (k.history.size() > kHistory) k.history.pop_front();
}

std::size_t DisplayComposer::compose(std::uint32_t id, int width, int height, const DisplayScene& scene,
                                     std::uint64_t since,
                                     const std::function<void(const QImage&, const FrameChange&)>& use,
                                     std::uint64_t request) {
  std::lock_guard lock(mutex_);
  if (request == 0) request = ++requests_;
  Kept& k = kept(id, width, height);
  k.used = platform::clock().monotonicSeconds();
  k.request = request;
  composeInto(k, scene, since, use);
  return trim(request);
}

void DisplayComposer::composeInto(Kept& k, const DisplayScene& scene, std::uint64_t since,
                                  const std::function<void(const QImage&, const FrameChange&)>& use) {
  const int width = k.width, height = k.height;
  const double sx = width / scene.frame.width();
  const QRect all(0, 0, width, height);
  if (scene.from) {
    k.image = slideFrame(scene, width, height, pixels_);
    k.valid = false;
    k.history.clear();
    recordFrame(k, QRegion(all));
    use(k.image, FrameChange{k.sequence, std::nullopt});
    return;
  }

  std::vector<Placed> now = place({&scene.to.windows, &scene.overlay}, scene.frame, width, height);
  const std::uint32_t color = scene.to.color ? scene.to.color : scene.display.desktopColor;
  const bool whole = !k.valid || k.image.size() != QSize(width, height) || k.space != scene.to.space ||
                     k.type != scene.to.type || k.color != color || !(k.frame == scene.frame) ||
                     k.name != scene.display.screen.localizedName;
  QRegion dirty;
  bool again = false;  // to be composed again on the next tick
  std::set<std::uint32_t> stale;
  std::vector<Seen> seen;  // what each window shows within `dirty`, when seen before painting
  QRegion desktop;
  if (whole) {
    // Painted over where it is, unless a copy of it is still held; else on lent memory.
    if (k.image.size() == QSize(width, height) && k.image.isDetached()) {
      k.image.fill(Qt::black);
    } else {
      k.image = QImage();  // its memory goes back first, for the new frame to take
      k.image = blankFrame(width, height, &pixels_);
    }
    k.backdrops.clear();
    k.history.clear();
    dirty = QRegion(all);
  } else {
    const auto changes = changedAreas(k.windows, now);
    dirty = dirtyAfter(changes, now, k.backdrops, {}, stale, all);
    std::set<std::uint32_t> showing;
    if (!dirty.isEmpty()) {
      for (std::size_t i = 0; i < now.size(); ++i) {
        const auto b = k.backdrops.find(now[i].shown.window.number);
        if (b == k.backdrops.end() || !b->second.due || b->second.area != now[i].glass) continue;
        if (seen.empty()) seen = seeWindows(now, dirty, desktop, sx);
        if (seen[i].region.intersects(now[i].glass)) showing.insert(b->first);
      }
    }
    if (!showing.empty()) {
      dirty = dirtyAfter(changes, now, k.backdrops, showing, stale, all);
      seen.clear();
    }
  }
  std::erase_if(k.backdrops, [&](const auto& b) {
    return std::none_of(now.begin(), now.end(), [&](const Placed& p) { return p.shown.window.number == b.first; });
  });
  if (!dirty.isEmpty()) {
    if (seen.empty()) seen = seeWindows(now, dirty, desktop, sx);
    if (holdFor(now, seen, k.busy, again) && !whole) {
      // The frame as it was, and what lay in `dirty` composed again from the windows it
      // was composed with on the next tick: a window shown one frame late, never blank.
      use(k.image, FrameChange{k.sequence, damageSince(k.history, since, k.sequence, false), true});
      return;
    }
    paintSeen(k.image, scene, &scene.to, now, seen, desktop, dirty, k.backdrops, stale, sx);
    recordFrame(k, dirty);
  }
  k.valid = true;
  k.space = scene.to.space, k.type = scene.to.type, k.color = color, k.frame = scene.frame;
  k.name = scene.display.screen.localizedName;
  // Kept weakly: the frame must not keep a destroyed window's surface alive.
  for (Placed& p : now) {
    p.surfaceOf = p.shown.surface;
    p.shown.surface.reset();
  }
  k.windows = std::move(now);

  const FrameChange change{k.sequence, damageSince(k.history, since, k.sequence, whole), again};
  use(k.image, change);
}

}  // namespace sim
