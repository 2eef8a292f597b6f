#pragma once
// The layers see-through nodes are drawn into before they are blended, and those of busy
// subtrees at full strength (a screen tile's windows), kept between paints and between
// sessions: a window tile's faded picture (its shadow, picture and border) looks the same
// from one paint to the next, and drawing each of hundreds anew was most of a panel's
// first paint. Children that draw nothing (at no opacity or scale) are left out. A layer
// is found again only for a node that draws exactly as the one it was made for (sizes,
// paints, the very same pictures) at the same scale and the same fraction of a pixel, so
// a changed picture is always drawn anew. Kept layers never keep a picture alive. Main
// thread only.

#include <QImage>
#include <QRect>
#include <QTransform>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/Keeper.h"
#include "switcher/layout/PanelScene.h"

namespace trelliq::views {

class KeptLayers {
 public:
  /// The layers the panels share.
  static KeptLayers& shared();

  /// A kept layer and the device pixel its top left lies on; for a miss, what `keep`
  /// needs and whether the same drawing moves.
  struct Found {
    const QImage* layer = nullptr;
    QPoint at;
    std::size_t hash = 0;  // what the layer is filed under
    /// Missed last time too, at another scale or fraction of a pixel: the drawing moves
    /// from one paint to the next, and a layer kept now would not be found at the next.
    bool moving = false;
  };

  /// The layer kept for `node` (its content and subtree; not its place or its own
  /// opacity) drawn through `toDevice` (the node's coordinates to device pixels: no turn
  /// or shear), or a null layer; a layer found counts as just used. A layer is found for
  /// the same drawing at the same scale and fraction of a pixel, wherever it lies, so
  /// finding one never measures the node's subtree; one kept of only part of its drawing
  /// is found only where that part holds all of the drawing `visible` (device pixels)
  /// shows. A miss is noted (see `moving`).
  Found find(const scene::Node& node, const QTransform& toDevice, const QRect& visible = kEverywhere);
  /// Keeps `layer`, whose top left lies on device pixel `at`, as `node`'s drawn through
  /// `toDevice`, which `find` has just `missed`, letting the least recently used go past
  /// the budget; answers the kept layer (valid until the next `keep`). `drawing` is where
  /// the node's whole drawing lies (device pixels) when the layer holds only part of it.
  const QImage& keep(const scene::Node& node, const QTransform& toDevice, const Found& missed, QPoint at, QImage layer,
                     const QRect& drawing = QRect());

  /// Bytes kept: the layers' pixels and the drawings they were made for; never more than
  /// `budget` after a `keep`.
  std::size_t bytes() const { return kept_.bytes(); }
  std::size_t count() const { return kept_.count(); }
  static constexpr std::size_t budget = 96u << 20;
  /// What is kept while the program waits between sessions: the most recently used
  /// layers, those the next session most likely draws first.
  static constexpr std::size_t keptBetweenSessions = 16u << 20;
  /// Lets the least recently used go down to `keptBetweenSessions`.
  void shrink();
  static constexpr QRect kEverywhere{-(1 << 29), -(1 << 29), 1 << 30, 1 << 30};

  /// What lay below a kept node when its layer was drawn: its list of children (by stamp),
  /// and how many pictures and nodes that list held at any depth (those that draw).
  struct Below {
    std::uint64_t stamp = 0;
    std::size_t pictures = 0;
    std::size_t nodes = 0;
  };

 private:
  /// A node's drawing with its pictures left out (they are held weakly beside it, in the
  /// order a walk meets them), and where its layer lies; filed under the drawing's hash.
  struct Entry {
    scene::Node drawing;
    std::vector<std::weak_ptr<const CGImage>> pictures;
    std::vector<const CGImage*> addresses;
    std::vector<Below> below;  // the drawing's nodes in walking order
    QTransform toDevice;       // the scale, and the fraction of a pixel the node's origin lies at
    QPoint offset;             // the layer's top left from the whole pixel the node's origin lies in
    QRect reach;               // where the whole drawing lies, from that pixel as well
    QImage layer;
  };
  // Weighed by the layer's pixels and what the entry holds on the heap.
  platform::Keeper<std::size_t, Entry, std::hash<std::size_t>> kept_{{.bytes = budget}};
  // Where each drawing (by its hash, without its place) was last looked for in vain: its
  // scale and fraction of a pixel. Forgotten all at once past a bound.
  std::unordered_map<std::size_t, QTransform> missedAt_;
  static constexpr std::size_t kMissesNoted = 8192;
};

}  // namespace trelliq::views
