#pragma once
// A window as the window server paints it into a picture: gathered from the desk under the
// server's lock into plain values, painted without it. Shared by the server's picture files
// (window pictures and display frames). Any thread; text needs a QGuiApplication.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/WindowServerPort.h"
#include "platform/SharedSurface.h"
#include "platform/sim/Desk.h"
#include "platform/sim/WindowChrome.h"

namespace sim {

class World;

using Surfaces = std::map<std::uint32_t, std::shared_ptr<const platform::SharedSurface>>;

/// A window as it is painted: its record and, for an own window with content, the surface
/// its content is published in and whether the window is opaque.
struct Shown {
  Window window;
  std::shared_ptr<const platform::SharedSurface> surface;
  bool opaque = true;
  platform::GlassStyle glass = platform::GlassStyle::regular;
  Chrome chrome;

  /// Pixels per point when drawn `width` pixels wide.
  double scaleAt(int width) const { return window.bounds.width() > 0 ? width / window.bounds.width() : 1; }
};

/// What every window of one picture shares: the appearance, the key window, the time.
struct Look {
  bool dark = false;
  std::uint32_t key = 0;
  std::string clock;
  // The program's permissions, as the settings app's switches show them.
  bool accessibility = false;
  bool screenCapture = false;
};

/// A window's picture, or the part of it that has content: `at` is where `image` lies in
/// the window's picture.
struct Painted {
  QImage image;
  QPoint at;
};

/// The picture of a window at `width` × `height` pixels, with an own window's newest
/// published content drawn over its content area (below the title bar of a titled window).
/// A window that is not opaque has no fill of its own, so what its content leaves clear
/// shows what lies behind; with `part`, such a window without a title bar gives only the
/// part its surface covers. With `need` (in the window's pixels), an opaque window's
/// picture is only that part of it (`at` says where it lies) and a clear one's content is
/// drawn only there, the rest of the picture left clear. Nothing for an own window whose program has
/// not published a frame yet, nor for a clear own window without a view; nor, at once, for
/// one whose program is copying into its surface (`busy`, when given, is set then).
std::optional<Painted> paintShown(const Shown& s, int width, int height, bool part = false,
                                  std::optional<QRect> need = std::nullopt, bool* busy = nullptr);

/// Where an own window's surface content lies in its picture of `width` × `height` pixels
/// (below the title bar of a titled window); empty for a window without a surface.
QRectF surfaceArea(const Shown& s, int width, int height);

/// The window that has the keyboard: the front app's focused (else front-most) window, or
/// the program's own key window while it is in front or on its way there. The server's
/// lock is held.
std::uint32_t keyWindowOf(const Desk& desk, const std::vector<const Window*>& ordered, std::uint32_t ownKey,
                          const std::map<std::int32_t, int>& activating);

/// The appearance and the time, read outside the server's lock.
Look lookOf(World& world);
/// How many times this process read the look (lookOf). Any thread.
std::uint64_t looksRead();

/// What `desk` knows of a window to paint it; the server's lock is held.
Shown shown(const Window& w, const Desk& desk, const Surfaces& surfaces, const Look& look);

}  // namespace sim
