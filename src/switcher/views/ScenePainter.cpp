#include "switcher/views/ScenePainter.h"

#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/Image.h"
#include "platform/Keeper.h"
#include "platform/MallocZone.h"
#include "switcher/views/Bands.h"
#include "switcher/views/KeptLayers.h"
#include "switcher/views/KeptPlates.h"
#include "switcher/views/ShadowMasks.h"
#include "switcher/views/SymbolGlyphs.h"
#include "switcher/views/SystemFont.h"

namespace trelliq::views {

namespace {

using scene::Node;

void fillInside(QPainter& p, const QPainterPath& path, const QColor& color) {
  if (color.alpha() == 0) return;
  ScenePainter::inBands(p, path.boundingRect(), [&] { p.fillPath(path, color); });
}

// How many layers are being drawn now, one within another (see `paintLayer`).
int gLayersDrawing = 0;
// A picture drawn now is shown alone (see `ScenePainter::paintPicture`).
bool gSampledAlone = false;

// Whether a filled shape drawn now may be laid on from a kept plate: not while a layer is
// drawn, which is itself kept (its shapes drawn again only with a new layer, each at its
// own place within a pixel, a plate for each would cost more than it saves).
bool platesHere() { return gLayersDrawing == 0; }

// A line along the inside of a shape, as `stroke` says.
void strokeInside(QPainter& p, scene::Shape::Kind kind, const QRectF& rect, double radius,
                  const scene::Stroke& stroke) {
  ScenePainter::strokeInside(p, kind, rect, radius, ScenePainter::color(stroke.paint), stroke.width);
}

void paintGlass(QPainter& p, const QRectF& r, const scene::Glass& glass) {
  if (r.width() <= 0 || r.height() <= 0) return;
  // A short plate never gets more than fully round ends.
  const double radius = std::clamp(glass.radius, 0.0, r.height() / 2);
  QColor haze = ScenePainter::hazeColor();
  haze.setAlphaF(static_cast<float>(std::clamp(glass.haze, 0.0, 1.0)));
  ScenePainter::fillShape(p, scene::Shape::Kind::roundedRectangle, r, radius, haze);
  ScenePainter::fillShape(p, scene::Shape::Kind::roundedRectangle, r, radius, ScenePainter::glassColor());
  // The rim catches the light.
  strokeInside(p, scene::Shape::Kind::roundedRectangle, r, radius, {{scene::Paint::Tone::white, 0.12}, 1});
}

void paintShape(QPainter& p, const QRectF& r, const scene::Shape& shape) {
  const QPainterPath path = ScenePainter::shapePath(shape.kind, r, shape.radius);
  if (shape.shadow) ScenePainter::paintShadow(p, path, *shape.shadow);
  if (shape.fill) ScenePainter::fillShape(p, shape.kind, r, shape.radius, ScenePainter::color(*shape.fill));
  if (shape.stroke) {
    double radius = shape.radius;
    QRectF box = r;
    if (shape.kind == scene::Shape::Kind::capsule) radius = std::min(r.width(), r.height()) / 2;
    if (shape.kind == scene::Shape::Kind::circle) {
      const double d = std::min(r.width(), r.height());
      box = QRectF(r.center().x() - d / 2, r.center().y() - d / 2, d, d);
    }
    strokeInside(p, shape.kind, box, radius, *shape.stroke);
  }
}

void paintText(QPainter& p, const QRectF& r, const scene::Text& text) {
  if (text.text.empty() || r.width() <= 0) return;
  const QFont font = systemFont(text.size, text.weight);
  const QString line = QFontMetricsF(font).elidedText(QString::fromStdString(text.text), Qt::ElideRight, r.width());
  p.setFont(font);
  p.setPen(ScenePainter::color(text.paint));
  p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, line);
}

void paintSymbol(QPainter& p, const QRectF& r, const scene::Symbol& symbol) {
  const QPainterPath glyph = symbolPath(symbol.name, r, symbol.size, symbol.weight);
  if (!glyph.isEmpty()) fillInside(p, glyph, ScenePainter::color(symbol.paint));
}

// The painter's coordinates to the pixels it paints, and its own transform beyond the
// world transform (a widget drawn into a picture of another scale has one), so that a
// picture made for those pixels can be laid on them one to one.
struct Pixels {
  QTransform toPixels;
  QTransform beyondWorld;
};

Pixels pixelsOf(const QPainter& p) {
  const QTransform toPixels = p.deviceTransform();
  return {toPixels, p.worldTransform().inverted() * toPixels};
}

// Draws `image` with its top left at pixel `at`, one image pixel to one device pixel.
void layOnPixels(QPainter& p, const Pixels& pixels, const QImage& image, QPoint at) {
  p.save();
  p.setWorldTransform(pixels.beyondWorld.inverted());
  // One to one on whole pixels smoothing changes nothing; asked for, it sends the picture
  // through the painter's slow path, and one of a hundred lines or more is split over
  // threads woken for it: most of what laying on a kept layer or a shadow cost.
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(at, image);
  p.restore();
}

// The pixels of the last picture shown alone (the preview's sample) once it is let go,
// lent to the next one: the preview samples a new picture of about the same size at every
// step, and new pixels cost a page fault each where they are first touched.
class SparePixels {
 public:
  static SparePixels& shared() {
    // Never destroyed: a window torn down while the process exits may still draw after
    // static destructors have run.
    static auto& spare = *new SparePixels;
    return spare;
  }
  /// Pixels of at least `bytes` (and not much more), or null.
  uchar* take(std::size_t bytes, std::size_t& size) {
    const std::lock_guard lock(mutex_);
    if (!bits_ || size_ < bytes || size_ > 2 * bytes) return nullptr;
    size = std::exchange(size_, 0);
    return std::exchange(bits_, nullptr);
  }
  /// Keeps `bits` for the next taker, letting go of any kept before.
  void giveBack(uchar* bits, std::size_t size) {
    uchar* old = nullptr;
    {
      const std::lock_guard lock(mutex_);
      old = std::exchange(bits_, bits);
      size_ = size;
    }
    std::free(old);
  }

