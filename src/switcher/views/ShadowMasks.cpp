#include "switcher/views/ShadowMasks.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "platform/Keeper.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {

namespace {

// One box-blur pass over the alpha of a black picture, along rows or columns.
void boxBlur(std::vector<int>& alpha, int w, int h, int radius, bool rows) {
  if (radius <= 0) return;
  std::vector<int> out(alpha.size());
  const int lines = rows ? h : w, length = rows ? w : h;
  const auto at = [&](int line, int i) -> int& { return rows ? alpha[line * w + i] : alpha[i * w + line]; };
  const auto put = [&](int line, int i) -> int& { return rows ? out[line * w + i] : out[i * w + line]; };
  const int span = 2 * radius + 1;
  for (int line = 0; line < lines; ++line) {
    int sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += (i >= 0 && i < length) ? at(line, i) : 0;
    for (int i = 0; i < length; ++i) {
      put(line, i) = sum / span;
      const int leaving = i - radius, entering = i + radius + 1;
      if (leaving >= 0) sum -= at(line, leaving);
      if (entering < length) sum += at(line, entering);
    }
  }
  alpha.swap(out);
}

// One pass of a sampled Gaussian of `spread` pixels over the alpha, along rows or columns;
// what falls past the ends is lost, as it is in the box passes.
void gaussian(std::vector<int>& alpha, int w, int h, double spread, bool rows) {
  const int reach = static_cast<int>(std::ceil(3 * spread));
  std::vector<double> weights(static_cast<std::size_t>(2 * reach + 1));
  double total = 0;
  for (int i = -reach; i <= reach; ++i) total += weights[static_cast<std::size_t>(i + reach)] = std::exp(-i * i / (2 * spread * spread));
  std::vector<int> out(alpha.size());
  const int lines = rows ? h : w, length = rows ? w : h;
  for (int line = 0; line < lines; ++line) {
    for (int i = 0; i < length; ++i) {
      double sum = 0;
      for (int k = std::max(-reach, -i); k <= reach && i + k < length; ++k) {
        sum += weights[static_cast<std::size_t>(k + reach)] * (rows ? alpha[line * w + i + k] : alpha[(i + k) * w + line]);
      }
      (rows ? out[line * w + i] : out[i * w + line]) = static_cast<int>(std::lround(sum / total));
    }
  }
  alpha.swap(out);
}

// Black over `mask`'s pixels with their coverage blurred: by a Gaussian of `spread` pixels,
// then by three box passes of `pass` pixels each way.
QImage blurred(QImage mask, int pass, double spread) {
  const int w = mask.width(), h = mask.height();
  std::vector<int> alpha(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    for (int x = 0; x < w; ++x) alpha[static_cast<std::size_t>(y) * w + x] = qAlpha(line[x]);
  }
  if (spread > 0) {
    gaussian(alpha, w, h, spread, true);
    gaussian(alpha, w, h, spread, false);
  }
  for (int i = 0; i < 3 && pass > 0; ++i) {
    boxBlur(alpha, w, h, pass, true);
    boxBlur(alpha, w, h, pass, false);
  }
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
    for (int x = 0; x < w; ++x) line[x] = qRgba(0, 0, 0, alpha[static_cast<std::size_t>(y) * w + x]);
  }
  return mask;
}

QImage blur(const QPainterPath& shape, QSize size, int pass, double spread) {
  QImage mask(size, QImage::Format_ARGB32_Premultiplied);
  mask.fill(Qt::transparent);
  {
    QPainter m(&mask);
    m.setRenderHint(QPainter::Antialiasing);
    ScenePainter::inBands(m, QRectF(mask.rect()), [&] { m.fillPath(shape, Qt::black); });
  }
  return blurred(std::move(mask), pass, spread);
}

struct Key {
  QPainterPath shape;
  QSize size;
  int pass;
  double spread;
  friend bool operator==(const Key& a, const Key& b) {
    return a.size == b.size && a.pass == b.pass && a.spread == b.spread && a.shape == b.shape;
  }
};

struct KeyHash {
  std::size_t operator()(const Key& k) const {
    std::size_t h = 0xcbf29ce484222325ULL;
    const auto mix = [&](long long v) { h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ULL; };
    mix(k.size.width()), mix(k.size.height()), mix(k.pass), mix(std::llround(k.spread * 1024)),
        mix(k.shape.elementCount());
    // Shapes equal within QPainterPath's tolerance may hash apart: that only misses.
    for (int i = 0; i < k.shape.elementCount(); ++i) {
      const QPainterPath::Element e = k.shape.elementAt(i);
      mix(std::llround(e.x * 16)), mix(std::llround(e.y * 16));
    }
    return h;
  }
};

// Never destroyed: a window torn down while the process exits may still draw after
// static destructors have run.
platform::Keeper<Key, QImage, KeyHash>& kept() {
  static auto& kept = *new platform::Keeper<Key, QImage, KeyHash>({.bytes = 16u << 20});
  return kept;
}

const QImage& keptMask(const QPainterPath& shape, QSize size, int pass, double spread) {
  return kept().get(
      Key{shape, size, pass, spread}, [&] { return blur(shape, size, pass, spread); },
      [](const QImage& mask) { return static_cast<std::size_t>(mask.sizeInBytes()); });
}

}  // namespace

const QImage& blurredMask(const QPainterPath& shape, QSize size, int pass) { return keptMask(shape, size, pass, 0); }

QImage softened(const QImage& picture, double spread) {
  QImage shadow = blurred(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), 0, spread);
  shadow.setDevicePixelRatio(picture.devicePixelRatio());
  return shadow;
}

const QImage& softMask(const QPainterPath& shape, QSize size, double spread) {
  return keptMask(shape, size, 0, spread);
}

void paintShadow(QPainter& painter, const QPainterPath& shape, double opacity, double radius, QPointF offset) {
  opacity = std::clamp(opacity, 0.0, 1.0);
  if (opacity <= 0 || shape.isEmpty()) return;
  // Made and laid on in the device's pixels: the world's transform times the pixel ratio.
  const QTransform toPixels = painter.deviceTransform();
  const QPainterPath device = toPixels.map(shape.translated(offset));
  const double spread = std::max(0.0, radius) / 2 * std::sqrt(std::abs(toPixels.determinant()));
  const int margin = static_cast<int>(std::ceil(3 * spread)) + 1;
  const QRectF bounds = device.boundingRect();
  const QPoint origin(static_cast<int>(std::floor(bounds.left())) - margin,
                      static_cast<int>(std::floor(bounds.top())) - margin);
  const int w = static_cast<int>(std::ceil(bounds.right())) + margin - origin.x();
  const int h = static_cast<int>(std::ceil(bounds.bottom())) + margin - origin.y();
  if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > 16'000'000) return;
  const QImage& mask = softMask(device.translated(-QPointF(origin)), QSize(w, h), spread);
  painter.save();
  painter.setWorldTransform((painter.worldTransform().inverted() * toPixels).inverted());
  painter.setOpacity(painter.opacity() * opacity);
  painter.drawImage(origin, mask);
  painter.restore();
}

}  // namespace trelliq::views
