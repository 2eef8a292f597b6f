#include "selftest/Toolkit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <set>
#include <thread>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Geometry.h"
#include "platform/ScreenCaptureKit.h"
#include "platform/VirtualClock.h"
#include "settings/Diagnostics.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/SpaceList.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

namespace {

platform::VirtualClock* virtualClock() { return dynamic_cast<platform::VirtualClock*>(&platform::clock()); }

// The Qt event loop for a while; without an application object there is no run loop to
// turn, and the time just passes.
void runEventLoop(double seconds) {
  const auto ms = static_cast<int>(std::ceil(seconds * 1000));
  if (!QCoreApplication::instance()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// One display capture as PNG; nothing when the display cannot be captured or encoded.
std::optional<std::vector<std::uint8_t>> captureDisplay(const SCDisplay& display) {
  SCContentFilter filter;
  filter.display = display;
  SCStreamConfiguration configuration;
  // Twice the display's points, computed wide: a display's size is bounded where the
  // desk is described, but a product that does not fit an int is no picture.
  const std::int64_t width = std::int64_t{display.width} * 2, height = std::int64_t{display.height} * 2;
  if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max())
    return std::nullopt;
  configuration.width = static_cast<int>(width);
  configuration.height = static_cast<int>(height);
  configuration.showsCursor = false;
  const CGImageRef image = SCScreenshotManager::captureImageNow(filter, configuration);
  if (!image) return std::nullopt;
  return image->pngData();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

// ---- Time -------------------------------------------------------------------------------

void Toolkit::pump(double seconds) {
  if (!(seconds > 0)) return;
  if (platform::VirtualClock* v = virtualClock()) {
    v->advance(seconds);
  } else {
    runEventLoop(seconds);
  }
}

void Toolkit::pumpEvents(double seconds, double step) {
  if (!(seconds > 0)) return;
  const double end = Toolkit::seconds() + seconds;
  NSApplication& app = NSApp();
  for (;;) {
    while (std::optional<NSEvent> event = app.nextEvent()) app.sendEvent(*event);
    const double left = end - Toolkit::seconds();
    if (left <= 0) break;
    pump(std::min(step, left));
  }
}

void Toolkit::sleep(double seconds) {
  if (!(seconds > 0)) return;
  if (platform::VirtualClock* v = virtualClock()) {
    v->advanceExcept(platform::mainQueue().label(), seconds);
  } else {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }
}

bool Toolkit::pumpUntil(const std::function<bool()>& done, double slice, double limit) {
  const double start = seconds();
  while (!done()) {
    if (seconds() - start >= limit) return false;
    pump(slice);
  }
  return true;
}

double Toolkit::seconds() { return platform::clock().monotonicSeconds(); }

std::int64_t Toolkit::millisecondsSince(double start) {
  return static_cast<std::int64_t>(std::trunc((seconds() - start) * 1000));
}

// ---- Keys -------------------------------------------------------------------------------

bool Toolkit::post(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind) {
  const CGEventRef event = CGEventCreateKeyboardEvent(nullptr, code, stroke == keys::press);
  if (!event) return false;
  if (kind == keys::modifier) CGEventSetType(event, kCGEventFlagsChanged);
  CGEventSetFlags(event, flags);
  CGEventPost(kCGHIDEventTap, event);
  return true;
}

void Toolkit::key(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind) {
  if (post(code, stroke, flags, kind)) pump(0.05);
}

void Toolkit::press(CGKeyCode code) {
  key(code, keys::press, keys::commandFlag, keys::plain);
  key(code, keys::release, keys::commandFlag, keys::plain);
}

void Toolkit::tapUnderCommand(CGKeyCode code, CGEventFlags flags) {
  key(code, keys::press, flags, keys::modifier);
  key(code, keys::release, keys::commandFlag, keys::modifier);
}

void Toolkit::commandTab() {
  key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  key(keys::tab, keys::press, keys::commandFlag, keys::plain);
  key(keys::tab, keys::release, keys::commandFlag, keys::plain);
}

void Toolkit::commandOptionTap() {
  key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  key(keys::option, keys::press, keys::commandOption, keys::modifier);
  key(keys::option, keys::release, keys::commandFlag, keys::modifier);
}

void Toolkit::escapeAndLetGo() {
  press(keys::escape);
  key(keys::command, keys::release, 0, keys::modifier);
}

bool Toolkit::movePointer(CGPoint point) {
  const CGEventRef event = CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, point, kCGMouseButtonLeft);
  if (!event) return false;
  CGEventPost(kCGHIDEventTap, event);
  return true;
}

// ---- Windows and their Spaces -----------------------------------------------------------

std::optional<std::pair<AppInfo, WindowInfo>> Toolkit::owner(std::uint32_t window) {
  const std::vector<Listed> entry = windowList(kCGWindowListOptionIncludingWindow, window);
  if (entry.empty() || !entry.front().pid) return std::nullopt;
  const std::int32_t pid = *entry.front().pid;
  const std::optional<NSRunningApplication> app = NSRunningApplication::withProcessIdentifier(pid);
  if (!app) return std::nullopt;
  return std::make_pair(AppInfo(*app), WindowInfo(pid, window, nullptr, std::nullopt, false, false, std::nullopt));
}

bool Toolkit::jumpToSpaceOf(std::uint32_t window) {
  auto done = std::make_shared<bool>(false);
  if (!SpaceSwipe::jumpToSpaceOf(window, false, [done](bool) { *done = true; })) return false;
  pumpUntil([done] { return *done; });
  return true;
}

void Toolkit::go(std::uint32_t window) {
  const auto found = owner(window);
  if (!found) return;
  jumpToSpaceOf(window);
  activate(found->first, found->second);
  pump(1.0);
}

// ---- The other copy ---------------------------------------------------------------------

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

bool Toolkit::Listed::foreign() const { return !pid || *pid != NSProcessInfo::processInfo().processIdentifier(); }

bool Toolkit::Listed::otherCopy() const { return owner == kProgramName && foreign(); }

std::vector<Toolkit::Listed> Toolkit::windowList(CGWindowListOption option, std::uint32_t relativeTo) {
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

std::vector<std::string> Toolkit::ours() {
  std::vector<std::string> lines;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.otherCopy())
      lines.push_back("layer " + w.layerText + " bounds " + platform::describe(w.bounds.value_or(CGRect())));
  }
  return lines;
}

std::vector<std::string> Toolkit::onScreen(const std::string& owner) {
  std::vector<std::string> lines;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign())
      lines.push_back("layer " + w.layerText + " " + w.title + " " + platform::describe(w.bounds.value_or(CGRect())));
  }
  return lines;
}

