// Surfaces in shared memory: frames and their damage as a reader in another process sees
// them, buffers a reader holds left alone, a surface's place in its window, and memory
// that is not a surface refused.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPainter>
#include <vector>

#include "platform/SharedSurface.h"

namespace {

QImage filled(QRgb color) {
  QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

/// The surface as another process maps it, from a copy of its descriptor.
std::shared_ptr<const platform::SharedSurface> mapped(const platform::SharedSurface& surface) {
  return platform::SharedSurface::map(::fcntl(surface.descriptor(), F_DUPFD_CLOEXEC, 0));
}

TEST(SharedSurface, AMappedReaderSeesEachPublishedFrameAndWhatChangedSince) {
  auto owner = platform::SharedSurface::create(40, 30);
  ASSERT_TRUE(owner);
  auto reader = mapped(*owner);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->sequence(), 0u);
  EXPECT_TRUE(reader->copy().isNull()) << "nothing is published yet";

  ASSERT_TRUE(owner->publish(filled(qRgb(255, 0, 0)), QRegion()));
  QImage red = filled(qRgb(255, 0, 0));
  QImage changed = red;
  changed.setPixel(5, 5, qRgb(0, 0, 255));
  ASSERT_TRUE(owner->publish(changed, QRegion(5, 5, 1, 1)));
  changed.setPixel(30, 20, qRgb(0, 255, 0));
  ASSERT_TRUE(owner->publish(changed, QRegion(30, 20, 1, 1)));

  EXPECT_EQ(reader->sequence(), 3u);
  EXPECT_EQ(reader->copy(), changed);
  EXPECT_EQ(reader->damageSince(1), QRegion(5, 5, 1, 1) + QRegion(30, 20, 1, 1));
  EXPECT_EQ(reader->damageSince(2), QRegion(30, 20, 1, 1));
  EXPECT_EQ(reader->damageSince(3), QRegion());
  EXPECT_FALSE(reader->damageSince(0)) << "a reader that has seen nothing takes the whole frame";
  // The records reach back only so far.
  for (int i = 0; i < platform::SharedSurface::kDamageHistory; ++i)
    ASSERT_TRUE(owner->publish(changed, QRegion(0, 0, 1, 1)));
  EXPECT_FALSE(reader->damageSince(3));
  // Buffers written long ago get what changed meanwhile: the newest frame is whole.
  EXPECT_EQ(reader->copy(), changed);
}

// A window says where its frame is drawn: every buffer, each taking its turn, still shows
// exactly the newest frame, a drawing taken away and one moved included.
TEST(SharedSurface, FramesSayingWhereTheyAreDrawnShowWholeInEveryBuffer) {
  auto owner = platform::SharedSurface::create(40, 30);
  auto reader = mapped(*owner);
  const QRect first(2, 2, 8, 6), second(20, 10, 8, 6), none;
  const std::vector<std::pair<QRect, QRgb>> drawings = {{first, qRgb(255, 0, 0)},
                                                        {none, 0},
                                                        {second, qRgb(0, 0, 255)},
                                                        {none, 0},
                                                        {first, qRgb(0, 255, 0)},
                                                        {none, 0},
                                                        {none, 0}};
  QRect before;
  for (std::size_t i = 0; i < drawings.size(); ++i) {
    const auto& [at, color] = drawings[i];
    QImage frame = filled(0);
    if (!at.isEmpty()) QPainter(&frame).fillRect(at, QColor::fromRgba(color));
    const QRegion drawn(at);
    ASSERT_TRUE(owner->publish(frame, i == 0 ? QRegion() : QRegion(before) + at, &drawn));
    EXPECT_EQ(reader->copy(), frame) << "frame " << i + 1;
    before = at;
  }
}

TEST(SharedSurface, ABufferAReaderHoldsIsNeverWrittenAndTheOwnerWaitsForNone) {
  auto owner = platform::SharedSurface::create(40, 30);
  ASSERT_TRUE(owner->publish(filled(qRgb(1, 0, 0)), QRegion()));
  auto reader = mapped(*owner);
  reader->read([&](const QImage& first, std::uint64_t) {
    ASSERT_TRUE(owner->publish(filled(qRgb(2, 0, 0)), QRegion()));
    reader->read([&](const QImage& second, std::uint64_t) {
      ASSERT_TRUE(owner->publish(filled(qRgb(3, 0, 0)), QRegion()));
      // Frames 1 and 2 are held and frame 3 is the newest: no buffer is free.
      EXPECT_FALSE(owner->publish(filled(qRgb(4, 0, 0)), QRegion()));
      EXPECT_EQ(second.pixel(0, 0), qRgb(2, 0, 0));
    });
    EXPECT_EQ(first.pixel(39, 29), qRgb(1, 0, 0));
  });
  EXPECT_TRUE(owner->publish(filled(qRgb(4, 0, 0)), QRegion())) << "let go, the buffers are free again";
  EXPECT_EQ(reader->copy().pixel(0, 0), qRgb(4, 0, 0));
}

// A window drawn whole keeps no picture beside its surface: each frame is drawn straight
// into a buffer, and the frame before, never copied from again, gives its pages back.
TEST(SharedSurface, FramesDrawnInPlaceKeepOneBufferResident) {
  auto owner = platform::SharedSurface::create(512, 512);
  ASSERT_TRUE(owner);
  auto reader = mapped(*owner);
  const auto drawWith = [](QRgb color) { return [color](QImage& buffer) { buffer.fill(color); }; };
  const auto residentBytes = [&] {
    struct stat s {};
    ::fstat(owner->descriptor(), &s);
    return static_cast<long long>(s.st_blocks) * 512;
  };
  const long long buffer = 512LL * 512 * 4;
  for (const QRgb color : {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)}) {
    ASSERT_TRUE(owner->publishDrawn(drawWith(color)));
    QImage expected(512, 512, QImage::Format_ARGB32_Premultiplied);
    expected.fill(color);
    EXPECT_EQ(reader->copy(), expected);
    EXPECT_EQ(reader->damageSince(reader->sequence() - 1).value_or(QRegion(0, 0, 512, 512)), QRegion(0, 0, 512, 512));
    EXPECT_LT(residentBytes(), buffer * 3 / 2) << "one buffer resident, not two";
  }
  // A buffer a reader holds stays as it is.
  reader->read([&](const QImage& held, std::uint64_t) {
    const QImage before = held.copy();
    ASSERT_TRUE(owner->publishDrawn(drawWith(qRgb(9, 9, 9))));
    EXPECT_EQ(held, before);
  });
}

