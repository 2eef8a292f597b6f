#include "platform/ScreenCaptureKit.h"

#include "platform/Clock.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"

namespace {

// The windows the installed window server can capture; desktop windows lie far below layer 0.
void addWindows(SCShareableContent& content, bool excludeDesktopWindows, bool onScreenWindowsOnly) {
  if (!platform::hasWindowServer()) return;
  auto windows = platform::windowServer().shareableWindows(onScreenWindowsOnly);
  if (!windows) return;
  for (const auto& w : *windows) {
    if (excludeDesktopWindows && w.layer < -20) continue;
    content.windows.push_back({w.windowID, w.frame, w.title, w.ownerPID, w.layer, w.onScreen});
  }
}

// A single-window filter captures that window alone, at the configured size (its own when 0).
CGImageRef captureWindow(const SCWindow& window, const SCStreamConfiguration& configuration) {
  if (!platform::hasWindowServer()) return nullptr;
  const int width = platform::pictureSide(configuration.width > 0 ? configuration.width : window.frame.width());
  const int height = platform::pictureSide(configuration.height > 0 ? configuration.height : window.frame.height());
  return platform::windowServer().captureWindowPicture(window.windowID, width, height);
}

}  // namespace

void SCShareableContent::getExcludingDesktopWindows(
    bool excludeDesktopWindows, bool onScreenWindowsOnly,
    std::function<void(std::optional<SCShareableContent>, std::optional<NSError>)> done) {
  // The port is the one installed when the request was made, as a real request goes to one system.
  platform::SystemPort* port = &platform::system();
  platform::clock().background([port, excludeDesktopWindows, onScreenWindowsOnly, done = std::move(done)] {
    auto displays = port->shareableDisplays();
    if (!displays) {
      done(std::nullopt, NSError{"Screen capture is not allowed for this application."});
      return;
    }
    SCShareableContent content;
    for (const auto& d : *displays) content.displays.push_back({d.displayID, d.width, d.height});
    addWindows(content, excludeDesktopWindows, onScreenWindowsOnly);
    done(std::move(content), std::nullopt);
  });
}

std::optional<SCShareableContent> SCShareableContent::current(bool excludeDesktopWindows, bool onScreenWindowsOnly) {
  auto displays = platform::system().shareableDisplays();
  if (!displays) return std::nullopt;
  SCShareableContent content;
  for (const auto& d : *displays) content.displays.push_back({d.displayID, d.width, d.height});
  addWindows(content, excludeDesktopWindows, onScreenWindowsOnly);
  return content;
}

void SCScreenshotManager::captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                                       std::function<void(CGImageRef, std::optional<NSError>)> done) {
  platform::SystemPort* port = &platform::system();
  platform::clock().background([port, filter, configuration, done = std::move(done)] {
    CGImageRef image = filter.desktopIndependentWindow
                           ? captureWindow(*filter.desktopIndependentWindow, configuration)
                           : port->captureDisplay(filter.display.displayID, configuration.width, configuration.height,
                                                  configuration.showsCursor);
    if (!image) {
      done(nullptr, NSError{"The display could not be captured."});
      return;
    }
    done(std::move(image), std::nullopt);
  });
}

CGImageRef SCScreenshotManager::captureImageNow(const SCContentFilter& filter,
                                                const SCStreamConfiguration& configuration) {
  if (filter.desktopIndependentWindow) return captureWindow(*filter.desktopIndependentWindow, configuration);
  return platform::system().captureDisplay(filter.display.displayID, configuration.width, configuration.height,
                                           configuration.showsCursor);
}
