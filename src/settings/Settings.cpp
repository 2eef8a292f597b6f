#include "settings/Settings.h"

#include "platform/CoreFoundation.h"
#include "platform/CoreGraphics.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

using platform::PlistDictionary;
using platform::PlistValue;

namespace {

// Never carried over: the mark of the copy itself (whether to open at login, under
// defaultskey::launchAtLoginSetUp, is settled afresh for this program too).
constexpr const char* kCarriedOver = "carriedOverFromTabrook";

constexpr const char* kDock = "com.apple.dock";
constexpr const char* kTrackpad = "com.apple.AppleMultitouchTrackpad";
constexpr const char* kBluetoothTrackpad = "com.apple.driver.AppleBluetoothMultitouch.trackpad";
constexpr const char* kUniversalAccess = "com.apple.universalaccess";

// Copies every key of the earlier product's domain the program has no value for. The
// copy and the mark that it was made go in one write: a copy cut short by a crash or a
// full disk leaves no mark, and is made again on the next launch. A missing or broken
// domain copies nothing and is still marked, so it is not looked at again.
void carryOverFromEarlierProduct(UserDefaults& defaults) {
  if (defaults.boolForKey(kCarriedOver)) return;
  PlistDictionary copied;
  if (const auto earlier = defaults.persistentDomain(Settings::earlierProductDomain)) {
    // What the program has, read at once: a large earlier domain costs two reads, not one
    // per key.
    const PlistDictionary present = defaults.dictionaryRepresentation();
    for (const auto& [key, value] : *earlier) {
      if (key == defaultskey::launchAtLoginSetUp || key == kCarriedOver) continue;
      if (present.contains(key)) continue;
      copied.emplace(key, value);
    }
  }
  copied[kCarriedOver] = PlistValue(true);
  defaults.setValuesForKeys(copied);
}

// An old Boolean key counts as true unless a Boolean false is stored.
bool oldKeyOn(const UserDefaults& defaults, const std::string& key) {
  const auto value = defaults.object(key);
  return !value || value->asBool().value_or(true);
}

void migrateOldKeys(UserDefaults& defaults) {
  using namespace defaultskey;
  if (!defaults.stringForKey(preview) && (defaults.object(showThumbnails) || defaults.object(showInPlace))) {
    const char* chosen = oldKeyOn(defaults, showInPlace)      ? "fullScreen"
                         : oldKeyOn(defaults, showThumbnails) ? "thumbnail"
                                                              : "none";
    defaults.set(preview, chosen);
  }
  if (!defaults.stringForKey(desktops) && defaults.boolForKey(showDesktops)) {
    defaults.set(desktops, "always");
  }
}

// Another program's setting, after re-reading its domain so a change just made in
// System Settings is seen.
std::optional<PlistValue> systemValue(const char* domain, const std::string& key) {
  CFPreferencesAppSynchronize(domain);
  return CFPreferencesCopyAppValue(key, domain);
}

bool threeFingerTapLooksUp(const char* domain) {
  const auto value = systemValue(domain, "TrackpadThreeFingerTapGesture");
  return value && value->asInteger() == 2;
}

}  // namespace

UserDefaults& Settings::defaults() { return UserDefaults::standard(); }

void Settings::registerDefaults() {
  UserDefaults& store = defaults();
  carryOverFromEarlierProduct(store);
  // Before registering: a registered default would hide a missing stored value.
  migrateOldKeys(store);
  store.registerDefaults(PlistDictionary{
      {defaultskey::preview, PlistValue(registereddefault::preview)},
      {defaultskey::instantSpaces, PlistValue(registereddefault::instantSpaces)},
      {defaultskey::desktops, PlistValue(registereddefault::desktops)},
      {defaultskey::tiles, PlistValue(registereddefault::tiles)},
      {defaultskey::names, PlistValue(registereddefault::names)},
      {defaultskey::hotCorner, PlistValue(registereddefault::hotCorner)},
      {defaultskey::gesture, PlistValue(registereddefault::gesture)},
      {defaultskey::appWindows, PlistValue(registereddefault::appWindows)},
  });
}

Settings::Preview Settings::preview() {
  if (!CGPreflightScreenCaptureAccess()) return Preview::none;
  const auto stored = defaults().stringForKey(defaultskey::preview);
  if (stored == "none") return Preview::none;
  if (stored == "fullScreen") return Preview::fullScreen;
  return Preview::thumbnail;
}

