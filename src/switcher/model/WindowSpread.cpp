#include "switcher/model/WindowSpread.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <utility>
#include <vector>

namespace trelliq {

namespace {

CGRect moved(const CGRect& r, double dx, double dy) {
  return CGRect(r.minX() + dx, r.minY() + dy, r.width(), r.height());
}

// Back inside `bounds`; a rectangle larger than the bounds along an axis ends on the
// bound's left (or top) edge.
CGRect keepIn(const CGRect& r, const CGRect& bounds) {
  const double dx = std::max(bounds.minX() - r.minX(), std::min(bounds.maxX() - r.maxX(), 0.0));
  const double dy = std::max(bounds.minY() - r.minY(), std::min(bounds.maxY() - r.maxY(), 0.0));
  return moved(r, dx, dy);
}

std::map<int, CGRect> spreadNow(const std::map<int, CGRect>& frames, const CGRect& bounds);

// Spreads lately asked for: every layout of a panel asks again for each of its tiles,
// mostly for the same frames, and a spread costs passes over all pairs.
class RecentSpreads {
 public:
  std::map<int, CGRect> spread(const std::map<int, CGRect>& frames, const CGRect& bounds) {
    {
      const std::lock_guard lock(mutex_);
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->bounds == bounds && it->frames == frames) {
          entries_.splice(entries_.begin(), entries_, it);
          return entries_.front().spread;
        }
      }
    }
    std::map<int, CGRect> made = spreadNow(frames, bounds);
    const std::lock_guard lock(mutex_);
    entries_.push_front({frames, bounds, made});
    if (entries_.size() > kKept) entries_.pop_back();
    return made;
  }

 private:
  // More than the whole-Space tiles of a large desk's panels.
  static constexpr std::size_t kKept = 128;
  struct Entry {
    std::map<int, CGRect> frames;
    CGRect bounds;
    std::map<int, CGRect> spread;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;  // most recently asked for first
};

}  // namespace

CGRect roundedOutward(const CGRect& r) {
  if (r.isNull()) return r;
  constexpr double hair = 1e-9;
  const double x0 = std::floor(r.minX() + hair), y0 = std::floor(r.minY() + hair);
  return CGRect(x0, y0, std::ceil(r.maxX() - hair) - x0, std::ceil(r.maxY() - hair) - y0);
}

std::map<int, CGRect> spread(const std::map<int, CGRect>& frames, const CGRect& bounds) {
  if (frames.size() < 2) return frames;
  static RecentSpreads recent;
  return recent.spread(frames, bounds);
}

namespace {

std::map<int, CGRect> spreadNow(const std::map<int, CGRect>& frames, const CGRect& bounds) {
  // Keys ascend in the map; work on a dense array in that order.
  std::vector<int> keys;
  std::vector<CGRect> result;
  for (const auto& [key, r] : frames) {
    keys.push_back(key);
    const double ix = r.width() * (1 - spreadShrink) / 2, iy = r.height() * (1 - spreadShrink) / 2;
    result.push_back(r.insetBy(ix, iy));
  }
  const std::size_t n = result.size();
  for (int pass = 0; pass < spreadPasses; ++pass) {
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        CGRect& a = result[i];
        CGRect& b = result[j];
        const CGRect o = a.intersection(b);
        if (o.isNull() || o.width() <= 0.5 || o.height() <= 0.5) continue;
        CGRect na, nb;
        if (o.width() <= o.height()) {
          const double d = o.width() / 4;
          const double s = b.midX() < a.midX() ? 1 : -1;  // a goes right when b lies left of it
          na = moved(a, s * d, 0);
          nb = moved(b, -s * d, 0);
        } else {
          const double d = o.height() / 4;
          const double s = b.midY() < a.midY() ? 1 : -1;  // a goes down when b lies above it
          na = moved(a, 0, s * d);
          nb = moved(b, 0, -s * d);
        }
        a = keepIn(na, bounds);
        b = keepIn(nb, bounds);
        any = true;
      }
    }
    if (!any) break;
  }
  std::map<int, CGRect> out;
  for (std::size_t i = 0; i < n; ++i) out.emplace(keys[i], roundedOutward(result[i]));
  return out;
}

}  // namespace

}  // namespace trelliq
