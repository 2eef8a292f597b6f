#include "workspace/Private.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/CGWindow.h"
#include "platform/CoreGraphics.h"
#include "platform/OncePerSystem.h"
#include "workspace/UnpublishedFunctions.h"
#include "workspace/WindowEntries.h"

namespace trelliq {

namespace {

using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

// The window server's Space types worth showing.
constexpr std::int64_t kOrdinarySpace = 0;
constexpr std::int64_t kFullScreenSpace = 4;

// Full-resolution and reduced picture options of the hardware capture.
constexpr std::uint32_t kCaptureFull = 0x80900;
constexpr std::uint32_t kCaptureReduced = 0x80a00;
// Every kind of Space holding a window.
constexpr std::int32_t kAllSpacesMask = 7;
constexpr std::int32_t kOverlaySpaceLevel = 100;

std::optional<std::int64_t> id64(const PlistDictionary& space) { return platform::integerEntry(space, "id64"); }

std::optional<std::string> displayIdentifier(const PlistDictionary& display) {
  return platform::stringEntry(display, "Display Identifier");
}

std::optional<std::int64_t> currentSpaceID(const PlistDictionary& display) {
  const PlistDictionary* current = platform::dictionaryEntry(display, "Current Space");
  return current ? id64(*current) : std::nullopt;
}

/// The display's Space dictionaries in order; entries of another type are skipped.
std::vector<const PlistDictionary*> spaceDictionaries(const PlistDictionary& display) {
  std::vector<const PlistDictionary*> result;
  if (const PlistArray* spaces = platform::arrayEntry(display, "Spaces")) {
    for (const auto& item : *spaces) {
      if (const auto* dict = item.asDictionary()) result.push_back(dict);
    }
  }
  return result;
}

/// The overlay Space, made on first use and kept; nothing when it could not be made (never retried).
std::optional<std::uint64_t> overlaySpace() {
  static auto& slot = *new platform::OncePerSystem<std::optional<std::uint64_t>>([]() -> std::optional<std::uint64_t> {
    auto connection = UnpublishedFunctions::connection();
    auto* create = UnpublishedFunctions::spaceCreate();
    auto* setLevel = UnpublishedFunctions::spaceSetAbsoluteLevel();
    auto* show = UnpublishedFunctions::showSpaces();
    if (!connection || !create || !setLevel || !show) return std::nullopt;
    const CGSSpaceID space = create(*connection, 1, nullptr);
    if (space == 0) return std::nullopt;
    setLevel(*connection, space, kOverlaySpaceLevel);
    show(*connection, PlistArray{PlistValue(static_cast<unsigned long>(space))});
    return space;
  });
  return slot.get();
}

}  // namespace

platform::LibraryHandle Private::skyLight() { return UnpublishedFunctions::skyLight(); }

PlistArray Private::displaySpaces() {
  auto connection = UnpublishedFunctions::connection();
  auto* copy = UnpublishedFunctions::copyDisplaySpaces();
  if (!connection || !copy) return {};
  auto raw = copy(*connection);
  if (!raw) return {};
  for (const auto& item : *raw) {
    if (!item.asDictionary()) return {};  // not a list of dictionaries
  }
  return std::move(*raw);
}

Private::Layout Private::displayLayout() {
  const auto raw = displaySpaces();
  if (raw.empty()) return {};

  std::vector<DisplayLayout> layouts;
  layouts.reserve(raw.size());
  for (const PlistValue& item : raw) {
    const PlistDictionary& display = *item.asDictionary();
    const auto identifier = displayIdentifier(display);
    auto screen = screenOfDisplay(identifier);
    if (!screen) continue;
    std::vector<SpaceLayout> spaces;
    for (const PlistDictionary* space : spaceDictionaries(display)) {
      const std::int64_t type = platform::integerEntry(*space, "type").value_or(kOrdinarySpace);
      const auto id = id64(*space);
      if (!id || (type != kOrdinarySpace && type != kFullScreenSpace)) continue;
      spaces.push_back({*id, platform::stringEntry(*space, "uuid").value_or(""), type == kFullScreenSpace});
    }
    layouts.push_back({identifier.value_or(""), *screen, std::move(spaces), currentSpaceID(display)});
  }

  Layout result;
  const auto screens = NSScreen::screens();
  if (raw.size() == 1 && screens.size() >= 2) {
    result.shared = true;
    if (layouts.empty()) return result;
    const DisplayLayout first = layouts.front();
    layouts.clear();
    for (const auto& screen : screens) {
      std::string id = uuid(screen).value_or(platform::describe(screen.frame()));
      layouts.push_back({std::move(id), screen, first.spaces, first.current});
    }
  }
  std::stable_sort(layouts.begin(), layouts.end(), [](const DisplayLayout& a, const DisplayLayout& b) {
    return a.screen.frame().minX() < b.screen.frame().minX();
  });
  result.displays = std::move(layouts);
  return result;
}

std::set<std::int64_t> Private::currentSpaces() {
  std::set<std::int64_t> result;
  for (const PlistValue& item : displaySpaces()) {
    const PlistDictionary& display = *item.asDictionary();
    if (auto current = currentSpaceID(display)) result.insert(*current);
  }
  return result;
}

std::optional<std::int64_t> Private::currentSpace(const NSScreen& screen) {
  for (const PlistValue& item : displaySpaces()) {
    const PlistDictionary& display = *item.asDictionary();
    auto match = screenOfDisplay(displayIdentifier(display));
    if (match && *match == screen) return currentSpaceID(display);
  }
  return std::nullopt;
}

std::vector<std::int64_t> Private::spaces(std::uint32_t window) {
  auto connection = UnpublishedFunctions::connection();
  auto* copy = UnpublishedFunctions::copySpacesForWindows();
  if (!connection || !copy) return {};
  auto raw = copy(*connection, kAllSpacesMask, PlistArray{PlistValue(window)});
  if (!raw) return {};
  std::vector<std::int64_t> result;
  result.reserve(raw->size());
  for (const auto& item : *raw) {
    if (auto id = item.asInteger()) result.push_back(*id);
  }
  return result;
}

std::set<std::int64_t> Private::fullScreenSpaces() {
  std::set<std::int64_t> result;
  for (const PlistValue& item : displaySpaces()) {
    const PlistDictionary& display = *item.asDictionary();
    for (const PlistDictionary* space : spaceDictionaries(display)) {
      if (platform::integerEntry(*space, "type") != kFullScreenSpace) continue;
      if (auto id = id64(*space)) result.insert(*id);
    }
  }
  return result;
}

std::optional<std::string> Private::uuid(const NSScreen& screen) {
  auto number = screen.displayNumber();
  if (!number) return std::nullopt;
  return CGDisplayCreateUUIDFromDisplayID(*number);
}

std::optional<NSScreen> Private::screenOfDisplay(const std::optional<std::string>& id) {
  const auto screens = NSScreen::screens();
  for (const auto& screen : screens) {
    if (uuid(screen) == id) return screen;
  }
  if (id && *id == "Main" && !screens.empty()) return screens.front();
  return std::nullopt;
}

std::optional<CGPoint> Private::center(const std::optional<std::string>& displayID) {
  auto screen = screenOfDisplay(displayID);
  const auto screens = NSScreen::screens();
  if (!screen || screens.empty()) return std::nullopt;
  const CGRect frame = screen->frame();
  return platform::flipPoint(CGPoint{frame.midX(), frame.midY()}, screens.front().frame().maxY());
}

std::optional<Private::Steps> Private::steps(std::int64_t space) {
  for (const PlistValue& item : displaySpaces()) {
    const PlistDictionary& display = *item.asDictionary();
    std::vector<std::int64_t> ids;
    for (const PlistDictionary* dict : spaceDictionaries(display)) {
      if (auto id = id64(*dict)) ids.push_back(*id);
    }
    auto target = std::find(ids.begin(), ids.end(), space);
    if (target == ids.end()) continue;
    auto current = currentSpaceID(display);
    if (!current) continue;
    auto shown = std::find(ids.begin(), ids.end(), *current);
    if (shown == ids.end()) continue;
    return Steps{static_cast<int>(target - shown), center(displayIdentifier(display))};
  }
  return std::nullopt;
}

std::optional<Private::SpaceScreen> Private::screenOfSpace(std::int64_t space) {
  for (const PlistValue& item : displaySpaces()) {
    const PlistDictionary& display = *item.asDictionary();
    for (const PlistDictionary* dict : spaceDictionaries(display)) {
      if (id64(*dict) != space) continue;
      if (auto screen = screenOfDisplay(displayIdentifier(display))) {
        return SpaceScreen{*screen, platform::integerEntry(*dict, "type") == kFullScreenSpace};
      }
      break;  // the first match decides for this display
    }
  }
  return std::nullopt;
}

bool Private::isOrderedIn(std::uint32_t window) {
  auto connection = UnpublishedFunctions::connection();
  auto* orderedIn = UnpublishedFunctions::isOrderedIn();
  if (!connection || !orderedIn) return false;
  bool flag = false;
  return orderedIn(*connection, window, &flag) == 0 && flag;
}

CGImageRef Private::capture(std::uint32_t window, bool fullResolution) {
  auto connection = UnpublishedFunctions::connection();
  auto* hwCapture = UnpublishedFunctions::hwCaptureWindowList();
  if (!connection || !hwCapture) return nullptr;
  auto images = hwCapture(*connection, &window, 1, fullResolution ? kCaptureFull : kCaptureReduced);
  if (!images || images->empty()) return nullptr;
  return images->front();
}

std::optional<std::uint32_t> Private::windowID(const AXUIElementRef& element) {
  auto* getWindow = UnpublishedFunctions::getWindow();
  if (!getWindow || !element) return std::nullopt;
  std::uint32_t window = 0;
  if (getWindow(element, &window) != kAXErrorSuccess) return std::nullopt;
  return window;
}

std::optional<std::uint32_t> Private::wallpaperWindow(std::int64_t space) {
  const auto found = wallpaperWindows({space});
  if (found.empty()) return std::nullopt;
  return found.begin()->second;
}

std::map<std::int64_t, std::uint32_t> Private::wallpaperWindows(const std::set<std::int64_t>& spaces) {
  // One pass over the list for every Space: a read per Space grew with Spaces times windows.
  static const char* const kOwners[] = {"WindowManager", "Dock", "WallpaperAgent"};
  std::map<std::int64_t, std::uint32_t> found;
  for (const auto& entry : entries::windowList(kCGWindowListOptionAll, kCGNullWindowID)) {
    if (found.size() == spaces.size()) break;
    const std::string name = platform::stringEntry(entry, kCGWindowName).value_or("");
    const std::string owner = platform::stringEntry(entry, kCGWindowOwnerName).value_or("");
    const bool ownerQualifies =
        std::any_of(std::begin(kOwners), std::end(kOwners), [&](const char* candidate) { return owner == candidate; });
    const bool nameQualifies = name.starts_with("Wallpaper") || name.starts_with("Desktop Picture");
    if (!ownerQualifies || !nameQualifies) continue;
    const auto number = entries::windowNumber(entry);
    if (!number) continue;
    // The first such window listed for a Space is its picture.
    for (const std::int64_t space : Private::spaces(*number)) {
      if (spaces.contains(space)) found.emplace(space, *number);
    }
  }
  return found;
}

void Private::keepOnTop(const std::vector<NSWindow*>& windows) {
  auto connection = UnpublishedFunctions::connection();
  auto* add = UnpublishedFunctions::addWindowsToSpaces();
  if (!connection || !add) return;
  auto overlay = overlaySpace();
  if (!overlay) return;
  PlistArray numbers;
  for (NSWindow* window : windows) {
    if (window && window->windowNumber() > 0) numbers.emplace_back(static_cast<long long>(window->windowNumber()));
  }
  add(*connection, numbers, PlistArray{PlistValue(static_cast<unsigned long>(*overlay))});
}

}  // namespace trelliq
