#pragma once
// The simulated Mac: one world that holds everything the platform reports (displays,
// permissions, the login item, preferences, private symbols, display pictures) and
// answers the product through platform::SystemPort. Tests and scenarios change it
// through the control functions below. Every function is thread-safe: the event-tap
// thread, the capture queues and the main queue all call in.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/SystemPort.h"
#include "platform/sim/DefaultsStore.h"
#include "platform/AppKitAppearance.h"
#include "platform/sim/Processes.h"

namespace sim {

class WindowServer;

/// One display: what its screen reports, and what the world paints on it.
struct Display {
  platform::ScreenDescription screen;
  std::uint32_t desktopColor = 0x3A6EA5;  // 0xRRGGBB of the desktop picture
  bool capturable = true;                 // false: captures of it fail
};

/// A display with the usual derived values: a UUID made from `id`, a visible frame
/// without a menu bar of max(24, safeAreaTop) points, and safe-area insets with `safeAreaTop`.
Display makeDisplay(std::uint32_t id, CGRect frame, std::string name, double scale = 1, double safeAreaTop = 0);
/// The UUID string the world gives a display that was not given one.
std::string displayUUID(std::uint32_t id);

class World : public platform::SystemPort {
 public:
  static constexpr const char* kApplicationDomain = "app.ondrel.trelliq";
  static constexpr const char* kGlobalDomain = ".GlobalPreferences";
  /// The global key naming the appearance, and the notice every program gets when it changes.
  static constexpr const char* kAppearanceKey = "AppleInterfaceStyle";
  static constexpr const char* kAppearanceChanged = platform::kAppearanceChangedNotification;

  /// An empty world (no displays, no permissions, login item not registered) whose
  /// user's home folder is `home`; preferences live in home/Library/Preferences.
  explicit World(std::string home = platform::FileManager::homeDirectory());
  ~World() override;
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // ---- platform::SystemPort ----
  // The program's own and the global domain are read afresh whenever their files changed;
  // other programs' domains only after synchronizePreferences, like the system. Each write
  // of a domain's file is counted as "writePreferences:" + domain.
  PLATFORM_SYSTEM_CALLS(PLATFORM_PORT_OVERRIDE)

  // ---- Displays ----
  /// Replaces every display; the first one holds the menu bar.
  void setDisplays(std::vector<Display> displays);
  /// Adds a display at the end, or before position `at`. Replaces one with the same id.
  void addDisplay(Display display, std::optional<std::size_t> at = std::nullopt);
  /// False when no display has that id.
  bool removeDisplay(std::uint32_t displayID);
  bool replaceDisplay(std::uint32_t displayID, Display display);
  std::vector<Display> displays() const;
  /// The displays when they changed since `version` was had (then brought up to date);
  /// nothing when they did not. A version of 0 always gets them.
  std::optional<std::vector<Display>> displaysSince(std::uint64_t& version) const;
  std::optional<Display> display(std::uint32_t displayID) const;
  bool setDesktopColor(std::uint32_t displayID, std::uint32_t rgb);
  /// Makes captures of one display fail (or work again).
  bool setCaptureFails(std::uint32_t displayID, bool fails);
  /// With false, the shareable content cannot be had even with the permission.
  void setShareableContentAvailable(bool available);

  // ---- Permissions ----
  void setScreenCaptureAllowed(bool allowed);
  /// Whether a request for screen capture makes the user grant it (seen by later checks).
  void setScreenCaptureGrantedOnRequest(bool granted);
  void setAccessibilityTrusted(bool trusted);
  /// Whether the Accessibility prompt makes the user grant it (seen by later checks).
  void setAccessibilityGrantedOnPrompt(bool granted);
  /// Screen capture as a process started from now on sees it, while the running program
  /// keeps its own answer until it restarts (nothing: the same as the program's).
  void setScreenCaptureForNewProcesses(std::optional<bool> allowed);
  bool screenCaptureForNewProcesses() const;

  // ---- Processes ----
  /// Launches, other processes, the program's exit and messages sent to it.
  Processes& processes() { return processes_; }

  // ---- Login item ----
  void setLoginItemStatus(platform::LoginItemStatus status);
  /// With a description, registering fails with it and changes nothing.
  void failLoginItemRegister(std::optional<std::string> description);
  void failLoginItemUnregister(std::optional<std::string> description);
  /// A successful registration then waits for the user's approval.
  void setLoginItemNeedsApproval(bool needsApproval);

  // ---- System ----
  struct Version {
    int major = 15;
    int minor = 3;
    int patch = 0;
    friend bool operator==(const Version&, const Version&) = default;
  };
  /// The version the system reports (15.3.0 unless set).
  void setOSVersion(Version version);
  Version osVersion() const;
  /// Whether the glass effect view has its private variant ("set_variant:"; yes unless set).
  void setGlassVariantAvailable(bool available);

  // ---- Private symbols ----
  void addLibrary(const std::string& path);
  /// Removes the library and all its symbols.
  void removeLibrary(const std::string& path);
  /// Registers an address (adding the library when needed).
  void addSymbol(const std::string& path, const std::string& name, void* address);
  template <typename Function>
  void addFunction(const std::string& path, const std::string& name, Function* function) {
    addSymbol(path, name, reinterpret_cast<void*>(function));
  }
  void removeSymbol(const std::string& path, const std::string& name);

