#pragma once
// Composed pictures of a Space that is not on screen: the windows the window server
// keeps on that Space, each captured on its own, drawn bottom to top onto a black canvas
// of the display's size and dimmed, so the backdrops can show where a switch would lead.
// Composing runs on the serial "destination" queue; results come back on the main queue.
// A caseless namespace.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Image.h"

namespace trelliq {

class DestinationScreen final {
 public:
  DestinationScreen() = delete;

  /// Where a window's picture would have to be composed.
  struct Place {
    std::int64_t space = 0;
    NSScreen screen;
    bool fullScreen = false;
  };

  /// Alpha of the black laid over a composed window picture; also the backdrops' veil.
  static constexpr double dimming = 0.45;
  /// Alpha of ordinary (layer 0) windows; the backdrops' wash uses 1 − this.
  static constexpr double windowOpacity = 0.85;
  /// The same for the picture of a selected desktop tile.
  static constexpr double desktopWindowOpacity = 0.35;
  /// Windows narrower or lower than this (points) are never drawn.
  static constexpr double minimumSide = 20;

  /// The serial "destination" queue (user-initiated), made on first use. Also runs the
  /// backdrops' wallpaper captures.
  static platform::Executor& queue();

  /// What the last `render` of an ordinary Space drew, bottom to top: owner name (or "?")
  /// + "@" + layer. Written by `render` on the thread it runs on; read by the self-test
  /// while nothing is queued.
  static std::vector<std::string>& drawn();

  /// The window's first Space with its screen, when that Space is not showing; nothing
  /// when the window lies on no Space, its Space shows, or no screen holds it. Main thread.
  static std::optional<Place> space(std::uint32_t window);

  /// Renders on `queue` and calls `done` with the picture (null on failure) and its packed
  /// copy on the main queue; `packedOnly` lets the picture go on the queue once packed
  /// (`done` then gets the packed copy only). When its turn comes and `wanted` (when set)
  /// says no, nothing is rendered and `done` gets nulls. Main thread; `wanted` is asked on
  /// the queue.
  static void compose(std::int64_t space, const NSScreen& screen, bool fullScreen, bool desktop,
                      std::function<void(CGImageRef, PackedImageRef)> done, std::function<bool()> wanted = {},
                      bool packedOnly = false);

  /// The composition itself, synchronously: one pixel per point of `frame` (bottom-left
  /// screen coordinates); `primaryTop` is the first screen's top, for flipping window
  /// bounds. A full-screen Space gives plain black and leaves `drawn` alone. Null when the
  /// canvas cannot be made. Any thread.
  static CGImageRef render(std::int64_t space, const CGRect& frame, double primaryTop, bool fullScreen, bool desktop);
};

}  // namespace trelliq
