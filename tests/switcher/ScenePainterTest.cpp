// Painting scene trees: small trees rendered off screen and checked pixel by pixel.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/Image.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptLayers.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {
namespace {

using scene::Node;
using scene::Paint;
using Tone = scene::Paint::Tone;

class ScenePainterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ensureWidgets(); }

  static Node node(CGRect frame, decltype(Node::content) content = std::monostate{}) {
    Node n;
    n.key = "n";
    n.frame = frame;
    n.content = std::move(content);
    return n;
  }
  static scene::Shape fill(scene::Shape::Kind kind, Paint paint = {Tone::white, 1}) {
    scene::Shape s;
    s.kind = kind;
    s.fill = paint;
    return s;
  }
  static int alpha(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)); }
  // Whether any pixel in the columns [x0, x1) carries ink.
  static bool inkInColumns(const QImage& image, int x0, int x1) {
    for (int x = x0; x < x1; ++x) {
      for (int y = 0; y < image.height(); ++y) {
        if (alpha(image, x, y) > 0) return true;
      }
    }
    return false;
  }
  // A picture of three bands: green | red | blue | green (10, 10, 10, 10 wide), 20 high.
  static CGImageRef bands() {
    QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x < 40; ++x) {
      const QRgb c = x < 10 || x >= 30 ? qRgb(0, 255, 0) : x < 20 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
      for (int y = 0; y < 20; ++y) image.setPixel(x, y, c);
    }
    return std::make_shared<const CGImage>(image);
  }
};

TEST_F(ScenePainterTest, GlassRoundsItsEndsAtMostToHalfItsHeightAndLaysTheHazeUnder) {
  // Asking for 58 on a 20-high plate gives round ends of radius 10, not flat ellipses.
  const QImage plate = ScenePainter::render(node(CGRect(0, 0, 100, 20), scene::Glass{58, 0}), QSize(100, 20));
  EXPECT_EQ(alpha(plate, 0, 0), 0) << "the corner is cut";
  EXPECT_GT(alpha(plate, 3, 5), 0) << "inside a round end of radius 10";
  EXPECT_GT(alpha(plate, 50, 1), 0) << "the straight top edge runs along the middle";

  const QImage clear = ScenePainter::render(node(CGRect(0, 0, 60, 40), scene::Glass{8, 0}), QSize(60, 40));
  const QImage hazy = ScenePainter::render(node(CGRect(0, 0, 60, 40), scene::Glass{8, 1}), QSize(60, 40));
  EXPECT_GT(alpha(hazy, 30, 20), alpha(clear, 30, 20)) << "the haze makes the plate denser";
  EXPECT_LT(qGray(hazy.pixel(30, 20)) * alpha(hazy, 30, 20), 255 * 255) << "and it stays dark";

  const QImage flat = ScenePainter::render(node(CGRect(0, 0, 60, 0), scene::Glass{8, 1}), QSize(60, 10));
  EXPECT_FALSE(inkInColumns(flat, 0, 60)) << "a plate without height draws nothing";
}

TEST_F(ScenePainterTest, APlateDrawnAgainFromItsKeptPictureLooksAsItWasFilled) {
  // A long, tall plate with its rim and a ring inside it, off whole pixels, at twice the
  // scale: first filled as it is, then, drawn again, laid on from kept pictures whose
  // straight parts repeat along it.
  Node plate = node(CGRect(10.3, 5.6, 430.25, 150.5), scene::Glass{18, 0.6});
  scene::Shape ring;
  ring.kind = scene::Shape::Kind::roundedRectangle;
  ring.radius = 9;
  ring.stroke = scene::Stroke{{Tone::white, 0.8}, 1.5};
  plate.children.push_back(node(CGRect(20.4, 12.7, 300.5, 90.2), ring));
  const auto drawn = [&] {
    QImage image(900, 330, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(2, 2);
    ScenePainter::paint(painter, plate);
    return image;
  };
  const QImage filled = drawn();
  for (int again = 0; again < 2; ++again) {
    const QImage laid = drawn();
    int worst = 0;
    for (int y = 0; y < laid.height(); ++y) {
      for (int x = 0; x < laid.width(); ++x) {
        const QRgb a = filled.pixel(x, y), b = laid.pixel(x, y);
        worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qAlpha(a) - qAlpha(b))});
      }
    }
    EXPECT_LE(worst, 2) << "drawing " << again + 2;
  }
}

