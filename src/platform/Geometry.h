#pragma once
// Plain geometry values with the shapes the rest of the system expects of the
// platform: points, sizes and rectangles in points, and the edge insets of a screen.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

struct CGPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;

  CGRect() = default;
  CGRect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

  /// The null rectangle: what a rectangle is before anything has reported it.
  static CGRect null() {
    const double inf = std::numeric_limits<double>::infinity();
    return CGRect(inf, inf, 0, 0);
  }
  bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }

  double minX() const { return std::min(origin.x, origin.x + size.width); }
  double maxX() const { return std::max(origin.x, origin.x + size.width); }
  double minY() const { return std::min(origin.y, origin.y + size.height); }
  double maxY() const { return std::max(origin.y, origin.y + size.height); }
  double midX() const { return (minX() + maxX()) / 2; }
  double midY() const { return (minY() + maxY()) / 2; }
  double width() const { return std::abs(size.width); }
  double height() const { return std::abs(size.height); }
  bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

  /// Half-open containment as the platform answers it: minX <= x < maxX, minY <= y < maxY.
  bool contains(CGPoint p) const {
    return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool contains(const CGRect& r) const {
    return !isEmpty() && !r.isNull() && r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() &&
           r.maxY() <= maxY();
  }
  bool intersects(const CGRect& r) const {
    return !isEmpty() && !r.isEmpty() && r.minX() < maxX() && minX() < r.maxX() && r.minY() < maxY() &&
           minY() < r.maxY();
  }
  CGRect intersection(const CGRect& r) const {
    if (!intersects(r)) return null();
    const double x0 = std::max(minX(), r.minX()), y0 = std::max(minY(), r.minY());
    const double x1 = std::min(maxX(), r.maxX()), y1 = std::min(maxY(), r.maxY());
    return CGRect(x0, y0, x1 - x0, y1 - y0);
  }
  CGRect insetBy(double dx, double dy) const {
    return CGRect(minX() + dx, minY() + dy, width() - 2 * dx, height() - 2 * dy);
  }
  /// The smallest rectangle with whole-point edges that holds this one.
  CGRect integral() const {
    if (isNull()) return *this;
    const double x0 = std::floor(minX()), y0 = std::floor(minY());
    return CGRect(x0, y0, std::ceil(maxX()) - x0, std::ceil(maxY()) - y0);
  }
  friend bool operator==(const CGRect& a, const CGRect& b) {
    if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
    return a.origin == b.origin && a.size == b.size;
  }
};

struct NSEdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  friend bool operator==(const NSEdgeInsets&, const NSEdgeInsets&) = default;
};

namespace platform {

/// Converts between the window server's top-left-origin global space and the
/// screens' bottom-left-origin space. `firstScreenMaxY` is the maxY of the
/// first screen's frame; the flip is its own inverse.
inline CGRect flipRect(const CGRect& r, double firstScreenMaxY) {
  return CGRect(r.minX(), firstScreenMaxY - r.maxY(), r.width(), r.height());
}
inline CGPoint flipPoint(CGPoint p, double firstScreenMaxY) { return {p.x, firstScreenMaxY - p.y}; }

/// A number as the platform's standard description prints it: "1512.0", "0.1", "1e-05",
/// "1e+16", "-0.0", "nan", "inf".
std::string describe(double value);
/// The standard description of a rectangle: "(x, y, width, height)".
std::string describe(const CGRect& rect);

/// The longest side, in pixels, of any picture the system makes (a capture, a display's
/// or a window's picture): 16384, as a graphics card's largest texture.
inline constexpr int kMaxPictureSide = 16384;
/// A picture's width or height in whole pixels for `pixels` (points times a scale),
/// truncated and kept within 0 … kMaxPictureSide (0 for NaN). Every conversion of a
/// computed size to an int goes through it, so no value is ever out of an int's range.
int pictureSide(double pixels);

}  // namespace platform
