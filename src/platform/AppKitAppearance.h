#pragma once
// The system's appearance: light or dark, as the user chose it in the global domain's
// "AppleInterfaceStyle" ("Dark" for dark, absent for light). Windows, menus and the
// system's own drawing follow it; the standard controls of the program's windows take the
// matching palette once the program finishes launching.

#include <optional>
#include <string>

#include "platform/PlistValue.h"

inline constexpr const char* NSAppearanceNameAqua = "NSAppearanceNameAqua";
inline constexpr const char* NSAppearanceNameDarkAqua = "NSAppearanceNameDarkAqua";

class NSAppearance {
 public:
  /// The appearance the system draws in now. Reads the preference at most once a second
  /// (a change shows within that). Any thread; light without a system installed.
  static NSAppearance current();

  /// Reads the preference now, as a notice of a change asks. Main thread.
  static void reread();

  const std::string& name() const { return name_; }
  bool isDark() const { return name_ == NSAppearanceNameDarkAqua; }

 private:
  explicit NSAppearance(std::string name) : name_(std::move(name)) {}
  std::string name_;
};

namespace platform {

/// Whether a global-domain "AppleInterfaceStyle" value means dark (the string "Dark").
bool isDarkInterfaceStyle(const std::optional<PlistValue>& value);

/// The notice every program gets when the system's appearance changes.
inline constexpr const char* kAppearanceChangedNotification = "AppleInterfaceThemeChangedNotification";

/// Gives the application's standard controls the palette of the current appearance, from
/// the first window of the program on (once per system): on each notice of a change, the
/// palette follows and every window is drawn again. Main thread; does nothing without a
/// widget application.
void applyAppearancePalette();

}  // namespace platform
