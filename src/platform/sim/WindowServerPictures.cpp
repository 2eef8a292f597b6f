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
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/AppKitAppearance.h"
#include "platform/CGWindow.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SharedSurface.h"
#include "platform/WindowFrame.h"
#include "platform/sim/AveragedPicture.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/ShownWindow.h"
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

/// Whether `content` drawn at `target` is shrunk enough for filtering to lose thin lines,
/// and not so far that averaging would add up more source pixels than it can.
bool shrinksMuch(QSize content, QSizeF target) {
  const double x = target.width() / content.width(), y = target.height() / content.height();
  return std::min(x, y) < 0.9 && std::ceil(1 / x) * std::ceil(1 / y) <= 256;
}

/// The part `need` of a window's picture (its pixels), with the top left it lies at; the
/// whole picture without `need`. A frame that recomposes a few changed pixels of a window
/// neither fills nor lays out the rest of it: its title is not drawn where no one sees it.
Painted paintWindowPart(const Chrome& chrome, int width, int height, double scale, std::optional<QRect> need) {
  const QRect whole(0, 0, std::max(width, 1), std::max(height, 1));
  const QRect part = need ? need->intersected(whole) : whole;
  if (part == whole || part.isEmpty()) return Painted{paintWindow(chrome, width, height, scale), {}};
  QImage image(part.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.translate(-part.topLeft());
  painter.setClipRect(part);
  paintChrome(painter, chrome, width, height, scale);
  return Painted{std::move(image), part.topLeft()};
}

}  // namespace

QRectF surfaceArea(const Shown& s, int width, int height) {
  if (!s.surface) return {};
  const double scale = s.scaleAt(std::max(width, 1));
  const int fullWidth = std::max(width, 1), fullHeight = std::max(height, 1);
  const int bar = s.chrome.kind == Chrome::Kind::titled
                      ? static_cast<int>(std::min(platform::kTitleBarHeight * scale, fullHeight / 3.0))
                      : 0;
  const int contentHeight = fullHeight - bar;
  const platform::SharedSurface::Placement& place = s.surface->placement();
  const double px = static_cast<double>(fullWidth) / place.windowWidth;
  const double py = static_cast<double>(std::max(contentHeight, 1)) / place.windowHeight;
  return QRectF(place.x * px, bar + place.y * py, s.surface->width() * px, s.surface->height() * py);
}

