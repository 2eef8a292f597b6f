#pragma once
// Every unpublished function the program calls, in one table: looked up by name in its
// library the first time it is needed and kept afterwards (see OncePerSystem). Every accessor
// answers null when its library or symbol is missing; callers then give their empty
// answer. Thread-safe: the capture queues reach these as well as the main thread.

#include <optional>
#include <string>

#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"

namespace trelliq {

class UnpublishedFunctions final {
 public:
  UnpublishedFunctions() = delete;

  /// The libraries, opened once with "resolve everything now"; null when they cannot be opened.
  static platform::LibraryHandle skyLight();
  static platform::LibraryHandle appServices();
  static platform::LibraryHandle coreServices();
  static platform::LibraryHandle multitouch();

  /// The program's connection number, asked once; nothing when the symbol is missing.
  static std::optional<CGSConnectionID> connection();

  // SkyLight.
  static SLSCopyManagedDisplaySpaces_t* copyDisplaySpaces();
  static SLSCopySpacesForWindows_t* copySpacesForWindows();
  static SLSWindowIsOrderedIn_t* isOrderedIn();
  static SLPSSetFrontProcessWithOptions_t* setFrontProcess();
  static SLPSPostEventRecordTo_t* postEventRecord();
  static SLSHWCaptureWindowList_t* hwCaptureWindowList();
  static SLSSpaceCreate_t* spaceCreate();
  static SLSSpaceSetAbsoluteLevel_t* spaceSetAbsoluteLevel();
  static SLSShowSpaces_t* showSpaces();
  static SLSAddWindowsToSpaces_t* addWindowsToSpaces();
  static SLSMoveWindowsToManagedSpace_t* moveWindowsToManagedSpace();
  static SLSSetSymbolicHotKeyEnabled_t* setSymbolicHotKeyEnabled();

  // ApplicationServices.
  static AXUIElementGetWindow_t* getWindow();
  static GetProcessForPID_t* getProcessForPID();
  static AXUIElementCreateWithRemoteToken_t* createWithRemoteToken();

  // CoreServices' launch services.
  static LSCopyApplicationArrayInFrontToBackOrder_t* copyApplicationsFrontToBack();
  static LSCopyApplicationInformationItem_t* copyApplicationInformationItem();
  /// The key of an application's process id in its information; nothing when missing.
  static std::optional<LSPIDKey_t> pidKey();

  // MultitouchSupport.
  static MTDeviceCreateList_t* deviceCreateList();
  static MTRegisterContactFrameCallback_t* registerContactFrameCallback();
  static MTUnregisterContactFrameCallback_t* unregisterContactFrameCallback();
  static MTDeviceStart_t* deviceStart();
  static MTDeviceStop_t* deviceStop();
  static MTDeviceGetFamilyID_t* deviceFamilyID();
};

}  // namespace trelliq
