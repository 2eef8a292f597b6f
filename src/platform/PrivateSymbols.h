#pragma once
// Shapes of the system's unpublished functions that the program looks up at run time:
//   auto h = platform::dlopen(kSkyLightPath, platform::RTLD_NOW_);
//   auto f = platform::symbolAs<SLSCopyManagedDisplaySpaces_t>(h, "SLSCopyManagedDisplaySpaces");
// The simulated system registers, for each library path and symbol name, the address of a
// function of exactly the type below (SystemPort::symbol), so a test can take any one
// away. "Owned array or null" results are an optional PlistArray the caller now owns;
// errors are 0 on success. Functions may be called from any thread unless noted. Type
// names drop a symbol's leading underscore ("_AXUIElementGetWindow" -> AXUIElementGetWindow_t).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/Image.h"
#include "platform/PlistValue.h"

inline constexpr const char* kSkyLightPath = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";
inline constexpr const char* kApplicationServicesPath =
    "/System/Library/Frameworks/ApplicationServices.framework/ApplicationServices";
inline constexpr const char* kCoreServicesPath = "/System/Library/Frameworks/CoreServices.framework/CoreServices";
inline constexpr const char* kMultitouchSupportPath =
    "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

using CGSConnectionID = std::int32_t;
using CGSSpaceID = std::uint64_t;

struct ProcessSerialNumber {
  std::uint32_t highLongOfPSN = 0;
  std::uint32_t lowLongOfPSN = 0;
  friend bool operator==(const ProcessSerialNumber&, const ProcessSerialNumber&) = default;
};

// ---- SkyLight ---------------------------------------------------------------------------

/// The program's connection to the window server (never 0).
using SLSMainConnectionID_t = CGSConnectionID();
/// One dictionary per managed display: "Display Identifier" (a display UUID string or
/// "Main"), "Spaces" (dictionaries with "id64", "type" 0 desktop / 4 full screen, "uuid"),
/// "Current Space" (a dictionary with "id64"). Null for a bad connection.
using SLSCopyManagedDisplaySpaces_t = std::optional<platform::PlistArray>(CGSConnectionID cid);
/// The Space ids (integers) holding any of the given window numbers; `mask` 7 asks for
/// every kind of Space. Null for a bad connection.
using SLSCopySpacesForWindows_t = std::optional<platform::PlistArray>(CGSConnectionID cid, std::int32_t mask,
                                                                      const platform::PlistArray& windows);
/// Writes whether the window is ordered in; an error for an unknown window.
using SLSWindowIsOrderedIn_t = std::int32_t(CGSConnectionID cid, std::uint32_t window, bool* orderedIn);
/// Makes the process frontmost with `window` in front; `options` 0x200 as the program passes.
using SLPSSetFrontProcessWithOptions_t = std::int32_t(ProcessSerialNumber* psn, std::uint32_t window,
                                                      std::uint32_t options);
/// Sends a 248-byte event record (byte 0x04 holds the size) to the process.
using SLPSPostEventRecordTo_t = std::int32_t(ProcessSerialNumber* psn, const std::uint8_t* record);
/// Pictures of `count` windows; `options` 0x80900 full resolution, 0x80a00 reduced.
/// Null when nothing could be captured (or no screen-capture permission).
using SLSHWCaptureWindowList_t = std::optional<std::vector<CGImageRef>>(CGSConnectionID cid,
                                                                        const std::uint32_t* windows,
                                                                        std::int32_t count, std::uint32_t options);
/// A new Space of the program's own (`type` 1 as passed); 0 on failure.
using SLSSpaceCreate_t = CGSSpaceID(CGSConnectionID cid, std::int32_t type, const platform::PlistDictionary* options);
using SLSSpaceSetAbsoluteLevel_t = std::int32_t(CGSConnectionID cid, CGSSpaceID space, std::int32_t level);
/// Shows the given Spaces (an array of integer Space ids) above the managed ones.
using SLSShowSpaces_t = std::int32_t(CGSConnectionID cid, const platform::PlistArray& spaces);
/// Adds the windows (integer window numbers) to the Spaces (integer ids), keeping their others.
using SLSAddWindowsToSpaces_t = std::int32_t(CGSConnectionID cid, const platform::PlistArray& windows,
                                             const platform::PlistArray& spaces);
