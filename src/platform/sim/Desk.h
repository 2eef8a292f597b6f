#pragma once
// The window server's state and the rules that change it, with no lock and no clock:
// WindowServer holds one Desk behind its mutex, calls it with the time of day, and
// hands what it queued (desk changes, workspace events) to the listeners afterwards.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace sim {

/// A display as the desk keeps it: the world's description turned to top-left
/// coordinates, its Spaces and an ongoing slide.
struct DeskDisplay {
  std::uint32_t id = 0;
  std::string uuid;
  std::string name;
  CGRect frame;  // global, top-left origin
  double scale = 1;
  std::uint32_t color = 0x3A6EA5;
  double menuBar = 24;  // the menu bar's height: the room above the visible frame
  double notch = 0;     // the top safe-area inset: a notch in the middle of the menu bar
  std::vector<std::uint64_t> spaces;  // in the server's order
  std::uint64_t current = 0;
  struct Slide {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    double start = 0;  // monotonic seconds
    double duration = 0;
    int direction = 1;    // +1: the new Space comes in from the right
    bool landed = false;  // the change already took place; only the picture still moves
  };
  std::optional<Slide> slide;
};

class Desk {
 public:
  Desk();

  // ---- Displays and Spaces ----
  /// Takes the world's displays (in order); new displays get one desktop each.
  void syncDisplays(const std::vector<Display>& displays);
  const std::vector<std::uint32_t>& displayOrder() const { return order_; }
  DeskDisplay* display(std::uint32_t id);
  const DeskDisplay* display(std::uint32_t id) const;
  /// The display whose Space list serves `id` (the first display in shared mode).
  DeskDisplay* holder(std::uint32_t id);
  const DeskDisplay* holder(std::uint32_t id) const;
  void setShared(bool shared);
  bool shared() const { return shared_; }
  std::map<std::uint64_t, Space>& spaces() { return spaces_; }
  const std::map<std::uint64_t, Space>& spaces() const { return spaces_; }
  const Space* space(std::uint64_t id) const;
  std::optional<std::uint32_t> displayOfSpace(std::uint64_t id) const;
  bool setSpaces(std::uint32_t displayID, std::vector<Space> spaces, std::optional<std::uint64_t> current);
  std::uint64_t addSpace(std::uint32_t displayID, Space space, std::optional<std::size_t> at);
  bool removeSpace(std::uint64_t id);
  /// A new unmanaged Space (the program's overlay); its id.
  std::uint64_t createUnmanagedSpace();
  bool isCurrent(std::uint64_t space) const;
  std::vector<std::uint64_t> currentSpaces() const;
  std::optional<std::uint64_t> neighbour(std::uint32_t displayID, int step) const;
  /// Shows `space`: at once, or starting a slide at `now` of `duration` seconds (finishSlides ends it).
  /// `settle`: the Space shows at once and only its picture slides into place meanwhile.
  bool switchSpace(std::uint64_t space, bool slide, double now, double duration, bool settle = false);
  /// Ends the slides whose time is up; true when one ended.
  bool finishSlides(double now);
  /// False when no slide can be under way (finishSlides would do nothing).
  bool slidesMayRun() const { return slidesMayRun_; }
  std::optional<std::uint32_t> displayAt(CGPoint point) const;
  /// The display holding most of `bounds` (the first when none).
  std::optional<std::uint32_t> displayUnder(const CGRect& bounds) const;

  // ---- Applications ----
  std::int32_t addApp(App app, double now);
  void addInstalled(App app);
  std::optional<App> installedWithPath(const std::string& path) const;
  const std::vector<App>& installed() const { return installed_; }
  App* app(std::int32_t pid);
  const App* app(std::int32_t pid) const;
  std::map<std::int32_t, App>& allApps() { return apps_; }
  const std::map<std::int32_t, App>& allApps() const { return apps_; }
  std::vector<App> runningApps() const;
  std::optional<std::int32_t> frontmost() const { return frontmost_; }
  const std::vector<std::int32_t>& activation() const { return activation_; }
  bool makeFrontmost(std::int32_t pid, bool raise = true);
  bool setHidden(std::int32_t pid, bool hidden);
  /// Ends the app. An ended process is still described for a while (a program told of its
  /// end asks about it after the fact); only the last WindowServer::kEndedKept ended ones
  /// are, and older ones are forgotten whole. Apps a scenario lists after their exit stay.
  bool terminate(std::int32_t pid);
  /// The app leaves the front, if it has it, to the next app that can take it.
  void resignFront(std::int32_t pid) {
    if (frontmost_ == pid) activateNext(pid);
  }
  /// The program asking: the world's own, or the one a host's connection acts for.
  std::int32_t ownPID() const {
    const std::int32_t acting = WindowServer::actingProgram();
    return acting ? acting : ownPID_;
  }
  void setOwnPID(std::int32_t pid);
  void setOwnApp(App app, double now);
  std::uint64_t nextElement(std::int32_t pid);

