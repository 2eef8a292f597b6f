#include "ownwindows/views/KeptWindow.h"

#include <algorithm>
#include <cmath>

#include "ownwindows/ClosableWindow.h"
#include "ownwindows/views/OwnWindow.h"
#include "platform/Clock.h"
#include "platform/MallocZone.h"
#include "platform/WindowFrame.h"

namespace trelliq {

KeptWindow::KeptWindow(NSWindowDelegate& delegate) : delegate_(delegate) {}

KeptWindow::~KeptWindow() {
  if (window_) {
    window_->setDelegate(nullptr);
    window_->setContentView(nullptr);
  }
}

void KeptWindow::make(const std::string& title, QWidget& view, QSize size, CGPoint origin) {
  window_ = std::make_unique<ClosableWindow>(CGRect(origin.x, origin.y, size.width(), size.height()),
                                             NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                             NSBackingStoreType::buffered, false);
  window_->setTitle(title);
  window_->setReleasedWhenClosed(false);
  window_->setContentView(&view);
  window_->setDelegate(&relay_);
  fitted_ = size;
}

void KeptWindow::Relay::windowWillClose(NSWindow& window) {
  kept_.delegate_.windowWillClose(window);
  platform::mainQueue().asyncAfter(memoryReliefDelay, [&kept = kept_, life = std::weak_ptr<int>(kept_.life_)] {
    if (!life.expired() && !kept.isVisible()) malloc_zone_pressure_relief(nullptr, 0);
  });
}

std::optional<CGPoint> KeptWindow::centred(CGSize frame) {
  const auto screen = NSScreen::main();
  if (!screen) return std::nullopt;
  const CGRect visible = screen->visibleFrame();
  // Never above the visible frame, as the window server keeps a titled window: the title
  // bar and its close button stay below the menu bar even when the window is taller.
  const double y = std::min(visible.minY() + (visible.height() - frame.height) / 2.0, visible.maxY() - frame.height);
  return CGPoint{std::round(visible.midX() - frame.width / 2.0), std::round(y)};
}

CGPoint KeptWindow::centredContent(QSize content) {
  return centred(CGSize{static_cast<double>(content.width()), content.height() + platform::kTitleBarHeight})
      .value_or(CGPoint{});
}

void KeptWindow::centre() {
  if (!window_) return;
  const CGRect frame = window_->frame();
  if (const auto origin = centred(frame.size)) {
    window_->setFrame(CGRect(origin->x, origin->y, frame.width(), frame.height()), true);
  }
}

void KeptWindow::fitToView(QSize now) {
  if (!window_) return;
  OwnWindow::followContent(*window_, fitted_, now);
  fitted_ = now;
}

NSWindow* KeptWindow::window() const { return window_.get(); }

bool KeptWindow::isVisible() const { return window_ && window_->isVisible(); }

void KeptWindow::close() {
  if (window_) window_->close();
}

}  // namespace trelliq
