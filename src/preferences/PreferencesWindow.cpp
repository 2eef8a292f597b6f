#include "preferences/PreferencesWindow.h"

#include <cmath>

#include "guide/OwnWindow.h"
#include "preferences/PreferencesView.h"
#include "switcher/ClosableWindow.h"

namespace trelliq {

PreferencesWindow& PreferencesWindow::shared() {
  static PreferencesWindow* preferences = new PreferencesWindow();  // lives as long as the process
  return *preferences;
}

PreferencesWindow::PreferencesWindow() = default;

PreferencesWindow::~PreferencesWindow() {
  if (window_) {
    window_->setDelegate(nullptr);
    window_->setContentView(nullptr);
  }
}

NSWindow* PreferencesWindow::window() const { return window_.get(); }

bool PreferencesWindow::isVisible() const { return window_ && window_->isVisible(); }

void PreferencesWindow::show() {
  if (!window_) {
    view_ = std::make_unique<PreferencesView>();
    view_->adjustSize();
    const QSize size = view_->sizeHint();
    CGRect content(0, 0, size.width(), size.height());
    if (auto screen = NSScreen::main()) {
      const CGRect visible = screen->visibleFrame();
      content = CGRect(std::round(visible.midX() - size.width() / 2.0),
                       std::round(visible.minY() + (visible.height() - size.height() - 28) / 2.0), size.width(),
                       size.height());
    }
    window_ = std::make_unique<ClosableWindow>(content, NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                               NSBackingStoreType::buffered, false);
    window_->setTitle(title);
    window_->setReleasedWhenClosed(false);
    window_->setContentView(view_.get());
    window_->setDelegate(this);
    fitted_ = size;
    view_->onSizeChange = [this] { fitToView(); };
  }
  NSApp().activate();
  window_->makeKeyAndOrderFront(nullptr);
  view_->setShowing(true);
}

void PreferencesWindow::fitToView() {
  if (!window_ || !view_) return;
  OwnWindow::followContent(*window_, fitted_, view_->size());
  fitted_ = view_->size();
}

void PreferencesWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.get() && view_) view_->setShowing(false);
}

}  // namespace trelliq
