#pragma once
// What a switcher panel shows, as plain values: a tree of positioned nodes (glass plates,
// shapes, text, symbols, pictures, the name field) plus the frames the panel reports for
// hit testing. The layout code builds it from the model without any drawing library, so
// every size, place, opacity and scale of the panels is testable as numbers; the views
// only paint the tree and animate between two trees by node key. Main thread only.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "switcher/model/GlassLook.h"
#include "switcher/model/ModelChange.h"
#include "switcher/model/PanelGeometry.h"
#include "switcher/model/Weight.h"

namespace trelliq::scene {

/// A colour the painter resolves: `primary` and `secondary` follow the panel's appearance
/// (light text on dark glass and the reverse), the others are fixed.
struct Paint {
  enum class Tone { primary, secondary, white, black };
  Tone tone = Tone::primary;
  double opacity = 1;
  friend bool operator==(const Paint&, const Paint&) = default;
};

/// A thin line along a shape's edge, drawn inside it.
struct Stroke {
  Paint paint;
  double width = 1;
  friend bool operator==(const Stroke&, const Stroke&) = default;
};

struct Shadow {
  double opacity = 0;  // of black
  double radius = 0;
  CGSize offset;       // y downwards
  friend bool operator==(const Shadow&, const Shadow&) = default;
};

/// The system's glass material, of `look`'s style, with a haze of `haze` opacity under it;
/// the painter clamps the corner radius to half the height.
struct Glass {
  double radius = 0;
  double haze = 0;
  GlassLook look;
  friend bool operator==(const Glass&, const Glass&) = default;
};

/// A filled (and optionally stroked) shape filling the node's frame.
struct Shape {
  enum class Kind { rectangle, roundedRectangle, capsule, circle };
  Kind kind = Kind::rectangle;
  double radius = 0;  // roundedRectangle only
  std::optional<Paint> fill;
  std::optional<Stroke> stroke;
  std::optional<Shadow> shadow;
  friend bool operator==(const Shape&, const Shape&) = default;
};

/// One line of text in the system font, laid out in the node's frame (centred); cut with
/// an ellipsis when it does not fit.
struct Text {
  std::string text;
  double size = 13;
  Weight weight = Weight::regular;
  Paint paint;
  friend bool operator==(const Text&, const Text&) = default;
};

/// A system symbol by name ("minus", "xmark.circle.fill", ...), centred in the frame.
struct Symbol {
  std::string name;
  double size = 13;
  Weight weight = Weight::regular;
  Paint paint;
  friend bool operator==(const Symbol&, const Symbol&) = default;
};

/// A picture filling the node's frame. `aspectFill` crops to fill; `stretch` scales to
/// the frame (an app icon's image, which may reach past its tile on purpose).
/// Without an image the `placeholder` fill is drawn instead (when set).
struct Picture {
  enum class Fit { aspectFill, stretch };
  CGImageRef image;
  Fit fit = Fit::aspectFill;
  double cornerRadius = 0;  // clip; 0 is none
  std::optional<Paint> placeholder;
  std::optional<Stroke> border;
  std::optional<Shadow> shadow;
  friend bool operator==(const Picture&, const Picture&) = default;
};

/// Where the name field goes while a tile is renamed: an editable, borderless, centred
/// line of text bound to the model's draft, in the system font.
struct NameField {
  std::string text;
  std::string placeholder;
  double size = 13;
  Weight weight = Weight::semibold;
  friend bool operator==(const NameField&, const NameField&) = default;
};

/// How changes of a node's values animate when the next tree replaces this one.
struct Transitions {
  std::optional<Animation> frame;    // origin and size
  std::optional<Animation> opacity;
  std::optional<Animation> scale;
  /// Fades in when the node appears and out when it goes (with the change's animation).
  bool fades = false;
  friend bool operator==(const Transitions&, const Transitions&) = default;
};

struct Node;

/// The children of a node: one list shared by every copy of the tree until a copy changes
/// it, so copying a tree copies nothing below its root, and a copy that is then changed
/// copies only the lists along the paths it changes. Reading never copies; a non-const
/// access first copies the list when another tree shares it, so a reference it gives is
/// valid only until the list is next copied or changed.
class NodeList {
 public:
  using value_type = Node;
  using iterator = Node*;
  using const_iterator = const Node*;

