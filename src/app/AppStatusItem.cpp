// The status item, its menu, the permission mark and the menu's actions.

#include <cmath>

#include "app/AppDelegate.h"
#include "app/MenuSwitcherMode.h"
#include "app/Permission.h"
#include "app/Updates.h"
#include "guide/GuideWindow.h"

namespace trelliq {

namespace {

std::shared_ptr<NSMenuItem> entry(const char* title, std::function<void()> perform, SEL action) {
  auto item = std::make_shared<NSMenuItem>(title, std::move(action), "");
  item->setTarget(std::move(perform));
  return item;
}

// The widest representation (the first of equally wide ones), or null without any.
const NSImageRep* widest(const NSImage& image) {
  const NSImageRep* best = nullptr;
  for (const NSImageRep& rep : image.representations()) {
    if (!best || rep.pixelsWide > best->pixelsWide) best = &rep;
  }
  return best;
}

}  // namespace

void AppDelegate::makeStatusItem() {
  statusItem_ = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
  NSStatusBarButton* button = statusItem_->button();
  if (auto image = NSImage::imageNamed(iconName)) {
    if (const NSImageRep* rep = widest(*image); rep && rep->pixelsHigh >= 1) {
      // 16 points high, the width in proportion to the sharpest bitmap.
      image->setSize(CGSize{std::round(rep->pixelsWide * iconHeight / rep->pixelsHigh), iconHeight});
    }
    image->setTemplate(true);
    image->setAccessibilityDescription("Trelliq");
    icon_ = image;
    button->setImage(image);
    button->setImagePosition(NSCellImagePosition::imageLeading);
  } else {
    button->setTitle(iconFallbackTitle);
  }

  auto menu = std::make_shared<NSMenu>();
  std::weak_ptr<NSMenu> weakMenu = menu;
  auto picker = std::make_shared<NSMenuItem>("", "", "");
  picker->setView(std::make_shared<MenuSwitcherMode>([weakMenu] {
    // The menu closes after a pick.
    if (auto live = weakMenu.lock()) live->cancelTracking();
  }));
  auto separator = NSMenuItem::separatorItem();
  menu->addItem(picker);
  menu->addItem(separator);
  Updates::addMenuItem(*menu);
  menu->addItem(entry(
      guideTitle, [this] { showGuide(); }, "showGuide"));
  menu->addItem(entry(
      preferencesTitle, [this] { showPreferences(); }, "showPreferences"));
  menu->addItem(NSMenuItem::separatorItem());
  menu->addItem(std::make_shared<NSMenuItem>(quitTitle, "terminate:", ""));
  modeItems_ = {picker, separator};
  statusItem_->setMenu(menu);
}

void AppDelegate::permissionNeeded(bool needed) {
  if (needed) {
    if (permissionItem_) return;
    const std::shared_ptr<NSMenu> menu = statusItem_ ? statusItem_->menu() : nullptr;
    if (!menu) return;
    title_ = statusItem_->button() ? statusItem_->button()->title() : "";
    statusItem_->button()->setTitle(title_.empty() ? std::string(permissionNeededTitle) : title_ + permissionNeededSuffix);
    auto item = entry(
        openPermissionSettingsTitle, [this] { openAccessibilitySettings(); }, "openAccessibilitySettings");
    menu->insertItem(NSMenuItem::separatorItem(), 0);
    menu->insertItem(item, 0);
    permissionItem_ = item;
    return;
  }
  if (!permissionItem_) return;
  const std::shared_ptr<NSMenu> menu = statusItem_ ? statusItem_->menu() : nullptr;
  if (!menu) return;
  statusItem_->button()->setTitle(title_);
  // The separator under the entry goes with it.
  if (const std::int64_t index = menu->indexOfItem(*permissionItem_); index >= 0) {
    menu->removeItemAtIndex(index + 1);
    menu->removeItemAtIndex(index);
  }
  permissionItem_ = nullptr;
}

void AppDelegate::showGuide() { GuideWindow::shared().show(); }

void AppDelegate::showPreferences() { preferences_.show(); }

void AppDelegate::openAccessibilitySettings() { NSWorkspace::shared().open(Permission::accessibility.settings()); }

}  // namespace trelliq
