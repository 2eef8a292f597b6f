#pragma once
// Which window pictures are worth keeping, and how large. The panels and the preview
// report where they draw each window's picture and at how many pixels; a picture is worth
// keeping at the largest size it was last drawn at, and the pictures kept stay within a
// budget, those drawn least recently going first. A picture drawn now is never given up,
// and one given up is wanted again as soon as something draws it. Plain values; main
// thread only, except what is drawn now as published for the capture's threads
// (`DrawnSizes`).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"

namespace trelliq {

/// The size each window's picture is drawn at now, as picture keeping last published it,
/// for the threads that take pictures. Any thread.
class DrawnSizes {
 public:
  /// The largest size the window is drawn at, if something draws it.
  std::optional<CGSize> of(std::uint32_t window) const;
  /// Replaces every size.
  void set(std::unordered_map<std::uint32_t, CGSize> sizes);
  /// Sets the size of each window given one, and forgets each given none.
  void update(const std::vector<std::pair<std::uint32_t, std::optional<CGSize>>>& changes);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::uint32_t, CGSize> sizes_;
};

class PictureKeeping {
 public:
  /// Window number → size in pixels.
  using Sizes = std::map<std::uint32_t, CGSize>;

  /// Bytes of kept window pictures (four per pixel) beyond which the least recently drawn
  /// go; 48 MB unless set.
  void setBudget(std::size_t bytes) { budget_ = bytes; }
  /// `call` runs after a site's report changed what is drawn: a picture may now be over
  /// the budget, or one given up may be drawn again. Null calls nothing.
  void setOnDrawnChange(std::function<void()> call) { onDrawnChange_ = std::move(call); }

  /// What `site` (a display's panel, the preview, ...) draws now, replacing what it drew
  /// before; every window in it counts as drawn at this moment. A change is published for
  /// the capture's threads (`drawnSizes`) before this returns.
  void setDrawn(int site, Sizes sizes);
  /// Whether some site draws the window now.
  bool drawnNow(std::uint32_t window) const;
  /// The largest size the window is drawn at now, else the one it was last drawn at, else
  /// `unseen`.
  CGSize wanted(std::uint32_t window, CGSize unseen) const;

  /// Which windows of `worth` (in order of worth) are worth taking pictures of, and at
  /// what size: every window drawn now, then those drawn before (latest first), then the
  /// rest in the given order at their `unseen` size, until their sizes spend the budget.
  /// Remembers the sizes; the windows left out count as given up.
  Sizes plan(const std::vector<std::uint32_t>& worth, const std::function<CGSize(std::uint32_t)>& unseen);
  /// The windows of `pictures` to give up, so that the rest fit the budget: never one
  /// drawn now; never drawn before the drawn ones, then the least recently drawn.
  std::vector<std::uint32_t> overBudget(const std::map<std::uint32_t, CGImageRef>& pictures) const;
  /// Remembers that the window's picture now kept was taken to cover `size` (one without
  /// area: as large as pictures are taken), so that it is wanted again when something draws
  /// it noticeably larger.
  void keptAt(std::uint32_t window, CGSize size) { planned_[window] = size; }
  /// What is drawn now, for a capture to read as it takes each window: brought up to date
  /// by each report that changes it (`setDrawn`). Main thread; the answer is read on any
  /// thread.
  std::shared_ptr<const DrawnSizes> drawnSizes() const { return published_; }
  /// Remembers pictures given up, to want them again when they are drawn.
  void gaveUp(const std::vector<std::uint32_t>& windows);
  /// The windows given up (or kept smaller than they are drawn now, by `kept`) that some
  /// site draws now; they are no longer marked as given up.
  std::vector<std::uint32_t> wantedAgain(const std::map<std::uint32_t, CGImageRef>& kept);
  /// Forgets everything about windows not in `present` (they are gone), a sorted list.
  void keepOnly(const std::vector<std::uint32_t>& present);

 private:
  std::size_t budget_ = 48u << 20;
  std::function<void()> onDrawnChange_;
  struct Seen {
    std::uint64_t stamp = 0;  // when it was last drawn
    CGSize size;              // the largest size it was drawn at then
  };
  std::map<int, Sizes> sites_;
  std::unordered_map<std::uint32_t, Seen> seen_;
  std::set<std::uint32_t> givenUp_;
  std::unordered_map<std::uint32_t, CGSize> planned_;    // the size last planned for
  std::unordered_map<std::uint32_t, std::size_t> rank_;  // place in the last plan's worth
  std::uint64_t clock_ = 0;
  std::shared_ptr<DrawnSizes> published_ = std::make_shared<DrawnSizes>();
};

}  // namespace trelliq
