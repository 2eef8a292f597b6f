#pragma once
// The simulated window server: the one source of truth of the desk. It holds the
// displays' Spaces, the running applications, every window (the program's own included)
// in front-to-back order, and answers the window-server façades through
// platform::WindowServerPort. The accessibility and event halves of the port are served
// by services attached to it (they read and change the desk through the public API
// below). Private functions are registered in the world's symbol registry.
//
// Two kinds of changes: the control functions (set…, add…, raiseWindow, switchSpace …)
// act at once and are what scenarios and tests use; the request functions (request…)
// are the system reacting to the program: each takes time on the installed clock (see
// Timings) and can be made to fail (setFailure). Every function is thread-safe (one
// mutex); listeners and callbacks are called with no lock held.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/PlistValue.h"
#include "platform/WindowServerPort.h"

class QImage;

namespace sim {

class World;
class DisplayComposer;
class Desk;
struct DisplayScene;
struct Look;

inline constexpr std::int32_t kSpaceTypeDesktop = 0;
inline constexpr std::int32_t kSpaceTypeSystem = 2;  // listed by the server, never a desktop
inline constexpr std::int32_t kSpaceTypeFullScreen = 4;

/// One Space. Managed Spaces belong to a display (in shared mode to the first display);
/// unmanaged ones are made by a program (the overlay Space) and show above all others.
struct Space {
  std::uint64_t id = 0;
  std::string uuid;
  std::int32_t type = kSpaceTypeDesktop;
  std::uint32_t displayID = 0;         // 0 for unmanaged Spaces
  std::uint32_t desktopColor = 0;      // 0xRRGGBB of its desktop picture; 0: the display's colour
  std::uint32_t fullScreenWindow = 0;  // the window a full-screen Space was made for
  bool managed = true;
  std::int32_t absoluteLevel = 0;  // unmanaged Spaces only
  bool shown = false;              // unmanaged Spaces only: SLSShowSpaces was called
};

/// How an application answers a request to quit.
enum class QuitBehavior { quits, refuses, ignores };

/// The plain fill of the program's own windows, as the light appearance draws it; the dark
/// appearance draws it as `kOwnWindowDarkFill`.
inline constexpr std::uint32_t kOwnWindowFill = 0xF2F2F2, kOwnWindowDarkFill = 0x28282A;

/// One process. `pid` never changes; a relaunch is a new process.
struct App {
  std::int32_t pid = 0;
  std::optional<std::string> name;  // localized name
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> bundlePath;  // "/Applications/Notes.app"
  std::uint32_t iconColor = 0x808080;     // the generated icon's colour
  platform::ActivationPolicy policy = platform::ActivationPolicy::regular;
  std::optional<double> launchDate;  // seconds since 1970
  bool hidden = false;
  bool terminated = false;
  bool finishedLaunching = true;
  std::uint32_t focusedWindow = 0;  // the app's key (and main) window; 0: none
  // Behaviour.
  QuitBehavior quitBehavior = QuitBehavior::quits;
  double quitDelay = 0;  // extra seconds a quitting app takes
  /// Opening (or reopening) it while it has no window gives it a first window, on
  /// `firstWindowDisplay` when set (else the display with the pointer).
  bool opensFirstWindow = true;
  std::optional<std::uint32_t> firstWindowDisplay;
  /// Accessibility calls to it time out (a hung app); read by the accessibility service.
  bool accessibilityHung = false;
  /// Launch services list a process id for it (false: the item is missing).
  bool launchServicesPID = true;
  /// Once terminated, the workspace still lists it among the running applications (its
  /// entry then says it is terminated), as it does for a moment after a process ends.
  bool listedAfterExit = false;
};

/// One window of the window list.
struct Window {
  std::uint32_t number = 0;
  std::int32_t pid = 0;
  std::string title;  // empty: the entry has no name (unless `emptyName`)
  /// The entry has a name, and it is empty (`title` is then empty too).
  bool emptyName = false;
  /// The title the app reports through accessibility when it differs from the entry's name.
  std::optional<std::string> accessibilityTitle;
  /// False for a window the app reports through accessibility that the window server does
  /// not list: no entry, no number for its element, nothing drawn.
  bool listed = true;
  std::int32_t layer = 0;
  CGRect bounds;  // global, top-left origin
  double alpha = 1;
  std::string subrole = "AXStandardWindow";
  /// The Spaces it lies on; ignored while `allSpaces`.
  std::vector<std::uint64_t> spaces;
  bool allSpaces = false;
  bool orderedIn = true;
  bool minimized = false;
  bool fullScreen = false;
  bool desktopElement = false;     // desktop picture and desktop-icon windows
  std::uint32_t color = 0xE0E0E0;  // 0xRRGGBB of its generated picture
  /// Its content is clear (an app's invisible helper window): nothing of it is drawn.
  bool clear = false;
  std::string glyph;               // a status item's template glyph (text); empty: the app's initial
  /// The anchor of the privacy list a window of the settings app shows
  /// ("Privacy_Accessibility"); empty for any other window.
  std::string settingsPane;
  /// The system's app switcher: the apps whose icons it shows, left to right (empty for
  /// any other window), and the index of the chosen one.
  std::vector<std::int32_t> switcherApps;
  std::size_t switcherChoice = 0;
  /// Its accessibility element id within the app (0: the app does not report it). Ids
  /// element+1 … element+3 are left free for the window's children (close button …).
  std::uint64_t axElement = 0;
  bool accessible = true;  // false: the app does not report it (no element is given)
  bool own = false;        // one of the program's own windows
  std::int64_t sharingState = 1;
  // Server bookkeeping.
  bool hiddenWithApp = false;  // ordered out because its app is hidden
  CGRect restoreBounds;        // before full screen
  std::uint64_t restoreSpace = 0;
};

/// One managed display as the server sees it.
struct DisplaySpaces {
  std::uint32_t displayID = 0;
  std::string uuid;
  CGRect frame;  // global, top-left origin
  std::vector<Space> spaces;
  std::uint64_t current = 0;
};

/// Whether the display follows an activated window to its Space.
enum class SpaceFollow { follows, followsLate, doesNotFollow };

/// How a Space change is shown: the system's slide; at once, with only its picture
/// settling into place (a landed swipe); or at once and still.
enum class SwitchStyle { slide, swipe, instant };

/// The system reactions that can be made to fail.
enum class Reaction {
  activate,      // activateApplication, AXFrontmost
  frontProcess,  // _SLPSSetFrontProcessWithOptions
  raise,         // AXRaise, AXMain
  minimize,      // AXMinimized true
  unminimize,    // AXMinimized false
  fullScreen,    // AXFullScreen true, own windows' toggle
  exitFullScreen,
  hide,
  unhide,
  terminate,
  open,         // openApplication
  firstWindow,  // a windowless app's first window
  followSpace,  // the display switching to an activated window's Space
  move,         // AXPosition, AXSize
};

/// `refuse`: the request answers an error and nothing happens. `ignore`: it answers
/// success and nothing happens.
enum class Failure { none, refuse, ignore };

/// How long each reaction takes, in seconds of the installed clock.
struct Timings {
  double activate = 0.05;
  double raise = 0.02;
  double follow = 0.05;     // a display following an activated window (SpaceFollow::follows)
  double followLate = 0.8;  // the same with SpaceFollow::followsLate
  double slide = 0.35;      // the slide animation of an ordinary Space change
  double settle = 0.25;     // the picture of a landed swipe moving into place
  double minimize = 0.25;
  double fullScreen = 0.7;  // into or out of a full-screen Space
  double hide = 0.05;
  double terminate = 0.1;
  double launch = 0.5;
  double firstWindow = 0.3;  // after the open, for an app without windows
  double move = 0.0;
};

/// What changed on the desk; services and tests listen to it.
struct DeskChange {
  enum class Kind {
    windowCreated,
    windowDestroyed,
    windowMoved,
    windowResized,
    windowMinimized,
    windowDeminimized,
    windowTitleChanged,
    windowOrdered,  // ordered in or out, or raised
    fullScreenChanged,
    focusedWindowChanged,  // `pid`'s focused window is now `window`
    appLaunched,
    appTerminated,
    appActivated,
    appDeactivated,
    appHidden,
    appUnhidden,
    spaceChanged,  // `display` shows another Space (`space`)
    spacesChanged  // Spaces were added or removed
  };
  Kind kind = Kind::windowCreated;
  std::int32_t pid = 0;
  std::uint32_t window = 0;
  std::uint32_t display = 0;
  std::uint64_t space = 0;
};

/// One recorded call of a private function: its symbol and its arguments as values
/// (records and tokens as data, arrays as arrays, pointers' contents as arrays).
struct PrivateCall {
  std::string symbol;
  platform::PlistArray arguments;
};

/// The accessibility half of the port, attached by the accessibility service.
class AccessibilityService {
 public:
  virtual ~AccessibilityService() = default;
  virtual platform::AXAnswer copyAttribute(AXElementID element, const std::string& attribute, double timeout) = 0;
  virtual AXError setAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                               double timeout) = 0;
  virtual AXError performAction(AXElementID element, const std::string& action, double timeout) = 0;
  virtual std::pair<AXError, std::uint64_t> createObserver(
      std::int32_t pid, std::function<void(AXElementID element, const std::string& notification)> deliver) = 0;
  virtual AXError addNotification(std::uint64_t observer, AXElementID element, const std::string& notification) = 0;
  virtual AXError removeNotification(std::uint64_t observer, AXElementID element, const std::string& notification) = 0;
  virtual void destroyObserver(std::uint64_t observer) = 0;
};