 private:
  std::mutex mutex_;
  uchar* bits_ = nullptr;
  std::size_t size_ = 0;
};

// A picture painted on keeps its painter's engine, with the buffers its clips and strokes
// grew, for as long as it lives: kilobytes per picture that no budget sees, and the kept
// layers and samples are thousands of pictures. Pictures painted to be kept are painted
// on pixels lent to a passing image, then handed to one never painted on (no copy). One
// `shownAlone` lends its pixels to the next such picture once it is let go.
template <class Paint>
QImage paintedToKeep(QSize size, bool shownAlone, Paint&& paint) {
  const qsizetype line = static_cast<qsizetype>(size.width()) * 4;
  const auto bytes = static_cast<std::size_t>(line * std::max(1, size.height()));
  std::size_t held = bytes;
  uchar* bits = shownAlone ? SparePixels::shared().take(bytes, held) : nullptr;
  if (!bits) bits = static_cast<uchar*>(std::malloc(bytes));
  if (!bits) return {};
  {
    QImage canvas(bits, size.width(), size.height(), line, QImage::Format_ARGB32_Premultiplied);
    paint(canvas);
  }
  if (!shownAlone)
    return QImage(
        bits, size.width(), size.height(), line, QImage::Format_ARGB32_Premultiplied,
        [](void* data) { std::free(data); }, bits);
  struct Lent {
    uchar* bits;
    std::size_t bytes;
  };
  return QImage(
      bits, size.width(), size.height(), line, QImage::Format_ARGB32_Premultiplied,
      [](void* info) {
        const std::unique_ptr<Lent> lent(static_cast<Lent*>(info));
        SparePixels::shared().giveBack(lent->bits, lent->bytes);
      },
      new Lent{bits, held});
}

template <class Paint>
QImage paintedToKeep(QSize size, Paint&& paint) {
  return paintedToKeep(size, false, std::forward<Paint>(paint));
}

// Pictures are sampled once for the size and place they are drawn at and kept, least
// recently drawn going first past a budget: sampling a large picture (an app icon, a
// window) down again on every paint was most of a paint's cost. A sampled picture is
// tied to its source's address and found again only while the source lives.
class SampledPictures {
 public:
  struct Key {
    // A window's picture by its address, or a kept shadow mask by its cache key.
    const CGImage* image;
    qint64 mask;
    // In 64ths of a pixel: the drawn size, the fraction of a pixel it starts at, the
    // part of the source and the corner radius.
    int width, height;
    int offsetX, offsetY;
    int sourceX, sourceY, sourceW, sourceH;
    int radius;
    friend bool operator==(const Key&, const Key&) = default;
  };

  static SampledPictures& shared() {
    static SampledPictures& pictures = shrinking(*new SampledPictures, kKeptBetweenSessions);
    return pictures;
  }
  /// For a picture shown alone and large (the preview's): one kept at a time, so that a
  /// new one at every step does not fill the tiles' budget.
  static SampledPictures& alone() {
    static SampledPictures& pictures = shrinking(*new SampledPictures({.count = 1}), 0);
    return pictures;
  }
  SampledPictures() = default;
  explicit SampledPictures(platform::KeeperBudget budget) : kept_(budget) {}

  const QImage* find(const Key& key) {
    // A mask's cache key is never handed out again, so only a picture's address can lie.
    const Sample* found =
        kept_.find(key, [&](const Sample& sample) { return !key.image || sample.source.lock().get() == key.image; });
    return found ? &found->pixels : nullptr;
  }

  const QImage& keep(const Key& key, const CGImageRef& image, QImage pixels) {
    const auto bytes = static_cast<std::size_t>(pixels.sizeInBytes());
    return kept_.keep(key, Sample{image, std::move(pixels)}, bytes).pixels;
  }

 private:
  // What is kept while the program waits between sessions: the samples drawn last.
  static constexpr std::size_t kKeptBetweenSessions = 4u << 20;
  // Never destroyed (a window torn down while the process exits may still draw), and
  // shrunk to `floor` whenever the heaps' free memory goes back to the system.
  static SampledPictures& shrinking(SampledPictures& pictures, std::size_t floor) {
    platform::onPressureRelief([&pictures, floor] { pictures.kept_.trimTo(floor); });
    return pictures;
  }

