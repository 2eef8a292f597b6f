#include "platform/SharedSurface.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Geometry.h"

namespace platform {

namespace {

constexpr std::uint32_t kMagic = 0x54535246;  // "TSRF"
constexpr std::uint32_t kLayoutVersion = 2;
/// The header's pages: readers map them writable (their holds live there), the pixels read-only.
constexpr std::size_t kHeaderSize = 8192;
/// How often a reader tries again when the owner keeps publishing under it.
constexpr int kReadAttempts = 64;
/// The buffer number in `published` while the owner draws over the newest frame.
constexpr std::uint64_t kWriting = 3;

std::string why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

struct SharedSurface::Header {
  std::uint32_t magic;
  std::uint32_t version;
  std::int32_t width;
  std::int32_t height;
  /// The surface's place in its window (SharedSurface::Placement), fixed when it is made.
  std::int32_t windowWidth;
  std::int32_t windowHeight;
  std::int32_t x;
  std::int32_t y;
  std::uint64_t stride;
  /// The newest frame: its sequence shifted left by two, and its buffer in the low bits
  /// (kWriting while the owner draws over it).
  std::atomic<std::uint64_t> published;
  /// Readers holding each buffer.
  std::atomic<std::uint32_t> readers[kBuffers];
  /// What frame `sequence` changed, at index sequence % kDamageHistory; a count of -1 is
  /// the whole frame. The sequence is 0 while the record is being written.
  struct Damage {
    std::atomic<std::uint64_t> sequence;
    std::atomic<std::int32_t> count;
    std::atomic<std::int32_t> rects[kDamageRects][4];
  } damage[kDamageHistory];
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::uint32_t>::is_always_lock_free,
              "the header is shared between processes, so its atomics must not hide a lock");

namespace {

std::size_t strideFor(int width) { return static_cast<std::size_t>(width) * 4; }

std::size_t sizeFor(int width, int height) {
  return kHeaderSize + SharedSurface::kBuffers * strideFor(width) * static_cast<std::size_t>(height);
}

bool sideFits(int side) { return side > 0 && side <= kMaxPictureSide; }

bool fitsIn(const SharedSurface::Placement& p, int width, int height) {
  return sideFits(p.windowWidth) && sideFits(p.windowHeight) && p.x >= 0 && p.y >= 0 && p.x <= p.windowWidth - width &&
         p.y <= p.windowHeight - height;
}

}  // namespace

SharedSurface::SharedSurface(int fd, void* memory, std::size_t size, int width, int height, Placement placement,
                             bool writable)
    : fd_(fd),
      memory_(memory),
      size_(size),
      width_(width),
      height_(height),
      stride_(strideFor(width)),
      placement_(placement),
      writable_(writable),
      header_(static_cast<Header*>(memory)) {
  static_assert(sizeof(Header) <= kHeaderSize);
}

SharedSurface::~SharedSurface() {
  if (writable_) {
    ::munmap(memory_, size_);
  } else {
    ::munmap(memory_, kHeaderSize);
    ::munmap(pixels_, size_ - kHeaderSize);
  }
  ::close(fd_);
}

std::shared_ptr<SharedSurface> SharedSurface::create(int width, int height, std::string* problem,
                                                     std::optional<Placement> placement) {
  auto fail = [&](std::string text) -> std::shared_ptr<SharedSurface> {
    if (problem) *problem = std::move(text);
    return nullptr;
  };
  if (!sideFits(width) || !sideFits(height)) {
    return fail("a surface of " + std::to_string(width) + " by " + std::to_string(height) + " pixels is out of bounds");
  }
  const Placement place = placement.value_or(Placement{width, height, 0, 0});
  if (!fitsIn(place, width, height)) return fail("a surface placed outside its window");
  const int fd = ::memfd_create("trelliq-surface", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return fail(why("cannot make shared memory"));
  const std::size_t size = sizeFor(width, height);
  // Sealed at its size: a reader in another process can never find its mapping cut short.
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
      ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    const std::string text = why("cannot size shared memory");
    ::close(fd);
    return fail(text);
  }
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    const std::string text = why("cannot map shared memory");
    ::close(fd);
    return fail(text);
  }
  auto* header = new (memory) Header{};
  header->magic = kMagic;
  header->version = kLayoutVersion;
  header->width = width;
  header->height = height;
  header->windowWidth = place.windowWidth;
  header->windowHeight = place.windowHeight;
  header->x = place.x;
  header->y = place.y;
  header->stride = strideFor(width);
  return std::shared_ptr<SharedSurface>(new SharedSurface(fd, memory, size, width, height, place, true));
}

std::shared_ptr<const SharedSurface> SharedSurface::map(int fd, std::string* problem) {
  auto fail = [&](std::string text) -> std::shared_ptr<const SharedSurface> {
    if (fd >= 0) ::close(fd);
    if (problem) *problem = std::move(text);
    return nullptr;
  };
  if (fd < 0) return fail("no descriptor");
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || !(seals & F_SEAL_SHRINK)) return fail("the surface's memory is not sealed against shrinking");
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kHeaderSize)) {
    return fail("the surface's memory is too small for its header");
  }
  void* head = ::mmap(nullptr, kHeaderSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (head == MAP_FAILED) return fail(why("cannot map a surface's header"));
  // Read once and kept: the owner could change them later, the mapping's size cannot.
  const auto* header = static_cast<const Header*>(head);
  const std::uint32_t magic = header->magic, version = header->version;
  const int width = header->width, height = header->height;
  const Placement place{header->windowWidth, header->windowHeight, header->x, header->y};
  const std::uint64_t stride = header->stride;
  if (magic != kMagic || version != kLayoutVersion || !sideFits(width) || !sideFits(height) ||
      !fitsIn(place, width, height) || stride != strideFor(width) ||
      static_cast<std::uint64_t>(info.st_size) != sizeFor(width, height)) {
    ::munmap(head, kHeaderSize);
    return fail("the memory handed over is not a surface of this layout");
  }
  const std::size_t size = sizeFor(width, height);
  void* pixels = ::mmap(nullptr, size - kHeaderSize, PROT_READ, MAP_SHARED, fd, kHeaderSize);
  if (pixels == MAP_FAILED) {
    const std::string text = why("cannot map a surface's pixels");
    ::munmap(head, kHeaderSize);
    return fail(text);
  }
  // The two mappings stand in for one: the pixels are reached from the header's address.
  auto* surface = new SharedSurface(fd, head, size, width, height, place, false);
  surface->pixels_ = static_cast<std::uint8_t*>(pixels);
  return std::shared_ptr<const SharedSurface>(surface);
}

