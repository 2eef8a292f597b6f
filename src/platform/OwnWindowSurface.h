#pragma once
// The surface of one of the program's own windows: its content view drawn into shared
// memory (platform::SharedSurface) and published to the window server whenever the view
// changes, so that captures and display frames read the newest picture without ever
// asking the program.
//
// What changed comes from Qt's own repaint machinery: the view is shown off screen (never
// on the real desktop), so every update() a widget makes is tracked as Qt tracks it, and
// each of Qt's paint passes over the view becomes one frame whose damage is what that
// pass would have repainted. That part, and only that part, is drawn into a picture the
// surface keeps at the window's pixel density, then published (or, for a titled window,
// drawn into a picture of the part's size and copied over the newest frame in the shared
// memory, with no picture of the window kept). A view that reports its
// damage itself (DamageReportingView) is published on the main queue after each report,
// and a clear window's such view keeps a surface of only the part it inks, rounded out so
// that a part that grows a little or moves does not need a new one. A capture made on the main
// thread first lets pending paint passes run (publishAll), so the program sees its own
// latest drawing. Main thread only.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/SharedSurface.h"

class QWidget;

namespace platform {

/// A content view that tells its window's surface itself where it inks and what it must
/// draw again, rather than through Qt's repaint machinery (which paints a window only once
/// the platform has exposed it, and an event loop may not get to that): a clear window's
/// panel in the middle of its display. Its surface covers only the part it inks, the rest
/// of the window being clear. Main thread.
class DamageReportingView {
 public:
  virtual ~DamageReportingView() = default;
  /// The part of the view (its coordinates) that may hold ink now or until what moves in
  /// it has come to rest.
  virtual QRect drawnArea() const = 0;
  /// What must be drawn again since the last call (the view's coordinates); empties it.
  virtual QRegion takeDamage() = 0;
  /// Set by the surface showing the view: call it after adding damage, and the surface
  /// publishes it on the main queue (once for all the damage added before it runs).
  std::function<void()> damaged;
};

/// A content view whose drawing needs fewer pixels per point than its display has: one
/// that shows only pictures of fewer pixels than the points they cover, and plain fills,
/// all across the whole view. Its surface is kept at the density it needs (a picture the
/// size of a display at 1 instead of 4 pixels per point), and the window server scales it
/// to the window as it composes, as it does a layer's contents. Main thread.
class DensityLimitedView {
 public:
  virtual ~DensityLimitedView() = default;
  /// The pixels per point the drawing needs now (a half, or a whole number); nothing when
  /// it needs the display's own.
  virtual std::optional<double> neededScale() const = 0;
};

class OwnWindowSurface : public std::enable_shared_from_this<OwnWindowSurface> {
 public:
  OwnWindowSurface();
  ~OwnWindowSurface();
  OwnWindowSurface(const OwnWindowSurface&) = delete;
  OwnWindowSurface& operator=(const OwnWindowSurface&) = delete;

  /// The view to draw (not owned; it may be destroyed at any time) or null. A view of its
  /// own (no parent) is shown off screen for as long as it is this surface's content.
  void setContent(QWidget* view);
  /// Whether the window fills its background; a window that does not leaves the view's
  /// clear parts clear.
  void setOpaque(bool opaque);
  /// Pixels per point of the display the window is on (1 when not known). A view that
  /// needs fewer (DensityLimitedView) is drawn at as many as it needs.
  void setScale(double scale);
  /// Publishes for window `number` from now on, starting with a whole frame; 0 stops.
  void attach(std::uint32_t number);
  /// Makes the surface stop while its window is ordered out: the view shown off screen is
  /// hidden then (so nothing in it paints, and it hears that it was hidden), and the
  /// pictures go; ordered in, it is shown and drawn whole again. Off by default: a panel
  /// keeps its pictures between sessions to come up sooner.
  void setStopsWhenOut(bool stops);
  /// The window was ordered in (before it comes on screen) or out (after it went).
  void setOrderedIn(bool in);
  /// Makes each frame be drawn whole straight into the shared memory, with no picture
  /// of the program's own beside it: for a window shown briefly and drawn whole whenever
  /// it changes (a one-shot window the size of a display). Off by default: a window that
  /// changes in parts draws only those into its kept picture.
  void setDrawsInPlace(bool inPlace);
  /// Makes each frame's parts be drawn into a picture of their size, let go at once, and
  /// copied over the newest frame in the shared memory (SharedSurface::publishOver), with
  /// no picture of the whole window kept beside it,
  /// so the window keeps one copy of its pixels: for a window that changes in parts while
  /// it is open (the guide, Preferences, the welcome window). Off by default.
  void setDrawsOver(bool over);