  // ---- Preferences ----
  const std::string& home() const { return home_; }
  std::string preferencesFolder() const;
  std::string preferencesFile(const std::string& domain) const;
  /// Changes another program's domain behind the program's back by writing its file,
  /// as that program would. False when the file could not be written.
  bool writeForeignPreference(const std::string& domain, const std::string& key,
                              const std::optional<platform::PlistValue>& value);
  /// Merges `values` into the domain's file in one write.
  bool writeForeignPreferences(const std::string& domain, const platform::PlistDictionary& values);
  /// Replaces (or, with nothing, deletes) a domain's file.
  bool writeForeignDomain(const std::string& domain, const std::optional<platform::PlistDictionary>& values);
  /// Where the preferences' messages go (a file that cannot be read, is kept aside or
  /// cannot be written), one message a call on the thread of the call that met it:
  /// standard error unless set; null sets that back.
  void setPreferencesReporter(const std::function<void(const std::string& message)>& reporter);
  /// Whether the global domain names the dark appearance. Read again only after a write of
  /// this world's or a change in the preferences folder (any process's): asked for every
  /// frame of every display, it costs no look at the file while nothing changed there.
  bool darkAppearance();
  /// The domains the program's preferences keep something of (DefaultsStore::keptDomains).
  std::size_t keptPreferenceDomains() { return store_.keptDomains(); }

  // ---- Window server ----
  /// The window server beside this world (null: none). Display pictures then show its desk,
  /// and scenarios describe its Spaces, applications and windows. The server attaches itself.
  void attachWindowServer(WindowServer* server);
  WindowServer* windowServer() const;

  // ---- Changes ----
  /// How many changes a program could read have been made to this world and the desk
  /// beside it (displays, permissions, symbols, the window server's state, accessibility
  /// answers). Answers read while the count stood still are still the answers. Thread-safe.
  std::uint64_t changeCount() const { return changes_.load(std::memory_order_acquire); }
  /// What a counted change may have touched: only the desk's windows, Spaces and apps, or
  /// more (displays, permissions, symbols, the pointer).
  enum class Reach { desk, beyondDesk };
  /// Counts a change, after it is made and before its maker goes on; the window server and
  /// its services call it for theirs. The listener then runs on the calling thread.
  void noteChange(Reach reach = Reach::beyondDesk);
  /// Called after each counted change with its reach (null: none); it must not call back
  /// into the world.
  void setChangeListener(std::function<void(Reach)> listener);

  // ---- Record of calls ----
  /// How often a port call was made: "screens", "requestScreenCaptureAccess",
  /// "accessibilityPrompt", "setLoginItem", "shareableDisplays", "captureDisplay",
  /// "synchronizePreferences:<domain>", "dlsym:<name>".
  int callCount(const std::string& call) const;
  void resetCallCounts();

 private:
  void count(const std::string& call);
  /// The appearance the global domain names now (none for another domain).
  std::optional<platform::PlistValue> appearanceStyle(const std::string& domain);
  /// Tells every program when a write to `domain` changed the appearance from `before`.
  void noteAppearance(const std::string& domain, const std::optional<platform::PlistValue>& before);
  std::vector<Display>::iterator findDisplay(std::uint32_t displayID);
  /// Drops the display pictures and tells readers of displaysSince that they changed.
  void displaysChanged();

  std::string home_;
  std::atomic<std::uint64_t> changes_{1};
  std::mutex changeListenerMutex_;  // held while the listener runs, so it can be taken away safely
  std::function<void(Reach)> changeListener_;
  DefaultsStore store_;    // the program's view of the preferences
  DefaultsStore foreign_;  // other programs writing their own files

  // The appearance as last read, and a watch on the preferences folder saying whether
  // anything there may have changed since (-1: no watch, the file is looked at each time).
  std::mutex appearanceMutex_;
  int appearanceWatch_ = -1;
  std::optional<bool> dark_;  // nothing: read it again
  bool folderQuiet();

  mutable std::mutex mutex_;
  std::vector<Display> displays_;
  std::atomic<std::uint64_t> displaysVersion_{1};  // changed under the mutex; read without it to skip a look
  bool shareableContentAvailable_ = true;
  bool screenCaptureAllowed_ = false;
  bool screenCaptureGrantedOnRequest_ = false;
  std::atomic<bool> accessibilityTrusted_{false};  // changed under the mutex; read without it when not prompting
  bool accessibilityGrantedOnPrompt_ = false;
  std::optional<bool> screenCaptureForNewProcesses_;
  platform::LoginItemStatus loginItemStatus_ = platform::LoginItemStatus::notRegistered;
  std::optional<std::string> registerError_;
  std::optional<std::string> unregisterError_;
  bool loginItemNeedsApproval_ = false;
  Version osVersion_;
  bool glassVariant_ = true;
  std::map<std::string, std::map<std::string, void*>> libraries_;
  std::map<std::string, int> calls_;
  std::map<std::string, CGImageRef> pictures_;  // recent display pictures by what they show
  WindowServer* windowServer_ = nullptr;
  Processes processes_{*this};
};

}  // namespace sim
