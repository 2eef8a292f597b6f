#pragma once
// The state of one switcher session: the snapshot shown, the display that has the
// keyboard focus, the selected tile and picked window on every display, the tray
// selection, the pictures and the renaming state, and the rules that move the
// selection. Published fields announce every change to observers (see ModelChange.h);
// the few others are private, read and written through their own functions. Main thread
// only; no operation fails: a display, tile or pick that does not exist is treated as absent.
//
// Pointers answered by the queries point into `workspace` and stay valid until the
// snapshot is next replaced or edited.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Image.h"
#include "switcher/model/ModelChange.h"
#include "switcher/model/PictureKeeping.h"
#include "switcher/model/TileID.h"
#include "switcher/model/TileStops.h"
#include "workspace/Recency.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// What a tile's name pill says, what it says without a user's name, and the names key a
/// new name would be stored under (none: the pill cannot be named).
struct TileLabel {
  std::string name;
  std::string usual;
  std::optional<std::string> key;
  friend bool operator==(const TileLabel&, const TileLabel&) = default;
};

/// One stop of an app-windows session: a tile, a window index (-1: the desktop) and the
/// stop's recency stamp.
struct AppWindowStop {
  std::string cluster;
  int window = 0;
  std::uint64_t stamp = 0;
  friend bool operator==(const AppWindowStop&, const AppWindowStop&) = default;
};

class SwitcherModel {
  ChangeHub hub_;  // first: the published fields below refer to it

 public:
  /// The window pick that stands for the desktop of a whole-Space tile.
  static constexpr int desktopPick = -1;

  SwitcherModel();
  SwitcherModel(const SwitcherModel&) = delete;
  SwitcherModel& operator=(const SwitcherModel&) = delete;

  // ---- Observation ----
  /// Calls `observer` after every change of a published field, with the animation in force.
  ObserverToken subscribe(ChangeHub::Observer observer) { return hub_.subscribe(std::move(observer)); }
  void unsubscribe(ObserverToken token) { hub_.unsubscribe(token); }
  /// Runs `body` so that every change it makes carries `animation`.
  void animating(const Animation& animation, const std::function<void()>& body) { hub_.animating(animation, body); }

  // ---- Fields (published unless noted) ----
  Published<Workspace> workspace{hub_, ModelField::workspace};
  /// Index of the display whose panel has the keyboard focus. A snapshot with fewer
  /// displays leaves it as it is: naming no display, it steers nothing (every query
  /// answers as for a missing display) until the pointer, fn or the next session moves it.
  Published<int> focused{hub_, ModelField::focused, 0};
  /// Per display index, the selected tile's id; without an entry the front tile counts.
  Published<std::map<int, std::string>> selection{hub_, ModelField::selection};
  /// Per display index, the picked window's index in the selected tile, or `desktopPick`.
  Published<std::map<int, int>> windowPick{hub_, ModelField::windowPick};
  Published<bool> onTray{hub_, ModelField::onTray, false};
  Published<std::optional<std::int32_t>> traySelection{hub_, ModelField::traySelection};
  /// Apps asked to quit whose termination has not arrived.
  Published<std::set<std::int32_t>> quitting{hub_, ModelField::quitting};
  /// Window number → latest picture.
  Published<std::map<std::uint32_t, CGImageRef>> thumbnails{hub_, ModelField::thumbnails};
  /// Space id → picture of that Space's desktop.
  Published<std::map<std::int64_t, CGImageRef>> wallpapers{hub_, ModelField::wallpapers};
  /// Tint strength of the panels' glass (0 to 0.3).
  Published<double> haze{hub_, ModelField::haze, 0.0};
  Published<std::optional<std::string>> hoveredName{hub_, ModelField::hoveredName};
  Published<std::optional<std::string>> renaming{hub_, ModelField::renaming};
  Published<std::string> nameDraft{hub_, ModelField::nameDraft};
  Published<std::optional<std::string>> justNamed{hub_, ModelField::justNamed};

