#pragma once
// Bitmap drawing: a context over a pixel buffer, filled and drawn into, then turned into
// an image. Pure computation (no window server); a context is used by one thread at a
// time. Context coordinates have their origin at the bottom left, one unit per pixel.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/Geometry.h"
#include "platform/Image.h"

/// Colour spaces are accepted for shape; every context draws in sRGB.
struct CGColorSpace {
  const char* name = nullptr;
};
using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;
inline constexpr const char* kCGColorSpaceSRGB = "kCGColorSpaceSRGB";
/// A colour space for the known names (sRGB); null for others.
inline CGColorSpaceRef CGColorSpaceCreateWithName(const char* name) {
  if (!name || std::string_view(name) != kCGColorSpaceSRGB) return nullptr;
  return std::make_shared<const CGColorSpace>(CGColorSpace{kCGColorSpaceSRGB});
}

using CGBitmapInfo = std::uint32_t;
inline constexpr CGBitmapInfo kCGImageAlphaPremultipliedLast = 1;
inline constexpr CGBitmapInfo kCGImageAlphaPremultipliedFirst = 2;
inline constexpr CGBitmapInfo kCGImageAlphaNoneSkipFirst = 6;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2 << 12;

enum class CGInterpolationQuality { defaultQuality = 0, none = 1, low = 2, medium = 4, high = 3 };
inline constexpr CGInterpolationQuality kCGInterpolationHigh = CGInterpolationQuality::high;

/// Defined by the implementation (over a QImage).
class CGContext;
using CGContextRef = std::shared_ptr<CGContext>;

/// A cleared (transparent) context of `width` × `height` pixels. Only 8 bits per component
/// with an alpha-first or alpha-last premultiplied layout are supported; `data` must be null
/// and `bytesPerRow` 0 (chosen by the system). Null for any other request, a null colour
/// space, or a zero or over-large (more than 16384 per side) size.
CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                                   std::size_t bytesPerRow, const CGColorSpaceRef& space, CGBitmapInfo bitmapInfo);
std::size_t CGBitmapContextGetWidth(const CGContextRef& context);
std::size_t CGBitmapContextGetHeight(const CGContextRef& context);

/// The fill colour for later fills; components 0..1.
void CGContextSetRGBFillColor(const CGContextRef& context, double red, double green, double blue, double alpha);
void CGContextSetGrayFillColor(const CGContextRef& context, double gray, double alpha);
/// Blends the fill colour over `rect` (source-over, scaled by the context alpha).
void CGContextFillRect(const CGContextRef& context, CGRect rect);
/// The global alpha applied to later fills and drawings (clamped to 0..1).
void CGContextSetAlpha(const CGContextRef& context, double alpha);
void CGContextSetInterpolationQuality(const CGContextRef& context, CGInterpolationQuality quality);
/// Draws the image scaled into `rect`, source-over; nothing for a null image.
void CGContextDrawImage(const CGContextRef& context, CGRect rect, const CGImageRef& image);
/// An image of the context's pixels now (later drawing does not change it); null for a null context.
CGImageRef CGBitmapContextCreateImage(const CGContextRef& context);