// A window that changes in parts draws them over the newest frame in its own buffer: one
// buffer stays resident (a frame before goes once no reader holds it), a part that changes nothing is no frame, and the newest frame a
// reader holds is left alone until it lets go.
TEST(SharedSurface, PartsDrawnOverTheNewestFrameKeepOneBufferResident) {
  auto owner = platform::SharedSurface::create(512, 512);
  auto reader = mapped(*owner);
  const auto residentBytes = [&] {
    struct stat s {};
    ::fstat(owner->descriptor(), &s);
    return static_cast<long long>(s.st_blocks) * 512;
  };
  // The owner's parts drawn beside the surface, copied over it.
  const auto over = [&](QRgb color, QRect part) {
    QImage parts(part.size(), QImage::Format_ARGB32_Premultiplied);
    parts.fill(color);
    return owner->publishOver(parts, part.topLeft(), QRegion(part));
  };
  EXPECT_FALSE(over(qRgb(1, 1, 1), QRect(0, 0, 8, 8))) << "nothing to draw over yet";
  ASSERT_TRUE(owner->publishDrawn([](QImage& buffer) { buffer.fill(qRgb(255, 0, 0)); }));
  // Drawn whole again while a reader holds the first frame: that one stays until let go.
  reader->read([&](const QImage&, std::uint64_t) {
    ASSERT_TRUE(owner->publishDrawn([](QImage& buffer) { buffer.fill(qRgb(255, 0, 0)); }));
  });
  QImage expected(512, 512, QImage::Format_ARGB32_Premultiplied);
  expected.fill(qRgb(255, 0, 0));
  for (int i = 0; i < 4; ++i) {
    const QRect part(i * 100, i * 50, 90, 40);
    ASSERT_TRUE(over(qRgb(0, 0, 255), part));
    QPainter(&expected).fillRect(part, QColor(0, 0, 255));
    EXPECT_EQ(reader->copy(), expected) << "part " << i;
    EXPECT_EQ(reader->damageSince(reader->sequence() - 1), QRegion(part));
    EXPECT_LT(residentBytes(), 512LL * 512 * 4 * 3 / 2) << "one buffer resident, not two";
  }
  const std::uint64_t newest = reader->sequence();
  ASSERT_TRUE(owner->publishOver(QImage(8, 8, QImage::Format_ARGB32_Premultiplied), QPoint(), QRegion()));
  EXPECT_EQ(reader->sequence(), newest) << "nothing changed: no frame";
  reader->read([&](const QImage& held, std::uint64_t) {
    EXPECT_FALSE(over(qRgb(0, 255, 0), QRect(0, 0, 8, 8)));
    EXPECT_EQ(held.pixel(0, 0), qRgb(0, 0, 255)) << "the held frame as it was";
  });
  EXPECT_TRUE(over(qRgb(0, 255, 0), QRect(0, 0, 8, 8)));
  EXPECT_EQ(reader->copy().pixel(0, 0), qRgb(0, 255, 0));
}