  // ---- Windows ----
  std::uint32_t addWindow(Window window);
  bool removeWindow(std::uint32_t number);
  Window* window(std::uint32_t number);
  const Window* window(std::uint32_t number) const;
  /// Every window by number (no order).
  const std::map<std::uint32_t, Window>& allWindows() const { return windows_; }
  /// Every window front to back: windows of shown overlay Spaces first, then by layer
  /// (higher first), then by stacking.
  std::vector<const Window*> ordered() const;
  bool raise(std::uint32_t number);
  bool setMinimized(std::uint32_t number, bool minimized);
  bool setFullScreen(std::uint32_t number, bool fullScreen, double now, double slideDuration);
  bool move(std::uint32_t number, std::optional<CGPoint> origin, std::optional<CGSize> size);
  bool setTitle(std::uint32_t number, const std::string& title);
  bool setSpaces(std::uint32_t number, std::vector<std::uint64_t> spaces);
  /// Ordered in and placed on the active Space of the display under it (unless on all Spaces).
  void orderIn(std::uint32_t number, bool front);
  void orderOut(std::uint32_t number);
  std::vector<std::uint64_t> spacesOf(std::uint32_t number) const;
  bool inShownOverlay(std::uint32_t number) const;
  bool onActiveSpace(std::uint32_t number) const;
  bool onScreen(std::uint32_t number) const;
  std::optional<std::uint32_t> windowAt(CGPoint point) const;
  /// Adds windows to Spaces (managed or not), keeping their others.
  void addToSpaces(const std::vector<std::uint32_t>& windows, const std::vector<std::uint64_t>& spaces);
  /// Moves windows to one managed Space (all their managed Spaces replaced).
  void moveToManagedSpace(const std::vector<std::uint32_t>& windows, std::uint64_t space);
  /// Makes what is missing of the system's windows: the Dock's desktop-picture window of
  /// every desktop, a backdrop on every full-screen Space, a Finder desktop window and a
  /// menu-bar window per display, the Dock's own strip; removes those no longer needed.
  void refreshSystemWindows(const World::Version& os);
  bool systemDirty() const { return systemDirty_; }

  // ---- Output ----
  void note(DeskChange change);
  void post(platform::WorkspaceEvent::Kind kind, std::int32_t pid = 0);
  std::vector<DeskChange> takeChanges();
  std::vector<platform::WorkspaceEvent> takeEvents();
  std::uint64_t generation() const { return generation_; }
  void touch() { ++generation_; }

  CGPoint pointer;
  std::uint64_t syncedDisplays = 0;  // the world's display version last synced (World::displaysSince)
  std::map<std::string, std::string> urlHandlers;
  std::vector<std::string> openedURLs;
  std::deque<PrivateCall> privateCalls;  // the newest WindowServer keeps
  std::vector<DeskChange> changeLog;
  std::map<std::uint32_t, platform::OwnWindowState> ownStates;

 private:
  void focusNextWindow(std::int32_t pid, std::uint32_t leaving);
  void activateNext(std::int32_t leaving);
  /// Whether an ordinary window of the app shows on a Space that shows now.
  bool showsAWindowOf(std::int32_t pid) const;
  /// The app that owns the desktop's icons (the Finder), when it runs.
  std::optional<std::int32_t> desktopOwner() const;
  void placeOnActiveSpace(Window& w);
  std::uint64_t newSpaceID();
  std::string spaceUUID(std::uint64_t id) const;
  /// Files a managed Space of display `dd` (a fresh id when it has none or a taken one, a
  /// UUID when it has none); the caller places the id in the display's order.
  std::uint64_t admitSpace(const DeskDisplay& dd, Space s);
  // Appends a new desktop to `dd`'s Spaces and answers its id; the caller marks the change.
  std::uint64_t addDesktop(DeskDisplay& dd);

  std::map<std::uint32_t, DeskDisplay> displays_;
  std::vector<std::uint32_t> order_;
  bool shared_ = false;
  std::map<std::uint64_t, Space> spaces_;
  std::map<std::uint32_t, Window> windows_;
  std::vector<std::uint32_t> stacking_;                           // front to back, all layers
  std::map<std::uint32_t, std::set<std::uint64_t>> extraSpaces_;  // unmanaged Spaces a window was added to
  std::map<std::int32_t, App> apps_;
  std::vector<App> installed_;
  std::vector<std::int32_t> activation_;  // front to back
  std::optional<std::int32_t> frontmost_;
  std::map<std::int32_t, std::uint64_t> elements_;
  std::deque<std::int32_t> ended_;                   // oldest first
  std::set<std::uint32_t> systemWindows_;            // made by refreshSystemWindows
  std::map<std::string, std::uint32_t> systemKeys_;  // their roles ("wallpaper/<space>" …)
  bool systemDirty_ = true;
  bool slidesMayRun_ = false;  // a display's slide was started and finishSlides has not seen them all end
  std::int32_t ownPID_ = WindowServer::kOwnPID;
  std::int32_t nextPID_ = 300;
  std::uint32_t nextWindow_ = 1;
  std::uint64_t nextSpace_ = 1;
  std::uint64_t generation_ = 1;
  std::vector<DeskChange> changes_;
  std::vector<platform::WorkspaceEvent> events_;
};

}  // namespace sim
