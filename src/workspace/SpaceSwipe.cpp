#include "workspace/SpaceSwipe.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "platform/CoreFoundation.h"
#include "platform/OncePerSystem.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"
#include "workspace/SpaceSlide.h"

namespace trelliq {

namespace {

constexpr std::uint64_t kSwipeWaitNanos = 500'000'000;
constexpr platform::Seconds kCheckInterval = 0.01;
constexpr int kNewerLayoutAbove = 26;

constexpr double kProgress = 1.6e-5;
constexpr double kOlderVelocity = 2000;
constexpr double kNewerEndVelocity = 9999;
constexpr double kNewerZoomDelta = 3.0;
constexpr double kNewerPositionX = 0.1;

// The gesture record appended to the companion event.
constexpr std::uint8_t kRecordKind = 0x10;
constexpr std::uint8_t kRecordTag = 0x6D;
constexpr std::uint32_t kRecordHeaderLength = 40;
constexpr std::uint32_t kMotionBlockLength = 28;
constexpr std::uint32_t kMotionBlockKind = 9;
constexpr std::uint16_t kGestureStage = 3;

const std::int64_t kPhases[] = {SpaceSwipe::began, SpaceSwipe::changed, SpaceSwipe::ended};

// The count belongs to the installed system, so a fresh simulated Mac starts from 0.
int& missCount() {
  static auto& count = *new platform::OncePerSystem<int>();
  return count.get();
}

void putLittleEndian(platform::PlistData& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putFixed(platform::PlistData& out, double x) {
  putLittleEndian(out, static_cast<std::uint32_t>(SpaceSwipe::fixed(x)), 4);
}

/// One phase as the events to post, in order; empty when one of them cannot be made.
std::vector<CGEventRef> phaseEvents(std::int64_t phase, bool right, const std::optional<CGPoint>& at) {
  CGEventRef event = CGEventCreate(nullptr);
  if (!event) return {};
  if (at) CGEventSetLocation(event, *at);
  CGEventSetIntegerValueField(event, SpaceSwipe::eventType, SpaceSwipe::dockControlEvent);
  CGEventSetIntegerValueField(event, SpaceSwipe::hidType, SpaceSwipe::dockSwipe);
  CGEventSetIntegerValueField(event, SpaceSwipe::phase, phase);
  CGEventSetIntegerValueField(event, SpaceSwipe::swipeMotion, 1);

  if (!SpaceSwipe::augmented()) {
    const double s = right ? 1 : -1;
    CGEventSetDoubleValueField(event, SpaceSwipe::swipeProgress, s * kProgress);
    CGEventSetDoubleValueField(event, SpaceSwipe::velocityX, s * kOlderVelocity);
    CGEventSetDoubleValueField(event, SpaceSwipe::velocityY, s * kOlderVelocity);
    return {event};
  }

  const double p = SpaceSwipe::sign(right);
  CGEventSetDoubleValueField(event, SpaceSwipe::swipeProgress, p * kProgress);
  CGEventSetIntegerValueField(event, SpaceSwipe::phaseAlias, phase);
  CGEventSetDoubleValueField(event, SpaceSwipe::zoomDeltaY, kNewerZoomDelta);
  CGEventSetDoubleValueField(event, SpaceSwipe::timestampAlias, static_cast<double>(mach_absolute_time()));
  CGEventSetDoubleValueField(event, SpaceSwipe::positionX, kNewerPositionX);
  if (phase == SpaceSwipe::ended) CGEventSetDoubleValueField(event, SpaceSwipe::velocityX, p * kNewerEndVelocity);

  CGEventRef companion = SpaceSwipe::augment(event);
  if (!companion) return {};
  CGEventRef gesture = CGEventCreate(nullptr);
  if (!gesture) return {};
  CGEventSetIntegerValueField(gesture, SpaceSwipe::eventType, SpaceSwipe::gestureEvent);
  if (at) CGEventSetLocation(gesture, *at);
  return {companion, gesture};
}

/// Checks until the target shows or the deadline has passed; runs once now, then every 0.01 s.
void waitForSwipe(std::int64_t space, std::uint64_t deadline, SpaceSwipe::Done done) {
  if (Private::currentSpaces().contains(space)) {
    missCount() = 0;
    done(true);
    return;
  }
  if (platform::clock().monotonicNanos() > deadline) {
    const int misses = ++missCount();
    std::string line =
        "instant jump to space " + std::to_string(space) + " didn't land (" + std::to_string(misses) + " in a row)";
    if (misses == SpaceSwipe::maxMisses) line += "; sliding from now on";
    Diagnostics::log(line);
    done(false);
    return;
  }
  platform::mainQueue().asyncAfter(kCheckInterval, [space, deadline, done = std::move(done)]() mutable {
    waitForSwipe(space, deadline, std::move(done));
  });
}

}  // namespace

int SpaceSwipe::misses() { return missCount(); }

bool SpaceSwipe::augmented() {
  static auto& slot = *new platform::OncePerSystem<bool>(
      [] { return NSProcessInfo::processInfo().operatingSystemVersion().majorVersion > kNewerLayoutAbove; });
  return slot.get();
}

bool SpaceSwipe::naturalScrolling() {
  bool valid = false;
  const bool value =
      CFPreferencesGetAppBooleanValue("com.apple.swipescrolldirection", kCFPreferencesAnyApplication, &valid);
  return !valid || value;
}

bool SpaceSwipe::jumpToSpaceOf(std::uint32_t window, bool slide, Done done) {
  const auto spaces = Private::spaces(window);
  if (spaces.empty()) return false;
  return jump(spaces.front(), slide, std::move(done));
}

bool SpaceSwipe::jump(std::int64_t space, bool slide, Done done) {
  if (Private::currentSpaces().contains(space)) return false;
  const auto steps = Private::steps(space);
  if (!steps || steps->steps == 0) return false;
  if (!slide && misses() < maxMisses) {
    swipe(space, std::move(done));
  } else {
    SpaceSlide::go(space, std::move(done));
  }
  return true;
}

void SpaceSwipe::swipe(std::int64_t space, Done done) {
  if (Private::currentSpaces().contains(space)) {
    done(true);
    return;
  }
  const auto steps = Private::steps(space);
  if (!steps || steps->steps == 0) {
    done(false);
    return;
  }
  const bool right = steps->steps > 0;
  for (int i = 0; i < std::abs(steps->steps); ++i) post(right, steps->center);
  waitForSwipe(space, platform::clock().monotonicNanos() + kSwipeWaitNanos, std::move(done));
}

void SpaceSwipe::post(std::int64_t phase, bool right, std::optional<CGPoint> at) {
  for (const CGEventRef& event : phaseEvents(phase, right, at)) CGEventPost(kCGSessionEventTap, event);
}

void SpaceSwipe::post(bool right, std::optional<CGPoint> at) {
  for (std::int64_t phase : kPhases) post(phase, right, at);
}

double SpaceSwipe::sign(bool right) {
  const double towardsRight = naturalScrolling() ? -1 : 1;
  return right ? towardsRight : -towardsRight;
}

CGEventRef SpaceSwipe::augment(const CGEventRef& event) {
  const auto serialised = CGEventCreateData(nullptr, event);
  if (!serialised) return nullptr;
  const auto data = augmentedData(*serialised, event);
  if (!data) return nullptr;
  return CGEventCreateFromData(nullptr, *data);
}

std::optional<platform::PlistData> SpaceSwipe::augmentedData(const platform::PlistData& serialised,
                                                             const CGEventRef& event) {
  if (serialised.size() < 4 || serialised[0] != 0 || serialised[1] != 0 || serialised[2] != 0 || serialised[3] != 2) {
    return std::nullopt;
  }
  const std::int64_t eventPhase = CGEventGetIntegerValueField(event, phase);
  const double vx = CGEventGetDoubleValueField(event, velocityX);
  const double vy = CGEventGetDoubleValueField(event, velocityY);
  const bool moving = eventPhase == ended || vx != 0 || vy != 0;

  std::uint64_t stamp = CGEventGetTimestamp(event);
  if (stamp == 0) stamp = mach_absolute_time();

  platform::PlistData record;
  putLittleEndian(record, stamp, 8);
  putLittleEndian(record, 0, 8);
  putLittleEndian(record, 0, 4);
  putLittleEndian(record, 0, 4);
  putLittleEndian(record, moving ? 2 : 1, 4);
  putLittleEndian(record, kRecordHeaderLength, 4);
  putLittleEndian(record, static_cast<std::uint64_t>(dockSwipe), 4);
  putLittleEndian(record, static_cast<std::uint32_t>(eventPhase) << 24, 4);
  putLittleEndian(record, 0, 4);  // one flag byte and three bytes of padding
  putFixed(record, CGEventGetDoubleValueField(event, positionX));
  putFixed(record, CGEventGetDoubleValueField(event, positionY));
  putLittleEndian(record, 0, 4);
  putLittleEndian(record, static_cast<std::uint32_t>(CGEventGetIntegerValueField(event, swipeMask)), 4);
  putLittleEndian(record, static_cast<std::uint16_t>(CGEventGetIntegerValueField(event, swipeMotion)), 2);
  putLittleEndian(record, kGestureStage, 2);
  putFixed(record, CGEventGetDoubleValueField(event, swipeProgress));
  if (moving) {
    putLittleEndian(record, kMotionBlockLength, 4);
    putLittleEndian(record, kMotionBlockKind, 4);
    putLittleEndian(record, 0, 4);
    putLittleEndian(record, 1, 4);  // one flag byte and three bytes of padding
    putFixed(record, vx);
    putFixed(record, vy);
    putLittleEndian(record, 0, 4);
  }

  platform::PlistData data = serialised;
  data.push_back(static_cast<std::uint8_t>(record.size() >> 8));
  data.push_back(static_cast<std::uint8_t>(record.size() & 0xFF));
  data.push_back(kRecordKind);
  data.push_back(kRecordTag);
  data.insert(data.end(), record.begin(), record.end());
  return data;
}

std::int32_t SpaceSwipe::fixed(double x) {
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  if (std::isnan(x)) return 0;
  const double scaled = x * 65536;
  // Compare before converting: a double beyond the 64-bit range must not be cast.
  if (scaled <= static_cast<double>(low)) return static_cast<std::int32_t>(low);
  if (scaled >= static_cast<double>(high)) return static_cast<std::int32_t>(high);
  auto value = static_cast<std::int64_t>(scaled);
  if (value == 0 && x != 0) value = x > 0 ? 1 : -1;
  return static_cast<std::int32_t>(value);
}

}  // namespace trelliq