/// The event half of the port (posting, taps, devices), attached by the event service.
class EventService {
 public:
  virtual ~EventService() = default;
  virtual bool listenEventAccess() = 0;
  virtual bool postEventAccess() = 0;
  virtual void postEvent(CGEventTapLocation tap, const CGEvent& event) = 0;
  /// `owner` is the process installing the tap.
  virtual std::optional<std::uint64_t> createEventTap(const platform::EventTapRequest& request,
                                                      platform::EventTapHandler handler, std::int32_t owner) = 0;
  virtual void setEventTapEnabled(std::uint64_t tap, bool enabled) = 0;
  virtual bool isEventTapEnabled(std::uint64_t tap) = 0;
  virtual void removeEventTap(std::uint64_t tap) = 0;
  virtual std::optional<std::uint32_t> addServiceMatching(const std::string& className,
                                                          std::function<void()> arrived) = 0;
  virtual std::uint32_t nextMatchedService(std::uint32_t iterator) = 0;
  virtual void releaseIOObject(std::uint32_t object) = 0;
  /// The pointer was put somewhere without an event (a test, or the program warping it).
  virtual void pointerMoved(CGPoint location) {}
};

class WindowServer : public platform::WindowServerPort {
 public:
  static constexpr std::int32_t kConnectionID = 0x5A3D;
  static constexpr std::int32_t kWindowServerPID = 150;  // owner of "Window Server" entries; not an app
  static constexpr std::int32_t kOwnPID = 4242;          // the program, unless changed

