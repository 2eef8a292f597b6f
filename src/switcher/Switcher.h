#pragma once
// The one controller of the switcher. It owns the model, the display panels, the preview
// panel, the ghost and the backdrops, and it is where two threads meet: the "event tap"
// thread decides for every key and mouse event at once whether it is passed on or
// consumed, and the main thread runs every session. Work crosses from the tap to the main
// queue only through `onMain`, which drops it unless the session it was posted for is
// still the active one.
//
// The state shared by both threads sits in the `OpenGate`, behind one lock; everything
// else is owned by one thread, as marked.
//
// Implementation files, by concern:
//   SwitcherTap.cpp      starting and stopping the tap, the main-thread modifier-tap
//                        operations shiftDown ... optionUp (the tap itself is `EventTap`)
//   SwitcherSteering.cpp steering the selection and acting on it (stepWindow ...
//                        toggleFullScreen, forgetShift, forgetControlAndStep)
//   SwitcherSession.cpp  construction and observers, the lock faces and locked steps,
//                        opening (open, begin, warmUp, corner and gesture), commit and
//                        cancel, pointer tracking and the opening display,
//                        showing and refreshing, the callbacks' bodies, renaming
//   SwitcherPanels.cpp   display panels, hit testing, click targets, the preview panel,
//                        the panels' self-check
//   SwitcherGhost.cpp    the ghost, backdrops, washes and haze, destination pictures
//   SwitcherPerform.cpp  planning and performing a switch, the re-check, focusing a
//                        desktop, full-screen asking and following

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/AppKitWorkspace.h"
#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "switcher/EventTap.h"
#include "switcher/ModifierTaps.h"
#include "switcher/OpenGate.h"
#include "switcher/PanelViews.h"
#include "switcher/SwitcherPanel.h"
#include "switcher/SwitcherTiming.h"
#include "switcher/model/KeyDecision.h"
#include "switcher/model/ModelChange.h"
#include "switcher/model/OpenState.h"
#include "switcher/model/OpeningDisplay.h"
#include "switcher/model/PanelGeometry.h"
#include "switcher/model/SessionAction.h"
#include "switcher/model/SwitcherModel.h"
#include "switcher/model/TileID.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class Switcher : public std::enable_shared_from_this<Switcher> {
 public:
  // ======================================================================================
  // Types
  // ======================================================================================

  /// What a trigger asks the switcher to open.
  using Action = SessionAction;
  using ClickTarget = trelliq::ClickTarget;
  using OpenState = trelliq::OpenState;

  /// One planned activation.
  struct Switch {
    /// Raise this window of this app.
    struct Window {
      AppInfo app;
      WindowInfo window;
    };
    /// Activate a windowless app and place its first new window on `screen`.
    struct Open {
      AppInfo app;
      NSScreen screen;
    };
    /// Show the desktop of Space `space` on `screen`.
    struct Desktop {
      std::int64_t space = 0;
      NSScreen screen;
    };
    std::variant<Window, Open, Desktop> what;
  };

  /// A glass surface over a haze layer, always placed together.
  struct Pane {
    /// The glass in the regular style with variant 2 where the system offers the variant,
    /// else in the clear style (`usesGlassVariant`).
    Pane();
    std::unique_ptr<Layer> glass = std::make_unique<Layer>(Layer::Material::glass);
    std::unique_ptr<Layer> haze = std::make_unique<Layer>(Layer::Material::haze);
    /// Both layers' corner radius.
    void setRadius(double radius);
    /// No rect: hides both. Otherwise shows both, sets the radius and the frame (the
    /// views animate over 0.25 s when `animated`).
    void place(const std::optional<CGRect>& rect, double radius, bool animated);
  };

  /// One display's panel, made on demand and never removed. Members are heap-held so
  /// views and callbacks may keep pointers to them.
  struct DisplayPanel {
    std::unique_ptr<SwitcherPanel> window;
    std::unique_ptr<PanelGeometry> geometry;
    std::unique_ptr<MouseView> mouse;
    /// Null while no view library is installed.
    std::unique_ptr<PanelView> view;
  };

  /// A panel of the switcher's own with picture layers: the ghost (one layer) and the
  /// backdrops (wash, veil, destination: found by position, first and last).
  struct LayeredPanel {
    std::unique_ptr<NSPanel> window;
    std::vector<std::unique_ptr<Layer>> layers;
  };

  /// Where the hot-corner and multitouch watches plug in (empty until they exist).
  struct Watches {
    std::function<void()> start;
    std::function<void()> stop;
  };

  // ======================================================================================
  // Constants
  // ======================================================================================

  /// The animation of tiles leaving the model.
  static constexpr Animation removal = Animation::removal();
  /// Where the preview reports the picture it draws (the display panels use their index).
  static constexpr int previewSite = -1;
  static constexpr double clearEndHaze = 0.3;
  static constexpr double previewCornerRadius = 18;
  static constexpr int overlayGlassVariant = GlassLook::paneVariant;
  // Window levels.
  static constexpr NSWindowLevel backdropLevel = 2, ghostLevel = 3, panelLevel = 101;
  /// Borderless, non-activating.
  static constexpr NSWindowStyleMask panelStyle = NSWindowStyleMaskNonactivatingPanel;
  static constexpr const char* finderBundleIdentifier = "com.apple.finder";

  // ======================================================================================
  // Lifecycle and the shared instance                                   (SwitcherSession)
  // ======================================================================================

  /// The controller of the process, made on first use from any thread. A newly installed
  /// simulated system gets a fresh one; an earlier one is stopped and kept, never destroyed.
  static Switcher& shared();
  /// A separate controller for tests; it behaves as `shared` (its tap calls it, its
  /// callbacks hold it weakly). Main thread.
  static std::shared_ptr<Switcher> make();
  /// Builds the model, subscribes to it and registers the termination, hide and unhide
  /// observers (main queue). Use `make` or `shared`.
  Switcher();
  ~Switcher();
  Switcher(const Switcher&) = delete;
  Switcher& operator=(const Switcher&) = delete;

  /// A weak handle for delayed work; delayed work that finds it expired does nothing.
  std::weak_ptr<Switcher> weak() { return weak_from_this(); }

  /// Posts `work` to the main queue. It runs only if the controller still exists, a
  /// session is `active`, and that session is the opening current when `onMain` was
  /// called (work posted for an earlier opening is dropped). Any thread.
  void onMain(std::function<void(Switcher&)> work);
  /// Coalesced model-change pass: one main-queue pass for any number of changes; the
  /// pass updates the ghost and places the preview while `active`. Main thread.
  void scheduleModelChanged();
  /// An app terminated: drops its quit watch; while `active`, removes it from the model
  /// (removal animation) and refreshes desktop pictures that came into view. Main thread.
  void appQuit(std::int32_t pid);

  // ---- The state shared with the tap thread (any thread) ---------------------------------
  /// The lock, the open state, the generations and the locked steps.
  OpenGate& gate() { return gate_; }
  const OpenGate& gate() const { return gate_; }
  // Faces of the gate, one lock each.
  bool isOpen() const { return gate_.isOpen(); }
  void setOpen(bool open) { gate_.setOpen(open); }
  bool staysOpen() const { return gate_.staysOpen(); }
  bool isRenaming() const { return gate_.isRenaming(); }
  bool tapStopped() const { return gate_.tapStopped(); }
  void setTapStopped(bool stopped) { gate_.setTapStopped(stopped); }
  std::vector<ClickTarget> clickTargets() const { return gate_.clickTargets(); }
  void setClickTargets(std::vector<ClickTarget> targets) { gate_.setClickTargets(std::move(targets)); }

  // ======================================================================================
  // Event tap and key bindings                                  (SwitcherTap, tap thread)
  // ======================================================================================

  /// Installs the active session tap at the head on the "event tap" thread, then starts the
  /// watches and `warmUp`. True when it runs (also already), false when the system refuses
  /// (nothing else changes; the caller retries). Main thread.
  bool startTap();
  /// Marks the tap stopped, removes it, stops the watches and cancels any session. Main thread.
  void stopTap();
  /// The tap callback's decision: the event to pass it on, null to consume it. Reads only
  /// options, the locked state and tap-thread fields; all other work goes through `onMain`.
  /// Tap thread.
  CGEventRef handle(CGEventType type, const CGEventRef& event);
  /// Where the corner and gesture watches plug in; set before `startTap`. Main thread.
  Watches watches;

  /// The tap: its thread's decisions, its options and what it remembers between events.
  EventTap& eventTap() { return tap_; }
  const EventTap& eventTap() const { return tap_; }
  /// The presses of ⇧, ⌃ and ⌥ that may become taps. Main thread.
  ModifierTaps& modifierTaps() { return modifierTaps_; }

  // ---- Modifier taps (main thread, posted by the tap) --------------------------------------
  void shiftDown();
  /// A ⇧ tap (< 0.4 s) toggles between a tile and its desktop.
  void shiftUp();
  void controlDown();
  /// Clears ⌃-held; a ⌃ tap toggles the tray.
  void controlUp();
  void optionDown();
  /// An ⌥ tap steps window tiles (window-tile session) or Spaces; backwards with `shift`.
  void optionUp(bool shift);

  // ---- Steering entry points of the tap (tap thread; work through `onMain`) ---------------
  /// ← / →: forgets the ⌃ press, then app-window, sideways or tile step by session kind.
  void stepAlong(int step);
  /// ↓ / ↑: forgets the ⌃ press, then moves between tile row and tray row.
  void toRow(bool down);

  // ======================================================================================
  // Opening a session                                                  (SwitcherSession)
  // ======================================================================================

  /// Tap thread (or any): `tryOpen`, then posts `begin` with the press time; a `begin` that
  /// fails clears the flag for this opening only. Nothing when another opening won.
  void open(Action action, CGEventFlags holding, bool staying, std::optional<NSScreen> screen);
  /// Main thread: snapshot, display, model reset, first step, schedules `show` at press
  /// time + `showDelay` (0 staying). False when there is nothing to show (no front app,
  /// empty app-windows snapshot, empty tray). `generation` is the opening's.
  bool begin(Action action, std::uint64_t pressedNanos, std::optional<NSScreen> screen, std::uint64_t generation);
  /// Posts the one-time build of the panels, preview and ghost. Main thread.
  void warmUp();
  /// The hot corner: closes a stays-open session (not while renaming), leaves an ordinary
  /// one alone, else opens a stays-open session on `screen`. Main thread.
  void openFromCorner(const NSScreen& screen);
  /// The double tap: as the corner, but cancels any active session and opens with no screen.
  void toggleFromGesture();

  // ======================================================================================
  // Commit and cancel                                                  (SwitcherSession)
  // ======================================================================================

  /// Plans, cancels (keeping the ghost with instant Spaces) and performs, in that order.
  void commit();
  /// Ends any session: records the last display and time when active, clears the session's
  /// open state (only its own generation), renaming marks, keys, show work, tap presses,
  /// pointer timer; orders panels and preview out; hides the ghost unless `keepGhost`.
  void cancel(bool keepGhost);

  // ======================================================================================
  // Steering                                                          (SwitcherSteering)
  // ======================================================================================

  /// Next/previous window of the selected tile, raised live when on a showing Space.
  void stepWindow(int step);
  /// Geometric left/right step through the focused panel's stops (model fallback).
  void stepWindowSideways(int step);
  /// Hides the selected app unless it is this program.
  void hideSelectedApp();
  /// Asks the selected app to quit (never the file manager or this program) and watches it.
  void quitSelectedApp();
  /// Presses the target window's close button (own windows: performClose) and checks it went.
  void closeTargetWindow();
  /// 0.15 s later, while active: removes the window when gone, else checks again while
  /// `attempts` ≥ 2.
  void confirmClosed(std::uint32_t window, bool minimized, int attempts);
  /// ↑ (true) / ↓ (false): moves the target window's tile at once and starts the change
  /// (jumping to its Space first when needed); while one is pending only that window.
  void toggleFullScreen(bool on);
  /// Tap callbacks: forget the ⇧ press; forget the ⌃ press and step (tiles or window tiles).
  void forgetShift();
  void forgetControlAndStep(bool windowTiles, int step);

  // ======================================================================================
  // Pointer tracking and the opening display                           (SwitcherSession)
  // ======================================================================================

  /// The first display whose screen frame holds the point (bottom-left global). Pure.
  static std::optional<int> display(CGPoint point, const Workspace& workspace);
  /// The display a session opens on (click, focus, last display, pointer, 0).
  int openingDisplay(const Workspace& workspace) const;
  /// The display an app-windows session opens on.
  int appDisplay(const Workspace& workspace) const;
  /// Whether a bottom-left global point lies on the bare desktop.
  static bool isOnDesktop(CGPoint point);
  /// The controller's memory as the opening-display rules take it.
  OpeningHints openingHints() const;
  /// Starts the 1/30 s pointer check of the session (replacing an old timer).
  void trackPointer();
  /// One tick: follows the pointer onto another display (logs after a recent fn).
  void pointerTick();
  /// Posted by the tap for left/right downs while closed: records a desktop click and
  /// touches that display's current desktop.
  void recordDesktopClick(CGPoint point, double at);
  /// Posted by the tap when fn goes down while open: logs and checks again 0.5 s later.
  void logFn(CGEventFlags flags, CGEventFlags before);

  // ======================================================================================
  // Showing and refreshing                                             (SwitcherSession)
  // ======================================================================================

  /// The session's snapshot (narrowed to `appPID` in an app-windows session).
  Workspace loadWorkspace() const;
  /// Runs as `showWork`: panels, ghost, preview; schedules the self-check and two looks.
  void show();
  /// Whether thumbnails are wanted in this session.
  bool capturesThumbnails() const;
  /// Drops pictures of windows that left and captures again, most relevant first.
  void refreshThumbnails();
  /// A captured picture arrives (also after the session ended). It is applied with the
  /// others of its frame: at once after a quiet frame, else when the frame ends.
  void thumbnailArrived(std::uint32_t window, CGImageRef picture);
  /// Stores the pictures that arrived since the last call in one change of the model,
  /// fading in on tiles that had none; then gives up what is over the pictures' budget.
  void applyArrivedPictures();
  /// Captures `order` (thumbnail order), each window at the size worth keeping it at,
  /// leaving out those the pictures' budget has no room for.
  void capturePictures(const std::vector<std::uint32_t>& order, const std::vector<std::uint32_t>& worth);
  /// Gives up the pictures over the budget (least recently drawn first) and, while a
  /// session captures, takes again the given-up ones something draws now. Runs on the
  /// main queue after the panels or the preview change what they draw.
  void keepPictures();
  void schedulePictureKeeping();
  /// Captures the desktop picture of every desktop and screen tile's Space ("thumbnails" queue).
  void refreshWallpapers();
  /// 0.3 s / 1.0 s after `show`: refreshes the model only when the snapshot's shape changed;
  /// nothing for another session, while renaming or while a full-screen change is pending.
  void lookAgain(int session);
  /// `refreshWallpapers` once when some desktop tile has no picture yet.
  void wallpaperNewDesktops();
  /// Ends a window's picture transition (stores the picture when given).
  void endTransition(std::uint32_t window, CGImageRef picture);
  /// The app the selection stands for; none on a desktop.
  std::optional<AppInfo> selectedApp() const;

  // ======================================================================================
  // Renaming desktops                                                  (SwitcherSession)
  // ======================================================================================

  /// A click on a name label while shown: the panel takes keys, the label becomes the
  /// field; the tap stops treating keys as switcher keys. Remembers the display.
  void startRenaming(const std::string& id, int display);
  /// Saves (trimmed; the usual text clears) when `save`; ends editing. Not dismissing: the
  /// session goes on (stays-open when the holding modifier is up). Dismissing: shows the
  /// name, then cancels 1.0 s later unless superseded.
  void finishRenaming(bool save, bool dismissing);
  /// The reset button: removes the tile's stored name at once.
  void resetName(const std::string& id);

  // ======================================================================================
  // Panels, hit testing and click targets                               (SwitcherPanels)
  // ======================================================================================

  /// Display `index`'s panel, making lower ones first. The reference stays valid.
  DisplayPanel& panel(int index);
  /// Builds one panel (called by `panel` only).
  DisplayPanel makePanel(int index);
  /// Frames and orders the snapshot's panels in, the rest out, and keeps them on top.
  void showPanels();
  /// The mouse view of `display` reports a move or a release (its own coordinates).
  void pointer(CGPoint point, const MouseView& view, int display, bool click);
  /// The panel content of `display` in screen coordinates; none before it is reported.
  std::optional<CGRect> contentFrame(int display) const;
  /// Recomputes and stores the click targets (empty unless active and shown).
  void updateClickTargets();
  /// Every panel's `takesKeys`.
  void setPanelsTakeKeys(bool takesKeys);

  // ======================================================================================
  // Preview panel                                                       (SwitcherPanels)
  // ======================================================================================

  /// Shows, moves or hides the preview above the focused content, then the click targets.
  void placePreview();
  /// Sizes the glass and the picture to `previewImage`, or hides them.
  void placePreviewGlass();
  /// The picture to show and whether it is a full-screen window; none without one.
  std::optional<std::pair<CGImageRef, bool>> previewImage() const;
  /// The size in points the preview draws a picture of `picture`'s proportions at. Pure.
  static CGSize previewPictureSize(CGSize picture);
  /// Tells the model which window's picture the preview draws now, and how large.
  void reportPreviewPicture(bool thumbnails, const CGImageRef& image);
  // Made on first use, kept for the process.
  SwitcherPanel& previewPanel();
  Pane& previewPane();
  Layer& previewPicture();
  Layer& fullScreenBadge();
  /// Whether a fresh system glass view answers "set_variant:"; asked once per installed
  /// system. Any thread.
  static bool usesGlassVariant();

  // ======================================================================================
  // Ghost, backdrops, haze, destination pictures                         (SwitcherGhost)
  // ======================================================================================

  /// Brings ghost and backdrops in line with the selection (nothing while a full-screen
  /// change is pending).
  void updateGhost();
  /// Stops the ghost timer, forgets window and desktop, orders ghost and backdrops out.
  void hideGhost();
  /// Shows `space`'s desktop picture on `screen`'s backdrop (nothing when already shown).
  void showDesktop(std::int64_t space, const NSScreen& screen);
  /// Makes missing backdrops and shows those not visible (framed, washed, cleared).
  void showBackdrops();
  /// One capture of the ghost window on the "ghost" queue (at most one in flight).
  void captureGhost();
  /// Fades ghost and backdrops in or out over 0.2 s around a full-screen change.
  void fadeGhost(bool in);
  /// Loads `screen`'s current wallpaper into the backdrop's wash (first layer).
  void setWash(LayeredPanel& backdrop, const NSScreen& screen);
  /// Puts a picture (none hides) into the backdrop's destination (last layer).
  void setDestination(CGImageRef image, LayeredPanel& backdrop);
  /// Recomputes `hazeStrength` and writes it to the model and the preview's haze.
  void updateHaze();
  /// Shows the composed picture of the window's Space on its screen, or clears all.
  void showDestination(std::uint32_t window);
  /// Composes a Space's window picture once at a time; shows it if it still fits.
  void buildDestination(std::int64_t space, const NSScreen& screen, bool fullScreen);
  /// The same for a desktop picture.
  void buildDesktopDestination(std::int64_t space, const NSScreen& screen);
  /// Empties both caches and composes what the snapshot may need.
  void prebuildDestinations();
  /// Made on first use, kept for the process.
  LayeredPanel& ghost();
  /// The serial "ghost" queue (user-interactive).
  static platform::Executor& ghostQueue();
  /// Sets the windows' alpha to `alpha` over `duration` (end values once it has passed),
  /// then calls `done` on the main queue.
  void animateAlpha(const std::vector<NSWindow*>& windows, double alpha, double duration, std::function<void()> done);

  // ======================================================================================
  // Panel self-check                                                    (SwitcherPanels)
  // ======================================================================================

  /// While active: logs one entry on every panel (on screen, covered, frames, Spaces).
  void checkPanels();

  // ======================================================================================
  // Planning and performing a switch                                   (SwitcherPerform)
  // ======================================================================================

  /// What letting go would do now: empty, or one switch. Reads the model only.
  std::vector<Switch> plannedSwitches() const;
  /// Performs the switches one after the other (after each jump's callback), then `done`
  /// exactly once. Logs one "switch to ..." line per switch.
  void perform(std::vector<Switch> switches, std::function<void()> done);
  /// 0.4 s after a switch, while no session is active: jumps again when the front window's
  /// Space is not showing, at most `attempts` times.
  void makeSureShowing(const AppInfo& app, const WindowInfo& window, int attempts);
  /// The commit's completion: 0.05 s later, hides the ghost unless a session is active.
  void commitDone();
  /// Focuses the file manager's desktop window of `screen`; false when none fits.
  static bool focusDesktop(const NSScreen& screen);
  /// "[3, 12]": ids in brackets, comma and blank between.
  static std::string spaceList(const std::vector<std::int64_t>& spaces);
  /// The current Spaces, ascending.
  static std::vector<std::int64_t> currentSpacesSorted();

  // ======================================================================================
  // Full screen                                                        (SwitcherPerform)
  // ======================================================================================

  /// Records the wish and runs `setFullScreen` on the main queue (own window) or
  /// `fullScreenQueue`.
  void askFullScreen(bool on, const AppInfo& app, const WindowInfo& window);
  /// One poll 0.2 s later; settles when the change landed or `until` passed, else polls again.
  void followFullScreen(std::uint32_t number, const AppInfo& app, const WindowInfo& window, double until);
  /// Asks the app to take the window into / out of full screen; logs an AX error. Any thread.
  static void setFullScreen(bool on, const AppInfo& app, const WindowInfo& window);
  /// Whether one of the window's Spaces is a full-screen Space.
  static bool onFullScreenSpace(std::uint32_t number);
  /// The serial "fullScreen" queue (user-interactive).
  static platform::Executor& fullScreenQueue();

  // ======================================================================================
  // State
  // ======================================================================================

  // ---- Main thread --------------------------------------------------------------------
  SwitcherModel model;
  ObserverToken modelObserver = 0;
  std::map<std::int32_t, NSKeyValueObservation> quitWatches;
  bool changeScheduled = false;
  /// A session is running on the main thread (set by `begin`, cleared by `cancel`).
  bool active = false;
  /// One panel per display index; only grows.
  std::deque<DisplayPanel> panels;
  platform::Timer pointerTimer;
  std::optional<CGPoint> lastPointerLocation;
  std::optional<double> lastFn;  // seconds since 1970, as every date here
  std::optional<std::string> lastDisplayID;
  std::optional<double> lastSessionEnd;
  std::optional<OpeningHints::DesktopClick> lastDesktopClick;
  double hazeStrength = 0;
  std::vector<LayeredPanel> backdrops;
  std::optional<std::uint32_t> ghostWindow;
  std::optional<std::int64_t> ghostDesktop;
  bool ghostCapturing = false;
  platform::Timer ghostTimer;
  std::map<std::int64_t, CGImageRef> destinations, desktopDestinations;
  /// Pictures waiting for `applyArrivedPictures`, and when it last ran (monotonic seconds).
  std::map<std::uint32_t, CGImageRef> arrivedPictures;
  bool picturesScheduled = false;
  double picturesApplied = -1;
  bool keepingScheduled = false;
  std::set<std::int64_t> building, buildingDesktops;
  bool shown = false;
  platform::WorkItem showWork;
  bool clusterTiles = false;
  std::optional<std::int32_t> appPID;
  bool appDesktops = false;
  /// +1 at every `begin`; delayed work of a session compares it.
  int session = 0;
  /// The opening generation the active session began with (0: none).
  std::uint64_t sessionGeneration = 0;
  int openedOn = 0;
  /// The display whose name is being edited (remembered when the edit starts).
  std::optional<int> renamingDisplay;
  std::optional<std::uint32_t> fullScreenPending;
  bool fullScreenAsked = false, fullScreenWanted = false;
  int fullScreenMoves = 0;
  std::vector<NSNotificationToken> notificationTokens;
  NSNotificationToken defaultsToken;

 private:
  /// What the tap asks of the controller.
  EventTap::Hooks tapHooks();

  // Any thread, guarded inside.
  OpenGate gate_;
  EventTap tap_{gate_, tapHooks()};
  ModifierTaps modifierTaps_;

  std::unique_ptr<SwitcherPanel> previewPanel_;
  std::unique_ptr<Pane> previewPane_;
  std::unique_ptr<Layer> previewPicture_;
  std::unique_ptr<Layer> fullScreenBadge_;
  std::unique_ptr<LayeredPanel> ghost_;
};

}  // namespace trelliq
