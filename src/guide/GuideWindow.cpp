#include "guide/GuideWindow.h"

#include "guide/GuideView.h"
#include "guide/OwnWindow.h"
#include "guide/model/GuideTopic.h"
#include "switcher/ClosableWindow.h"

namespace trelliq {

GuideWindow& GuideWindow::shared() {
  static GuideWindow* guide = new GuideWindow();  // lives as long as the process
  return *guide;
}

GuideWindow::GuideWindow() = default;

GuideWindow::~GuideWindow() {
  if (window_) {
    window_->setDelegate(nullptr);
    window_->setContentView(nullptr);
  }
}

NSWindow* GuideWindow::window() const { return window_.get(); }

void GuideWindow::show(const std::optional<std::string>& topic) {
  if (!window_) {
    const auto topics = GuideTopic::all(Settings::tiles(), Settings::gesture());
    view_ = std::make_unique<GuideView>(topic.value_or(topics.front().title));
    view_->onDone = [this] { close(); };
    const QSize size = view_->sizeHint();
    CGRect content(0, 0, size.width(), size.height());
    if (auto screen = NSScreen::main()) {
      // Centred, a little above the middle as windows are, counting the 28-point title bar.
      const CGRect visible = screen->visibleFrame();
      const double x = std::round(visible.midX() - size.width() / 2.0);
      const double y = std::round(visible.minY() + (visible.height() - size.height() - 28) / 2.0);
      content = CGRect(x, y, size.width(), size.height());
    }
    fitted_ = size;
    window_ = std::make_unique<ClosableWindow>(content, NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                               NSBackingStoreType::buffered, false);
    window_->setTitle("Keyboard Shortcuts");
    window_->setReleasedWhenClosed(false);
    window_->setContentView(view_.get());
    window_->setDelegate(this);
    view_->onHeightChange = [this] { fitToView(); };
  }
  OwnWindow::bringForward(*window_);
}

void GuideWindow::fitToView() {
  if (!window_ || !view_) return;
  OwnWindow::followContent(*window_, fitted_, view_->size());
  fitted_ = view_->size();
}

void GuideWindow::close() {
  if (window_) window_->close();
}

void GuideWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.get() && view_) view_->windowWillClose();
}

}  // namespace trelliq
