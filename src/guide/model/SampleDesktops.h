#pragma once
// The fixed sample desk of the demonstration pictures: two desktops of two windows each.
// A window names a sample app icon by index (0 to 3) and lies at a frame in unit
// coordinates of its desktop picture (origin top left, sizes as fractions). Pure.

#include <array>

#include "platform/Geometry.h"

namespace trelliq {

struct SampleDesktops {
  struct Window {
    int app = 0;
    CGRect frame;
  };
  using Desktop = std::array<Window, 2>;

  static const std::array<Desktop, 2>& desktops() {
    static const std::array<Desktop, 2> desk{
        Desktop{Window{0, CGRect(0.06, 0.1, 0.56, 0.62)}, Window{1, CGRect(0.4, 0.3, 0.54, 0.6)}},
        Desktop{Window{2, CGRect(0.08, 0.18, 0.5, 0.64)}, Window{3, CGRect(0.48, 0.08, 0.46, 0.54)}}};
    return desk;
  }
};

}  // namespace trelliq