/// Moves the windows (integer window numbers) to one managed Space.
using SLSMoveWindowsToManagedSpace_t = std::int32_t(CGSConnectionID cid, const platform::PlistArray& windows,
                                                    CGSSpaceID space);
/// Turns a system symbolic hot key on or off (1: next application, 2: previous). Must be
/// safe to call from a signal handler: no locks, no allocation.
using SLSSetSymbolicHotKeyEnabled_t = std::int32_t(std::uint32_t hotKey, bool enabled);

// ---- ApplicationServices ----------------------------------------------------------------

/// The window number behind a window element; kAXErrorSuccess and `*window` set, or an error.
using AXUIElementGetWindow_t = AXError(const AXUIElementRef& element, std::uint32_t* window);
/// An element from a 20-byte remote token (pid, 0, 0x636F636F, element id; little-endian);
/// null when no such element exists.
using AXUIElementCreateWithRemoteToken_t = AXUIElementRef(const platform::PlistData& token);
/// The serial number of a process; an error for an unknown pid.
using GetProcessForPID_t = std::int32_t(std::int32_t pid, ProcessSerialNumber* psn);

// ---- CoreServices -----------------------------------------------------------------------

/// Application identifiers (opaque values), frontmost first; `session` −2 as passed. Null when unavailable.
using LSCopyApplicationArrayInFrontToBackOrder_t = std::optional<platform::PlistArray>(std::int32_t session);
/// One information item of an application identifier; null when it has none.
using LSCopyApplicationInformationItem_t = std::optional<platform::PlistValue>(std::int32_t session,
                                                                               const platform::PlistValue& application,
                                                                               const std::string& key);
/// The data symbol "_kLSPIDKey": its address points at the key string (read it as
/// *platform::symbolAs<const LSPIDKey_t>(handle, "_kLSPIDKey")).
using LSPIDKey_t = std::string;

// ---- MultitouchSupport ------------------------------------------------------------------

struct MTDevice;  // defined by the simulated system
using MTDeviceRef = MTDevice*;

/// One contact record is 96 bytes; `count` of them follow each other. Fields read:
/// Int32 identifier at 16, Int32 state at 20 (3, 4, 5: touching), Float32 x at 32 and
/// y at 36 (normalised 0..1).
inline constexpr std::size_t kMTContactRecordSize = 96;
inline constexpr std::size_t kMTContactIdentifierOffset = 16;
inline constexpr std::size_t kMTContactStateOffset = 20;
inline constexpr std::size_t kMTContactXOffset = 32;
inline constexpr std::size_t kMTContactYOffset = 36;

/// Called on the framework's own thread for every frame of a started device; `contacts`
/// may be null when `count` is 0. Registration is by this function's address.
using MTContactCallbackFunction = std::int32_t (*)(MTDeviceRef device, const std::uint8_t* contacts, std::int32_t count,
                                                   double timestamp, std::int32_t frame);

/// The attached devices (elements may be null); null when there are none to list.
using MTDeviceCreateList_t = std::optional<std::vector<MTDeviceRef>>();
using MTRegisterContactFrameCallback_t = void(MTDeviceRef device, MTContactCallbackFunction callback);
using MTUnregisterContactFrameCallback_t = void(MTDeviceRef device, MTContactCallbackFunction callback);
/// Starts frames (`mode` 0 as passed); 0 on success.
using MTDeviceStart_t = std::int32_t(MTDeviceRef device, std::int32_t mode);
using MTDeviceStop_t = std::int32_t(MTDeviceRef device);
/// Writes the device family (112, 113: mice); 0 on success.
using MTDeviceGetFamilyID_t = std::int32_t(MTDeviceRef device, std::int32_t* familyID);
