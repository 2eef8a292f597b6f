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
#include "platform/AppKitAppearance.h"
#include "platform/WindowFrame.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/WindowChrome.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

/// A window's picture at `width` × `height` pixels: its colour and what the server draws
/// of it, on a clear picture.
QImage paintWindow(const Chrome& chrome, int width, int height, double scale) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  paintChrome(painter, chrome, width, height, scale);
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
  Chrome chrome;

  /// Pixels per point when drawn `width` pixels wide.
  double scaleAt(int width) const { return window.bounds.width() > 0 ? width / window.bounds.width() : 1; }
};

/// What every window of one picture shares: the appearance, the key window, the time.
struct Look {
  bool dark = false;
  std::uint32_t key = 0;
  std::string clock;
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
/// Nothing for an own window whose program has not published a frame yet, nor for a clear
/// own window without a view: its background is clear.
std::optional<Painted> paintShown(const Shown& s, int width, int height, bool part = false) {
  const double scale = s.scaleAt(std::max(width, 1));
  if (!s.surface) {
    if (s.window.own && !s.opaque) return std::nullopt;
    return Painted{paintWindow(s.chrome, width, height, scale), {}};
  }
  const int fullWidth = std::max(width, 1), fullHeight = std::max(height, 1);
  const int bar = s.chrome.kind == Chrome::Kind::titled
                      ? static_cast<int>(std::min(platform::kTitleBarHeight * scale, fullHeight / 3.0))
                      : 0;
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
    painted.image = paintWindow(s.chrome, fullWidth, fullHeight, scale);
  } else {
    painted.image = QImage(fullWidth, fullHeight, QImage::Format_ARGB32_Premultiplied);
    painted.image.fill(Qt::transparent);
  }
  QImage& image = painted.image;
  if (!s.opaque && bar > 0) {
    // The title bar is the server's, whatever the content does.
    const QImage frame = paintWindow(s.chrome, fullWidth, fullHeight, scale);
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

/// The window that has the keyboard: the front app's focused (else front-most) window, or
/// the program's own key window while it is in front or on its way there (an app is drawn
/// active from the moment it asks). The server's lock is held.
std::uint32_t keyWindowOf(const Desk& desk, const std::vector<const Window*>& ordered, std::uint32_t ownKey,
                          const std::map<std::int32_t, int>& activating) {
  if (activating.count(desk.ownPID())) return ownKey;
  const auto front = desk.frontmost();
  if (!front) return 0;
  if (*front == desk.ownPID()) return ownKey;
  if (const App* a = desk.app(*front); a && a->focusedWindow) return a->focusedWindow;
  for (const Window* w : ordered)
    if (w->pid == *front && w->layer == 0 && desk.onScreen(w->number)) return w->number;
  return 0;
}

/// The appearance and the time, read outside the server's lock.
Look lookOf(World& world) {
  Look look;
  look.dark = platform::isDarkInterfaceStyle(world.preferenceValue(World::kGlobalDomain, "AppleInterfaceStyle"));
  look.clock = clockText(platform::clock().now());
  return look;
}

/// What `desk` knows of a window to paint it; the server's lock is held.
Shown shown(const Window& w, const Desk& desk, const Surfaces& surfaces, const Look& look) {
  Shown s{w, nullptr, true, platform::GlassStyle::regular, {}};
  Chrome& c = s.chrome;
  c.dark = look.dark;
  // The program's own windows are filled with the appearance's window background.
  c.color = w.own && w.color == kOwnWindowFill && look.dark ? kOwnWindowDarkFill : w.color;
  if (w.pid == WindowServer::kWindowServerPID && w.title == "Menubar") {
    c.kind = Chrome::Kind::menuBar;
    if (desk.frontmost())
      if (const App* a = desk.app(*desk.frontmost()); a && a->name) c.frontApp = *a->name;
    c.clock = look.clock;
    if (const auto d = desk.displayUnder(w.bounds))
      if (const DeskDisplay* dd = desk.display(*d)) c.notch = dd->notch;
  } else if (w.title == "Dock" && w.layer == CGWindowLevelForKey(kCGDockWindowLevelKey)) {
    c.kind = Chrome::Kind::dock;
    for (const auto& [pid, a] : desk.allApps()) {
      if (a.terminated || a.policy != platform::ActivationPolicy::regular || !a.name) continue;
      c.dock.emplace_back(*a.name, a.iconColor);
    }
  } else if (w.layer == CGWindowLevelForKey(kCGStatusWindowLevelKey) && !w.own) {
    c.kind = Chrome::Kind::statusItem;
    c.glyph = w.glyph;
    if (c.glyph.empty())
      if (const App* a = desk.app(w.pid); a && a->name && !a->name->empty()) c.glyph = a->name->substr(0, 1);
  } else if (w.subrole == kAXStandardWindowSubrole && !w.fullScreen) {
    c.kind = Chrome::Kind::titled;
    c.title = w.title;
    c.key = w.number == look.key;
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
  Look seen = lookOf(world_);
  read([&](const Desk& desk) {
    const auto ownKey = state_->ownKeys.find(desk.ownPID());
    seen.key = keyWindowOf(desk, state_->ordered().all, ownKey == state_->ownKeys.end() ? 0 : ownKey->second.number,
                           state_->activating);
    if (const Window* found = desk.window(number)) w = shown(*found, desk, state_->ownSurfaces, seen);
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
    state_->retireSurface(number);
    if (surface && w && w->own) state_->ownSurfaces[number] = std::move(surface);
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
  Look seen = lookOf(world_);
  read([&](const Desk& desk) {
    const auto ownKey = state_->ownKeys.find(desk.ownPID());
    seen.key = keyWindowOf(desk, state_->ordered().all, ownKey == state_->ownKeys.end() ? 0 : ownKey->second.number,
                           state_->activating);
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
        if (here && w.bounds.intersects(frame)) p.windows.push_back(shown(w, desk, state_->ownSurfaces, seen));
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
        overlay.push_back(shown(w, desk, state_->ownSurfaces, seen));
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
    // Only a window that will be painted hides anything: a clear own window, or one whose
    // surface has published nothing yet, is skipped below and must not hide what is behind.
    auto solid = [&](const Shown& s) {
      const bool painted = s.surface ? s.opaque && s.surface->sequence() > 0 : !(s.window.own && !s.opaque);
      return painted && s.window.alpha >= 1 && s.chrome.kind != Chrome::Kind::dock &&
             s.chrome.kind != Chrome::Kind::menuBar && s.chrome.kind != Chrome::Kind::statusItem;
    };
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
      const QRectF placed(std::round(r.x()), std::round(r.y()), pw, ph);
      // A clear window's content covers only part of it: the rest shows what lies behind.
      std::optional<Painted> picture;
      if (s.surface || (w.own && !s.opaque) || w.alpha < 1) {
        picture = paintShown(s, pw, ph, true);
        if (!picture) continue;  // nothing published yet: not shown until it is
      }
      const bool framed = s.chrome.framed();
      painter.setOpacity(std::clamp(w.alpha, 0.0, 1.0));
      if (framed) {
        paintShadow(painter, placed, sx, s.chrome.key);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipPath(windowShape(placed, sx));
      }
      if (!picture) {
        painter.save();
        painter.translate(placed.topLeft());
        painter.setClipRect(0, 0, pw, ph, framed ? Qt::IntersectClip : Qt::ReplaceClip);
        paintChrome(painter, s.chrome, pw, ph, sx);
        painter.restore();
      } else {
        const QPointF at = placed.topLeft() + QPointF(picture->at);
        if (s.surface && !s.opaque) painter.drawImage(at, material(target, picture->image, at, sx, s.glass));
        painter.drawImage(at, picture->image);
      }
      if (framed) {
        painter.restore();
        paintBorder(painter, placed, sx, s.chrome.dark);
      }
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
