#pragma once
// Pixel memory for the composer's display frames, taken back when the last image on it
// goes and lent to the next frame made. A frame at a size not kept (a screen resized, a
// frame let go to stay within the budget) is then painted into memory already in use:
// the first touch of fresh pages costs more than painting the frame. Memory no frame
// takes for a while goes (a size no screen shows any more). Any thread.

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace sim {

class FramePixels {
 public:
  /// How many pieces of memory are kept for frames to come, each the size of a frame.
  static constexpr std::size_t kSpare = 2;

  /// Keeps no piece larger than `largestKept` bytes: a frame that large is rare (a capture
  /// at a size no display shows), and two of them kept would hold memory past any budget.
  explicit FramePixels(std::size_t largestKept = SIZE_MAX);

  /// An opaque image (Format_RGB32) of `width` × `height` pixels, both positive, whose
  /// pixels are undefined. Its memory comes back here when the last copy of the image
  /// goes, even on another thread or after this pool went.
  QImage image(int width, int height);

  /// Lets go of the memory kept for frames to come.
  void clear();

  /// Lets go of the memory no frame took for `seconds` before `now` (seconds of one clock,
  /// the memory given back since the last call counted as given back at `now`); the
  /// seconds until the rest is due to go, nothing when none is kept.
  std::optional<double> dropUnused(double now, double seconds);

  /// How many bytes of memory are kept for frames to come.
  std::size_t spareBytes() const;

 private:
  struct Pool;
  std::shared_ptr<Pool> pool_;
};

}  // namespace sim
