#include "settings/LaunchAtLogin.h"

#include "platform/ServiceManagement.h"
#include "settings/DefaultsKeys.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"

namespace trelliq {

namespace {
}

bool LaunchAtLogin::isOn() { return SMAppService::mainAppService().status() == SMAppService::Status::enabled; }

bool LaunchAtLogin::needsApproval() {
  return SMAppService::mainAppService().status() == SMAppService::Status::requiresApproval;
}

bool LaunchAtLogin::set(bool on) {
  const SMAppService service = SMAppService::mainAppService();
  const auto error = on ? service.registerService() : service.unregisterService();
  if (!error) return true;
  Diagnostics::log(std::string("couldn't turn ") + (on ? "on" : "off") +
                   " opening at login: " + Diagnostics::escapeForeign(error->localizedDescription));
  return false;
}

void LaunchAtLogin::setUpOnFirstLaunch() {
  UserDefaults& defaults = Settings::defaults();
  if (defaults.boolForKey(defaultskey::launchAtLoginSetUp)) return;
  // Marked before trying, so a failure is not retried on every launch.
  defaults.set(defaultskey::launchAtLoginSetUp, true);
  set(true);
}

}  // namespace trelliq
