#include "preferences/PreferencesText.h"

namespace trelliq {

std::string PreferencesText::desktopsCaption(std::string_view stored) {
  if (stored == "whenEmpty") return "A stop for each desktop with no windows";
  if (stored == "firstWhenEmpty") return "A stop for Desktop 1 while it has no windows";
  return "Every desktop gets a stop, so you can go to the desktop itself";
}

std::string PreferencesText::namesCaption(std::string_view stored) {
  if (stored == "always") return "Always show a tile's name underneath";
  return "Only show the selected tile's name underneath it";
}

std::string PreferencesText::previewCaption(std::string_view stored, bool screenRecording) {
  if (!screenRecording || stored == "none") return "Just the switcher";
  if (stored == "fullScreen") return "The window shown full size, right where it is";
  return "A small picture of the window, above the switcher";
}

std::string PreferencesText::gestureSubtitle(std::string_view stored) {
  if (stored == "threeFingerDoubleTap") return "Double tap with three fingers to open or close the switcher";
  if (stored == "fourFingerDoubleTap") return "Double tap with four fingers to open or close the switcher";
  return "Don't open or close the switcher with a gesture";
}

std::string PreferencesText::loginSubtitle(bool needsApproval) {
  return needsApproval ? "Waiting for your OK in System Settings › General › Login Items"
                       : "Start Trelliq when you log in";
}

std::string PreferencesText::hotCornerHint(const std::set<Settings::HotCorner>& picked) {
  return picked.empty() ? "Pick one or more corners. Each works on every display"
                        : "Works on every display. Click a corner again to turn it off";
}

std::string PreferencesText::hotCornerState(const std::set<Settings::HotCorner>& picked) {
  if (picked.empty()) return "Off";
  std::string text = Settings::HotCorner::list(picked, false);
  // Titles are plain lower-case ASCII words.
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::optional<std::string> PreferencesText::dockCornerNote(const std::set<Settings::HotCorner>& picked) {
  std::set<Settings::HotCorner> taken;
  for (const auto corner : picked) {
    if (corner.takenByMacOS()) taken.insert(corner);
  }
  if (taken.empty()) return std::nullopt;
  return "macOS has a hot corner of its own in the " + Settings::HotCorner::list(taken, false) +
         " too (System Settings › Desktop & Dock › Hot Corners)";
}

bool PreferencesText::recommendsInstantSpaces(std::string_view preview, bool instantSpaces, bool screenRecording) {
  return screenRecording && preview == "fullScreen" && !instantSpaces;
}

}  // namespace trelliq
