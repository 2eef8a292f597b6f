#include "app/views/PermissionsWindow.h"

#include <cmath>

#include "app/views/PermissionsView.h"
#include "guide/OwnWindow.h"
#include "platform/AppKit.h"
#include "switcher/ClosableWindow.h"

namespace trelliq {

namespace {

constexpr double kTitleBar = 28;

}  // namespace

PermissionsWindow& PermissionsWindow::shared() {
  static PermissionsWindow* window = new PermissionsWindow();  // lives as long as the process
  return *window;
}

PermissionsWindow::PermissionsWindow() = default;

PermissionsWindow::~PermissionsWindow() {
  if (window_) {
    window_->setDelegate(nullptr);
    window_->setContentView(nullptr);
  }
}

NSWindow* PermissionsWindow::window() const { return window_.get(); }

bool PermissionsWindow::isVisible() const { return window_ && window_->isVisible(); }

void PermissionsWindow::close() {
  if (window_) window_->close();
}

void PermissionsWindow::install(std::unique_ptr<PermissionsView> view) {
  // The old view goes only once nothing in the window refers to it any more.
  std::unique_ptr<PermissionsView> old = std::move(view_);
  if (old) old->disappear();
  view_ = std::move(view);
  view_->onClose = [this] { close(); };
  view_->openGuide = openGuide;
  view_->onAccessibilityGranted = [this] {
    if (isVisible()) OwnWindow::bringForward(*window_);
  };
  view_->adjustSize();
  if (window_) {
    window_->setContentView(view_.get());
    if (window_->firstResponder() == static_cast<NSResponder*>(old.get())) window_->makeFirstResponder(nullptr);
    CGRect frame = window_->frame();
    // Keep the top edge where it is while the height follows the new content.
    const double height = view_->sizeHint().height() + kTitleBar;
    window_->setFrame(CGRect(frame.minX(), frame.maxY() - height, frame.width(), height), true);
  }
}

void PermissionsWindow::show() {
  const bool wasBuilt = window_ != nullptr;
  install(std::make_unique<PermissionsView>());
  const QSize size(PermissionsView::fixedWidth, view_->sizeHint().height());
  if (!wasBuilt) {
    window_ = std::make_unique<ClosableWindow>(CGRect(0, 0, size.width(), size.height()),
                                               NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                               NSBackingStoreType::buffered, false);
    window_->setTitle(title);
    window_->setReleasedWhenClosed(false);
    window_->setContentView(view_.get());
    window_->setDelegate(this);
  }
  if (!window_->isVisible()) {
    if (auto screen = NSScreen::main()) {
      const CGRect visible = screen->visibleFrame();
      const CGRect frame = window_->frame();
      const double x = std::round(visible.midX() - frame.width() / 2.0);
      const double y = std::round(visible.minY() + (visible.height() - frame.height()) / 2.0);
      window_->setFrame(CGRect(x, y, frame.width(), frame.height()), true);
    }
  }
  OwnWindow::bringForward(*window_);
  view_->appear();
}

void PermissionsWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.get() && view_) view_->disappear();
}

}  // namespace trelliq