const std::uint8_t* SharedSurface::pixels(int index) const {
  const std::uint8_t* base = pixels_ ? pixels_ : static_cast<const std::uint8_t*>(memory_) + kHeaderSize;
  return base + static_cast<std::size_t>(index) * stride_ * static_cast<std::size_t>(height_);
}

std::uint64_t SharedSurface::sequence() const { return header_->published.load(std::memory_order_acquire) >> 2; }

bool SharedSurface::read(const std::function<void(const QImage&, std::uint64_t)>& use, bool* busy) const {
  if (busy) *busy = false;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const std::uint64_t newest = header_->published.load();
    const std::uint64_t sequence = newest >> 2;
    const auto buffer = static_cast<int>(newest & 3);
    if (sequence == 0) return false;
    if (newest % 4 == kWriting) {
      // The owner copies parts over the newest frame, or stopped or died doing so: a
      // reader never waits on it.
      if (busy) *busy = true;
      return false;
    }
    // Held first, then checked still newest: the owner never writes a buffer that is held,
    // nor the newest without marking it first, so from here on it stays as published.
    header_->readers[buffer].fetch_add(1);
    if (header_->published.load() == newest) {
      const QImage frame(pixels(buffer), width_, height_, static_cast<qsizetype>(stride_),
                         QImage::Format_ARGB32_Premultiplied);
      use(frame, sequence);
      header_->readers[buffer].fetch_sub(1);
      return true;
    }
    header_->readers[buffer].fetch_sub(1);
  }
  return false;
}

QImage SharedSurface::copy() const {
  QImage result;
  read([&](const QImage& frame, std::uint64_t) { result = frame.copy(); });
  return result;
}

