// When a kept layer is found again: the very same pictures, and a walk of the drawing that
// meets every node it kept.

#include <gtest/gtest.h>

#include <QImage>
#include <new>
#include <utility>

#include "platform/Image.h"
#include "platform/MallocZone.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptLayers.h"

namespace trelliq::views {
namespace {

using scene::Node;

Node picture(const CGImageRef& image) {
  Node n;
  n.frame = CGRect(0, 0, 4, 4);
  n.content = scene::Picture{.image = image};
  return n;
}

Node square(double x) {
  scene::Shape shape;
  shape.kind = scene::Shape::Kind::rectangle;
  shape.fill = scene::Paint{scene::Paint::Tone::white, 1};
  Node n;
  n.frame = CGRect(x, 0, 2, 2);
  n.content = shape;
  return n;
}

bool foundAfterKeeping(KeptLayers& layers, const Node& kept, const Node& again) {
  const KeptLayers::Found missed = layers.find(kept, QTransform());
  if (missed.layer) return false;
  layers.keep(kept, QTransform(), missed, QPoint(), QImage(4, 4, QImage::Format_ARGB32_Premultiplied));
  return layers.find(again, QTransform()).layer != nullptr;
}

TEST(KeptLayersTest, ANewPictureMadeWhereAFreedOneLayIsDrawnAnew) {
  test::ensureWidgets();
  // Both pictures in the same place, as the allocator may well hand out a freed block again.
  alignas(CGImage) unsigned char place[sizeof(CGImage)];
  const auto made = [&](QColor colour) {
    QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return CGImageRef(new (place) CGImage(image), [](const CGImage* gone) { gone->~CGImage(); });
  };
  KeptLayers layers;
  {
    const Node red = picture(made(Qt::red));
    ASSERT_TRUE(foundAfterKeeping(layers, red, red)) << "the same picture again";
  }
  const Node blue = picture(made(Qt::blue));
  EXPECT_FALSE(layers.find(blue, QTransform()).layer);
}

TEST(KeptLayersTest, AnUnchangedListUnderARebuiltOneIsFoundAgain) {
  test::ensureWidgets();
  Node group;
  group.frame = CGRect(0, 0, 4, 4);
  group.children = scene::NodeList{square(0), square(2)};
  Node tile;
  tile.frame = CGRect(0, 0, 4, 4);
  tile.children = scene::NodeList{group, square(1)};
  Node rebuilt = tile;
  rebuilt.children = scene::NodeList{group, square(1)};  // a list of its own; the group's is shared
  ASSERT_TRUE(std::as_const(rebuilt).children[0].children.sharedWith(std::as_const(tile).children[0].children));
  KeptLayers layers;
  EXPECT_TRUE(foundAfterKeeping(layers, tile, rebuilt));
}

// While the program waits, the panels' layers keep only the most recently used: the rest
// go back to the system with the heaps' free pages.
TEST(KeptLayersTest, TheSharedLayersShrinkWhenTheHeapsGiveBackMemory) {
  test::ensureWidgets();
  KeptLayers& layers = KeptLayers::shared();
  const auto wide = [](int width) {
    Node n = square(0);
    n.frame.size.width = width;
    return n;
  };
  int width = 1;
  for (; layers.bytes() < KeptLayers::keptBetweenSessions * 2; ++width) {
    const Node node = wide(width);
    const KeptLayers::Found missed = layers.find(node, QTransform());
    ASSERT_FALSE(missed.layer);
    layers.keep(node, QTransform(), missed, QPoint(), QImage(512, 512, QImage::Format_ARGB32_Premultiplied));
  }
  const Node first = wide(1), last = wide(width - 1);
  malloc_zone_pressure_relief(nullptr, 0);
  EXPECT_LE(layers.bytes(), KeptLayers::keptBetweenSessions);
  EXPECT_TRUE(layers.find(last, QTransform()).layer) << "the most recently used stays";
  EXPECT_FALSE(layers.find(first, QTransform()).layer);
}

}  // namespace
}  // namespace trelliq::views
