#pragma once
// A window's picture as a window server keeps it: pixels in shared memory that the
// window's owner draws and publishes frame by frame, and that readers (the window server
// in this process, or the world host in its own) take the newest frame of without ever
// waiting for the owner. The memory is a sealed memfd: handed to another process as a
// descriptor, mapped there read-only, and a new one is made when the size changes.
//
// Each published frame has a sequence number (1, 2, …; 0 means nothing is published yet)
// and a damage record: the rectangles, in the surface's pixels, that differ from the frame
// before. A reader that kept the sequence it last used asks what changed since, so it can
// compose only when something changed and copy only the parts that did.
//
// The memory holds a header and three buffers. The owner writes a buffer that is neither
// the newest frame nor held by a reader, then publishes it in one atomic store; a reader
// holds the newest buffer by a count in the header while it reads. Neither side blocks on
// the other: an owner that finds no free buffer publishes later, and a reader always
// finds the newest frame whole. An owner may instead copy a few parts, drawn beforehand,
// over the newest frame in its own buffer (publishOver), marking it as being written
// meanwhile, so a window that changes in parts keeps one buffer of pages, not two. A
// reader that finds the mark does not wait: it is told the surface is busy and goes
// without (a window server shows what it showed before), so an owner stopped or killed
// in the middle of the copy never holds anyone up.

#include <QImage>
#include <QRegion>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace platform {

class SharedSurface {
 public:
  static constexpr int kBuffers = 3;
  /// How many frames back a damage record is kept.
  static constexpr int kDamageHistory = 16;
  /// Rectangles per damage record; more are merged into their bounding rectangle.
  static constexpr int kDamageRects = 16;

  /// Where a surface lies in its window, in the window's pixels: a window that draws into
  /// only part of itself keeps a surface of that part, and is clear elsewhere.
  struct Placement {
    int windowWidth = 0, windowHeight = 0;
    int x = 0, y = 0;  // the surface's top left corner
    friend bool operator==(const Placement&, const Placement&) = default;
  };

  /// A new surface of `width` × `height` pixels (premultiplied ARGB), owned by the caller
  /// for writing; null with the reason in `problem` when the memory cannot be had. It
  /// covers its window whole unless `placement` puts it in a larger one (which it must
  /// fit in).
  static std::shared_ptr<SharedSurface> create(int width, int height, std::string* problem = nullptr,
                                               std::optional<Placement> placement = std::nullopt);
  /// Maps a surface another process made from its descriptor `fd` (taken over: closed
  /// here whatever the outcome), read-only; null with the reason when it is not one (not
  /// sealed against shrinking, a size that does not match its header, out of bounds).
  static std::shared_ptr<const SharedSurface> map(int fd, std::string* problem = nullptr);

  ~SharedSurface();
  SharedSurface(const SharedSurface&) = delete;
  SharedSurface& operator=(const SharedSurface&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  const Placement& placement() const { return placement_; }
  /// The memory's descriptor, to hand to another process (it stays this surface's).
  int descriptor() const { return fd_; }

  // ---- The owner (one thread) ----
  /// Publishes `picture` (this surface's size) as the next frame with `damage` (pixels,
  /// clipped to the surface; empty means the whole picture) as what changed. Copies into
  /// the free buffer only what it lacks; given `inked`, the picture is transparent outside
  /// it, and what the buffer already holds as transparent there is not copied again (a
  /// whole frame of a mostly empty window copies only its drawing). False, publishing
  /// nothing, when every other buffer is held by a reader: the owner tries again with the
  /// damage kept.
  bool publish(const QImage& picture, const QRegion& damage, const QRegion* inked = nullptr);
  /// Publishes a whole frame that `draw` paints straight into the free buffer (cleared
  /// first), so the owner keeps no picture of its own beside the buffers: for a window
  /// drawn whole whenever it changes. The frame before goes back to the system once no
  /// reader holds it. False, drawing nothing, when every other buffer is held by a reader.
  bool publishDrawn(const std::function<void(QImage& buffer)>& draw);
  /// Publishes the next frame as the newest one with `damage` (pixels, clipped to the
  /// surface and to `parts` placed at `at`) copied over it from `parts` (premultiplied),
  /// in the newest frame's own buffer: marked as being written only while the rows are
  /// copied, so the parts are drawn beforehand into a picture of their own size. The
  /// other buffers go back to the system once no reader holds them, so a window drawn
  /// this way keeps one buffer resident. Nothing to copy publishes no frame. False,
  /// copying nothing, before the first frame or while a reader holds the newest: the
  /// owner tries again.
  bool publishOver(const QImage& parts, QPoint at, const QRegion& damage);
  /// Marks the newest frame as being written, as publishOver does while it copies, until
  /// called with false: what readers find when the owner stops or dies in the middle of
  /// a copy. For tests.
  void holdDrawingOver(bool held);

  // ---- Readers (any thread, any process) ----
  /// The newest frame's sequence; 0 before the first.
  std::uint64_t sequence() const;
  /// Calls `use` with the newest frame (a picture over the shared pixels, valid only during
  /// the call, never to be written) and its sequence; false at once without calling it
  /// when nothing is published yet, or when the owner is copying parts over the newest
  /// frame (or stopped or died doing so): then `busy`, when given, is set, and the
  /// caller shows what it read before, or nothing.
  bool read(const std::function<void(const QImage& frame, std::uint64_t sequence)>& use, bool* busy = nullptr) const;
  /// A copy of the newest frame; a null image before the first, or while it is busy.
  QImage copy() const;
  /// The union of what changed after frame `since` up to the newest; nothing when the
  /// records no longer reach back that far (or `since` is 0): take the whole frame.
  std::optional<QRegion> damageSince(std::uint64_t since) const;

 private:
  struct Header;
  SharedSurface(int fd, void* memory, std::size_t size, int width, int height, Placement placement, bool writable);
  /// Buffer `index`'s first pixel.
  const std::uint8_t* pixels(int index) const;
  /// A buffer other than `front` that no reader holds; -1 when there is none.
  int freeBuffer(int front) const;
  /// The free buffer for the next frame and that frame's sequence; -1 when none is free.
  std::pair<int, std::uint64_t> nextBuffer() const;
  /// Gives buffer `index`'s pages back to the system (it reads as clear afterwards).
  void release(int index);
  /// Records `changed` as frame `sequence`'s damage and makes `buffer` the newest frame.
  void makeNewest(int buffer, std::uint64_t sequence, const QRegion& changed);

  int fd_;
  void* memory_;
  std::size_t size_;
  int width_;
  int height_;
  std::size_t stride_;
  Placement placement_;
  bool writable_;
  Header* header_;
  std::uint8_t* pixels_ = nullptr;  // a reader's separate read-only mapping of the buffers
  // The owner's own bookkeeping: which frame each buffer holds (0: none or unknown), and
  // where each may hold anything but transparent pixels (new memory is all zeros).
  std::uint64_t held_[kBuffers] = {};
  QRegion written_[kBuffers];
  std::uint64_t beforeHold_ = 0;  // the newest frame as holdDrawingOver found it
};

/// `area` of `image` (within it) as premultiplied pixels, as a surface publishes them. An
/// opaque frame (Format_RGB32) is read where it lies, its pixels premultiplied already
/// (alpha 0xFF): valid only while `image` lives unchanged. Any other is a converted copy.
QImage premultipliedPixels(const QImage& image, const QRect& area);

}  // namespace platform