  /// A window server for `world`'s displays with no Spaces, windows or apps but the
  /// program itself (not yet windowed). Registers the private functions in the world and
  /// attaches itself to it (display pictures then show the desk); the world must outlive it.
  explicit WindowServer(World& world);
  ~WindowServer() override;
  WindowServer(const WindowServer&) = delete;
  WindowServer& operator=(const WindowServer&) = delete;

  /// The server the registered private functions act on (the newest one alive), or null.
  static WindowServer* active();

  /// While it lives, the calls of this thread come from another program of the world (a
  /// second copy attached to a world host): its own pid, own windows and key window are
  /// that program's, and so are the events routed to them.
  class ActingProgram {
   public:
    explicit ActingProgram(std::int32_t pid);
    ~ActingProgram();
    ActingProgram(const ActingProgram&) = delete;
    ActingProgram& operator=(const ActingProgram&) = delete;

   private:
    std::int32_t previous_;
  };
  /// The program this thread acts for (0: the world's own).
  static std::int32_t actingProgram();

  // ---- Services ----
  /// Attaches the accessibility or event service (replacing the previous one), before the
  /// server is installed: the port's calls reach them without a lock. Without one,
  /// accessibility calls fail with kAXErrorCannotComplete and taps are refused.
  void attachAccessibility(std::unique_ptr<AccessibilityService> service);
  void attachEvents(std::unique_ptr<EventService> service);
  World& world() { return world_; }
  /// The attached accessibility service, or null.
  AccessibilityService* accessibility() const { return accessibility_.get(); }

