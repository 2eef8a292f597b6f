#pragma once
// The one boundary between the product's platform calls and the simulated Mac.
// Every façade function (NSScreen, UserDefaults, CGPreflightScreenCaptureAccess ...)
// turns into a call on the installed SystemPort with plain values in and out;
// nothing of the world's internals crosses it. The in-process world implements it
// today; a proxy to a world hosted in another process could implement it later.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/PlistValue.h"
#include "platform/PortCalls.h"

namespace platform {

struct ScreenDescription {
  std::uint32_t displayID = 0;  // "NSScreenNumber"
  std::string uuid;             // CGDisplayCreateUUIDFromDisplayID
  std::string localizedName;
  CGRect frame;          // bottom-left-origin global points
  CGRect visibleFrame;   // frame less menu bar and Dock
  NSEdgeInsets safeAreaInsets;
  double backingScaleFactor = 1;
  bool hasDisplayNumber = true;  // false: the description lacks "NSScreenNumber"
};


enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

/// One Apple event sent to the program: class and identifier (four-character codes) and
/// its attributes by keyword (the sender's pid under 'spid').
struct AppleEvent {
  std::uint32_t eventClass = 0;
  std::uint32_t eventID = 0;
  std::map<std::uint32_t, PlistValue> attributes;
};

/// What launchProcess answers: the pid, or why the process could not start.
using LaunchAnswer = std::variant<std::int32_t, std::string>;

/// The standard user-defaults domains a read walks, in order.
enum class DefaultsDomain { application, global };

class SystemPort {
 public:
  virtual ~SystemPort() = default;

  struct ShareableDisplay {
    std::uint32_t displayID = 0;
    int width = 0;  // points
    int height = 0;
  };

  // The calls, with what each does, are listed once in PortCalls.h.
  PLATFORM_SYSTEM_CALLS(PLATFORM_PORT_CALL)
};

/// The installed port. Product code reaches it only through the façades.
SystemPort& system();
void installSystem(SystemPort* port);
bool hasSystem();
/// Counts installations: it changes each time a system is installed or removed, so state
/// that lives "for the life of the process" (resolved symbols, caches) can tell that the
/// simulated Mac under it was replaced. Thread-safe.
std::uint64_t systemGeneration();

}  // namespace platform
