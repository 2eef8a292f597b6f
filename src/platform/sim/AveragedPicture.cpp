// Averaging runs down each source column first, then across: a drawn pixel's source rows
// are added once for all its columns. Down the columns, a strip of them is added up in
// registers row by row and stored once, in plain runs the compiler vectorises (eight
// pixels to an instruction where the processor has the wide ones). The edges, the column
// sums and the averaged pixels stay in memory kept per thread: a frame brought up to
// date averages a small part of a window some fifteen times a second, and taking fresh
// memory for each cost more than the adding.

#include "platform/sim/AveragedPicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sim {

namespace {

/// The source pixels [at[i], at[i + 1]) of a row or column of `limit` that lie under drawn
/// pixel `from + i` of a picture placed at `origin` with `step` source pixels to one drawn;
/// never none.
void sourceEdges(std::vector<int>& at, int from, int count, double origin, double step, int limit) {
  at.resize(static_cast<std::size_t>(count) + 1);
  for (std::size_t i = 0; i < at.size(); ++i)
    at[i] = std::clamp(static_cast<int>(std::floor((from + static_cast<int>(i) - origin) * step)), 0, limit);
  for (std::size_t i = 1; i < at.size(); ++i)
    if (at[i] <= at[i - 1]) at[i] = std::min(at[i - 1] + 1, limit);
}

/// A premultiplied pixel's blue and red, and its green and alpha, each channel in 16 bits
/// of its own, so that up to 257 of them add up without one reaching into the next; in
/// 32-bit lanes, the adding runs four or eight pixels to an instruction.
inline std::uint32_t blueRed(QRgb p) { return p & 0x00FF00FFu; }
inline std::uint32_t greenAlpha(QRgb p) { return (p >> 8) & 0x00FF00FFu; }

// The choice between the two is made by the loader before any thread sanitizer is ready, so
// a sanitized build runs the plain one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TRELLIQ_WIDE_TOO __attribute__((target_clones("avx2", "default")))
#else
#define TRELLIQ_WIDE_TOO
#endif

/// Eight 32-bit lanes: one instruction where the processor has the wide ones, two where not.
typedef std::uint32_t Lanes __attribute__((vector_size(32)));

/// Adds `span` columns of `rows` source lines, from `line` on, `stride` bytes apart, and
/// keeps in `upTo[c + 1]` the sum of the columns before c + 1, each column's blue, red,
/// green and alpha in 16 bits each, lowest first: the sum of columns [a, b) is then
/// upTo[b] - upTo[a], exact though the running sums overflow their fields, for no field of
/// the difference does.
TRELLIQ_WIDE_TOO void addDown(const uchar* line, qsizetype stride, int rows, int span, std::uint64_t* __restrict upTo) {
  constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(std::uint32_t);
  const Lanes mask = Lanes{} + 0x00FF00FFu;
  std::uint64_t sum = upTo[0] = 0;
  int c = 0;
  for (; c + 2 * static_cast<int>(kLanes) <= span; c += 2 * static_cast<int>(kLanes)) {
    Lanes b0{}, b1{}, g0{}, g1{};
    const uchar* at = line + c * 4;
    for (int row = 0; row < rows; ++row, at += stride) {
      Lanes p0, p1;
      std::memcpy(&p0, at, sizeof p0);
      std::memcpy(&p1, at + sizeof p0, sizeof p1);
      b0 += p0 & mask, b1 += p1 & mask;
      g0 += (p0 >> 8) & mask, g1 += (p1 >> 8) & mask;
    }
    for (std::size_t i = 0; i < kLanes; ++i)
      upTo[static_cast<std::size_t>(c) + i + 1] = sum += b0[i] | std::uint64_t{g0[i]} << 32;
    for (std::size_t i = 0; i < kLanes; ++i)
      upTo[static_cast<std::size_t>(c) + kLanes + i + 1] = sum += b1[i] | std::uint64_t{g1[i]} << 32;
  }
  for (; c < span; ++c) {
    std::uint32_t b = 0, g = 0;
    const uchar* at = line;
    for (int row = 0; row < rows; ++row, at += stride) {
      b += blueRed(reinterpret_cast<const QRgb*>(at)[c]);
      g += greenAlpha(reinterpret_cast<const QRgb*>(at)[c]);
    }
    upTo[c + 1] = sum += b | std::uint64_t{g} << 32;
  }
}

/// Dividing by a count of at most 256 as a multiply, exact for sums this small.
const std::array<std::uint64_t, 257> kInverses = [] {
  std::array<std::uint64_t, 257> each{};
  for (std::uint64_t n = 1; n < each.size(); ++n) each[n] = ((std::uint64_t{1} << 32) + n - 1) / n;
  return each;
}();

/// One drawn row into `out`: each pixel the mean of its columns' sums over `height` rows
/// (`upTo` as addDown leaves it). The pixels' bits that are set in all of them.
QRgb averageAcross(const std::vector<int>& columns, const std::uint64_t* upTo, int height, QRgb* out) {
  const int first = columns.front();
  QRgb all = ~QRgb{0};
  for (std::size_t x = 0; x + 1 < columns.size(); ++x) {
    const std::uint64_t sum = upTo[columns[x + 1] - first] - upTo[columns[x] - first];
    const std::uint64_t n =
        static_cast<std::uint64_t>(columns[x + 1] - columns[x]) * static_cast<std::uint64_t>(height);
    const std::uint64_t inverse = kInverses[n], half = n / 2;
    auto channel = [&](int shift) { return static_cast<QRgb>(((((sum >> shift) & 0xFFFFu) + half) * inverse) >> 32); };
    out[x] = channel(0) | channel(32) << 8 | channel(16) << 16 | channel(48) << 24;
    all &= out[x];
  }
  return all;
}

/// The most averaged pixels a thread keeps memory for: a part an animation changed fits.
constexpr std::size_t kKeptPixels = 256 * 256;

/// What one thread keeps from one averaging to the next.
struct Kept {
  std::vector<int> columns, rows;
  std::vector<std::uint64_t> upTo;
  std::vector<QRgb> averaged;
};

}  // namespace