  /// Forgets every app but the program, every window and every Space (each display starts
  /// again with one desktop), without notifications. Settings and listeners stay.
  void resetDesk();

  // ---- Reactions ----
  void setTimings(const Timings& timings);
  Timings timings() const;
  void setFailure(Reaction reaction, Failure failure);
  Failure failure(Reaction reaction) const;
  void setSpaceFollow(SpaceFollow follow);
  SpaceFollow spaceFollow() const;

  // ---- Displays and Spaces ----
  /// The managed displays (the world's, in its order) with their Spaces. A display that
  /// has none yet gets one desktop. In shared mode every display lists the one shared set.
  std::vector<DisplaySpaces> displays();
  /// One set of Spaces for all screens (described as one "Main" display), or one per display.
  void setSharedSpaces(bool shared);
  bool sharedSpaces() const;
  /// Replaces a display's Spaces (ids unique across the desk); the current one is `current`
  /// or the first. Desktop-picture windows are made for the desktops. False for an unknown display.
  bool setSpaces(std::uint32_t displayID, std::vector<Space> spaces, std::optional<std::uint64_t> current = {});
  /// Adds a Space at the end of (or before position `at` on) a display; its id (new when 0).
  std::uint64_t addSpace(std::uint32_t displayID, Space space, std::optional<std::size_t> at = {});
  bool removeSpace(std::uint64_t space);
  std::optional<Space> space(std::uint64_t space) const;
  /// The display a managed Space belongs to (the first display in shared mode).
  std::optional<std::uint32_t> displayOfSpace(std::uint64_t space) const;
  std::optional<std::uint64_t> currentSpace(std::uint32_t displayID);
  /// The current Space of every display.
  std::vector<std::uint64_t> currentSpaces();
  /// The neighbours of a display's current Space in the server's order (all types).
  std::optional<std::uint64_t> spaceToLeft(std::uint32_t displayID);
  std::optional<std::uint64_t> spaceToRight(std::uint32_t displayID);
  /// Shows `space` on its display: at once, or as a slide (the current Space changes when
  /// the slide ends). Posts the Space-change notification. False for an unknown Space.
  bool switchSpace(std::uint64_t space, SwitchStyle style);
  /// True while a display's slide is under way.
  bool isSliding(std::uint32_t displayID) const;
  /// The display under a global top-left point (the nearest one when none holds it).
  std::optional<std::uint32_t> displayAt(CGPoint point);

