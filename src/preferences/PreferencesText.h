#pragma once
// The words of the Preferences form that depend on stored options: the pickers' captions,
// the gesture and hot-corner lines and the notes. Chosen from the stored strings as they
// are, so a value that names no option gets the words of the option it reads as. Pure,
// except `dockCornerNote`, which asks the Dock's preferences. Any thread.

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace trelliq {

struct PreferencesText {
  PreferencesText() = delete;

  static std::string desktopsCaption(std::string_view stored);
  static std::string namesCaption(std::string_view stored);
  /// "Just the switcher" for any value while screen recording is not granted.
  static std::string previewCaption(std::string_view stored, bool screenRecording);
  /// The subtitle of the gesture row for the stored "gesture" string.
  static std::string gestureSubtitle(std::string_view stored);
  static std::string loginSubtitle(bool needsApproval);
  /// The hot-corner row's second line.
  static std::string hotCornerHint(const std::set<Settings::HotCorner>& picked);
  /// The hot-corner row's state line: "Off", else the corners as prose, capitalised.
  static std::string hotCornerState(const std::set<Settings::HotCorner>& picked);
  /// The note on picked corners where the Dock has an active hot corner of its own;
  /// nothing when there is none.
  static std::optional<std::string> dockCornerNote(const std::set<Settings::HotCorner>& picked);
  /// Shown under the preview picker when the full-screen preview runs without instant
  /// Space switching.
  static bool recommendsInstantSpaces(std::string_view preview, bool instantSpaces, bool screenRecording);
};

}  // namespace trelliq
