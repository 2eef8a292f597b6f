#include "switcher/Thumbnails.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "platform/CGContext.h"
#include "platform/CoreGraphics.h"
#include "platform/ScreenCaptureKit.h"
#include "workspace/UnpublishedFunctions.h"

namespace trelliq {
namespace {

void deliver(const Thumbnails::EachSized& each, std::uint32_t window, CGImageRef picture, CGSize size) {
  platform::mainQueue().async([each, window, picture = std::move(picture), size] { each(window, picture, size); });
}

Thumbnails::EachSized unsized(Thumbnails::Each each) {
  return [each = std::move(each)](std::uint32_t window, CGImageRef picture, CGSize) { each(window, std::move(picture)); };
}

/// The picture held of `window` when `fresh` has its very pixels, else `fresh`.
CGImageRef heldOrFresh(const Thumbnails::Held& held, std::uint32_t window, CGImageRef fresh) {
  const auto found = held.find(window);
  return found == held.end() ? fresh : Thumbnails::heldIfSame(found->second, std::move(fresh));
}

/// The size asked for a window: `largest` where `sizes` has none.
CGSize askedFor(const Thumbnails::Sizes& sizes, std::uint32_t window) {
  const auto found = sizes.find(window);
  return found == sizes.end() ? Thumbnails::largest : found->second;
}

/// The size a window's picture must cover as it is taken: `now`'s answer, else the one asked.
CGSize sizeNow(const Thumbnails::SizeNow& now, std::uint32_t window, CGSize asked) {
  return now ? now(window, asked) : asked;
}

/// Whether the windows not yet taken are still wanted.
bool stillWanted(const Thumbnails::Wanted& wanted) { return !wanted || wanted(); }

/// None for `largest` (or any size without area): taken as large as allowed.
std::optional<CGSize> covering(CGSize size) {
  if (size.width <= 0 || size.height <= 0) return std::nullopt;
  return size;
}

/// The scale that brings `width` × `height` down to cover `size` and fit `maxPixels`.
double coveringScale(double width, double height, std::optional<CGSize> size) {
  double scale = std::min(1.0, Thumbnails::maxPixels / std::max(width, height));
  if (size && size->width > 0 && size->height > 0) {
    scale = std::min(scale, std::max(size->width / width, size->height / height));
  }
  return scale;
}

/// A side of `v` pixels scaled by `scale`: covering a size rounds up, so the picture never
/// falls short of it by a pixel; else truncated.
std::size_t scaledSide(double v, double scale, bool covering) {
  return static_cast<std::size_t>(covering ? std::ceil(v * scale - 1e-6) : v * scale);
}

/// The hardware capture of one window, scaled down; null when it is missed.
CGImageRef captureOne(std::uint32_t window, std::optional<CGSize> size) {
  const std::optional<CGSConnectionID> connection = UnpublishedFunctions::connection();
  SLSHWCaptureWindowList_t* capture = UnpublishedFunctions::hwCaptureWindowList();
  if (!connection || !capture) return nullptr;
  const auto pictures = capture(*connection, &window, 1, Thumbnails::captureOptions);
  if (!pictures || pictures->empty()) return nullptr;
  return size ? Thumbnails::downscale(pictures->front(), *size) : Thumbnails::downscale(pictures->front());
}

/// One window through the capture framework, at most `maxPixels` points on its longer side.
void captureShareable(const SCWindow& window, const Thumbnails::EachSized& each, CGSize size,
                      const Thumbnails::Held& held) {
  const double width = window.frame.width(), height = window.frame.height();
  if (width == 0 || height == 0) return;
  const double scale = coveringScale(width, height, covering(size));
  SCStreamConfiguration configuration;
  configuration.width = platform::pictureSide(width * scale);
  configuration.height = platform::pictureSide(height * scale);
  configuration.showsCursor = false;
  configuration.ignoreShadowsSingleWindow = true;
  SCContentFilter filter;
  filter.desktopIndependentWindow = window;
  if (CGImageRef picture = SCScreenshotManager::captureImageNow(filter, configuration)) {
    deliver(each, window.windowID, heldOrFresh(held, window.windowID, std::move(picture)), size);
  }
}

}  // namespace

platform::Executor& Thumbnails::queue() {
  // Asked of the installed clock every time: a test that installs a new clock gets its queue.
  return platform::clock().queue("thumbnails");
}

void Thumbnails::capture(const std::vector<std::uint32_t>& ids, Each each, NoLimit) {
  start(ids, unsized(std::move(each)), {}, {}, {}, {});
}

void Thumbnails::capture(const std::vector<std::uint32_t>& ids, Each each, Sizes sizes, Held held) {
  capture(ids, unsized(std::move(each)), std::move(sizes), std::move(held), {});
}

void Thumbnails::capture(const std::vector<std::uint32_t>& ids, EachSized each, Sizes sizes, Held held, SizeNow now,
                         Wanted wanted) {
  std::vector<std::uint32_t> planned;
  for (const std::uint32_t id : ids) {
    if (sizes.count(id)) planned.push_back(id);
  }
  start(std::move(planned), std::move(each), std::move(sizes), std::move(held), std::move(now), std::move(wanted));
}

void Thumbnails::start(std::vector<std::uint32_t> ids, EachSized each, Sizes sizes, Held held, SizeNow now,
                       Wanted wanted) {
  if (ids.empty() || !CGPreflightScreenCaptureAccess()) return;
  // A number asked twice is still taken and delivered once.
  std::vector<std::uint32_t> unique;
  std::set<std::uint32_t> seen;
  for (const std::uint32_t id : ids) {
    if (seen.insert(id).second) unique.push_back(id);
  }
  // Only the pictures of windows taken are looked at again.
  std::erase_if(held, [&](const auto& entry) { return !seen.count(entry.first); });
  auto batch = std::make_shared<Batch>(
      Batch{std::move(unique), std::move(each), std::move(sizes), std::move(held), std::move(now), std::move(wanted), {}});
  queue().async([batch] { take(batch, 0); });
}

void Thumbnails::take(const std::shared_ptr<Batch>& batch, std::size_t next) {
  std::size_t delivered = 0;
  for (; next < batch->ids.size(); ++next) {
    if (!stillWanted(batch->wanted)) return;
    if (delivered >= deliveredAhead) {
      // The main queue runs in order: once this turn comes, it took every picture before.
      platform::mainQueue().async([batch, next] { queue().async([batch, next] { take(batch, next); }); });
      return;
    }
    const std::uint32_t id = batch->ids[next];
    // Asked as it is taken: what draws the window may have changed since the batch began.
    const CGSize size = sizeNow(batch->now, id, askedFor(batch->sizes, id));
    if (CGImageRef picture = captureOne(id, covering(size))) {
      delivered += static_cast<std::size_t>(picture->width()) * static_cast<std::size_t>(picture->height()) * 4;
      deliver(batch->each, id, heldOrFresh(batch->held, id, std::move(picture)), size);
    } else {
      batch->missed.insert(id);
    }
  }
  if (!batch->missed.empty())
    captureWithScreenCaptureKit(batch->missed, batch->each, batch->sizes, batch->held, batch->now, batch->wanted);
}

CGImageRef Thumbnails::heldIfSame(const CGImageRef& held, CGImageRef fresh) {
  return fresh && held && held->samePixels(*fresh) ? held : fresh;
}

CGImageRef Thumbnails::downscale(const CGImageRef& image) {
  if (!image) return nullptr;
  const double width = image->width(), height = image->height();
  const double longer = std::max(width, height);
  if (longer <= maxPixels) return image;
  return scaled(image, maxPixels / longer, false);
}

CGImageRef Thumbnails::downscale(const CGImageRef& image, CGSize size) {
  if (!image || image->width() <= 0 || image->height() <= 0) return image;
  const double scale = coveringScale(image->width(), image->height(), size);
  if (scale >= 1) return image;
  return scaled(image, scale, true);
}

CGImageRef Thumbnails::captureDownscaled(std::uint32_t window, CGSize points, std::optional<CGSize> size) {
  const double width = points.width, height = points.height;
  if (!(width > 0 && height > 0)) return nullptr;
  const double scale = std::min(1.0, size ? coveringScale(width, height, covering(*size))
                                          : std::min(1.0, maxPixels / std::max(width, height)));
  SCStreamConfiguration configuration;
  configuration.width = static_cast<int>(scaledSide(width, scale, size.has_value()));
  configuration.height = static_cast<int>(scaledSide(height, scale, size.has_value()));
  configuration.showsCursor = false;
  SCContentFilter filter;
  filter.desktopIndependentWindow = SCWindow{.windowID = window, .frame = CGRect(0, 0, width, height)};
  return SCScreenshotManager::captureImageNow(filter, configuration);
}

CGImageRef Thumbnails::scaled(const CGImageRef& image, double scale, bool covering) {
  const double width = image->width(), height = image->height();
  const std::size_t newWidth = scaledSide(width, scale, covering), newHeight = scaledSide(height, scale, covering);
  CGColorSpaceRef space = CGColorSpaceCreateWithName(kCGColorSpaceSRGB);
  if (!space) return nullptr;
  CGContextRef context =
      CGBitmapContextCreate(nullptr, newWidth, newHeight, 8, 0, space, kCGImageAlphaPremultipliedFirst);
  if (!context) return nullptr;
  CGContextSetInterpolationQuality(context, kCGInterpolationHigh);
  CGContextDrawImage(context, CGRect(0, 0, static_cast<double>(newWidth), static_cast<double>(newHeight)), image);
  return CGBitmapContextCreateImage(context);
}

void Thumbnails::captureWithScreenCaptureKit(const std::set<std::uint32_t>& ids, Each each, Sizes sizes,
                                             Held held) {
  captureWithScreenCaptureKit(ids, unsized(std::move(each)), std::move(sizes), std::move(held), {}, {});
}

void Thumbnails::captureWithScreenCaptureKit(const std::set<std::uint32_t>& ids, EachSized each, Sizes sizes,
                                             Held held, SizeNow now, Wanted wanted) {
  if (ids.empty()) return;
  // One `now` shared by every window's task: its state may hold every planned window's size.
  platform::clock().background([ids, each = std::move(each), sizes = std::move(sizes), held = std::move(held),
                                now = std::make_shared<const SizeNow>(std::move(now)), wanted = std::move(wanted)] {
    if (!stillWanted(wanted)) return;
    const std::optional<SCShareableContent> content = SCShareableContent::current(false, false);
    if (!content) return;
    std::set<std::uint32_t> started;
    for (const SCWindow& window : content->windows) {
      if (!ids.count(window.windowID) || !started.insert(window.windowID).second) continue;
      // Each window is taken on a task of its own, so the captures run side by side.
      const auto found = held.find(window.windowID);
      Thumbnails::Held mine;
      if (found != held.end()) mine.insert(*found);
      platform::clock().background(
          [window, each, asked = askedFor(sizes, window.windowID), now, mine = std::move(mine), wanted] {
            if (stillWanted(wanted)) captureShareable(window, each, sizeNow(*now, window.windowID, asked), mine);
          });
    }
  });
}

}  // namespace trelliq
