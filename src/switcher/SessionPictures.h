#pragma once
// The pictures a session shows: window thumbnails, captured most relevant first and kept
// within the pictures' budget, applied a frame's worth at a time; the desktop pictures;
// and the end of a window's full-screen transition. Main thread; the desktop pictures are
// captured on the "thumbnails" queue.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/Image.h"
#include "switcher/LifeToken.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

class FullScreenFollower;
class Session;

class SessionPictures {
 public:
  /// Keeps `model`'s pictures for the sessions `session` runs; holds back a window's
  /// picture while `fullScreen` follows its change.
  SessionPictures(SwitcherModel& model, const Session& session, const FullScreenFollower& fullScreen);
  SessionPictures(const SessionPictures&) = delete;
  SessionPictures& operator=(const SessionPictures&) = delete;

  /// Whether thumbnails are wanted in this session.
  bool capturesThumbnails() const;
  /// Drops pictures of windows that left and captures again, most relevant first.
  void refreshThumbnails();
  /// A captured picture arrives (also after the session ended). It is applied with the
  /// others of its frame: at once after a quiet frame, else when the frame ends. One much
  /// larger than anything draws it now is first scaled down to that on the "thumbnails"
  /// queue; a later picture of the same window replaces it.
  void thumbnailArrived(std::uint32_t window, CGImageRef picture);
  /// Gives up the pictures over the budget (least recently drawn first) and, while a
  /// session captures, takes again the given-up ones something draws now.
  void keepPictures();
  /// Runs `keepPictures` once on the main queue for any number of calls; the panels and
  /// the preview call it when they change what they draw.
  void schedulePictureKeeping();
  /// Captures the desktop picture of every desktop and screen tile's Space ("thumbnails" queue).
  void refreshWallpapers();
  /// `refreshWallpapers` once when some desktop tile has no picture yet.
  void wallpaperNewDesktops();
  /// Ends a window's picture transition (stores the picture when given).
  void endTransition(std::uint32_t window, CGImageRef picture);

 private:
  /// The size to scale `picture` down to before it is applied: the largest its window is
  /// drawn at now, when that is well below the picture's own; none otherwise.
  std::optional<CGSize> oversized(std::uint32_t window, const CGImageRef& picture) const;
  /// Takes `picture`, arrival number `arrival` of `window`, into the next frame's pictures
  /// unless a later arrival of the window superseded it.
  void collect(std::uint32_t window, std::uint64_t arrival, CGImageRef picture);
  /// Stores the pictures that arrived since the last call in one change of the model,
  /// fading in on tiles that had none; then gives up what is over the pictures' budget.
  void applyArrivedPictures();
  /// Captures `order` (thumbnail order), each window at the size worth keeping it at,
  /// leaving out those the pictures' budget has no room for.
  void capturePictures(const std::vector<std::uint32_t>& order, const std::vector<std::uint32_t>& worth);
  /// The size in pixels the preview would draw each of `windows` at, on a display of `scale`.
  std::map<std::uint32_t, CGSize> previewSizes(const std::vector<std::uint32_t>& windows, double scale) const;

  SwitcherModel& model_;
  const Session& session_;
  const FullScreenFollower& fullScreen_;
  /// Pictures waiting for `applyArrivedPictures`, and when it last ran (monotonic seconds).
  std::map<std::uint32_t, CGImageRef> arrivedPictures;
  /// Each window's latest arrival, while it is on its way to `arrivedPictures`.
  std::map<std::uint32_t, std::uint64_t> latestArrival_;
  std::uint64_t arrivals_ = 0;
  bool picturesScheduled = false;
  double picturesApplied = -1;
  bool keepingScheduled = false;
  /// Work handed to the main queue holds this weakly: it stops once the pictures are gone.
  LifeToken life_;
};

}  // namespace trelliq
