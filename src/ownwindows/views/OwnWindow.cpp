#include "ownwindows/views/OwnWindow.h"

#include <QWidget>

#include "platform/AppKitWindows.h"
#include "workspace/Private.h"

namespace trelliq {

void OwnWindow::bringForward(NSWindow& window) {
  window.orderFrontRegardless();
  const std::int32_t pid = NSProcessInfo::processInfo().processIdentifier();
  const auto number = static_cast<std::uint32_t>(window.windowNumber());
  Private::focus(pid, number);  // the activation below covers a refusal
  NSApp().activate();
  window.makeKeyAndOrderFront(nullptr);
  if (QWidget* content = window.contentView()) {
    if (auto* responder = dynamic_cast<NSResponder*>(content)) window.makeFirstResponder(responder);
    content->setFocus(Qt::ActiveWindowFocusReason);
  }
}

void OwnWindow::followContent(NSWindow& window, QSize before, QSize now) {
  if (before == now) return;
  const CGRect frame = window.frame();
  const double width = frame.width() + (now.width() - before.width());
  const double height = frame.height() + (now.height() - before.height());
  window.setFrame(CGRect(frame.minX(), frame.maxY() - height, width, height), true);
}

}  // namespace trelliq
