#pragma once
// The system allocator as a Mac's behaves for a program that waits between bursts of
// work: a large block goes back to the system as soon as it is freed, and the relief call
// hands back the free memory the heaps still hold. Any thread.

#include <cstddef>
#include <functional>

struct malloc_zone_t;

/// Gives back free memory of `zone` (null: every zone) beyond `goal` bytes (0: all it
/// can); answers the bytes it gave back where the allocator says, else 0. Every thread's
/// heap is trimmed: it may take a few milliseconds, so call it while idle.
std::size_t malloc_zone_pressure_relief(malloc_zone_t* zone, std::size_t goal);

namespace platform {

/// Registers `shrink`, which every `malloc_zone_pressure_relief` calls first, on its own
/// thread: a cache of pictures lets go of what it keeps past a small floor then, so its
/// memory goes back with the heaps' free pages, as a Mac's caches shrink under memory
/// pressure. Kept for the process.
void onPressureRelief(std::function<void()> shrink);
/// Runs what `onPressureRelief` registered, without giving anything back to the system:
/// for the end of a burst of work that the next may follow at once (the caches' memory
/// then serves the next burst instead of piling up beside it).
void shrinkCaches();

}  // namespace platform
