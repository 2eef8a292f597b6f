#include "switcher/views/SceneAnimator.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "switcher/views/AnimationCurves.h"

namespace trelliq::views {

namespace {

using scene::Node;

using Path = std::uint64_t;

// FNV-1a over the parent's hash and the key: a path is a chain of keys, so equal chains
// give equal numbers without building the strings.
Path childPath(Path parent, const std::string& key) {
  Path h = (parent ^ 0xcbf29ce484222325ULL) * 0x100000001b3ULL;
  for (const unsigned char c : key) h = (h ^ c) * 0x100000001b3ULL;
  h = (h ^ 0x1f) * 0x100000001b3ULL;
  return h == 0 ? 1 : h;
}

Path rootPath(const Node& root) { return childPath(0, root.key); }

double lerp(double a, double b, double p) { return p >= 1 ? b : a + (b - a) * p; }

double progress(const Animation& animation, double start, double now) {
  if (animation.duration <= 0 || now >= start + animation.duration - 1e-9) return 1;
  return ease(animation.curve, (now - start) / animation.duration);
}

bool animates(const std::optional<Animation>& animation) { return animation && animation->duration > 0; }

}  // namespace

template <>
double SceneAnimator::Track<double>::at(double now) const {
  return lerp(from, to, progress(animation, start, now));
}

template <>
CGRect SceneAnimator::Track<CGRect>::at(double now) const {
  const double p = progress(animation, start, now);
  return CGRect(lerp(from.origin.x, to.origin.x, p), lerp(from.origin.y, to.origin.y, p),
                lerp(from.size.width, to.size.width, p), lerp(from.size.height, to.size.height, p));
}

namespace {

// The track a value follows after a new tree arrived: a running one that already heads
// for the new value goes on; otherwise a new one from what shows now, when animated.
template <class Track, class T>
std::optional<Track> retarget(const std::optional<Track>& running, const T& old, const T& next,
                              const std::optional<Animation>& animation, double now) {
  if (running && !running->done(now) && running->to == next) return running;
  const T current = running ? running->at(now) : old;
  if (current == next || !animates(animation)) return std::nullopt;
  return Track{current, next, now, *animation};
}

}  // namespace

SceneAnimator::~SceneAnimator() { ticker_.invalidate(); }

double SceneAnimator::time() { return platform::clock().monotonicSeconds(); }

namespace {

// The children of `node` by key, for finding a node's counterpart in the other tree; a
// short list is searched in place.
class ChildrenByKey {
 public:
  explicit ChildrenByKey(const Node* node) : node_(node) {
    if (!node || node->children.size() <= 8) return;
    byKey_.reserve(node->children.size());
    for (const Node& child : node->children) byKey_.emplace(child.key, &child);
  }
  const Node* find(const std::string& key) const {
    if (!node_) return nullptr;
    if (!byKey_.empty()) {
      const auto found = byKey_.find(key);
      return found == byKey_.end() ? nullptr : found->second;
    }
    for (const Node& child : node_->children) {
      if (child.key == key) return &child;
    }
    return nullptr;
  }

