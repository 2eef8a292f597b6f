#include "preferences/PreferencesWindow.h"

#include "preferences/PreferencesView.h"

namespace trelliq {

PreferencesWindow& PreferencesWindow::shared() {
  static PreferencesWindow* preferences = new PreferencesWindow();  // lives as long as the process
  return *preferences;
}

PreferencesWindow::PreferencesWindow() = default;

PreferencesWindow::~PreferencesWindow() = default;

bool PreferencesWindow::isVisible() const { return window_.isVisible(); }

void PreferencesWindow::show() {
  if (!window_.window()) {
    view_ = std::make_unique<PreferencesView>();
    view_->adjustSize();
    const QSize size = view_->sizeHint();
    window_.make(title, *view_, size, KeptWindow::centredContent(size));
    view_->setOnSizeChange([this] { window_.fitToView(view_->size()); });
  }
  NSApp().activate();
  window_.window()->makeKeyAndOrderFront(nullptr);
  view_->setShowing(true);
}

void PreferencesWindow::windowWillClose(NSWindow& window) {
  if (&window == window_.window() && view_) view_->setShowing(false);
}

}  // namespace trelliq
