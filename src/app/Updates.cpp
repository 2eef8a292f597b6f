#include "app/Updates.h"

#include <memory>

#include "platform/SystemPort.h"
#include "settings/Diagnostics.h"

namespace trelliq {

Updates& Updates::controller() {
  static std::uint64_t generation = 0;
  // A fresh simulated Mac is a fresh process: its updater starts with no requests.
  if (!current() || generation != platform::systemGeneration()) {
    current() = std::make_shared<Updates>();
    generation = platform::systemGeneration();
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
