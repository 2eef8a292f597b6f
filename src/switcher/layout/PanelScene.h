#pragma once
// What a switcher panel shows, as plain values: a tree of positioned nodes (glass plates,
// shapes, text, symbols, pictures, the name field) plus the frames the panel reports for
// hit testing. The layout code builds it from the model without any drawing library, so
// every size, place, opacity and scale of the panels is testable as numbers; the views
// only paint the tree and animate between two trees by node key. Main thread only.

#include <cstdint>
#include <optional>
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
  std::vector<Node> children;
};

/// One panel's tree and what it reports: frames by TileID and the whole content's frame,
/// all in the panel's space (origin top left of the panel, y downwards, after the
/// ancestors' scales).
struct PanelScene {
  Node root;
  TileFrames frames;
  CGRect content = CGRect::null();
};

/// Measures one line of text in the system font (the views use the real font; tests a
/// fixed-width stand-in).
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual CGSize size(const std::string& text, double pointSize, Weight weight) const = 0;
};

}  // namespace trelliq::scene