// The owner stopped (or killed) in the middle of copying parts over its newest frame: a
// reader is told at once that the surface is busy, never waits for an owner that may
// never finish, and tells that apart from a surface with nothing published yet.
TEST(SharedSurface, AReaderThatFindsTheOwnerCopyingGoesWithoutAtOnce) {
  auto owner = platform::SharedSurface::create(64, 64);
  auto reader = mapped(*owner);
  bool busy = true, called = false;
  EXPECT_FALSE(reader->read([&](const QImage&, std::uint64_t) { called = true; }, &busy));
  EXPECT_FALSE(busy) << "nothing published yet is not busy";
  ASSERT_TRUE(owner->publishDrawn([](QImage& buffer) { buffer.fill(qRgb(255, 0, 0)); }));
  owner->holdDrawingOver(true);
  EXPECT_FALSE(reader->read([&](const QImage&, std::uint64_t) { called = true; }, &busy));
  EXPECT_TRUE(busy);
  EXPECT_FALSE(called);
  EXPECT_TRUE(reader->copy().isNull());
  owner->holdDrawingOver(false);
  EXPECT_TRUE(
      reader->read([&](const QImage& frame, std::uint64_t) { called = frame.pixel(0, 0) == qRgb(255, 0, 0); }, &busy));
  EXPECT_FALSE(busy);
  EXPECT_TRUE(called) << "the frame as it was before the copy began";
}

TEST(SharedSurface, MemoryThatIsNotASealedSurfaceIsRefused) {
  std::string problem;
  const int unsealed = ::memfd_create("not-a-surface", MFD_CLOEXEC);
  ASSERT_EQ(::ftruncate(unsealed, 1 << 20), 0);
  EXPECT_FALSE(platform::SharedSurface::map(unsealed, &problem));
  EXPECT_NE(problem.find("sealed"), std::string::npos) << problem;

  const int wrong = ::memfd_create("not-a-surface", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  ASSERT_EQ(::ftruncate(wrong, 1 << 20), 0);
  ASSERT_EQ(::fcntl(wrong, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
  EXPECT_FALSE(platform::SharedSurface::map(wrong, &problem));
  EXPECT_FALSE(platform::SharedSurface::create(0, 10));
  EXPECT_FALSE(platform::SharedSurface::create(10, 1 << 20));
}

TEST(SharedSurface, APlacedSurfaceTellsItsPlaceAndOneClaimingAPlaceOutsideItsWindowIsRefused) {
  using Placement = platform::SharedSurface::Placement;
  EXPECT_FALSE(platform::SharedSurface::create(40, 30, nullptr, Placement{100, 50, 70, 0})) << "past the right edge";
  auto owner = platform::SharedSurface::create(40, 30, nullptr, Placement{100, 50, 60, 20});
  ASSERT_TRUE(owner);
  auto reader = mapped(*owner);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->placement(), (Placement{100, 50, 60, 20}));

  // An owner that moves its surface past its window's edge afterwards: the x of the
  // place, after the header's magic, version, size and window size.
  void* header = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, owner->descriptor(), 0);
  ASSERT_NE(header, MAP_FAILED);
  static_cast<std::int32_t*>(header)[6] = 61;
  ::munmap(header, 4096);
  std::string problem;
  EXPECT_FALSE(platform::SharedSurface::map(::fcntl(owner->descriptor(), F_DUPFD_CLOEXEC, 0), &problem));
  EXPECT_NE(problem.find("not a surface"), std::string::npos) << problem;
}

}  // namespace
