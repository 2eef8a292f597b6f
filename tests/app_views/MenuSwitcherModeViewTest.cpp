// The status menu's mode picker as drawn: which tile wears the highlight, that the tiles
// stand where the clicks are hit-tested, and the mode pictures inside them.

#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <array>
#include <cmath>
#include <string>

#include "ViewsDesk.h"
#include "app/views/MenuSwitcherModeView.h"
#include "platform/Foundation.h"

namespace trelliq {
namespace {

constexpr double scale = 2;

void store(const std::string& value) {
  UserDefaults::standard().set(MenuSwitcherMode::key, platform::PlistValue(value));
}

struct Picture {
  CGImageRef image = MenuSwitcherModeView::renderPicture(scale);
  /// The colour under a point given in the picker's points.
  QColor at(double x, double y) const {
    return image->qimage().pixelColor(static_cast<int>(x * scale), static_cast<int>(y * scale));
  }
};

bool accent(const QColor& c) { return c.alpha() > 0 && c.blue() > 150 && c.red() < 80; }
// Drawn in the plain foreground: a dark, visible shape (not just a tile's faint fill).
bool dark(const QColor& c) { return c.alpha() > 120 && c.blue() < 80; }

// How many accent pixels each tile holds, and how many lie clear of every tile.
struct AccentCount {
  std::array<int, 3> tiles{};
  int outside = 0;
};

AccentCount countAccent(const Picture& picture) {
  AccentCount count;
  const QImage& image = picture.image->qimage();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!accent(image.pixelColor(x, y))) continue;
      const CGPoint point{(x + 0.5) / scale, (y + 0.5) / scale};
      bool nearTile = false;  // a smoothed edge may spill into the next pixel
      for (std::size_t i = 0; i < 3; ++i) {
        const CGRect f = MenuSwitcherMode::optionFrame(i);
        if (f.contains(point)) ++count.tiles[i];
        const double m = 1 / scale;
        nearTile |= CGRect(f.minX() - m, f.minY() - m, f.width() + 2 * m, f.height() + 2 * m).contains(point);
      }
      if (!nearTile) ++count.outside;
    }
  }
  return count;
}

TEST(MenuSwitcherModeViewTest, TheHighlightFollowsTheStoredModeAndNothingElse) {
  test::ViewsDesk desk;
  const struct {
    std::string stored;
    int highlighted;  // -1: none
  } cases[] = {{"apps", 0}, {"windows", 1}, {"both", 2}, {"grid", -1}, {"", -1}, {"Apps", -1}};
  for (const auto& c : cases) {
    store(c.stored);
    const Picture picture;
    const AccentCount count = countAccent(picture);
    EXPECT_EQ(count.outside, 0) << c.stored;
    for (int i = 0; i < 3; ++i) {
      if (i == c.highlighted) {
        EXPECT_GT(count.tiles[i], 200) << c.stored << " should light tile " << i;
        // The border runs round the whole tile, inside its edge.
        const CGRect f = MenuSwitcherMode::optionFrame(i);
        EXPECT_TRUE(accent(picture.at(f.minX() + 0.5, f.midY()))) << c.stored;
        EXPECT_TRUE(accent(picture.at(f.maxX() - 0.5, f.midY()))) << c.stored;
        EXPECT_TRUE(accent(picture.at(f.midX(), f.minY() + 0.5))) << c.stored;
        EXPECT_TRUE(accent(picture.at(f.midX(), f.maxY() - 0.5))) << c.stored;
      } else {
        EXPECT_EQ(count.tiles[i], 0) << c.stored << " lit tile " << i;
      }
    }
  }
}

TEST(MenuSwitcherModeViewTest, TilesAreDrawnExactlyWhereClicksHitThem) {
  test::ViewsDesk desk;
  const CGSize size = MenuSwitcherMode().fittingSize();
  for (const std::string stored : {"windows", "unknown"}) {
    store(stored);
    const Picture picture;
    ASSERT_EQ(picture.image->width(), static_cast<int>(size.width * scale));
    ASSERT_EQ(picture.image->height(), static_cast<int>(size.height * scale));
    const double half = 0.5 / scale;  // the pixel's centre
    // Across the row of tiles at their middle height: paint exactly where a click picks.
    const double rowY = MenuSwitcherMode::optionFrame(0).midY();
    for (int x = 0; x < picture.image->width(); ++x) {
      const CGPoint point{x / scale + half, rowY};
      const bool nearEdge = MenuSwitcherMode::optionAt(CGPoint{point.x - 1, rowY}).has_value() !=
                            MenuSwitcherMode::optionAt(CGPoint{point.x + 1, rowY}).has_value();
      if (nearEdge) continue;  // smoothed edges
      EXPECT_EQ(picture.at(point.x, rowY).alpha() > 0, MenuSwitcherMode::optionAt(point).has_value())
          << stored << " at x " << point.x;
    }
    // Down through each tile's middle, below the heading.
    for (std::size_t i = 0; i < 3; ++i) {
      const CGRect f = MenuSwitcherMode::optionFrame(i);
      for (double y = MenuSwitcherMode::topPadding + MenuSwitcherMode::headingHeight; y < size.height; y += 0.5) {
        if (std::abs(y - f.minY()) < 1 || std::abs(y - f.maxY()) < 1) continue;
        const bool hit = MenuSwitcherMode::optionAt(CGPoint{f.midX(), y}) == MenuSwitcherMode::options[i].style;
        EXPECT_EQ(picture.at(f.midX(), y + half).alpha() > 0, hit) << stored << " tile " << i << " at y " << y;
      }
    }
    // The heading sits above the tiles, at the leading padding.
    bool headingInk = false;
    for (double x = MenuSwitcherMode::horizontalPadding; x < 60; x += 0.5)
      headingInk |= picture.at(x, MenuSwitcherMode::topPadding + MenuSwitcherMode::headingHeight / 2).alpha() > 0;
    EXPECT_TRUE(headingInk) << stored;
    EXPECT_EQ(picture.at(MenuSwitcherMode::horizontalPadding - 2, 10).alpha(), 0) << stored;
  }
}

