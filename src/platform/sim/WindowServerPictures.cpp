// What the window server shows: the window list, window and display pictures and
// application icons. Other apps' pictures are generated (a colour and a title) so that
// captures have content a test can check pixel by pixel; the program's own windows show
// the newest frame the program published in their surface, read without asking it.

#include <QColor>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "platform/CGWindow.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SharedSurface.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr double kTitleBarHeight = 28;

QColor rgb(std::uint32_t c) { return QColor::fromRgb(c & 0xFFFFFF); }

/// What a system window shows besides its colour: the menu bar's front app, the Dock's
/// apps. Gathered while the server's lock is held, painted without it.
struct SystemContent {
  std::string frontApp;                                  // the menu bar's bold name
  std::vector<std::pair<std::string, std::uint32_t>> dock;  // name, icon colour
  bool menuBar = false;
  bool dockStrip = false;
};

/// An app's icon in `box`: a rounded square in its colour with its initial.
void paintIcon(QPainter& painter, const QRectF& box, const std::string& name, std::uint32_t color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(rgb(color));  // flat: the icon's colour is what a test finds in it
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(box, box.width() * 0.225, box.height() * 0.225);
  painter.restore();
  // The first character as written (a whole code point, not a byte of it).
  const QString whole = QString::fromStdString(name);
  const std::string initial = whole.isEmpty() ? "?" : QString(whole.at(0).isHighSurrogate() ? whole.left(2) : whole.left(1)).toUpper().toStdString();
  drawLabel(painter, initial, box, systemFont(box.height() * 0.56, true), 0xFFFFFFFF, Qt::AlignCenter);
}

/// The three buttons at a title bar's left, `scale` pixels per point.
void paintWindowButtons(QPainter& painter, double bar, double scale) {
  const double d = 12 * scale;
  if (d < 2) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const std::uint32_t colors[] = {0xFF5F57, 0xFEBC2E, 0x28C840};
  for (int i = 0; i < 3; ++i) {
    const QRectF r((20 + 20 * i) * scale - d / 2, bar / 2 - d / 2, d, d);
    painter.setBrush(rgb(colors[i]));
    painter.setPen(QPen(rgb(colors[i]).darker(125), std::max(0.5, 0.5 * scale)));
    painter.drawEllipse(r);
  }
  painter.restore();
}

