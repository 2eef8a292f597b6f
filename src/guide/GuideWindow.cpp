#include "guide/GuideWindow.h"

#include "guide/GuideView.h"
#include "guide/model/GuideTopic.h"
#include "ownwindows/views/OwnWindow.h"

namespace trelliq {

GuideWindow& GuideWindow::shared() {
  static GuideWindow* guide = new GuideWindow();  // lives as long as the process
  return *guide;
}

GuideWindow::GuideWindow() = default;

GuideWindow::~GuideWindow() = default;

void GuideWindow::show(const std::optional<std::string>& topic) {
  if (!window_.window()) {
    const auto topics = GuideTopic::all(Settings::tiles(), Settings::gesture());
    view_ = std::make_unique<GuideView>(topic.value_or(topics.front().title));
    view_->setOnDone([this] { close(); });
    const QSize size = view_->sizeHint();
    window_.make("Keyboard Shortcuts", *view_, size, KeptWindow::centredContent(size));
    view_->setOnHeightChange([this] { window_.fitToView(view_->size()); });
  }
  OwnWindow::bringForward(*window_.window());
}

void GuideWindow::close() { window_.close(); }

void GuideWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.window() && view_) view_->windowWillClose();
}

}  // namespace trelliq