  NodeList() = default;
  NodeList(std::initializer_list<Node> nodes);
  NodeList(std::vector<Node> nodes);

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  const Node* begin() const;
  const Node* end() const;
  const Node& operator[](std::size_t i) const;
  const Node& at(std::size_t i) const;
  const Node& front() const;
  const Node& back() const;

  Node* begin();
  Node* end();
  Node& operator[](std::size_t i);
  Node& at(std::size_t i);
  Node& front();
  Node& back();
  void reserve(std::size_t n);
  void push_back(Node node);
  template <class... Args>
  Node& emplace_back(Args&&... args);
  Node* insert(const Node* at, Node node);
  void clear() { nodes_.reset(); }

  /// Whether both are the very same list (what one shows, the other shows too).
  bool sharedWith(const NodeList& other) const { return nodes_ == other.nodes_; }

  /// A rectangle a reader worked out from the nodes alone (where they draw), kept with the
  /// list for every tree sharing it; forgotten at the next non-const access. Absent until
  /// set, and never kept for an empty list.
  std::optional<CGRect> memo() const;
  void setMemo(const CGRect& rect) const;
  /// A number a reader worked out from the nodes alone (a digest of what they draw), kept
  /// and forgotten as `memo` is.
  std::optional<std::uint64_t> digest() const;
  void setDigest(std::uint64_t digest) const;

  /// Names what the list holds: two lists of the same stamp are one list, unchanged since
  /// the stamp was read, so they hold the very same nodes. Every non-const access gives a
  /// new one, so change a node through a reference right after taking it. 0 when empty.
  std::uint64_t stamp() const;

 private:
  struct Shared;
  Shared& own();
  std::shared_ptr<Shared> nodes_;
};

struct Node {
  /// Identity across trees: a node keeps its animations when the next tree has the same
  /// key at the same place in the hierarchy. Unique among siblings.
  std::string key;
  /// Layout frame in the parent's coordinates (origin top left, y downwards), before `scale`.
  CGRect frame;
  double opacity = 1;
  /// Render-only scale about `anchor` (a unit point of the frame: 0.5, 0.5 is the centre,
  /// 0.5, 0 the top centre); layout and reported frames of the node itself ignore it.
  double scale = 1;
  CGPoint anchor{0.5, 0.5};
  /// Bumped (flipped) when the name settle should play; the painter plays it on a change.
  std::optional<bool> settle;
  /// Tooltip text shown over the node.
  std::string help;
  Transitions transitions;
  /// Frames this node reports for hit testing, in its own coordinates (origin at its
  /// frame's top left); its own scale and its ancestors' scales and offsets apply.
  std::vector<std::pair<TileID, CGRect>> reports;
  /// Its frame joins the panel's content rectangle (with the same transforms).
  bool reportsContent = false;
  /// The window whose live picture (or the stand-in for it) fills this node's frame; 0
  /// for none. The panels tell the model how large they draw each window's picture.
  std::uint32_t picturedWindow = 0;
  std::variant<std::monostate, Glass, Shape, Text, Symbol, Picture, NameField> content;
  /// Drawn over the content, first to last.
  NodeList children;
};

struct NodeList::Shared {
  explicit Shared(std::vector<Node> n = {}) : nodes(std::move(n)) {}
  // A copy would carry the stamp, and two lists that differ would pass for one.
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  std::vector<Node> nodes;
  std::uint64_t stamp = next();
  mutable std::optional<CGRect> memo;
  mutable std::optional<std::uint64_t> digest;
  // Stamps are never handed out twice in a process. The counter alone is safe to share;
  // the memo and digest beside it are not, so a list is read on one thread only.
  static std::uint64_t next() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
  }
};