 private:
  const Node* node_;
  std::unordered_map<std::string_view, const Node*> byKey_;
};

bool hasOwnTransition(const Node& node) {
  return node.transitions.frame || node.transitions.opacity || node.transitions.scale || node.settle;
}

void gatherPaths(const Node& node, Path path, std::unordered_set<Path>& out) {
  out.insert(path);
  for (const Node& child : node.children) gatherPaths(child, childPath(path, child.key), out);
}

}  // namespace

void SceneAnimator::show(scene::Node next, const std::optional<Animation>& change) {
  const double now = time();
  if (!hasTarget_) {
    target_ = std::make_shared<const Node>(std::move(next));
    hasTarget_ = true;
    return;
  }
  const Node& shown = *target_;
  std::vector<Leaving> leaving;
  if (!leaving_.empty()) {
    std::unordered_set<Path> fresh;
    gatherPaths(next, rootPath(next), fresh);
    for (Leaving& l : leaving_) {
      // A node that comes back before it has faded out is drawn by the new tree.
      if (!l.fade.done(now) && !fresh.count(l.path)) leaving.push_back(std::move(l));
    }
  }
  if (animates(change)) {
    gatherLeaving(shown, rootPath(shown), 0, 0, next.key == shown.key ? &next : nullptr, change, now, leaving);
  }
  std::unordered_set<Path> moving;
  for (const Leaving& l : leaving) moving.insert(l.parent);
  // The trees are walked side by side, a node meeting its counterpart by key; with no
  // animation asked and none running, only nodes with transitions of their own can move.
  std::unordered_map<Path, Motion> motions;
  match(next, rootPath(next), next.key == shown.key ? &shown : nullptr, change, now, motions, moving);

  motions_ = std::move(motions);
  leaving_ = std::move(leaving);
  moving_ = std::move(moving);
  target_ = std::make_shared<const Node>(std::move(next));
  if (isAnimating()) keepTicking();
}

void SceneAnimator::replace(scene::Node next) {
  if (!hasTarget_) return show(std::move(next), std::nullopt);
  target_ = std::make_shared<const Node>(std::move(next));
}

bool SceneAnimator::match(const Node& next, Path path, const Node* was, const std::optional<Animation>& change,
                          double now, std::unordered_map<Path, Motion>& motions,
                          std::unordered_set<Path>& moving) const {
  bool moves = moving.count(path) != 0;
  const bool animated = animates(change);
  const auto running = motions_.empty() ? motions_.end() : motions_.find(path);
  if (animated || running != motions_.end() || hasOwnTransition(next)) {
    Motion m;
    if (!was) {
      if (next.transitions.fades && animated) m.opacity = Track<double>{0, next.opacity, now, *change};
    } else {
      const Motion before = running == motions_.end() ? Motion{} : running->second;
      const auto pick = [&](const std::optional<Animation>& own) { return own ? own : change; };
      m.frame = retarget(before.frame, was->frame, next.frame, pick(next.transitions.frame), now);
      m.opacity = retarget(before.opacity, was->opacity, next.opacity, pick(next.transitions.opacity), now);
      m.scale = retarget(before.scale, was->scale, next.scale, pick(next.transitions.scale), now);
      if (before.settleStart && now < *before.settleStart + kSettleDuration) m.settleStart = before.settleStart;
      // Only a flip plays it, not the first appearance of a value.
      if (next.settle && was->settle && *next.settle != *was->settle) m.settleStart = now;
    }
    if (!m.empty()) motions.emplace(path, m), moves = true;
  }
  // Children shared with the tree shown, with nothing moving or leaving among them, have
  // nothing to move to.
  const bool same = was && next.children.sharedWith(was->children) && !moving_.count(path);
  if (!next.children.empty() && !same) {
    const ChildrenByKey old(was);
    for (const Node& child : next.children) {
      moves |= match(child, childPath(path, child.key), old.find(child.key), change, now, motions, moving);
    }
  }
  if (moves) moving.insert(path);
  return moves;
}

void SceneAnimator::gatherLeaving(const Node& old, Path path, Path parent, std::size_t index, const Node* now_,
                                  const std::optional<Animation>& change, double now,
                                  std::vector<Leaving>& leaving) const {
  if (!now_) {
    if (old.transitions.fades && animates(change) && parent != 0) {
      Node shown = present(old, path, now, false);
      const double from = shown.opacity;
      leaving.push_back({parent, index, path, std::move(shown), Track<double>{from, 0, now, *change}});
    }
    return;  // its children go with it
  }
  if (old.children.empty()) return;
  const ChildrenByKey next(now_);
  for (std::size_t i = 0; i < old.children.size(); ++i) {
    const Node& child = old.children[i];
    gatherLeaving(child, childPath(path, child.key), path, i, next.find(child.key), change, now, leaving);
  }
}

Node SceneAnimator::present(const Node& node, Path path, double now, bool withLeaving) const {
  // A copy shares the node's children: only the paths to what moves are copied further.
  Node out = node;
  if (const auto m = motions_.find(path); m != motions_.end()) {
    if (m->second.frame) out.frame = m->second.frame->at(now);
    if (m->second.opacity) out.opacity = m->second.opacity->at(now);
    if (m->second.scale) out.scale = m->second.scale->at(now);
    if (m->second.settleStart) out.scale *= settleScale(now - *m->second.settleStart);
  }
  if (!moving_.count(path)) return out;
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    const Node& child = node.children[i];
    const Path at = childPath(path, child.key);
    if (moving_.count(at)) out.children[i] = present(child, at, now, withLeaving);
  }
  if (withLeaving) {
    for (const Leaving& l : leaving_) {
      if (l.parent != path || l.fade.done(now)) continue;
      Node ghost = l.node;
      ghost.opacity = l.fade.at(now);
      const std::size_t at = std::min(l.index, out.children.size());
      out.children.insert(out.children.begin() + static_cast<std::ptrdiff_t>(at), std::move(ghost));
    }
  }
  return out;
}

Node SceneAnimator::displayed() const {
  if (!hasTarget_) return Node{};
  return present(*target_, rootPath(*target_), time(), true);
}

bool SceneAnimator::isAnimating() const {
  const double now = time();
  for (const auto& [path, m] : motions_) {
    if ((m.frame && !m.frame->done(now)) || (m.opacity && !m.opacity->done(now)) || (m.scale && !m.scale->done(now)) ||
        (m.settleStart && now < *m.settleStart + kSettleDuration)) {
      return true;
    }
  }
  return std::any_of(leaving_.begin(), leaving_.end(), [&](const Leaving& l) { return !l.fade.done(now); });
}

void SceneAnimator::prune(double now) {
  for (auto it = motions_.begin(); it != motions_.end();) {
    Motion& m = it->second;
    if (m.frame && m.frame->done(now)) m.frame.reset();
    if (m.opacity && m.opacity->done(now)) m.opacity.reset();
    if (m.scale && m.scale->done(now)) m.scale.reset();
    if (m.settleStart && now >= *m.settleStart + kSettleDuration) m.settleStart.reset();
    it = m.empty() ? motions_.erase(it) : std::next(it);
  }
  std::erase_if(leaving_, [&](const Leaving& l) { return l.fade.done(now); });
}

void SceneAnimator::keepTicking() {
  if (ticker_.isValid()) return;
  ticker_ = platform::clock().scheduleTimer(platform::mainQueue(), kFrameInterval, true, [this] { tick(); });
}

void SceneAnimator::tick() {
  prune(time());
  const bool more = isAnimating();
  if (!more) ticker_.invalidate();
  if (onFrame_) onFrame_();
}

}  // namespace trelliq::views