 private:
  struct Hash {
    std::size_t operator()(const Key& k) const {
      std::size_t h = std::hash<const void*>()(k.image) ^ std::hash<qint64>()(k.mask);
      for (const int v :
           {k.width, k.height, k.offsetX, k.offsetY, k.sourceX, k.sourceY, k.sourceW, k.sourceH, k.radius}) {
        h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ULL;
      }
      return h;
    }
  };
  struct Sample {
    std::weak_ptr<const CGImage> source;
    QImage pixels;
  };
  // Window pictures come at about the size they are drawn, so sampling one again is cheap,
  // and a panel's surface keeps what it drew between paints: more room only grew the heap.
  platform::Keeper<Key, Sample, Hash> kept_{{.bytes = 24u << 20}};
};

int fine(double v) { return static_cast<int>(std::lround(v * 64)); }

// A premultiplied pixel at `weight` (0–255) of its strength, rounded as the painter does.
QRgb weighed(QRgb pixel, unsigned weight) {
  if (weight == 255) return pixel;
  unsigned redBlue = (pixel & 0xff00ffu) * weight;
  redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
  unsigned alphaGreen = ((pixel >> 8) & 0xff00ffu) * weight;
  alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
  return alphaGreen | redBlue;
}

// How much of each pixel of a k × k corner (0 top left, 1 top right, 2 bottom left, 3
// bottom right) of a w × h rounded rectangle of `radius` device pixels lies inside it:
// kept, as every tile of a size and corner shares them. Past a few pixels more than the
// corners, the rectangle's size no longer matters.
QImage cornerCoverage(double radius, int k, int corner, int w, int h) {
  const int boxW = std::min(w, 2 * k + 4), boxH = std::min(h, 2 * k + 4);
  struct Key {
    int radius, k, corner, w, h;
    auto operator<=>(const Key&) const = default;
  };
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static auto& kept = *new platform::SharedKeeper<Key, QImage>({.count = 257});
  return kept.get({static_cast<int>(std::lround(radius * 64)), k, corner, boxW, boxH}, [&] {
    const QPoint at[] = {{0, 0}, {boxW - k, 0}, {0, boxH - k}, {boxW - k, boxH - k}};
    QImage mask(k, k, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    QPainter m(&mask);
    m.setRenderHint(QPainter::Antialiasing);
    const QPainterPath outline = ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle,
                                                         QRectF(-at[corner].x(), -at[corner].y(), boxW, boxH), radius);
    ScenePainter::inBands(m, QRectF(mask.rect()), [&] { m.fillPath(outline, Qt::white); });
    m.end();
    return mask;
  });
}

// How much of each pixel of a picture of `size` lies inside `outline` (in its pixels), as
// a clip to it would let through: kept, as every tile of a size at one fraction of a pixel
// shares it. Clipping each picture to its outline while sampling it cost more than the
// sampling itself.
QImage outlineCoverage(const QPainterPath& outline, QSize size, const std::array<int, 5>& shape) {
  struct Key {
    int w, h;
    std::array<int, 5> shape;
    auto operator<=>(const Key&) const = default;
  };
  // Never destroyed, as the corners' coverage is not.
  static auto& kept = *new platform::SharedKeeper<Key, QImage>({.bytes = 4u << 20});
  return kept.get(
      {size.width(), size.height(), shape},
      [&] {
        QImage mask(size, QImage::Format_Alpha8);
        mask.fill(Qt::transparent);
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        ScenePainter::inBands(m, QRectF(mask.rect()), [&] { m.fillPath(outline, Qt::white); });
        m.end();
        return mask;
      },
      [](const QImage& mask) { return static_cast<std::size_t>(mask.sizeInBytes()); });
}

// Draws `source` of `image` (whole pixels) one to one with its top left at device pixel
// `at`, its corners rounded by `radius` device pixels, through blits only: the straight
// parts as they are, each corner through a small picture weighed by the corner's coverage.
// False when `source` lies outside the image or its pixels are not of a plain kind.
bool blitRounded(QPainter& p, const Pixels& pixels, const QImage& image, const QRect& source, QPoint at,
                 double radius) {
  if (!image.rect().contains(source)) return false;
  const bool opaque = image.format() == QImage::Format_RGB32;
  if (!opaque && image.format() != QImage::Format_ARGB32_Premultiplied) return false;
  const int w = source.width(), h = source.height();
  const int k = std::min({static_cast<int>(std::ceil(radius)), w / 2, h / 2});
  p.save();
  p.setWorldTransform(pixels.beyondWorld.inverted());
  // Copied one to one, a picture needs no smoothing; asked for, it sends every part of a
  // picture through the painter's slow path, spread over threads woken for each.
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const auto part = [&](int x, int y, int pw, int ph) {
    if (pw > 0 && ph > 0) p.drawImage(at + QPoint(x, y), image, QRect(source.topLeft() + QPoint(x, y), QSize(pw, ph)));
  };
  part(0, k, w, h - 2 * k);
  part(k, 0, w - 2 * k, k);
  part(k, h - k, w - 2 * k, k);
  if (k > 0) {
    const double round = std::min({radius, w / 2.0, h / 2.0});
    const QPoint corners[] = {{0, 0}, {w - k, 0}, {0, h - k}, {w - k, h - k}};
    QImage piece(k, k, QImage::Format_ARGB32_Premultiplied);
    for (int c = 0; c < 4; ++c) {
      const QImage coverage = cornerCoverage(round, k, c, w, h);
      for (int y = 0; y < k; ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(image.constScanLine(source.y() + corners[c].y() + y)) +
                           source.x() + corners[c].x();
        const auto* weight = reinterpret_cast<const QRgb*>(coverage.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(piece.scanLine(y));
        for (int x = 0; x < k; ++x) {
          const QRgb pixel = opaque ? (from[x] | 0xff000000u) : from[x];
          to[x] = weighed(pixel, qAlpha(weight[x]));
        }
      }
      p.drawImage(at + corners[c], piece);
    }
  }
  p.restore();
  return true;
}

// What a sample is made from: a window's picture (the sample lives no longer than it
// does) or a kept shadow mask (`picture` null).
struct SampleSource {
  const QImage& pixels;
  const CGImageRef* picture;
};

// Draws `source` of `from` into `r` through a sample kept for this size and place, laid
// one to one on the device's pixels: a scaled or clipped image draw is many times the
// cost of a blit. False when the painter's transform turns or shears (then nothing is
// drawn). The sample is drawn with the painter's own transform moved by whole pixels, so
// it holds the very pixels a direct drawing would give.
// Rows of a sample drawn at once (see `drawSampled`).
constexpr int kBandRows = 30;

bool drawSampled(QPainter& p, QRectF r, const SampleSource& from, const QRectF& source,
                 const QPainterPath& outline, double radius) {
  const Pixels pixels = pixelsOf(p);
  const QTransform& t = pixels.toPixels;
  if (t.type() > QTransform::TxScale || t.m11() <= 0 || t.m22() <= 0) return false;
  QRectF device = t.mapRect(r);
  if (!from.picture) {
    // A blurred mask moved by less than a pixel looks the same: set on whole pixels, every
    // place it is drawn at shares one sample.
    const QPointF shift(std::round(device.left()) - device.left(), std::round(device.top()) - device.top());
    device.translate(shift);
    r = t.inverted().mapRect(device);
  }
  // A pixel of room all round: smooth sampling bleeds into the pixels next to the frame.
  const QPoint origin(static_cast<int>(std::floor(device.left())) - 1, static_cast<int>(std::floor(device.top())) - 1);
  const int width = static_cast<int>(std::ceil(device.right())) - origin.x() + 1;
  const int height = static_cast<int>(std::ceil(device.bottom())) - origin.y() + 1;
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > 16'000'000) return false;
  const SampledPictures::Key key{from.picture ? from.picture->get() : nullptr,
                                 from.picture ? 0 : from.pixels.cacheKey(),
                                 fine(device.width()),
                                 fine(device.height()),
                                 fine(device.left() - origin.x()),
                                 fine(device.top() - origin.y()),
                                 fine(source.x()),
                                 fine(source.y()),
                                 fine(source.width()),
                                 fine(source.height()),
                                 fine(radius * t.m11())};
  // A picture already at the pixels it is drawn at, on whole pixels: laid on as it is.
  const auto whole = [](double v) { return std::abs(v - std::round(v)) < 1.0 / 64; };
  if (from.picture && whole(device.left()) && whole(device.top()) && whole(source.x()) && whole(source.y()) &&
      std::abs(device.width() - source.width()) < 1.0 / 64 && std::abs(device.height() - source.height()) < 1.0 / 64 &&
      whole(source.width()) && whole(source.height())) {
    if (blitRounded(p, pixels, from.pixels, source.toRect(), device.topLeft().toPoint(), radius * t.m11()))
      return true;
  }
  SampledPictures& kept = gSampledAlone ? SampledPictures::alone() : SampledPictures::shared();
  const QImage* sample = kept.find(key);
  if (!sample) {
    QImage made = paintedToKeep(QSize(width, height), gSampledAlone, [&](QImage& canvas) {
      canvas.fill(Qt::transparent);
      QPainter s(&canvas);
      s.setRenderHints(p.renderHints());
      if (from.picture) s.setRenderHint(QPainter::SmoothPixmapTransform);
      const QTransform toCanvas = t * QTransform::fromTranslate(-origin.x(), -origin.y());
      // In bands of a few rows, each clipped on whole pixels: the painter splits a blend of
      // a hundred spans or more (a row of a picture off whole pixels is three) over threads
      // it wakes for each, and waking them cost more than sampling a tile's picture.
      for (int y = 0; y < height; y += kBandRows) {
        s.resetTransform();
        s.setClipRect(QRect(0, y, width, std::min(kBandRows, height - y)));
        s.setWorldTransform(toCanvas);
        s.drawImage(r, from.pixels, source);
      }
      s.setClipping(false);
      if (radius <= 0) return;
      // Rounded afterwards, as a clip to the outline would have: only what lies inside it stays.
      s.resetTransform();
      s.setRenderHint(QPainter::SmoothPixmapTransform, false);
      s.setCompositionMode(QPainter::CompositionMode_DestinationIn);
      const QImage coverage = outlineCoverage(toCanvas.map(outline), canvas.size(),
                                              {key.width, key.height, key.offsetX, key.offsetY, key.radius});
      ScenePainter::inBands(
          s, QRectF(canvas.rect()), [&] { s.drawImage(0, 0, coverage); }, false);
    });
    if (made.isNull()) return false;
    sample = &kept.keep(key, from.picture ? *from.picture : CGImageRef(), std::move(made));
  }
  layOnPixels(p, pixels, *sample, origin);
  return true;
}

void paintPicture(QPainter& p, const QRectF& r, const scene::Picture& picture) {
  if (r.width() <= 0 || r.height() <= 0) return;
  const double radius = std::max(0.0, picture.cornerRadius);
  const QPainterPath outline = ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, r, radius);
  if (picture.shadow) ScenePainter::paintShadow(p, outline, *picture.shadow);
  const CGImage* image = picture.image.get();
  if (image && image->width() > 0 && image->height() > 0) {
    const QImage& pixels = image->qimage();
    QRectF source(0, 0, pixels.width(), pixels.height());
    if (picture.fit == scene::Picture::Fit::aspectFill) {
      // Crop the middle of the picture to the frame's proportions.
      const double scale = std::max(r.width() / pixels.width(), r.height() / pixels.height());
      const double w = r.width() / scale, h = r.height() / scale;
      source = QRectF((pixels.width() - w) / 2, (pixels.height() - h) / 2, w, h);
    }
    if (!drawSampled(p, r, {pixels, &picture.image}, source, outline, radius)) {
      p.save();
      if (radius > 0) p.setClipPath(outline, Qt::IntersectClip);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(r, pixels, source);
      p.restore();
    }
  } else if (picture.placeholder) {
    ScenePainter::fillShape(p, scene::Shape::Kind::roundedRectangle, r, radius,
                            ScenePainter::color(*picture.placeholder));
  }
  if (picture.border) strokeInside(p, scene::Shape::Kind::roundedRectangle, r, radius, *picture.border);
}

