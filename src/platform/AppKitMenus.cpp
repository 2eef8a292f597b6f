#include "platform/AppKitMenus.h"

#include <algorithm>
#include <map>

#include "platform/AppKitMenuWindows.h"
#include "platform/SystemPort.h"

namespace {

// State that belongs to one simulated Mac: a replaced system starts with an empty status
// bar and a bundle without images.
struct MenuBarState {
  std::uint64_t generation = 0;
  NSStatusBar bar;
  std::map<std::string, std::vector<NSImageRep>> bundleImages;
};

MenuBarState& current() {
  static auto* state = new MenuBarState;  // never destroyed: items may outlive static teardown
  const std::uint64_t generation = platform::systemGeneration();
  if (state->generation != generation) {
    // The program holds its items by shared handles, so dropping the bar's own is safe.
    *state = MenuBarState{};
    state->generation = generation;
  }
  return *state;
}

}  // namespace

// ---- Images -----------------------------------------------------------------------------

NSImage::NSImage(std::vector<NSImageRep> representations) : representations_(std::move(representations)) {
  if (!representations_.empty()) {
    size_ = CGSize{static_cast<double>(representations_.front().pixelsWide),
                   static_cast<double>(representations_.front().pixelsHigh)};
  }
}

std::shared_ptr<NSImage> NSImage::imageNamed(const std::string& name) {
  const auto& images = current().bundleImages;
  auto it = images.find(name);
  if (it == images.end()) return nullptr;
  return std::make_shared<NSImage>(it->second);
}

void platform::addBundleImage(const std::string& name, std::vector<NSImageRep> representations) {
  current().bundleImages[name] = std::move(representations);
}

// ---- Menus ------------------------------------------------------------------------------

NSMenuItem::NSMenuItem(std::string title, SEL action, std::string keyEquivalent)
    : title_(std::move(title)), action_(std::move(action)), keyEquivalent_(std::move(keyEquivalent)) {}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
  auto item = std::make_shared<NSMenuItem>("", "", "");
  item->separator_ = true;
  item->enabled_ = false;
  return item;
}

bool NSMenuItem::perform() {
  if (separator_ || !enabled_ || action_.empty()) return false;
  if (perform_) {
    // The callback may change or drop this entry; keep what it needs alive.
    auto perform = perform_;
    perform();
    return true;
  }
  if (action_ == "terminate:") {
    NSApp().terminate(nullptr);
    return true;
  }
  return false;
}

NSMenu::NSMenu(std::string title) : title_(std::move(title)) {}

NSMenu::~NSMenu() {
  for (auto& item : items_) item->menu_ = nullptr;
}

std::shared_ptr<NSMenuItem> NSMenu::itemAtIndex(std::int64_t index) const {
  if (index < 0 || index >= numberOfItems()) return nullptr;
  return items_[static_cast<std::size_t>(index)];
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_) {
    if (!item->isSeparatorItem() && item->title() == title) return item;
  }
  return nullptr;
}

std::int64_t NSMenu::indexOfItem(const NSMenuItem& item) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == &item) return static_cast<std::int64_t>(i);
  }
  return -1;
}

void NSMenu::addItem(std::shared_ptr<NSMenuItem> item) { insertItem(std::move(item), numberOfItems()); }

void NSMenu::insertItem(std::shared_ptr<NSMenuItem> item, std::int64_t index) {
  if (!item) return;
  if (item->menu_) item->menu_->removeItem(*item);
  index = std::clamp<std::int64_t>(index, 0, numberOfItems());
  item->menu_ = this;
  items_.insert(items_.begin() + index, std::move(item));
}

void NSMenu::removeItemAtIndex(std::int64_t index) {
  if (index < 0 || index >= numberOfItems()) return;
  items_[static_cast<std::size_t>(index)]->menu_ = nullptr;
  items_.erase(items_.begin() + index);
}

void NSMenu::removeItem(const NSMenuItem& item) { removeItemAtIndex(indexOfItem(item)); }

std::shared_ptr<NSMenuItem> NSMenu::highlightedItem() const {
  return tracking_ && highlighted_ ? itemAtIndex(*highlighted_) : nullptr;
}

void NSMenu::popUp() {
  if (tracking_) return;
  if (delegate_) delegate_->menuWillOpen(*this);
  highlighted_.reset();
  tracking_ = true;
}

void NSMenu::popUpMenuAtLocation(CGPoint location) {
  popUp();
  window_ = platform::showMenu(*this, location);
}

bool NSMenu::popUpMenuPositioningItem(const NSMenuItem& item, CGPoint location, const QWidget& view) {
  const std::int64_t index = indexOfItem(item);
  if (index < 0) return false;
  const auto global = platform::pointInScreens(view, location);
  if (!global) return false;
  cancelTracking();
  if (delegate_) delegate_->menuWillOpen(*this);
  tracking_ = true;
  highlighted_ = item.isEnabled() && !item.isSeparatorItem() ? std::optional(index) : std::nullopt;
  window_ = platform::showMenu(*this, *global, index);
  return true;
}

void NSMenu::cancelTracking() {
  const bool was = tracking_;
  tracking_ = false;
  highlighted_.reset();
  platform::closeMenu(std::move(window_));
  if (was && delegate_) delegate_->menuDidClose(*this);
}

bool NSMenu::performActionForItemAtIndex(std::int64_t index) {
  auto item = itemAtIndex(index);
  if (!item || item->isSeparatorItem() || !item->isEnabled()) return false;
  if (item->action().empty()) return false;
  if (item->hasTarget() || item->action() == "terminate:") cancelTracking();
  return item->perform();
}

bool NSMenu::clickViewOfItemAtIndex(std::int64_t index, CGPoint point) {
  auto item = itemAtIndex(index);
  if (!item || !item->view()) return false;
  auto view = item->view();
  view->click(point);
  return true;
}

// ---- The status bar ---------------------------------------------------------------------

void NSStatusBarButton::setTitle(std::string title) {
  title_ = std::move(title);
  if (changed_) changed_();
}

void NSStatusBarButton::setImage(std::shared_ptr<NSImage> image) {
  image_ = std::move(image);
  if (changed_) changed_();
}

void NSStatusBarButton::setImagePosition(NSCellImagePosition position) {
  imagePosition_ = position;
  if (changed_) changed_();
}

bool NSStatusItem::click() {
  if (!menu_) return false;
  if (const auto below = platform::statusItemMenuLocation(shown_)) {
    menu_->popUpMenuAtLocation(*below);
  } else {
    menu_->popUp();
  }
  return true;
}

NSStatusBar& NSStatusBar::systemStatusBar() { return current().bar; }

std::shared_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(double length) {
  auto item = std::make_shared<NSStatusItem>(length);
  items_.push_back(item);
  item->shown_ = platform::showStatusItem(item);
  return item;
}

void NSStatusBar::removeStatusItem(const std::shared_ptr<NSStatusItem>& item) {
  if (item) {
    if (item->menu_) item->menu_->cancelTracking();
    item->shown_.reset();
  }
  std::erase(items_, item);
}
