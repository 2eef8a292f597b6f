#pragma once
// Every delay, interval and attempt count of the switcher's sessions, in one place, so
// that a change of feel is one edit and the tests that wait on the simulated clock name
// the delay they wait for. Seconds unless said otherwise.

#include <array>
#include <cstdint>

namespace trelliq {

struct SwitcherTiming final {
  SwitcherTiming() = delete;

  // ---- Opening and showing ---------------------------------------------------------------
  /// From the key press to the panels, so a quick ⌘⇥ and release switches with no panel.
  static constexpr double showDelay = 0.15;
  /// After `show`: when the snapshot is looked at again for windows that came or went.
  static constexpr std::array<double, 2> lookAgainDelays{0.3, 1.0};
  /// Pictures that arrive within one frame of the last ones applied wait for that frame.
  static constexpr double pictureFrame = 1.0 / 60;
  /// After `show`: when the panels check themselves (on screen, covered, frames).
  static constexpr double checkPanelsDelay = 0.4;
  /// The pointer check of a session, to follow the pointer onto another display.
  static constexpr double pointerInterval = 1.0 / 30;
  /// After an fn press: when the display it steered to is logged again.
  static constexpr double fnLogDelay = 0.5;
  /// A display change within this time of an fn press is logged as the fn's.
  static constexpr double fnPointerWindow = 2.0;
  /// The preview's glass follows a new frame over this time.
  static constexpr double paneMove = 0.25;

  // ---- Modifier taps ------------------------------------------------------------------------
  /// The longest modifier press (event nanoseconds) that still counts as a closed ⌥ tap.
  static constexpr std::uint64_t maxTapNanos = 400'000'000;
  /// The same for the taps inside an open session (wall-clock seconds, exclusive).
  static constexpr double tapSeconds = 0.4;

  // ---- Acting on the selection ------------------------------------------------------------
  /// After a close press: when the window is looked for again, and how often.
  static constexpr double closeCheckDelay = 0.15;
  static constexpr int closeAttempts = 5;
  /// A name saved by clicking away shows this long before the session ends.
  static constexpr double renameSettle = 1.0;

  // ---- Switching and full screen ----------------------------------------------------------
  /// After a switch: when the front window's Space is checked, and how often it is jumped to.
  static constexpr double switchCheckDelay = 0.4;
  static constexpr int switchCheckAttempts = 2;
  /// After a session ended: when the heap's free memory goes back to the system, unless a
  /// new session began (the switch, its fades and the last pictures are done by then).
  static constexpr double memoryReliefDelay = 0.75;
  /// After a commit's switch: when the ghost goes unless a new session took over.
  static constexpr double commitGhostDelay = 0.05;
  /// The poll of a full-screen change, the pause once it landed, and when it is given up.
  static constexpr double fullScreenPoll = 0.2;
  static constexpr double fullScreenSettle = 0.4;
  static constexpr double fullScreenWait = 3.0;
  /// How long the app may take to answer the full-screen request.
  static constexpr double fullScreenMessagingTimeout = 0.5;

  // ---- The ghost ------------------------------------------------------------------------------
  /// The refresh of the ghost's picture of the selected window.
  static constexpr double ghostInterval = 0.1;
  /// Ghost and backdrops fade over this around a full-screen change, one step per frame.
  static constexpr double ghostFade = 0.2;
  static constexpr double fadeFrame = 1.0 / 60;
};

}  // namespace trelliq
