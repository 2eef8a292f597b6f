// What the screen fetches: every display whole once, then nothing while nothing changes,
// and only the part that changed when a window moves, its window showing what a screen
// that fetched everything afresh shows; a frame that cannot be had leaves no hole.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "support/WorldScreen.h"

namespace {

// The world's frames, counting the pixels the screen takes.
class CountingSource : public WorldScreenSource {
 public:
  using WorldScreenSource::WorldScreenSource;
  std::optional<Frame> frame(std::uint32_t id, int width, int height, std::uint64_t since) override {
    auto f = WorldScreenSource::frame(id, width, height, since);
    ++asked;
    if (f) {
      pixels += static_cast<long>(f->whole.width()) * f->whole.height();
      for (const auto& [at, piece] : f->pieces) pixels += static_cast<long>(piece.width()) * piece.height();
    }
    return f;
  }
  int asked = 0;
  long pixels = 0;
};

// The world's frames, but none of display `failing`.
class FailingSource : public WorldScreenSource {
 public:
  using WorldScreenSource::WorldScreenSource;
  std::optional<Frame> frame(std::uint32_t id, int width, int height, std::uint64_t since) override {
    if (id == failing) return std::nullopt;
    return WorldScreenSource::frame(id, width, height, since);
  }
  std::uint32_t failing = 0;
};

}  // namespace

TEST(ScreenFrames, OnlyWhatChangedIsFetchedAndDrawn) {
  trelliq::test::ensureWidgets();
  Scene scene{Scene::Start::defaultScenario};
  CountingSource source(scene.world, scene.windowServer);
  screen::ScreenWindow window(&source, std::nullopt);
  window.resize(1200, 600);
  window.refresh();
  const long whole = source.pixels;
  ASSERT_GT(whole, 0);

  const int asked = source.asked;
  window.refresh();
  EXPECT_EQ(source.asked, asked) << "nothing changed, nothing is asked for";

  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  source.pixels = 0;
  window.refresh();
  EXPECT_GT(source.pixels, 0);
  EXPECT_LT(source.pixels * 4, whole) << "a moved window is a small part of the displays";

  // What it shows is what a screen that fetched everything shows.
  WorldScreenSource fresh(scene.world, scene.windowServer);
  scene.windowServer.dropDisplayFrames();
  screen::ScreenWindow other(&fresh, std::nullopt);
  other.resize(1200, 600);
  other.refresh();
  EXPECT_EQ(window.grab().toImage(), other.grab().toImage());
}

TEST(ScreenFrames, AFrameThatCannotBeHadLeavesWhatTheDisplayShowed) {
  trelliq::test::ensureWidgets();
  Scene scene{Scene::Start::defaultScenario};
  FailingSource source(scene.world, scene.windowServer);
  screen::ScreenWindow window(&source, std::nullopt);
  window.resize(1200, 600);
  window.refresh();
  const auto placed = std::find_if(window.layout().displays.begin(), window.layout().displays.end(),
                                   [](const screen::Placed& p) { return p.id == 1; });
  ASSERT_NE(placed, window.layout().displays.end());
  const QRect area = QRectF(placed->area.minX(), placed->area.minY(), placed->area.width(), placed->area.height())
                         .toAlignedRect()
                         .adjusted(1, 1, -1, -1);
  const QImage before = window.grab().toImage().copy(area);

  source.failing = 1;
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {340, 160}));
  window.refresh();
  EXPECT_EQ(window.grab().toImage().copy(area), before) << "the display shows its last frame until a new one comes";

  source.failing = 0;
  ASSERT_TRUE(scene.windowServer.moveWindow(2101, {360, 180}));
  window.refresh();
  WorldScreenSource fresh(scene.world, scene.windowServer);
  scene.windowServer.dropDisplayFrames();
  screen::ScreenWindow other(&fresh, std::nullopt);
  other.resize(1200, 600);
  other.refresh();
  EXPECT_EQ(window.grab().toImage(), other.grab().toImage()) << "the next frame brings the display up to date";
}
