#include "platform/ServiceManagement.h"

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"

SMAppService::Status SMAppService::status() const {
  switch (platform::system().loginItemStatus()) {
    case platform::LoginItemStatus::notRegistered:
      return Status::notRegistered;
    case platform::LoginItemStatus::enabled:
      return Status::enabled;
    case platform::LoginItemStatus::requiresApproval:
      return Status::requiresApproval;
    case platform::LoginItemStatus::notFound:
      return Status::notFound;
  }
  return Status::notFound;
}

std::optional<NSError> SMAppService::registerService() const {
  if (auto error = platform::system().setLoginItem(true)) return NSError{*error};
  return std::nullopt;
}

std::optional<NSError> SMAppService::unregisterService() const {
  if (auto error = platform::system().setLoginItem(false)) return NSError{*error};
  return std::nullopt;
}

void SMAppService::openSystemSettingsLoginItems() {
  if (platform::hasWindowServer()) platform::windowServer().openSystemSettingsLoginItems();
}
