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

  // ---- Windows and the pointer ----
  /// Every window, front to back (higher layers first), including ones ordered out.
  virtual std::vector<WindowEntry> windowList() = 0;
  /// The pointer, global top-left points.
  virtual CGPoint pointerLocation() = 0;
  virtual void warpPointer(CGPoint location) = 0;

  // ---- Events ----
  virtual bool listenEventAccess() = 0;
  virtual bool postEventAccess() = 0;
  /// Queues a synthetic event at `tap`; delivered later, through the taps, like a real one.
  virtual void postEvent(CGEventTapLocation tap, const CGEvent& event) = 0;
  /// Installs a tap; nothing when refused. Returns a tap id (never 0).
  virtual std::optional<std::uint64_t> createEventTap(const EventTapRequest& request, EventTapHandler handler) = 0;
  virtual void setEventTapEnabled(std::uint64_t tap, bool enabled) = 0;
  virtual bool isEventTapEnabled(std::uint64_t tap) = 0;
  /// Removes the tap; its handler is never called afterwards (replies still pending are ignored).
  virtual void removeEventTap(std::uint64_t tap) = 0;

  // ---- Processes and the workspace ----
  virtual std::int32_t ownProcessIdentifier() = 0;
  virtual OperatingSystemVersion operatingSystemVersion() = 0;
  /// Running (not terminated) applications, oldest launch first, the program itself included.
  virtual std::vector<RunningApplicationInfo> runningApplications() = 0;
  /// One process, also after it terminated (then `terminated` is true); nothing for an unknown pid.
  virtual std::optional<RunningApplicationInfo> application(std::int32_t pid) = 0;
  virtual std::optional<std::int32_t> frontmostApplication() = 0;
  /// Requests to an application; false when it is gone or refuses. `options` are NSApplicationActivationOptions.
  virtual bool activateApplication(std::int32_t pid, std::uint32_t options) = 0;
  virtual bool hideApplication(std::int32_t pid) = 0;
  virtual bool unhideApplication(std::int32_t pid) = 0;
  /// Asks it to quit (it may refuse or take a while); `force` kills it at once.
  virtual bool terminateApplication(std::int32_t pid, bool force) = 0;
  /// Launches (or, when running, reopens) the application bundle at `path`; `done` gets its
  /// pid or an error text, once, on any thread.
  virtual void openApplication(
      const std::string& path, bool activates,
      std::function<void(std::optional<std::int32_t> pid, std::optional<std::string> error)> done) = 0;
  /// Opens a URL or file with its default application; false when nothing handles it.
  virtual bool openURL(const std::string& url) = 0;
  /// Opens the system's settings at the pane of login items (nothing happens when the
  /// system cannot open its settings).
  virtual void openSystemSettingsLoginItems() = 0;
  /// The bundle path of the application with that bundle identifier, a running one before
  /// an installed one; nothing when the system has none.
  virtual std::optional<std::string> applicationPath(const std::string& bundleIdentifier) = 0;
  /// The icon of the application bundle at `path` (running or installed); null for any other path.
  virtual CGImageRef bundleIcon(const std::string& path) = 0;
  /// Replaces the one listener of workspace events (null removes it).
  virtual void setWorkspaceListener(std::function<void(const WorkspaceEvent&)> listener) = 0;

  // ---- The program's own windows ----
  /// Registers a window the first time it is ordered in; its number (never 0).
  virtual std::uint32_t createOwnWindow(const OwnWindowState& state) = 0;
  virtual void updateOwnWindow(std::uint32_t number, const OwnWindowState& state) = 0;
  virtual void orderOwnWindow(std::uint32_t number, OwnWindowOrder order) = 0;
  /// Which own window has the keyboard focus within the program (0: none).
  virtual void setOwnKeyWindow(std::uint32_t number) = 0;
  virtual std::optional<OwnWindowStatus> ownWindowStatus(std::uint32_t number) = 0;
  virtual void destroyOwnWindow(std::uint32_t number) = 0;
  /// Replaces the one listener of the events the server routes to the program itself
  /// (keys while it has the keyboard, clicks on its windows).
  virtual void setOwnEventListener(std::function<void(const CGEvent& event, std::uint32_t windowNumber)> listener) = 0;
  /// Hands the server the surface an own window's content is published in (null: none;
  /// the window then shows its plain fill). The server reads the newest published frame
  /// whenever it draws the window, on any thread, and never asks the program for it; the
  /// program hands over a new surface when the size changes. Destroying the window drops it.
  virtual void setOwnWindowSurface(std::uint32_t number, std::shared_ptr<const SharedSurface> surface) {}
  /// Says that the program published a new frame in the surface of its window `number`, so
  /// whoever shows the window can look at once rather than when it next looks. Changes
  /// nothing the program reads; nothing comes back. Main thread.
  virtual void ownWindowSurfacePublished(std::uint32_t number) {}

  // ---- Accessibility (timeouts in seconds, already resolved from 0 to the default) ----
  virtual AXAnswer axCopyAttribute(AXElementID element, const std::string& attribute, double timeout) = 0;
  virtual AXError axSetAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                                 double timeout) = 0;
  virtual AXError axPerformAction(AXElementID element, const std::string& action, double timeout) = 0;
  /// A new observer of `pid` whose notifications go to `deliver`; its id (never 0) or an error.
  virtual std::pair<AXError, std::uint64_t> axCreateObserver(
      std::int32_t pid, std::function<void(AXElementID element, const std::string& notification)> deliver) = 0;
  virtual AXError axAddNotification(std::uint64_t observer, AXElementID element, const std::string& notification) = 0;
  virtual AXError axRemoveNotification(std::uint64_t observer, AXElementID element,
                                       const std::string& notification) = 0;
  virtual void axDestroyObserver(std::uint64_t observer) = 0;

  // ---- Window pictures for ScreenCaptureKit ----
  /// The capturable windows; nothing without the screen-capture permission.
  virtual std::optional<std::vector<ShareableWindow>> shareableWindows(bool onScreenOnly) = 0;
  /// One window at the given pixel size, also when covered or on another Space; null on failure.
  virtual CGImageRef captureWindowPicture(std::uint32_t windowID, int width, int height) = 0;

  // ---- IOKit service matching ----
  /// Watches for services of `className` appearing; the iterator (never 0) starts with the
  /// ones present now. `arrived` is called (any thread) each time new ones join it.
  virtual std::optional<std::uint32_t> addServiceMatching(const std::string& className,
                                                          std::function<void()> arrived) = 0;
  /// The next service of the iterator, 0 when drained.
  virtual std::uint32_t nextMatchedService(std::uint32_t iterator) = 0;
  /// Releases a service or an iterator; releasing an iterator ends its matching.
  virtual void releaseIOObject(std::uint32_t object) = 0;
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
