#pragma once
// Keeps the tree a panel shows and animates from one tree to the next. Nodes are matched
// by their key path from the root (the trees are walked side by side; running motions are
// kept by a hash of the keys along the path): a matched node whose frame, opacity or scale changed
// moves there from what it shows now, over its own transition or else the change's
// animation; without either it jumps. Nodes marked `fades` fade in when they appear and
// out when they go (with the change's animation; a leaving node keeps its place among
// its old siblings while it fades). A flipped `settle` plays the settle on the node's
// scale. Time is the platform clock; while anything moves, a timer on the main queue
// calls its frame callback about sixty times a second, and once more when all has come to rest.
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Clock.h"
#include "switcher/layout/PanelScene.h"
#include "switcher/model/ModelChange.h"

namespace trelliq::views {

class SceneAnimator {
 public:
  SceneAnimator() = default;
  ~SceneAnimator();
  SceneAnimator(const SceneAnimator&) = delete;
  SceneAnimator& operator=(const SceneAnimator&) = delete;

  /// Has `redraw` asked to redraw: on every frame while something animates, and after the last.
  void setOnFrame(std::function<void()> redraw) { onFrame_ = std::move(redraw); }

  /// Takes `next` as the tree to show, animating its differences from what shows now.
  /// The first tree ever shown appears at once.
  void show(scene::Node next, const std::optional<Animation>& change);
  /// Takes `next` as the tree to show when it differs from the last one only in what its
  /// nodes draw, never in keys, frames, opacities or scales: what moves goes on as it did,
  /// and nothing is matched again.
  void replace(scene::Node next);
  /// The last tree given to `show` (the end state of every animation).
  const scene::Node& target() const { return *target_; }
  /// The same tree, shared: it is never changed, only replaced by the next.
  std::shared_ptr<const scene::Node> sharedTarget() const { return target_; }
  /// What shows now: the target with every running animation applied and the leaving
  /// nodes still fading out.
  scene::Node displayed() const;
  /// Whether some animation is still running now. When none is, what shows is the target.
  bool isAnimating() const;

  /// Seconds between two frames while animating.
  static constexpr double kFrameInterval = 1.0 / 60;

 private:
  std::function<void()> onFrame_;
  template <class T>
  struct Track {
    T from;
    T to;
    double start = 0;
    Animation animation;
    T at(double now) const;
    // Clock readings are whole nanoseconds: allow for the rounding of their sum.
    bool done(double now) const { return now >= start + animation.duration - 1e-9; }
  };
  struct Motion {
    std::optional<Track<CGRect>> frame;
    std::optional<Track<double>> opacity;
    std::optional<Track<double>> scale;
    std::optional<double> settleStart;
    bool empty() const { return !frame && !opacity && !scale && !settleStart; }
  };
  /// A key path from the root, hashed; 0 stands for none (the root's parent).
  using Path = std::uint64_t;
  struct Leaving {
    Path parent = 0;  // the parent it is drawn in
    std::size_t index = 0;
    Path path = 0;
    scene::Node node;  // as it showed when it left
    Track<double> fade;
  };

  static double time();
  scene::Node present(const scene::Node& node, Path path, double now, bool withLeaving) const;
  /// Motions of `next` against its counterpart `was` in the tree shown so far (null: none);
  /// adds to `moving` the paths of the nodes with a motion or a leaving child in their
  /// subtree (it comes holding the leaving nodes' parents), answering whether `next`'s is one.
  bool match(const scene::Node& next, Path path, const scene::Node* was, const std::optional<Animation>& change,
             double now, std::unordered_map<Path, Motion>& motions, std::unordered_set<Path>& moving) const;
  /// Leaving nodes of `old` against its counterpart `now_` in the next tree (null: none).
  void gatherLeaving(const scene::Node& old, Path path, Path parent, std::size_t index, const scene::Node* now_,
                     const std::optional<Animation>& change, double now, std::vector<Leaving>& leaving) const;
  void prune(double now);
  void tick();
  void keepTicking();

  std::shared_ptr<const scene::Node> target_ = std::make_shared<const scene::Node>();
  bool hasTarget_ = false;
  std::unordered_map<Path, Motion> motions_;
  std::vector<Leaving> leaving_;
  /// The paths of the nodes under which something moves or leaves; what `present` copies.
  std::unordered_set<Path> moving_;
  platform::Timer ticker_;
};

}  // namespace trelliq::views
