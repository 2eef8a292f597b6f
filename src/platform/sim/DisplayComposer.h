#pragma once
// The display frames the window server keeps: each display's last frame at the sizes it
// was asked for, brought up to date by recomposing only the union of what changed since
// (a window's published damage, windows that came, went, moved, changed their look or
// their place in the order, the clock in the menu bar), and a record of what each frame
// changed, so a screen copies only that. Glass keeps the blurred backdrop it was composed
// over until something behind it changes. What is kept stays within a byte budget, goes
// when nobody asked for it for a while, and holds the surfaces it drew only weakly: a
// destroyed window's surface is freed at once. Any thread; one composition at a time.

#include <QImage>
#include <QRegion>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/FramePixels.h"
#include "platform/sim/ShownWindow.h"
#include "platform/sim/World.h"

namespace sim {

/// One Space's part of a display's picture, gathered under the server's lock.
struct SpaceScene {
  std::uint64_t space = 0;
  std::int32_t type = 0;       // the Space's type (a full-screen Space has a black backdrop)
  std::uint32_t color = 0;     // its desktop colour; 0: the display's
  std::vector<Shown> windows;  // back to front
};

/// Everything a display's frame shows, gathered under the server's lock.
struct DisplayScene {
  Display display;
  CGRect frame;  // the display's frame, global top-left points
  SpaceScene to;
  std::vector<Shown> overlay;  // the shown overlay Spaces' windows, back to front
  /// During a slide: the Space leaving, how far the slide is (0 … 1) and its direction.
  std::optional<SpaceScene> from;
  double progress = 1;
  int direction = 1;
};

/// A kept frame and what changed in it.
struct FrameChange {
  std::uint64_t sequence = 0;     // the frame's number (never 0)
  std::optional<QRegion> damage;  // what differs from frame `since`; nothing: take it whole
  /// Left as it was while a window's program copied into its surface (or composed without
  /// a window left out for the first time): composed again when asked on the next tick.
  bool held = false;
};

class DisplayComposer {
 public:
  /// How many bytes of pixels the kept frames (and their glass backdrops) may hold.
  static constexpr std::size_t kKeptBytes = std::size_t{192} << 20;

  /// Keeps frames within `budget` bytes; a frame larger than that alone is composed whole
  /// each time and let go once used.
  explicit DisplayComposer(std::size_t budget = kKeptBytes) : budget_(budget), pixels_(budget) {}

  /// Brings the frame kept for display `id` at `width` × `height` pixels up to `scene`,
  /// recomposing only what changed (the whole frame the first time, for a new size and
  /// during a slide), then calls `use` with it (valid only during the call) and what
  /// changed after frame `since`. `request` (from newRequest) groups the frames one ask
  /// holds: past the budget they are kept before any other; 0: a request of its own.
  /// Answers how many kept frames this call let go for want of room. Any thread.
  std::size_t compose(std::uint32_t id, int width, int height, const DisplayScene& scene, std::uint64_t since,
               const std::function<void(const QImage&, const FrameChange&)>& use, std::uint64_t request = 0);

  /// A number for the frames of one ask to share (never 0). Any thread.
  std::uint64_t newRequest() {
    std::lock_guard lock(mutex_);
    return ++requests_;
  }
  /// How many kept frames were let go so far to stay within the budget (not for going
  /// unused, nor by clear): each one is composed whole when asked again. Any thread.
  std::uint64_t evicted() const {
    std::lock_guard lock(mutex_);
    return evicted_;
  }

  /// Forgets every kept frame.
  void clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    pixels_.clear();
  }

  /// How many compositions in a row a display's frame is left as it was for a window whose
  /// program is copying into its surface, before it goes on without that window (a program
  /// stopped or killed in the middle of a copy).
  static constexpr int kBusyTicks = 2;

  /// How many frames are kept at most, within the budget (see trim for which go first).
  static constexpr std::size_t kKeptFrames = 6;
  /// How many frames back what changed is remembered.
  static constexpr std::size_t kHistory = 16;
  /// How long a frame nobody asks for is kept: longer than the minute an idle screen goes
  /// without asking (until the menu bar's clock turns), so only a size no screen shows any
  /// more, or a screen that went away, lets go of its frames.
  static constexpr double kUnusedSeconds = 120;