  // ---- Applications ----
  /// Adds a running application (a launch date of now when it has none; pid chosen when 0)
  /// and posts the launch notification. Its pid.
  std::int32_t addApp(App app);
  /// An app that is not running but can be opened by its bundle path.
  void addInstalledApp(App app);
  std::vector<App> apps() const;  // running ones, oldest launch first
  std::optional<App> app(std::int32_t pid) const;
  std::optional<std::int32_t> appWithBundlePath(const std::string& path) const;
  std::optional<std::int32_t> frontmost() const;
  /// Applications front to back by their last activation (running ones only).
  std::vector<std::int32_t> activationOrder() const;
  /// Makes the app frontmost at once (posting deactivate/activate), raising its focused
  /// window unless `raise` is false (the windows keep their order).
  bool makeFrontmost(std::int32_t pid, bool raise = true);
  bool setHidden(std::int32_t pid, bool hidden);
  /// A button went down on a window at the normal level: another app's window comes to the
  /// front with its app; a program's own window makes its program frontmost (the program
  /// orders and keys the window itself), unless it is a panel that does not activate.
  void pressedOnWindow(std::uint32_t number);
  static constexpr std::uint64_t kNonactivatingPanelBit = 1 << 7;
  /// Ends the process at once: its windows go, the terminate notification is posted. The
  /// last kEndedKept ended processes are still described (a program told of an end asks
  /// about it after the fact); older ones are forgotten with their icons.
  bool terminate(std::int32_t pid);
  static constexpr std::size_t kEndedKept = 64;
  /// The app stops being frontmost, if it was, and the next app that can takes the front
  /// (the world's own program went away, but its app cannot end with it).
  void resignFront(std::int32_t pid);
  /// How many processes the server keeps anything of (entries or icons), running or ended.
  std::size_t keptProcessCount() const;
  /// Changes an app's behaviour fields (quit behaviour, hung, first window …).
  bool updateApp(std::int32_t pid, const std::function<void(App&)>& change);
  void setOwnPID(std::int32_t pid);
  /// Sets the program's own app entry (name, bundle …); it is always running.
  void setOwnApp(App app);
  /// Registers the default application of a URL scheme ("https") or file extension (".txt").
  void setURLHandler(const std::string& schemeOrExtension, const std::string& bundlePath);
  /// Every URL opened with a handler, in order; settings panes are opened as URLs, so
  /// the login items' pane shows here as `kLoginItemsPane`.
  std::vector<std::string> openedURLs() const;
  /// Opens the settings app at the privacy list a link names (and records the link), in a
  /// pane of its own the server draws: the program's row with a switch. Nothing for a link
  /// that names no such list.
  void showPrivacyPane(const std::string& url);
  /// A press at `location` on a privacy pane's switch gives the program that permission or
  /// takes it away; a press anywhere else does nothing.
  void switchPrivacyPane(std::uint32_t number, CGPoint location);
  static constexpr const char* kLoginItemsPane = "x-apple.systempreferences:com.apple.LoginItems-Settings.extension";

  // ---- Windows ----
  /// Adds a window in front of its layer (number chosen when 0, Spaces: the current one of
  /// the display under it when none is given). Its number.
  std::uint32_t addWindow(Window window);
  bool removeWindow(std::uint32_t number);
  /// Every window front to back (see windowList for the order).
  std::vector<Window> windows() const;
  std::optional<Window> window(std::uint32_t number) const;
  /// The app's windows, front to back.
  std::vector<Window> windowsOf(std::int32_t pid) const;
  /// The window with this accessibility element id in that app.
  std::optional<std::uint32_t> windowWithElement(std::int32_t pid, std::uint64_t element) const;
  /// Changes any fields of a window at once (number and owner excepted).
  bool updateWindow(std::uint32_t number, const std::function<void(Window&)>& change);
  /// Puts the window in front of its layer (ordering it in) and makes it its app's focused window.
  bool raiseWindow(std::uint32_t number);
  bool setMinimized(std::uint32_t number, bool minimized);
  /// Into a new full-screen Space right after the window's Space (which then shows), or
  /// back to where it was (the full-screen Space goes away).
  bool setFullScreen(std::uint32_t number, bool fullScreen);
  bool moveWindow(std::uint32_t number, CGPoint origin);
  bool resizeWindow(std::uint32_t number, CGSize size);
  bool setWindowTitle(std::uint32_t number, const std::string& title);
  bool setWindowSpaces(std::uint32_t number, std::vector<std::uint64_t> spaces);
  /// The Spaces a window is on now: its own, every current Space for all-Spaces windows,
  /// plus unmanaged Spaces it was added to.
  std::vector<std::uint64_t> spacesOfWindow(std::uint32_t number) const;
  /// Ordered in on a Space that shows (or in a shown overlay Space), not minimized.
  bool isOnScreen(std::uint32_t number) const;
  /// The frontmost on-screen window holding a global top-left point (layer 0 and above).
  std::optional<std::uint32_t> windowAt(CGPoint point) const;

