#pragma once
// The one boundary between the product's platform calls and the simulated Mac.
// Every façade function (NSScreen, UserDefaults, CGPreflightScreenCaptureAccess ...)
// turns into a call on the installed SystemPort with plain values in and out;
// nothing of the world's internals crosses it. The in-process world implements it
// today; a proxy to a world hosted in another process could implement it later.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/PlistValue.h"

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

/// The standard user-defaults domains a read walks, in order.
enum class DefaultsDomain { application, global };

class SystemPort {
 public:
  virtual ~SystemPort() = default;

  // Screens, in the system's order (the first holds the menu bar).
  virtual std::vector<ScreenDescription> screens() = 0;

  // Permissions.
  virtual bool screenCaptureAllowed() = 0;
  /// Asks for screen capture; answers whether it is allowed now.
  virtual bool requestScreenCaptureAccess() = 0;
  /// Whether the process is trusted for Accessibility; `prompt` shows the system's prompt once.
  virtual bool accessibilityTrusted(bool prompt) = 0;

  // Preferences. `domain` is a program's identifier; the program's own domain is
  // named by applicationDomainName(). Missing keys answer nothing.
  virtual std::string applicationDomainName() = 0;
  virtual std::optional<PlistValue> preferenceValue(const std::string& domain, const std::string& key) = 0;
  /// Stores (or, with nothing, removes) one key of a domain and persists the domain.
  virtual void setPreferenceValue(const std::string& domain, const std::string& key,
                                  const std::optional<PlistValue>& value) = 0;
  /// The whole domain; nothing when it does not exist.
  virtual std::optional<PlistDictionary> preferenceDomain(const std::string& domain) = 0;
  /// Re-reads the domain from its file so changes by other processes are seen.
  virtual void synchronizePreferences(const std::string& domain) = 0;

  // The login item of the main application.
  virtual LoginItemStatus loginItemStatus() = 0;
  /// Registers (on) or unregisters (off); the error's description on failure.
  virtual std::optional<std::string> setLoginItem(bool on) = 0;

  // Display pictures.
  struct ShareableDisplay {
    std::uint32_t displayID = 0;
    int width = 0;   // points
    int height = 0;
  };
  /// The displays that can be captured; nothing when the content is unavailable.
  virtual std::optional<std::vector<ShareableDisplay>> shareableDisplays() = 0;
  /// A picture of one display at the given pixel size; nothing when the capture fails.
  virtual CGImageRef captureDisplay(std::uint32_t displayID, int width, int height, bool showsCursor) = 0;

  // Private symbols: the address registered for `symbol` in the library at `path`, or null.
  virtual bool libraryExists(const std::string& path) = 0;
  virtual void* symbol(const std::string& path, const std::string& symbol) = 0;
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
