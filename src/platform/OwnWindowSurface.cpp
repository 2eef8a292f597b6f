#include "platform/OwnWindowSurface.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/WindowServerPort.h"

namespace platform {

namespace {

/// How soon an owner whose buffers were all being read tries again.
constexpr double kRetrySeconds = 0.004;
/// A partly drawn window's surface is rounded out to this many pixels.
constexpr int kPlacementGrid = 64;
/// Damage of up to this many rectangles is drawn one rectangle at a time.
constexpr int kSeparateParts = 16;
/// A part drawn again is compared with what it was only up to this many pixels.
constexpr double kComparedPixels = 512.0 * 512.0;
/// A frame's parts of up to this many pixels are drawn into a picture kept for the next
/// frames, let go once no frame came for kPartsPictureLife seconds: longer than a
/// demonstration rests between its steps.
constexpr double kKeptPartsPixels = 256.0 * 512.0;
/// ... and of up to this share of the window's.
constexpr double kKeptPartsShare = 0.25;
constexpr double kPartsPictureLife = 2.0;
/// A window drawn whole again over its newest frame is drawn this many rows at a time, so
/// beside that one frame it keeps only a band of pixels, never a second frame.
constexpr int kBandRows = 64;

/// A transparent picture whose pages are not touched until drawn on: new zeroed memory
/// comes from the system as it is, where filling it would fault in every page.
QImage transparentPicture(int width, int height) {
  const qsizetype line = static_cast<qsizetype>(width) * 4;
  void* bits = std::calloc(static_cast<std::size_t>(height), static_cast<std::size_t>(line));
  if (!bits) return {};
  return QImage(
      static_cast<uchar*>(bits), width, height, line, QImage::Format_ARGB32_Premultiplied,
      [](void* data) { std::free(data); }, bits);
}

/// The rows of each rectangle of `area` in which `picture` differs from `before` (copies
/// of those rectangles, in order).
QRegion changedRows(const QImage& picture, const QRegion& area, const std::vector<QImage>& before) {
  QRegion changed;
  const int bytes = picture.depth() / 8;
  std::size_t i = 0;
  for (const QRect& r : area) {
    const QImage& old = before[i++];
    int first = -1, last = -1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      if (std::memcmp(picture.constScanLine(y) + r.x() * bytes, old.constScanLine(y - r.top()),
                      static_cast<std::size_t>(r.width() * bytes)) == 0)
        continue;
      if (first < 0) first = y;
      last = y;
    }
    if (first >= 0) changed += QRect(r.x(), first, r.width(), last - first + 1);
  }
  return changed;
}

/// The rows of `area` (pixels of `frame`) where `parts`, placed at `at`, differ from
/// `frame`: each rectangle's first to last such row.
QRegion changedRows(const QImage& frame, const QImage& parts, QPoint at, const QRegion& area) {
  QRegion changed;
  const QRegion within = area & frame.rect() & QRect(at, parts.size());
  for (const QRect& r : within) {
    int first = -1, last = -1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      if (std::memcmp(frame.constScanLine(y) + static_cast<qsizetype>(r.x()) * 4,
                      parts.constScanLine(y - at.y()) + static_cast<qsizetype>(r.x() - at.x()) * 4,
                      static_cast<std::size_t>(r.width()) * 4) == 0)
        continue;
      if (first < 0) first = y;
      last = y;
    }
    if (first >= 0) changed += QRect(r.x(), first, r.width(), last - first + 1);
  }
  return changed;
}

/// Makes `area` of a premultiplied picture transparent, row by row on this thread (a
/// painter's fill under a clip of several rectangles goes through spans it may hand to
/// its pool).
void clear(QImage& picture, const QRegion& area) {
  const qsizetype line = picture.bytesPerLine();
  uchar* bits = picture.bits();
  const QRegion within = area & picture.rect();
  for (const QRect& r : within) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      std::memset(bits + y * line + static_cast<qsizetype>(r.left()) * 4, 0, static_cast<std::size_t>(r.width()) * 4);
  }
}

