#pragma once
// The window server's unpublished functions, looked up by name in their libraries the
// first time each is needed and kept afterwards (see OncePerSystem). Every accessor
// answers null when its library or symbol is missing; callers then give their empty
// answer. Thread-safe: the capture queues reach these as well as the main thread.

#include <optional>

#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"

namespace trelliq {

class UnpublishedFunctions final {
 public:
  UnpublishedFunctions() = delete;

  /// The libraries, opened once with "resolve everything now"; null when they cannot be opened.
  static platform::LibraryHandle skyLight();
  static platform::LibraryHandle appServices();

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

  // ApplicationServices.
  static AXUIElementGetWindow_t* getWindow();
  static GetProcessForPID_t* getProcessForPID();
  static AXUIElementCreateWithRemoteToken_t* createWithRemoteToken();
};

}  // namespace trelliq
