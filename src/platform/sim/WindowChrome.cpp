#include "platform/sim/WindowChrome.h"

#include <QColor>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <QRegion>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <optional>
#include <tuple>

#include "platform/Keeper.h"
#include "platform/WindowFrame.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/DockSwitcher.h"

namespace sim {

namespace {

// The shadow and border pieces kept: only a few scales and looks are in use at a time.
constexpr std::size_t kPatchesKept = 16;

QColor rgb(std::uint32_t c) { return QColor::fromRgb(c & 0xFFFFFF); }

QColor ink(bool dark, double opacity = 1) {
  return dark ? QColor::fromRgbF(1, 1, 1, static_cast<float>(0.88 * opacity))
              : QColor::fromRgbF(0, 0, 0, static_cast<float>(0.85 * opacity));
}

/// Three box blurs of `radius` pixels over an alpha picture: close to a Gaussian.
void blurAlpha(QImage& image, int radius) {
  if (radius < 1) return;
  const int w = image.width(), h = image.height();
  std::vector<int> line(static_cast<std::size_t>(std::max(w, h)));
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < h; ++y) {
      uchar* row = image.scanLine(y);
      int sum = 0;
      for (int x = -radius; x <= radius; ++x) sum += row[std::clamp(x, 0, w - 1)];
      for (int x = 0; x < w; ++x) {
        line[static_cast<std::size_t>(x)] = sum / (2 * radius + 1);
        sum += row[std::min(x + radius + 1, w - 1)] - row[std::max(x - radius, 0)];
      }
      for (int x = 0; x < w; ++x) row[x] = static_cast<uchar>(line[static_cast<std::size_t>(x)]);
    }
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      for (int y = -radius; y <= radius; ++y) sum += image.scanLine(std::clamp(y, 0, h - 1))[x];
      for (int y = 0; y < h; ++y) {
        line[static_cast<std::size_t>(y)] = sum / (2 * radius + 1);
        sum += image.scanLine(std::min(y + radius + 1, h - 1))[x] - image.scanLine(std::max(y - radius, 0))[x];
      }
      for (int y = 0; y < h; ++y) image.scanLine(y)[x] = static_cast<uchar>(line[static_cast<std::size_t>(y)]);
    }
  }
}

/// A shadow as a nine-patch: a blurred rounded square whose `margin` on every side is
/// stretched along the edges of the window it falls from.
struct ShadowPatch {
  QImage image;
  int margin = 0;
};

ShadowPatch makeShadowPatch(int spread, int corner, int alpha) {
  ShadowPatch patch;
  const int margin = spread + corner + 1;
  const int side = 2 * margin + 2;
  QImage mask(side, side, QImage::Format_Alpha8);
  mask.fill(0);
  {
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, alpha));
    painter.drawRoundedRect(QRectF(spread, spread, side - 2 * spread, side - 2 * spread), corner, corner);
  }
  blurAlpha(mask, std::max(1, spread / 3));
  patch.image = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
  patch.image.fill(Qt::transparent);
  QPainter painter(&patch.image);
  painter.drawImage(0, 0, mask);  // an alpha picture draws in black
  patch.margin = margin;
  return patch;
}

ShadowPatch shadowPatch(int spread, int corner, int alpha) {
  static platform::SharedKeeper<std::tuple<int, int, int>, ShadowPatch> kept({.count = kPatchesKept});
  return kept.get({spread, corner, alpha}, [&] { return makeShadowPatch(spread, corner, alpha); });
}

void paintButtons(QPainter& painter, double bar, double scale, bool key, bool dark) {
  const double d = platform::kTitleButtonDiameter * scale;
  if (d < 2) return;
  if (painter.hasClipping() && !painter.clipBoundingRect().intersects(QRectF(0, 0, 90 * scale, bar))) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const std::uint32_t colours[] = {0xFF5F57, 0xFEBC2E, 0x28C840};
  for (auto button : {platform::TitleButton::close, platform::TitleButton::miniaturize, platform::TitleButton::zoom}) {
    const CGPoint c = platform::titleButtonCentre(button);
    const QRectF r(c.x * scale - d / 2, bar / 2 - d / 2, d, d);
    const QColor fill = key    ? rgb(colours[static_cast<int>(button)])
                        : dark ? QColor(78, 78, 82)
                               : QColor(208, 208, 210);
    painter.setBrush(fill);
    painter.setPen(QPen(key ? fill.darker(125) : QColor(0, 0, 0, dark ? 60 : 30), std::max(0.5, 0.5 * scale)));
    painter.drawEllipse(r);
  }
  painter.restore();
}

