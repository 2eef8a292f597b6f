#include "switcher/DestinationScreen.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/CGContext.h"
#include "platform/CGWindow.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

constexpr const char* kWindowServerOwner = "Window Server";
constexpr const char* kBackdropName = "Fullscreen Backdrop";

/// One window-list entry with the fields the composition reads.
struct Entry {
  const platform::PlistDictionary* info = nullptr;
  std::int64_t layer = 0;
};

/// The entries bottom to top: by layer ascending, and within a layer back to front (the
/// list is front to back, so its later entries go first).
std::vector<Entry> bottomToTop(const platform::PlistArray& list) {
  std::vector<Entry> entries;
  entries.reserve(list.size());
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const auto* info = it->asDictionary();
    if (!info) continue;
    entries.push_back({info, platform::integerEntry(*info, kCGWindowLayer).value_or(0)});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.layer < b.layer; });
  return entries;
}

/// The window's number and bounds when it can be seen on `space`; the checks run cheapest
/// first so that only windows really on that Space are captured.
std::optional<std::pair<std::uint32_t, CGRect>> visibleOn(const platform::PlistDictionary& info, std::int64_t space) {
  const auto layer = platform::integerEntry(info, kCGWindowLayer);
  if (!layer || *layer > 0) return std::nullopt;
  const auto number = platform::integerEntry(info, kCGWindowNumber);
  if (!number) return std::nullopt;
  if (platform::stringEntry(info, kCGWindowOwnerName) == kWindowServerOwner) return std::nullopt;
  if (platform::stringEntry(info, kCGWindowName) == kBackdropName) return std::nullopt;
  const auto alpha = platform::doubleEntry(info, kCGWindowAlpha);
  if (!alpha || *alpha <= 0) return std::nullopt;
  const auto* boundsInfo = platform::dictionaryEntry(info, kCGWindowBounds);
  CGRect bounds;
  if (!boundsInfo || !CGRectMakeWithDictionaryRepresentation(*boundsInfo, &bounds)) return std::nullopt;
  if (bounds.width() < DestinationScreen::minimumSide || bounds.height() < DestinationScreen::minimumSide) {
    return std::nullopt;
  }
  const auto window = static_cast<std::uint32_t>(*number);
  const auto spaces = Private::spaces(window);
  if (std::find(spaces.begin(), spaces.end(), space) == spaces.end()) return std::nullopt;
  if (!Private::isOrderedIn(window)) return std::nullopt;
  return std::make_pair(window, bounds);
}

}  // namespace

platform::Executor& DestinationScreen::queue() {
  // Asked of the installed clock each time: a test installs a new clock per scene.
  return platform::clock().queue("destination");
}

std::vector<std::string>& DestinationScreen::drawn() {
  static std::vector<std::string> entries;
  return entries;
}

std::optional<DestinationScreen::Place> DestinationScreen::space(std::uint32_t window) {
  const auto spaces = Private::spaces(window);
  if (spaces.empty()) return std::nullopt;
  const std::int64_t first = spaces.front();
  if (Private::currentSpaces().contains(first)) return std::nullopt;
  const auto screen = Private::screenOfSpace(first);
  if (!screen) return std::nullopt;
  return Place{first, screen->screen, screen->fullScreen};
}

void DestinationScreen::compose(std::int64_t space, const NSScreen& screen, bool fullScreen, bool desktop,
                                std::function<void(CGImageRef, PackedImageRef)> done, std::function<bool()> wanted,
                                bool packedOnly) {
  const CGRect frame = screen.frame();
  const auto screens = NSScreen::screens();
  const double primaryTop = screens.empty() ? frame.maxY() : screens.front().frame().maxY();
  queue().async([space, frame, primaryTop, fullScreen, desktop, done = std::move(done), wanted = std::move(wanted),
                 packedOnly]() mutable {
    // A display-sized picture nobody waits for any more is not made at all.
    CGImageRef image = !wanted || wanted() ? render(space, frame, primaryTop, fullScreen, desktop) : nullptr;
    // Packed here, so the main thread never spends a frame's time on it.
    PackedImageRef packed = image ? PackedImage::pack(*image) : nullptr;
    // Nobody waits to see it: the display-sized pixels need not wait for a busy main thread.
    if (packedOnly && packed) image.reset();
    platform::mainQueue().async([image = std::move(image), packed = std::move(packed), done = std::move(done)] {
      if (done) done(image, packed);
    });
  });
}

CGImageRef DestinationScreen::render(std::int64_t space, const CGRect& frame, double primaryTop, bool fullScreen,
                                     bool desktop) {
  const auto width = static_cast<std::size_t>(std::max(0.0, std::trunc(frame.width())));
  const auto height = static_cast<std::size_t>(std::max(0.0, std::trunc(frame.height())));
  CGContextRef context = CGBitmapContextCreate(
      nullptr, width, height, 8, 0, CGColorSpaceCreateWithName(kCGColorSpaceSRGB), kCGImageAlphaPremultipliedFirst);
  if (!context) return nullptr;
  const CGRect canvas(0, 0, static_cast<double>(width), static_cast<double>(height));
  CGContextSetGrayFillColor(context, 0, 1);
  CGContextFillRect(context, canvas);
  if (fullScreen) return CGBitmapContextCreateImage(context);

  std::vector<std::string>& painted = drawn();
  painted.clear();
  const platform::PlistArray list =
      CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID).value_or(platform::PlistArray{});
  for (const Entry& entry : bottomToTop(list)) {
    const auto visible = visibleOn(*entry.info, space);
    if (!visible) continue;
    const auto& [window, bounds] = *visible;
    CGImageRef picture = Private::capture(window, false);
    if (!picture) continue;

    painted.push_back(platform::stringEntry(*entry.info, kCGWindowOwnerName).value_or("?") + "@" +
                      std::to_string(entry.layer));
    const double alpha = entry.layer != 0 ? 1.0 : (desktop ? desktopWindowOpacity : windowOpacity);
    CGContextSetAlpha(context, alpha);
    // Window-server bounds are top-left on the primary screen; the canvas is bottom-left
    // within this display.
    const CGRect target(bounds.minX() - frame.minX(),
                        (primaryTop - frame.maxY()) - bounds.minY() + canvas.height() - bounds.height(), bounds.width(),
                        bounds.height());
    CGContextDrawImage(context, target, picture);
    CGContextSetAlpha(context, 1.0);
  }
  if (!desktop) {
    CGContextSetGrayFillColor(context, 0, dimming);
    CGContextFillRect(context, canvas);
  }
  return CGBitmapContextCreateImage(context);
}

}  // namespace trelliq
