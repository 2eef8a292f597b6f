#include "switcher/views/ShadowMasks.h"

#include <QPainter>
#include <cmath>
#include <cstddef>
#include <list>
#include <unordered_map>
#include <vector>

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

QImage blur(const QPainterPath& shape, QSize size, int pass) {
  const int w = size.width(), h = size.height();
  QImage mask(size, QImage::Format_ARGB32_Premultiplied);
  mask.fill(Qt::transparent);
  {
    QPainter m(&mask);
    m.setRenderHint(QPainter::Antialiasing);
    m.fillPath(shape, Qt::black);
  }
  std::vector<int> alpha(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    for (int x = 0; x < w; ++x) alpha[static_cast<std::size_t>(y) * w + x] = qAlpha(line[x]);
  }
  for (int i = 0; i < 3; ++i) {
    boxBlur(alpha, w, h, pass, true);
    boxBlur(alpha, w, h, pass, false);
  }
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
    for (int x = 0; x < w; ++x) line[x] = qRgba(0, 0, 0, alpha[static_cast<std::size_t>(y) * w + x]);
  }
  return mask;
}

struct Key {
  QPainterPath shape;
  QSize size;
  int pass;
  friend bool operator==(const Key& a, const Key& b) {
    return a.size == b.size && a.pass == b.pass && a.shape == b.shape;
  }
};

struct KeyHash {
  std::size_t operator()(const Key& k) const {
    std::size_t h = 0xcbf29ce484222325ULL;
    const auto mix = [&](long long v) { h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ULL; };
    mix(k.size.width()), mix(k.size.height()), mix(k.pass), mix(k.shape.elementCount());
    // Shapes equal within QPainterPath's tolerance may hash apart: that only misses.
    for (int i = 0; i < k.shape.elementCount(); ++i) {
      const QPainterPath::Element e = k.shape.elementAt(i);
      mix(std::llround(e.x * 16)), mix(std::llround(e.y * 16));
    }
    return h;
  }
};

class Kept {
 public:
  const QImage& mask(const QPainterPath& shape, QSize size, int pass) {
    Key key{shape, size, pass};
    if (const auto found = entries_.find(key); found != entries_.end()) {
      uses_.splice(uses_.begin(), uses_, found->second.use);
      return found->second.mask;
    }
    QImage made = blur(shape, size, pass);
    const std::size_t bytes = static_cast<std::size_t>(made.sizeInBytes());
    while (!uses_.empty() && bytes_ + bytes > kBudget) {
      const auto oldest = entries_.find(uses_.back());
      bytes_ -= static_cast<std::size_t>(oldest->second.mask.sizeInBytes());
      entries_.erase(oldest);
      uses_.pop_back();
    }
    uses_.push_front(key);
    bytes_ += bytes;
    Entry& entry = entries_[std::move(key)];
    entry = Entry{std::move(made), uses_.begin()};
    return entry.mask;
  }

 private:
  static constexpr std::size_t kBudget = 16u << 20;
  struct Entry {
    QImage mask;
    std::list<Key>::iterator use;
  };
  std::unordered_map<Key, Entry, KeyHash> entries_;
  std::list<Key> uses_;  // most recently used first
  std::size_t bytes_ = 0;
};

}  // namespace

const QImage& blurredMask(const QPainterPath& shape, QSize size, int pass) {
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static Kept& kept = *new Kept;
  return kept.mask(shape, size, pass);
}

}  // namespace trelliq::views