/// What the next event pass would do first: show the parts just added to the view's
/// layouts (when the view is shown off screen), and place them.
void placeChildren(QWidget* view, bool partsAdded) {
  // Walking every widget of a large view costs more than a small frame's drawing: only
  // after a part was added.
  if (partsAdded) {
    for (QWidget* child : view->findChildren<QWidget*>()) {
      if (child->isHidden() && !child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
        child->show();
    }
  }
  if (QLayout* layout = view->layout()) layout->activate();
}

/// `region` of the view (points) in the surface's pixels, within `bounds`.
QRegion inPixels(const QRegion& region, double sx, double sy, QPoint origin, const QRect& bounds) {
  QRegion pixels;
  for (const QRect& r : region)
    pixels += QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy).toAlignedRect();
  return pixels.translated(-origin) & bounds;
}

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

/// The program's live surfaces, in the order they were made (main thread only).
std::vector<OwnWindowSurface*>& live() {
  static auto* surfaces = new std::vector<OwnWindowSurface*>();
  return *surfaces;
}

OwnWindowSurface* surfaceShowing(const QWidget* view) {
  for (OwnWindowSurface* s : live()) {
    if (s->content() == view) return s;
  }
  return nullptr;
}

/// Turns Qt's paint passes over the surfaces' views into frames. A pass starts with the
/// update request Qt sends the view; the paint events of that pass say what Qt would
/// repaint, and are answered by drawing that into the surface instead (Qt's own backing
/// store of a view shown off screen is never looked at). Paint events outside such a pass
/// (a render or grab the program makes itself) go through untouched.
class PaintHook : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::ChildAdded || type == QEvent::ChildRemoved) {
      // A child being destroyed is no widget any more by the time its parent hears of it.
      const bool widgetChild =
          type == QEvent::ChildRemoved || static_cast<QChildEvent*>(event)->child()->isWidgetType();
      if (object->isWidgetType() && widgetChild) {
        if (OwnWindowSurface* surface = surfaceShowing(static_cast<QWidget*>(object)->window()))
          surface->childrenChanged(type == QEvent::ChildAdded);
      }
      return false;
    }
    if (type == QEvent::Move) {
      if (object->isWidgetType()) moved(*static_cast<QWidget*>(object), *static_cast<QMoveEvent*>(event));
      return false;
    }
    if (type == QEvent::Paint) {
      if (!syncing_ || !object->isWidgetType()) return false;
      auto* widget = static_cast<QWidget*>(object);
      QWidget* view = syncing_->content();
      if (!view || widget->window() != view) return false;
      const QPoint at = widget == view ? QPoint() : widget->mapTo(view, QPoint());
      syncing_->damage(static_cast<QPaintEvent*>(event)->region().translated(at));
      return true;
    }
    if (type == QEvent::Resize && object->isWidgetType() && static_cast<QWidget*>(object)->isWindow()) {
      if (OwnWindowSurface* surface = surfaceShowing(static_cast<QWidget*>(object))) surface->resized();
      return false;
    }
    if (type != QEvent::UpdateRequest || syncing_ || !object->isWidgetType()) return false;
    OwnWindowSurface* surface = surfaceShowing(static_cast<QWidget*>(object));
    if (!surface) return false;
    pass(*surface, *event);
    return true;
  }

  /// Runs Qt's paint pass over the surface's view now, whether or not Qt has asked for one
  /// yet (its request may wait for a timer of the event loop), and publishes what it drew;
  /// false when it cannot now (inside another pass).
  bool syncNow(OwnWindowSurface& surface) {
    if (syncing_ || !surface.content()) return false;
    QEvent request(QEvent::UpdateRequest);
    pass(surface, request);
    return true;
  }

  /// Installs the hook on the running application, once per application.
  static PaintHook& installed() {
    static auto* hook = new PaintHook();
    static const QCoreApplication* on = nullptr;
    if (QCoreApplication* app = QCoreApplication::instance(); app && app != on) {
      app->installEventFilter(hook);
      on = app;
    }
    return *hook;
  }

 private:
  /// Qt moves an opaque child (a scrolled form) by shifting its pixels inside its own
  /// backing store and repaints only what the move uncovers. The surface keeps no such
  /// copy to shift, so the parent's area the child left and the one it took are drawn again.
  static void moved(QWidget& widget, const QMoveEvent& event) {
    QWidget* parent = widget.parentWidget();
    if (widget.isWindow() || !parent || !widget.isVisible()) return;
    OwnWindowSurface* surface = surfaceShowing(widget.window());
    if (!surface) return;
    const QRegion area = (QRect(event.oldPos(), widget.size()) | QRect(event.pos(), widget.size())) & parent->rect();
    surface->damage(area.translated(parent->mapTo(surface->content(), QPoint())));
  }

  void pass(OwnWindowSurface& surface, QEvent& request) {
    const std::shared_ptr<OwnWindowSurface> keep = surface.shared_from_this();
    syncing_ = &surface;
    QWidget* view = surface.content();
    // Qt fills the window's background, and that of each part filling its own, into its
    // own backing store before it sends the paints: a second copy of the window that
    // nothing reads (display-sized for a panel's backdrop). Told for this pass that the
    // window has no background and that those parts paint it themselves, Qt never writes
    // that store and its pages are never made; the surface draws the background itself.
    // Only what Qt takes for opaque already is told so: what it repaints stays the same.
    const bool noBackground = view->testAttribute(Qt::WA_NoSystemBackground);
    if (!noBackground) view->setAttribute(Qt::WA_NoSystemBackground);
    std::vector<QPointer<QWidget>> filled;
    const auto paintsOwn = [&filled](QWidget* w, QPalette::ColorRole role) {
      const QBrush& brush = w->palette().brush(role);
      if (brush.style() == Qt::NoBrush || !brush.isOpaque() || w->testAttribute(Qt::WA_OpaquePaintEvent) ||
          w->testAttribute(Qt::WA_NoSystemBackground) || w->testAttribute(Qt::WA_StyledBackground))
        return;
      w->setAttribute(Qt::WA_OpaquePaintEvent);
      filled.emplace_back(w);
    };
    for (QWidget* child : surface.parts()) {
      if (child && child->autoFillBackground()) paintsOwn(child, child->backgroundRole());
    }
    static_cast<QObject*>(view)->event(&request);  // Qt's pass, this hook answering its paints
    for (const QPointer<QWidget>& w : filled) {
      if (w) w->setAttribute(Qt::WA_OpaquePaintEvent, false);
    }
    if (!noBackground && surface.content() == view) view->setAttribute(Qt::WA_NoSystemBackground, false);
    syncing_ = nullptr;
    keep->publish();
  }

  OwnWindowSurface* syncing_ = nullptr;
};

}  // namespace