TEST_F(ScenePainterTest, OpacityAndScaleApplyToTheWholeSubtree) {
  Node parent = node(CGRect(10, 10, 40, 40));
  parent.opacity = 0.5;
  parent.children.push_back(node(CGRect(0, 0, 40, 40), fill(scene::Shape::Kind::rectangle)));
  QImage image = ScenePainter::render(parent, QSize(60, 60));
  EXPECT_NEAR(alpha(image, 30, 30), 128, 2) << "the child is drawn at its parent's opacity";
  EXPECT_EQ(alpha(image, 5, 5), 0) << "the parent's frame places the child";

  // Half size about the top-left corner keeps the child in the parent's first quarter.
  parent.opacity = 1;
  parent.scale = 0.5;
  parent.anchor = {0, 0};
  image = ScenePainter::render(parent, QSize(60, 60));
  EXPECT_EQ(alpha(image, 15, 15), 255);
  EXPECT_EQ(alpha(image, 35, 35), 0);
  // About the centre the same scale leaves the middle quarter.
  parent.anchor = {0.5, 0.5};
  image = ScenePainter::render(parent, QSize(60, 60));
  EXPECT_EQ(alpha(image, 15, 15), 0);
  EXPECT_EQ(alpha(image, 30, 30), 255);

  parent.scale = 0;
  EXPECT_FALSE(inkInColumns(ScenePainter::render(parent, QSize(60, 60)), 0, 60));
}

TEST_F(ScenePainterTest, ASeeThroughNodeIsBlendedAsOnePieceSoItsPiecesCoverEachOther) {
  // White under black, overlapping in the middle column, in a parent at 0.6 that is also
  // scaled and whose child casts a shadow past the parent's frame.
  Node parent = node(CGRect(10, 10, 60, 20));
  parent.opacity = 0.6;
  parent.children.push_back(node(CGRect(0, 0, 40, 20), fill(scene::Shape::Kind::rectangle, {Tone::white, 1})));
  scene::Shape dark = fill(scene::Shape::Kind::rectangle, {Tone::black, 1});
  dark.shadow = scene::Shadow{1, 0, {0, 6}};
  parent.children.push_back(node(CGRect(20, 0, 40, 20), dark));
  for (const double scale : {1.0, 2.0}) {
    parent.scale = scale;
    parent.anchor = {0, 0};
    const QImage image = ScenePainter::render(parent, QSize(150, 80));
    const auto at = [&](double x, double y) {
      return image.pixel(static_cast<int>(10 + x * scale), static_cast<int>(10 + y * scale));
    };
    EXPECT_NEAR(qAlpha(at(30, 10)), 153, 2) << "scale " << scale << ": the overlap at the parent's opacity";
    EXPECT_EQ(qRed(at(30, 10)), 0) << "scale " << scale << ": and the white beneath does not show through";
    EXPECT_NEAR(qAlpha(at(10, 10)), 153, 2) << "scale " << scale;
    EXPECT_GT(qRed(at(10, 10)), 140) << "scale " << scale << ": the white alone is white";
    EXPECT_NEAR(qAlpha(at(50, 23)), 153, 2) << "scale " << scale << ": the shadow below the frame is kept";
  }
}