  // ---- Requests (delayed on the clock, failing on demand) ----
  /// The process becomes frontmost with `window` in front (0: its focused window).
  bool requestFrontProcess(std::int32_t pid, std::uint32_t window);
  bool requestActivate(std::int32_t pid, std::uint32_t options);
  bool requestRaise(std::uint32_t window);
  bool requestMinimize(std::uint32_t window, bool minimized);
  bool requestFullScreen(std::uint32_t window, bool fullScreen);
  bool requestMove(std::uint32_t window, std::optional<CGPoint> origin, std::optional<CGSize> size);
  bool requestHide(std::int32_t pid, bool hidden);
  bool requestTerminate(std::int32_t pid, bool force);

  // ---- The pointer and events for the program ----
  /// Moves the pointer without an event, as a test or a warp does; listen-only taps for
  /// mouse moves are shown the move all the same.
  void setPointer(CGPoint location);
  /// Where an event that reached the session point leaves the pointer (nothing further shown).
  void placePointer(CGPoint location);
  /// The Mac woke from sleep: the workspace posts its wake notification.
  void announceWake();
  /// Hands an event the server routes to the program `pid` (0: the world's own) to the
  /// program listener, and the world's own program's to the own listener (any thread).
  void deliverToProgram(const CGEvent& event, std::uint32_t windowNumber, std::int32_t pid = 0);
  /// Which program typed keys go to: the frontmost app when it is the world's own program
  /// or one with windows of its own, else the owner of the newest key window that is a
  /// non-activating panel ordered in (such a panel has the keyboard while another
  /// application stays active); nothing when none.
  std::optional<std::int32_t> keyboardProgram() const;
  /// Every program's own events, with the pid of the program each is for: how a world host
  /// reaches the program an event belongs to.
  void setProgramEventListener(std::function<void(const CGEvent&, std::uint32_t, std::int32_t)> listener);

