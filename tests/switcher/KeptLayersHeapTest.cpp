// What the kept layers hold on the heap, against what they count towards their budget.

#include <gtest/gtest.h>

#include <QImage>
#include <cstddef>
#include <string>

#include "support/HeapInUse.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptLayers.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {
namespace {

using scene::Node;
using test::heapInUse;

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
  // Each tile drawn differently, so each is kept as a layer of its own.
  for (int variant = 0; variant < 300; ++variant) ScenePainter::render(busyTile(variant), QSize(40, 30));
  const std::size_t held = heapInUse() - before;
  ASSERT_EQ(kept.count(), layers + 300) << "the tiles were kept";
  const std::size_t newlyCounted = kept.bytes() - counted;
  // Besides the pixels: the drawings the layers were made for, and no painter buffers left
  // on them. A little room for what drawing sets up once.
  EXPECT_LE(held, newlyCounted + newlyCounted / 20 + (64u << 10))
      << "held " << held << " bytes, counted " << newlyCounted;
}

}  // namespace
}  // namespace trelliq::views