std::optional<Painted> paintShown(const Shown& s, int width, int height, bool part, std::optional<QRect> need,
                                  bool* busy) {
  if (busy) *busy = false;
  const double scale = s.scaleAt(std::max(width, 1));
  if (!s.surface) {
    if (s.window.own && !s.opaque) return std::nullopt;
    return paintWindowPart(s.chrome, width, height, scale, need);
  }
  const int fullWidth = std::max(width, 1), fullHeight = std::max(height, 1);
  const int bar = s.chrome.kind == Chrome::Kind::titled
                      ? static_cast<int>(std::min(platform::kTitleBarHeight * scale, fullHeight / 3.0))
                      : 0;
  const int contentHeight = fullHeight - bar;
  const QRectF covered = surfaceArea(s, width, height);
  const bool onlyPart = part && !s.opaque && bar == 0;
  // A part of an opaque window (what an animation in it changed, most often) is mostly its
  // content: the window's own picture is painted under it only where the content lets it
  // show.
  const QRect whole(0, 0, fullWidth, fullHeight);
  const QRect within = need ? need->intersected(whole) : whole;
  bool under = s.opaque && within != whole && !within.isEmpty();
  Painted painted;
  if (onlyPart) {
    painted.at = covered.toAlignedRect().topLeft();
    painted.image = QImage(covered.toAlignedRect().size(), QImage::Format_ARGB32_Premultiplied);
    painted.image.fill(Qt::transparent);
  } else if (under) {
    painted.at = within.topLeft();
    painted.image = QImage(within.size(), QImage::Format_ARGB32_Premultiplied);
    painted.image.fill(Qt::transparent);
  } else if (s.opaque) {
    painted = paintWindowPart(s.chrome, fullWidth, fullHeight, scale, need);
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
  // The window's own picture under what is drawn so far, which it leaves as it was.
  const auto paintUnder = [&] {
    Painted below = paintWindowPart(s.chrome, fullWidth, fullHeight, scale, need);
    QPainter(&below.image).drawImage(QPoint(0, 0), image);
    image = std::move(below.image);
    under = false;
  };
  const auto drawContent = [&](const QImage& content, std::uint64_t) {
    if (contentHeight <= 0) return;
    const QRectF target = covered.translated(-painted.at);
    if (!need && !s.opaque && target.toAlignedRect() == QRect(QPoint(), image.size()) &&
        content.size() == image.size()) {
      image = content.copy();  // nothing of the server's to add
      return;
    }
    const bool oneToOne =
        content.size() == target.size().toSize() && target.topLeft() == target.toAlignedRect().topLeft();
    const bool averaged = !oneToOne && shrinksMuch(content.size(), target.size());
    if (under && !averaged) paintUnder();
    QPainter painter(&image);
    if (need) painter.setClipRect(need->translated(-painted.at));
    if (oneToOne) {
      painter.drawImage(target.topLeft(), content);  // a copy
    } else if (averaged) {
      const QRect area = need ? need->translated(-painted.at) : image.rect();
      if (drawAveraged(painter, content, target, area & image.rect())) under = false;
    } else {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(target, content);
    }
  };
  if (!s.surface->read(drawContent, busy)) return std::nullopt;
  if (under) paintUnder();
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
namespace {
std::atomic<std::uint64_t> looks{0};
}  // namespace

std::uint64_t looksRead() { return looks.load(); }

Look lookOf(World& world) {
  ++looks;
  Look look;
  look.dark = world.darkAppearance();
  look.clock = clockText(platform::clock().now());
  look.accessibility = world.accessibilityTrusted(false);
  look.screenCapture = world.screenCaptureForNewProcesses();
  return look;
}

/// What `desk` knows of a window to paint it; the server's lock is held.
Shown shown(const Window& w, const Desk& desk, const Surfaces& surfaces, const Look& look) {
  Shown s{w, nullptr, true, platform::GlassStyle::regular, {}};
  Chrome& c = s.chrome;
  c.dark = look.dark;
  // The program's own windows are filled with the appearance's window background.
  c.color = w.own && w.color == kOwnWindowFill && look.dark ? kOwnWindowDarkFill : w.color;
  if (w.clear) {
    c.kind = Chrome::Kind::clear;
  } else if (w.pid == WindowServer::kWindowServerPID && w.title == "Menubar") {
    c.kind = Chrome::Kind::menuBar;
    if (desk.frontmost())
      if (const App* a = desk.app(*desk.frontmost()); a && a->name) c.frontApp = *a->name;
    c.clock = look.clock;
    if (const auto d = desk.displayUnder(w.bounds))
      if (const DeskDisplay* dd = desk.display(*d)) c.notch = dd->notch;
  } else if (!w.switcherApps.empty()) {
    c.kind = Chrome::Kind::appSwitcher;
    for (const std::int32_t pid : w.switcherApps) {
      const App* a = desk.app(pid);
      c.dock.emplace_back(a && a->name ? *a->name : "?", a ? a->iconColor : 0x808080);
    }
    c.chosen = w.switcherChoice;
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
    if (const auto list = privacyListWithAnchor(w.settingsPane)) {
      const App* program = desk.app(desk.ownPID());
      c.pane = PaneLook{*list, program && program->name ? *program->name : "?", program ? program->iconColor : 0x808080,
                        *list == PrivacyList::accessibility ? look.accessibility : look.screenCapture};
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

// In process nobody shows the displays but the world's own captures, which read the
// surface when they draw: there is nobody to wake.
void WindowServer::ownWindowSurfacePublished(std::uint32_t) {}

void WindowServer::setOwnWindowSurface(std::uint32_t number, std::shared_ptr<const platform::SharedSurface> surface) {
  edit([&](Desk& desk) {
    const Window* w = desk.window(number);
    state_->ownMarked = true;  // its content is no part of its state
    state_->retireSurface(number);
    if (surface && w && w->own) state_->ownSurfaces[number] = std::move(surface);
    ++state_->surfaceChanges;
  });
}

}  // namespace sim