  // ---- Pictures ----
  /// The display showing its current Space: desktop picture, windows back to front with
  /// their alpha, the overlay Spaces' windows on top; during a slide both Spaces side by side.
  /// `changing`, when given, is set when the picture may change without the desk's
  /// generation moving: a slide is under way.
  QImage composeDisplay(std::uint32_t displayID, int width, int height, bool* changing = nullptr);
  /// Everything a display's frame was composed from, compared exactly: the desk's changes,
  /// the look, the display, and each shown surface with the frame it had published.
  struct FrameInputs {
    std::vector<std::uint64_t> values;
    std::string text;  // the menu bar's clock, the display's name
    friend bool operator==(const FrameInputs&, const FrameInputs&) = default;
  };
  /// What a screen shows of a display: its frame and what changed in it.
  struct DisplayFrame {
    std::uint64_t sequence = 0;  // the frame's number (never 0)
    /// The rectangles (frame pixels, whole) that differ from frame `since`: a few, or their
    /// bounding one when they are many. Nothing: take the frame whole.
    std::optional<std::vector<CGRect>> damage;
    bool changing = false;  // it may change without the desk's generation moving
    /// What the frame was composed from; null while it may change by itself (a slide).
    std::shared_ptr<const FrameInputs> inputs;
  };
  /// Composes display `displayID` at `width` × `height` pixels as composeDisplay does,
  /// recomposing only what changed since its last frame at that size, and calls `use`
  /// with the frame (valid only during the call; other composers wait) and what changed
  /// after frame `since`. `request` (from newFrameRequest) groups the frames one ask holds,
  /// which are kept before others when not all fit (0: a request of its own); `evicted`,
  /// when given, grows by the kept frames this call let go for want of room. False,
  /// without calling `use`, for an unknown display or a size out of bounds. When what the
  /// display shows is still `unchanged` (an earlier frame's inputs), nothing is composed and
  /// `use` is not called either: true, the caller's frame is current. Any thread.
  bool composeDisplayFrame(std::uint32_t displayID, int width, int height, std::uint64_t since,
                           const std::function<void(const QImage& frame, const DisplayFrame& change)>& use,
                           std::uint64_t request = 0, std::uint64_t* evicted = nullptr,
                           const FrameInputs* unchanged = nullptr);
  /// A number for the frames of one ask to share. Any thread.
  std::uint64_t newFrameRequest();
  /// How many kept display frames were let go so far for want of room (each is composed
  /// whole when asked again). Any thread.
  std::uint64_t displayFramesEvicted() const;
  /// Forgets the display frames kept so far: the next frame of each is composed whole.
  void dropDisplayFrames();
  /// The surface an own window's content is published in; null when it has none.
  std::shared_ptr<const platform::SharedSurface> ownWindowSurface(std::uint32_t number) const;
  /// What may have changed in the acting program's own windows since it last asked: the
  /// windows its own requests changed (made, moved, ordered, covered or uncovered, let go
  /// of), `also` among them, each with its state now (none: gone), by number; or `all` when
  /// the desk changed in any other way, which may have changed any of them, and the caller
  /// reads them all. A program's first ask answers `all`. Only what programs that ask may
  /// have changed is kept.
  struct OwnWindowChanges {
    bool all = false;
    std::vector<std::pair<std::uint32_t, std::optional<platform::OwnWindowStatus>>> windows;
  };
  OwnWindowChanges takeOwnWindowChanges(std::uint32_t also = 0);
  /// Forgets what the acting program was told (it went): one that asks later under its pid
  /// starts again with `all`.
  void forgetOwnWindowChanges();
  /// A window's own generated picture (title bar with its title, body in its colour).
  QImage composeWindow(std::uint32_t number, int width, int height);
  /// Changes whenever something a display picture shows changes (for caching), a frame an
  /// own window's program publishes and the clock's minute included.
  std::uint64_t generation() const;
  /// Whether the desk's answers may change with time alone (a Space slide under way), not
  /// only through changes the world counts (World::changeCount).
  bool changesWithTime() const;

  // ---- What the private functions ask ----
  void recordPrivateCall(PrivateCall call);
  /// One dictionary per managed display ("Display Identifier", "Spaces", "Current Space");
  /// in shared mode a single one named "Main"; then the entries set below.
  platform::PlistArray managedDisplaySpaces();
  /// Entries the managed-display list carries after the real ones, for displays no screen
  /// matches (in the same form; replaced as a whole, cleared by resetDesk).
  void setUnmatchedManagedDisplays(platform::PlistArray entries);
  /// A new Space of the program's own, not managed by any display; its id.
  std::uint64_t createOverlaySpace();
  bool setSpaceLevel(std::uint64_t space, std::int32_t level);
  /// Shows unmanaged Spaces above the managed ones; unknown or managed ids are ignored.
  void showSpaces(const std::vector<std::uint64_t>& spaces);
  /// Adds windows to Spaces, keeping their others (unknown ones are ignored).
  void addWindowsToSpaces(const std::vector<std::uint32_t>& windows, const std::vector<std::uint64_t>& spaces);
  /// Moves windows to one managed Space; false for an unknown or unmanaged Space.
  bool moveWindowsToManagedSpace(const std::vector<std::uint32_t>& windows, std::uint64_t space);