std::set<std::uint32_t> Toolkit::windows(const std::string& owner) {
  std::set<std::uint32_t> numbers;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign() && w.number && w.layer && *w.layer >= 1) numbers.insert(*w.number);
  }
  return numbers;
}

std::size_t Toolkit::count(const std::string& owner, std::int64_t layer) {
  std::size_t n = 0;
  for (const Listed& w : windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.owner == owner && w.foreign() && w.layer == layer) ++n;
  }
  return n;
}

// ---- The desk ---------------------------------------------------------------------------

std::string Toolkit::spaces() {
  const std::set<std::int64_t> current = Private::currentSpaces();
  return list(std::vector<std::int64_t>(current.begin(), current.end()));
}

std::string Toolkit::frontName(const std::string& missing) {
  const std::optional<NSRunningApplication> front = NSWorkspace::shared().frontmostApplication();
  if (!front || !front->localizedName()) return missing;
  return *front->localizedName();
}

std::string Toolkit::state() {
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

std::string Toolkit::state(const NSApplication& app, const NSWindow& window) {
  return "front " + frontName() + ", we're active " + text(app.isActive()) + ", window key " +
         text(window.isKeyWindow());
}

int Toolkit::Shots::status(const std::string& mode) const {
  if (unwritable) return 1;
  return written > 0 ? 0 : failed(mode + ": no display could be captured");
}

Toolkit::Shots Toolkit::debugScreenshot(const std::string& path) {
  // Which display the pointer is on, and the displays from left to right.
  const std::vector<NSScreen> screens = NSScreen::screens();
  std::optional<std::uint32_t> pointerDisplay;
  const CGPoint pointer = NSEvent::mouseLocation();
  for (const NSScreen& screen : screens) {
    if (NSMouseInRect(pointer, screen.frame())) {
      pointerDisplay = screen.displayNumber();
      break;
    }
  }
  std::vector<NSScreen> leftToRight = screens;
  std::stable_sort(leftToRight.begin(), leftToRight.end(),
                   [](const NSScreen& a, const NSScreen& b) { return a.frame().minX() < b.frame().minX(); });
  std::vector<std::uint32_t> order;
  for (const NSScreen& screen : leftToRight) {
    if (const auto number = screen.displayNumber()) order.push_back(*number);
  }

  // The captures run as a task of their own while this thread keeps the run loop turning;
  // the pictures are written here, once it is done.
  struct Capture {
    std::atomic<bool> finished{false};
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> pictures;  // read once finished
  };
  auto capture = std::make_shared<Capture>();
  platform::clock().background([capture, path, pointerDisplay, order] {
    if (const std::optional<SCShareableContent> content = SCShareableContent::current(false, true)) {
      for (const SCDisplay& display : content->displays) {
        std::string file = path;
        if (!pointerDisplay || display.displayID != *pointerDisplay) {
          const auto at = std::find(order.begin(), order.end(), display.displayID);
          const std::size_t k = at == order.end() ? 9 : static_cast<std::size_t>(at - order.begin());
          file = replaceAll(path, ".png", "-display" + std::to_string(k) + ".png");
        }
        if (auto png = captureDisplay(display)) capture->pictures.emplace_back(std::move(file), std::move(*png));
      }
    }
    capture->finished.store(true, std::memory_order_release);
  });
  while (!capture->finished.load(std::memory_order_acquire)) pump(0.01);
  Shots shots;
  for (const auto& [file, png] : capture->pictures) {
    if (save(file, png)) {
      ++shots.written;
    } else {
      shots.unwritable = true;
    }
  }
  return shots;
}

// ---- Reports ----------------------------------------------------------------------------

std::string Toolkit::list(const std::vector<std::int64_t>& values) { return spaceListText(values); }

std::optional<std::string> Toolkit::variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::vector<std::string> Toolkit::items(const std::string& list) {
  std::vector<std::string> items;
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t end = std::min(list.find(',', at), list.size());
    if (end > at) items.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

std::string Toolkit::whole(double value) {
  // Adding zero turns a truncated -0.5 into plain 0.
  if (!std::isfinite(value)) return "0";
  char buffer[std::numeric_limits<double>::max_exponent10 + 8];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, std::trunc(value) + 0.0, std::chars_format::fixed, 0);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

std::string Toolkit::strings(const std::vector<std::string>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += "\"" + values[i] + "\"";
  }
  return text + "]";
}

namespace {

// Says which file could not be written, and why, in one line.
bool reportUnwritten(const std::string& path, int error) {
  std::cerr << "trelliq: cannot write " << Diagnostics::escapeForeign(path) << ": "
            << (error ? std::strerror(error) : "unknown error") << std::endl;
  return false;
}

}  // namespace

bool Toolkit::write(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\n";
    text += Diagnostics::escapeForeign(lines[i]);
  }
  errno = 0;
  if (platform::FileManager::writeAtomically(path, text)) return true;
  return reportUnwritten(path, errno);
}

bool Toolkit::save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  errno = 0;
  if (platform::FileManager::writeAtomically(path, bytes.data(), bytes.size())) return true;
  return reportUnwritten(path, errno);
}

int Toolkit::failed(const std::string& why) {
  std::cerr << "trelliq: " << why << std::endl;
  return 1;
}

}  // namespace trelliq