OwnWindowSurface::OwnWindowSurface() { live().push_back(this); }

OwnWindowSurface::~OwnWindowSurface() {
  std::erase(live(), this);
  QObject::disconnect(destroyedWatch_);
  if (content() && shownHere_) content()->hide();
}

QWidget* OwnWindowSurface::content() const { return static_cast<QWidget*>(content_.data()); }

const std::vector<QPointer<QWidget>>& OwnWindowSurface::parts() {
  // Walking every widget of a large view on every frame costs more than a small frame's
  // drawing: the list is made again only once widgets were added or taken away.
  if (!partsKnown_) {
    parts_.clear();
    if (QWidget* view = content()) {
      for (QWidget* child : view->findChildren<QWidget*>()) parts_.emplace_back(child);
    }
    partsKnown_ = true;
  }
  return parts_;
}

void OwnWindowSurface::setContent(QWidget* view) {
  if (view == content()) return;
  QObject::disconnect(destroyedWatch_);
  if (auto* reporting = dynamic_cast<DamageReportingView*>(content())) reporting->damaged = nullptr;
  if (content() && shownHere_) content()->hide();
  shownHere_ = false;
  content_ = view;
  whole_ = true;
  childrenAdded_ = true;
  partsKnown_ = false;
  if (!view) {
    withdraw();
    return;
  }
  showOffScreen(view);
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  if (auto* reporting = dynamic_cast<DamageReportingView*>(view)) {
    reporting->damaged = [self] {
      if (auto surface = self.lock()) surface->publishSoon();
    };
  }
  destroyedWatch_ = QObject::connect(view, &QObject::destroyed, &PaintHook::installed(), [self] {
    if (auto surface = self.lock()) surface->withdraw();
  });
  publish();
}