  // ---- Records ----
  /// Recorded private calls, oldest first (only those of `symbol` when given); the newest
  /// 10,000 are kept, as with the accessibility calls, so a long run does not grow without end.
  std::vector<PrivateCall> privateCalls(const std::string& symbol = "") const;
  void clearPrivateCalls();
  /// As AccessibilityServer::keepCallLog, for the private calls.
  void keepCallLog(bool keep) { callLog_.store(keep, std::memory_order_relaxed); }
  bool keepsCallLog() const { return callLog_.load(std::memory_order_relaxed); }
  /// Every desk change so far, oldest first.
  std::vector<DeskChange> changes() const;
  void clearChanges();
  /// Listens to desk changes (any thread, no lock held); the id removes it.
  std::uint64_t addChangeListener(std::function<void(const DeskChange&)> listener);
  void removeChangeListener(std::uint64_t id);
  /// The state of a system symbolic hot key (true unless turned off).
  static bool symbolicHotKeyEnabled(std::uint32_t hotKey);

  // ---- platform::WindowServerPort ----
  PLATFORM_WINDOW_SERVER_CALLS(PLATFORM_PORT_OVERRIDE)

  struct State;  // the desk, behind the mutex (defined in the implementation)

  /// Runs `look` on the server's state under its lock, as a question that changes nothing
  /// (displays synced and finished slides landed first, like every question). For the
  /// attached services and the private functions, which answer from several fields at once
  /// without copying them out; `look` only reads and must not call the server.
  template <typename Look>
  void inspect(Look&& look) const {
    access([&](Desk&) { look(lookedAt()); }, false);
  }

 private:
  struct Lifetime;
  /// Runs `change` on the desk under the lock (displays synced, finished slides landed),
  /// then hands the changes and workspace events to the listeners with no lock held.
  void edit(const std::function<void(Desk&)>& change) const;
  /// The same for a question that changes nothing: it may use the front-to-back order kept
  /// since the last change (State::order) instead of working it out again.
  void read(const std::function<void(const Desk&)>& look) const;
  /// What edit and read share; `changes` false promises that `work` changes nothing.
  void access(const std::function<void(Desk&)>& work, bool changes) const;
  /// The state `inspect` hands to its look, with the lock held.
  State& lookedAt() const;
  /// Runs `work` after `delay` seconds on the server's queue, unless the server is gone by then.
  void after(double delay, std::function<void()> work) const;
  /// Has the display frames nobody asked for lately let go of after `delay` seconds, and
  /// then as the rest fall due, until none is kept. Any thread.
  void dropUnusedFramesAfter(double delay) const;
  /// Lets the display follow `window` to its Space, as the follow setting says.
  void follow(std::uint32_t window) const;
  /// Starts a Space change and lands it when its slide ends.
  bool startSwitch(std::uint64_t space, SwitchStyle style) const;
  /// Gives an app without windows its first window (after the open).
  void openFirstWindow(std::int32_t pid) const;
  /// An own window's state (ownWindowStatus) on `desk`, under the lock; none for a window
  /// that is not an own window.
  std::optional<platform::OwnWindowStatus> ownStatusOn(const Desk& desk, std::uint32_t number) const;
  /// Marks own window `number` changed by its program's request, with every own window it
  /// may have covered or uncovered: those inside where it could hide them before the change
  /// (`before`) or can now. Under the lock.
  void markOwnChange(const Desk& desk, std::uint32_t number, std::optional<CGRect> before) const;

  World& world_;
  std::unique_ptr<State> state_;
  mutable std::mutex mutex_;
  std::unique_ptr<DisplayComposer> composer_;  // its own lock, taken without mutex_
  mutable std::atomic<bool> frameSweep_{false};  // dropUnusedFramesAfter's work waits
  /// The look (appearance, clock, permissions) the frames of ask `request` are painted
  /// with: read once per ask, whatever displays it holds, and once per frame outside one.
  struct AskLook;
  std::shared_ptr<const FrameInputs> inputsOf(const DisplayScene& scene, const Look& look, const Desk& desk) const;
  std::shared_ptr<const AskLook> lookForAsk(std::uint64_t request);
  std::mutex askLookMutex_;
  std::shared_ptr<const AskLook> askLook_;
  std::atomic<bool> callLog_{true};
  std::shared_ptr<Lifetime> lifetime_;
  std::unique_ptr<AccessibilityService> accessibility_;
  std::unique_ptr<EventService> events_;
};

}  // namespace sim
