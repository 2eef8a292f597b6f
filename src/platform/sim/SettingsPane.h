#pragma once
// The system settings' privacy lists as the simulated Mac shows them: a link to a list
// ("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility") opens
// a window of the settings app, drawn by the window server, with the program's row and a
// switch; a click on the switch grants or withdraws the permission. Stand-in, not product:
// only what a person needs to give or take the program's two permissions. Any thread;
// text needs a QGuiApplication.

#include <QRectF>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Geometry.h"

class QPainter;

namespace sim {

/// The privacy lists the panes show.
enum class PrivacyList { accessibility, screenCapture };

/// The list a settings link opens; nothing for any other link.
std::optional<PrivacyList> privacyListOf(const std::string& url);
/// The link's anchor for `list` ("Privacy_Accessibility", "Privacy_ScreenCapture").
std::string privacyAnchor(PrivacyList list);
/// The list whose anchor is `anchor`; nothing for another anchor.
std::optional<PrivacyList> privacyListWithAnchor(const std::string& anchor);

/// The settings app that shows the panes.
inline constexpr const char* kSettingsAppName = "System Settings";
inline constexpr const char* kSettingsAppBundle = "com.apple.systempreferences";
inline constexpr const char* kSettingsAppPath = "/System/Applications/System Settings.app";
/// The pane's window, in points (its title bar included).
inline constexpr double kPaneWidth = 560, kPaneHeight = 300;
inline constexpr const char* kPaneTitle = "Privacy & Security";

/// What a pane shows: its list, the program's name and icon colour, and whether the
/// program holds the permission (the switch is on).
struct PaneLook {
  PrivacyList list = PrivacyList::accessibility;
  std::string program;
  std::uint32_t iconColor = 0x808080;
  bool on = false;

  friend bool operator==(const PaneLook&, const PaneLook&) = default;
};

/// Where the program's switch lies in a pane of `window` (global top-left points).
CGRect paneSwitch(const CGRect& window);

/// Paints the pane's content below its title bar, at `scale` pixels per point, in `area`
/// (the whole window's picture, pixels).
void paintPane(QPainter& painter, const PaneLook& pane, const QRectF& area, double scale, bool dark);

}  // namespace sim