  /// Lets go of the frames not asked for during the last kUnusedSeconds of the installed
  /// clock, and of the memory of frames let go that no frame took for as long (found
  /// unused by an earlier call); the seconds until the next of either is due to go,
  /// nothing when no frame is kept. Any thread.
  std::optional<double> dropUnused();

  /// How many bytes of memory of frames let go are kept for frames to come. Any thread.
  std::size_t spareBytes() const { return pixels_.spareBytes(); }

  /// A window where a frame draws it.
  struct Placed {
    Shown shown;  // its surface only while composing; a kept frame holds it in `surfaceOf`
    std::weak_ptr<const platform::SharedSurface> surfaceOf;
    QRectF rect;                   // frame pixels, unrounded
    QRect placed;                  // where its picture is drawn
    QRect extent;                  // every pixel it may touch, its shadow included
    QRect glass;                   // a clear own window's content area; empty otherwise
    std::uint64_t surfaceSeq = 0;  // the published frame its content came from; 0: none read
  };
  /// The blurred backdrop a clear window was composed over.
  struct Backdrop {
    QRect area;
    QImage soft;  // shrunk (see frostedBackdrop); null: owed, the content showed nothing over it
    /// Due to be blurred anew while its window was hidden whole: it is, once the glass
    /// shows again (where something over it changed: what hid it, first of all).
    bool due = false;
  };

 private:
  struct Kept {
    std::uint32_t id = 0;
    int width = 0, height = 0;
    QImage image;
    std::uint64_t sequence = 0;
    bool valid = false;         // `windows` and `backdrops` describe `image`
    double used = 0;            // when it was last asked for (monotonic seconds)
    std::uint64_t request = 0;  // the ask it was last composed for
    std::uint64_t space = 0;
    std::int32_t type = 0;
    std::uint32_t color = 0;
    CGRect frame;
    std::string name;  // the display's, which its desktop picture shows
    std::vector<Placed> windows;
    std::map<std::uint32_t, Backdrop> backdrops;
    std::list<std::pair<std::uint64_t, QRegion>> history;  // each frame and what it changed
    std::map<std::uint32_t, int> busy;                     // windows found busy, by how many compositions in a row

    std::size_t bytes() const;
  };

  Kept& kept(std::uint32_t id, int width, int height);
  void composeInto(Kept& k, const DisplayScene& scene, std::uint64_t since,
                   const std::function<void(const QImage&, const FrameChange&)>& use);
  void recordFrame(Kept& k, const QRegion& changed);
  /// Lets go of frames until the rest fit the budget and kKeptFrames: first those other
  /// asks than `request` hold, the least recently asked first; then `request`'s own, the
  /// last asked first. Answers how many went.
  std::size_t trim(std::uint64_t request);

  const std::size_t budget_;
  mutable std::mutex mutex_;
  std::list<Kept> frames_;  // most recently asked first
  FramePixels pixels_;      // memory of frames let go, for the next ones
  std::uint64_t sequence_ = 0;
  std::uint64_t requests_ = 0;
  std::uint64_t evicted_ = 0;
};

/// The frame of `scene` (not during a slide) at `width` × `height` pixels painted plainly:
/// the desktop whole, then every window whole, back to front, nothing left out for being
/// hidden. What a DisplayComposer's frames must look like, slower. Any thread.
QImage composePlainly(const DisplayScene& scene, int width, int height);

/// The blurred backdrop under a clear window of `style` over `area` of `target`, `scale`
/// pixels per point: a wide, even frost (40 points for the regular glass, 3 for the
/// clear glass, through which what lies behind stays legible). Answered shrunk, as far as
/// the blur allows without steps: it is grown back to `area` where it is drawn.
QImage frostedBackdrop(const QImage& target, const QRect& area, double scale, platform::GlassStyle style);

}  // namespace sim
