#pragma once
// Small live pictures of windows for the switcher's tiles and preview: each window is
// taken with the window server's own capture first, and whatever that misses with the
// screen-capture framework. Pictures arrive one by one on the main queue, in no fixed
// order and possibly after the caller moved on; nothing is cached and failures are not
// reported. A caseless namespace.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Image.h"

namespace trelliq {

class Thumbnails final {
 public:
  Thumbnails() = delete;

  /// Called on the main queue with a window number and its picture.
  using Each = std::function<void(std::uint32_t window, CGImageRef picture)>;
  /// The same with the size the picture was taken to cover (`largest`: as large as
  /// `maxPixels` allows).
  using EachSized = std::function<void(std::uint32_t window, CGImageRef picture, CGSize size)>;
  /// Window number → the size in pixels a picture of it must cover, no more (`largest`:
  /// as large as `maxPixels` allows).
  using Sizes = std::map<std::uint32_t, CGSize>;
  /// The size in `Sizes` of a window taken as large as `maxPixels` allows.
  static constexpr CGSize largest{};
  /// The size a window's picture must cover, asked as the window is taken: `asked` is its
  /// size in `Sizes`. Called on the capture's threads, so it must be safe from any thread.
  using SizeNow = std::function<CGSize(std::uint32_t window, CGSize asked)>;
  /// Window number → the picture the caller holds of it.
  using Held = std::map<std::uint32_t, CGImageRef>;
  /// Whether the caller still wants the windows not yet taken, asked before each is taken
  /// on the capture's threads (safe from any thread); none: every window is taken.
  using Wanted = std::function<bool()>;
  /// Asks for every window given, each as large as `maxPixels` allows.
  struct NoLimit {};
  static constexpr NoLimit noLimit{};

  /// The longest side, in pixels, of a delivered picture.
  static constexpr double maxPixels = 720;
  /// Bytes of pictures a capture hands the main queue before it waits for the main
  /// thread to take them: a busy main thread never has a whole desk's pictures waiting.
  static constexpr std::size_t deliveredAhead = 8u << 20;
  /// The options passed unchanged to the window server's capture of one window.
  static constexpr std::uint32_t captureOptions = 0x80A00;

  /// The serial "thumbnails" queue (user-initiated), made on first use. Runs the window
  /// server captures and the switcher's desktop-picture captures.
  static platform::Executor& queue();

  /// Returns at once. Without ids or without the screen-capture permission nothing
  /// happens; otherwise every window of `ids` that can be taken is delivered to `each`
  /// exactly once, on the main queue, scaled down to fit `maxPixels`. Any thread.
  static void capture(const std::vector<std::uint32_t>& ids, Each each, NoLimit);
  /// The same for only the windows of `ids` that `sizes` holds, each scaled down to the
  /// least that covers its size there: an empty `sizes` takes nothing. A window whose
  /// new picture has the very pixels of its picture in `held` is delivered the held one,
  /// so whatever draws it has nothing new to draw. Any thread.
  static void capture(const std::vector<std::uint32_t>& ids, Each each, Sizes sizes, Held held = {});
  /// The same, each window taken to cover what `now` answers for it at the moment it is
  /// taken, so a picture is scaled once, from the window's own pixels, to what is wanted
  /// then; `each` is told that size. Once `wanted` says no, the windows left are skipped:
  /// a session that ended leaves no work queued behind the next. Any thread.
  static void capture(const std::vector<std::uint32_t>& ids, EachSized each, Sizes sizes, Held held, SizeNow now,
                      Wanted wanted = {});

  /// `held` when `fresh` has its very pixels, else `fresh`: what did not change keeps the
  /// picture that is drawn already, so nothing draws it anew. Any thread.
  static CGImageRef heldIfSame(const CGImageRef& held, CGImageRef fresh);

  /// The picture itself when its longer side is at most `maxPixels` (never copied or
  /// enlarged); else a copy scaled down to that, sides truncated to whole pixels. Null
  /// when the bitmap cannot be made. Any thread.
  static CGImageRef downscale(const CGImageRef& image);
  /// The picture scaled down (never up) to the least size that covers `size` with its
  /// proportions kept, and to `maxPixels` at most. Any thread.
  static CGImageRef downscale(const CGImageRef& image, CGSize size);
  /// What `downscale` (with `size`, else to fit `maxPixels`) gives of the reduced capture of
  /// `window`, a picture of `points`, taken straight at that size: never a larger picture
  /// first, only to be shrunk. Null when the capture fails. Any thread.
  static CGImageRef captureDownscaled(std::uint32_t window, CGSize points, std::optional<CGSize> size = std::nullopt);

  /// The fallback: asks the capture framework for its windows (off-screen ones too) and
  /// takes each of `ids` it lists at most 720 points on the longer side, scaled down to
  /// cover its size in `sizes` (`largest` where it has none), unchanged ones as `held`
  /// ones as `capture` does. Windows it does not list,
  /// with an empty frame, or that fail get no delivery. Returns at once.
  static void captureWithScreenCaptureKit(const std::set<std::uint32_t>& ids, Each each, Sizes sizes = {},
                                          Held held = {});

 private:
  /// Takes `ids` (each once) on the queue, each delivered as soon as it is taken; a window
  /// `sizes` lacks is asked at `largest`, and `now` (when set) has the last word; stops
  /// once `wanted` (when set) says no.
  static void start(std::vector<std::uint32_t> ids, EachSized each, Sizes sizes, Held held, SizeNow now,
                    Wanted wanted);
  /// What a capture under way still has to take.
  struct Batch {
    std::vector<std::uint32_t> ids;
    EachSized each;
    Sizes sizes;
    Held held;
    SizeNow now;
    Wanted wanted;
    std::set<std::uint32_t> missed;
  };
  /// Takes the batch's windows from `next` on (the "thumbnails" queue), handing the rest
  /// on through the main queue once `deliveredAhead` bytes went there.
  static void take(const std::shared_ptr<Batch>& batch, std::size_t next);
  static void captureWithScreenCaptureKit(const std::set<std::uint32_t>& ids, EachSized each, Sizes sizes, Held held,
                                          SizeNow now, Wanted wanted);
  /// A copy `scale` times the picture's size (sides truncated, or rounded up when
  /// `covering`), drawn with high interpolation; null when the bitmap cannot be made.
  static CGImageRef scaled(const CGImageRef& image, double scale, bool covering);
};

}  // namespace trelliq
