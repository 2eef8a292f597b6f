#pragma once
// What a permission's row says and offers, decided from what the last check found. The
// welcome window's cards and the Preferences form's rows word it differently, so the
// decision takes the kind of row; the views only draw the answer and run its action.
// Pure, except `perform`.

#include <string>

#include "app/Permission.h"

namespace trelliq {

struct PermissionStatus {
  /// The welcome window's card (a mark only once granted) or the Preferences form's row
  /// (always a status and a button).
  enum class Kind { card, form };
  enum class Action { none, request, openSettings, restart };

  /// Whether the green "Granted" mark shows (else the grey "Not granted" one, if any text).
  bool grantedMark = false;
  /// "Granted", "Not granted", or empty when the row shows no status text.
  std::string text;
  /// The symbol beside `text`; empty with it.
  std::string symbol;
  /// The button's title; empty when there is no button.
  std::string button;
  Action action = Action::none;

  /// The status of a row; a pending restart wins over everything (callers decide when a
  /// restart is still worth offering).
  static PermissionStatus of(Kind kind, bool granted, bool needsRestart);

  /// Runs `action` for `permission`: ask for it, open its pane of System Settings, or quit
  /// and reopen the program. Main thread; nothing is reported back.
  static void perform(Action action, Permission permission);

  friend bool operator==(const PermissionStatus&, const PermissionStatus&) = default;
};

}  // namespace trelliq
