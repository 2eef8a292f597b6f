// A display's frame brought up to date from what changed looks exactly like one composed
// whole, and copies only what changed: windows moved, raised, made key, a program's glass
// panel publishing part of its picture, and a window moving behind that glass. What the
// frames keep is bounded, and never a destroyed window.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>

#include "platform/SharedSurface.h"
#include "platform/sim/DisplayComposer.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

constexpr int kWidth = 756, kHeight = 491;  // the built-in display at half its points

class DisplayFrame : public ::testing::Test {
 protected:
  DisplayFrame() { trelliq::test::ensureWidgets(); }

  struct Frame {
    QImage image;
    sim::WindowServer::DisplayFrame change;
  };
  Frame compose(std::uint64_t since) {
    Frame f;
    EXPECT_TRUE(server.composeDisplayFrame(1, kWidth, kHeight, since, [&](const QImage& image, const auto& change) {
      f.image = image.copy();
      f.change = change;
    }));
    return f;
  }

  // The frame from what changed since the last one, beside the same frame composed whole:
  // no pixel may differ by more than rounding.
  QRegion expectSameAsWhole(const char* after) {
    const Frame updated = compose(last_);
    last_ = updated.change.sequence;
    server.dropDisplayFrames();
    const Frame whole = compose(0);
    server.dropDisplayFrames();
    last_ = compose(0).change.sequence;
    int worst = 0;
    QPoint where;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const QRgb a = updated.image.pixel(x, y), b = whole.image.pixel(x, y);
        const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                std::abs(qBlue(a) - qBlue(b))});
        if (d > worst) worst = d, where = QPoint(x, y);
      }
    EXPECT_LE(worst, 2) << after << ": the frame differs at " << where.x() << "," << where.y();
    QRegion damage;
    for (const CGRect& r : updated.change.damage.value_or(std::vector<CGRect>{CGRect(0, 0, kWidth, kHeight)}))
      damage += QRect(static_cast<int>(r.minX()), static_cast<int>(r.minY()), static_cast<int>(r.width()),
                      static_cast<int>(r.height()));
    return damage;
  }

  // A clear panel of the program across the middle of the display, its picture a
  // translucent plate whose left half can be lit.
  void glassPanel() {
    platform::OwnWindowState state;
    state.frame = CGRect(200, 982 - 700, 1100, 400);  // bottom-left points
    state.level = 101;
    state.opaque = false;
    state.hasShadow = false;
    state.collectionBehavior = 1;
    panel_ = server.createOwnWindow(state);
    server.orderOwnWindow(panel_, platform::OwnWindowOrder::frontRegardless);
    surface_ = platform::SharedSurface::create(1100, 400);
    plate_ = QImage(1100, 400, QImage::Format_ARGB32_Premultiplied);
    plate_.fill(Qt::transparent);
    QPainter painter(&plate_);
    painter.fillRect(QRect(50, 50, 1000, 300), QColor(40, 40, 44, 140));
    painter.end();
    surface_->publish(plate_, QRegion());
    server.setOwnWindowSurface(panel_, surface_);
  }
  // Lights one tile of the plate, publishing only that tile as changed.
  void lightTile(int index) {
    const QRect tile(80 + index * 120, 100, 100, 100);
    QPainter painter(&plate_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(tile, QColor(90, 140, 230, 200));
    painter.end();
    surface_->publish(plate_, QRegion(tile));
  }

  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  std::uint64_t last_ = 0;
  std::uint32_t panel_ = 0;
  std::shared_ptr<platform::SharedSurface> surface_;
  QImage plate_;
};

}  // namespace

TEST_F(DisplayFrame, FromWhatChangedEqualsTheWholeFrame) {
  last_ = compose(0).change.sequence;
  const Frame still = compose(last_);
  EXPECT_EQ(still.change.sequence, last_);
  EXPECT_TRUE(still.change.damage && still.change.damage->empty()) << "nothing changed, nothing to copy";

  const QRect all(0, 0, kWidth, kHeight);
  auto small = [&](const QRegion& damage) { return damage.boundingRect() != all; };
  ASSERT_TRUE(server.moveWindow(2101, {320, 140}));
  EXPECT_TRUE(small(expectSameAsWhole("a window moved")));
  ASSERT_TRUE(server.raiseWindow(1101));
  expectSameAsWhole("a window raised");
  for (const auto& e : server.windowList())
    if (e.number == 1101) ASSERT_TRUE(server.makeFrontmost(e.ownerPID));
  expectSameAsWhole("another app came to the front");
  // With the desktop's name in sight: the windows pushed down out of its way.
  ASSERT_TRUE(server.moveWindow(2101, {320, 700}));
  ASSERT_TRUE(server.moveWindow(1101, {100, 700}));
  expectSameAsWhole("the windows moved down");
  auto displays = scene.world.displays();
  for (auto& d : displays)
    if (d.screen.displayID == 1) d.screen.localizedName = "Projector";  // the same display, newly named
  scene.world.setDisplays(displays);
  expectSameAsWhole("the display was renamed");

  glassPanel();
  expectSameAsWhole("a glass panel came");
  lightTile(0);
  const QRegion tile = expectSameAsWhole("the panel lit a tile");
  EXPECT_LT(tile.boundingRect().width(), kWidth / 4) << "only the tile is composed again";
  server.moveWindow(2101, {500, 300});
  expectSameAsWhole("a window moved behind the glass");
  lightTile(3);
  expectSameAsWhole("the panel lit another tile");
}

TEST_F(DisplayFrame, KeptFramesLetGoOfDestroyedWindowsAndStayWithinTheirBudget) {
  // A frame kept at a size nobody asks for any more must not keep a destroyed panel's surface.
  glassPanel();
  compose(0);
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, 0, [](const auto&, const auto&) {}));
  std::weak_ptr<platform::SharedSurface> published = surface_;
  server.destroyOwnWindow(panel_);
  surface_.reset();
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, 0, [](const auto&, const auto&) {}));
  EXPECT_TRUE(published.expired()) << "the destroyed panel's surface is still held";

  // Room for two frames of 600 × 400: a third size lets go of the least recently asked.
  sim::DisplayComposer composer(2 * 600 * 402 * 4);
  sim::DisplayScene display;
  display.display = *scene.world.display(1);
  display.frame = CGRect(0, 0, 1512, 982);
  auto sequenceAt = [&](int height, std::uint64_t since, bool* whole = nullptr) {
    std::uint64_t sequence = 0;
    composer.compose(1, 600, height, display, since, [&](const QImage&, const sim::FrameChange& change) {
      sequence = change.sequence;
      if (whole) *whole = !change.damage;
    });
    return sequence;
  };
  const std::uint64_t first = sequenceAt(400, 0);
  sequenceAt(401, 0);
  const std::uint64_t third = sequenceAt(402, 0);
  bool whole = false;
  sequenceAt(402, third, &whole);
  EXPECT_FALSE(whole) << "the frame just asked for is kept";
  sequenceAt(400, first, &whole);
  EXPECT_TRUE(whole) << "past the budget, the oldest frame is let go";
  const std::uint64_t huge = sequenceAt(1300, 0);
  sequenceAt(1300, huge, &whole);
  EXPECT_TRUE(whole) << "a frame over the budget alone is not kept";
}
