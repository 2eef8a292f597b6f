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
//   SwitcherSession.cpp  construction and observers, opening (open, begin, warmUp,
//                        corner and gesture), commit and cancel (the opening display is
//                        `OpeningMemory`'s, the pointer `PointerFollower`'s)
//   SwitcherSessionShow.cpp  showing and refreshing, pictures, renaming
//   SwitcherPanels.cpp   what the display panels and the preview report, hit testing,
//                        click targets (the panels are `DisplayPanels`, the preview
//                        `PreviewPanel`, their check `PanelSelfCheck`)
//   SwitcherGhost.cpp    what the ghost asks (the ghost and backdrops are `Ghost`), haze
//   SwitcherPerform.cpp  what the switch performer and the full-screen follower ask
//                        (`SwitchPerformer`, `FullScreenFollower`), the commit's end

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
#include "switcher/DisplayPanels.h"
#include "switcher/EventTap.h"
#include "switcher/FullScreenFollower.h"
#include "switcher/Ghost.h"
#include "switcher/ModifierTaps.h"
#include "switcher/OpenGate.h"
#include "switcher/OpeningMemory.h"
#include "switcher/PanelViews.h"
#include "switcher/PointerFollower.h"
#include "switcher/PreviewPanel.h"
#include "switcher/SwitchPerformer.h"
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

  using Switch = trelliq::Switch;
  using DisplayPanel = trelliq::DisplayPanel;
  using Pane = GlassPane;

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
  /// The haze under the glass at the clear end of the system's tint.
  static constexpr double clearEndHaze = 0.3;
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
  /// A session is running on the main thread (from `begin` to `cancel`). Main thread.
  bool isActive() const { return active; }
  /// The display index the session opened on. Main thread.
  int openedOnDisplay() const { return openedOn; }
  /// Shows the model's snapshot as a session would, without a tap, a show delay or
  /// timers: marks a session active, sets the haze, shows the panels, loads the desktop
  /// pictures and, with the in-place preview, composes the destinations. For the picture
  /// modes. Main thread.
  void presentSnapshot();
  /// Where the corner and gesture watches plug in; set before `startTap`. Main thread.
  void setWatches(Watches plugged) { watches = std::move(plugged); }
  /// Whether the app `pid` is watched for quitting, and how many apps are. Main thread.
  bool watchesQuitOf(std::int32_t pid) const { return quitWatches.count(pid) > 0; }
  std::size_t quitWatchCount() const { return quitWatches.size(); }

  /// The tap: its thread's decisions, its options and what it remembers between events.
  EventTap& eventTap() { return tap_; }
  const EventTap& eventTap() const { return tap_; }
  /// The presses of ⇧, ⌃ and ⌥ that may become taps. Main thread.
  ModifierTaps& modifierTaps() { return modifierTaps_; }
  /// The display panels. Main thread.
  DisplayPanels& panels() { return panels_; }
  const DisplayPanels& panels() const { return panels_; }
  /// The floating preview. Main thread.
  PreviewPanel& preview() { return preview_; }
  /// The ghost and the backdrops. Main thread.
  Ghost& ghost() { return ghost_; }
  /// Planning and performing a switch. Main thread.
  SwitchPerformer& performer() { return performer_; }
  /// The full-screen change under way. Main thread.
  FullScreenFollower& fullScreen() { return fullScreen_; }
  /// What sessions remember for the display the next one opens on. Main thread.
  OpeningMemory& memory() { return memory_; }
  /// The pointer's and fn's part in steering. Main thread.
  PointerFollower& pointerFollower() { return pointerFollower_; }

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
  // Haze                                                                 (SwitcherGhost)
  // ======================================================================================

  /// Recomputes `hazeStrength` and writes it to the model and the preview's haze.
  void updateHaze();

  // ======================================================================================
  // Switching                                                          (SwitcherPerform)
  // ======================================================================================

  /// The commit's completion: 0.05 s later, hides the ghost unless a session is active.
  void commitDone();

  // ======================================================================================
  // State
  // ======================================================================================

  // ---- Main thread --------------------------------------------------------------------
  SwitcherModel model;
  ObserverToken modelObserver = 0;
  bool changeScheduled = false;
  double hazeStrength = 0;
  /// Pictures waiting for `applyArrivedPictures`, and when it last ran (monotonic seconds).
  std::map<std::uint32_t, CGImageRef> arrivedPictures;
  bool picturesScheduled = false;
  double picturesApplied = -1;
  bool keepingScheduled = false;
  bool shown = false;
  platform::WorkItem showWork;
  bool clusterTiles = false;
  std::optional<std::int32_t> appPID;
  bool appDesktops = false;
  /// +1 at every `begin`; delayed work of a session compares it.
  int session = 0;
  /// The opening generation the active session began with (0: none).
  std::uint64_t sessionGeneration = 0;
  /// The display whose name is being edited (remembered when the edit starts).
  std::optional<int> renamingDisplay;
  std::vector<NSNotificationToken> notificationTokens;
  NSNotificationToken defaultsToken;

 private:
  /// What the tap asks of the controller.
  EventTap::Hooks tapHooks();
  /// Carries out what the tap handed the main queue for this session. Main thread.
  void apply(const TapCommand& command);
  void apply(const KeyCommand& command);

  // ---- Modifier taps (main thread, handed over by the tap) ---------------------------------
  void shiftDown();
  /// A ⇧ tap (< 0.4 s) toggles between a tile and its desktop.
  void shiftUp();
  void controlDown();
  /// Clears ⌃-held; a ⌃ tap toggles the tray.
  void controlUp();
  void optionDown();
  /// An ⌥ tap steps window tiles (window-tile session) or Spaces; backwards with `shift`.
  void optionUp(bool shift);
  /// Forget the ⇧ press; forget the ⌃ press and step (tiles or window tiles).
  void forgetShift();
  void forgetControlAndStep(bool windowTiles, int step);
  friend struct SwitcherPeer;

  Watches watches;
  /// Apps asked to quit, watched until they are gone.
  std::map<std::int32_t, NSKeyValueObservation> quitWatches;

  /// A session is running on the main thread (set by `begin`, cleared by `cancel`).
  bool active = false;
  /// The display index the session opened on.
  int openedOn = 0;

  /// What the display panels report to the controller.
  DisplayPanels::Hooks panelHooks();
  /// What the ghost asks of the controller.
  Ghost::Hooks ghostHooks();
  /// What the full-screen follower tells the controller.
  FullScreenFollower::Hooks fullScreenHooks();
  /// A full-screen change landed: while active, the snapshot is refreshed, the ghost fades
  /// in and the window's picture is taken again (its transition ends 3 s later at most).
  void fullScreenSettled(std::uint32_t window, int moves);
  /// Shows, moves or hides the preview above the focused content, then the click targets.
  void placePreview();
  /// Recomputes and stores the click targets (empty unless active and shown).
  void updateClickTargets();
  /// The mouse view of `display` reports a move or a release (its own coordinates):
  /// hovers, renames or selects, and a release on a tile commits.
  void pointer(CGPoint point, const MouseView& view, int display, bool click);
  /// While active: logs the panels' self-check.
  void checkPanels();

  // Any thread, guarded inside.
  OpenGate gate_;
  EventTap tap_{gate_, tapHooks()};
  ModifierTaps modifierTaps_;
  // Main thread. Declared after the model, so they go before it.
  DisplayPanels panels_{model, panelHooks()};
  PreviewPanel preview_{model};
  Ghost ghost_{model, ghostHooks()};
  SwitchPerformer performer_{[this] { return active; }};
  FullScreenFollower fullScreen_{fullScreenHooks()};
  OpeningMemory memory_;
  PointerFollower pointerFollower_{model, [this] { return active; }};
};

}  // namespace trelliq