void paintTitled(QPainter& painter, const Chrome& chrome, const QRectF& area, double scale) {
  painter.fillRect(area, rgb(chrome.color));
  const double bar = std::min(platform::kTitleBarHeight * scale, area.height() / 3.0);
  if (bar < 3) return;
  const QColor top = chrome.dark ? (chrome.key ? QColor(60, 60, 62) : QColor(44, 44, 46))
                                 : (chrome.key ? QColor(236, 236, 236) : QColor(246, 246, 246));
  QLinearGradient fill(0, 0, 0, bar);
  fill.setColorAt(0, top);
  fill.setColorAt(1, chrome.key ? top.darker(106) : top);
  painter.fillRect(QRectF(0, 0, area.width(), bar), fill);
  const double line = std::max(1.0, scale / 2);
  painter.fillRect(QRectF(0, bar - line, area.width(), line), chrome.dark ? QColor(0, 0, 0, 140) : QColor(0, 0, 0, 30));
  paintButtons(painter, bar, scale, chrome.key, chrome.dark);
  const double left = 80 * scale;
  const QColor text = ink(chrome.dark, chrome.key ? 1 : 0.45);
  drawLabel(painter, chrome.title, QRectF(left, 0, std::max(0.0, area.width() - 2 * left), bar),
            systemFont(std::min(13 * scale, bar * 0.5), true), text.rgba(), Qt::AlignCenter);
  if (chrome.pane) paintPane(painter, *chrome.pane, area, scale, chrome.dark);
}

void paintMenuBar(QPainter& painter, const Chrome& chrome, const QRectF& area, double scale) {
  painter.fillRect(area, chrome.dark ? QColor(0, 0, 0, 96) : QColor(246, 246, 246, 200));
  const QColor text = ink(chrome.dark);
  const double size = 13 * scale;
  double x = 14 * scale;
  const auto item = [&](const std::string& label, bool bold) {
    const QFont font = systemFont(size, bold);
    drawLabel(painter, label, QRectF(x, 0, area.width() - x, area.height()), font, text.rgba(),
              Qt::AlignLeft | Qt::AlignVCenter);
    if (canDrawText()) x += QFontMetricsF(font).horizontalAdvance(QString::fromStdString(label)) + 18 * scale;
  };
  item("\u25C6", false);  // the system menu's mark
  item(chrome.frontApp.empty() ? "Finder" : chrome.frontApp, true);
  for (const char* menu : {"File", "Edit", "View", "Window", "Help"}) item(menu, false);
  const double clock = platform::kMenuBarClockWidth * scale;
  drawLabel(painter, chrome.clock, QRectF(area.width() - clock, 0, clock - 12 * scale, area.height()),
            systemFont(size, false), text.rgba(), Qt::AlignRight | Qt::AlignVCenter);
  if (chrome.notch > 0) {
    const double w = 186 * scale, h = chrome.notch * scale, r = 9 * scale;
    QPainterPath notch;
    notch.moveTo(area.center().x() - w / 2, 0);
    notch.lineTo(area.center().x() + w / 2, 0);
    notch.lineTo(area.center().x() + w / 2, h - r);
    notch.quadTo(area.center().x() + w / 2, h, area.center().x() + w / 2 - r, h);
    notch.lineTo(area.center().x() - w / 2 + r, h);
    notch.quadTo(area.center().x() - w / 2, h, area.center().x() - w / 2, h - r);
    notch.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(notch, Qt::black);
    painter.restore();
  }
}

