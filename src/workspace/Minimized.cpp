#include "workspace/Minimized.h"

#include <map>
#include <string>

#include "platform/AppKitWorkspace.h"
#include "platform/OncePerSystem.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

/// Window number -> the element it was reported minimized with. Lives as long as the
/// system it was learnt from (the process, in the running program).
std::map<std::uint32_t, AXUIElementRef>& windows() {
  static auto& map = *new platform::OncePerSystem<std::map<std::uint32_t, AXUIElementRef>>();
  return map.get();
}

std::string applicationName(const AXUIElementRef& element) {
  std::int32_t pid = 0;
  if (AXUIElementGetPid(element, &pid) != kAXErrorSuccess) pid = 0;
  auto app = NSRunningApplication::withProcessIdentifier(pid);
  if (app && !app->isTerminated() && app->localizedName()) return Diagnostics::escapeForeign(*app->localizedName());
  return "pid " + std::to_string(pid);
}

}  // namespace

void Minimized::changed(const AXUIElementRef& element, bool minimized) {
  changed(element, Private::windowID(element), minimized);
}

void Minimized::changed(const AXUIElementRef& element, std::optional<std::uint32_t> window, bool minimized) {
  if (!window) return;
  auto& map = windows();
  const bool known = map.count(*window) != 0;
  if (minimized == known) return;
  if (minimized) {
    map[*window] = element;
  } else {
    map.erase(*window);
  }
  Diagnostics::log("window " + std::to_string(*window) + " of " + applicationName(element) + " " +
                   (minimized ? "minimized" : "no longer minimized"));
}

AXUIElementRef Minimized::element(std::uint32_t window) {
  auto& map = windows();
  auto found = map.find(window);
  return found == map.end() ? nullptr : found->second;
}

}  // namespace trelliq
