#pragma once
// How a pane's glass is set up: the system glass's style and its private variant. Any
// thread.

#include <optional>

#include "platform/WindowServerPort.h"

namespace trelliq {

struct GlassLook {
  /// The private variant a pane asks for where the system offers one.
  static constexpr int paneVariant = 2;

  platform::GlassStyle style = platform::GlassStyle::regular;
  /// The value set for the key "_variant"; none when it is not set.
  std::optional<int> variant;

  /// A fresh pane's glass: the regular style with variant 2 where the system's glass view
  /// answers "set_variant:", the clear style otherwise.
  static GlassLook ofPane(bool variantOffered) {
    if (variantOffered) return {platform::GlassStyle::regular, paneVariant};
    return {platform::GlassStyle::clear, std::nullopt};
  }
  /// Whether a fresh system glass view answers "set_variant:", asked once per installed
  /// system (false without one).
  static bool systemOffersVariant();
  friend bool operator==(const GlassLook&, const GlassLook&) = default;
};

}  // namespace trelliq
