#include "platform/Image.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

CGImage::CGImage(const QImage& image) : image_(std::make_unique<QImage>(image)) {}

CGImage::~CGImage() = default;

int CGImage::width() const { return image_->width(); }

int CGImage::height() const { return image_->height(); }

std::uint32_t CGImage::pixel(int x, int y) const {
  if (!image_->valid(x, y)) return 0;
  return image_->pixel(x, y);
}

std::optional<std::vector<std::uint8_t>> CGImage::pngData() const {
  if (image_->isNull()) return std::nullopt;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image_->save(&buffer, "PNG")) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

const QImage& CGImage::qimage() const { return *image_; }

std::shared_ptr<const CGImage> CGImage::empty() { return std::make_shared<const CGImage>(QImage()); }