bool drawAveraged(QPainter& painter, const QImage& content, const QRectF& target, const QRect& area) {
  const QRect drawn = area & target.toAlignedRect();
  if (drawn.isEmpty() || content.isNull()) return false;
  const QImage source = content.format() == QImage::Format_ARGB32_Premultiplied
                            ? content
                            : content.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  thread_local Kept kept;
  std::vector<int>& columns = kept.columns;
  std::vector<int>& rows = kept.rows;
  sourceEdges(columns, drawn.x(), drawn.width(), target.x(), source.width() / target.width(), source.width());
  sourceEdges(rows, drawn.y(), drawn.height(), target.y(), source.height() / target.height(), source.height());
  const int first = columns.front(), span = columns.back() - columns.front();
  kept.upTo.resize(static_cast<std::size_t>(span) + 1);
  kept.averaged.resize(static_cast<std::size_t>(drawn.width()) * static_cast<std::size_t>(drawn.height()));
  const uchar* bits = source.constBits();
  const qsizetype stride = source.bytesPerLine();
  QRgb all = ~QRgb{0};
  for (int y = 0; y < drawn.height(); ++y) {
    const int top = rows[static_cast<std::size_t>(y)], bottom = rows[static_cast<std::size_t>(y) + 1];
    addDown(bits + top * stride + first * 4, stride, bottom - top, span, kept.upTo.data());
    all &= averageAcross(columns, kept.upTo.data(), bottom - top,
                         kept.averaged.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(drawn.width()));
  }
  const QImage averaged(reinterpret_cast<const uchar*>(kept.averaged.data()), drawn.width(), drawn.height(),
                        static_cast<qsizetype>(drawn.width()) * 4, QImage::Format_ARGB32_Premultiplied);
  painter.drawImage(drawn.topLeft(), averaged);
  // What a whole window or display took is let go: kept, it would stay with the thread.
  if (kept.averaged.capacity() > kKeptPixels) kept.averaged = std::vector<QRgb>();
  return drawn == area && qAlpha(all) == 0xFF;
}

}  // namespace sim
