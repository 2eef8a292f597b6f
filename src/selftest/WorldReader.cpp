#include "selftest/WorldReader.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Geometry.h"
#include "selftest/ModeReport.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

constexpr const char* kProgramName = "Trelliq";

// A number as the window list prints it: integers in decimal, reals in their shortest
// form without a point when whole ("1", "0.5"); "?" for anything else.
std::string printed(const platform::PlistValue& value) {
  if (value.type() == platform::PlistValue::Type::integer) return std::to_string(*value.asInteger());
  if (value.type() == platform::PlistValue::Type::real) {
    const double d = *value.asDouble();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", d);
    if (std::strtod(buffer, nullptr) != d) std::snprintf(buffer, sizeof buffer, "%.17g", d);
    return buffer;
  }
  return "?";
}

}  // namespace

// ---- Windows ----------------------------------------------------------------------------

std::optional<std::pair<AppInfo, WindowInfo>> WorldReader::owner(std::uint32_t window) {
  const std::vector<Listed> entry = windowList(kCGWindowListOptionIncludingWindow, window);
  if (entry.empty() || !entry.front().pid) return std::nullopt;
  const std::int32_t pid = *entry.front().pid;
  const std::optional<NSRunningApplication> app = NSRunningApplication::withProcessIdentifier(pid);
  if (!app) return std::nullopt;
  return std::make_pair(AppInfo(*app), WindowInfo(pid, window, nullptr, std::nullopt, false, false, std::nullopt));
}

bool WorldReader::Listed::foreign() const { return !pid || *pid != NSProcessInfo::processInfo().processIdentifier(); }

bool WorldReader::Listed::otherCopy() const { return owner == kProgramName && foreign(); }

std::vector<WorldReader::Listed> WorldReader::windowList(CGWindowListOption option, std::uint32_t relativeTo) {
  std::vector<Listed> listed;
  const std::optional<platform::PlistArray> list = CGWindowListCopyWindowInfo(option, relativeTo);
  if (!list) return listed;
  for (const platform::PlistValue& value : *list) {
    const platform::PlistDictionary* entry = value.asDictionary();
    if (!entry) continue;
    Listed w;
    if (const auto n = platform::integerEntry(*entry, kCGWindowNumber); n && *n >= 0 && *n <= 0xFFFFFFFFll)
      w.number = static_cast<std::uint32_t>(*n);
    w.owner = platform::stringEntry(*entry, kCGWindowOwnerName);
    if (const auto pid = platform::integerEntry(*entry, kCGWindowOwnerPID)) w.pid = static_cast<std::int32_t>(*pid);
    if (const auto it = entry->find(kCGWindowLayer); it != entry->end()) {
      w.layerText = printed(it->second);
      if (it->second.type() == platform::PlistValue::Type::integer) w.layer = it->second.asInteger();
    }
    if (const auto it = entry->find(kCGWindowAlpha); it != entry->end()) w.alphaText = printed(it->second);
    if (const platform::PlistDictionary* bounds = platform::dictionaryEntry(*entry, kCGWindowBounds)) {
      CGRect rect;
      if (CGRectMakeWithDictionaryRepresentation(*bounds, &rect)) w.bounds = rect;
    }
    w.title = platform::stringEntry(*entry, kCGWindowName).value_or("");
    w.onScreen = platform::boolEntry(*entry, kCGWindowIsOnscreen).value_or(false);
    listed.push_back(std::move(w));
  }
  return listed;
}

// ---- The other copy ---------------------------------------------------------------------

std::vector<std::string> WorldReader::ours() {
  std::vector<std::string> lines;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.otherCopy())
      lines.push_back("layer " + w.layerText + " bounds " + platform::describe(w.bounds.value_or(CGRect())));
  }
  return lines;
}

std::vector<std::string> WorldReader::onScreen(const std::string& owner) {
  std::vector<std::string> lines;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign())
      lines.push_back("layer " + w.layerText + " " + w.title + " " + platform::describe(w.bounds.value_or(CGRect())));
  }
  return lines;
}

std::set<std::uint32_t> WorldReader::windows(const std::string& owner) {
  std::set<std::uint32_t> numbers;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign() && w.number && w.layer && *w.layer >= 1) numbers.insert(*w.number);
  }
  return numbers;
}

std::size_t WorldReader::count(const std::string& owner, std::int64_t layer) {
  std::size_t n = 0;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign() && w.layer == layer) ++n;
  }
  return n;
}

// ---- The desk ---------------------------------------------------------------------------

std::string WorldReader::spaces() {
  const std::set<std::int64_t> current = Private::currentSpaces();
  return ModeReport::list(std::vector<std::int64_t>(current.begin(), current.end()));
}

std::string WorldReader::frontName(const std::string& missing) {
  const std::optional<NSRunningApplication> front = NSWorkspace::shared().frontmostApplication();
  if (!front || !front->localizedName()) return missing;
  return *front->localizedName();
}

std::string WorldReader::state() {
  const std::optional<NSRunningApplication> front = NSWorkspace::shared().frontmostApplication();
  std::string line = "front " + frontName() + " focused window ";
  if (!front) return line + "- ";
  const std::int32_t pid = front->processIdentifier();
  const std::optional<std::uint32_t> focused = focusedWindowID(pid);
  line += (focused ? std::to_string(*focused) : std::string("-")) + " ";
  const std::optional<AXValue> window = axAttr(AXUIElementCreateApplication(pid), kAXFocusedWindowAttribute);
  const AXUIElementRef element = window ? window->asElement() : nullptr;
  if (!element) return line;
  const std::optional<AXValue> main = axAttr(element, kAXMainAttribute);
  if (!main) return line;
  if (const std::optional<bool> b = main->asBool()) return line + "main=" + (*b ? "1" : "0");
  if (const std::optional<std::int64_t> i = main->asInteger()) return line + "main=" + std::to_string(*i);
  return line;
}

std::string WorldReader::state(const NSApplication& app, const NSWindow& window) {
  return "front " + frontName() + ", we're active " + ModeReport::text(app.isActive()) + ", window key " +
         ModeReport::text(window.isKeyWindow());
}

}  // namespace trelliq