void paintDock(QPainter& painter, const Chrome& chrome, const QRectF& area, double scale) {
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF strip = area.adjusted(2 * scale, 4 * scale, -2 * scale, -4 * scale);
  painter.setBrush(chrome.dark ? QColor(40, 40, 44, 150) : QColor(255, 255, 255, 90));
  painter.setPen(QPen(chrome.dark ? QColor(255, 255, 255, 50) : QColor(255, 255, 255, 140), std::max(0.5, scale)));
  painter.drawRoundedRect(strip, 16 * scale, 16 * scale);
  const double n = static_cast<double>(chrome.dock.size());
  const double gap = 6 * scale;
  const double side = std::min(strip.height() - 2 * gap, n > 0 ? (strip.width() - gap * (n + 1)) / n : 0);
  if (side < 2) return;
  double x = strip.center().x() - (n * side + (n - 1) * gap) / 2;
  for (const auto& [name, colour] : chrome.dock) {
    paintIcon(painter, QRectF(x, strip.center().y() - side / 2, side, side), name, colour);
    x += side + gap;
  }
}

/// The system's app switcher: a rounded plate with one cell per app, its icon in the
/// upper part; the chosen cell lit behind its icon, with the app's name under it.
void paintAppSwitcher(QPainter& painter, const Chrome& chrome, const QRectF& area, double scale) {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(chrome.dark ? QColor(32, 32, 34, 215) : QColor(242, 242, 244, 215));
  painter.drawRoundedRect(area, 18 * scale, 18 * scale);
  const std::size_t n = chrome.dock.size();
  const double margin = DockSwitcher::kMargin * scale;
  const double cell = n ? (area.width() - 2 * margin) / static_cast<double>(n) : 0;
  const double side = std::min(cell - 20 * scale, 80 * scale);
  if (side < 2) return;
  const double top = margin;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& [name, colour] = chrome.dock[i];
    const double x = margin + static_cast<double>(i) * cell + (cell - side) / 2;
    if (i == chrome.chosen) {
      const QRectF lit(x - 8 * scale, top - 8 * scale, side + 16 * scale, side + 16 * scale);
      painter.setBrush(chrome.dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 30));
      painter.drawRoundedRect(lit, 12 * scale, 12 * scale);
      const QRectF under(x + side / 2 - cell, top + side + 10 * scale, 2 * cell, 20 * scale);
      drawLabel(painter, name, under.intersected(area), systemFont(13 * scale, false), ink(chrome.dark).rgba(),
                Qt::AlignHCenter | Qt::AlignTop);
    }
    paintIcon(painter, QRectF(x, top, side, side), name, colour);
  }
}

}  // namespace

void paintIcon(QPainter& painter, const QRectF& box, const std::string& name, std::uint32_t color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(rgb(color));  // flat: the icon's colour is what a test finds in it
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(box, box.width() * 0.225, box.height() * 0.225);
  painter.restore();
  // The first character as written (a whole code point, not a byte of it).
  const QString whole = QString::fromStdString(name);
  const std::string initial =
      whole.isEmpty() ? "?"
                      : QString(whole.at(0).isHighSurrogate() ? whole.left(2) : whole.left(1)).toUpper().toStdString();
  drawLabel(painter, initial, box, systemFont(box.height() * 0.56, true), 0xFFFFFFFF, Qt::AlignCenter);
}

namespace {
std::atomic<std::uint64_t> chromePainted{0}, bordersPainted{0};
}  // namespace

FramePaints framePaints() { return {chromePainted.load(), bordersPainted.load(), labelsLaidOut()}; }

void paintChrome(QPainter& painter, const Chrome& chrome, int width, int height, double scale) {
  ++chromePainted;
  const QRectF area(0, 0, std::max(width, 1), std::max(height, 1));
  painter.save();
  painter.setRenderHint(QPainter::TextAntialiasing);
  switch (chrome.kind) {
    case Chrome::Kind::dock:
      paintDock(painter, chrome, area, scale);
      break;
    case Chrome::Kind::menuBar:
      paintMenuBar(painter, chrome, area, scale);
      break;
    case Chrome::Kind::appSwitcher:
      paintAppSwitcher(painter, chrome, area, scale);
      break;
    case Chrome::Kind::statusItem:
      drawLabel(painter, chrome.glyph, area, systemFont(std::min(16 * scale, area.height() * 0.62), false),
                ink(chrome.dark).rgba(), Qt::AlignCenter);
      break;
    case Chrome::Kind::titled:
      paintTitled(painter, chrome, area, scale);
      break;
    case Chrome::Kind::plain:
      painter.fillRect(area, rgb(chrome.color));
      break;
    case Chrome::Kind::clear:
      break;
  }
  painter.restore();
}

