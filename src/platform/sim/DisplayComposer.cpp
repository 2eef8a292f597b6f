#include "platform/sim/DisplayComposer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>

#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/SharedSurface.h"
#include "platform/sim/DisplayPicture.h"

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
    auto add = [&](QRgb p, int sign) { a += sign * qAlpha(p), r += sign * qRed(p), g += sign * qGreen(p), b += sign * qBlue(p); };
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

/// The backdrop under `p`, kept only where its content is: fully from half its opacity
/// up, so a faint shadow's edge does not carry a frosted halo. `content` is the window's
/// picture placed at `at`; `part` is where it is needed (frame pixels).
QImage maskedBackdrop(const DisplayComposer::Backdrop& backdrop, const QImage& content, QPoint at, const QRect& part) {
  QImage out = backdrop.soft.copy(part.translated(-backdrop.area.topLeft()));
  const int cw = content.width(), ch = content.height(), ow = out.width(), oh = out.height();
  for (int y = 0; y < oh; ++y) {
    auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
    const int cy = part.top() + y - at.y();
    const auto* in = cy >= 0 && cy < ch ? reinterpret_cast<const QRgb*>(content.constScanLine(cy)) : nullptr;
    for (int x = 0; x < ow; ++x) {
      const int cx = part.left() + x - at.x();
      const int keep = in && cx >= 0 && cx < cw ? std::min(255, qAlpha(in[cx]) * 2) : 0;
      if (keep == 255) continue;
      const QRgb p = px[x];
      px[x] = qRgba(qRed(p) * keep / 255, qGreen(p) * keep / 255, qBlue(p) * keep / 255, qAlpha(p) * keep / 255);
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

/// The program's content of each window of `windows` that shows some within `dirty`,
/// read once, before anything is decided from it: a surface that cannot be read (nothing
/// published yet, or a header its program made unreadable) leaves its window out, so it
/// must neither hide what lies behind nor pass for painted. Such a window is recorded as
/// having shown no frame, so that the first one it shows is composed whole.
std::vector<std::optional<Painted>> readContent(std::vector<Placed>& windows, const QRegion& dirty) {
  std::vector<std::optional<Painted>> content(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    Placed& p = windows[i];
    if (!p.shown.surface) continue;
    const QRect need = dirty.intersected(p.extent).boundingRect().intersected(p.placed);
    if (need.isEmpty()) continue;
    content[i] = paintShown(p.shown, p.placed.width(), p.placed.height(), true, need.translated(-p.placed.topLeft()));
    if (!content[i]) p.surfaceSeq = 0;
  }
  return content;
}

/// Only a window that will be painted whole hides anything: not a clear own window, nor
/// one whose content (`content`, see readContent) could not be read.
bool solid(const Placed& p, const std::optional<Painted>& content) {
  const Shown& s = p.shown;
  const bool painted = s.surface ? s.opaque && content.has_value() : !(s.window.own && !s.opaque);
  return painted && s.window.alpha >= 1 && s.chrome.kind != Chrome::Kind::dock &&
         s.chrome.kind != Chrome::Kind::menuBar && s.chrome.kind != Chrome::Kind::statusItem;
}

/// The part of a solid window that hides what lies behind it whole: its rectangle without
/// the rounded corners and a pixel at its edges, which blend with what is behind.
QRegion hiding(const Placed& p, double sx) {
  const int corner = p.shown.chrome.framed() ? static_cast<int>(std::ceil(kWindowCornerRadius * sx)) : 0;
  const QRect inside = p.placed.adjusted(1, 1, -1, -1);
  return QRegion(inside.adjusted(corner, 0, -corner, 0)) + QRegion(inside.adjusted(0, corner, 0, -corner));
}

/// Where each window of `windows` (back to front, `content` read) must be painted within
/// `dirty`: the bounds of what no solid window in front of it hides (its shadow included),
/// empty for one hidden whole. Glass blurs what lies behind it, so behind a clear window's
/// glass everything else is painted. `desktop` gets what of the desktop is seen. Painting
/// more than this is harmless (what is in front paints over it); less is not. Without
/// `cull`, every window is painted wherever it reaches.
std::vector<QRect> seenParts(const std::vector<Placed>& windows, const std::vector<std::optional<Painted>>& content,
                             const QRegion& dirty, QRegion& desktop, double sx, bool cull = true) {
  std::vector<QRect> seen(windows.size());
  QRegion hidden;
  for (std::size_t i = windows.size(); i-- > 0;) {
    const Placed& p = windows[i];
    const QRegion extent = dirty.intersected(p.extent);
    seen[i] = (hidden.isEmpty() ? extent : extent.subtracted(hidden)).boundingRect();
    if (!p.glass.isEmpty()) hidden -= p.glass;
    if (cull && solid(p, content[i])) hidden += hiding(p, sx);
  }
  desktop = hidden.isEmpty() ? dirty : dirty.subtracted(hidden);
  return seen;
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
      p.placed = QRect(static_cast<int>(std::round(p.rect.x())), static_cast<int>(std::round(p.rect.y())), pw, ph);
      const int reach = s.chrome.framed() ? shadowReach(sx) : 1;
      p.extent = p.placed.adjusted(-reach, -reach, reach, reach);
      if (s.surface) {
        p.surfaceSeq = s.surface->sequence();
        if (!s.opaque)
          p.glass = surfaceArea(s, pw, ph).toAlignedRect().translated(p.placed.topLeft()).intersected(all);
      }
      // The Dock is frosted too: what lies behind its translucent strip is blurred.
      if (s.chrome.kind == Chrome::Kind::dock) p.glass = p.placed.intersected(all);
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

/// Paints `windows` back to front into `target` where `dirty` says, each within its part
/// (see seenParts) and with its `content` (see readContent), over what is already there;
/// clear windows in `stale` get their backdrop blurred anew from what lies behind.
void paintWindows(QImage& target, const std::vector<Placed>& windows,
                  const std::vector<std::optional<Painted>>& content, const QRegion& dirty,
                  const std::vector<QRect>& parts, Backdrops& backdrops, const std::set<std::uint32_t>& stale,
                  double sx) {
  QPainter painter(&target);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const Placed& p = windows[i];
    const Shown& s = p.shown;
    const Window& w = s.window;
    const QRect& bounds = parts[i];
    if (bounds.isEmpty()) continue;
    // A rectangle where the part is the whole dirty rectangle: Qt clips to a rectangle far
    // faster than to a region.
    painter.setClipRegion(dirty.rectCount() == 1 ? QRegion(bounds) : dirty.intersected(bounds));
    const QRect& placed = p.placed;
    std::optional<Painted> picture;
    if (s.surface) {
      picture = content[i];
      if (!picture) continue;  // nothing readable published yet: not shown until it is
    } else if ((w.own && !s.opaque) || w.alpha < 1 || !p.glass.isEmpty()) {
      picture = paintShown(s, placed.width(), placed.height(), true,
                           bounds.intersected(placed).translated(-placed.topLeft()));
      if (!picture) continue;  // a clear own window without content
    }
    const bool framed = s.chrome.framed();
    painter.setOpacity(std::clamp(w.alpha, 0.0, 1.0));
    if (framed) {
      paintShadow(painter, QRectF(placed), sx, s.chrome.key);
      painter.save();
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setClipPath(windowShape(QRectF(placed), sx), Qt::IntersectClip);
    }
    if (!picture) {
      painter.save();
      painter.translate(placed.topLeft());
      painter.setClipRect(0, 0, placed.width(), placed.height(), Qt::IntersectClip);
      paintChrome(painter, s.chrome, placed.width(), placed.height(), sx);
      painter.restore();
    } else {
      const QPoint at = placed.topLeft() + picture->at;
      if (!p.glass.isEmpty()) {
        auto b = backdrops.find(w.number);
        if (stale.count(w.number) || b == backdrops.end() || b->second.area != p.glass) {
          // Blurred only under content that shows: until then it is owed (a null picture),
          // and the content's first change that shows anything blurs it.
          QImage soft;
          if (showsAnything(picture->image, at, p.glass)) soft = frostedBackdrop(target, p.glass, sx, s.glass);
          b = backdrops.insert_or_assign(w.number, DisplayComposer::Backdrop{p.glass, std::move(soft)}).first;
        }
        const QRect part = bounds.intersected(p.glass);
        if (!part.isEmpty() && !b->second.soft.isNull())
          painter.drawImage(part.topLeft(), maskedBackdrop(b->second, picture->image, at, part));
      }
      painter.drawImage(at, picture->image);
    }
    if (framed) {
      painter.restore();
      paintBorder(painter, QRectF(placed), sx, s.chrome.dark);
    }
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

/// Paints `windows` (back to front) and, unless `space` is null, the desktop of `space`
/// behind them into `target` where `dirty` says, each only where it is seen (without
/// `cull`, wherever it reaches).
void paintScene(QImage& target, const DisplayScene& scene, const SpaceScene* space, std::vector<Placed>& windows,
                const QRegion& dirty, Backdrops& backdrops, const std::set<std::uint32_t>& stale, double sx,
                bool cull = true) {
  const std::vector<std::optional<Painted>> content = readContent(windows, dirty);
  QRegion desktop;
  const std::vector<QRect> seen = seenParts(windows, content, dirty, desktop, sx, cull);
  if (space) paintDesktop(target, scene, *space, desktop, dirty);
  paintWindows(target, windows, content, dirty, seen, backdrops, stale, sx);
}

/// A frame's image before anything is painted: black, so that no pixel can show what the
/// memory held before, whatever paints or fails to.
QImage blankFrame(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

/// One Space's picture composed whole (a slide's two halves).
QImage wholeSpace(const DisplayScene& scene, const SpaceScene& space, int width, int height) {
  QImage image = blankFrame(width, height);
  Backdrops backdrops;
  std::vector<Placed> windows = place({&space.windows}, scene.frame, width, height);
  paintScene(image, scene, &space, windows, QRegion(image.rect()), backdrops, {}, width / scene.frame.width());
  return image;
}

}  // namespace

QImage frostedBackdrop(const QImage& target, const QRect& area, double scale, platform::GlassStyle style) {
  const QRect inside = area.intersected(target.rect());
  if (inside.isEmpty()) return QImage();
  const double points = style == platform::GlassStyle::clear ? 3 : 40;
  const double spread = std::max(2.0, points * scale);
  // Shrunk so that a small box, passed three times, spreads as far as the glass asks; the
  // shrinking averages areas and the growing back interpolates an image already smooth,
  // so neither leaves steps.
  constexpr int kRadius = 2;
  const double shrink = std::max(1.0, spread / (2 * kRadius));
  const QImage behind = platform::premultipliedPixels(target, inside);
  const QSize small(std::max(1, static_cast<int>(std::lround(inside.width() / shrink))),
                    std::max(1, static_cast<int>(std::lround(inside.height() / shrink))));
  QImage soft =
      small == inside.size() ? behind.copy() : behind.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  soft = soft.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  boxBlur(soft, kRadius);
  if (soft.size() != inside.size()) soft = soft.scaled(inside.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return soft.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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

void DisplayComposer::trim(std::uint64_t request) {
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
  if (frames_.empty()) return std::nullopt;
  double oldest = now;
  for (const Kept& k : frames_) oldest = std::min(oldest, k.used);
  return oldest + kUnusedSeconds - now;
}

void DisplayComposer::recordFrame(Kept& k, const QRegion& changed) {
  k.sequence = ++sequence_;
  k.history.emplace_back(k.sequence, changed);
  while (k.history.size() > kHistory) k.history.pop_front();
}

void DisplayComposer::compose(std::uint32_t id, int width, int height, const DisplayScene& scene,
                              std::uint64_t since, const std::function<void(const QImage&, const FrameChange&)>& use,
                              std::uint64_t request) {
  std::lock_guard lock(mutex_);
  if (request == 0) request = ++requests_;
  Kept& k = kept(id, width, height);
  k.used = platform::clock().monotonicSeconds();
  k.request = request;
  composeInto(k, scene, since, use);
  trim(request);
}

void DisplayComposer::composeInto(Kept& k, const DisplayScene& scene, std::uint64_t since,
                                  const std::function<void(const QImage&, const FrameChange&)>& use) {
  const int width = k.width, height = k.height;
  const double sx = width / scene.frame.width();
  const QRect all(0, 0, width, height);
  if (scene.from) {
    // A slide moves every pixel: the old Space leaves towards one side while the new one
    // comes in from the other.
    QImage image = blankFrame(width, height);
    {
      QPainter painter(&image);
      const double shift = scene.direction * scene.progress * width;
      painter.drawImage(QPointF(-shift, 0), wholeSpace(scene, *scene.from, width, height));
      painter.drawImage(QPointF(scene.direction * width - shift, 0), wholeSpace(scene, scene.to, width, height));
    }
    Backdrops backdrops;
    std::vector<Placed> overlay = place({&scene.overlay}, scene.frame, width, height);
    paintScene(image, scene, nullptr, overlay, QRegion(all), backdrops, {}, sx);  // over the two Spaces
    k.image = std::move(image);
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
  std::set<std::uint32_t> stale;
  if (whole) {
    k.image = blankFrame(width, height);
    k.backdrops.clear();
    k.history.clear();
    dirty = QRegion(all);
  } else {
    // What changed, each with how deep in the order it lies: a clear window's backdrop
    // changes only with what lies behind it. -1: anywhere.
    std::vector<std::pair<int, QRect>> changes;
    std::unordered_map<std::uint32_t, std::size_t> before;
    for (std::size_t i = 0; i < k.windows.size(); ++i) before[k.windows[i].shown.window.number] = i;
    std::vector<std::pair<std::size_t, std::size_t>> common;
    std::vector<bool> stays(k.windows.size(), false);
    for (std::size_t i = 0; i < now.size(); ++i) {
      const Placed& p = now[i];
      const int depth = static_cast<int>(i);
      auto was = before.find(p.shown.window.number);
      if (was == before.end()) {
        changes.emplace_back(depth, p.extent);
        continue;
      }
      const Placed& old = k.windows[was->second];
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
    for (std::size_t i = 0; i < k.windows.size(); ++i)
      if (!stays[i]) changes.emplace_back(-1, k.windows[i].extent);
    for (const std::size_t i : reordered(common)) {
      changes.emplace_back(-1, now[i].extent);
      changes.emplace_back(-1, k.windows[before[now[i].shown.window.number]].extent);
    }
    // Glass over something that changed is composed whole, its backdrop blurred anew; so
    // is glass whose backdrop is owed when its own content changes.
    for (std::size_t i = 0; i < now.size(); ++i) {
      const Placed& p = now[i];
      if (p.glass.isEmpty()) continue;
      const auto b = k.backdrops.find(p.shown.window.number);
      bool renew = b == k.backdrops.end() || b->second.area != p.glass;
      const int behind = static_cast<int>(i) + (!renew && b->second.soft.isNull() ? 1 : 0);
      for (std::size_t c = 0; c < changes.size() && !renew; ++c)
        renew = changes[c].first < behind && changes[c].second.intersects(p.glass);
      if (!renew) continue;
      stale.insert(p.shown.window.number);
      changes.emplace_back(static_cast<int>(i), p.glass);
    }
    for (const auto& [depth, rect] : changes) dirty += rect.intersected(all);
  }
  std::erase_if(k.backdrops, [&](const auto& b) {
    return std::none_of(now.begin(), now.end(), [&](const Placed& p) { return p.shown.window.number == b.first; });
  });
  if (!dirty.isEmpty()) {
    paintScene(k.image, scene, &scene.to, now, dirty, k.backdrops, stale, sx);
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

  FrameChange change{k.sequence, std::nullopt};
  if (since == k.sequence) {
    change.damage = QRegion();
  } else if (!whole) {
    auto from = std::find_if(k.history.begin(), k.history.end(), [&](const auto& h) { return h.first == since; });
    if (from != k.history.end()) {
      QRegion sinceThen;
      for (auto it = std::next(from); it != k.history.end(); ++it) sinceThen += it->second;
      change.damage = sinceThen;
    }
  }
  use(k.image, change);
}

}  // namespace sim
