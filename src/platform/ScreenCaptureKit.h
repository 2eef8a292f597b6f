#pragma once
// Display pictures: shareable content, a filter per display, one still image.
// Completions run on a background task, never on the caller's thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/ServiceManagement.h"

struct SCDisplay {
  std::uint32_t displayID = 0;
  int width = 0;
  int height = 0;
};

/// A window that can be captured; the frame is in global points, top-left origin.
struct SCWindow {
  std::uint32_t windowID = 0;
  CGRect frame;
  std::optional<std::string> title;
  std::int32_t ownerPID = 0;
  std::int32_t windowLayer = 0;
  bool isOnScreen = false;
};

struct SCShareableContent {
  std::vector<SCDisplay> displays;
  /// Filled from the window server (WindowServerPort::shareableWindows) when one is installed.
  std::vector<SCWindow> windows;
  /// Delivers the content or an error on a background task.
  static void getExcludingDesktopWindows(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                         std::function<void(std::optional<SCShareableContent>, std::optional<NSError>)> done);
  /// The same, waiting for the answer (for code already on a background task).
  static std::optional<SCShareableContent> current(bool excludeDesktopWindows, bool onScreenWindowsOnly);
};

struct SCContentFilter {
  SCDisplay display;
  std::vector<std::uint32_t> excludingWindows;
  /// When set, the filter captures this one window alone, wherever it is (the display is ignored).
  std::optional<SCWindow> desktopIndependentWindow;
};

struct SCStreamConfiguration {
  int width = 0;
  int height = 0;
  bool showsCursor = true;
  bool ignoreShadowsSingleWindow = false;
};

struct SCScreenshotManager {
  static void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                           std::function<void(CGImageRef, std::optional<NSError>)> done);
  /// The same, waiting for the answer.
  static CGImageRef captureImageNow(const SCContentFilter& filter, const SCStreamConfiguration& configuration);
};
