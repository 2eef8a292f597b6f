#include "selftest/Toolkit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
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
#include "platform/ScreenCaptureKit.h"
#include "platform/VirtualClock.h"
#include "settings/Diagnostics.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"

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
  if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() ||
      height > std::numeric_limits<int>::max())
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

bool Toolkit::post(CGKeyCode code, bool down, CGEventFlags flags, bool modifier) {
  const CGEventRef event = CGEventCreateKeyboardEvent(nullptr, code, down);
  if (!event) return false;
  if (modifier) CGEventSetType(event, kCGEventFlagsChanged);
  CGEventSetFlags(event, flags);
  CGEventPost(kCGHIDEventTap, event);
  return true;
}

void Toolkit::key(CGKeyCode code, bool down, CGEventFlags flags, bool modifier) {
  if (post(code, down, flags, modifier)) pump(0.05);
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

std::string Toolkit::list(const std::vector<std::int64_t>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(values[i]);
  }
  return text + "]";
}

namespace {

// Says which file could not be written, and why, in one line.
bool reportUnwritten(const std::string& path, int error) {
  std::cerr << "trelliq: cannot write " << Diagnostics::outside(path) << ": "
            << (error ? std::strerror(error) : "unknown error") << std::endl;
  return false;
}

}  // namespace

bool Toolkit::write(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\n";
    text += Diagnostics::outside(lines[i]);
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
