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
#include <iostream>
#include <vector>

#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/WindowServerPort.h"

namespace platform {

namespace {

/// How soon an owner whose buffers were all being read tries again.
constexpr double kRetrySeconds = 0.004;

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
    if (type == QEvent::Paint) {
      if (!syncing_ || !object->isWidgetType()) return false;
      auto* widget = static_cast<QWidget*>(object);
      QWidget* view = syncing_->content();
      if (!view || widget->window() != view) return false;
      const QPoint at = widget == view ? QPoint() : widget->mapTo(view, QPoint());
      syncing_->damage(static_cast<QPaintEvent*>(event)->region().translated(at));
      return true;
    }
    if (type != QEvent::UpdateRequest || syncing_ || !object->isWidgetType()) return false;
    OwnWindowSurface* surface = surfaceShowing(static_cast<QWidget*>(object));
    if (!surface) return false;
    const std::shared_ptr<OwnWindowSurface> keep = surface->shared_from_this();
    syncing_ = surface;
    static_cast<QObject*>(object)->event(event);  // Qt's pass, with this hook answering its paints
    syncing_ = nullptr;
    keep->publish();
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

void OwnWindowSurface::setContent(QWidget* view) {
  if (view == content()) return;
  QObject::disconnect(destroyedWatch_);
  if (content() && shownHere_) content()->hide();
  shownHere_ = false;
  content_ = view;
  whole_ = true;
  if (!view) {
    withdraw();
    return;
  }
  showOffScreen(view);
  std::weak_ptr<OwnWindowSurface> self = weak_from_this();
  destroyedWatch_ = QObject::connect(view, &QObject::destroyed, &PaintHook::installed(), [self] {
    if (auto surface = self.lock()) surface->withdraw();
  });
  publish();
}

void OwnWindowSurface::showOffScreen(QWidget* view) {
  // A view inside another widget is drawn with that one; only a view of its own is shown.
  if (view->parentWidget() || view->isVisible() || !QCoreApplication::instance()) return;
  PaintHook::installed();
  view->setAttribute(Qt::WA_DontShowOnScreen);
  view->setAttribute(Qt::WA_QuitOnClose, false);
  // Shown as it is sized: a window that was never resized would otherwise take its hint.
  if (!view->testAttribute(Qt::WA_Resized)) view->resize(view->size());
  view->show();
  shownHere_ = true;
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

void OwnWindowSurface::withdraw() {
  if (handedOver_ && number_ && hasWindowServer()) windowServer().setOwnWindowSurface(number_, nullptr);
  handedOver_ = false;
  surface_.reset();
  kept_ = QImage();
  unpublished_ = QRegion();
  whole_ = true;
}

void OwnWindowSurface::publish() {
  QWidget* view = content();
  if (!view || !number_ || !hasWindowServer()) return;
  const QSize size = view->size();
  if (size.isEmpty()) return;
  const int width = std::max(1, pictureSide(std::round(size.width() * scale_)));
  const int height = std::max(1, pictureSide(std::round(size.height() * scale_)));
  if (!surface_ || surface_->width() != width || surface_->height() != height) {
    std::string problem;
    auto made = SharedSurface::create(width, height, &problem);
    if (!made) {
      std::cerr << "trelliq: the picture of window " << number_ << " cannot be kept: " << problem << "\n";
      return;
    }
    surface_ = std::move(made);
    kept_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    kept_.fill(Qt::transparent);
    handedOver_ = false;
    whole_ = true;
  }

  const QRegion wanted = whole_ ? QRegion(view->rect()) : pending_ & view->rect();
  pending_ = QRegion();
  if (!wanted.isEmpty()) {
    const double sx = static_cast<double>(width) / size.width(), sy = static_cast<double>(height) / size.height();
    QRegion pixels;
    for (const QRect& r : wanted)
      pixels += QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy).toAlignedRect();
    pixels &= kept_.rect();
    // What the next event pass would do first: show the parts just added to the view's
    // layouts, and place them.
    if (shownHere_) {
      for (QWidget* child : view->findChildren<QWidget*>()) {
        if (child->isHidden() && !child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
          child->show();
      }
    }
    if (QLayout* layout = view->layout()) layout->activate();
    QPainter painter(&kept_);
    painter.setClipRegion(pixels);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(kept_.rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(sx, sy);
    const QWidget::RenderFlags flags =
        opaque_ ? QWidget::DrawWindowBackground | QWidget::DrawChildren : QWidget::RenderFlags(QWidget::DrawChildren);
    view->render(&painter, wanted.boundingRect().topLeft(), wanted, flags);
    unpublished_ += pixels;
  }
  const bool whole = whole_;
  whole_ = false;
  if (unpublished_.isEmpty() && !whole) return;
  if (!surface_->publish(kept_, whole ? QRegion() : unpublished_)) {
    whole_ = whole;
    retryLater();
    return;
  }
  unpublished_ = QRegion();
  if (!handedOver_) {
    handedOver_ = true;
    windowServer().setOwnWindowSurface(number_, surface_);
  }
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

void OwnWindowSurface::publishAll() {
  if (!onMainThread()) return;
  // Copies: a pass may make or drop windows.
  std::vector<std::shared_ptr<OwnWindowSurface>> surfaces;
  for (OwnWindowSurface* s : live()) {
    if (auto kept = s->weak_from_this().lock()) surfaces.push_back(std::move(kept));
  }
  for (const auto& s : surfaces) {
    if (QWidget* view = s->content(); view && s->shownHere_)
      QCoreApplication::sendPostedEvents(view, QEvent::UpdateRequest);
  }
  for (const auto& s : surfaces) s->publish();
}

}  // namespace platform