bool Settings::showThumbnails() { return preview() == Preview::thumbnail; }
bool Settings::showInPlace() { return preview() == Preview::fullScreen; }
bool Settings::instantSpaces() { return defaults().boolForKey(defaultskey::instantSpaces); }
bool Settings::appWindows() { return defaults().boolForKey(defaultskey::appWindows); }

Settings::Desktops Settings::desktops() {
  return Desktops::fromRaw(defaults().stringForKey(defaultskey::desktops).value_or("")).value_or(Desktops::always);
}

Settings::Tiles Settings::tiles() {
  return Tiles::fromRaw(defaults().stringForKey(defaultskey::tiles).value_or("")).value_or(Tiles::apps);
}

std::optional<Settings::Gesture> Settings::gesture() {
  const auto stored = defaults().stringForKey(defaultskey::gesture);
  return stored ? Gesture::fromRaw(*stored) : std::nullopt;
}

std::set<Settings::HotCorner> Settings::hotCorners() {
  return HotCorner::set(defaults().stringForKey(defaultskey::hotCorner).value_or(""));
}

// Hot corners

std::string_view Settings::HotCorner::title() const {
  static constexpr std::array<std::string_view, 4> titles{"top left", "top right", "bottom left", "bottom right"};
  return titles[*this];
}

bool Settings::HotCorner::isLeft() const { return *this == topLeft || *this == bottomLeft; }
bool Settings::HotCorner::isTop() const { return *this == topLeft || *this == topRight; }

bool Settings::HotCorner::takenByMacOS() const {
  static constexpr std::array<std::string_view, 4> codes{"tl", "tr", "bl", "br"};
  const std::string prefix = "wvous-" + std::string(codes[*this]);
  const auto action = systemValue(kDock, prefix + "-corner");
  const bool usedByDock = action && action->asInteger().value_or(0) > 1;
  if (!usedByDock) return false;
  const auto modifier = CFPreferencesCopyAppValue(prefix + "-modifier", kDock);
  return (modifier ? modifier->asInteger().value_or(0) : 0) == 0;
}

std::set<Settings::HotCorner> Settings::HotCorner::set(std::string_view text) {
  std::set<HotCorner> corners;
  while (!text.empty()) {
    const auto comma = text.find(',');
    if (auto corner = fromRaw(text.substr(0, comma))) corners.insert(*corner);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return corners;
}

std::string Settings::HotCorner::stored(const std::set<HotCorner>& corners) {
  std::string text;
  for (const HotCorner corner : corners) {  // a std::set iterates in case order
    if (!text.empty()) text += ',';
    text += corner.rawValue();
  }
  return text;
}

std::string Settings::HotCorner::list(const std::set<HotCorner>& corners, bool withOr) {
  std::string text;
  std::size_t index = 0;
  for (const HotCorner corner : corners) {
    if (index > 0) text += index + 1 == corners.size() ? (withOr ? " or " : " and ") : ", ";
    text += corner.title();
    ++index;
  }
  return text;
}

// Gestures

std::optional<Settings::Gesture> Settings::Gesture::fromFingers(int fingers) {
  if (fingers == 3) return Gesture(threeFingerDoubleTap);
  if (fingers == 4) return Gesture(fourFingerDoubleTap);
  return std::nullopt;
}

int Settings::Gesture::fingers() const { return *this == threeFingerDoubleTap ? 3 : 4; }

std::string_view Settings::Gesture::title() const {
  return *this == threeFingerDoubleTap ? "Double-tap with three fingers" : "Double-tap with four fingers";
}

std::optional<Settings::Gesture::MacOSUse> Settings::Gesture::usedByMacOS() const {
  if (*this == fourFingerDoubleTap) return std::nullopt;
  // The built-in trackpad's setting wins; the Bluetooth trackpad's is the fallback.
  const bool lookUp = threeFingerTapLooksUp(kTrackpad) || threeFingerTapLooksUp(kBluetoothTrackpad);
  const auto zoom = systemValue(kUniversalAccess, "closeViewTrackpadGestureZoomEnabled");
  if (zoom && zoom->numberBoolValue().value_or(false)) {
    return MacOSUse{"Zoom", "System Settings › Accessibility › Zoom",
                    "x-apple.systempreferences:com.apple.preference.universalaccess?Zoom", true};
  }
  if (lookUp) {
    return MacOSUse{"look up & data detectors", "System Settings › Trackpad › Point & Click",
                    "x-apple.systempreferences:com.apple.preference.trackpad", false};
  }
  return std::nullopt;
}

}  // namespace trelliq
