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
  /// The value of `key` in the first of `domains` that holds it: the search list a
  /// program's defaults read (its own domain, then the global one). This fallback asks
  /// each domain in turn.
  virtual std::optional<PlistValue> firstPreferenceValue(const std::vector<std::string>& domains,
                                                         const std::string& key) {
    for (const std::string& domain : domains) {
      if (auto value = preferenceValue(domain, key)) return value;
    }
    return std::nullopt;
  }
  /// Stores (or, with nothing, removes) one key of a domain and persists the domain.
  /// False when the file could not be written: the value is kept all the same and saved
  /// with the next write of the domain.
  virtual bool setPreferenceValue(const std::string& domain, const std::string& key,
                                  const std::optional<PlistValue>& value) = 0;
  /// Stores several keys of a domain and persists the domain once, so either all of them
  /// reach the file or none; false as above. This fallback stores them one by one.
  virtual bool setPreferenceValues(const std::string& domain, const PlistDictionary& values) {
    bool saved = true;
    for (const auto& [key, value] : values) saved &= setPreferenceValue(domain, key, value);
    return saved;
  }
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
  /// Whether a fresh system glass effect view answers `selector` (its private variant's
  /// "set_variant:" is there on some systems only).
  virtual bool glassEffectViewResponds(const std::string& selector) = 0;
  virtual void* symbol(const std::string& path, const std::string& symbol) = 0;

  // Processes.
  /// Starts `executable` with `arguments`: its pid, or the error's description when it
  /// cannot start. `terminated` then gets the exit status once, on any thread; never after
  /// a failed start.
  virtual std::variant<std::int32_t, std::string> launchProcess(const std::string& executable,
                                                                const std::vector<std::string>& arguments,
                                                                std::function<void(int status)> terminated) = 0;
  /// The program's own bundle folder, and the executable inside it.
  virtual std::string mainBundlePath() = 0;
  virtual std::string mainExecutablePath() = 0;
  /// The executable of a running process; nothing for an unknown pid.
  virtual std::optional<std::string> processPath(std::int32_t pid) = 0;
  /// Ends the program with `status`.
  virtual void exitProgram(int status) = 0;

  // Messages from other programs. Each replaces the one listener (null removes it); the
  // world may call it on any thread.
  virtual void setDistributedNotificationListener(std::function<void(const std::string& name)> listener) = 0;
  virtual void setAppleEventListener(std::function<void(const AppleEvent& event)> listener) = 0;
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
