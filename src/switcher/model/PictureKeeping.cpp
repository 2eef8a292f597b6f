#include "switcher/model/PictureKeeping.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <unordered_set>

namespace trelliq {

namespace {

std::size_t bytesOf(CGSize size) {
  return static_cast<std::size_t>(std::ceil(std::max(0.0, size.width))) *
         static_cast<std::size_t>(std::ceil(std::max(0.0, size.height))) * 4;
}

CGSize larger(CGSize a, CGSize b) { return {std::max(a.width, b.width), std::max(a.height, b.height)}; }

// A picture kept for a smaller use than the present one: noticeably smaller on either side.
bool smallerThan(CGSize kept, CGSize drawn) {
  // Without area: taken as large as pictures are taken, which nothing outgrows.
  if (kept.width <= 0 || kept.height <= 0) return false;
  return drawn.width > kept.width * 1.25 || drawn.height > kept.height * 1.25;
}

}  // namespace

std::optional<CGSize> DrawnSizes::of(std::uint32_t window) const {
  const std::lock_guard lock(mutex_);
  const auto found = sizes_.find(window);
  return found == sizes_.end() ? std::nullopt : std::optional(found->second);
}

void DrawnSizes::set(std::unordered_map<std::uint32_t, CGSize> sizes) {
  {
    const std::lock_guard lock(mutex_);
    sizes_.swap(sizes);
  }
  // The old sizes are freed here, outside the lock.
}

void DrawnSizes::update(const std::vector<std::pair<std::uint32_t, std::optional<CGSize>>>& changes) {
  const std::lock_guard lock(mutex_);
  for (const auto& [window, size] : changes) {
    if (size) {
      sizes_.insert_or_assign(window, *size);
    } else {
      sizes_.erase(window);
    }
  }
}

void PictureKeeping::setDrawn(int site, Sizes sizes) {
  const auto old = sites_.find(site);
  if (old == sites_.end() ? sizes.empty() : old->second == sizes) {
    // The same windows again: still drawn at this moment.
    ++clock_;
    for (const auto& [window, size] : sizes) seen_[window].stamp = clock_;
    return;
  }
  // Only the windows this site drew or draws can be drawn at another size now: the
  // others are published as they were.
  std::vector<std::uint32_t> touched;
  touched.reserve((old == sites_.end() ? 0 : old->second.size()) + sizes.size());
  if (old != sites_.end()) {
    for (const auto& [window, size] : old->second) touched.push_back(window);
  }
  for (const auto& [window, size] : sizes) touched.push_back(window);
  if (sizes.empty()) {
    sites_.erase(old);
  } else {
    sites_[site] = std::move(sizes);
  }
  ++clock_;
  for (const auto& [s, drawn] : sites_) {
    for (const auto& [window, size] : drawn) {
      Seen& seen = seen_[window];
      // The size of the present draws, the largest of them, replaces that of older ones.
      seen.size = seen.stamp == clock_ ? larger(seen.size, size) : size;
      seen.stamp = clock_;
    }
  }
  std::vector<std::pair<std::uint32_t, std::optional<CGSize>>> changes;
  changes.reserve(touched.size());
  for (const std::uint32_t window : touched) {
    const auto seen = seen_.find(window);
    const bool drawn = seen != seen_.end() && seen->second.stamp == clock_;
    changes.emplace_back(window, drawn ? std::optional(seen->second.size) : std::nullopt);
  }
  // At once, not at the next main-queue turn: a capture under way takes its next window
  // at this size, even while the main thread is still busy drawing what reported it.
  published_->update(changes);
  if (onDrawnChange_) onDrawnChange_();
}

bool PictureKeeping::drawnNow(std::uint32_t window) const {
  return std::any_of(sites_.begin(), sites_.end(), [&](const auto& site) { return site.second.count(window) != 0; });
}

CGSize PictureKeeping::wanted(std::uint32_t window, CGSize unseen) const {
  const auto found = seen_.find(window);
  return found == seen_.end() ? unseen : found->second.size;
}

PictureKeeping::Sizes PictureKeeping::plan(const std::vector<std::uint32_t>& worth,
                                           const std::function<CGSize(std::uint32_t)>& unseen) {
  Sizes out;
  std::size_t spent = 0;
  const auto take = [&](std::uint32_t window, CGSize size, bool always) {
    const std::size_t bytes = bytesOf(size);
    if (out.count(window) || (!always && spent + bytes > budget_)) return;
    out[window] = size;
    spent += bytes;
  };
  std::vector<std::pair<std::uint64_t, std::uint32_t>> before;
  for (const std::uint32_t window : worth) {
    if (drawnNow(window)) {
      take(window, wanted(window, unseen(window)), true);
    } else if (const auto seen = seen_.find(window); seen != seen_.end()) {
      before.emplace_back(seen->second.stamp, window);
    }
  }
  std::sort(before.begin(), before.end(), std::greater<>());
  for (const auto& [stamp, window] : before) take(window, seen_.at(window).size, false);
  std::unordered_set<std::uint32_t> ranked;
  for (std::size_t i = 0; i < worth.size(); ++i) {
    if (seen_.count(worth[i]) || !ranked.insert(worth[i]).second) continue;
    take(worth[i], unseen(worth[i]), false);
    rank_[worth[i]] = i;
  }
  for (const std::uint32_t window : worth) {
    if (const auto taken = out.find(window); taken != out.end()) {
      planned_[window] = taken->second;
      givenUp_.erase(window);
    } else {
      givenUp_.insert(window);
    }
  }
  return out;
}

std::vector<std::uint32_t> PictureKeeping::overBudget(const std::map<std::uint32_t, CGImageRef>& pictures) const {
  const auto bytes = [](const CGImageRef& picture) {
    return bytesOf({static_cast<double>(picture->width()), static_cast<double>(picture->height())});
  };
  std::size_t total = 0;
  for (const auto& [window, picture] : pictures) total += picture ? bytes(picture) : 0;
  if (total <= budget_) return {};
  // Never drawn before the drawn ones (least worth first), then the least recently drawn.
  struct Candidate {
    std::uint64_t stamp;
    std::size_t unworth;
    std::uint32_t window;
    std::size_t bytes;
  };
  std::vector<Candidate> candidates;
  for (const auto& [window, picture] : pictures) {
    if (!picture || drawnNow(window)) continue;
    const auto seen = seen_.find(window);
    const auto rank = rank_.find(window);
    const std::size_t worth = rank == rank_.end() ? 0 : rank->second;
    candidates.push_back({seen == seen_.end() ? 0 : seen->second.stamp, ~worth, window, bytes(picture)});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(a.stamp, a.unworth, a.window) < std::tie(b.stamp, b.unworth, b.window);
  });
  std::vector<std::uint32_t> out;
  for (const Candidate& c : candidates) {
    if (total <= budget_) break;
    total -= c.bytes;
    out.push_back(c.window);
  }
  return out;
}

