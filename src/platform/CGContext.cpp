#include "platform/CGContext.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>

class CGContext {
 public:
  CGContext(int width, int height, QImage::Format format) : image(width, height, format) {
    image.fill(Qt::transparent);
  }

  /// A context rectangle (bottom-left origin) in the image's top-left pixels.
  QRectF toImage(const CGRect& r) const { return QRectF(r.minX(), image.height() - r.maxY(), r.width(), r.height()); }

  QImage image;
  QColor fill = QColor(0, 0, 0, 255);
  double alpha = 1;
  CGInterpolationQuality quality = CGInterpolationQuality::defaultQuality;
};

namespace {

constexpr std::size_t kMaxSide = 16384;

}  // namespace

CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                                   std::size_t bytesPerRow, const CGColorSpaceRef& space, CGBitmapInfo bitmapInfo) {
  if (data || bytesPerRow != 0 || !space || bitsPerComponent != 8) return nullptr;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  QImage::Format format;
  switch (bitmapInfo & 0x1F) {
    case kCGImageAlphaPremultipliedLast:
      format = QImage::Format_RGBA8888_Premultiplied;
      break;
    case kCGImageAlphaPremultipliedFirst:
      format = QImage::Format_ARGB32_Premultiplied;
      break;
    default:
      return nullptr;
  }
  return std::make_shared<CGContext>(static_cast<int>(width), static_cast<int>(height), format);
}

std::size_t CGBitmapContextGetWidth(const CGContextRef& context) {
  return context ? static_cast<std::size_t>(context->image.width()) : 0;
}

std::size_t CGBitmapContextGetHeight(const CGContextRef& context) {
  return context ? static_cast<std::size_t>(context->image.height()) : 0;
}

void CGContextSetRGBFillColor(const CGContextRef& context, double red, double green, double blue, double alpha) {
  if (!context) return;
  auto unit = [](double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); };
  context->fill = QColor::fromRgbF(unit(red), unit(green), unit(blue), unit(alpha));
}

void CGContextSetGrayFillColor(const CGContextRef& context, double gray, double alpha) {
  CGContextSetRGBFillColor(context, gray, gray, gray, alpha);
}

void CGContextFillRect(const CGContextRef& context, CGRect rect) {
  if (!context || rect.isNull()) return;
  QPainter painter(&context->image);
  painter.setOpacity(context->alpha);
  painter.fillRect(context->toImage(rect), context->fill);
}

void CGContextSetAlpha(const CGContextRef& context, double alpha) {
  if (context) context->alpha = std::clamp(alpha, 0.0, 1.0);
}

void CGContextSetInterpolationQuality(const CGContextRef& context, CGInterpolationQuality quality) {
  if (context) context->quality = quality;
}

void CGContextDrawImage(const CGContextRef& context, CGRect rect, const CGImageRef& image) {
  if (!context || !image || rect.isNull() || rect.isEmpty()) return;
  QPainter painter(&context->image);
  painter.setOpacity(context->alpha);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, context->quality != CGInterpolationQuality::none);
  painter.drawImage(context->toImage(rect), image->qimage());
}

CGImageRef CGBitmapContextCreateImage(const CGContextRef& context) {
  if (!context) return nullptr;
  // Shared until the context draws again, which then copies (as a Mac's does): a context
  // let go once its picture is taken costs no second picture.
  return std::make_shared<const CGImage>(context->image);
}
