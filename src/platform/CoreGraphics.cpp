#include "platform/CoreGraphics.h"

#include "platform/SystemPort.h"

bool CGPreflightScreenCaptureAccess() { return platform::system().screenCaptureAllowed(); }

bool CGRequestScreenCaptureAccess() { return platform::system().requestScreenCaptureAccess(); }

std::optional<std::string> CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display) {
  for (const platform::ScreenDescription& s : platform::system().screens()) {
    if (s.displayID == display) return s.uuid;
  }
  return std::nullopt;
}
