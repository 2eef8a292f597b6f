#include "platform/sim/World.h"

#include <algorithm>
#include <cstdio>
#include <sys/inotify.h>
#include <unistd.h>

#include "platform/OwnWindowSurface.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/WindowServer.h"

namespace sim {

using platform::LoginItemStatus;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

std::uint64_t mixBits(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

std::string displayUUID(std::uint32_t id) {
  const std::uint64_t hi = mixBits(id), lo = mixBits(hi ^ id);
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return text;
}

Display makeDisplay(std::uint32_t id, CGRect frame, std::string name, double scale, double safeAreaTop) {
  Display d;
  d.screen.displayID = id;
  d.screen.uuid = displayUUID(id);
  d.screen.localizedName = std::move(name);
  d.screen.frame = frame;
  const double menuBar = std::max(24.0, safeAreaTop);
  d.screen.visibleFrame = CGRect(frame.minX(), frame.minY(), frame.width(), std::max(0.0, frame.height() - menuBar));
  d.screen.safeAreaInsets = NSEdgeInsets{safeAreaTop, 0, 0, 0};
  d.screen.backingScaleFactor = scale;
  return d;
}

World::World(std::string home)
    : home_(std::move(home)),
      store_(platform::joinPath(home_, "Library/Preferences")),
      foreign_(platform::joinPath(home_, "Library/Preferences")) {}

World::~World() {
  if (appearanceWatch_ >= 0) ::close(appearanceWatch_);
}

void World::noteChange(Reach reach) {
  changes_.fetch_add(1, std::memory_order_acq_rel);
  std::lock_guard lock(changeListenerMutex_);
  if (changeListener_) changeListener_(reach);
}

void World::setChangeListener(std::function<void(Reach)> listener) {
  std::lock_guard lock(changeListenerMutex_);
  changeListener_ = std::move(listener);
}

void World::count(const std::string& call) {
  std::lock_guard lock(mutex_);
  ++calls_[call];
}

int World::callCount(const std::string& call) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second;
}

void World::resetCallCounts() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

// ---------------------------------------------------------------------------------------------
// Displays

std::vector<platform::ScreenDescription> World::screens() {
  std::lock_guard lock(mutex_);
  ++calls_["screens"];
  std::vector<platform::ScreenDescription> result;
  result.reserve(displays_.size());
  for (const Display& d : displays_) result.push_back(d.screen);
  return result;
}

std::vector<Display>::iterator World::findDisplay(std::uint32_t displayID) {
  return std::find_if(displays_.begin(), displays_.end(),
                      [&](const Display& d) { return d.screen.displayID == displayID; });
}

void World::displaysChanged() {
  pictures_.clear();
  ++displaysVersion_;
  noteChange();
}

void World::setDisplays(std::vector<Display> displays) {
  std::lock_guard lock(mutex_);
  displays_ = std::move(displays);
  displaysChanged();
}

void World::addDisplay(Display display, std::optional<std::size_t> at) {
  std::lock_guard lock(mutex_);
  auto existing = findDisplay(display.screen.displayID);
  if (existing != displays_.end()) displays_.erase(existing);
  const std::size_t index = std::min(at.value_or(displays_.size()), displays_.size());
  displays_.insert(displays_.begin() + static_cast<std::ptrdiff_t>(index), std::move(display));
  displaysChanged();
}

bool World::removeDisplay(std::uint32_t displayID) {
  std::lock_guard lock(mutex_);
  auto it = findDisplay(displayID);
  if (it == displays_.end()) return false;
  displays_.erase(it);
  displaysChanged();
  return true;
}

bool World::replaceDisplay(std::uint32_t displayID, Display display) {
  std::lock_guard lock(mutex_);
  auto it = findDisplay(displayID);
  if (it == displays_.end()) return false;
  *it = std::move(display);
  displaysChanged();
  return true;
}

std::vector<Display> World::displays() const {
  std::lock_guard lock(mutex_);
  return displays_;
}

std::optional<std::vector<Display>> World::displaysSince(std::uint64_t& version) const {
  // Asked on every window-server question: the usual "nothing changed" needs no lock.
  if (version == displaysVersion_.load(std::memory_order_acquire)) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (version == displaysVersion_) return std::nullopt;
  version = displaysVersion_;
  return displays_;
}

std::optional<Display> World::display(std::uint32_t displayID) const {
  std::lock_guard lock(mutex_);
  for (const Display& d : displays_) {
    if (d.screen.displayID == displayID) return d;
  }
  return std::nullopt;
}

bool World::setDesktopColor(std::uint32_t displayID, std::uint32_t rgb) {
  std::lock_guard lock(mutex_);
  auto it = findDisplay(displayID);
  if (it == displays_.end()) return false;
  it->desktopColor = rgb & 0xFFFFFF;
  displaysChanged();
  return true;
}

bool World::setCaptureFails(std::uint32_t displayID, bool fails) {
  std::lock_guard lock(mutex_);
  auto it = findDisplay(displayID);
  if (it == displays_.end()) return false;
  it->capturable = !fails;
  return true;
}

void World::setShareableContentAvailable(bool available) {
  std::lock_guard lock(mutex_);
  shareableContentAvailable_ = available;
}

// ---------------------------------------------------------------------------------------------
// Display pictures

std::optional<std::vector<platform::SystemPort::ShareableDisplay>> World::shareableDisplays() {
  std::lock_guard lock(mutex_);
  ++calls_["shareableDisplays"];
  if (!screenCaptureAllowed_ || !shareableContentAvailable_) return std::nullopt;
  std::vector<ShareableDisplay> result;
  for (const Display& d : displays_) {
    result.push_back(
        {d.screen.displayID, platform::pictureSide(d.screen.frame.width()), platform::pictureSide(d.screen.frame.height())});
  }
  return result;
}

CGImageRef World::captureDisplay(std::uint32_t displayID, int width, int height, bool showsCursor) {
  Display display;
  std::string key;
  WindowServer* server = nullptr;
  {
    std::lock_guard lock(mutex_);
    ++calls_["captureDisplay"];
    if (!screenCaptureAllowed_ || width <= 0 || height <= 0 || width > platform::kMaxPictureSide ||
        height > platform::kMaxPictureSide)
      return nullptr;
    auto it = findDisplay(displayID);
    if (it == displays_.end() || !it->capturable) return nullptr;
    display = *it;
    key = std::to_string(displayID) + "@" + std::to_string(width) + "x" + std::to_string(height);
    server = windowServer_;
    if (!server) {
      if (auto cached = pictures_.find(key); cached != pictures_.end()) return cached->second;
    }
  }
  if (server) {
    platform::OwnWindowSurface::publishAll();  // a program capturing its own display sees its latest drawing
    // The desk changes all the time (and moves during a slide): paint it afresh, unlocked.
    return std::make_shared<const CGImage>(server->composeDisplay(displayID, width, height));
  }
  // Painting takes a while; other calls go on meanwhile.
  auto picture = std::make_shared<const CGImage>(composeDisplayPicture(display, width, height));
  std::lock_guard lock(mutex_);
  // Keep the cache small; it only saves repainting the same desk over and over.
  if (pictures_.size() >= 8) pictures_.clear();
  // A display changed while painting must not leave a stale picture behind.
  auto it = findDisplay(displayID);
  if (it != displays_.end() && it->desktopColor == display.desktopColor &&
      it->screen.localizedName == display.screen.localizedName)
    pictures_[key] = picture;
  return picture;
}

void World::attachWindowServer(WindowServer* server) {
  std::lock_guard lock(mutex_);
  windowServer_ = server;
}

WindowServer* World::windowServer() const {
  std::lock_guard lock(mutex_);
  return windowServer_;
}

// ---------------------------------------------------------------------------------------------
// Permissions

bool World::screenCaptureAllowed() {
  std::lock_guard lock(mutex_);
  return screenCaptureAllowed_;
}

bool World::requestScreenCaptureAccess() {
  std::lock_guard lock(mutex_);
  ++calls_["requestScreenCaptureAccess"];
  // The answer is the state before the user reacts; a grant shows in later checks.
  const bool allowed = screenCaptureAllowed_;
  if (!allowed && screenCaptureGrantedOnRequest_) {
    screenCaptureAllowed_ = true;
    noteChange();
  }
  return allowed;
}

bool World::accessibilityTrusted(bool prompt) {
  // Every accessibility call asks; only a prompt changes anything.
  if (!prompt) return accessibilityTrusted_.load(std::memory_order_acquire);
  std::lock_guard lock(mutex_);
  const bool trusted = accessibilityTrusted_;
  if (prompt && !trusted) {
    ++calls_["accessibilityPrompt"];
    if (accessibilityGrantedOnPrompt_) {
      accessibilityTrusted_ = true;
      noteChange();
    }
  }
  return trusted;
}

void World::setScreenCaptureAllowed(bool allowed) {
  std::lock_guard lock(mutex_);
  screenCaptureAllowed_ = allowed;
  noteChange();
}

void World::setScreenCaptureGrantedOnRequest(bool granted) {
  std::lock_guard lock(mutex_);
  screenCaptureGrantedOnRequest_ = granted;
}

void World::setAccessibilityTrusted(bool trusted) {
  std::lock_guard lock(mutex_);
  accessibilityTrusted_ = trusted;
  noteChange();
}

void World::setAccessibilityGrantedOnPrompt(bool granted) {
  std::lock_guard lock(mutex_);
  accessibilityGrantedOnPrompt_ = granted;
}

void World::setScreenCaptureForNewProcesses(std::optional<bool> allowed) {
  std::lock_guard lock(mutex_);
  screenCaptureForNewProcesses_ = allowed;
  noteChange();
}

bool World::screenCaptureForNewProcesses() const {
  std::lock_guard lock(mutex_);
  return screenCaptureForNewProcesses_.value_or(screenCaptureAllowed_);
}

std::variant<std::int32_t, std::string> World::launchProcess(const std::string& executable,
                                                             const std::vector<std::string>& arguments,
                                                             std::function<void(int status)> terminated) {
  return processes_.launch(executable, arguments, std::move(terminated));
}

std::string World::mainBundlePath() { return processes_.mainBundlePath(); }

std::string World::mainExecutablePath() { return processes_.mainExecutablePath(); }

std::optional<std::string> World::processPath(std::int32_t pid) { return processes_.path(pid); }

void World::exitProgram(int status) { processes_.exitProgram(status); }

void World::setDistributedNotificationListener(std::function<void(const std::string& name)> listener) {
  processes_.setDistributedNotificationListener(std::move(listener));
}

void World::setAppleEventListener(std::function<void(const platform::AppleEvent& event)> listener) {
  processes_.setAppleEventListener(std::move(listener));
}

// ---------------------------------------------------------------------------------------------
// Login item

LoginItemStatus World::loginItemStatus() {
  std::lock_guard lock(mutex_);
  return loginItemStatus_;
}

std::optional<std::string> World::setLoginItem(bool on) {
  std::lock_guard lock(mutex_);
  ++calls_["setLoginItem"];
  if (on) {
    if (registerError_) return registerError_;
    if (loginItemStatus_ == LoginItemStatus::notFound) return std::string("The application could not be found.");
    loginItemStatus_ = loginItemNeedsApproval_ ? LoginItemStatus::requiresApproval : LoginItemStatus::enabled;
  } else {
    if (unregisterError_) return unregisterError_;
    if (loginItemStatus_ == LoginItemStatus::notFound) return std::string("The application could not be found.");
    loginItemStatus_ = LoginItemStatus::notRegistered;
  }
  return std::nullopt;
}

void World::setLoginItemStatus(LoginItemStatus status) {
  std::lock_guard lock(mutex_);
  loginItemStatus_ = status;
}

void World::failLoginItemRegister(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  registerError_ = std::move(description);
}

void World::failLoginItemUnregister(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  unregisterError_ = std::move(description);
}

void World::setLoginItemNeedsApproval(bool needsApproval) {
  std::lock_guard lock(mutex_);
  loginItemNeedsApproval_ = needsApproval;
}

// ---------------------------------------------------------------------------------------------
// System

World::Version World::osVersion() const {
  std::lock_guard lock(mutex_);
  return osVersion_;
}

void World::setOSVersion(Version version) {
  std::lock_guard lock(mutex_);
  osVersion_ = version;
  noteChange();
}

void World::setGlassVariantAvailable(bool available) {
  std::lock_guard lock(mutex_);
  glassVariant_ = available;
}

bool World::glassEffectViewResponds(const std::string& selector) {
  std::lock_guard lock(mutex_);
  return selector == "set_variant:" && glassVariant_;
}

// ---------------------------------------------------------------------------------------------
// Private symbols

bool World::libraryExists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return libraries_.count(path) > 0;
}

