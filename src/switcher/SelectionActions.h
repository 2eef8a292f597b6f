#pragma once
// What a session does with its selection besides moving it along the model: stepping a
// tile's windows (raising them live), stepping sideways by where the tiles lie on the
// panel, hiding, quitting and closing what is selected, and taking its window into or out
// of full screen. Main thread.

#include <cstdint>
#include <map>
#include <optional>

#include "platform/AppKit.h"
#include "switcher/LifeToken.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class DisplayPanels;
class FullScreenFollower;
class Ghost;
class Session;
class SessionPictures;

class SelectionActions {
 public:
  /// The parts the actions read and change.
  struct Parts {
    SwitcherModel& model;
    const DisplayPanels& panels;
    FullScreenFollower& fullScreen;
    Ghost& ghost;
    const Session& session;
    SessionPictures& pictures;
  };

  explicit SelectionActions(Parts parts);
  SelectionActions(const SelectionActions&) = delete;
  SelectionActions& operator=(const SelectionActions&) = delete;

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
  /// ↑ (enter) / ↓ (leave): moves the target window's tile at once and starts the change
  /// (jumping to its Space first when needed); while one is pending only that window.
  void toggleFullScreen(FullScreen change);
  /// The app the selection stands for; none on a desktop.
  std::optional<AppInfo> selectedApp() const;
  /// An app terminated: drops its quit watch; while a session runs, removes it from the
  /// model (removal animation) and refreshes desktop pictures that came into view.
  void appQuit(std::int32_t pid);
  /// Whether the app `pid` is watched for quitting, and how many apps are.
  bool watchesQuitOf(std::int32_t pid) const { return quitWatches.count(pid) > 0; }
  std::size_t quitWatchCount() const { return quitWatches.size(); }

 private:
  friend struct SwitcherPeer;

  /// 0.15 s later, while a session runs: removes the window when gone, else checks again
  /// while `attempts` ≥ 2.
  void confirmClosed(std::uint32_t window, bool minimized, int attempts);

  Parts parts_;
  /// Apps asked to quit, watched until they are gone.
  std::map<std::int32_t, NSKeyValueObservation> quitWatches;
  /// Work handed to the main queue holds this weakly: it stops once the actions are gone.
  LifeToken life_;
};

}  // namespace trelliq
