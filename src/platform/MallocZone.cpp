#include "platform/MallocZone.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex& shrinkersMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::vector<std::function<void()>>& shrinkers() {
  static auto* list = new std::vector<std::function<void()>>;
  return *list;
}

#if defined(__GLIBC__)
// The C library maps a block on its own only from a size it raises to the largest block
// freed so far; from then on display-sized pictures (captures, composed Spaces, layers)
// come from the heaps and stay resident long after they are gone. Fixed, a block of a
// megabyte or more is mapped on its own and unmapped when freed, as a Mac's large blocks
// are; the small pictures and layers a paint reuses stay in the heaps.
constexpr int kMappedFrom = 1 << 20;
const bool kLargeBlocksMapped = mallopt(M_MMAP_THRESHOLD, kMappedFrom) == 1;
#endif

}  // namespace

std::size_t malloc_zone_pressure_relief(malloc_zone_t* zone, std::size_t goal) {
  (void)zone;
  (void)goal;
  platform::shrinkCaches();
#if defined(__GLIBC__)
  (void)kLargeBlocksMapped;
  malloc_trim(0);
#endif
  return 0;
}

void platform::shrinkCaches() {
  std::vector<std::function<void()>> shrink;
  {
    const std::lock_guard lock(shrinkersMutex());
    shrink = shrinkers();
  }
  for (const auto& f : shrink) f();
}

void platform::onPressureRelief(std::function<void()> shrink) {
  const std::lock_guard lock(shrinkersMutex());
  shrinkers().push_back(std::move(shrink));
}
