#pragma once
// Where each panel's tiles, window pictures, name labels and content lie, in the panel's
// own space (origin top left, y downwards). The panel view writes it after layout; the
// controller reads it to hit-test the pointer and to place the preview. Nothing observes
// it but `onContentChange`. Main thread only.

#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Geometry.h"
#include "switcher/model/TileID.h"

namespace trelliq {

/// Reported frames by identity, kept in the order they were first reported so that
/// walking them (and breaking ties between them) is deterministic.
class TileFrames {
 public:
  using Entry = std::pair<TileID, CGRect>;

  /// Stores a frame; a later report of the same identity replaces the frame in place.
  void set(const TileID& id, const CGRect& frame);
  /// The frame reported for `id`; null when none was.
  const CGRect* find(const TileID& id) const;
  /// Takes every frame of `next`, later reports winning (how the views' reports combine).
  void merge(const TileFrames& next);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  friend bool operator==(const TileFrames& a, const TileFrames& b) { return a.entries_ == b.entries_; }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<TileID, std::size_t> index_;
};

class PanelGeometry {
 public:
  PanelGeometry() = default;
  PanelGeometry(const PanelGeometry&) = delete;
  PanelGeometry& operator=(const PanelGeometry&) = delete;

  /// The last reported frames; the panel view replaces them as a whole.
  TileFrames tiles;
  /// Called after `content` changed to a different rectangle.
  std::function<void()> onContentChange;

  /// The last reported frame of the panel's whole content; null until the first report.
  const CGRect& content() const { return content_; }
  /// Stores the rectangle and, when it differs from the previous one, calls `onContentChange`.
  void setContent(const CGRect& rect);
  /// Edits the content rectangle in place, with the same notification as `setContent`.
  template <class F>
  void modifyContent(F&& edit) {
    CGRect rect = content_;
    std::forward<F>(edit)(rect);
    setContent(rect);
  }

  /// What the point (in the panel's space) hits: a reset button before a name label,
  /// before the front-most window picture (largest z), before a tile or tray tile. A
  /// frame holds its minimum edges, not its maximum ones. Among equal ranks the frame
  /// reported first wins. None when no frame holds the point.
  std::optional<TileID> hitTest(CGPoint point) const;

  /// How content reports combine: the union of the rectangles, a null one adding nothing.
  static CGRect unite(const CGRect& a, const CGRect& b);

 private:
  CGRect content_ = CGRect::null();
};

}  // namespace trelliq