void OwnWindowSurface::showOffScreen(QWidget* view) {
  // A view inside another widget is drawn with that one; only a view of its own is shown.
  if (view->parentWidget() || view->isVisible() || !QCoreApplication::instance()) return;
  if (stopsWhenOut_ && !orderedIn_) return;  // shown when its window is ordered in
  PaintHook::installed();
  view->setAttribute(Qt::WA_DontShowOnScreen);
  view->setAttribute(Qt::WA_QuitOnClose, false);
  // Qt's own backing store of a view shown here is never looked at, but Qt clears a
  // see-through window's repainted part in it before every pass, and in time holds a
  // display-sized picture per window. Told the view is not see-through, Qt never writes
  // that store, so its pages are never made; the view still paints no background of its
  // own, and the surface clears what it draws over.
  if (view->testAttribute(Qt::WA_TranslucentBackground)) {
    view->setAttribute(Qt::WA_TranslucentBackground, false);
    view->setAttribute(Qt::WA_NoSystemBackground);
  }
  // Shown as it is sized: a window that was never resized would otherwise take its hint.
  if (!view->testAttribute(Qt::WA_Resized)) view->resize(view->size());
  view->show();
  shownHere_ = true;
}

void OwnWindowSurface::resized() {
  QWidget* view = content();
  if (!shownHere_ || !view || view->size().isEmpty() || view->testAttribute(Qt::WA_Mapped) || remapping_) return;
  // Qt leaves a window shown while it had no size unmapped when it grows, and drops every
  // paint pass asked for it from then on: shown again (after this resize is through), it
  // is drawn whole and its updates come as they do for any other view.
  remapping_ = true;
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  mainQueue().async([self] {
    auto surface = self.lock();
    if (!surface) return;
    surface->remapping_ = false;
    QWidget* shown = surface->content();
    if (!surface->shownHere_ || !shown || shown->size().isEmpty() || shown->testAttribute(Qt::WA_Mapped)) return;
    shown->hide();
    shown->show();
    surface->whole_ = true;
    PaintHook::installed().syncNow(*surface);
  });
}

void OwnWindowSurface::setOpaque(bool opaque) {
  if (opaque == opaque_) return;
  opaque_ = opaque;
  whole_ = true;
  publish();
}

void OwnWindowSurface::setScale(double scale) {
  if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
  if (scale == scale_) return;
  scale_ = scale;
  publish();  // at another size: a new surface, drawn whole
}

void OwnWindowSurface::attach(std::uint32_t number) {
  number_ = number;
  handedOver_ = false;
  whole_ = true;
  publish();
}

void OwnWindowSurface::setStopsWhenOut(bool stops) {
  if (stops == stopsWhenOut_) return;
  stopsWhenOut_ = stops;
  if (stops && !orderedIn_) setOrderedIn(false);
}

void OwnWindowSurface::setOrderedIn(bool in) {
  orderedIn_ = in;
  if (!stopsWhenOut_) return;
  QWidget* view = content();
  if (in) {
    if (view && !view->isVisible()) showOffScreen(view);
    whole_ = true;
    publish();
    return;
  }
  if (view && shownHere_) view->hide();
  shownHere_ = false;
  pending_ = QRegion();
  withdraw();
}

void OwnWindowSurface::withdraw() {
  if (handedOver_ && number_ && hasWindowServer()) windowServer().setOwnWindowSurface(number_, nullptr);
  handedOver_ = false;
  surface_.reset();
  kept_ = QImage();
  scratch_ = QImage();
  inked_ = QRegion();
  unpublished_ = QRegion();
  whole_ = true;
}

QRect OwnWindowSurface::placementFor(QWidget* view, int width, int height, double sx, double sy) const {
  const QRect window(0, 0, width, height);
  const auto* partly = dynamic_cast<const DamageReportingView*>(view);
  if (opaque_ || !partly) return window;
  const QRect area = partly->drawnArea() & view->rect();
  QRect needed = QRectF(area.x() * sx, area.y() * sy, area.width() * sx, area.height() * sy).toAlignedRect() & window;
  if (surface_) {
    // Kept while the part still fits and fills at least half of it, and while nothing is
    // inked (a panel between sessions): its next session most likely draws the same part,
    // and a new surface costs the faulting-in of every page, kept and shared, once more.
    const SharedSurface::Placement& p = surface_->placement();
    const QRect current(p.x, p.y, surface_->width(), surface_->height());
    const double fill = static_cast<double>(needed.width()) * needed.height() /
                        (static_cast<double>(current.width()) * current.height());
    if (p.windowWidth == width && p.windowHeight == height &&
        (needed.isEmpty() || (current.contains(needed) && fill >= 0.5)))
      return current;
  }
  if (needed.isEmpty()) needed = QRect(0, 0, 1, 1);
  const auto down = [](int v) { return v / kPlacementGrid * kPlacementGrid; };
  const auto up = [](int v) { return (v + kPlacementGrid - 1) / kPlacementGrid * kPlacementGrid; };
  return QRect(QPoint(down(needed.left()), down(needed.top())),
               QPoint(up(needed.right() + 1) - 1, up(needed.bottom() + 1) - 1)) &
         window;
}

