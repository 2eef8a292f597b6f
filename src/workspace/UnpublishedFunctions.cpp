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

// Each library is opened once with "resolve everything now"; a null handle when it cannot be.
#define TRELLIQ_LIBRARY(member, path)                                                                                  \
  platform::LibraryHandle UnpublishedFunctions::member() {                                                             \
    static auto& slot = makeSlot<platform::LibraryHandle>([] { return platform::dlopen(path, platform::RTLD_NOW_); }); \
    return slot.get();                                                                                                 \
  }

TRELLIQ_LIBRARY(skyLight, kSkyLightPath)
TRELLIQ_LIBRARY(appServices, kApplicationServicesPath)
TRELLIQ_LIBRARY(coreServices, kCoreServicesPath)
TRELLIQ_LIBRARY(multitouch, kMultitouchSupportPath)

#undef TRELLIQ_LIBRARY

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
TRELLIQ_PRIVATE_FUNCTION(moveWindowsToManagedSpace, SLSMoveWindowsToManagedSpace_t, skyLight,
                         "SLSMoveWindowsToManagedSpace")
TRELLIQ_PRIVATE_FUNCTION(setSymbolicHotKeyEnabled, SLSSetSymbolicHotKeyEnabled_t, skyLight,
                         "SLSSetSymbolicHotKeyEnabled")
TRELLIQ_PRIVATE_FUNCTION(getWindow, AXUIElementGetWindow_t, appServices, "_AXUIElementGetWindow")
TRELLIQ_PRIVATE_FUNCTION(getProcessForPID, GetProcessForPID_t, appServices, "GetProcessForPID")
TRELLIQ_PRIVATE_FUNCTION(createWithRemoteToken, AXUIElementCreateWithRemoteToken_t, appServices,
                         "_AXUIElementCreateWithRemoteToken")
TRELLIQ_PRIVATE_FUNCTION(copyApplicationsFrontToBack, LSCopyApplicationArrayInFrontToBackOrder_t, coreServices,
                         "_LSCopyApplicationArrayInFrontToBackOrder")
TRELLIQ_PRIVATE_FUNCTION(copyApplicationInformationItem, LSCopyApplicationInformationItem_t, coreServices,
                         "_LSCopyApplicationInformationItem")
TRELLIQ_PRIVATE_FUNCTION(deviceCreateList, MTDeviceCreateList_t, multitouch, "MTDeviceCreateList")
TRELLIQ_PRIVATE_FUNCTION(registerContactFrameCallback, MTRegisterContactFrameCallback_t, multitouch,
                         "MTRegisterContactFrameCallback")
TRELLIQ_PRIVATE_FUNCTION(unregisterContactFrameCallback, MTUnregisterContactFrameCallback_t, multitouch,
                         "MTUnregisterContactFrameCallback")
TRELLIQ_PRIVATE_FUNCTION(deviceStart, MTDeviceStart_t, multitouch, "MTDeviceStart")
TRELLIQ_PRIVATE_FUNCTION(deviceStop, MTDeviceStop_t, multitouch, "MTDeviceStop")
TRELLIQ_PRIVATE_FUNCTION(deviceFamilyID, MTDeviceGetFamilyID_t, multitouch, "MTDeviceGetFamilyID")

#undef TRELLIQ_PRIVATE_FUNCTION

std::optional<LSPIDKey_t> UnpublishedFunctions::pidKey() {
  // A data symbol: the key itself, copied out once.
  static auto& slot = makeSlot<std::optional<LSPIDKey_t>>([]() -> std::optional<LSPIDKey_t> {
    if (const auto* key = lookUp<const LSPIDKey_t>(coreServices(), "_kLSPIDKey")) return *key;
    return std::nullopt;
  });
  return slot.get();
}

}  // namespace trelliq
