#pragma once
// Pictures handed between the platform and the product: captures of displays and
// windows, icons, composed pictures. The product treats them as opaque shared
// handles; only the platform and the views look inside.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QImage;

class CGImage {
 public:
  explicit CGImage(const QImage& image);
  /// A picture whose pixels are `image`'s, read from `bytes` of memory mapped from a file
  /// shared with another process (nothing in this program writes them).
  CGImage(const QImage& image, const void* shared, std::size_t bytes);
  ~CGImage();
  CGImage(const CGImage&) = delete;
  CGImage& operator=(const CGImage&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  /// The colour of one pixel as 0xAARRGGBB (for tests and self-checks).
  std::uint32_t pixel(int x, int y) const;
  /// Whether `other` is as large and holds the very same pixels. Any thread.
  bool samePixels(const CGImage& other) const;
  /// PNG bytes, or nothing when encoding fails.
  std::optional<std::vector<std::uint8_t>> pngData() const;
  /// JPEG bytes at the encoder's default quality, or nothing when encoding fails.
  std::optional<std::vector<std::uint8_t>> jpegData() const;
  const QImage& qimage() const;
  /// Gives back to the system the pages of a shared picture this program touched in
  /// reading it: they stay in the shared memory, and come back unchanged when it is read
  /// again. A picture drawn once into a window need not be held twice. Nothing for other
  /// pictures. Any thread.
  void releaseReadPages() const;

  /// A new picture without pixels (0 by 0): the stand-in for something that has no picture.
  static std::shared_ptr<const CGImage> empty();

 private:
  std::unique_ptr<QImage> image_;
  // Kept beside the pixels: the panels and the picture budget ask every held picture's
  // size many times a frame, and reaching into each picture missed the cache each time.
  int width_ = 0, height_ = 0;
  const void* shared_ = nullptr;
  std::size_t sharedBytes_ = 0;
};

using CGImageRef = std::shared_ptr<const CGImage>;

/// A picture's pixels kept compressed without loss: a display-sized picture nobody shows
/// holds a fraction of its bytes so, and unpacks to the very same pixels. Any thread.
class PackedImage {
 public:
  /// Null when `image` has no pixels or cannot be compressed.
  static std::shared_ptr<const PackedImage> pack(const CGImage& image);
  /// A new picture with the packed pixels; null when they cannot be restored.
  CGImageRef unpack() const;

  int width() const { return width_; }
  int height() const { return height_; }
  /// The compressed bytes held.
  std::size_t bytes() const { return data_.size(); }

 private:
  int width_ = 0, height_ = 0, format_ = 0;
  std::size_t rowBytes_ = 0;
  std::vector<char> data_;
};

using PackedImageRef = std::shared_ptr<const PackedImage>;