void paintNode(QPainter& p, const Node& node);

// The largest layer kept whenever it is drawn, in pixels: a window tile's. Larger ones,
// up to a display's content, are kept only when drawn whole.
constexpr long long kKeptLayerPixels = 512 * 512;
constexpr long long kLargestKeptLayer = 4096 * 1024;

// Where a node's children ink, in its coordinates: kept with the list, which the trees
// before and after a change mostly share.
QRectF childrenReach(const scene::NodeList& children) {
  if (children.empty()) return {};
  if (const std::optional<CGRect> kept = children.memo()) {
    return QRectF(kept->origin.x, kept->origin.y, kept->size.width, kept->size.height);
  }
  QRectF r;
  for (const Node& child : children) r |= ScenePainter::extent(child);
  children.setMemo(CGRect(r.x(), r.y(), r.width(), r.height()));
  return r;
}

// How far a node's drawing may reach outside its frame: its shadows and its children,
// in its own coordinates.
QRectF reach(const Node& node) {
  // A node without content of its own inks only through its children.
  QRectF r;
  if (!std::holds_alternative<std::monostate>(node.content))
    r = QRectF(0, 0, node.frame.size.width, node.frame.size.height);
  const auto grow = [&](const std::optional<scene::Shadow>& shadow) {
    if (!shadow) return;
    const double m = 3 * std::max(1.0, std::round(shadow->radius / 2)) + 2;
    r |= r.translated(shadow->offset.width, shadow->offset.height).adjusted(-m, -m, m, m);
  };
  if (const auto* shape = std::get_if<scene::Shape>(&node.content)) grow(shape->shadow);
  if (const auto* picture = std::get_if<scene::Picture>(&node.content)) grow(picture->shadow);
  return r | childrenReach(node.children);
}