bool OwnWindowSurface::keepSurface(const QRect& place, const SharedSurface::Placement& placement) {
  if (!surface_ || !(surface_->placement() == placement) || surface_->width() != place.width() ||
      surface_->height() != place.height()) {
    std::string problem;
    auto made = SharedSurface::create(place.width(), place.height(), &problem, placement);
    if (!made) {
      std::cerr << "trelliq: the picture of window " << number_ << " cannot be kept: " << problem << "\n";
      return false;
    }
    surface_ = std::move(made);
    const bool keepsPicture = !drawsInPlace_ && !drawsOver_;
    kept_ = keepsPicture ? transparentPicture(place.width(), place.height()) : QImage();
    if (kept_.isNull() && keepsPicture) {
      std::cerr << "trelliq: the picture of window " << number_ << " cannot be kept: out of memory\n";
      surface_.reset();
      return false;
    }
    inked_ = QRegion();
    handedOver_ = false;
    whole_ = true;
  }
  return true;
}

void OwnWindowSurface::paintParts(QImage& target, QWidget* view, const QRegion& wanted, const QRegion& pixels,
                                  double sx, double sy, QPoint origin) {
  QPainter painter(&target);
  painter.setClipRegion(pixels);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.translate(-origin);
  painter.scale(sx, sy);
  const QWidget::RenderFlags flags =
      opaque_ ? QWidget::DrawWindowBackground | QWidget::DrawChildren : QWidget::RenderFlags(QWidget::DrawChildren);
  // At a scale of whole pixels the parts' pixels never overlap (drawn twice, an edge
  // would darken).
  const bool wholeScale = sx == std::floor(sx) && sy == std::floor(sy);
  if (wanted.rectCount() == 1 || wanted.rectCount() > kSeparateParts || !wholeScale) {
    view->render(&painter, wanted.boundingRect().topLeft(), wanted, flags);
  } else {
    // Drawn part by part: under a clip of one rectangle pictures are copied as they are,
    // under one of several every pixel goes through the slow, threaded path.
    for (const QRect& part : wanted) {
      const QRect onSurface = QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy)
                                  .toAlignedRect()
                                  .translated(-origin);
      painter.save();
      painter.resetTransform();
      painter.setClipRect(onSurface & target.rect());
      painter.translate(-origin);
      painter.scale(sx, sy);
      view->render(&painter, part.topLeft(), QRegion(part), flags);
      painter.restore();
    }
  }
}

