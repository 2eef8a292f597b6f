#pragma once
// The program's keys in the standard user defaults, named once: the settings read them,
// the Preferences form and the menu write them, the guide and the panels watch them. With
// them, the values registered for the options at launch, which the form's controls also
// read while nothing is stored.

namespace trelliq {

namespace defaultskey {

// The options the user picks.
inline constexpr const char* preview = "preview";
inline constexpr const char* instantSpaces = "instantSpaces";
inline constexpr const char* desktops = "desktops";
inline constexpr const char* tiles = "tiles";
inline constexpr const char* names = "names";
inline constexpr const char* hotCorner = "hotCorner";
inline constexpr const char* gesture = "gesture";
inline constexpr const char* appWindows = "appWindows";
inline constexpr const char* diagnosticScreenshots = "diagnosticScreenshots";

// What the program keeps for itself.
inline constexpr const char* spaceNames = "spaceNames";
inline constexpr const char* screenCaptureConfirmed = "screenCaptureConfirmed";
inline constexpr const char* launchAtLoginSetUp = "launchAtLoginSetUp";

// Keys of the program's earlier versions, carried over once into the options above.
inline constexpr const char* showThumbnails = "showThumbnails";
inline constexpr const char* showInPlace = "showInPlace";
inline constexpr const char* showDesktops = "showDesktops";

}  // namespace defaultskey

/// The values registered for the options: what reads while the user has stored none.
namespace registereddefault {

inline constexpr const char* preview = "thumbnail";
inline constexpr bool instantSpaces = true;
inline constexpr const char* desktops = "always";
inline constexpr const char* tiles = "apps";
inline constexpr const char* names = "focused";
inline constexpr const char* hotCorner = "";
inline constexpr const char* gesture = "";
inline constexpr bool appWindows = true;

}  // namespace registereddefault

}  // namespace trelliq
