#include "platform/OwnWindowPicture.h"

#include <QCoreApplication>
#include <QImage>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <future>

#include "platform/Clock.h"

namespace platform {

namespace {

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

}  // namespace

struct OwnWindowPicture::Main {
  QPointer<QWidget> content;
  bool opaque = true;
};

OwnWindowPicture::OwnWindowPicture() : main_(std::make_unique<Main>()) {}

OwnWindowPicture::~OwnWindowPicture() = default;

void OwnWindowPicture::setContent(QWidget* view) { main_->content = view; }

void OwnWindowPicture::setOpaque(bool opaque) { main_->opaque = opaque; }

CGImageRef OwnWindowPicture::drawNow(int width, int height) {
  QWidget* view = main_->content.data();
  if (!view) return nullptr;
  // A view that was never shown has not laid out its children yet.
  if (QLayout* layout = view->layout()) layout->activate();
  const QSize size = view->size();
  if (size.isEmpty()) return nullptr;
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(static_cast<double>(width) / size.width(), static_cast<double>(height) / size.height());
    const QWidget::RenderFlags flags = main_->opaque ? QWidget::DrawWindowBackground | QWidget::DrawChildren
                                                     : QWidget::RenderFlags(QWidget::DrawChildren);
    view->render(&painter, QPoint(), QRegion(), flags);
  }
  auto picture = std::make_shared<const CGImage>(image);
  std::lock_guard lock(mutex_);
  last_ = picture;
  return picture;
}

CGImageRef OwnWindowPicture::lastScaled(int width, int height) {
  CGImageRef last;
  {
    std::lock_guard lock(mutex_);
    last = last_;
  }
  if (!last || (last->width() == width && last->height() == height)) return last;
  return std::make_shared<const CGImage>(
      last->qimage().scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

CGImageRef OwnWindowPicture::picture(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  if (onMainThread()) return drawNow(width, height);
  if (!QCoreApplication::instance()) return nullptr;  // no widgets without an application
  // Another thread (a capture queue): the main thread draws, this one waits a bounded
  // while so that a main thread that is itself waiting cannot hang the capture.
  auto answer = std::make_shared<std::promise<CGImageRef>>();
  std::future<CGImageRef> drawn = answer->get_future();
  std::weak_ptr<OwnWindowPicture> self = weak_from_this();
  mainQueue().async([self, answer, width, height] {
    const std::shared_ptr<OwnWindowPicture> picture = self.lock();
    answer->set_value(picture ? picture->drawNow(width, height) : nullptr);
  });
  if (drawn.wait_for(std::chrono::duration<double>(kMainThreadWait)) == std::future_status::ready) return drawn.get();
  return lastScaled(width, height);
}

WindowServerPort::OwnWindowRenderer OwnWindowPicture::renderer() {
  std::weak_ptr<OwnWindowPicture> self = weak_from_this();
  return [self](int width, int height) -> CGImageRef {
    const std::shared_ptr<OwnWindowPicture> picture = self.lock();
    return picture ? picture->picture(width, height) : nullptr;
  };
}

}  // namespace platform