void* World::symbol(const std::string& path, const std::string& name) {
  std::lock_guard lock(mutex_);
  ++calls_["dlsym:" + name];
  auto library = libraries_.find(path);
  if (library == libraries_.end()) return nullptr;
  auto it = library->second.find(name);
  return it == library->second.end() ? nullptr : it->second;
}

void World::addLibrary(const std::string& path) {
  std::lock_guard lock(mutex_);
  libraries_[path];
  noteChange();
}

void World::removeLibrary(const std::string& path) {
  std::lock_guard lock(mutex_);
  libraries_.erase(path);
  noteChange();
}

void World::addSymbol(const std::string& path, const std::string& name, void* address) {
  std::lock_guard lock(mutex_);
  libraries_[path][name] = address;
  noteChange();
}

void World::removeSymbol(const std::string& path, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto library = libraries_.find(path);
  if (library != libraries_.end()) library->second.erase(name);
  noteChange();
}

// ---------------------------------------------------------------------------------------------
// Preferences

std::string World::applicationDomainName() { return kApplicationDomain; }

std::optional<PlistValue> World::preferenceValue(const std::string& domain, const std::string& key) {
  const bool own = domain == kApplicationDomain || domain == kGlobalDomain;
  return store_.value(domain, key, own ? DefaultsStore::Freshness::checkDisk : DefaultsStore::Freshness::cached);
}