void PictureKeeping::gaveUp(const std::vector<std::uint32_t>& windows) {
  givenUp_.insert(windows.begin(), windows.end());
}

std::vector<std::uint32_t> PictureKeeping::wantedAgain(const std::map<std::uint32_t, CGImageRef>& kept) {
  std::vector<std::uint32_t> out;
  for (const auto& [site, drawn] : sites_) {
    for (const auto& [window, size] : drawn) {
      const bool given = givenUp_.erase(window) != 0;
      const auto picture = kept.find(window);
      const auto planned = planned_.find(window);
      // Kept for a smaller use than this one: taken again at this size.
      const bool small =
          picture != kept.end() && planned != planned_.end() && smallerThan(planned->second, wanted(window, size));
      if ((given || small) && std::find(out.begin(), out.end(), window) == out.end()) out.push_back(window);
    }
  }
  return out;
}

void PictureKeeping::keepOnly(const std::vector<std::uint32_t>& present) {
  const auto missing = [&](std::uint32_t window) {
    return !std::binary_search(present.begin(), present.end(), window);
  };
  const auto gone = [&](const auto& entry) { return missing(entry.first); };
  std::erase_if(seen_, gone);
  std::erase_if(planned_, gone);
  std::erase_if(rank_, gone);
  std::erase_if(givenUp_, missing);
}

}  // namespace trelliq
