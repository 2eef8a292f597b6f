#include "ui/FadingPicture.h"

#include <QPainter>
#include <QPointer>

#include "platform/Clock.h"

namespace trelliq::ui {

FadingPicture::FadingPicture(QPixmap picture, QWidget* parent) : QWidget(parent), picture_(std::move(picture)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

FadingPicture* FadingPicture::over(QWidget& leaving, const Transition& transition) {
  QWidget* parent = leaving.parentWidget();
  if (!parent || leaving.size().isEmpty()) return nullptr;
  auto* picture = new FadingPicture(leaving.grab(), parent);
  picture->setGeometry(leaving.geometry());
  picture->show();
  picture->raise();
  picture->opacity_.set(0, transition, picture);
  QPointer<FadingPicture> gone(picture);
  platform::mainQueue().asyncAfter(std::max(0.0, transition.duration), [gone] { delete gone.data(); });
  return picture;
}

void FadingPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setOpacity(opacity_.value());
  painter.drawPixmap(0, 0, picture_);
}

}  // namespace trelliq::ui
