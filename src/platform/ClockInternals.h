#pragma once
// Pieces shared by the clock implementations; not for use outside src/platform.

#include <atomic>
#include <cstdint>

#include "platform/Clock.h"

namespace platform {

struct WorkItem::State {
  std::atomic<bool> cancelled{false};
};

namespace detail {

/// Seconds to nanoseconds, rounded up; NaN and negative give 0, huge values saturate.
std::uint64_t nanosFromSeconds(Seconds seconds);
/// a + b, pinned at the largest value instead of wrapping.
std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b);
/// Clears the installed clock if it is `clock`, so a destroyed clock is never handed out.
void forgetClock(Clock* clock);

}  // namespace detail
}  // namespace platform