QPainterPath windowShape(const QRectF& rect, double scale) {
  QPainterPath path;
  const double r = kWindowCornerRadius * scale;
  path.addRoundedRect(rect, r, r);
  return path;
}

namespace {
constexpr double kKeyShadowSpread = 30, kShadowSpread = 18;  // points
constexpr double kKeyShadowDrop = 12, kShadowDrop = 6;       // points down
}  // namespace

int shadowReach(double scale) {
  return std::max(2, static_cast<int>(std::lround(kKeyShadowSpread * scale))) +
         static_cast<int>(std::ceil(kKeyShadowDrop * scale)) + 2;
}

namespace {

/// Draws `from` of `image` into `to` through `painter`, where the painter's clip lets it
/// and, with `shows`, only within the rectangle around what of `to` lies in `shows`: a
/// piece of a window's frame painted where nothing in front hides it.
void drawPiece(QPainter& painter, const QImage& image, const QRectF& to, const QRectF& from, const QRegion* shows) {
  if (to.isEmpty()) return;
  if (painter.hasClipping() && !painter.clipBoundingRect().intersects(to)) return;
  if (!shows) {
    painter.drawImage(to, image, from);
    return;
  }
  const QRect meet = shows->intersected(to.toAlignedRect()).boundingRect();
  if (meet.isEmpty()) return;
  painter.save();
  painter.setClipRect(meet, Qt::IntersectClip);
  painter.drawImage(to, image, from);
  painter.restore();
}

/// Walks the eight outer pieces of a square nine-patch `side` pixels wide, whose corners are
/// `m` pixels square, laid around `t`: corners as they are, edges stretched along it, the
/// middle left out. Calls `draw(to, from, column, row)` for each, column and row 1 being
/// the stretched ones.
template <class Draw>
void eachOuterPiece(const QRectF& t, double side, double m, Draw&& draw) {
  const double xs[] = {0, m, side - m, side}, ys[] = {0, m, side - m, side};
  const double xt[] = {t.left(), t.left() + m, t.right() - m, t.right()};
  const double yt[] = {t.top(), t.top() + m, t.bottom() - m, t.bottom()};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != 1 || j != 1)
        draw(QRectF(xt[i], yt[j], xt[i + 1] - xt[i], yt[j + 1] - yt[j]),
             QRectF(xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]), i, j);
}

}  // namespace

void paintShadow(QPainter& painter, const QRectF& rect, double scale, bool key, bool underBody, const QRegion* shows) {
  const int spread = std::max(2, static_cast<int>(std::lround((key ? kKeyShadowSpread : kShadowSpread) * scale)));
  const int corner = std::max(1, static_cast<int>(std::lround(kWindowCornerRadius * scale)));
  const ShadowPatch patch = shadowPatch(spread, corner, key ? 120 : 70);
  const double m = patch.margin, side = patch.image.width();
  const QRectF t =
      rect.adjusted(-spread, -spread, spread, spread).translated(0, (key ? kKeyShadowDrop : kShadowDrop) * scale);
  if (t.width() < 2 * m || t.height() < 2 * m) return;
  // The middle is left out: the window covers it.
  const auto draw = [&](const QRectF& to, const QRectF& from) { drawPiece(painter, patch.image, to, from, shows); };
  eachOuterPiece(t, side, m, [&](QRectF to, QRectF from, int i, int j) {
    if (underBody && (i == 1 || j == 1)) {
      // An edge is drawn one to one across it: cut where it runs under the body's straight
      // sides. A side's part by the lower corner (the shadow drops) is drawn whole; its
      // rows all look alike, so any of them stands for it.
      if (j == 0) {
        from.setBottom(from.bottom() - std::max(0.0, to.bottom() - rect.top()));
        to.setBottom(std::min(to.bottom(), rect.top()));
      } else if (j == 2) {
        from.setTop(from.top() + std::max(0.0, rect.bottom() - to.top()));
        to.setTop(std::max(to.top(), rect.bottom()));
      } else {
        const double straight = std::clamp(rect.bottom() - corner - 1, to.top(), to.bottom());
        draw(QRectF(to.left(), straight, to.width(), to.bottom() - straight), from);
        to.setBottom(straight);
        if (i == 0) {
          from.setRight(from.right() - std::max(0.0, to.right() - rect.left()));
          to.setRight(std::min(to.right(), rect.left()));
        } else {
          from.setLeft(from.left() + std::max(0.0, rect.right() - to.left()));
          to.setLeft(std::max(to.left(), rect.right()));
        }
      }
    }
    draw(to, from);
  });
}

