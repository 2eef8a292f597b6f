#include "switcher/views/KeptLayers.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/MallocZone.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {

namespace {

using scene::Node;

int fine(double v) { return static_cast<int>(std::lround(v * 64)); }

void mix(std::size_t& h, std::size_t v) { h = (h ^ v) * 0x100000001b3ULL; }
void mix(std::size_t& h, double v) { mix(h, static_cast<std::size_t>(static_cast<long long>(fine(v)))); }

void mixContent(std::size_t& h, const Node& node) {
  mix(h, node.content.index());
  if (const auto* p = std::get_if<scene::Picture>(&node.content)) {
    mix(h, std::hash<const void*>()(p->image.get()));
    mix(h, p->cornerRadius);
  } else if (const auto* s = std::get_if<scene::Shape>(&node.content)) {
    mix(h, static_cast<std::size_t>(s->kind));
    mix(h, s->radius);
  } else if (const auto* t = std::get_if<scene::Text>(&node.content)) {
    mix(h, std::hash<std::string>()(t->text));
  } else if (const auto* y = std::get_if<scene::Symbol>(&node.content)) {
    mix(h, std::hash<std::string>()(y->name));
  }
}

std::size_t hashOf(const Node& node, bool root);

// What a list's drawing children draw: worked out once for every tree sharing the list.
std::size_t digestOf(const scene::NodeList& children) {
  if (const std::optional<std::uint64_t> kept = children.digest()) return *kept;
  std::size_t h = 0xcbf29ce484222325ULL;
  for (const Node& child : children) {
    if (ScenePainter::draws(child)) mix(h, hashOf(child, false));
  }
  children.setDigest(h);
  return h;
}

// What a node's drawing depends on; the root's place and own opacity are left to the
// blend that lays its layer on.
std::size_t hashOf(const Node& node, bool root) {
  std::size_t h = 0xcbf29ce484222325ULL;
  if (!root) {
    mix(h, node.frame.origin.x), mix(h, node.frame.origin.y);
    mix(h, node.opacity), mix(h, node.scale);
  }
  mix(h, node.frame.size.width), mix(h, node.frame.size.height);
  mixContent(h, node);
  if (!node.children.empty()) mix(h, digestOf(node.children));
  return h;
}

// What of `node` draws, without the children that draw nothing, at any depth (they leave
// a layer as it is), noting each node's list of children as it is now, in walking order.
// Only what draws is taken (not its key, help or reports): a kept layer holds its drawing
// for as long as it lives, and the budget pays for it.
Node drawnPart(const Node& node, std::vector<KeptLayers::Below>& below) {
  const std::size_t at = below.size();
  below.push_back({node.children.stamp(), 0, 0});
  Node copy;
  copy.frame = node.frame;
  copy.opacity = node.opacity;
  copy.scale = node.scale;
  copy.anchor = node.anchor;
  copy.content = node.content;
  if (node.children.empty()) return copy;
  std::vector<Node> children;
  children.reserve(static_cast<std::size_t>(
      std::count_if(node.children.begin(), node.children.end(), [](const Node& child) { return ScenePainter::draws(child); })));
  std::size_t pictures = 0;
  for (const Node& child : node.children) {
    if (!ScenePainter::draws(child)) continue;
    const std::size_t first = below.size();
    children.push_back(drawnPart(child, below));
    pictures += below[first].pictures + (std::holds_alternative<scene::Picture>(child.content) ? 1 : 0);
  }
  copy.children = scene::NodeList(std::move(children));
  below[at].pictures = pictures;
  below[at].nodes = below.size() - at - 1;
  return copy;
}

// The whole pixel a node's origin lies in, and the transform with only the fraction of a
// pixel left of its move.
QPoint wholePixel(const QTransform& t) {
  return QPoint(static_cast<int>(std::floor(t.dx())), static_cast<int>(std::floor(t.dy())));
}
QTransform withinPixel(const QTransform& t) {
  const QPoint whole = wholePixel(t);
  return QTransform(t.m11(), 0, 0, t.m22(), t.dx() - whole.x(), t.dy() - whole.y());
}

std::size_t hashOf(const QTransform& t) {
  std::size_t h = 0;
  for (const double v : {t.m11(), t.m22(), t.dx(), t.dy()}) mix(h, v);
  return h;
}

bool samePlacement(const QTransform& a, const QTransform& b) {
  return fine(a.m11()) == fine(b.m11()) && fine(a.m22()) == fine(b.m22()) && fine(a.dx()) == fine(b.dx()) &&
         fine(a.dy()) == fine(b.dy());
}

// What a kept drawing (see `drawnPart`) holds on the heap beside its layer: its nodes,
// their lists and their longer texts. A layer's drawing of a busy tile is a hundred nodes
// and more, about a fifth of its pixels: left out, the layers held well past their budget.
std::size_t heapOf(const Node& node) {
  const auto text = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; };
  std::size_t bytes = 0;
  if (const auto* t = std::get_if<scene::Text>(&node.content)) bytes += text(t->text);
  if (const auto* y = std::get_if<scene::Symbol>(&node.content)) bytes += text(y->name);
  if (const auto* f = std::get_if<scene::NameField>(&node.content)) bytes += text(f->text) + text(f->placeholder);
  if (!node.children.empty()) {
    // The shared list's block (its count, memo and vector) and its nodes.
    bytes += 64 + node.children.size() * sizeof(Node);
    for (const Node& child : node.children) bytes += heapOf(child);
  }
  return bytes;
}