TEST_F(ScenePainterTest, ALargeSeeThroughNodeDrawnInPartLeavesNothingInTheNextOne) {
  // Groups too large to keep, drawn only within a small part (a change under them), one
  // after the other: white on the left, then on the right, each over a faint base.
  const auto group = [&](double x) {
    Node parent = node(CGRect(0, 0, 600, 600));
    parent.opacity = 0.5;
    parent.children.push_back(node(CGRect(0, 0, 600, 600), fill(scene::Shape::Kind::rectangle, {Tone::black, 0.2})));
    parent.children.push_back(node(CGRect(x, 0, 20, 20), fill(scene::Shape::Kind::rectangle, {Tone::white, 1})));
    QImage image(600, 600, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setClipRect(QRect(0, 0, 60, 20));
    ScenePainter::paint(painter, parent);
    return image;
  };
  const QImage left = group(0), right = group(40);
  EXPECT_GT(qRed(left.pixel(10, 10)), 100);
  EXPECT_EQ(qRed(right.pixel(10, 10)), 0) << "the first group's white is gone from the second";
  EXPECT_GT(qRed(right.pixel(50, 10)), 100);
  EXPECT_EQ(right.pixel(10, 10), left.pixel(50, 10)) << "the base alone, as the first drew it";
  EXPECT_EQ(alpha(right, 100, 100), 0) << "nothing is drawn outside the part";
}

TEST_F(ScenePainterTest, ShapesStrokeInsideTheirEdgeAndCastTheirShadowOutside) {
  scene::Shape ring;
  ring.kind = scene::Shape::Kind::rectangle;
  ring.stroke = scene::Stroke{{Tone::white, 1}, 2};
  QImage image = ScenePainter::render(node(CGRect(5, 5, 20, 20), ring), QSize(30, 30));
  EXPECT_EQ(alpha(image, 5, 15), 255) << "the line lies on the inside of the left edge";
  EXPECT_EQ(alpha(image, 6, 15), 255);
  EXPECT_EQ(alpha(image, 4, 15), 0) << "nothing spills outside";
  EXPECT_EQ(alpha(image, 15, 15), 0) << "no fill";

  // A circle in a wide frame keeps its round shape, centred.
  image = ScenePainter::render(node(CGRect(0, 0, 40, 20), fill(scene::Shape::Kind::circle)), QSize(40, 20));
  EXPECT_EQ(alpha(image, 20, 10), 255);
  EXPECT_EQ(alpha(image, 5, 10), 0);

  scene::Shape lifted = fill(scene::Shape::Kind::roundedRectangle);
  lifted.radius = 4;
  lifted.shadow = scene::Shadow{1, 4, {0, 6}};
  image = ScenePainter::render(node(CGRect(10, 10, 20, 20), lifted), QSize(40, 50));
  EXPECT_GT(alpha(image, 20, 33), 0) << "the shadow shows below";
  EXPECT_LT(qRed(image.pixel(20, 33)), 40) << "in black";
  EXPECT_EQ(alpha(image, 20, 4), 0) << "and not above, where the offset takes it away";

  // Each shape's shadow is its own, however many were cast before; the same one looks the same.
  const QImage first = image;
  image = ScenePainter::render(node(CGRect(10, 10, 20, 30), lifted), QSize(40, 60));
  EXPECT_GT(alpha(image, 20, 43), 0) << "a taller shape's shadow reaches below it";
  EXPECT_EQ(alpha(image, 20, 58), 0);
  EXPECT_EQ(ScenePainter::render(node(CGRect(10, 10, 20, 20), lifted), QSize(40, 50)), first);
}

TEST_F(ScenePainterTest, ColoursFollowTheDarkGlass) {
  EXPECT_EQ(ScenePainter::color({Tone::primary, 0.5}).rgba(), qRgba(255, 255, 255, 128));
  EXPECT_LT(ScenePainter::color({Tone::secondary, 1}).alpha(), ScenePainter::color({Tone::primary, 1}).alpha());
  EXPECT_EQ(ScenePainter::color({Tone::black, 2}).rgba(), qRgba(0, 0, 0, 255)) << "opacity is clamped";
  EXPECT_EQ(ScenePainter::color({Tone::white, -1}).alpha(), 0);
}

TEST_F(ScenePainterTest, TextStaysOnOneLineInsideItsFrame) {
  scene::Text text{"A long name that never fits in forty points", 13, scene::Weight::semibold, {Tone::white, 1}};
  QImage image = ScenePainter::render(node(CGRect(10, 0, 40, 20), text), QSize(100, 20));
  EXPECT_TRUE(inkInColumns(image, 10, 50)) << "the cut text shows";
  EXPECT_FALSE(inkInColumns(image, 51, 100)) << "and stops at the frame's edge";
  EXPECT_FALSE(inkInColumns(image, 0, 9));

  // A short word sits in the middle of a wide frame.
  text.text = "ok";
  image = ScenePainter::render(node(CGRect(0, 0, 100, 20), text), QSize(100, 20));
  EXPECT_FALSE(inkInColumns(image, 0, 35));
  EXPECT_TRUE(inkInColumns(image, 40, 60));
  EXPECT_FALSE(inkInColumns(image, 65, 100));
}

TEST_F(ScenePainterTest, SymbolsDrawTheirGlyphsAndUnknownNamesNothing) {
  for (const char* name : {"menubar.rectangle", "minus", "xmark.circle.fill", "menubar.dock.rectangle"}) {
    const scene::Symbol symbol{name, 16, scene::Weight::semibold, {Tone::white, 1}};
    const QImage image = ScenePainter::render(node(CGRect(4, 4, 20, 20), symbol), QSize(28, 28));
    EXPECT_TRUE(inkInColumns(image, 4, 24)) << name;
    EXPECT_FALSE(inkInColumns(image, 0, 4)) << name << " stays inside its frame";
  }
  // The cross is cut out of the disc.
  const QImage mark = ScenePainter::render(
      node(CGRect(0, 0, 20, 20), scene::Symbol{"xmark.circle.fill", 20, scene::Weight::semibold, {Tone::white, 1}}),
      QSize(20, 20));
  EXPECT_EQ(alpha(mark, 10, 10), 0);
  EXPECT_EQ(alpha(mark, 10, 3), 255);
  // The dock glyph adds a bar at the foot that the plain one lacks.
  const auto glyph = [&](const char* name) {
    return ScenePainter::render(node(CGRect(0, 0, 40, 40), scene::Symbol{name, 40, scene::Weight::regular, {}}),
                                QSize(40, 40));
  };
  EXPECT_GT(alpha(glyph("menubar.dock.rectangle"), 20, 26), alpha(glyph("menubar.rectangle"), 20, 26));

  const QImage none =
      ScenePainter::render(node(CGRect(0, 0, 20, 20), scene::Symbol{"star.fill", 16, {}, {}}), QSize(20, 20));
  EXPECT_FALSE(inkInColumns(none, 0, 20));
}

TEST_F(ScenePainterTest, AFadedTileIsLaidOnFromItsKeptLayerUntilItsPictureChanges) {
  // A window tile at rest: its picture and border blended at the faded opacity.
  const auto tile = [&](const CGImageRef& image, double width, double height = 20) {
    Node faded = node(CGRect(5, 5, width, height));
    faded.opacity = 0.7;
    scene::Picture picture;
    picture.image = image;
    picture.cornerRadius = 3;
    faded.children.push_back(node(CGRect(0, 0, width, height), picture));
    scene::Shape border;
    border.kind = scene::Shape::Kind::roundedRectangle;
    border.radius = 3;
    border.stroke = scene::Stroke{{Tone::white, 0.3}, 0.5};
    faded.children.push_back(node(CGRect(0, 0, width, height), border));
    return ScenePainter::render(faded, QSize(static_cast<int>(width) + 10, static_cast<int>(height) + 10));
  };
  const auto solid = [](QColor colour) {
    QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return std::make_shared<const CGImage>(image);
  };
  // The middle of the tile: the picture's colour at the faded opacity.
  const auto shows = [](const QImage& image, QColor colour) {
    const QRgb p = image.pixel(25, 15);  // premultiplied
    const auto near = [](int value, int full) { return std::abs(value - full * 178 / 255) <= 2; };
    return near(qAlpha(p), 255) && near(qRed(p), colour.red()) && near(qGreen(p), colour.green()) &&
           near(qBlue(p), colour.blue());
  };
  KeptLayers& kept = KeptLayers::shared();
  const CGImageRef red = solid(Qt::red);
  EXPECT_TRUE(shows(tile(red, 40), Qt::red));
  const std::size_t layers = kept.count();
  EXPECT_TRUE(shows(tile(red, 40), Qt::red));
  EXPECT_EQ(kept.count(), layers) << "the same tile again is laid on from its layer";

  // The window's next picture shows at once.
  EXPECT_TRUE(shows(tile(solid(Qt::blue), 40), Qt::blue));
  EXPECT_TRUE(shows(tile(solid(Qt::green), 40), Qt::green));

  // Many tiles of other sizes: the layers kept stay within their budget.
  for (int width = 300; width < 500; ++width) tile(red, width, 500);
  EXPECT_LE(kept.bytes(), KeptLayers::budget);
  EXPECT_GT(kept.count(), 10u);
}

TEST_F(ScenePainterTest, ABusyScreenTileIsLaidOnFromItsKeptLayerWhereverItIsUntilWhatItDrawsChanges) {
  const auto solid = [](QColor colour) {
    QImage image(10, 6, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return std::make_shared<const CGImage>(image);
  };
  // Sixty window pictures in a grid of 10 × 6 cells, one of them (the eighth) green.
  std::vector<CGImageRef> pictures(60, solid(Qt::red));
  pictures[7] = solid(Qt::green);
  const auto screen = [&](CGPoint at) {
    Node tile = node(CGRect(at.x, at.y, 100, 60));
    for (int i = 0; i < 60; ++i) {
      scene::Picture picture;
      picture.image = pictures[static_cast<std::size_t>(i)];
      tile.children.push_back(node(CGRect(i % 10 * 10, i / 10 * 10, 10, 6), picture));
    }
    return tile;
  };
  // The middle of cell `i` of a tile drawn at (x, y).
  const auto cell = [](const QImage& image, int x, int y, int i) {
    return image.pixel(x + i % 10 * 10 + 5, y + i / 10 * 10 + 3);
  };
  KeptLayers& kept = KeptLayers::shared();
  const auto layers = [&] { return std::pair(kept.count(), kept.bytes()); };
  const auto before = layers();
  const QImage first = ScenePainter::render(screen({0, 0}), QSize(130, 80));
  EXPECT_EQ(cell(first, 0, 0, 7), qRgb(0, 255, 0));
  EXPECT_EQ(cell(first, 0, 0, 8), qRgb(255, 0, 0));
  const auto kept1 = layers();
  EXPECT_NE(kept1, before) << "the tile is kept as one layer";
  EXPECT_EQ(ScenePainter::render(screen({0, 0}), QSize(130, 80)), first);
  const QImage moved = ScenePainter::render(screen({20, 10}), QSize(130, 80));
  EXPECT_EQ(layers(), kept1) << "the same tile again, even moved by whole pixels, is laid on from its layer";
  EXPECT_EQ(cell(moved, 20, 10, 7), qRgb(0, 255, 0));
  EXPECT_EQ(alpha(moved, 10, 5), 0) << "nothing is left where the tile no longer is";


  // A picture that draws nothing (about to fade in) changes nothing drawn; shown, it does.
  Node fading = screen({0, 0});
  Node cover = node(CGRect(0, 0, 100, 60), scene::Picture{.image = solid(Qt::blue)});
  cover.opacity = 0;
  fading.children.push_back(cover);
  EXPECT_EQ(ScenePainter::render(fading, QSize(130, 80)), first);
  EXPECT_EQ(layers(), kept1);
  fading.children.back().opacity = 1;
  EXPECT_EQ(cell(ScenePainter::render(fading, QSize(130, 80)), 0, 0, 8), qRgb(0, 0, 255));

  // A window's next picture shows at once.
  pictures[8] = solid(Qt::green);
  EXPECT_EQ(cell(ScenePainter::render(screen({0, 0}), QSize(130, 80)), 0, 0, 8), qRgb(0, 255, 0));

  // So does a change made in place in a tree drawn before.
  pictures[9] = solid(Qt::blue);
  Node drawn = screen({0, 0});
  ScenePainter::render(drawn, QSize(130, 80));
  std::get<scene::Picture>(drawn.children[8].content).border = scene::Stroke{{Tone::white, 1}, 3};
  EXPECT_EQ(cell(ScenePainter::render(drawn, QSize(130, 80)), 0, 0, 8), qRgb(255, 255, 255));

  // Sliding by fractions of a pixel, frame after frame, it is drawn directly rather than
  // kept anew at every step; at rest it is kept again.
  const std::size_t still = kept.count();
  for (int step = 1; step <= 6; ++step) {
    const QImage frame = ScenePainter::render(screen({3 + step * 0.25, 0}), QSize(130, 80));
    EXPECT_EQ(cell(frame, 4, 0, 7), qRgb(0, 255, 0)) << step;
  }
  EXPECT_LE(layers().first, still + 1) << "a sliding tile is not kept at every step";
  const auto sliding = layers();
  ScenePainter::render(screen({4.5, 0}), QSize(130, 80));
  ScenePainter::render(screen({4.5, 0}), QSize(130, 80));
  EXPECT_EQ(layers().first, sliding.first + 1) << "at rest the tile is kept once";
}

TEST_F(ScenePainterTest, APictureAboutToFadeInMarksNothingUntilItShows) {
  Node tile = node(CGRect(10, 10, 40, 30));
  Node placeholder = node(CGRect(0, 0, 40, 30), fill(scene::Shape::Kind::rectangle));
  placeholder.key = "placeholder";
  tile.children.push_back(placeholder);
  Node fading = tile;
  Node image = node(CGRect(5, 5, 10, 10), scene::Picture{.image = bands()});
  image.key = "image";
  image.opacity = 0;
  fading.children.push_back(image);
  std::vector<QRectF> areas;
  ScenePainter::damage(&tile, &fading, areas);
  EXPECT_TRUE(areas.empty()) << "a child at no opacity draws nothing";

  // Its first frame marks its tile, and nothing else.
  Node shown = fading;
  shown.children.back().opacity = 0.1;
  ScenePainter::damage(&fading, &shown, areas);
  ASSERT_FALSE(areas.empty());
  for (const QRectF& area : areas) EXPECT_TRUE(QRectF(10, 10, 40, 30).contains(area));
  EXPECT_TRUE(areas[0].contains(QRectF(15, 15, 10, 10)));
}

TEST_F(ScenePainterTest, PicturesFillOrStretchInsideTheirRoundedClip) {
  scene::Picture picture;
  picture.image = bands();
  picture.fit = scene::Picture::Fit::aspectFill;
  // A square frame shows the middle of the wide picture: no green bands.
  QImage image = ScenePainter::render(node(CGRect(0, 0, 20, 20), picture), QSize(20, 20));
  EXPECT_EQ(image.pixel(2, 10), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(17, 10), qRgb(0, 0, 255));

  picture.fit = scene::Picture::Fit::stretch;
  image = ScenePainter::render(node(CGRect(0, 0, 20, 20), picture), QSize(20, 20));
  EXPECT_EQ(image.pixel(1, 10), qRgb(0, 255, 0)) << "stretched, the whole picture shows";

  picture.cornerRadius = 8;
  picture.border = scene::Stroke{{Tone::black, 1}, 2};
  image = ScenePainter::render(node(CGRect(0, 0, 20, 20), picture), QSize(20, 20));
  EXPECT_EQ(alpha(image, 0, 0), 0) << "the corner is clipped";
  EXPECT_EQ(image.pixel(10, 0), qRgb(0, 0, 0)) << "the border runs along the inside";
  EXPECT_EQ(image.pixel(7, 10), qRgb(255, 0, 0));

  // Without a picture the placeholder is drawn, and without one of those nothing.
  picture.image = nullptr;
  picture.border.reset();
  picture.placeholder = Paint{Tone::white, 1};
  image = ScenePainter::render(node(CGRect(0, 0, 20, 20), picture), QSize(20, 20));
  EXPECT_EQ(image.pixel(10, 10), qRgb(255, 255, 255));
  picture.image = CGImage::empty();
  picture.placeholder.reset();
  EXPECT_FALSE(inkInColumns(ScenePainter::render(node(CGRect(0, 0, 20, 20), picture), QSize(20, 20)), 0, 20));
}

TEST_F(ScenePainterTest, ALargeGroupKeptOfThePartItShowsIsDrawnAgainWhereAnotherPartShows) {
  // A dimmed strip far wider than the picture, with a mark near each end.
  Node strip = node(CGRect(0, 0, 2000, 300));
  strip.opacity = 0.5;
  strip.children.push_back(node(CGRect(0, 0, 2000, 300), fill(scene::Shape::Kind::rectangle, {Tone::black, 0.2})));
  strip.children.push_back(node(CGRect(100, 100, 20, 20), fill(scene::Shape::Kind::rectangle, {Tone::white, 1})));
  strip.children.push_back(node(CGRect(1700, 100, 20, 20), fill(scene::Shape::Kind::rectangle, {Tone::white, 1})));
  EXPECT_GT(qRed(ScenePainter::render(strip, QSize(600, 300)).pixel(110, 110)), 100);
  const KeptLayers::Found found = KeptLayers::shared().find(strip, QTransform(), QRect(0, 0, 600, 300));
  ASSERT_TRUE(found.layer);
  EXPECT_EQ(found.layer->width(), 600) << "only the part that shows is kept";

  // Scrolled by whole pixels: the same drawing, but the kept part no longer covers what shows.
  strip.frame.origin.x = -1500;
  const QImage scrolled = ScenePainter::render(strip, QSize(600, 300));
  EXPECT_GT(qRed(scrolled.pixel(210, 110)), 100) << "the far mark shows";
  EXPECT_EQ(scrolled.pixel(20, 20), ScenePainter::render(strip, QSize(600, 300)).pixel(20, 20));
}

TEST_F(ScenePainterTest, ALargeShapeFilledInBandsHasThePixelsOfOneFill) {
  // Tall smoothed shapes at twice the scale, off whole pixels, under a clip of two
  // rectangles: the bands leave no seam, no gap and nothing twice.
  const QRectF plate(3.3, 2.7, 150, 140), disc(43.1, 31.6, 60, 80);
  const auto painted = [&](bool bands) {
    QImage image(320, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRegion(QRegion(0, 0, 320, 131) + QRegion(0, 150, 200, 150));
    p.scale(2, 2);
    for (const auto& [rect, kind] :
         {std::pair(plate, scene::Shape::Kind::roundedRectangle), std::pair(disc, scene::Shape::Kind::circle)}) {
      const QPainterPath path = ScenePainter::shapePath(kind, rect, 30);
      const auto draw = [&] { p.fillPath(path, QColor(255, 255, 255, 140)); };
      if (bands) {
        ScenePainter::inBands(p, rect, draw);
      } else {
        draw();
      }
    }
    return image;
  };
  const QImage once = painted(false);
  EXPECT_GT(qAlpha(once.pixel(150, 200)), 0);
  EXPECT_EQ(painted(true), once);
}

TEST_F(ScenePainterTest, APictureShownAloneOnPixelsLentByTheLastLeavesNothingOfIt) {
  // The preview's pictures one after the other, rounded and off whole pixels, so their
  // samples have see-through corners and edges: none of the red one shows under the blue.
  const auto solid = [](QColor colour) {
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return std::make_shared<const CGImage>(image);
  };
  const auto shown = [&](const CGImageRef& image) {
    QImage target(320, 220, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    QPainter p(&target);
    scene::Picture picture;
    picture.image = image;
    picture.fit = scene::Picture::Fit::stretch;
    picture.cornerRadius = 20;
    ScenePainter::paintPicture(p, QRectF(10.5, 10.25, 250, 180), picture);
    return target;
  };
  shown(solid(Qt::red));
  const QImage blue = shown(solid(Qt::blue));
  EXPECT_EQ(alpha(blue, 11, 11), 0) << "the corner is see-through";
  for (int y = 0; y < blue.height(); ++y) {
    for (int x = 0; x < blue.width(); ++x) ASSERT_EQ(qRed(blue.pixel(x, y)), 0) << x << "," << y;
  }
  EXPECT_GT(qBlue(blue.pixel(130, 100)), 200);
}

}  // namespace
}  // namespace trelliq::views