namespace {

/// Strokes the hairline border of a framed window of `rect` (pixels).
void strokeBorder(QPainter& painter, const QRectF& rect, double scale, bool dark) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(Qt::NoBrush);
  const double width = std::max(1.0, 0.5 * scale);
  const double r = kWindowCornerRadius * scale;
  const QRectF edge = rect.adjusted(width / 2, width / 2, -width / 2, -width / 2);
  if (dark) {
    painter.setPen(QPen(QColor(0, 0, 0, 160), width));
    painter.drawRoundedRect(rect.adjusted(-width / 2, -width / 2, width / 2, width / 2), r, r);
    painter.setPen(QPen(QColor(255, 255, 255, 40), width));
  } else {
    painter.setPen(QPen(QColor(0, 0, 0, 56), width));
  }
  painter.drawRoundedRect(edge, r, r);
  painter.restore();
}

/// A border as a nine-patch: the border of a window just large enough for its four
/// corners, `inset` pixels in from the picture's edges (what lies outside the window
/// holds the dark border's outer ring), each corner's part `corner` pixels square.
struct BorderPatch {
  QImage image;
  int inset = 0, corner = 0;
};

BorderPatch makeBorderPatch(double scale, bool dark) {
  BorderPatch patch;
  const double width = std::max(1.0, 0.5 * scale);
  patch.inset = static_cast<int>(std::ceil(width)) + 1;
  patch.corner = patch.inset + static_cast<int>(std::ceil(kWindowCornerRadius * scale + width)) + 1;
  const int window = 2 * (patch.corner - patch.inset) + 2;
  patch.image = QImage(window + 2 * patch.inset, window + 2 * patch.inset, QImage::Format_ARGB32_Premultiplied);
  patch.image.fill(Qt::transparent);
  QPainter painter(&patch.image);
  strokeBorder(painter, QRectF(patch.inset, patch.inset, window, window), scale, dark);
  return patch;
}

BorderPatch borderPatch(double scale, bool dark) {
  static platform::SharedKeeper<std::pair<double, bool>, BorderPatch> kept({.count = kPatchesKept});
  return kept.get({scale, dark}, [&] { return makeBorderPatch(scale, dark); });
}

}  // namespace

void paintBorder(QPainter& painter, const QRectF& rect, double scale, bool dark, const QRegion* shows) {
  ++bordersPainted;
  const BorderPatch patch = borderPatch(scale, dark);
  const double c = patch.corner, in = patch.inset, side = patch.image.width();
  const bool whole = rect == QRectF(rect.toRect());
  if (!whole || rect.width() < 2 * (c - in) + 2 || rect.height() < 2 * (c - in) + 2) {
    strokeBorder(painter, rect, scale, dark);  // a window too small for its corners
    return;
  }
  // A straight stroke looks alike all along an edge: it is stretched.
  eachOuterPiece(rect.adjusted(-in, -in, in, in), side, c, [&](const QRectF& to, const QRectF& from, int, int) {
    drawPiece(painter, patch.image, to, from, shows);
  });
}

std::string clockText(double secondsSince1970) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (!localtime_r(&t, &local)) return "";
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[48];
  std::snprintf(text, sizeof text, "%s %d %s %d:%02d", days[local.tm_wday % 7], local.tm_mday,
                months[local.tm_mon % 12], local.tm_hour, local.tm_min);
  return text;
}

}  // namespace sim
