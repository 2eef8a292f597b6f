#pragma once
// What a capture of a display shows underneath the windows: the display's desktop picture,
// a diagonal gradient in the display's colour carrying its name and number, so two
// displays' pictures are told apart at a glance and by a pixel test. Also the text the
// simulated Mac writes into its pictures (title bars, the menu bar, icons).

#include <QFont>
#include <QImage>
#include <QRegion>

#include <string>

#include "platform/sim/World.h"

class QPainter;
class QRectF;

namespace sim {

/// Paints `display` at `width` × `height` pixels (both positive). Any thread; the text
/// needs a QGuiApplication (without one the picture carries no text).
QImage composeDisplayPicture(const Display& display, int width, int height);
/// Paints `display`'s picture over `image` (Format_RGB32, the whole display) where `region`
/// says, the rest left as it is: a frame repaints the desktop behind what changed. Its
/// labels may be drawn anywhere within `within` (which holds `region`), where a simple
/// clip costs less and what is drawn beyond `region` is painted over.
void paintDisplayPicture(QImage& image, const Display& display, const QRegion& region, const QRegion& within);
inline void paintDisplayPicture(QImage& image, const Display& display, const QRegion& region) {
  paintDisplayPicture(image, display, region, region);
}

/// The simulated Mac's typeface (DejaVu Sans, from the system's fonts) at `pixelSize` pixels.
QFont systemFont(double pixelSize, bool bold = false);

/// Whether text can be drawn: fonts need a QGuiApplication in the process.
bool canDrawText();

/// How many labels this process laid out (drawLabel past its clip test): text costs a
/// frame more than any fill. Any thread.
std::uint64_t labelsLaidOut();

/// Writes UTF-8 `text` in `font` and `argb` (0xAARRGGBB) inside `box` with Qt's `flags`
/// (alignment), elided at the right when it does not fit. Does nothing when text cannot
/// be drawn.
void drawLabel(QPainter& painter, const std::string& text, const QRectF& box, const QFont& font, std::uint32_t argb,
               int flags);

/// The gradient's colour at its centre, 0xFFRRGGBB: what a test expects away from the text.
std::uint32_t desktopCentreColor(std::uint32_t rgb);

}  // namespace sim