void OwnWindowSurface::publish() {
  QWidget* view = content();
  if (!view || !number_ || !hasWindowServer() || (stopsWhenOut_ && !orderedIn_)) return;
  const QSize size = view->size();
  if (size.isEmpty()) return;
  double scale = scale_;
  if (const auto* limited = dynamic_cast<const DensityLimitedView*>(view)) {
    if (const std::optional<double> needed = limited->neededScale()) scale = std::min(scale, std::max(0.5, *needed));
  }
  const int width = std::max(1, pictureSide(std::round(size.width() * scale)));
  const int height = std::max(1, pictureSide(std::round(size.height() * scale)));
  const double sx = static_cast<double>(width) / size.width(), sy = static_cast<double>(height) / size.height();
  const QRect place = placementFor(view, width, height, sx, sy);
  const SharedSurface::Placement placement{width, height, place.x(), place.y()};
  if (!keepSurface(place, placement)) return;
  const QPoint origin(surface_->placement().x, surface_->placement().y);
  const QRect placeInView =
      QRectF(place.x() / sx, place.y() / sy, place.width() / sx, place.height() / sy).toAlignedRect();

  if (auto* reporting = dynamic_cast<DamageReportingView*>(view)) pending_ += reporting->takeDamage();
  if (drawsInPlace_) {
    publishInPlace(view, sx, sy);
    return;
  }
  if (drawsOver_) {
    publishOver(view, placeInView, sx, sy);
    return;
  }
  const QRegion wanted = (whole_ ? QRegion(view->rect()) : pending_ & view->rect()) & placeInView;
  pending_ = QRegion();
  if (!wanted.isEmpty()) {
    const QRegion pixels = inPixels(wanted, sx, sy, origin, kept_.rect());
    placeChildren(view, shownHere_ && std::exchange(childrenAdded_, false));
    // A part drawn again as it was is not published again: the last frames of an eased
    // move often change no pixel, and cost the host and the screen nothing then.
    // A large part (a window drawn again for a new look) is published as drawn: its copy
    // would cost more than it could save, and leave the heap grown.
    double area = 0;
    for (const QRect& r : pixels) area += static_cast<double>(r.width()) * r.height();
    const bool compared = !whole_ && area <= kComparedPixels;
    std::vector<QImage> before;
    if (compared) {
      for (const QRect& r : pixels) before.push_back(kept_.copy(r));
    }
    // Only what may hold a drawing is cleared.
    clear(kept_, pixels & inked_);
    inked_ += pixels;
    paintParts(kept_, view, wanted, pixels, sx, sy, origin);
    unpublished_ += compared ? changedRows(kept_, pixels, before) : pixels;
  }
  const bool whole = whole_;
  whole_ = false;
  if (unpublished_.isEmpty() && !whole) return;
  // Parts are copied from the kept picture over the newest frame, so the surface keeps one
  // buffer resident beside it, not two; a whole frame goes into a free buffer.
  const bool over = !whole && handedOver_ && surface_->sequence() != 0;
  if (!(over ? surface_->publishOver(kept_, QPoint(), unpublished_)
             : surface_->publish(kept_, whole ? QRegion() : unpublished_, &inked_))) {
    whole_ = whole;
    retryLater();
    return;
  }
  unpublished_ = QRegion();
  if (!handedOver_) {
    handedOver_ = true;
    windowServer().setOwnWindowSurface(number_, surface_);
  } else {
    windowServer().ownWindowSurfacePublished(number_);
  }
}

