// What the screen fetches: every display whole once, then nothing while nothing changes,
// and only the part that changed when a window moves, its window showing what a screen
// that fetched everything afresh shows; a frame that cannot be had leaves no hole; and
// displays that changed before a told fetch are fetched again as laid out anew. The legend
// at the foot is drawn only by a paint that reaches it, and laid out once for its width.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <functional>
#include <map>

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

// The world's frames, telling of changes as a host does and handing back with them the
// desk as it was read before they were composed.
class TellingSource : public WorldScreenSource {
 public:
  using WorldScreenSource::WorldScreenSource;
  bool watch(std::function<void()> changed) override {
    tell = std::move(changed);
    return true;
  }
  std::map<std::uint32_t, Frame> frames(const std::vector<Request>& requests) override {
    desk = Desk{generation().value_or(0), screens()};
    return WorldScreenSource::frames(requests);
  }
  std::optional<Desk> framesDesk() const override { return desk; }
  std::function<void()> tell;
  std::optional<Desk> desk;
};

// What `window` shows beside what a screen that fetches everything afresh shows.
void expectShowsTheWorld(screen::ScreenWindow& window, Scene& scene, const char* after) {
  WorldScreenSource fresh(scene.world, scene.windowServer);
  scene.windowServer.dropDisplayFrames();
  screen::ScreenWindow other(&fresh, std::nullopt);
  other.resize(window.size());
  other.refresh();
  EXPECT_EQ(window.grab().toImage(), other.grab().toImage()) << after;
}

struct WidgetsFirst {
  WidgetsFirst() { trelliq::test::ensureWidgets(); }
};

// A screen window over the default scenario, reading it through a `Source`, its first
// frames fetched.
template <class Source>
struct ScreenOn : WidgetsFirst {
  ScreenOn() {
    window.resize(1200, 600);
    window.refresh();
  }
  Scene scene{Scene::Start::defaultScenario};
  Source source{scene.world, scene.windowServer};
  screen::ScreenWindow window{&source, std::nullopt};
};

}  // namespace

TEST(ScreenFrames, OnlyWhatChangedIsFetchedAndDrawn) {
  ScreenOn<CountingSource> on;
  auto& [scene, source, window] = on;
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

  expectShowsTheWorld(window, scene, "after a window moved");
}

TEST(ScreenFrames, AFrameThatCannotBeHadLeavesWhatTheDisplayShowed) {
  ScreenOn<FailingSource> on;
  auto& [scene, source, window] = on;
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
  expectShowsTheWorld(window, scene, "the next frame brings the display up to date");
}

TEST(ScreenFrames, DisplaysChangedBeforeTheToldFetchAreFetchedAgainAsLaidOut) {
  ScreenOn<TellingSource> on;
  auto& [scene, source, window] = on;
  ASSERT_TRUE(source.tell) << "the screen does not watch";
  ASSERT_GE(scene.world.displays().size(), 2u);

  // A display goes, and the screen, told, fetches for the displays it laid out before: the
  // desk that came with those frames says so, and the rest are fetched at their new places.
  scene.world.removeDisplay(scene.world.displays().back().screen.displayID);
  source.tell();
  QCoreApplication::sendPostedEvents(&window, QEvent::MetaCall);  // the told look, no timer
  EXPECT_EQ(window.layout().displays.size(), scene.world.displays().size());
  expectShowsTheWorld(window, scene, "after a display went");
}

TEST(ScreenFrames, TheLegendIsDrawnOnlyWhereAPaintReachesAndLaidOutOncePerWidth) {
  ScreenOn<CountingSource> on;
  auto& window = on.window;
  QImage picture(window.size(), QImage::Format_RGB32);
  window.render(&picture);
  window.render(&picture);
  EXPECT_EQ(window.legendsDrawn(), 2);
  EXPECT_EQ(window.legendsLaid(), 1) << "the same width lays the legend out once";

  const screen::Placed& display = window.layout().displays.front();
  const QRect area(static_cast<int>(display.area.minX()), static_cast<int>(display.area.minY()),
                   static_cast<int>(display.area.width()), static_cast<int>(display.area.height()));
  window.render(&picture, area.topLeft(), QRegion(area));
  EXPECT_EQ(window.legendsDrawn(), 2) << "a display's frame changing leaves the foot as it is";

  window.resize(window.width() - 100, window.height());
  window.render(&picture);
  EXPECT_EQ(window.legendsLaid(), 2) << "a new width lays it out anew";
}