// The drawing's pictures taken out (held weakly instead), in walking order.
void takePictures(Node& node, std::vector<std::weak_ptr<const CGImage>>& pictures,
                  std::vector<const CGImage*>& addresses) {
  if (auto* p = std::get_if<scene::Picture>(&node.content)) {
    pictures.emplace_back(p->image);
    addresses.push_back(p->image.get());
    p->image.reset();
  }
  for (Node& child : node.children) takePictures(child, pictures, addresses);
}

struct Matcher {
  const std::vector<std::weak_ptr<const CGImage>>& pictures;
  const std::vector<const CGImage*>& addresses;
  const std::vector<KeptLayers::Below>& below;
  std::size_t next = 0;  // the next picture
  std::size_t node = 0;  // the next kept node, in walking order

  // The kept picture is the very one drawn now: the same address, and still alive (an
  // address may be handed out again once its picture is gone).
  bool samePicture(const CGImageRef& now) {
    if (next >= addresses.size()) return false;
    const std::size_t i = next++;
    if (addresses[i] != now.get()) return false;
    return !now || !pictures[i].expired();
  }

  bool sameContent(const Node& kept, const Node& now) {
    if (kept.content.index() != now.content.index()) return false;
    if (const auto* p = std::get_if<scene::Picture>(&now.content)) {
      const auto& k = std::get<scene::Picture>(kept.content);
      return samePicture(p->image) && k.fit == p->fit && k.cornerRadius == p->cornerRadius &&
             k.placeholder == p->placeholder && k.border == p->border && k.shadow == p->shadow;
    }
    return kept.content == now.content;
  }

  bool same(const Node& kept, const Node& now, bool root) {
    if (!root && (!(kept.frame == now.frame) || kept.opacity != now.opacity || kept.scale != now.scale ||
                  !(kept.anchor == now.anchor)))
      return false;
    const KeptLayers::Below& list = below[node++];
    if (!(kept.frame.size == now.frame.size) || !sameContent(kept, now)) return false;
    // The very list the layer was drawn from, unchanged since: its pictures are alive in it.
    if (list.stamp && now.children.stamp() == list.stamp) {
      next += list.pictures, node += list.nodes;
      return true;
    }
    // The kept drawing holds only children that draw.
    std::size_t k = 0;
    for (const Node& child : now.children) {
      if (!ScenePainter::draws(child)) continue;
      if (k == kept.children.size() || !same(kept.children[k++], child, false)) return false;
    }
    return k == kept.children.size();
  }
};

}  // namespace

KeptLayers& KeptLayers::shared() {
  // Never destroyed: a window torn down while the process exits may still draw after
  // static destructors have run.
  static KeptLayers& layers = [] () -> KeptLayers& {
    auto& made = *new KeptLayers;
    // A session fills the budget with layers of its own moments (fades, steps, a pointer
    // over a tile): kept while the program waits, they would hold as much as the panels.
    platform::onPressureRelief([&made] { made.shrink(); });
    return made;
  }();
  return layers;
}

void KeptLayers::shrink() {
  kept_.trimTo(keptBetweenSessions);
  missedAt_.clear();
}

KeptLayers::Found KeptLayers::find(const Node& node, const QTransform& toDevice, const QRect& visible) {
  const QTransform within = withinPixel(toDevice);
  const QPoint origin = wholePixel(toDevice);
  const std::size_t drawing = hashOf(node, true);
  std::size_t hash = drawing;
  mix(hash, hashOf(within));
  const Entry* entry = kept_.find(hash, [&](const Entry& kept) {
    if (!samePlacement(kept.toDevice, within)) return false;
    // A layer of part of its drawing stands in only where that part is all that shows.
    const QRect shows = kept.reach.translated(origin) & visible;
    if (!shows.isEmpty() && !QRect(origin + kept.offset, kept.layer.size()).contains(shows)) return false;
    Matcher matcher{kept.pictures, kept.addresses, kept.below};
    // Every kept picture and node met, and no more: the walk and the drawing kept agree.
    return matcher.same(kept.drawing, node, true) && matcher.next == kept.addresses.size() &&
           matcher.node == kept.below.size();
  });
  if (entry) return {&entry->layer, origin + entry->offset, hash, false};
  if (missedAt_.size() >= kMissesNoted) missedAt_.clear();
  const auto [last, first] = missedAt_.try_emplace(drawing, within);
  const bool moving = !first && !samePlacement(last->second, within);
  last->second = within;
  return {nullptr, QPoint(), hash, moving};
}

const QImage& KeptLayers::keep(const Node& node, const QTransform& toDevice, const Found& missed, QPoint at,
                               QImage layer, const QRect& drawing) {
  Entry entry;
  entry.drawing = drawnPart(node, entry.below);
  takePictures(entry.drawing, entry.pictures, entry.addresses);
  const std::size_t bytes = static_cast<std::size_t>(layer.sizeInBytes()) + sizeof(Entry) + heapOf(entry.drawing) +
                            entry.pictures.capacity() * sizeof(entry.pictures[0]) +
                            entry.addresses.capacity() * sizeof(entry.addresses[0]) +
                            entry.below.capacity() * sizeof(entry.below[0]);
  entry.toDevice = withinPixel(toDevice);
  entry.offset = at - wholePixel(toDevice);
  entry.reach = (drawing.isNull() ? QRect(at, layer.size()) : drawing).translated(-wholePixel(toDevice));
  entry.layer = std::move(layer);
  return kept_.keep(missed.hash, std::move(entry), bytes).layer;
}

}  // namespace trelliq::views