/// A window's picture at `width` × `height` pixels: its colour, and for standard windows a
/// title bar with the three buttons and the title; the menu bar and the Dock draw theirs.
/// Painted straight onto `painter` with the window's top left at the origin: a frame does
/// not need a picture of every window first.
void paintWindowOn(QPainter& painter, const Window& w, int width, int height, const SystemContent& system) {
  const QRect area(0, 0, std::max(width, 1), std::max(height, 1));
  const double scale = w.bounds.width() > 0 ? area.width() / w.bounds.width() : 1;
  painter.save();
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (system.dockStrip) {
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF strip = QRectF(area).adjusted(2 * scale, 4 * scale, -2 * scale, -4 * scale);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.setPen(QPen(QColor(255, 255, 255, 140), std::max(0.5, scale)));
    painter.drawRoundedRect(strip, 16 * scale, 16 * scale);
    const double n = static_cast<double>(system.dock.size());
    const double gap = 6 * scale;
    const double side = std::min(strip.height() - 2 * gap, n > 0 ? (strip.width() - gap * (n + 1)) / n : 0);
    if (side >= 2) {
      double x = strip.center().x() - (n * side + (n - 1) * gap) / 2;
      for (const auto& [name, color] : system.dock) {
        paintIcon(painter, QRectF(x, strip.center().y() - side / 2, side, side), name, color);
        x += side + gap;
      }
    }
    painter.restore();
    return;
  }
  painter.fillRect(area, rgb(w.color));
  if (system.menuBar) {
    const double size = 13 * scale;
    double x = 14 * scale;
    const auto item = [&](const std::string& text, bool bold) {
      const QFont font = systemFont(size, bold);
      drawLabel(painter, text, QRectF(x, 0, area.width() - x, area.height()), font, 0xFF1E1E1E,
                Qt::AlignLeft | Qt::AlignVCenter);
      if (canDrawText()) x += QFontMetricsF(font).horizontalAdvance(QString::fromStdString(text)) + 18 * scale;
    };
    item("\u25C6", false);  // the system menu's mark
    item(system.frontApp.empty() ? "Finder" : system.frontApp, true);
    for (const char* menu : {"File", "Edit", "View", "Window", "Help"}) item(menu, false);
    painter.restore();
    return;
  }
  const int bar = static_cast<int>(std::min(kTitleBarHeight * scale, area.height() / 3.0));
  if (w.subrole == kAXStandardWindowSubrole && bar >= 3) {
    QLinearGradient fill(0, 0, 0, bar);
    fill.setColorAt(0, rgb(w.color).darker(108));
    fill.setColorAt(1, rgb(w.color).darker(122));
    painter.fillRect(0, 0, area.width(), bar, fill);
    painter.fillRect(QRectF(0, bar - std::max(1.0, scale / 2), area.width(), std::max(1.0, scale / 2)),
                     rgb(w.color).darker(150));
    paintWindowButtons(painter, bar, scale);
    const double left = 80 * scale;
    drawLabel(painter, w.title, QRectF(left, 0, std::max(0.0, area.width() - 2 * left), bar),
              systemFont(std::min(13 * scale, bar * 0.55), true), rgb(w.color).lightness() < 110 ? 0xFFD8D8D8 : 0xFF202020,
              Qt::AlignCenter);
  }
  painter.restore();
}

QImage paintWindow(const Window& w, int width, int height, const SystemContent& system = {}) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  paintWindowOn(painter, w, width, height, system);
  return image;
}

using Surfaces = std::map<std::uint32_t, std::shared_ptr<const platform::SharedSurface>>;

/// A window as it is painted: its record and, for an own window with content, the surface
/// its content is published in and whether the window is opaque.
struct Shown {
  Window window;
  std::shared_ptr<const platform::SharedSurface> surface;
  bool opaque = true;
  platform::GlassStyle glass = platform::GlassStyle::regular;
  SystemContent system;
};

/// A window's picture, or the part of it that has content: `at` is where `image` lies in
/// the window's picture.
struct Painted {
  QImage image;
  QPoint at;
};

/// The picture of a window, with an own window's newest published content drawn over its
/// content area (below the title bar of a titled window). A window that is not opaque has
/// no fill of its own, so what its content leaves clear shows what lies behind; with
/// `part`, such a window without a title bar gives only the part its surface covers.
/// Nothing for an own window whose program has not published a frame yet.
std::optional<Painted> paintShown(const Shown& s, int width, int height, bool part = false) {
  if (!s.surface) return Painted{paintWindow(s.window, width, height, s.system), {}};
  const int fullWidth = std::max(width, 1), fullHeight = std::max(height, 1);
  const Window& w = s.window;
  const double scale = w.bounds.height() > 0 ? fullHeight / w.bounds.height() : 1;
  const int bar =
      w.subrole == kAXStandardWindowSubrole ? static_cast<int>(std::min(kTitleBarHeight * scale, fullHeight / 3.0)) : 0;
  const int contentHeight = fullHeight - bar;
  const platform::SharedSurface::Placement& place = s.surface->placement();
  const double px = static_cast<double>(fullWidth) / place.windowWidth;
  const double py = static_cast<double>(std::max(contentHeight, 1)) / place.windowHeight;
  const QRectF covered(place.x * px, bar + place.y * py, s.surface->width() * px, s.surface->height() * py);
  const bool onlyPart = part && !s.opaque && bar == 0;
  Painted painted;
  if (onlyPart) {
    painted.at = covered.toAlignedRect().topLeft();
    painted.image = QImage(covered.toAlignedRect().size(), QImage::Format_ARGB32_Premultiplied);
    painted.image.fill(Qt::transparent);
  } else if (s.opaque) {
    painted.image = paintWindow(w, fullWidth, fullHeight);
  } else {
    painted.image = QImage(fullWidth, fullHeight, QImage::Format_ARGB32_Premultiplied);
    painted.image.fill(Qt::transparent);
  }
  QImage& image = painted.image;
  if (!s.opaque && bar > 0) {
    // The title bar is the server's, whatever the content does.
    const QImage frame = paintWindow(w, fullWidth, fullHeight);
    QPainter painter(&image);
    painter.drawImage(QPoint(0, 0), frame, QRect(0, 0, fullWidth, bar));
  }
  const bool published = s.surface->read([&](const QImage& content, std::uint64_t) {
    if (contentHeight <= 0) return;
    const QRectF target = covered.translated(-painted.at);
    if (!s.opaque && target.toAlignedRect() == QRect(QPoint(), image.size()) && content.size() == image.size()) {
      image = content.copy();  // nothing of the server's to add
      return;
    }
    QPainter painter(&image);
    if (content.size() == target.size().toSize() && target.topLeft() == target.toAlignedRect().topLeft()) {
      painter.drawImage(target.topLeft(), content);  // one to one: a copy
    } else {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(target, content);
    }
  });
  if (!published) return std::nullopt;
  return painted;
}