  /// Draws and publishes what changed since the last frame; nothing when nothing did.
  /// When every buffer is held by a reader it tries again a moment later on the main queue.
  void publish();
  /// Runs the view's pending paint pass, when it has one of its own, and publishes it: what
  /// publishSoon would do, done now.
  void publishNow();
  /// The surface handed to the window server (null before the first frame).
  std::shared_ptr<const SharedSurface> surface() const { return surface_; }

  /// Lets every surface's pending paint pass run and publishes it, so that what the
  /// program has drawn shows in a capture it makes next. Does nothing off the main thread.
  static void publishAll();
  /// The bytes of the pictures the program keeps beside its surfaces, all windows together.
  static std::size_t keptBytes();

  /// Adds `region` (the view's coordinates) to what the next frame draws. For the
  /// surfaces' paint hook.
  void damage(const QRegion& region) { pending_ += region; }
  QWidget* content() const;
  /// For the surfaces' paint hook: the view shown off screen by this surface was resized.
  void resized();
  /// For the surfaces' paint hook: a widget was added (`added`) or taken away somewhere in
  /// the view; after an addition the next frame first shows what was added and not yet shown.
  void childrenChanged(bool added) {
    childrenAdded_ = childrenAdded_ || added;
    partsKnown_ = false;
  }
  /// For the surfaces' paint hook: every widget inside the view, as of the last change.
  const std::vector<QPointer<QWidget>>& parts();

 private:
  void showOffScreen(QWidget* view);
  /// Publishes once on the main queue, after what is already queued there.
  void publishSoon();
  /// Where the surface of a window of `width` × `height` pixels must lie, in its pixels:
  /// the whole window, or the part its view inks, rounded out; the current surface's place
  /// while that part still fits it well, or while the view inks nothing.
  QRect placementFor(QWidget* view, int width, int height, double sx, double sy) const;
  void withdraw();
  void retryLater();
  // Makes the surface and kept picture for `place` when the ones held do not fit it; false
  // when they cannot be had.
  bool keepSurface(const QRect& place, const SharedSurface::Placement& placement);
  // Draws `wanted` of the view (view points) into `target` (the kept picture or a
  // buffer), clipped to `pixels`.
  void paintParts(QImage& target, QWidget* view, const QRegion& wanted, const QRegion& pixels, double sx, double sy,
                  QPoint origin);
  // Publishes what changed: the first frame drawn whole into the surface's free buffer,
  // the next ones over the newest frame.
  void publishInPlace(QWidget* view, double sx, double sy);
  // Draws `wanted` (view points) band by band of rows and copies each over the newest
  // frame where it changed it; what a reader kept from it stays pending.
  void publishInBands(QWidget* view, const QRegion& wanted, double sx, double sy);
  // Hands the surface to the window server the first time, else tells it of a new frame
  // when `published`.
  void handOver(bool published);
  // Publishes what changed drawn over the newest frame (whole into a free buffer at first).
  void publishOver(QWidget* view, const QRect& placeInView, double sx, double sy);
  // A transparent picture of `size` for a frame's parts (null when it cannot be had).
  QImage partsPicture(QSize size);
  void letScratchGoLater(double after);

  QPointer<QObject> content_;  // a QWidget; kept as an object so this header needs no widgets
  bool shownHere_ = false;     // the view was shown off screen by this surface
  bool opaque_ = true;
  double scale_ = 1;
  std::uint32_t number_ = 0;
  QMetaObject::Connection destroyedWatch_;
  QRegion pending_;          // the view's coordinates: to draw
  QRegion unpublished_;      // pixels: drawn into kept_, not yet published
  bool whole_ = true;        // the next frame draws everything
  bool handedOver_ = false;  // the server has this surface for the window
  bool retrying_ = false;
  bool publishing_ = false;  // publishSoon's work is queued
  bool remapping_ = false;   // resized's showing again is queued
  bool stopsWhenOut_ = false;
  bool orderedIn_ = false;
  bool drawsInPlace_ = false;
  bool childrenAdded_ = true;  // since the last frame showed the view's new parts
  bool drawsOver_ = false;
  std::vector<QPointer<QWidget>> parts_;  // see parts()
  bool partsKnown_ = false;
  QImage kept_;    // the newest drawing at the window's pixels
  QImage scratch_;  // what partsPicture hands out parts of while frames come
  double scratchUsed_ = 0;
  bool scratchWatched_ = false;  // letting scratch_ go is queued
  QRegion inked_;  // pixels: where kept_ may be other than transparent
  std::shared_ptr<SharedSurface> surface_;
};

}  // namespace platform
