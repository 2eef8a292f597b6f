#include "platform/AppKit.h"

#include <limits>

#include "platform/SystemPort.h"

NSScreen::NSScreen(std::uint32_t displayID, CGRect frame, CGRect visibleFrame, NSEdgeInsets safeAreaInsets,
                   std::string localizedName, double backingScaleFactor, bool hasDisplayNumber)
    : displayID_(displayID),
      frame_(frame),
      visibleFrame_(visibleFrame),
      safeAreaInsets_(safeAreaInsets),
      localizedName_(std::move(localizedName)),
      backingScaleFactor_(backingScaleFactor),
      hasDisplayNumber_(hasDisplayNumber) {}

std::vector<NSScreen> NSScreen::screens() {
  std::vector<NSScreen> result;
  for (const platform::ScreenDescription& s : platform::system().screens()) {
    result.emplace_back(s.displayID, s.frame, s.visibleFrame, s.safeAreaInsets, s.localizedName, s.backingScaleFactor,
                        s.hasDisplayNumber);
  }
  return result;
}

std::optional<NSScreen> NSScreen::main() {
  auto all = screens();
  if (all.empty()) return std::nullopt;
  return all.front();
}

platform::PlistDictionary NSScreen::deviceDescription() const {
  platform::PlistDictionary description;
  if (hasDisplayNumber_) description["NSScreenNumber"] = platform::PlistValue(displayID_);
  description["NSDeviceSize"] = platform::PlistDictionary{{"width", frame_.width()}, {"height", frame_.height()}};
  description["NSDeviceIsScreen"] = "YES";
  return description;
}

std::optional<std::uint32_t> NSScreen::displayNumber() const {
  const auto n = platform::integerEntry(deviceDescription(), "NSScreenNumber");
  if (!n || *n < 0 || *n > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}
