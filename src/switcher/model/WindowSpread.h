#pragma once
// Spreading the window pictures of a whole-Space tile: each picture is shrunk a little
// and overlapping pairs are pushed apart step by step, every picture staying inside the
// tile's picture area, so that each window stays recognisable near its real place.
// Pure; any thread.

#include <map>

#include "platform/Geometry.h"

namespace trelliq {

/// Each picture's size while spreading, as a share of its input size.
inline constexpr double spreadShrink = 0.85;
/// The most passes over all pairs; bounds the work when a pair held at an edge never separates.
inline constexpr int spreadPasses = 40;

/// The smallest rectangle with whole-point edges holding `r`. An edge within a hair (1e-9)
/// of a whole point counts as on it, so that a product like 200 × 0.1 does not gain a
/// point from its last bit.
CGRect roundedOutward(const CGRect& r);

/// The frames (keyed by window index, top-left-origin tile coordinates) spread within
/// `bounds`, rounded outward to whole points. Fewer than two frames come back unchanged.
std::map<int, CGRect> spread(const std::map<int, CGRect>& frames, const CGRect& bounds);

}  // namespace trelliq
