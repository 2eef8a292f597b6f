// What the window server shows: the window list, window and display pictures and
// application icons. Other apps' pictures are generated (a colour and a title) so that
// captures have content a test can check pixel by pixel; the program's own windows show
// what their content draws, through the renderer the program handed in.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/CGWindow.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr double kTitleBarHeight = 28;

QColor rgb(std::uint32_t c) { return QColor::fromRgb(c & 0xFFFFFF); }

/// A window's picture at `width` × `height` pixels: its colour, and for standard windows a
/// darker title bar carrying the title.
QImage paintWindow(const Window& w, int width, int height) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied);
  image.fill(rgb(w.color));
  const double scale = w.bounds.width() > 0 ? image.width() / w.bounds.width() : 1;
  const int bar = static_cast<int>(std::min(kTitleBarHeight * scale, image.height() / 3.0));
  if (w.subrole == kAXStandardWindowSubrole && bar >= 3) {
    {
      QPainter painter(&image);
      painter.fillRect(0, 0, image.width(), bar, rgb(w.color).darker(135));
    }
    const int textScale = std::max(1, bar / 12);
    const int textWidth = static_cast<int>(w.title.size()) * 6 * textScale;
    drawPixelText(image, w.title, std::max(2, (image.width() - textWidth) / 2), std::max(0, (bar - 7 * textScale) / 2),
                  textScale, 0xFF202020);
  }
  return image;
}

using Renderer = platform::WindowServerPort::OwnWindowRenderer;

/// A window as it is painted: its record and, for an own window with content, how to get
/// that content and whether the window is opaque.
struct Shown {
  Window window;
  std::shared_ptr<const Renderer> renderer;
  bool opaque = true;
};

/// The picture of a window, with an own window's content drawn over its content area
/// (below the title bar of a titled window). A window that is not opaque has no fill of
/// its own, so what its content leaves clear shows what lies behind. Called unlocked: the
/// renderer may wait for the program's main thread.
QImage paintShown(const Shown& s, int width, int height) {
  if (!s.renderer || !*s.renderer) return paintWindow(s.window, width, height);
  const int fullWidth = std::max(width, 1), fullHeight = std::max(height, 1);
  QImage image;
  if (s.opaque) {
    image = paintWindow(s.window, fullWidth, fullHeight);
  } else {
    image = QImage(fullWidth, fullHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
  }
  const Window& w = s.window;
  const double scale = w.bounds.height() > 0 ? fullHeight / w.bounds.height() : 1;
  const int bar =
      w.subrole == kAXStandardWindowSubrole ? static_cast<int>(std::min(kTitleBarHeight * scale, fullHeight / 3.0)) : 0;
  if (!s.opaque && bar > 0) {
    // The title bar is the server's, whatever the content does.
    const QImage frame = paintWindow(w, fullWidth, fullHeight);
    QPainter painter(&image);
    painter.drawImage(QPoint(0, 0), frame, QRect(0, 0, fullWidth, bar));
  }
  const int contentHeight = fullHeight - bar;
  if (contentHeight <= 0) return image;
  const CGImageRef content = (*s.renderer)(fullWidth, contentHeight);
  if (!content || content->width() <= 0 || content->height() <= 0) return image;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRectF(0, bar, fullWidth, contentHeight), content->qimage());
  return image;
}

/// What `desk` knows of a window to paint it; the server's lock is held.
Shown shown(const Window& w, const Desk& desk,
            const std::map<std::uint32_t, std::shared_ptr<const Renderer>>& renderers) {
  Shown s{w, nullptr, true};
  if (!w.own) return s;
  if (auto r = renderers.find(w.number); r != renderers.end()) s.renderer = r->second;
  if (auto o = desk.ownStates.find(w.number); o != desk.ownStates.end()) s.opaque = o->second.opaque;
  return s;
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
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(rgb(app.iconColor));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
  }
  const std::string initial = app.name && !app.name->empty() ? app.name->substr(0, 1) : "?";
  drawPixelText(image, initial, 23, 18, 4, 0xFFFFFFFF);
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
  QImage image = composeWindow(windowID, width, height);
  if (image.isNull()) return nullptr;
  return std::make_shared<const CGImage>(image);
}

QImage WindowServer::composeWindow(std::uint32_t number, int width, int height) {
  std::optional<Shown> w;
  read([&](const Desk& desk) {
    if (const Window* found = desk.window(number)) w = shown(*found, desk, state_->ownRenderers);
  });
  if (!w || width <= 0 || height <= 0 || width > platform::kMaxPictureSide || height > platform::kMaxPictureSide)
    return QImage();
  return paintShown(*w, width, height);
}

void WindowServer::setOwnWindowRenderer(std::uint32_t number, OwnWindowRenderer renderer) {
  read([&](const Desk& desk) {
    const Window* w = desk.window(number);
    if (!renderer || !w || !w->own) {
      state_->ownRenderers.erase(number);
    } else {
      state_->ownRenderers[number] = std::make_shared<const OwnWindowRenderer>(std::move(renderer));
    }
  });
}

QImage WindowServer::composeDisplay(std::uint32_t displayID, int width, int height) {
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
        if (!w.listed || !w.orderedIn || w.minimized || w.alpha <= 0 || w.desktopElement || w.color == 0) continue;
        if (desk.inShownOverlay(w.number)) continue;
        const bool here = w.allSpaces || std::find(w.spaces.begin(), w.spaces.end(), id) != w.spaces.end();
        if (here && w.bounds.intersects(frame)) p.windows.push_back(shown(w, desk, state_->ownRenderers));
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
        overlay.push_back(shown(w, desk, state_->ownRenderers));
    }
  });
  if (!known) return QImage();

  const double sx = width / frame.width(), sy = height / frame.height();
  auto drawWindows = [&](QPainter& painter, const std::vector<Shown>& windows) {
    for (const Shown& s : windows) {
      const Window& w = s.window;
      const QRectF r((w.bounds.minX() - frame.minX()) * sx, (w.bounds.minY() - frame.minY()) * sy,
                     w.bounds.width() * sx, w.bounds.height() * sy);
      const int pw = std::max(1, platform::pictureSide(std::round(r.width())));
      const int ph = std::max(1, platform::pictureSide(std::round(r.height())));
      painter.setOpacity(std::clamp(w.alpha, 0.0, 1.0));
      painter.drawImage(QPointF(r.x(), r.y()), paintShown(s, pw, ph));
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
    drawWindows(painter, p.windows);
    return image;
  };

  QImage result(width, height, QImage::Format_RGB32);
  {
    QPainter painter(&result);
    if (sliding) {
      // The old Space leaves towards one side while the new one comes in from the other.
      const double shift = direction * progress * width;
      painter.drawImage(QPointF(-shift, 0), paintSpace(from));
      painter.drawImage(QPointF(direction * width - shift, 0), paintSpace(to));
    } else {
      painter.drawImage(0, 0, paintSpace(to));
    }
    drawWindows(painter, overlay);
  }
  return result;
}

}  // namespace sim
