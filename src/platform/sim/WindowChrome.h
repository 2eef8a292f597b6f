#pragma once
// What the window server draws itself: the frame of a titled window (rounded corners, a
// hairline border, a soft shadow, the title bar with its three buttons and the title), the
// menu bar (the front app's menus, the clock, a display's notch), the Dock, the system's app
// switcher and other apps' status items, in the system's light or dark appearance. Gathered under the server's lock
// into plain values, painted without it. Any thread; text needs a QGuiApplication.

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <optional>
#include <vector>

#include "platform/sim/SettingsPane.h"

class QPainter;
class QRegion;

namespace sim {

struct Chrome {
  enum class Kind { plain, clear, titled, menuBar, dock, statusItem, appSwitcher };
  Kind kind = Kind::plain;
  bool dark = false;
  std::uint32_t color = 0;  // the window's own colour, 0xRRGGBB
  // A titled window: the key window has coloured buttons and a full-strength title.
  std::string title;
  bool key = false;
  // The menu bar.
  std::string frontApp;
  std::string clock;
  double notch = 0;  // the notch's height in points; 0: none
  // The Dock, and the system's app switcher: each app's name and icon colour; the
  // switcher's chosen one.
  std::vector<std::pair<std::string, std::uint32_t>> dock;
  std::size_t chosen = 0;
  // A status item's template glyph.
  std::string glyph;
  // A titled window of the settings app showing a privacy list.
  std::optional<PaneLook> pane;

  /// Whether the window server draws the window with rounded corners, border and shadow.
  bool framed() const { return kind == Kind::titled; }

  friend bool operator==(const Chrome&, const Chrome&) = default;
};

/// The corner radius of a titled window, in points.
inline constexpr double kWindowCornerRadius = 10;

/// Paints the window's picture at `width` × `height` pixels (`scale` pixels per point)
/// with its top left at the painter's origin: its colour and what the server draws of it.
void paintChrome(QPainter& painter, const Chrome& chrome, int width, int height, double scale);

/// The outline of a framed window of `rect` (pixels) at `scale` pixels per point.
QPainterPath windowShape(const QRectF& rect, double scale);
/// The soft shadow a framed window of `rect` casts, wider and darker for the key window.
/// With `underBody`, the window's opaque body is painted over it next: what lies under its
/// straight sides is left out. With `shows`, each piece of it is painted only around
/// where it meets `shows` (what nothing opaque in front hides).
void paintShadow(QPainter& painter, const QRectF& rect, double scale, bool key, bool underBody = false,
                 const QRegion* shows = nullptr);
/// How many pixels beyond a framed window's rectangle its shadow may reach.
int shadowReach(double scale);
/// The hairline border around a framed window of `rect`; with `shows`, as paintShadow.
void paintBorder(QPainter& painter, const QRectF& rect, double scale, bool dark, const QRegion* shows = nullptr);

/// How many times this process painted a window's chrome (paintChrome) and a framed
/// window's border (paintBorder), the dearest calls of a display frame, and laid out a
/// label (drawLabel). Any thread.
struct FramePaints {
  std::uint64_t chrome = 0, borders = 0, labels = 0;
};
FramePaints framePaints();

/// An app's icon in `box`: a rounded square in its colour with its initial.
void paintIcon(QPainter& painter, const QRectF& box, const std::string& name, std::uint32_t color);

/// The menu bar's clock text for `secondsSince1970` in the local time zone ("Tue 14 Jan 9:41").
std::string clockText(double secondsSince1970);

}  // namespace sim
