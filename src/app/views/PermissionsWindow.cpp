#include "app/views/PermissionsWindow.h"

#include "app/views/PermissionsView.h"
#include "app/views/PreviewDemo.h"
#include "ownwindows/views/OwnWindow.h"
#include "platform/AppKit.h"
#include "platform/WindowFrame.h"

namespace trelliq {

PermissionsWindow& PermissionsWindow::shared() {
  static PermissionsWindow* window = new PermissionsWindow();  // lives as long as the process
  return *window;
}

PermissionsWindow::PermissionsWindow() = default;

PermissionsWindow::~PermissionsWindow() = default;

bool PermissionsWindow::isVisible() const { return window_.isVisible(); }

void PermissionsWindow::close() { window_.close(); }

void PermissionsWindow::install(std::unique_ptr<PermissionsView> view) {
  // The old view goes only once nothing in the window refers to it any more.
  std::unique_ptr<PermissionsView> old = std::move(view_);
  if (old) old->disappear();
  view_ = std::move(view);
  view_->setOnClose([this] { close(); });
  view_->setOpenGuide(openGuide_);
  view_->setOnAccessibilityGranted([this] {
    if (isVisible()) OwnWindow::bringForward(*window_.window());
  });
  // A window shorter than its view would show one layout and hit-test another.
  view_->setOnHeightChanged([this] { fitHeight(); });
  view_->adjustSize();
  if (NSWindow* window = window_.window()) {
    window->setContentView(view_.get());
    if (window->firstResponder() == static_cast<NSResponder*>(old.get())) window->makeFirstResponder(nullptr);
    fitHeight();
  }
}

void PermissionsWindow::fitHeight() {
  NSWindow* window = window_.window();
  if (!window || !view_) return;
  const CGRect frame = window->frame();
  // Keep the top edge where it is while the height follows the new content.
  const double height = view_->sizeHint().height() + platform::kTitleBarHeight;
  if (height == frame.height()) return;
  window->setFrame(CGRect(frame.minX(), frame.maxY() - height, frame.width(), height), true);
}

void PermissionsWindow::show() {
  const bool wasBuilt = window_.window() != nullptr;
  // The fresh view's demonstration goes on from where the last one stopped.
  int demoIndex = 0;
  if (view_) {
    view_->disappear();
    demoIndex = view_->demo()->index();
  }
  install(std::make_unique<PermissionsView>(demoIndex));
  if (!wasBuilt) window_.make(title, *view_, QSize(PermissionsView::fixedWidth, view_->sizeHint().height()));
  if (!window_.isVisible()) window_.centre();
  OwnWindow::bringForward(*window_.window());
  view_->appear();
}

void PermissionsWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.window() && view_) view_->disappear();
}

}  // namespace trelliq