bool World::setPreferenceValue(const std::string& domain, const std::string& key,
                               const std::optional<PlistValue>& value) {
  count("writePreferences:" + domain);
  const std::optional<PlistValue> appearance = appearanceStyle(domain);
  const bool written = store_.set(domain, key, value);
  noteAppearance(domain, appearance);
  return written;
}

bool World::setPreferenceValues(const std::string& domain, const PlistDictionary& values) {
  count("writePreferences:" + domain);
  const std::optional<PlistValue> appearance = appearanceStyle(domain);
  const bool written = store_.update(domain, [&](PlistDictionary& stored) {
    for (const auto& [key, value] : values) stored[key] = value;
  });
  noteAppearance(domain, appearance);
  return written;
}

bool World::folderQuiet() {
  if (appearanceWatch_ < 0) {
    // Watched from the first read on: the folder may be made later, by the first write.
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return false;
    constexpr std::uint32_t kAny = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE |
                                   IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
    if (::inotify_add_watch(fd, store_.folder().c_str(), kAny) < 0) {
      ::close(fd);
      return false;
    }
    appearanceWatch_ = fd;
    return false;  // what changed before the watch began is not known
  }
  alignas(inotify_event) char events[4096];
  bool quiet = true;
  for (;;) {
    const ssize_t n = ::read(appearanceWatch_, events, sizeof events);
    if (n <= 0) break;  // EAGAIN: nothing (more) happened
    quiet = false;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(events + at);
      // The folder went, or events were lost: watched anew from the next read.
      if (e->mask & (IN_IGNORED | IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) {
        ::close(appearanceWatch_);
        appearanceWatch_ = -1;
        return false;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return quiet;
}

bool World::darkAppearance() {
  std::lock_guard lock(appearanceMutex_);
  // The events are taken before the file is read: a write after that read leaves one behind.
  if (!folderQuiet() || !dark_) dark_ = platform::isDarkInterfaceStyle(preferenceValue(kGlobalDomain, kAppearanceKey));
  return *dark_;
}

std::optional<PlistValue> World::appearanceStyle(const std::string& domain) {
  if (domain != kGlobalDomain) return std::nullopt;
  return store_.value(domain, kAppearanceKey, DefaultsStore::Freshness::cached);
}

void World::noteAppearance(const std::string& domain, const std::optional<PlistValue>& before) {
  // As the system does, every program hears that the appearance changed, so that what it
  // has drawn is drawn again in the new one.
  if (domain != kGlobalDomain) return;
  {
    std::lock_guard lock(appearanceMutex_);
    dark_.reset();  // written here: read again, whatever the watch says
  }
  if (appearanceStyle(domain) == before) return;
  processes_.postDistributedNotification(kAppearanceChanged);
}

std::optional<PlistValue> World::firstPreferenceValue(const std::vector<std::string>& domains, const std::string& key) {
  for (const std::string& domain : domains) {
    if (auto value = preferenceValue(domain, key)) return value;
  }
  return std::nullopt;
}

PlistDictionary World::firstPreferenceValues(const std::vector<std::string>& domains) {
  PlistDictionary merged;
  for (const std::string& domain : domains) {
    const bool own = domain == kApplicationDomain || domain == kGlobalDomain;
    const auto stored =
        store_.domain(domain, own ? DefaultsStore::Freshness::checkDisk : DefaultsStore::Freshness::cached);
    if (!stored) continue;
    for (const auto& [key, value] : *stored) merged.try_emplace(key, value);  // an earlier domain wins
  }
  return merged;
}

std::optional<PlistDictionary> World::preferenceDomain(const std::string& domain) {
  return store_.domain(domain, DefaultsStore::Freshness::checkDisk);
}

void World::synchronizePreferences(const std::string& domain) {
  count("synchronizePreferences:" + domain);
  store_.synchronize(domain);
  std::lock_guard lock(appearanceMutex_);
  dark_.reset();  // what the store kept in memory may have given way to the file's
}

std::string World::preferencesFolder() const { return store_.folder(); }

std::string World::preferencesFile(const std::string& domain) const { return store_.fileFor(domain); }

bool World::writeForeignPreference(const std::string& domain, const std::string& key,
                                   const std::optional<PlistValue>& value) {
  return foreign_.set(domain, key, value);
}

bool World::writeForeignPreferences(const std::string& domain, const PlistDictionary& values) {
  return foreign_.update(domain, [&](PlistDictionary& stored) {
    for (const auto& [key, value] : values) stored[key] = value;
  });
}

void World::setPreferencesReporter(const std::function<void(const std::string&)>& reporter) {
  store_.setReporter(reporter);
  foreign_.setReporter(reporter);
}

bool World::writeForeignDomain(const std::string& domain, const std::optional<PlistDictionary>& values) {
  return foreign_.replaceDomain(domain, values);
}

}  // namespace sim
