#include "app/Permission.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "platform/AppKitWorkspace.h"
#include "platform/ApplicationServices.h"
#include "platform/CGEvent.h"
#include "platform/CGWindow.h"
#include "platform/Clock.h"
#include "platform/CoreGraphics.h"
#include "platform/FoundationProcesses.h"
#include "platform/OncePerSystem.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/Thumbnails.h"

namespace trelliq {

namespace {

constexpr const char* kSettingsBase = "x-apple.systempreferences:com.apple.preference.security?";

// An integer entry of a window description that fits the range; nothing otherwise.
template <typename T>
std::optional<T> integerEntry(const platform::PlistDictionary& window, const char* key) {
  auto it = window.find(key);
  if (it == window.end()) return std::nullopt;
  const auto value = it->second.asInteger();
  if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max()) return std::nullopt;
  return static_cast<T>(*value);
}

void answer(std::function<void(bool)> done, bool result) {
  platform::mainQueue().async([done = std::move(done), result] { done(result); });
}

}  // namespace

bool Permission::isGranted() const {
  if (case_ == Case::screenRecording) return CGPreflightScreenCaptureAccess();
  return AXIsProcessTrusted() && canFilterEvents();
}

std::string Permission::settingsAnchor() const {
  return case_ == Case::accessibility ? "Privacy_Accessibility" : "Privacy_ScreenCapture";
}

std::string Permission::settings() const { return kSettingsBase + settingsAnchor(); }

std::string Permission::askedKey() const {
  return case_ == Case::accessibility ? "askedForAccessibility" : "askedForScreenRecording";
}

void Permission::request() const {
  UserDefaults& defaults = Settings::defaults();
  if (defaults.boolForKey(askedKey())) {
    // The system shows its prompt only once per program; after that the user has to go there.
    NSWorkspace::shared().open(settings());
    return;
  }
  defaults.set(askedKey(), platform::PlistValue(true));
  if (case_ == Case::screenRecording) {
    CGRequestScreenCaptureAccess();
  } else {
    AXIsProcessTrustedWithOptions(true);
  }
}

bool Permission::canFilterEvents() {
  // Trust alone is not enough: after some system changes the list says yes while the
  // event filter still refuses taps, and only a real attempt tells.
  const CFMachPortRef tap = CGEventTapCreate(
      kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionDefault, testTapMask,
      [](CGEventTapProxy, CGEventType, CGEventRef event, void*) { return event; }, nullptr);
  if (!tap) return false;
  CFMachPortInvalidate(tap);
  return true;
}

bool Permission::screenRecordingAtLaunch() {
  static auto& atLaunch = *new platform::OncePerSystem<bool>([] { return CGPreflightScreenCaptureAccess(); });
  return atLaunch.get();
}

void Permission::screenRecordingAllowedSinceLaunch(std::function<void(bool)> done) {
  if (screenRecordingAtLaunch()) return answer(std::move(done), false);
  if (CGPreflightScreenCaptureAccess()) return answer(std::move(done), true);
  // This process may keep its launch-time answer; a new one sees the current state.
  Process child;
  child.setExecutableURL(Bundle::main().executableURL());
  child.setArguments({"--screen-recording-check"});
  child.setTerminationHandler([done](const Process& ended) { answer(done, ended.terminationStatus() == 0); });
  if (child.run()) answer(std::move(done), false);
}

void Permission::confirmScreenCapture() {
  if (!CGPreflightScreenCaptureAccess()) return;
  UserDefaults& defaults = Settings::defaults();
  if (defaults.boolForKey(screenCaptureConfirmedKey)) return;
  const auto windows = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                                                  kCGNullWindowID);
  if (!windows || windows->empty()) return;
  const std::int32_t own = NSProcessInfo::processInfo().processIdentifier();
  std::optional<std::uint32_t> chosen;
  for (const auto& entry : *windows) {
    const auto* window = entry.asDictionary();
    if (!window) continue;
    const auto layer = integerEntry<std::int64_t>(*window, kCGWindowLayer);
    if (!layer || *layer != 0) continue;
    const auto owner = integerEntry<std::int32_t>(*window, kCGWindowOwnerPID);
    if (owner && *owner == own) continue;
    // Only the first such window counts; without a usable number nothing is written, and
    // the next launch tries again.
    chosen = integerEntry<std::uint32_t>(*window, kCGWindowNumber);
    if (!chosen) return;
    break;
  }
  if (!chosen) return;
  defaults.set(screenCaptureConfirmedKey, platform::PlistValue(true));
  Diagnostics::log("screen recording: first capture, so macOS asks to confirm it now");
  Thumbnails::capture({*chosen}, [](std::uint32_t, CGImageRef) {}, Thumbnails::noLimit);
}

}  // namespace trelliq
