// When a kept layer is found again: the very same pictures, and a walk of the drawing that
// meets every node it kept.

#include <gtest/gtest.h>

#include <QImage>
#include <new>
#include <utility>

#include "platform/Image.h"
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

}  // namespace
}  // namespace trelliq::views