void OwnWindowSurface::publishInPlace(QWidget* view, double sx, double sy) {
  const QRegion wanted = whole_ ? QRegion(view->rect()) : pending_ & view->rect();
  pending_ = QRegion();
  if (wanted.isEmpty()) return;
  if (QLayout* layout = view->layout()) layout->activate();
  if (surface_->sequence() != 0) {
    publishInBands(view, wanted, sx, sy);
    return;
  }
  const bool drawn = surface_->publishDrawn([&](QImage& buffer) {
    QPainter painter(&buffer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QWidget::RenderFlags flags =
        opaque_ ? QWidget::DrawWindowBackground | QWidget::DrawChildren : QWidget::RenderFlags(QWidget::DrawChildren);
    // A band of rows at a time, each clipped to its very pixels: a picture shown from
    // memory shared with the window server gives back what a band read once it is drawn,
    // so the window's pixels and a whole second copy of them are never held together.
    for (int y = 0; y < buffer.height(); y += kBandRows) {
      const QRect rows(0, y, buffer.width(), std::min(kBandRows, buffer.height() - y));
      const QRect inView =
          QRectF(0, y / sy, view->width(), rows.height() / sy).toAlignedRect() & view->rect();
      if (inView.isEmpty()) continue;
      painter.save();
      painter.setClipRect(rows);
      painter.scale(sx, sy);
      view->render(&painter, inView.topLeft(), QRegion(inView), flags);
      painter.restore();
    }
  });
  if (!drawn) {
    whole_ = true;
    retryLater();
    return;
  }
  whole_ = false;
  handOver(true);
}

void OwnWindowSurface::publishInBands(QWidget* view, const QRegion& wanted, double sx, double sy) {
  whole_ = false;
  const QPoint origin(surface_->placement().x, surface_->placement().y);
  const QRegion pixels = inPixels(wanted, sx, sy, origin, QRect(0, 0, surface_->width(), surface_->height()));
  const QRect bounds = pixels.boundingRect();
  QImage band = transparentPicture(bounds.width(), std::min(kBandRows, bounds.height()));
  if (band.isNull()) {
    pending_ += wanted;
    retryLater();
    return;
  }
  bool published = false;
  for (int y = bounds.top(); y <= bounds.bottom(); y += kBandRows) {
    const QRect rows(bounds.left(), y, bounds.width(), std::min(kBandRows, bounds.bottom() + 1 - y));
    const QRegion part = pixels & rows;
    if (part.isEmpty()) continue;
    const QRect inPoints = rows.translated(origin);
    const QRegion inView = wanted & QRectF(inPoints.x() / sx, inPoints.y() / sy, inPoints.width() / sx,
                                           inPoints.height() / sy)
                                        .toAlignedRect();
    clear(band, band.rect());
    paintParts(band, view, inView, part.translated(-rows.topLeft()), sx, sy, origin + rows.topLeft());
    // The rows as they already were (most of a live picture drawn again) make no frame.
    QRegion changed = part;
    surface_->read([&](const QImage& frame, std::uint64_t) { changed = changedRows(frame, band, rows.topLeft(), part); });
    if (!surface_->publishOver(band, rows.topLeft(), changed)) {
      // A reader holds the frame: the rest is drawn when tried again.
      const QRect rest(0, static_cast<int>(std::floor((y + origin.y()) / sy)), view->width(), view->height());
      pending_ += wanted & rest;
      handOver(published);
      retryLater();
      return;
    }
    published = published || !changed.isEmpty();
  }
  handOver(published);
}

void OwnWindowSurface::handOver(bool published) {
  if (!handedOver_) {
    handedOver_ = true;
    windowServer().setOwnWindowSurface(number_, surface_);
  } else if (published) {
    windowServer().ownWindowSurfacePublished(number_);
  }
}

void OwnWindowSurface::publishOver(QWidget* view, const QRect& placeInView, double sx, double sy) {
  QRegion wanted = (whole_ ? QRegion(view->rect()) : pending_ & view->rect()) & placeInView;
  if (wanted.isEmpty()) {
    pending_ = QRegion();
    return;
  }
  double area = 0;
  for (const QRect& r : wanted) area += static_cast<double>(r.width()) * r.height();
  // Most of a large window drawn again (a new look) is drawn whole into a free buffer, with
  // no picture of the parts beside it; the frame before goes once let go.
  const bool large = area * sx * sy > kComparedPixels && area > 0.5 * view->width() * view->height();
  const bool whole = whole_ || surface_->sequence() == 0 || large;
  if (whole) wanted = QRegion(view->rect()) & placeInView;
  placeChildren(view, shownHere_ && std::exchange(childrenAdded_, false));
  const QWidget::RenderFlags flags =
      opaque_ ? QWidget::DrawWindowBackground | QWidget::DrawChildren : QWidget::RenderFlags(QWidget::DrawChildren);
  const QPoint origin(surface_->placement().x, surface_->placement().y);
  bool published = true, drawn = false;
  if (whole) {
    drawn = surface_->publishDrawn([&](QImage& buffer) {
      QPainter painter(&buffer);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.translate(-origin);
      painter.scale(sx, sy);
      view->render(&painter, QPoint(), QRegion(view->rect()), flags);
    });
  } else {
    const QRegion pixels = inPixels(wanted, sx, sy, origin, QRect(0, 0, surface_->width(), surface_->height()));
    // Drawn beside the surface into a picture of the parts' size, let go at once (only the
    // pages under the parts are ever touched): the surface is marked as being written only
    // while its rows are copied, so no reader goes without the window while Qt draws.
    const QRect bounds = pixels.boundingRect();
    QImage parts = partsPicture(bounds.size());
    if (parts.isNull()) {
      retryLater();
      return;
    }
    paintParts(parts, view, wanted, pixels.translated(-bounds.topLeft()), sx, sy, origin + bounds.topLeft());
    // A part drawn again as it was is no new frame (the last frames of an eased move).
    double drawnPixels = 0;
    for (const QRect& r : pixels) drawnPixels += static_cast<double>(r.width()) * r.height();
    QRegion changed = pixels;
    if (drawnPixels <= kComparedPixels)
      surface_->read(
          [&](const QImage& frame, std::uint64_t) { changed = changedRows(frame, parts, bounds.topLeft(), pixels); });
    published = !changed.isEmpty();
    drawn = surface_->publishOver(parts, bounds.topLeft(), changed);
  }
  if (!drawn) {
    retryLater();  // what was wanted stays pending
    return;
  }
  pending_ = QRegion();
  whole_ = false;
  if (!published) return;
  if (!handedOver_) {
    handedOver_ = true;
    windowServer().setOwnWindowSurface(number_, surface_);
  } else {
    windowServer().ownWindowSurfacePublished(number_);
  }
}

QImage OwnWindowSurface::partsPicture(QSize size) {
  // A picture made afresh for each frame costs the faulting-in of its pages and their
  // return to the system: more than a small frame's drawing. A small one is kept while
  // frames come, as a corner of a picture as wide and as high as the parts asked for
  // lately; never one near the window's size, which would be a second copy of the window.
  const QSize kept = scratch_.size().expandedTo(size);
  const double pixels = static_cast<double>(kept.width()) * kept.height();
  if (pixels > kKeptPartsPixels || pixels > kKeptPartsShare * surface_->width() * surface_->height())
    return transparentPicture(size.width(), size.height());
  if (scratch_.size() != kept) {
    scratch_ = transparentPicture(kept.width(), kept.height());
    if (scratch_.isNull()) return {};
  } else {
    clear(scratch_, QRect(QPoint(), size));
  }
  scratchUsed_ = clock().monotonicSeconds();
  if (!scratchWatched_) letScratchGoLater(kPartsPictureLife);
  // The corner, sharing the kept pixels.
  return QImage(scratch_.bits(), size.width(), size.height(), scratch_.bytesPerLine(), scratch_.format());
}

void OwnWindowSurface::letScratchGoLater(double after) {
  scratchWatched_ = true;
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  mainQueue().asyncAfter(after, [self] {
    auto surface = self.lock();
    if (!surface) return;
    const double idle = clock().monotonicSeconds() - surface->scratchUsed_;
    if (idle < kPartsPictureLife) {
      surface->letScratchGoLater(kPartsPictureLife - idle);
      return;
    }
    surface->scratchWatched_ = false;
    surface->scratch_ = QImage();
  });
}

void OwnWindowSurface::setDrawsOver(bool over) {
  if (over == drawsOver_) return;
  drawsOver_ = over;
  withdraw();
  publish();
}

void OwnWindowSurface::setDrawsInPlace(bool inPlace) {
  if (inPlace == drawsInPlace_) return;
  drawsInPlace_ = inPlace;
  // A surface made for the other way is made anew.
  withdraw();
  publish();
}

void OwnWindowSurface::publishSoon() {
  if (publishing_) return;
  publishing_ = true;
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  mainQueue().async([self] {
    if (auto surface = self.lock()) {
      surface->publishing_ = false;
      surface->publishNow();
    }
  });
}

void OwnWindowSurface::publishNow() {
  if (!onMainThread()) return;
  // A view that reports its damage also asks Qt to repaint it: the pass takes Qt's share
  // with it, so the part is drawn once, and the pass Qt runs later finds it done.
  if (!shownHere_ || !PaintHook::installed().syncNow(*this)) publish();
}

void OwnWindowSurface::retryLater() {
  if (retrying_) return;
  retrying_ = true;
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  mainQueue().asyncAfter(kRetrySeconds, [self] {
    if (auto surface = self.lock()) {
      surface->retrying_ = false;
      surface->publish();
    }
  });
}

std::size_t OwnWindowSurface::keptBytes() {
  std::size_t bytes = 0;
  for (const OwnWindowSurface* s : live())
    bytes += static_cast<std::size_t>(s->kept_.sizeInBytes() + s->scratch_.sizeInBytes());
  return bytes;
}

void OwnWindowSurface::publishAll() {
  if (!onMainThread()) return;
  // Copies: a pass may make or drop windows.
  std::vector<std::shared_ptr<OwnWindowSurface>> surfaces;
  for (OwnWindowSurface* s : live()) {
    if (auto kept = s->weak_from_this().lock()) surfaces.push_back(std::move(kept));
  }
  for (const auto& s : surfaces) {
    if (s->content() && s->shownHere_) {
      PaintHook::installed().syncNow(*s);
    } else {
      s->publish();
    }
  }
}

}  // namespace platform
