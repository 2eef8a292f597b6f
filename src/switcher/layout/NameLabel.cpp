#include "switcher/layout/NameLabel.h"

#include <algorithm>

namespace trelliq::scene {

namespace {

constexpr double kTextSize = 13;
constexpr double kSmallTextSize = 12;
constexpr double kGlyphSize = 11;
constexpr double kSmallGlyphSize = 10;
// The field is a little wider than its text so the caret never clips the last letter.
constexpr double kFieldRoom = 2;
// How far the reset glyph is drawn right of where it is laid out (and hit-tested).
constexpr double kGlyphShift = 12;

constexpr double kStrongCapsule = 0.2;
constexpr double kHoverCapsule = 0.14;
constexpr double kSecondaryText = 0.4;

double capsuleOpacity(const NameLabelState& state) {
  if (state.editing || state.confirmed) return kStrongCapsule;
  return state.hovered ? kHoverCapsule : 0;
}

// The pill's content (text or field) at its laid-out size, at (0, 0).
Node content(const NameLabelState& state, double fontSize, const TextMeasure& measure) {
  Node node;
  if (state.editing) {
    // The field sizes to what it shows: the draft, or the placeholder while the draft is empty.
    const std::string& shown = state.editing->empty() ? state.name : *state.editing;
    const CGSize text = measure.size(shown, fontSize, Weight::semibold);
    node.key = "field";
    node.frame = CGRect(0, 0, text.width + 2 * kFieldRoom, text.height);
    node.content = NameField{*state.editing, state.name, fontSize, Weight::semibold};
    return node;
  }
  CGSize text = measure.size(state.name, fontSize, Weight::semibold);
  Paint paint;
  if (state.width) {
    // A fixed width cuts the text to what fits between the paddings.
    text.width = std::clamp(text.width, 0.0, std::max(0.0, *state.width - 2 * NameLabelLook::pill.width));
    if (state.secondary) paint.opacity = kSecondaryText;
  }
  node.key = "text";
  node.frame = CGRect(0, 0, text.width, text.height);
  node.content = Text{state.name, fontSize, Weight::semibold, paint};
  return node;
}

}  // namespace

Node nameLabel(const NameLabelState& state, const TextMeasure& measure) {
  const double fontSize = state.small ? kSmallTextSize : kTextSize;
  const CGSize pad = NameLabelLook::pill;

  Node inner = content(state, fontSize, measure);
  const CGSize pill{inner.frame.width() + 2 * pad.width, inner.frame.height() + 2 * pad.height};
  const double outerWidth = state.width.value_or(pill.width);
  // With a fixed width the pill sits centred in it; otherwise the pill is the whole label.
  const CGRect pillRect((outerWidth - pill.width) / 2, 0, pill.width, pill.height);
  inner.frame.origin = {pillRect.minX() + pad.width, pad.height};

  Node label;
  label.key = "label";
  label.frame = CGRect(0, 0, outerWidth, pill.height);
  label.settle = state.confirmed;
  if (state.report) label.reports.emplace_back(*state.report, pillRect);

  // The capsule grows past the trailing edge for the reset glyph without widening the label.
  Node capsule;
  capsule.key = "capsule";
  capsule.frame = CGRect(pillRect.minX(), 0, pill.width + (state.reset ? NameLabelLook::resetRoom : 0), pill.height);
  capsule.content = Shape{Shape::Kind::capsule, 0, Paint{Paint::Tone::primary, capsuleOpacity(state)}, {}, {}};
  label.children.push_back(std::move(capsule));
  label.children.push_back(std::move(inner));

  if (state.reset) {
    const double glyph = state.small ? kSmallGlyphSize : kGlyphSize;
    // Laid out on the pill's trailing edge, hit-tested there, drawn inside the capsule's extension.
    const CGRect laid(pillRect.maxX() - glyph, (pill.height - glyph) / 2, glyph, glyph);
    label.reports.emplace_back(*state.reset, laid);
    Node reset;
    reset.key = "reset";
    reset.frame = CGRect(laid.minX() + kGlyphShift, laid.minY(), glyph, glyph);
    reset.content = Symbol{"xmark.circle.fill", glyph, Weight::semibold, Paint{Paint::Tone::secondary, 1}};
    label.children.push_back(std::move(reset));
  }
  return label;
}

}  // namespace trelliq::scene
