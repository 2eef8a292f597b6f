#pragma once
// The one controller of the switcher: it owns the model and the parts that act on it, and
// wires them together. It is where two threads meet: the "event tap" thread decides for
// every key and mouse event at once whether it is passed on or consumed, and the main
// thread runs every session. Work crosses from the tap to the main queue only through
// `onMain`, which drops it unless the session it was posted for is still the active one.
//
// The state shared by both threads sits in the `OpenGate`, behind one lock; every other
// part is owned by one thread, as marked. The parts never reach back to the controller:
// each is handed the others it uses, or hooks made here.
//
// Implementation files, by concern:
//   SwitcherSession.cpp  the shared instance, construction and the workspace observers,
//                        `onMain`, the corner and gesture openers
//   SwitcherTap.cpp      starting and stopping the tap, carrying out what it hands the
//                        main queue, the main-thread halves of the modifier taps
//   SwitcherHooks.cpp    what the panels, the ghost and the full-screen follower report

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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
#include "switcher/Renaming.h"
#include "switcher/SelectionActions.h"
#include "switcher/Session.h"
#include "switcher/SessionPictures.h"
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

  /// The animation of tiles leaving the model.
  static constexpr Animation removal = Animation::removal();

  // ---- Lifecycle -------------------------------------------------------------------------

  /// The controller of the process, made on first use from any thread. A newly installed
  /// simulated system gets a fresh one; an earlier one is stopped and kept, never destroyed.
  static Switcher& shared();
  /// A separate controller for tests; it behaves as `shared` (its tap calls it, its
  /// callbacks hold it weakly). Main thread. It is destroyed on the thread that made it:
  /// a last reference let go on another (the tap's, while the main thread may be inside
  /// one of its parts) hands it to the main queue, which destroys it after the work
  /// already there.
  static std::shared_ptr<Switcher> make();
  Switcher(const Switcher&) = delete;
  Switcher& operator=(const Switcher&) = delete;

  /// A weak handle for delayed work; delayed work that finds it expired does nothing.
  std::weak_ptr<Switcher> weak() { return weak_from_this(); }

  /// Posts `work` to the main queue. It runs only if the controller still exists, a
  /// session is active, and that session is the opening current when `onMain` was
  /// called (work posted for an earlier opening is dropped). Any thread.
  void onMain(std::function<void(Switcher&)> work);

  // ---- The tap and the triggers ------------------------------------------------------------

  /// Installs the active session tap at the head on the "event tap" thread, then starts the
  /// watches and `warmUp`. True when it runs (also already), false when the system refuses
  /// (nothing else changes; the caller retries). Main thread.
  bool startTap();
  /// Marks the tap stopped, removes it, stops the watches and cancels any session. Main thread.
  void stopTap();
  /// The tap callback's decision: the event to pass it on, null to consume it. Tap thread.
  CGEventRef handle(CGEventType type, const CGEventRef& event);
  /// Where the corner and gesture watches plug in; set before `startTap`. Main thread.
  void setWatches(Watches plugged) { watches = std::move(plugged); }
  /// The hot corner: closes a stays-open session (not while renaming), leaves an ordinary
  /// one alone, else opens a stays-open session on `screen`. Main thread.
  void openFromCorner(const NSScreen& screen);
  /// The double tap: as the corner, but cancels any active session and opens with no screen.
  void toggleFromGesture();

  // ---- The parts -------------------------------------------------------------------------

  /// The session's observable state. Main thread.
  SwitcherModel& model() { return model_; }
  const SwitcherModel& model() const { return model_; }
  /// The lock, the open state, the generations and the locked steps. Any thread.
  OpenGate& gate() { return gate_; }
  const OpenGate& gate() const { return gate_; }
  /// The tap: its thread's decisions, its options and what it remembers between events.
  EventTap& eventTap() { return tap_; }
  /// The session: opening, showing, committing, cancelling. Main thread.
  Session& session() { return session_; }
  const Session& session() const { return session_; }
  /// The session's window and desktop pictures. Main thread.
  SessionPictures& pictures() { return pictures_; }
  /// Renaming desktops in place. Main thread.
  Renaming& renaming() { return renaming_; }
  /// Acting on the selection: window steps, hide, quit, close, full screen. Main thread.
  SelectionActions& actions() { return actions_; }
  /// The display panels. Main thread.
  DisplayPanels& panels() { return panels_; }
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

 private:
  friend struct SwitcherPeer;

  /// Builds the model and its parts and subscribes to the model; only `make` does, so
  /// that only its deleter destroys one.
  Switcher();
  ~Switcher();

  /// Registers the termination, hide and unhide observers (held weakly; main queue).
  void observeWorkspace();
  void stopObservingWorkspace();

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
  /// Forget the ⌃ press and step (tiles or window tiles).
  void forgetControlAndStep(bool windowTiles, int step);

  /// What the display panels report to the controller.
  DisplayPanels::Hooks panelHooks();
  /// What the ghost asks of the controller.
  Ghost::Hooks ghostHooks();
  /// What the full-screen follower tells the controller.
  FullScreenFollower::Hooks fullScreenHooks();
  /// A full-screen change landed: while active, the snapshot is refreshed, the ghost fades
  /// in and the window's picture is taken again (its transition ends 3 s later at most).
  void fullScreenSettled(std::uint32_t window, int moves);
  /// The mouse view of `display` reports a move or a release (its own coordinates):
  /// hovers, renames or selects, and a release on a tile commits.
  void pointer(CGPoint point, const MouseView& view, int display, bool click);

  // Main thread. Declared first, so the parts that hold it go before it.
  SwitcherModel model_;
  ObserverToken modelObserver = 0;
  Watches watches;
  std::vector<NSNotificationToken> notificationTokens;
  // Any thread, guarded inside.
  OpenGate gate_;
  EventTap tap_{gate_, tapHooks()};
  // Main thread.
  ModifierTaps modifierTaps_;
  DisplayPanels panels_{model_, panelHooks()};
  PreviewPanel preview_{model_};
  Ghost ghost_{model_, ghostHooks()};
  SwitchPerformer performer_{[this] { return session_.isActive(); }};
  FullScreenFollower fullScreen_{fullScreenHooks()};
  OpeningMemory memory_;
  PointerFollower pointerFollower_{model_, [this] { return session_.isActive(); }};
  SessionPictures pictures_{model_, session_, fullScreen_};
  Renaming renaming_{{model_, panels_, gate_, tap_, session_, [this] { session_.cancel(false); }}};
  SelectionActions actions_{{model_, panels_, fullScreen_, ghost_, session_, pictures_}};
  Session session_{{model_, gate_, panels_, preview_, ghost_, fullScreen_, performer_, memory_, pointerFollower_,
                    modifierTaps_, pictures_, renaming_}};
};

}  // namespace trelliq
