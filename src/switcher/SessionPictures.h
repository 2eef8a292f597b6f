#pragma once
// The pictures a session shows: window thumbnails, captured most relevant first and kept
// within the pictures' budget, applied a frame's worth at a time; the desktop pictures;
// and the end of a window's full-screen transition. Main thread; the desktop pictures are
// captured on the "thumbnails" queue.

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
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
  /// A captured picture arrives (also after the session ended), taken to cover `size`
  /// (`Thumbnails::largest`: as large as pictures are taken). It is applied with the others
  /// of its frame: at once after a quiet frame, else when the frame ends; a later picture
  /// of the same window in that frame replaces it, and one of a window that starts moving
  /// into or out of full screen meanwhile is dropped.
  void thumbnailArrived(std::uint32_t window, CGImageRef picture, CGSize size = {});
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
  /// The session is over: the captures it asked for stop before their next window (the
  /// pictures taken already still arrive), so no session's work waits behind the next's.
  void sessionEnded();
  /// Ends a window's picture transition (stores the picture when given, taken to cover `size`).
  void endTransition(std::uint32_t window, CGImageRef picture, CGSize size = {});

 private:
  /// A picture waiting for its frame, and the size it was taken to cover.
  struct Arrival {
    CGImageRef picture;
    CGSize size;
  };
  /// Stores the pictures that arrived since the last call: those replacing a picture at
  /// once in one change of the model, the first pictures of their windows fading in in
  /// another; then gives up what is over the pictures' budget.
  void applyArrivedPictures();
  /// Captures `order` (thumbnail order), each window at the size worth keeping it at,
  /// leaving out those the pictures' budget has no room for.
  void capturePictures(const std::vector<std::uint32_t>& order, const std::vector<std::uint32_t>& worth);
  /// Window number → size, sorted by window number, one entry a window.
  using WindowSizes = std::vector<std::pair<std::uint32_t, CGSize>>;
  /// The size in pixels the preview would draw each of `windows` at, on a display of `scale`.
  WindowSizes previewSizes(const std::vector<std::uint32_t>& windows, double scale) const;
  static std::optional<CGSize> sizeOf(const WindowSizes& sizes, std::uint32_t window);

  SwitcherModel& model_;
  const Session& session_;
  const FullScreenFollower& fullScreen_;
  /// Pictures waiting for `applyArrivedPictures`, and when it last ran (monotonic seconds).
  std::map<std::uint32_t, Arrival> arrivedPictures;
  bool picturesScheduled = false;
  double picturesApplied = -1;
  bool keepingScheduled = false;
  /// Work handed to the main queue holds this weakly: it stops once the pictures are gone.
  LifeToken life_;
  /// Captures hold this weakly: renewed as a session ends, so they stop with it.
  LifeToken sessionWork_;
};

}  // namespace trelliq
