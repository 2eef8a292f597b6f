#pragma once
// The system allocator's relief call: hands the free memory the heap holds back to the
// system, so a program that waits between bursts of work is not left holding the pages
// the burst grew its heaps by. Here the C library's heaps, every thread's arena among
// them, are trimmed. Any thread; it may take a few milliseconds, so call it while idle.

#include <cstddef>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

struct malloc_zone_t;

/// Gives back free memory of `zone` (null: every zone) beyond `goal` bytes (0: all it
/// can); answers the bytes it gave back where the allocator says, else 0.
inline std::size_t malloc_zone_pressure_relief(malloc_zone_t* zone, std::size_t goal) {
  (void)zone;
  (void)goal;
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
  return 0;
}
