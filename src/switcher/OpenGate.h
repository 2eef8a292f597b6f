#pragma once
// The values the "event tap" thread and the main thread share: whether the
// switcher is open, stays open or is renaming, whether the tap was stopped,
// which screen areas let clicks through, and the installed tap itself. One
// mutex guards them; every face is one lock around one read or one write, and
// each locked step below is one lock around a test and its change, so the tap
// never sees half of an opening or of a rename.
//
// The open flag belongs to one opening: each opening takes a fresh generation
// in one test-and-set, and a session's cancel or a failed begin clears the flag
// only while it still carries that session's generation. Any thread.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/CGEvent.h"
#include "switcher/model/OpenState.h"
#include "switcher/model/SessionAction.h"

namespace trelliq {

/// Whether a session ends when its holding modifier is let go, or stays open
/// without it.
enum class Staying { untilReleased, open };
/// Whether the holding modifier is still down.
enum class Holding { held, released };

class OpenGate {
 public:
  OpenGate() = default;
  OpenGate(const OpenGate&) = delete;
  OpenGate& operator=(const OpenGate&) = delete;

  // ---- Faces: one lock each
  // ------------------------------------------------------------------
  bool isOpen() const;
  void setOpen(bool open);
  bool staysOpen() const;
  bool isRenaming() const;
  bool tapStopped() const;
  void setTapStopped(bool stopped);
  std::vector<ClickTarget> clickTargets() const;
  void setClickTargets(std::vector<ClickTarget> targets);
  /// Every shared value in one locked read (what the tap reads per event).
  OpenState openState() const;
  /// The installed tap (the tap thread re-enables it); null when none is.
  CFMachPortRef tapPort() const;
  /// Keeps `port` as the installed tap and marks it running.
  void installTap(CFMachPortRef port);
  /// Forgets the installed tap and answers it (null when none was), for the
  /// caller to end.
  CFMachPortRef removeTap();

  // ---- Locked steps
  // ----------------------------------------------------------------------------
  /// The test-and-set of every opening: when the switcher is neither open nor
  /// renaming, marks it open for `action`'s kind of session, held by `holding`,
  /// with a fresh generation, and answers that generation; otherwise changes
  /// nothing and answers none (a second trigger at the same instant loses).
  std::optional<std::uint64_t> tryOpen(CGEventFlags holding, const SessionAction& action, Staying staying);
  /// Clears open, stays-open, click targets and renaming, but only while the
  /// flag still belongs to `generation` (none: unconditionally). True when it
  /// cleared.
  bool endOpen(std::optional<std::uint64_t> generation);
  /// Starting a rename: open false and renaming true together, only while
  /// `generation` owns the flag and it is open; false (nothing changed)
  /// otherwise.
  bool lockForRenaming(std::uint64_t generation);
  /// Finishing a rename without dismissing: renaming false and open true
  /// together; when the holding modifier was released meanwhile the session
  /// also becomes stays-open, so the keyboard is not swallowed. False, with no
  /// change, unless `generation` owns the flag and is still renaming.
  bool unlockAfterRenaming(Holding holding, std::uint64_t generation);

 private:
  mutable std::mutex openLock;
  OpenState lockedState;
  std::vector<ClickTarget> clickTargetsValue;
  CFMachPortRef tap = nullptr;
};

}  // namespace trelliq
