#pragma once
// The boundary between the window-server façades (window list, events and taps,
// accessibility, running applications and the workspace, the program's own windows,
// IOKit matching) and the simulated Mac. Requests and replies are plain values; the
// few pushes from the world (events for a tap, workspace and accessibility
// notifications, device arrivals) are callbacks the façades hand in. The world may call
// them on any thread; the façades move them onto the right run loop or queue.
// Private window-server functions do not go through here: the world registers them
// with SystemPort::symbol using the types of PrivateSymbols.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/CGEvent.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/PortCalls.h"

namespace platform {

class SharedSurface;

/// One window of the window list.
struct WindowEntry {
  std::uint32_t number = 0;
  std::int32_t ownerPID = 0;
  std::optional<std::string> ownerName;
  std::optional<std::string> name;  // the title; the façade hides it without screen-capture permission
  std::int32_t layer = 0;
  CGRect bounds;  // global, top-left origin
  double alpha = 1;
  bool onScreen = false;        // ordered in on a Space that shows
  bool desktopElement = false;  // the desktop picture and desktop-icon windows
  std::int64_t sharingState = 1;
  std::int64_t storeType = 1;
  std::int64_t memoryUsage = 0;
  friend bool operator==(const WindowEntry&, const WindowEntry&) = default;
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

/// One process as the workspace lists it.
struct RunningApplicationInfo {
  std::int32_t pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> bundleURL;  // a file path, e.g. "/Applications/Notes.app"
  CGImageRef icon;
  ActivationPolicy activationPolicy = ActivationPolicy::regular;
  std::optional<double> launchDate;  // seconds since 1970
  bool hidden = false;
  bool active = false;
  bool terminated = false;
  bool finishedLaunching = true;
};

struct WorkspaceEvent {
  enum class Kind {
    didLaunch,
    didTerminate,
    didActivate,
    didDeactivate,
    didHide,
    didUnhide,
    activeSpaceDidChange,
    didWake
  };
  Kind kind = Kind::didLaunch;
  std::int32_t pid = 0;  // 0 for the two system-wide kinds
};

/// The style of the system's glass: frosted, or clear enough to see what lies behind.
enum class GlassStyle { regular = 0, clear = 1 };

/// What the program asks of one of its own windows; frames are global, top-left origin.
struct OwnWindowState {
  CGRect frame;
  std::int32_t level = 0;
  double alpha = 1;
  std::uint64_t styleMask = 0;           // bit 14: full screen
  std::uint64_t collectionBehavior = 0;  // bit 0: all Spaces, bit 4: stationary ...
  std::string title;
  bool opaque = true;
  /// The glass the window server composes behind a window that is not opaque.
  GlassStyle glass = GlassStyle::regular;
  bool hasShadow = true;
  bool ignoresMouseEvents = false;
  bool miniaturized = false;
};

enum class OwnWindowOrder { front, frontRegardless, back, out };

/// What only the window server knows of one of the program's windows.
struct OwnWindowStatus {
  bool orderedIn = false;
  bool onActiveSpace = false;
  bool occlusionVisible = false;  // some part of it can be seen
  bool miniaturized = false;
  bool fullScreen = false;
  CGRect frame;  // where it is now (the server may have moved it)
};

struct EventTapRequest {
  CGEventTapLocation location = kCGSessionEventTap;
  CGEventTapPlacement placement = kCGHeadInsertEventTap;
  bool listenOnly = false;
  CGEventMask mask = 0;
};

/// The answer to one event: the event to pass on, or nothing to consume it.
using EventTapReply = std::function<void(std::optional<CGEvent>)>;
/// Called for every event of the tap's mask and for the two tap-disabled notices (whose
/// reply is ignored). The world waits for the reply before delivering the event further.
using EventTapHandler = std::function<void(CGEventType type, CGEvent event, EventTapReply reply)>;

struct AXAnswer {
  AXError error = kAXErrorSuccess;
  AXValue value;  // null unless error is success
};

/// What axCreateObserver answers: an error, and the new observer (0 unless success).
using AXObserverAnswer = std::pair<AXError, std::uint64_t>;

struct ShareableWindow {
  std::uint32_t windowID = 0;
  CGRect frame;  // global points, top-left origin
  std::optional<std::string> title;
  std::int32_t ownerPID = 0;
  std::int32_t layer = 0;
  bool onScreen = false;
};

struct OperatingSystemVersion {
  std::int64_t majorVersion = 0;
  std::int64_t minorVersion = 0;
  std::int64_t patchVersion = 0;
};

class WindowServerPort {
 public:
  virtual ~WindowServerPort() = default;

  // The calls, with what each does, are listed once in PortCalls.h.
  PLATFORM_WINDOW_SERVER_CALLS(PLATFORM_PORT_CALL)
};

/// The installed window server. Aborts when none is installed (a wiring fault).
WindowServerPort& windowServer();
/// Installs (or with null removes) the window server; the caller keeps ownership.
void installWindowServer(WindowServerPort* port);
bool hasWindowServer();
/// Changes at every installWindowServer, so a façade that hooked itself into one server
/// can tell that another one took its place (even at the same address).
std::uint64_t windowServerGeneration();

}  // namespace platform
