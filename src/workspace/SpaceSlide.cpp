#include "workspace/SpaceSlide.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "workspace/KeyablePanel.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "platform/PrivateSymbols.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"
#include "workspace/SpaceList.h"
#include "workspace/UnpublishedFunctions.h"

namespace trelliq {

namespace {

constexpr std::uint64_t kSlideWaitNanos = 1'500'000'000;
constexpr platform::Seconds kCheckInterval = 0.01;
constexpr double kPanelSide = 2;

struct Slide {
  std::int64_t space = 0;
  int distance = 0;
  std::uint64_t deadline = 0;
  std::shared_ptr<NSPanel> panel;
  SpaceSwipe::Done done;
};

/// Checks until the target shows or the deadline has passed; runs once now, then every 0.01 s.
void waitForSlide(Slide slide) {
  if (Private::currentSpaces().contains(slide.space)) {
    slide.done(true);
    slide.panel->close();
    return;
  }
  if (platform::clock().monotonicNanos() > slide.deadline) {
    const auto number = static_cast<std::uint32_t>(slide.panel->windowNumber());
    Diagnostics::log("no slide to space " + std::to_string(slide.space) + " (" + std::to_string(slide.distance) +
                     " along; our window on " + spaceListText(Private::spaces(number)) + " at " +
                     platform::describe(slide.panel->frame()) + "); jumping");
    slide.panel->close();
    slide.panel.reset();
    SpaceSwipe::swipe(slide.space, std::move(slide.done));
    return;
  }
  platform::mainQueue().asyncAfter(kCheckInterval,
                                   [slide = std::move(slide)]() mutable { waitForSlide(std::move(slide)); });
}

}  // namespace

void SpaceSlide::go(std::int64_t space, SpaceSwipe::Done done) {
  const auto connection = UnpublishedFunctions::connection();
  auto* move = UnpublishedFunctions::moveWindowsToManagedSpace();
  const auto screen = Private::screenOfSpace(space);
  const auto steps = Private::steps(space);
  if (!connection || !move || !screen || !steps) {
    SpaceSwipe::swipe(space, std::move(done));
    return;
  }

  std::shared_ptr<NSPanel> panel = makeWindow(screen->screen);
  panel->orderFrontRegardless();
  const auto number = static_cast<std::uint32_t>(panel->windowNumber());
  move(*connection, platform::PlistArray{platform::PlistValue(number)}, static_cast<CGSSpaceID>(space));
  panel->makeKeyWindow();
  Private::focus(NSProcessInfo::processInfo().processIdentifier(), number);

  waitForSlide(Slide{space, steps->steps, platform::clock().monotonicNanos() + kSlideWaitNanos, std::move(panel),
                     std::move(done)});
}

std::unique_ptr<NSPanel> SpaceSlide::makeWindow(const NSScreen& screen) {
  const CGRect frame = screen.frame();
  const CGRect content(frame.width() * 0.5, frame.height() * 0.5, kPanelSide, kPanelSide);
  auto panel = std::make_unique<KeyablePanel>(content, NSWindowStyleMaskNonactivatingPanel,
                                              NSBackingStoreType::buffered, false, &screen);
  panel->setOpaque(false);
  panel->setBackgroundColor(0);
  panel->setHasShadow(false);
  panel->setIgnoresMouseEvents(true);
  panel->setHidesOnDeactivate(false);
  panel->setReleasedWhenClosed(false);
  return panel;
}

}  // namespace trelliq