  // ---- Unpublished state: no observer hears of its changes ----
  /// Windows moving into or out of full screen whose old picture was dropped.
  const std::set<std::uint32_t>& transitioning() const { return transitioning_; }
  /// Takes the window out of `transitioning`, where it may not be.
  void finishTransition(std::uint32_t window) { transitioning_.erase(window); }
  /// ⌃ still held after a session opened on the tray; the tray then survives a focus move.
  bool controlHeld() const { return controlHeld_; }
  void setControlHeld(bool held) { controlHeld_ = held; }
  /// The names key the edited name will be stored under.
  const std::optional<std::string>& renamingKey() const { return renamingKey_; }
  void setRenamingKey(std::optional<std::string> key) { renamingKey_ = std::move(key); }
  /// Where the panels and the preview draw window pictures, and so which pictures are
  /// worth keeping at what size.
  PictureKeeping& pictureKeeping() { return pictureKeeping_; }

  // ---- Sessions and snapshots ----
  /// Starts a session: takes the snapshot and the focused display, clears selections,
  /// picks, tray state, quitting, transitions, ⌃ and the renaming marks. Pictures, haze,
  /// the names key and the name draft stay.
  void reset(Workspace workspace, int focused);
  /// Marks the window as transitioning, drops its picture, and reloads with the
  /// snapshot's prediction of the move when there is one.
  void moveFullScreen(std::uint32_t window, FullScreen change, bool screenTiles);
  /// Swaps in a snapshot keeping each display's selection by tile id and its pick by
  /// window number, and the tray selection by process id.
  void refresh(Workspace workspace);
  /// An app terminated: its windows leave the snapshot and it leaves the tray and `quitting`.
  void removeApp(std::int32_t pid);
  /// A window is gone: it leaves the snapshot; its app moves to the tray (by launch date)
  /// when that was its last window and it is a running regular app not there yet.
  void removeWindow(std::uint32_t window);

  // ---- Queries ----
  /// The snapshot's display at `index`; null when out of range.
  const DisplayGroup* display(int index) const;
  /// The display's selection entry, else its front tile; none when neither exists.
  std::optional<std::string> selectedID(int display) const;
  /// The display's tile with `selectedID`; null when missing.
  const Cluster* selectedCluster(int display) const;
  /// Whether a tile is drawn as selected: on an unfocused display, whether it is the front tile.
  bool isSelected(const std::string& id, int display) const;
  /// Whether a whole-Space tile stands for its desktop.
  bool picksDesktop(const Cluster& cluster, int display) const;
  /// Whether letting go on the display would focus a desktop.
  bool landsOnDesktop(int display) const;
  /// Index of the window letting go would raise in the tile; none without windows or on the desktop.
  std::optional<int> targetWindowIndex(const Cluster& cluster, int display) const;
  /// That window of the display's selected tile; null without one.
  const WindowInfo* targetWindow(int display) const;
  /// `targetWindow` of the focused display; null while on the tray.
  const WindowInfo* focusedTarget() const;
  /// The selected tray app while on the tray; null otherwise.
  const AppInfo* selectedTrayApp() const;
  /// Whether the tray holds nothing but the file manager (true for an empty tray).
  bool trayIsJustFinder() const;
  /// Displays with a selection entry or a window pick.
  std::set<int> touched() const;

  // ---- Focus and pointer selection ----
  /// Moves the keyboard focus to an existing other display; leaves the tray unless ⌃ is held.
  void focus(int display);
  /// Moves the focus to the next display, wrapping; nothing with fewer than two.
  void focusNextDisplay();
  /// Selects a tile; a different tile loses the display's pick. Leaves the tray on the focused display.
  void select(const std::string& id, int display);
  /// Focuses the display and selects what the pointer hit.
  void select(const TileID& tile, int display);
  /// Focuses the display and selects the tile whose name label is under the pointer (its
  /// desktop for a whole-Space tile).
  void selectName(const std::string& id, int display);

  // ---- Labels and names ----
  TileLabel label(const Cluster& cluster, int display, bool selected) const;
  /// Puts a name (none clears it) into the snapshot's names and into every tile carrying that key.
  void setName(const std::optional<std::string>& name, const std::string& key);