void paintContent(QPainter& p, const Node& node) {
  const QRectF bounds(0, 0, node.frame.size.width, node.frame.size.height);
  std::visit(
      [&](const auto& content) {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, scene::Glass>) paintGlass(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Shape>) paintShape(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Text>) paintText(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Symbol>) paintSymbol(p, bounds, content);
        if constexpr (std::is_same_v<T, scene::Picture>) paintPicture(p, bounds, content);
      },
      node.content);
  for (const Node& child : node.children) paintNode(p, child);
}

// The layer of `node` drawn at `toLayer` on `layer`, made transparent first.
void paintLayer(QImage& layer, const QPainter& p, const Node& node, const QTransform& toLayer) {
  layer.fill(Qt::transparent);
  QPainter l(&layer);
  l.setRenderHints(p.renderHints());
  l.setClipRect(layer.rect());  // lets the pieces outside it be passed over
  l.setWorldTransform(toLayer);
  ++gLayersDrawing;
  paintContent(l, node);
  --gLayersDrawing;
}

// The layer of `node` drawn at `toLayer` on a transparent picture of `size`, to be kept.
QImage drawnLayer(const QPainter& p, const Node& node, const QTransform& toLayer, QSize size) {
  return paintedToKeep(size, [&](QImage& layer) { paintLayer(layer, p, node, toLayer); });
}

