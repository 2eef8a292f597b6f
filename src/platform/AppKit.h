#pragma once
// Screens as the application kit presents them. An NSScreen is a value snapshot of
// one screen taken when `screens()` was called.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/PlistValue.h"

class NSScreen {
 public:
  /// Every screen, the first one holding the menu bar (its frame's origin is 0, 0).
  static std::vector<NSScreen> screens();
  /// The screen with the key window; here, the first screen. Nothing without screens.
  static std::optional<NSScreen> main();

  CGRect frame() const { return frame_; }
  CGRect visibleFrame() const { return visibleFrame_; }
  NSEdgeInsets safeAreaInsets() const { return safeAreaInsets_; }
  const std::string& localizedName() const { return localizedName_; }
  double backingScaleFactor() const { return backingScaleFactor_; }
  /// Holds "NSScreenNumber" (the display number) among the system's entries.
  platform::PlistDictionary deviceDescription() const;
  /// The display number, nothing when the description lacks it.
  std::optional<std::uint32_t> displayNumber() const;

  NSScreen(std::uint32_t displayID, CGRect frame, CGRect visibleFrame, NSEdgeInsets safeAreaInsets,
           std::string localizedName, double backingScaleFactor, bool hasDisplayNumber = true);
  friend bool operator==(const NSScreen& a, const NSScreen& b) {
    return a.displayID_ == b.displayID_ && a.frame_ == b.frame_;
  }

 private:
  std::uint32_t displayID_;
  CGRect frame_;
  CGRect visibleFrame_;
  NSEdgeInsets safeAreaInsets_;
  std::string localizedName_;
  double backingScaleFactor_;
  bool hasDisplayNumber_ = true;
};
