#include "platform/sim/FramePixels.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace sim {

struct FramePixels::Pool {
  struct Piece {
    std::unique_ptr<uchar[]> bytes;
    std::size_t size = 0;
    std::optional<double> since;  // when first found unused (dropUnused); nothing: not yet
  };
  /// What an image lent from the pool carries until its last copy goes.
  struct Loan {
    std::shared_ptr<Pool> pool;
    Piece piece;
  };
  explicit Pool(std::size_t largest) : largestKept(largest) {}
  const std::size_t largestKept;
  std::mutex mutex;
  std::vector<Piece> spare;  // the most recently given back last

  Piece take(std::size_t size) {
    std::lock_guard lock(mutex);
    // A piece much larger than asked would hold memory the frame does not use.
    auto fits = [&](const Piece& p) { return p.size >= size && p.size - size <= size / 4; };
    for (auto it = spare.rbegin(); it != spare.rend(); ++it) {
      if (!fits(*it)) continue;
      Piece piece = std::move(*it);
      spare.erase(std::next(it).base());
      return piece;
    }
    return {};
  }
  void giveBack(Piece piece) {
    if (piece.size > largestKept) return;
    std::lock_guard lock(mutex);
    piece.since.reset();
    spare.push_back(std::move(piece));
    if (spare.size() > kSpare) spare.erase(spare.begin());
  }
};

FramePixels::FramePixels(std::size_t largestKept) : pool_(std::make_shared<Pool>(largestKept)) {}

QImage FramePixels::image(int width, int height) {
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  const std::size_t size = stride * static_cast<std::size_t>(height);
  auto* loan = new Pool::Loan{pool_, pool_->take(size)};
  if (!loan->piece.bytes) loan->piece = {std::unique_ptr<uchar[]>(new uchar[size]), size, std::nullopt};
  return QImage(
      loan->piece.bytes.get(), width, height, static_cast<qsizetype>(stride), QImage::Format_RGB32,
      [](void* info) {
        std::unique_ptr<Pool::Loan> done(static_cast<Pool::Loan*>(info));
        done->pool->giveBack(std::move(done->piece));
      },
      loan);
}

void FramePixels::clear() {
  std::lock_guard lock(pool_->mutex);
  pool_->spare.clear();
}

std::optional<double> FramePixels::dropUnused(double now, double seconds) {
  std::lock_guard lock(pool_->mutex);
  auto& spare = pool_->spare;
  for (Pool::Piece& piece : spare)
    if (!piece.since) piece.since = now;
  std::erase_if(spare, [&](const Pool::Piece& piece) { return now - *piece.since >= seconds; });
  if (spare.empty()) return std::nullopt;
  double oldest = now;
  for (const Pool::Piece& piece : spare) oldest = std::min(oldest, *piece.since);
  return oldest + seconds - now;
}

std::size_t FramePixels::spareBytes() const {
  std::lock_guard lock(pool_->mutex);
  std::size_t total = 0;
  for (const Pool::Piece& piece : pool_->spare) total += piece.size;
  return total;
}

}  // namespace sim
