#include "platform/Image.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

CGImage::CGImage(const QImage& image)
    : image_(std::make_unique<QImage>(image)), width_(image.width()), height_(image.height()) {}

CGImage::~CGImage() = default;

std::uint32_t CGImage::pixel(int x, int y) const {
  if (!image_->valid(x, y)) return 0;
  return image_->pixel(x, y);
}

namespace {

std::optional<std::vector<std::uint8_t>> encoded(const QImage& image, const char* format) {
  if (image.isNull()) return std::nullopt;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, format)) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

bool CGImage::samePixels(const CGImage& other) const { return *image_ == *other.image_; }

std::optional<std::vector<std::uint8_t>> CGImage::pngData() const { return encoded(*image_, "PNG"); }

std::optional<std::vector<std::uint8_t>> CGImage::jpegData() const { return encoded(*image_, "JPEG"); }

const QImage& CGImage::qimage() const { return *image_; }

std::shared_ptr<const CGImage> CGImage::empty() { return std::make_shared<const CGImage>(QImage()); }
