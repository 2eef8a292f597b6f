#include "selftest/ModeReport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <set>
#include <utility>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/OncePerSystem.h"
#include "platform/Refusals.h"
#include "platform/ScreenCaptureKit.h"
#include "selftest/ModeClock.h"
#include "settings/Diagnostics.h"
#include "workspace/SpaceList.h"

namespace trelliq {

namespace {

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

// Says which file could not be written, and why, in one line.
bool reportUnwritten(const std::string& path, int error, const std::string& refused) {
  std::cerr << "trelliq: cannot write " << Diagnostics::escapeForeign(path) << ": ";
  if (!refused.empty()) {
    std::cerr << "it is " << refused << "; name a file, a pipe or a terminal" << std::endl;
  } else {
    std::cerr << (error ? std::strerror(error) : "unknown error") << std::endl;
  }
  errno = error;  // for the caller, whatever saying it did
  return false;
}

// Whether the refusal behind a mode's failure was said already.
std::atomic<bool>& refusalSaid() {
  static auto& said = *new platform::OncePerSystem<std::atomic<bool>>();
  return said.get();
}

// What the system refused, once; `what` is what it spoiled.
void sayRefusal(const std::string& what, const platform::Refusal& refusal) {
  if (refusalSaid().exchange(true)) return;
  std::cerr << "trelliq: " << what << ": " << Diagnostics::escapeForeign(platform::describe(refusal)) << std::endl;
}

bool writeOut(const std::string& path, const void* bytes, std::size_t count) {
  // A report made of a refused call's empty answer would say what is not so.
  if (const auto refusal = platform::firstRefusal()) {
    sayRefusal("cannot write " + Diagnostics::escapeForeign(path), *refusal);
    return false;
  }
  errno = 0;
  std::string refused;
  if (platform::FileManager::writeOutput(path, bytes, count, &refused)) return true;
  return reportUnwritten(path, errno, refused);
}

}  // namespace

// ---- Arguments --------------------------------------------------------------------------

std::optional<std::string> ModeReport::variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::vector<std::string> ModeReport::items(const std::string& list) {
  std::vector<std::string> items;
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t end = std::min(list.find(',', at), list.size());
    if (end > at) items.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

// ---- Formats ----------------------------------------------------------------------------

std::string ModeReport::list(const std::vector<std::int64_t>& values) { return spaceListText(values); }

std::string ModeReport::whole(double value) {
  // Adding zero turns a truncated -0.5 into plain 0.
  if (!std::isfinite(value)) return "0";
  char buffer[std::numeric_limits<double>::max_exponent10 + 8];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, std::trunc(value) + 0.0, std::chars_format::fixed, 0);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

std::string ModeReport::strings(const std::vector<std::string>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += "\"" + values[i] + "\"";
  }
  return text + "]";
}

// ---- Files ------------------------------------------------------------------------------

bool ModeReport::write(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\n";
    text += Diagnostics::escapeForeign(lines[i]);
  }
  return writeOut(path, text.data(), text.size());
}

bool ModeReport::save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return writeOut(path, bytes.data(), bytes.size());
}

int ModeReport::Shots::status(const std::string& mode) const {
  if (unwritable) return 1;
  return written > 0 ? 0 : failed(mode + ": no display could be captured");
}

ModeReport::Shots ModeReport::debugScreenshot(const std::string& path) {
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
  while (!capture->finished.load(std::memory_order_acquire)) ModeClock::pump(0.01);
  Shots shots;
  // A pipe whose reader left would hold a further picture until another reader came.
  std::set<std::string> readerGone;
  for (const auto& [file, png] : capture->pictures) {
    if (readerGone.contains(file)) continue;
    errno = 0;
    if (save(file, png)) {
      ++shots.written;
      continue;
    }
    shots.unwritable = true;
    if (errno == EPIPE) readerGone.insert(file);
  }
  return shots;
}

// ---- Exit statuses ----------------------------------------------------------------------

int ModeReport::settle(const std::string& mode, int status) {
  const auto refusal = platform::firstRefusal();
  if (!refusal) return status;
  sayRefusal(mode, *refusal);
  return status == 0 ? 1 : status;
}

int ModeReport::failed(const std::string& why) {
  std::cerr << "trelliq: " << why << std::endl;
  return 1;
}

}  // namespace trelliq
