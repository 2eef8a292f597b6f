#pragma once
// What a capture of a display shows. For now that is the display's desktop picture:
// a diagonal gradient in the display's colour carrying its name and number, so two
// displays' pictures are told apart at a glance and by a pixel test.

#include <QImage>

#include <string>

#include "platform/sim/World.h"

namespace sim {

/// Paints `display` at `width` × `height` pixels (both positive). Needs no application
/// object and no fonts; any thread.
QImage composeDisplayPicture(const Display& display, int width, int height);

/// Draws `text` in the pictures' own 5×7 pixel font, each font pixel `scale` pixels wide,
/// with its top left at `x`, `y`; `argb` is 0xAARRGGBB. The window server labels window
/// pictures with it.
void drawPixelText(QImage& image, const std::string& text, int x, int y, int scale, std::uint32_t argb);

/// The gradient's colour at its centre, 0xFFRRGGBB: what a test expects away from the text.
std::uint32_t desktopCentreColor(std::uint32_t rgb);

}  // namespace sim
