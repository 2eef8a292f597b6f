#include "workspace/FrontToBack.h"

#include <cmath>
#include <optional>
#include <string>

#include "platform/DynamicLoader.h"
#include "platform/OncePerSystem.h"
#include "platform/PrivateSymbols.h"

namespace trelliq {

namespace {

struct LaunchServices {
  LSCopyApplicationArrayInFrontToBackOrder_t* copyArray = nullptr;
  LSCopyApplicationInformationItem_t* copyInfo = nullptr;
  std::optional<std::string> pidKey;
};

// Resolved together on first use: the three are only ever used together.
const LaunchServices& launchServices() {
  static auto& slot = *new platform::OncePerSystem<LaunchServices>([] {
    LaunchServices services;
    platform::LibraryHandle handle = platform::dlopen(kCoreServicesPath, platform::RTLD_NOW_);
    services.copyArray = platform::symbolAs<LSCopyApplicationArrayInFrontToBackOrder_t>(
        handle, "_LSCopyApplicationArrayInFrontToBackOrder");
    services.copyInfo =
        platform::symbolAs<LSCopyApplicationInformationItem_t>(handle, "_LSCopyApplicationInformationItem");
    if (const auto* key = platform::symbolAs<const LSPIDKey_t>(handle, "_kLSPIDKey")) services.pidKey = *key;
    return services;
  });
  return slot.get();
}

}  // namespace

std::vector<std::int32_t> FrontToBack::pids() {
  const LaunchServices& services = launchServices();
  if (!services.copyArray || !services.copyInfo || !services.pidKey) return {};
  auto applications = services.copyArray(session);
  if (!applications) return {};
  std::vector<std::int32_t> result;
  result.reserve(applications->size());
  for (const auto& application : *applications) {
    auto item = services.copyInfo(session, application, *services.pidKey);
    if (!item || !item->isNumber()) continue;
    if (auto whole = item->asInteger()) {
      result.push_back(static_cast<std::int32_t>(*whole));
    } else if (auto real = item->asDouble(); real && std::isfinite(*real) && std::fabs(*real) < 2147483648.0) {
      result.push_back(static_cast<std::int32_t>(*real));
    }
  }
  return result;
}

}  // namespace trelliq