// Pixels for a layer laid on once and not kept (part of a large see-through node drawn
// again under a change), `size` at most `kKeptLayerPixels`: one set per depth of layers
// within layers, kept from one layer to the next. New pixels cost a page fault each when
// first touched, and such a layer was made anew at every frame.
QImage passingLayer(QSize size) {
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static auto& pixels = *new std::vector<std::unique_ptr<uchar[]>>;
  const auto depth = static_cast<std::size_t>(gLayersDrawing);
  if (pixels.size() <= depth) pixels.resize(depth + 1);
  // Made for the largest at once: growing it step by step would touch new pages at each
  // step, and a page is touched only where a layer is drawn.
  if (!pixels[depth])
    pixels[depth] = std::make_unique_for_overwrite<uchar[]>(static_cast<std::size_t>(kKeptLayerPixels) * 4);
  return QImage(pixels[depth].get(), size.width(), size.height(), static_cast<qsizetype>(size.width()) * 4,
                QImage::Format_ARGB32_Premultiplied);
}

// How a node goes through a layer: a see-through group must (its pieces cover each other
// as at full strength, then blend), a busy subtree at full strength may (its layer kept).
enum class LayerUse { group, cache };

// Draws `node` through a layer laid on at `opacity`. Its layer is kept (see KeptLayers)
// when it is small (a window tile's) or drawn whole anyway (a dimmed display's content,
// shown again as it was); else a group's is drawn only where it shows. A cached subtree
// goes through a layer only when one is kept or it is drawn whole and small enough to
// keep. False when nothing was drawn.
bool paintThroughLayer(QPainter& p, const Node& node, double opacity, LayerUse use) {
  QPaintDevice* device = p.device();
  if (!device) return false;
  const Pixels pixels = pixelsOf(p);
  const QTransform& toDevice = pixels.toPixels;
  const bool keeps = toDevice.type() <= QTransform::TxScale;
  const QRectF frame = toDevice.mapRect(QRectF(0, 0, node.frame.size.width, node.frame.size.height));
  // A subtree too large to keep is not looked for: its frame settles it without measuring it.
  if (use == LayerUse::cache && frame.width() * frame.height() > kKeptLayerPixels) return false;
  KeptLayers& kept = KeptLayers::shared();
  const auto layOn = [&](const QImage& layer, QPoint at) {
    p.save();
    p.setOpacity(opacity);
    layOnPixels(p, pixels, layer, at);
    p.restore();
    return true;
  };
  const QRect visible = pixels.beyondWorld.mapRect(QRectF(0, 0, device->width(), device->height())).toAlignedRect();
  KeptLayers::Found found;
  if (keeps) {
    found = kept.find(node, toDevice, visible);
    if (found.layer) return layOn(*found.layer, found.at);
  }
  // A busy subtree moving by a fraction of a pixel or a scale at every paint would be
  // kept anew at each: drawn directly, it is blended once and pushes no other layer out.
  if (use == LayerUse::cache && found.moving) return false;
  const QRect whole = toDevice.mapRect(reach(node)).toAlignedRect();
  QRect area = whole & visible;
  const QRect shown = area;
  if (p.hasClipping()) area &= toDevice.mapRect(p.clipBoundingRect()).toAlignedRect();
  if (area.isEmpty()) return true;
  const long long size = static_cast<long long>(whole.width()) * whole.height();
  const bool keepable = size <= kKeptLayerPixels ? use == LayerUse::group || area == shown
                                                 : use == LayerUse::group && area == shown && size <= kLargestKeptLayer;
  if (keeps && keepable) {
    // A large layer is kept of the part that shows: a dimmed display's strip of tiles
    // reaches far past its panel, and drawing it whole made and filled pixels several
    // times those seen.
    const QRect part = size <= kKeptLayerPixels ? whole : shown;
    const QTransform toLayer = toDevice * QTransform::fromTranslate(-part.left(), -part.top());
    return layOn(kept.keep(node, toDevice, found, part.topLeft(), drawnLayer(p, node, toLayer, part.size()), whole),
                 part.topLeft());
  }
  if (use == LayerUse::cache) return false;
  const QTransform toArea = toDevice * QTransform::fromTranslate(-area.left(), -area.top());
  if (static_cast<long long>(area.width()) * area.height() <= kKeptLayerPixels) {
    QImage layer = passingLayer(area.size());
    paintLayer(layer, p, node, toArea);
    return layOn(layer, area.topLeft());
  }
  return layOn(drawnLayer(p, node, toArea, area.size()), area.topLeft());
}

// Whether `node`'s subtree holds more than `limit` nodes.
bool holdsMoreThan(const Node& node, int& limit) {
  for (const Node& child : node.children) {
    if (--limit < 0 || holdsMoreThan(child, limit)) return true;
  }
  return false;
}

// A subtree of this many nodes at full strength is laid on from a kept layer: a screen
// tile's windows with their pictures and badges look the same from one paint to the
// next, and finding and blending each again was most of a panel's paint.
constexpr int kBusySubtree = 48;

bool busy(const Node& node) {
  int limit = kBusySubtree;
  return holdsMoreThan(node, limit);
}