std::optional<QRegion> SharedSurface::damageSince(std::uint64_t since) const {
  const std::uint64_t newest = sequence();
  if (since == newest) return QRegion();
  if (since == 0 || since > newest || newest - since >= static_cast<std::uint64_t>(kDamageHistory)) return std::nullopt;
  const QRect whole(0, 0, width_, height_);
  QRegion changed;
  for (std::uint64_t s = since + 1; s <= newest; ++s) {
    const Header::Damage& record = header_->damage[s % kDamageHistory];
    if (record.sequence.load(std::memory_order_acquire) != s) return std::nullopt;
    const int count = record.count.load(std::memory_order_relaxed);
    QRegion part;
    if (count < 0 || count > kDamageRects) {
      part = whole;
    } else {
      for (int i = 0; i < count; ++i) {
        const auto& r = record.rects[i];
        part += QRect(r[0].load(std::memory_order_relaxed), r[1].load(std::memory_order_relaxed),
                      r[2].load(std::memory_order_relaxed), r[3].load(std::memory_order_relaxed)) &
                whole;
      }
    }
    // Checked again after reading: a record the owner rewrote meanwhile is no answer.
    std::atomic_thread_fence(std::memory_order_acquire);
    if (record.sequence.load(std::memory_order_relaxed) != s) return std::nullopt;
    changed += part;
  }
  return changed;
}

int SharedSurface::freeBuffer(int front) const {
  for (int i = 0; i < kBuffers; ++i) {
    if (i != front && header_->readers[i].load() == 0) return i;
  }
  return -1;
}

std::pair<int, std::uint64_t> SharedSurface::nextBuffer() const {
  const std::uint64_t newest = header_->published.load();
  const std::uint64_t previous = newest >> 2;
  const int front = previous == 0 ? -1 : static_cast<int>(newest & 3);
  return {freeBuffer(front), previous + 1};
}

bool SharedSurface::publishDrawn(const std::function<void(QImage& buffer)>& draw) {
  if (!writable_) return false;
  const auto [buffer, sequence] = nextBuffer();
  if (buffer < 0) return false;
  auto* target = const_cast<std::uint8_t*>(pixels(buffer));
  // Only what may hold a drawing is cleared: the pages never written stay untouched.
  for (const QRect& r : written_[buffer]) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      std::memset(target + static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(r.left()) * 4, 0,
                  static_cast<std::size_t>(r.width()) * 4);
  }
  const QRect whole(0, 0, width_, height_);
  {
    QImage canvas(target, width_, height_, static_cast<qsizetype>(stride_), QImage::Format_ARGB32_Premultiplied);
    draw(canvas);
  }
  written_[buffer] = whole;
  const std::uint64_t newest = header_->published.load();
  const int before = newest >> 2 == 0 ? -1 : static_cast<int>(newest & 3);
  makeNewest(buffer, sequence, whole);
  // The frame before is never copied from (the next is drawn whole again), and a reader
  // that holds it only from now on finds it no longer newest and leaves it: its pages go
  // back to the system, so a still window keeps one buffer resident, not two.
  if (before >= 0 && header_->readers[before].load() == 0) release(before);
  return true;
}

void SharedSurface::release(int index) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t bytes = stride_ * static_cast<std::size_t>(height_);
  const std::size_t start = kHeaderSize + static_cast<std::size_t>(index) * bytes;
  // Whole pages only: a page it shares with the next buffer keeps that one's pixels.
  const std::size_t first = (start + page - 1) / page * page, end = (start + bytes) / page * page;
  if (end > first) ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(first),
                               static_cast<off_t>(end - first));
  held_[index] = 0;
  written_[index] = QRegion();
}