TEST(MenuSwitcherModeViewTest, EachTileShowsThePictureOfItsMode) {
  test::ViewsDesk desk;
  store("none of them");
  const Picture picture;
  // The glyph box: 22 high, 8 below the tile's top, pictures centred in it.
  auto glyphCentre = [](std::size_t i) {
    const CGRect f = MenuSwitcherMode::optionFrame(i);
    return CGPoint{f.midX(), f.minY() + 8 + 11};
  };
  // Three 10-point squares 3 apart: filled at their centres, empty between them.
  const CGPoint apps = glyphCentre(0);
  for (double dx : {-13.0, 0.0, 13.0}) EXPECT_TRUE(dark(picture.at(apps.x + dx, apps.y))) << dx;
  for (double dx : {-6.5, 6.5, -19.0, 19.0}) EXPECT_FALSE(dark(picture.at(apps.x + dx, apps.y))) << dx;
  EXPECT_FALSE(dark(picture.at(apps.x, apps.y - 6))) << "the squares are 10 high";

  // The display: outline 28 by 20, a solid window top left, empty top right.
  const CGPoint screen = glyphCentre(1);
  const double left = screen.x - 14, top = screen.y - 10;
  EXPECT_TRUE(dark(picture.at(left + 0.5, screen.y))) << "outline";
  EXPECT_TRUE(dark(picture.at(left + 27.5, screen.y))) << "outline";
  EXPECT_TRUE(dark(picture.at(left + 8, top + 6))) << "solid window";
  EXPECT_FALSE(dark(picture.at(left + 22, top + 5))) << "nothing top right";
  EXPECT_FALSE(dark(picture.at(left + 6, top + 16))) << "nothing bottom left";
  const QColor faint = picture.at(left + 21, top + 13);
  EXPECT_GT(faint.alpha(), 40) << "the fainter window";
  EXPECT_LT(faint.alpha(), picture.at(left + 8, top + 6).alpha());

  // Hybrid: two squares, a 5-point gap, then the display, centred together (56 wide).
  const CGPoint both = glyphCentre(2);
  const double start = both.x - 28;
  EXPECT_TRUE(dark(picture.at(start + 5, both.y)));
  EXPECT_TRUE(dark(picture.at(start + 18, both.y)));
  EXPECT_FALSE(dark(picture.at(start + 25.5, both.y))) << "the gap";
  EXPECT_TRUE(dark(picture.at(start + 28.5, both.y))) << "the display's outline";
  EXPECT_FALSE(dark(picture.at(start - 2, both.y)));
}

TEST(MenuSwitcherModeViewTest, TheWidgetAndTheInstalledPainterDrawThePickerAndClicksPick) {
  test::ViewsDesk desk;
  store("apps");
  int picked = 0;
  auto logic = std::make_shared<MenuSwitcherMode>([&picked] { ++picked; });
  installMenuSwitcherModePainter();
  const CGImageRef installed = logic->picture(scale);
  ASSERT_TRUE(installed);
  EXPECT_EQ(installed->qimage(), MenuSwitcherModeView::renderPicture(scale)->qimage());

  MenuSwitcherModeView view(logic);
  EXPECT_EQ(view.size(), QSize(300, static_cast<int>(logic->fittingSize().height)));
  const CGRect hybrid = MenuSwitcherMode::optionFrame(2);
  const auto click = [&view](double x, double y) {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(x, y), QPointF(x, y), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&view, &release);
  };
  click(hybrid.maxX() + 3, hybrid.midY());  // the padding right of the last tile
  click(hybrid.midX(), 5);                  // the heading
  EXPECT_EQ(picked, 0);
  EXPECT_EQ(UserDefaults::standard().stringForKey(MenuSwitcherMode::key), "apps");
  click(hybrid.minX() + 2, hybrid.maxY() - 10);
  EXPECT_EQ(picked, 1);
  EXPECT_EQ(UserDefaults::standard().stringForKey(MenuSwitcherMode::key), "both");

  // What the widget shows on screen is the same picture, now with the hybrid tile lit.
  QImage shown(view.size(), QImage::Format_ARGB32_Premultiplied);
  shown.fill(Qt::transparent);
  view.render(&shown);
  EXPECT_TRUE(accent(shown.pixelColor(static_cast<int>(hybrid.midX()), static_cast<int>(hybrid.minY()))));
  const CGRect apps = MenuSwitcherMode::optionFrame(0);
  EXPECT_FALSE(accent(shown.pixelColor(static_cast<int>(apps.midX()), static_cast<int>(apps.minY()))));
}

}  // namespace
}  // namespace trelliq