/// What `desk` knows of a window to paint it; the server's lock is held.
Shown shown(const Window& w, const Desk& desk, const Surfaces& surfaces) {
  Shown s{w, nullptr, true, platform::GlassStyle::regular, {}};
  if (w.pid == WindowServer::kWindowServerPID && w.title == "Menubar") {
    s.system.menuBar = true;
    if (desk.frontmost())
      if (const App* a = desk.app(*desk.frontmost()); a && a->name) s.system.frontApp = *a->name;
  } else if (w.title == "Dock" && w.layer == CGWindowLevelForKey(kCGDockWindowLevelKey)) {
    s.system.dockStrip = true;
    for (const auto& [pid, a] : desk.allApps()) {
      if (a.terminated || a.policy != platform::ActivationPolicy::regular || !a.name) continue;
      s.system.dock.emplace_back(*a.name, a.iconColor);
    }
  }
  if (!w.own) return s;
  if (auto r = surfaces.find(w.number); r != surfaces.end()) s.surface = r->second;
  if (auto o = desk.ownStates.find(w.number); o != desk.ownStates.end()) {
    s.opaque = o->second.opaque;
    s.glass = o->second.glass;
  }
  return s;
}

/// The material under a window that is not opaque, as the window server composes it: what
/// lies behind (in `target`, under `picture` placed at `at`) blurred, kept where the
/// window's content covers it. The content's own translucent fill then tints it. `scale`
/// is pixels per point, so the blur spreads as far on every screen: 12 points for the
/// regular (frosted) glass, 3 for the clear glass, through which what lies behind stays
/// legible.
QImage material(const QImage& target, const QImage& picture, QPointF at, double scale, platform::GlassStyle style) {
  const QImage content = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Only where the content is: a panel as large as its display may have its glass in a
  // strip across it.
  const int cw = content.width(), ch = content.height();
  int top = ch, bottom = -1, left = cw, right = -1;
  for (int y = 0; y < ch; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(content.constScanLine(y));
    int first = 0;
    while (first < cw && qAlpha(in[first]) == 0) ++first;
    if (first == cw) continue;
    int last = cw - 1;
    while (qAlpha(in[last]) == 0) --last;
    top = std::min(top, y);
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  QImage blurred(picture.size(), QImage::Format_ARGB32_Premultiplied);
  blurred.fill(Qt::transparent);
  if (bottom < 0) return blurred;
  const QPoint origin(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
  const QRect covered = QRect(QPoint(left, top), QPoint(right, bottom)).translated(origin);
  const QRect inside = covered.intersected(target.rect());
  if (inside.isEmpty()) return blurred;
  {
    // Shrinking by the blur's spread and growing back smoothly comes close to a wide
    // Gaussian at a small cost; twice, so no blocks show.
    const double points = style == platform::GlassStyle::clear ? 3 : 12;
    const double spread = std::max(2.0, points * scale);
    QImage behind = target.copy(inside).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QSize small(std::max(1, static_cast<int>(inside.width() / spread)),
                      std::max(1, static_cast<int>(inside.height() / spread)));
    QImage soft = behind.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .scaled(small * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .scaled(inside.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&blurred);
    painter.drawImage(inside.topLeft() - origin, soft);
  }
  // Kept where the content is: fully from half its opacity up, so a faint shadow's edge
  // does not carry a frosted halo.
  const QRect local = inside.translated(-origin);
  for (int y = local.top(); y <= local.bottom(); ++y) {
    auto* out = reinterpret_cast<QRgb*>(blurred.scanLine(y));
    const auto* in = reinterpret_cast<const QRgb*>(content.constScanLine(y));
    for (int x = local.left(); x <= local.right(); ++x) {
      const int keep = std::min(255, qAlpha(in[x]) * 2);
      if (keep == 255) continue;
      const QRgb p = out[x];
      out[x] = qRgba(qRed(p) * keep / 255, qGreen(p) * keep / 255, qBlue(p) * keep / 255, qAlpha(p) * keep / 255);
    }
  }
  return blurred;
}

struct SpacePicture {
  std::uint64_t space = 0;
  std::int32_t type = kSpaceTypeDesktop;
  std::uint32_t color = 0;
  std::vector<Shown> windows;  // back to front
};

}  // namespace

CGImageRef makeAppIcon(const App& app) {
  QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    paintIcon(painter, QRectF(4, 4, 56, 56), app.name.value_or("?"), app.iconColor);
  }
  return std::make_shared<const CGImage>(image);
}

std::vector<platform::WindowEntry> WindowServer::windowList() {
  std::vector<platform::WindowEntry> result;
  read([&](const Desk& desk) {
    // The list is asked for several times between two changes of the desk.
    auto& entries = state_->ordered().entries;
    if (entries) {
      result = *entries;
      return;
    }
    const auto& ordered = state_->ordered().all;
    result.reserve(ordered.size());
    for (const Window* w : ordered) {
      if (!w->listed) continue;
      platform::WindowEntry e;
      e.number = w->number;
      e.ownerPID = w->pid;
      if (const App* a = desk.app(w->pid)) {
        e.ownerName = a->name;
      } else if (w->pid == kWindowServerPID) {
        e.ownerName = "Window Server";
      }
      if (!w->title.empty() || w->emptyName) e.name = w->title;
      e.layer = w->layer;
      e.bounds = w->bounds;
      e.alpha = w->alpha;
      e.onScreen = desk.onScreen(w->number);
      e.desktopElement = w->desktopElement;
      e.sharingState = w->sharingState;
      e.storeType = 1;
      e.memoryUsage = static_cast<std::int64_t>(w->bounds.width() * w->bounds.height() * 4) + 1024;
      result.push_back(std::move(e));
    }
    entries = result;
  });
  return result;
}

std::optional<std::vector<platform::ShareableWindow>> WindowServer::shareableWindows(bool onScreenOnly) {
  if (!world_.screenCaptureAllowed()) return std::nullopt;
  std::vector<platform::ShareableWindow> result;
  read([&](const Desk& desk) {
    for (const Window* w : state_->ordered().all) {
      if (!w->listed) continue;
      const bool on = desk.onScreen(w->number);
      if (onScreenOnly && !on) continue;
      platform::ShareableWindow s;
      s.windowID = w->number;
      s.frame = w->bounds;
      if (!w->title.empty() || w->emptyName) s.title = w->title;
      s.ownerPID = w->pid;
      s.layer = w->layer;
      s.onScreen = on;
      result.push_back(std::move(s));
    }
  });
  return result;
}

CGImageRef WindowServer::captureWindowPicture(std::uint32_t windowID, int width, int height) {
  if (width <= 0 || height <= 0 || !world_.screenCaptureAllowed()) return nullptr;
  platform::OwnWindowSurface::publishAll();  // a program capturing its own window sees its latest drawing
  QImage image = composeWindow(windowID, width, height);
  if (image.isNull()) return nullptr;
  return std::make_shared<const CGImage>(image);
}

QImage WindowServer::composeWindow(std::uint32_t number, int width, int height) {
  std::optional<Shown> w;
  read([&](const Desk& desk) {
    if (const Window* found = desk.window(number)) w = shown(*found, desk, state_->ownSurfaces);
  });
  if (!w || width <= 0 || height <= 0 || width > platform::kMaxPictureSide || height > platform::kMaxPictureSide)
    return QImage();
  const std::optional<Painted> painted = paintShown(*w, width, height);
  return painted ? painted->image : QImage();
}

std::shared_ptr<const platform::SharedSurface> WindowServer::ownWindowSurface(std::uint32_t number) const {
  std::shared_ptr<const platform::SharedSurface> surface;
  read([&](const Desk&) {
    if (auto it = state_->ownSurfaces.find(number); it != state_->ownSurfaces.end()) surface = it->second;
  });
  return surface;
}

void WindowServer::setOwnWindowSurface(std::uint32_t number, std::shared_ptr<const platform::SharedSurface> surface) {
  edit([&](Desk& desk) {
    const Window* w = desk.window(number);
    if (!surface || !w || !w->own) {
      state_->ownSurfaces.erase(number);
    } else {
      state_->ownSurfaces[number] = std::move(surface);
    }
    ++state_->surfaceChanges;
  });
}

QImage WindowServer::composeDisplay(std::uint32_t displayID, int width, int height, bool* changing) {
  if (changing) *changing = false;
  if (width <= 0 || height <= 0 || width > platform::kMaxPictureSide || height > platform::kMaxPictureSide)
    return QImage();
  std::optional<Display> display = world_.display(displayID);
  if (!display) return QImage();
  CGRect frame;
  SpacePicture from, to;
  std::vector<Shown> overlay;
  double progress = 1;
  int direction = 1;
  bool sliding = false;
  bool known = false;
  read([&](const Desk& desk) {
    const DeskDisplay* dd = desk.display(displayID);
    const DeskDisplay* h = desk.holder(displayID);
    if (!dd || !h) return;
    known = true;
    frame = dd->frame;
    const auto& ordered = state_->ordered().all;
    auto gather = [&](std::uint64_t id) {
      SpacePicture p;
      p.space = id;
      if (const Space* s = desk.space(id)) {
        p.type = s->type;
        p.color = s->desktopColor;
      } else {
        p.type = kSpaceTypeFullScreen;  // a full-screen Space already gone: its black backdrop
      }
      for (auto it = ordered.rbegin(); it != ordered.rend(); ++it) {
        const Window& w = **it;
        // A window without a colour is clear, unless it is one of the program's own with content.
        const bool clear = w.color == 0 && !(w.own && state_->ownSurfaces.count(w.number));
        if (!w.listed || !w.orderedIn || w.minimized || w.alpha <= 0 || w.desktopElement || clear) continue;
        if (desk.inShownOverlay(w.number)) continue;
        const bool here = w.allSpaces || std::find(w.spaces.begin(), w.spaces.end(), id) != w.spaces.end();
        if (here && w.bounds.intersects(frame)) p.windows.push_back(shown(w, desk, state_->ownSurfaces));
      }
      return p;
    };
    if (h->slide) {
      sliding = true;
      const double elapsed = platform::clock().monotonicSeconds() - h->slide->start;
      progress = std::clamp(elapsed / std::max(h->slide->duration, 1e-6), 0.0, 1.0);
      direction = h->slide->direction;
      from = gather(h->slide->from);
      to = gather(h->slide->to);
    } else {
      to = gather(h->current);
    }
    for (auto it = ordered.rbegin(); it != ordered.rend(); ++it) {
      const Window& w = **it;
      if (desk.inShownOverlay(w.number) && w.orderedIn && !w.minimized && w.alpha > 0 && w.bounds.intersects(frame))
        overlay.push_back(shown(w, desk, state_->ownSurfaces));
    }
  });
  if (!known) return QImage();
  // What the programs publish moves the generation: only a slide changes the picture without it.
  if (changing) *changing = sliding;

  const double sx = width / frame.width(), sy = height / frame.height();
  auto drawWindows = [&](QImage& target, QPainter& painter, const std::vector<Shown>& windows) {
    std::vector<QRectF> rects;
    rects.reserve(windows.size());
    for (const Shown& s : windows) {
      const Window& w = s.window;
      rects.emplace_back((w.bounds.minX() - frame.minX()) * sx, (w.bounds.minY() - frame.minY()) * sy,
                         w.bounds.width() * sx, w.bounds.height() * sy);
    }
    // A window hidden whole behind one solid window in front of it is not painted: a
    // crowded Space holds dozens of them.
    auto solid = [&](const Shown& s) { return s.window.alpha >= 1 && !s.system.dockStrip && (!s.surface || s.opaque); };
    const QRectF visible(0, 0, width, height);
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const Shown& s = windows[i];
      const Window& w = s.window;
      const QRectF& r = rects[i];
      if (!r.intersects(visible)) continue;
      bool hidden = false;
      for (std::size_t j = i + 1; j < windows.size() && !hidden; ++j) {
        hidden = solid(windows[j]) && rects[j].contains(r.intersected(visible));
      }
      if (hidden) continue;
      const int pw = std::max(1, platform::pictureSide(std::round(r.width())));
      const int ph = std::max(1, platform::pictureSide(std::round(r.height())));
      if (!s.surface && w.alpha >= 1) {
        painter.save();
        painter.translate(std::round(r.x()), std::round(r.y()));
        painter.setClipRect(0, 0, pw, ph);
        paintWindowOn(painter, w, pw, ph, s.system);
        painter.restore();
        continue;
      }
      // A clear window's content covers only part of it: the rest shows what lies behind.
      const std::optional<Painted> picture = paintShown(s, pw, ph, true);
      if (!picture) continue;  // nothing published yet: not shown until it is
      const QPointF at = QPointF(r.x(), r.y()) + QPointF(picture->at);
      painter.setOpacity(std::clamp(w.alpha, 0.0, 1.0));
      if (s.surface && !s.opaque) painter.drawImage(at, material(target, picture->image, at, sx, s.glass));
      painter.drawImage(at, picture->image);
    }
    painter.setOpacity(1);
  };
  auto paintSpace = [&](const SpacePicture& p) {
    QImage image;
    if (p.type == kSpaceTypeFullScreen) {
      image = QImage(width, height, QImage::Format_RGB32);
      image.fill(Qt::black);
    } else {
      Display shown = *display;
      if (p.color) shown.desktopColor = p.color;
      image = composeDisplayPicture(shown, width, height).convertToFormat(QImage::Format_RGB32);
    }
    QPainter painter(&image);
    drawWindows(image, painter, p.windows);
    return image;
  };

  QImage result;
  if (sliding) {
    result = QImage(width, height, QImage::Format_RGB32);
    QPainter painter(&result);
    // The old Space leaves towards one side while the new one comes in from the other.
    const double shift = direction * progress * width;
    painter.drawImage(QPointF(-shift, 0), paintSpace(from));
    painter.drawImage(QPointF(direction * width - shift, 0), paintSpace(to));
  } else {
    result = paintSpace(to);  // no copy of a whole frame when nothing slides
  }
  {
    QPainter painter(&result);
    drawWindows(result, painter, overlay);
  }
  return result;
}

}  // namespace sim
