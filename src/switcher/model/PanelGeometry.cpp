#include "switcher/model/PanelGeometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace trelliq {

void TileFrames::set(const TileID& id, const CGRect& frame) {
  if (auto it = index_.find(id); it != index_.end()) {
    entries_[it->second].second = frame;
    return;
  }
  index_.emplace(id, entries_.size());
  entries_.emplace_back(id, frame);
}

const CGRect* TileFrames::find(const TileID& id) const {
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

void TileFrames::merge(const TileFrames& next) {
  for (const Entry& e : next) set(e.first, e.second);
}

void PanelGeometry::setContent(const CGRect& rect) {
  const bool changed = !(rect == content_);
  content_ = rect;
  if (changed && onContentChange) onContentChange();
}

namespace {

std::int64_t rank(const TileID& id) {
  switch (id.kind()) {
    case TileID::Kind::resetName:
      return std::numeric_limits<std::int64_t>::max();
    case TileID::Kind::name:
      return std::numeric_limits<std::int64_t>::max() - 1;
    case TileID::Kind::window:
      return id.z();
    case TileID::Kind::cluster:
    case TileID::Kind::tray:
      return -1;
  }
  return -1;
}

}  // namespace

std::optional<TileID> PanelGeometry::hitTest(CGPoint point) const {
  const TileID* best = nullptr;
  std::int64_t bestRank = 0;
  for (const auto& [id, frame] : tiles) {
    if (!frame.contains(point)) continue;
    const std::int64_t r = rank(id);
    if (!best || r > bestRank) {
      best = &id;
      bestRank = r;
    }
  }
  return best ? std::optional(*best) : std::nullopt;
}

CGRect PanelGeometry::unite(const CGRect& a, const CGRect& b) {
  if (a.isNull()) return b;
  if (b.isNull()) return a;
  const double x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
  const double x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
  return CGRect(x0, y0, x1 - x0, y1 - y0);
}

}  // namespace trelliq