bool SharedSurface::publishOver(const QImage& parts, QPoint at, const QRegion& damage) {
  if (!writable_ || parts.format() != QImage::Format_ARGB32_Premultiplied) return false;
  const std::uint64_t newest = header_->published.load();
  const std::uint64_t sequence = newest >> 2;
  if (sequence == 0) return false;
  const QRegion changed = damage & QRect(0, 0, width_, height_) & QRect(at, parts.size());
  if (changed.isEmpty()) return true;
  const auto front = static_cast<int>(newest & 3);
  // Marked first, then checked unheld: a reader holds before it checks the mark, so
  // either it reads on and the owner leaves, or it sees the mark and goes without.
  header_->published.store(sequence << 2 | kWriting);
  if (header_->readers[front].load() != 0) {
    header_->published.store(newest);
    return false;
  }
  // Under the mark only rows are copied: the parts were drawn before it was set.
  auto* base = const_cast<std::uint8_t*>(pixels(front));
  for (const QRect& r : changed) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      std::memcpy(base + static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(r.left()) * 4,
                  parts.constScanLine(y - at.y()) + static_cast<qsizetype>(r.left() - at.x()) * 4,
                  static_cast<std::size_t>(r.width()) * 4);
  }
  makeNewest(front, sequence + 1, changed);
  written_[front] += changed;
  // Frames before, never copied from again: their pages go back once no reader holds them.
  for (int i = 0; i < kBuffers; ++i) {
    if (i != front && (held_[i] != 0 || !written_[i].isEmpty()) && header_->readers[i].load() == 0) release(i);
  }
  return true;
}

void SharedSurface::holdDrawingOver(bool held) {
  if (!writable_) return;
  const std::uint64_t newest = header_->published.load();
  if (held && newest % 4 != kWriting) {
    beforeHold_ = newest;
    header_->published.store((newest >> 2) << 2 | kWriting);
  } else if (!held && newest % 4 == kWriting) {
    header_->published.store(beforeHold_);
  }
}

bool SharedSurface::publish(const QImage& picture, const QRegion& damage, const QRegion* inked) {
  if (!writable_ || picture.width() != width_ || picture.height() != height_ ||
      picture.format() != QImage::Format_ARGB32_Premultiplied)
    return false;
  const auto [buffer, sequence] = nextBuffer();
  if (buffer < 0) return false;
  const QRect whole(0, 0, width_, height_);
  const QRegion changed = damage.isEmpty() ? QRegion(whole) : damage & whole;
  // The buffer lacks what changed since the frame it holds, and what changes now.
  QRegion copied = whole;
  if (held_[buffer] != 0) {
    if (auto since = damageSince(held_[buffer])) copied = *since + changed;
  }
  // Transparent in both the picture and the buffer: nothing to copy.
  if (inked) {
    const QRegion drawn = *inked & whole;
    QRegion& written = written_[buffer];
    const QRegion lacking = copied;
    copied &= drawn + written;
    written = (written - lacking) + (lacking & drawn);
  } else {
    written_[buffer] += copied;
  }
  auto* target = const_cast<std::uint8_t*>(pixels(buffer));
  for (const QRect& r : copied) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
      std::memcpy(target + static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(r.left()) * 4,
                  picture.constScanLine(y) + static_cast<std::size_t>(r.left()) * 4,
                  static_cast<std::size_t>(r.width()) * 4);
    }
  }
  makeNewest(buffer, sequence, changed);
  return true;
}

void SharedSurface::makeNewest(int buffer, std::uint64_t sequence, const QRegion& changed) {
  Header::Damage& record = header_->damage[sequence % kDamageHistory];
  record.sequence.store(0, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  if (changed.rectCount() > kDamageRects) {
    const QRect r = changed.boundingRect();
    record.count.store(1, std::memory_order_relaxed);
    const int values[4] = {r.x(), r.y(), r.width(), r.height()};
    for (int k = 0; k < 4; ++k) record.rects[0][k].store(values[k], std::memory_order_relaxed);
  } else {
    int i = 0;
    for (const QRect& r : changed) {
      const int values[4] = {r.x(), r.y(), r.width(), r.height()};
      for (int k = 0; k < 4; ++k) record.rects[i][k].store(values[k], std::memory_order_relaxed);
      ++i;
    }
    record.count.store(i, std::memory_order_relaxed);
  }
  record.sequence.store(sequence, std::memory_order_release);
  header_->published.store(sequence << 2 | static_cast<std::uint64_t>(buffer));
  held_[buffer] = sequence;
}

QImage premultipliedPixels(const QImage& image, const QRect& area) {
  if (image.format() != QImage::Format_RGB32)
    return (area == image.rect() ? image : image.copy(area)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return QImage(image.constScanLine(area.top()) + static_cast<std::ptrdiff_t>(area.left()) * 4, area.width(),
                area.height(), image.bytesPerLine(), QImage::Format_ARGB32_Premultiplied);
}

}  // namespace platform