inline NodeList::NodeList(std::initializer_list<Node> nodes)
    : nodes_(nodes.size() ? std::make_shared<Shared>(std::vector<Node>(nodes)) : nullptr) {}
inline NodeList::NodeList(std::vector<Node> nodes)
    : nodes_(nodes.empty() ? nullptr : std::make_shared<Shared>(std::move(nodes))) {}
inline std::optional<CGRect> NodeList::memo() const { return nodes_ ? nodes_->memo : std::nullopt; }
inline void NodeList::setMemo(const CGRect& rect) const {
  if (nodes_) nodes_->memo = rect;
}
inline std::optional<std::uint64_t> NodeList::digest() const { return nodes_ ? nodes_->digest : std::nullopt; }
inline void NodeList::setDigest(std::uint64_t digest) const {
  if (nodes_) nodes_->digest = digest;
}
inline std::uint64_t NodeList::stamp() const { return nodes_ ? nodes_->stamp : 0; }
inline std::size_t NodeList::size() const { return nodes_ ? nodes_->nodes.size() : 0; }
inline const Node* NodeList::begin() const { return nodes_ ? nodes_->nodes.data() : nullptr; }
inline const Node* NodeList::end() const { return begin() + size(); }
inline const Node& NodeList::operator[](std::size_t i) const { return begin()[i]; }
inline const Node& NodeList::front() const { return *begin(); }
inline const Node& NodeList::back() const { return end()[-1]; }
inline Node* NodeList::end() { return begin() + size(); }
inline Node& NodeList::operator[](std::size_t i) { return begin()[i]; }
inline Node& NodeList::front() { return *begin(); }
inline Node& NodeList::back() { return end()[-1]; }
inline const Node& NodeList::at(std::size_t i) const {
  if (i >= size()) throw std::out_of_range("NodeList::at");
  return begin()[i];
}
inline Node* NodeList::begin() { return nodes_ ? own().nodes.data() : nullptr; }
inline Node& NodeList::at(std::size_t i) { return own().nodes.at(i); }
inline void NodeList::reserve(std::size_t n) { own().nodes.reserve(n); }
inline void NodeList::push_back(Node node) { own().nodes.push_back(std::move(node)); }
template <class... Args>
Node& NodeList::emplace_back(Args&&... args) {
  return own().nodes.emplace_back(std::forward<Args>(args)...);
}
inline Node* NodeList::insert(const Node* at, Node node) {
  const std::ptrdiff_t index = at - std::as_const(*this).begin();
  std::vector<Node>& nodes = own().nodes;
  return &*nodes.insert(nodes.begin() + index, std::move(node));
}
inline NodeList::Shared& NodeList::own() {
  if (!nodes_) {
    nodes_ = std::make_shared<Shared>();
  } else if (nodes_.use_count() > 1) {
    nodes_ = std::make_shared<Shared>(nodes_->nodes);
  } else {
    nodes_->memo.reset();
    nodes_->digest.reset();
    nodes_->stamp = Shared::next();
  }
  return *nodes_;
}

/// One panel's tree and what it reports: frames by TileID and the whole content's frame,
/// all in the panel's space (origin top left of the panel, y downwards, after the
/// ancestors' scales).
struct PanelScene {
  Node root;
  TileFrames frames;
  CGRect content = CGRect::null();
  /// Each node drawing a window's picture (`picturedWindow`), with the size it is drawn at
  /// in the panel's space, in walking order: gathered with the frames, so the panel's
  /// report of the sizes it draws needs no walk of its own.
  std::vector<std::pair<std::uint32_t, CGSize>> pictured;
};

/// Measures one line of text in the system font (the views use the real font; tests a
/// fixed-width stand-in).
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual CGSize size(const std::string& text, double pointSize, Weight weight) const = 0;
};

}  // namespace trelliq::scene
