#include "ui/WhileShown.h"

#include <QEvent>
#include <QWidget>

namespace trelliq::ui {

WhileShown::WhileShown(QWidget& view, std::function<void()> pause, std::function<void()> resume)
    : pause_(std::move(pause)), resume_(std::move(resume)) {
  view.installEventFilter(this);
}

bool WhileShown::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Hide && !paused_) {
    paused_ = true;
    if (pause_) pause_();
  } else if (event->type() == QEvent::Show && paused_) {
    paused_ = false;
    if (resume_) resume_();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace trelliq::ui