void paintNode(QPainter& p, const Node& node) {
  if (!ScenePainter::draws(node)) return;
  // Drawing only part of the panel again: what lies wholly outside it is passed over. A
  // node's own frame meeting that part settles it without going through its subtree.
  if (p.hasClipping()) {
    const QRectF clip = p.clipBoundingRect();
    QRectF own(node.frame.origin.x, node.frame.origin.y, node.frame.size.width, node.frame.size.height);
    if (node.scale != 1) {
      const QPointF anchor(own.x() + node.anchor.x * own.width(), own.y() + node.anchor.y * own.height());
      own = QRectF(anchor + (own.topLeft() - anchor) * node.scale, own.size() * node.scale);
    }
    if (!own.intersects(clip) && !ScenePainter::extent(node).adjusted(-2, -2, 2, 2).intersects(clip)) return;
  }
  p.save();
  p.translate(node.frame.origin.x, node.frame.origin.y);
  const QRectF bounds(0, 0, node.frame.size.width, node.frame.size.height);
  if (node.scale != 1) {
    const QPointF anchor(node.anchor.x * bounds.width(), node.anchor.y * bounds.height());
    p.translate(anchor);
    p.scale(node.scale, node.scale);
    p.translate(-anchor);
  }
  const double opacity = p.opacity() * std::min(1.0, node.opacity);
  const bool overlapping = node.opacity < 1 && !node.children.empty();
  // Only at full strength is a busy subtree's layer the same as its pieces drawn one by one.
  const bool cached = !overlapping && opacity >= 1 && busy(node);
  const bool layered = (overlapping && paintThroughLayer(p, node, opacity, LayerUse::group)) ||
                       (cached && paintThroughLayer(p, node, opacity, LayerUse::cache));
  if (!layered) {
    p.setOpacity(opacity);
    paintContent(p, node);
  }
  p.restore();
}

}  // namespace

QRectF ScenePainter::extent(const scene::Node& node) {
  if (!draws(node)) return {};
  QRectF r = reach(node);
  if (r.isNull()) return r;
  if (node.scale != 1) {
    const QPointF anchor(node.anchor.x * node.frame.size.width, node.anchor.y * node.frame.size.height);
    r = QRectF(anchor + (r.topLeft() - anchor) * node.scale, r.size() * node.scale);
  }
  return r.translated(node.frame.origin.x, node.frame.origin.y);
}

namespace {

// Whether the nodes themselves, apart from their children, draw alike.
bool ownDrawsAlike(const Node& a, const Node& b) {
  return a.frame == b.frame && a.opacity == b.opacity && a.scale == b.scale && a.anchor == b.anchor &&
         a.content == b.content;
}

// The children of two lists that draw, taken pair by pair in drawing order: one that
// draws nothing (a picture about to fade in) changes nothing drawn.
struct DrawingPairs {
  const Node *a, *aEnd, *b, *bEnd;
  DrawingPairs(const scene::NodeList& x, const scene::NodeList& y)
      : a(x.begin()), aEnd(x.end()), b(y.begin()), bEnd(y.end()) {
    skip();
  }
  bool done() const { return a == aEnd || b == bEnd; }
  // Both lists ran out together.
  bool bothDone() const { return a == aEnd && b == bEnd; }
  void next() {
    ++a, ++b;
    skip();
  }
  void skip() {
    while (a != aEnd && !ScenePainter::draws(*a)) ++a;
    while (b != bEnd && !ScenePainter::draws(*b)) ++b;
  }
};

// Whether the nodes draw alike but for what their children draw: their drawing children
// pair up by key.
bool drawsAlike(const Node& a, const Node& b) {
  if (!ownDrawsAlike(a, b)) return false;
  DrawingPairs pairs(a.children, b.children);
  for (; !pairs.done(); pairs.next()) {
    if (pairs.a->key != pairs.b->key) return false;
  }
  return pairs.bothDone();
}

// `damage` with each area mapped by `toRoot` (from the nodes' parent's coordinates).
void damageIn(const Node* before, const Node* after, const QTransform& toRoot, std::vector<QRectF>& areas) {
  // Trees share what neither changed: the same list of children draws the same.
  if (before && after && before->children.sharedWith(after->children) && ownDrawsAlike(*before, *after)) return;
  if (!before || !after || !drawsAlike(*before, *after)) {
    for (const Node* n : {before, after}) {
      if (!n) continue;
      const QRectF r = ScenePainter::extent(*n);
      if (!r.isNull()) areas.push_back(toRoot.mapRect(r));
    }
    return;
  }
  if (!ScenePainter::draws(*before)) return;
  QTransform t;
  t.translate(before->frame.origin.x, before->frame.origin.y);
  if (before->scale != 1) {
    const double ax = before->anchor.x * before->frame.size.width, ay = before->anchor.y * before->frame.size.height;
    t.translate(ax, ay);
    t.scale(before->scale, before->scale);
    t.translate(-ax, -ay);
  }
  t *= toRoot;
  for (DrawingPairs pairs(before->children, after->children); !pairs.done(); pairs.next()) {
    damageIn(pairs.a, pairs.b, t, areas);
  }
}

}  // namespace

void ScenePainter::damage(const scene::Node* before, const scene::Node* after, std::vector<QRectF>& areas) {
  damageIn(before, after, QTransform(), areas);
}

void ScenePainter::paint(QPainter& painter, const scene::Node& root) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  paintNode(painter, root);
  painter.restore();
}

QImage ScenePainter::render(const scene::Node& root, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  paint(painter, root);
  return image;
}

