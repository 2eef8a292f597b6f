#include "workspace/UnpublishedFunctions.h"

#include <string>

#include "platform/OncePerSystem.h"

namespace trelliq {

namespace {

// Never destroyed: a capture queue may still reach a slot while the process exits.
template <typename T>
platform::OncePerSystem<T>& makeSlot(std::function<T()> make) {
  return *new platform::OncePerSystem<T>(std::move(make));
}

template <typename Function>
Function* lookUp(platform::LibraryHandle library, const char* name) {
  // A null handle is passed on as it is; the look-up then finds nothing.
  return platform::symbolAs<Function>(library, name);
}

}  // namespace

platform::LibraryHandle UnpublishedFunctions::skyLight() {
  static auto& slot =
      makeSlot<platform::LibraryHandle>([] { return platform::dlopen(kSkyLightPath, platform::RTLD_NOW_); });
  return slot.get();
}

platform::LibraryHandle UnpublishedFunctions::appServices() {
  static auto& slot =
      makeSlot<platform::LibraryHandle>([] { return platform::dlopen(kApplicationServicesPath, platform::RTLD_NOW_); });
  return slot.get();
}

std::optional<CGSConnectionID> UnpublishedFunctions::connection() {
  static auto& slot = makeSlot<std::optional<CGSConnectionID>>([]() -> std::optional<CGSConnectionID> {
    auto* mainConnection = lookUp<SLSMainConnectionID_t>(skyLight(), "SLSMainConnectionID");
    if (!mainConnection) return std::nullopt;
    return mainConnection();
  });
  return slot.get();
}

#define TRELLIQ_PRIVATE_FUNCTION(member, type, library, name)                          \
  type* UnpublishedFunctions::member() {                                               \
    static auto& slot = makeSlot<type*>([] { return lookUp<type>(library(), name); }); \
    return slot.get();                                                                 \
  }

TRELLIQ_PRIVATE_FUNCTION(copyDisplaySpaces, SLSCopyManagedDisplaySpaces_t, skyLight, "SLSCopyManagedDisplaySpaces")
TRELLIQ_PRIVATE_FUNCTION(copySpacesForWindows, SLSCopySpacesForWindows_t, skyLight, "SLSCopySpacesForWindows")
TRELLIQ_PRIVATE_FUNCTION(isOrderedIn, SLSWindowIsOrderedIn_t, skyLight, "SLSWindowIsOrderedIn")
TRELLIQ_PRIVATE_FUNCTION(setFrontProcess, SLPSSetFrontProcessWithOptions_t, skyLight, "_SLPSSetFrontProcessWithOptions")
TRELLIQ_PRIVATE_FUNCTION(postEventRecord, SLPSPostEventRecordTo_t, skyLight, "SLPSPostEventRecordTo")
TRELLIQ_PRIVATE_FUNCTION(hwCaptureWindowList, SLSHWCaptureWindowList_t, skyLight, "SLSHWCaptureWindowList")
TRELLIQ_PRIVATE_FUNCTION(spaceCreate, SLSSpaceCreate_t, skyLight, "SLSSpaceCreate")
TRELLIQ_PRIVATE_FUNCTION(spaceSetAbsoluteLevel, SLSSpaceSetAbsoluteLevel_t, skyLight, "SLSSpaceSetAbsoluteLevel")
TRELLIQ_PRIVATE_FUNCTION(showSpaces, SLSShowSpaces_t, skyLight, "SLSShowSpaces")
TRELLIQ_PRIVATE_FUNCTION(addWindowsToSpaces, SLSAddWindowsToSpaces_t, skyLight, "SLSAddWindowsToSpaces")
TRELLIQ_PRIVATE_FUNCTION(getWindow, AXUIElementGetWindow_t, appServices, "_AXUIElementGetWindow")
TRELLIQ_PRIVATE_FUNCTION(getProcessForPID, GetProcessForPID_t, appServices, "GetProcessForPID")
TRELLIQ_PRIVATE_FUNCTION(createWithRemoteToken, AXUIElementCreateWithRemoteToken_t, appServices,
                         "_AXUIElementCreateWithRemoteToken")

#undef TRELLIQ_PRIVATE_FUNCTION

}  // namespace trelliq
