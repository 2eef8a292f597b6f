#include "platform/Geometry.h"

#include <charconv>
#include <cstdlib>

namespace platform {

std::string describe(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
  char buffer[64];
  const std::string scientific(buffer,
                               std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr);
  // Very small and very large magnitudes keep the exponent form; the rest are written out.
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  if (exponent < -4 || exponent >= 16) return scientific;
  std::string fixed(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed).ptr);
  if (fixed.find('.') == std::string::npos) fixed += ".0";
  return fixed;
}

std::string describe(const CGRect& rect) {
  return "(" + describe(rect.origin.x) + ", " + describe(rect.origin.y) + ", " + describe(rect.size.width) + ", " +
         describe(rect.size.height) + ")";
}

int pictureSide(double pixels) {
  if (!(pixels > 0)) return 0;  // also NaN
  if (pixels >= kMaxPictureSide) return kMaxPictureSide;
  return static_cast<int>(pixels);
}

}  // namespace platform