  // ---- Stepping tiles, Spaces and the tray (all on the focused display) ----
  /// Back to the most recently used other tile, else the next tile.
  void stepBack();
  /// Next or previous tile, wrapping; through the tray while on it.
  void stepCluster(int delta);
  /// Next or previous tray app; the first when the selection is not in the tray.
  void stepTray(int delta);
  /// Next or previous Space group that has tiles, landing on its most recent tile.
  void stepSpace(int delta);
  /// Next or previous tile, picking the first stop of a whole-Space tile.
  void stepTile(int delta);
  /// Onto the tray's first app; nothing when already there or the tray is empty.
  void enterTray();
  /// Between the tile row and the tray row, keeping a tray selection that still exists.
  void toggleTray();
  /// Onto the tray row (down) or the tile row; false, with no change, when already there
  /// or, going down, when the tray is empty.
  bool toRow(bool down);

  // ---- Stepping windows (all on the focused display) ----
  /// The stops `stepWindowAcross` visits in a tile, the desktop first where it belongs.
  std::vector<int> cycleStops(const Cluster& cluster, int display) const;
  /// Next or previous window inside the selected tile (minimized ones too).
  void stepWindow(int delta);
  /// Next or previous stop, going on to the neighbouring tile at the end of a tile.
  void stepWindowAcross(int delta);
  /// The most recently used stop of the display other than the current one.
  void stepBackWindow();
  /// Switches the selected whole-Space tile between a window and its desktop; coming
  /// back returns to the window left (followed by its number), else the tile's last window.
  void toggleDesktop();
  /// Picks window `number` (1-based) of a selected tile with at least two windows.
  void pickWindow(int number);
  /// `appWindowStops` of display `display` with the snapshot's app desktops; empty when it does not exist.
  std::vector<AppWindowStop> appWindowStops(int display) const;
  /// The app-window stops of a display: per tile, its desktop stop where it has one, then
  /// its windows not minimized, stamped from `recency`.
  static std::vector<AppWindowStop> appWindowStops(const DisplayGroup& display, const std::set<std::int64_t>& desktops,
                                                   const Recency& recency = Recency::shared());
  /// The id of the most recently used tile of `clusters` (see TileStops::mostRecent).
  static std::optional<std::string> mostRecent(const std::vector<Cluster>& clusters,
                                               const std::optional<std::string>& excluding) {
    return TileStops::mostRecent(clusters, excluding);
  }
  /// The window stops of a tile (see TileStops::windowStops).
  static std::vector<int> windowStops(const Cluster& cluster) { return TileStops::windowStops(cluster); }
  /// Next or previous app-window stop.
  void stepAppWindow(int delta);
  /// The second most recently used app-window stop (first step of an app-windows session).
  void stepBackAppWindow();

 private:
  friend struct SwitcherModelPeer;

  /// Swaps in a snapshot, drops selections of tiles that are gone, and selects (and
  /// focuses) the first tile holding window number `window`; only prunes when none does.
  void reload(Workspace workspace, std::uint32_t window);

  // The window `toggleDesktop` left for the desktop: by index and, when it has one, number.
  struct WindowOffDesktop {
    std::string cluster;
    int window = 0;
    std::optional<std::uint32_t> number;
  };

  void keepingSelection(const std::function<void(Workspace&)>& body);
  /// Displays whose selected tile the snapshot no longer holds, or that are gone themselves.
  std::vector<int> lostSelections() const;

  // Writes that announce only a real change.
  void setOnTray(bool value);
  void setSelection(int display, const std::string& id);
  void eraseSelection(int display);
  void setPick(int display, int pick);
  void erasePick(int display);
  void setTraySelection(std::optional<std::int32_t> pid);
  void takeStop(const std::string& cluster, int window);

  std::optional<WindowOffDesktop> windowOffDesktop_;
  std::set<std::uint32_t> transitioning_;
  bool controlHeld_ = false;
  std::optional<std::string> renamingKey_;
  PictureKeeping pictureKeeping_;
};

}  // namespace trelliq
