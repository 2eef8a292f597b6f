#pragma once
// One session of the switcher on the main thread, from the opening the tap asks for to
// the commit or cancel that ends it: which snapshot it shows and on which display, the
// show after the delay, the looks again, and what ends it. It drives the panels, the
// preview, the ghost and the pictures it is handed; it owns the session's state.
// Main thread, except `open`.

#include <cstdint>
#include <optional>

#include "platform/AppKit.h"
#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "switcher/LifeToken.h"
#include "switcher/OpenGate.h"
#include "switcher/model/SessionAction.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class DisplayPanels;
class FullScreenFollower;
class Ghost;
class ModifierTaps;
class OpeningMemory;
class PointerFollower;
class PreviewPanel;
class Renaming;
class SessionPictures;
class SwitchPerformer;

class Session {
 public:
  /// The haze under the glass at the clear end of the system's tint.
  static constexpr double clearEndHaze = 0.3;

  /// The switcher's other parts a session drives. They outlive the session's work.
  struct Parts {
    SwitcherModel& model;
    OpenGate& gate;
    DisplayPanels& panels;
    PreviewPanel& preview;
    Ghost& ghost;
    const FullScreenFollower& fullScreen;
    SwitchPerformer& performer;
    OpeningMemory& memory;
    PointerFollower& pointer;
    ModifierTaps& modifierTaps;
    SessionPictures& pictures;
    Renaming& renaming;
  };

  explicit Session(Parts parts);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// `tryOpen`, then posts `begin` with the press time; a `begin` that fails clears the
  /// flag for this opening only. Nothing when another opening won. Any thread.
  void open(SessionAction action, CGEventFlags holding, Staying staying, std::optional<NSScreen> screen);
  /// Snapshot, display, model reset, first step, schedules `show` at press time +
  /// `showDelay` (0 staying). False when there is nothing to show (no front app, empty
  /// app-windows snapshot, empty tray). `generation` is the opening's.
  bool begin(SessionAction action, std::uint64_t pressedNanos, std::optional<NSScreen> screen,
             std::uint64_t generation);
  /// Shows the model's snapshot as a session would, without a tap, a show delay or
  /// timers: marks a session active, sets the haze, shows the panels, loads the desktop
  /// pictures and, with the in-place preview, composes the destinations. For the picture modes.
  void present();
  /// Posts the one-time build of the panels, preview and ghost.
  void warmUp();
  /// Runs as `showWork`: panels, ghost, preview; schedules the self-check and two looks.
  void show();
  /// 0.3 s / 1.0 s after `show`: refreshes the model only when the snapshot's shape changed;
  /// nothing for another session, while renaming or while a full-screen change is pending.
  void lookAgain(int session);
  /// Plans, cancels (keeping the ghost with instant Spaces) and performs, in that order.
  void commit();
  /// Ends any session: records the last display and time when active, clears the session's
  /// open state (only its own generation), renaming marks, keys, show work, tap presses,
  /// pointer timer; orders panels and preview out; hides the ghost unless `keepGhost`,
  /// letting go of the session's pictures with it; a while later, when no session began
  /// meanwhile, gives the heap's free memory back to the system.
  void cancel(bool keepGhost);
  /// The commit's completion: 0.05 s later, hides the ghost and lets go of its pictures
  /// unless a session is active.
  void commitDone();
  /// The session's snapshot (narrowed to the app in an app-windows session).
  Workspace loadWorkspace() const;
  /// Coalesced model-change pass: one main-queue pass for any number of changes; the
  /// pass updates the ghost and places the preview while active.
  void scheduleModelChanged();
  /// Shows, moves or hides the preview above the focused content, then the click targets.
  void placePreview();
  /// Recomputes the haze under the preview's glass and writes it to the model and the preview.
  void updateHaze();

  /// A session is running (from `begin` to `cancel`).
  bool isActive() const { return active; }
  /// The session's panels are showing (from `show` to `cancel`).
  bool isShown() const { return shown; }
  /// The number of the latest session, +1 at every `begin`.
  int number() const { return session; }
  /// The opening generation the active session began with (0: none).
  std::uint64_t generation() const { return sessionGeneration; }
  /// The display index the session opened on.
  int openedOnDisplay() const { return openedOn; }
  /// The session shows window tiles (thumbnails, ⌥ taps).
  bool screenTiles() const { return clusterTiles; }
  /// The front app of an app-windows session.
  std::optional<std::int32_t> appSessionPID() const { return appPID; }
  /// The haze last written by `updateHaze`.
  double haze() const { return hazeStrength; }

 private:
  friend struct SwitcherPeer;

  /// Sets the kind of session `action` asks for; false when an app-windows session finds
  /// no front app.
  bool chooseKind(const SessionAction& action);
  /// The display the session opens on: `screen`'s, else the one the memory picks.
  int chooseDisplay(const Workspace& snapshot, const SessionAction& action,
                    const std::optional<NSScreen>& screen) const;
  /// Takes the session's first pictures: thumbnails, desktops, destinations.
  void firstPictures();
  /// Gives the heap's free pages back once the ended session's leftovers have run out.
  void giveBackMemoryLater();
  /// Recomputes and stores the click targets (empty unless active and shown).
  void updateClickTargets();
  /// While active: logs the panels' self-check.
  void checkPanels();

  Parts parts_;
  bool active = false;
  bool shown = false;
  platform::WorkItem showWork;
  bool clusterTiles = false;
  std::optional<std::int32_t> appPID;
  bool appDesktops = false;
  /// +1 at every `begin`; delayed work of a session compares it.
  int session = 0;
  std::uint64_t sessionGeneration = 0;
  int openedOn = 0;
  double hazeStrength = 0;
  bool changeScheduled = false;
  /// Work handed to the main queue holds this weakly: it stops once the session is gone.
  LifeToken life_;
};

}  // namespace trelliq
