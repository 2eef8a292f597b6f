// What the kept layers hold on the heap, against what they count towards their budget.

#include <gtest/gtest.h>

#include <QImage>
#include <cstddef>
#include <string>

#include "support/HeapInUse.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptLayers.h"
#include "switcher/views/ScenePainter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocator answers it; their malloc statistics are not glibc's.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <atomic>
#include <cstdlib>
#include <new>

// glibc's statistics count each block's own bookkeeping (a size word, rounding up to 16
// bytes, a least block of 32), which no budget of what is asked for can count: the blocks
// operator new hands out are counted, and each is allowed that much.
namespace {
std::atomic<long> gBlocksLive{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  gBlocksLive.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
  if (!p) return;
  gBlocksLive.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
#endif

namespace trelliq::views {
namespace {

using scene::Node;
using test::heapInUse;

// What the allocator itself adds to the blocks made since `blocksBefore` (`blocksNow()`).
long blocksNow() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return 0;  // the sanitizers count only what was asked for
#else
  return gBlocksLive.load();
#endif
}
std::size_t bookkeepingOf(long blocks) {
  constexpr std::size_t kPerBlock = 32;
  return blocks > 0 ? static_cast<std::size_t>(blocks) * kPerBlock : 0;
}

// A screen tile of few pixels and many nodes: sixty outlined windows, each two nodes.
Node busyTile(int variant) {
  Node tile;
  tile.frame = CGRect(0, 0, 30, 20);
  for (int i = 0; i < 60; ++i) {
    scene::Shape outline;
    outline.kind = scene::Shape::Kind::roundedRectangle;
    outline.radius = 1;
    outline.fill = scene::Paint{scene::Paint::Tone::white, 0.4 + variant / 1000.0};
    outline.stroke = scene::Stroke{{scene::Paint::Tone::black, 1}, 0.5};
    Node window;
    window.key = "a window's key, longer than a short string " + std::to_string(i);
    window.help = "help that is never drawn " + std::to_string(i);
    window.frame = CGRect(i % 10 * 3, i / 10 * 3, 3, 2);
    window.content = outline;
    Node inner;
    inner.frame = CGRect(0.5, 0.5, 2, 1);
    inner.content = outline;
    window.children.push_back(inner);
    tile.children.push_back(window);
  }
  return tile;
}

TEST(KeptLayersHeapTest, WhatTheLayersHoldIsWhatTheyCountTowardsTheirBudget) {
  test::ensureWidgets();
  KeptLayers& kept = KeptLayers::shared();
  const std::size_t counted = kept.bytes(), layers = kept.count();
  const std::size_t before = heapInUse();
  const long blocksBefore = blocksNow();
  // Each tile drawn differently, so each is kept as a layer of its own.
  for (int variant = 0; variant < 300; ++variant) ScenePainter::render(busyTile(variant), QSize(40, 30));
  const std::size_t held = heapInUse() - before;
  const std::size_t bookkeeping = bookkeepingOf(blocksNow() - blocksBefore);
  ASSERT_EQ(kept.count(), layers + 300) << "the tiles were kept";
  const std::size_t newlyCounted = kept.bytes() - counted;
  // Besides the pixels: the drawings the layers were made for, and no painter buffers left
  // on them. A little room for what drawing sets up once.
  EXPECT_LE(held, newlyCounted + newlyCounted / 20 + (64u << 10) + bookkeeping)
      << "held " << held << " bytes, counted " << newlyCounted << ", the allocator's own " << bookkeeping;
}

}  // namespace
}  // namespace trelliq::views