QColor ScenePainter::color(const scene::Paint& paint) {
  double opacity = std::clamp(paint.opacity, 0.0, 1.0);
  QColor c = Qt::white;
  switch (paint.tone) {
    case scene::Paint::Tone::primary:
    case scene::Paint::Tone::white:
      break;
    case scene::Paint::Tone::secondary:
      opacity *= 0.55;
      break;
    case scene::Paint::Tone::black:
      c = Qt::black;
      break;
  }
  c.setAlphaF(static_cast<float>(opacity));
  return c;
}

void ScenePainter::fillShape(QPainter& p, scene::Shape::Kind kind, const QRectF& rect, double radius,
                             const QColor& color) {
  if (color.alpha() == 0 || (platesHere() && drawKeptPlate(p, kind, rect, radius, color, 0))) return;
  const QPainterPath path = shapePath(kind, rect, radius);
  inBands(p, path.boundingRect(), [&] { p.fillPath(path, color); });
}

void ScenePainter::strokeInside(QPainter& p, scene::Shape::Kind kind, const QRectF& rect, double radius,
                                const QColor& color, double width) {
  const double w = width;
  if (w <= 0 || rect.width() < w || rect.height() < w) return;
  const QRectF inner = rect.adjusted(w / 2, w / 2, -w / 2, -w / 2);
  // Outlines go through kept plates even inside a layer: a tile's ring or border is a
  // hundred spans and more, each row's two ends, and a layer made again under a step would
  // wake the engine's threads for every one.
  if (drawKeptPlate(p, kind, inner, std::max(0.0, radius - w / 2), color, w)) return;
  QPen pen(color, w);
  pen.setJoinStyle(Qt::MiterJoin);
  const QPainterPath path = shapePath(kind, inner, std::max(0.0, radius - w / 2));
  inBands(p, rect, [&] { p.strokePath(path, pen); });
}

void ScenePainter::inBands(QPainter& painter, const QRectF& area, const std::function<void()>& draw, bool outline) {
  // A few spans a row: a smoothed outline's edges and what lies between them.
  constexpr int kRows = 12;
  // Past this many rows an outline traced again for every band costs more than the threads.
  constexpr int kMostOutlineRows = 640;
  views::inBands(painter, area, kRows, draw, outline ? kMostOutlineRows : std::numeric_limits<int>::max());
}

void ScenePainter::paintPicture(QPainter& painter, const QRectF& rect, const scene::Picture& picture) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  gSampledAlone = true;
  views::paintPicture(painter, rect, picture);
  gSampledAlone = false;
  painter.restore();
}

QColor ScenePainter::glassColor() { return QColor(38, 38, 42, 150); }

QColor ScenePainter::hazeColor() { return QColor(18, 18, 20); }

QPainterPath ScenePainter::shapePath(scene::Shape::Kind kind, const QRectF& rect, double radius) {
  QPainterPath path;
  if (rect.width() <= 0 || rect.height() <= 0) return path;
  const double half = std::min(rect.width(), rect.height()) / 2;
  switch (kind) {
    case scene::Shape::Kind::rectangle:
      path.addRect(rect);
      break;
    case scene::Shape::Kind::roundedRectangle: {
      const double r = std::clamp(radius, 0.0, half);
      if (r > 0) {
        path.addRoundedRect(rect, r, r);
      } else {
        path.addRect(rect);
      }
      break;
    }
    case scene::Shape::Kind::capsule:
      path.addRoundedRect(rect, half, half);
      break;
    case scene::Shape::Kind::circle:
      path.addEllipse(rect.center(), half, half);
      break;
  }
  return path;
}

void ScenePainter::paintShadow(QPainter& painter, const QPainterPath& path, const scene::Shadow& shadow) {
  const double opacity = std::clamp(shadow.opacity, 0.0, 1.0);
  if (opacity <= 0 || path.isEmpty()) return;
  const QPointF offset(shadow.offset.width, shadow.offset.height);
  if (shadow.radius < 0.5) {
    QColor black = Qt::black;
    black.setAlphaF(static_cast<float>(opacity));
    const QPainterPath moved = path.translated(offset);
    inBands(painter, moved.boundingRect(), [&] { painter.fillPath(moved, black); });
    return;
  }
  // Three box blurs of about half the radius come close to a Gaussian of that spread.
  const int pass = std::max(1, static_cast<int>(std::lround(shadow.radius / 2)));
  const int margin = 3 * pass + 1;
  const QRectF box = path.boundingRect().adjusted(-margin, -margin, margin, margin);
  const int w = static_cast<int>(std::ceil(box.width())), h = static_cast<int>(std::ceil(box.height()));
  if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > 16'000'000) return;
  const QImage& mask = blurredMask(path.translated(-box.topLeft()), QSize(w, h), pass);
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  // Tiles draw the same shadow at many places: each is laid on from a sample at its
  // pixels rather than scaled there again.
  const QRectF at(box.topLeft() + offset, QSizeF(mask.size()));
  if (!drawSampled(painter, at, {mask, nullptr}, QRectF(mask.rect()), QPainterPath(), 0))
    painter.drawImage(at.topLeft(), mask);
  painter.restore();
}

}  // namespace trelliq::views
