#include "app/Updates.h"

#include <memory>

#include "platform/OncePerSystem.h"
#include "settings/Diagnostics.h"

namespace trelliq {

Updates& Updates::controller() {
  static platform::SystemStamp system;
  // A fresh simulated Mac is a fresh process: its updater starts with no requests.
  if (!current() || !system.isCurrent()) {
    current() = std::make_shared<Updates>();
    system = platform::SystemStamp::now();
  }
  return *current();
}

std::shared_ptr<Updates>& Updates::current() {
  static std::shared_ptr<Updates> updates;
  return updates;
}

void Updates::checkForUpdates() {
  ++checks_;
  Diagnostics::log("updates: no update feed on this machine");
}

void Updates::addMenuItem(NSMenu& menu) {
  controller();
  std::weak_ptr<Updates> updates = current();
  auto item = std::make_shared<NSMenuItem>(menuTitle, action, "");
  item->setTarget([updates] {
    if (auto live = updates.lock()) live->checkForUpdates();
  });
  menu.addItem(std::move(item));
}

}  // namespace trelliq
