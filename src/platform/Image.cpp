#include "platform/Image.h"

#include <lz4.h>
#include <sys/mman.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

CGImage::CGImage(const QImage& image)
    : image_(std::make_unique<QImage>(image)), width_(image.width()), height_(image.height()) {}

CGImage::CGImage(const QImage& image, const void* shared, std::size_t bytes) : CGImage(image) {
  shared_ = shared;
  sharedBytes_ = bytes;
}

CGImage::~CGImage() = default;

void CGImage::releaseReadPages() const {
  if (!shared_ || sharedBytes_ == 0) return;
  // A shared mapping's pages are only let go from this process's tables: the memory
  // behind them, and so the pixels, stay as they are.
  ::madvise(const_cast<void*>(shared_), sharedBytes_, MADV_DONTNEED);
}

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

std::shared_ptr<const PackedImage> PackedImage::pack(const CGImage& image) {
  const QImage& pixels = image.qimage();
  const auto size = static_cast<std::size_t>(pixels.sizeInBytes());
  if (pixels.isNull() || size == 0 || size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return nullptr;
  // Only the pages the compressed bytes reach are ever touched: the bound's worth of
  // address space costs no memory beyond them, and the result is then copied to its size.
  const int room = LZ4_compressBound(static_cast<int>(size));
  const std::unique_ptr<char[]> bound(new char[static_cast<std::size_t>(room)]);  // left unwritten
  const int packed = LZ4_compress_default(reinterpret_cast<const char*>(pixels.constBits()), bound.get(),
                                          static_cast<int>(size), room);
  if (packed <= 0) return nullptr;
  auto result = std::make_shared<PackedImage>();
  result->width_ = pixels.width();
  result->height_ = pixels.height();
  result->format_ = static_cast<int>(pixels.format());
  result->rowBytes_ = static_cast<std::size_t>(pixels.bytesPerLine());
  result->data_.assign(bound.get(), bound.get() + packed);
  return result;
}

CGImageRef PackedImage::unpack() const {
  QImage pixels(width_, height_, static_cast<QImage::Format>(format_));
  if (pixels.isNull() || static_cast<std::size_t>(pixels.bytesPerLine()) != rowBytes_) return nullptr;
  const int size = static_cast<int>(pixels.sizeInBytes());
  const int restored =
      LZ4_decompress_safe(data_.data(), reinterpret_cast<char*>(pixels.bits()), static_cast<int>(data_.size()), size);
  if (restored != size) return nullptr;
  return std::make_shared<const CGImage>(pixels);
}
