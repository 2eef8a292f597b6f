// The program's own windows are quiet: a row of key caps is drawn only for the frames its
// demonstration moves, and a window out of sight plays, draws and keeps nothing it needs
// only while shown.

#include <gtest/gtest.h>

#include <QEvent>
#include <QWidget>
#include <cmath>
#include <iostream>

#include "app/views/PermissionsView.h"
#include "app/views/PermissionsWindow.h"
#include "app/views/PreviewDemo.h"
#include "guide/GuideDemo.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "guide/InlineKeys.h"
#include "platform/sim/WindowServer.h"
#include "preferences/ModeSection.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "preferences/TilesDemo.h"
#include "preferences/TilesOverview.h"
#include "support/HeapInUse.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "ui/KeyCap.h"

namespace trelliq {
namespace {

/// Counts the paints a widget gets.
class Paints : public QObject {
 public:
  explicit Paints(QWidget& widget) { widget.installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return QObject::eventFilter(watched, event);
  }
};

class QuietWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
  }
  void frames(double seconds) { test::paintFrames(scene, seconds); }
  GuideDemo& guideDemo() { return *dynamic_cast<GuideDemo*>(guide.view()->demo()); }
  TilesDemo& tilesDemo() { return *preferences.view()->mode().overview().demos().front(); }

  Scene scene{Scene::Start::defaultScenario};
  GuideWindow guide;
  PreferencesWindow preferences;
  PermissionsWindow permissions;
};

TEST_F(QuietWindows, AKeyRowIsDrawnOnlyForTheFramesItsDemonstrationMoves) {
  guide.show();
  ASSERT_NE(guideDemo().keys(), nullptr);
  frames(1);
  Paints row(*guideDemo().keys());
  frames(1);
  // In a second the script steps once and lets the key up once, each change eased over
  // 0.12 s: a frame a sixtieth while it moves, the one that starts it, and one more for the
  // overlay to follow the row.
  EXPECT_GT(row.count, 0) << "the demonstration moved the caps";
  EXPECT_LE(row.count, 2 * (std::ceil(0.12 * 60) + 2));
}

TEST_F(QuietWindows, OnlyTheCapThatLightsOrDimsIsDrawnAgain) {
  preferences.show();
  frames(1);  // each way the rows are lit has been drawn once
  const std::uint64_t before = KeyCap::paints();
  frames(1);
  // Each demonstration presses ⇥ and lets it up once a second, each eased over at most
  // 0.15 s: a frame a sixtieth while it moves and one at each end. ⌘ is held throughout,
  // and the miniature moving beneath the row is no reason to draw a cap.
  const auto demos = static_cast<double>(preferences.view()->mode().overview().demos().size());
  ASSERT_GT(demos, 0);
  const std::uint64_t drawn = KeyCap::paints() - before;
  EXPECT_GT(drawn, 0U) << "the demonstrations moved their caps";
  EXPECT_LE(drawn, demos * 2 * (std::ceil(0.15 * 60) + 2));
}

TEST_F(QuietWindows, AWindowOutOfSightStopsItsDemonstrationAndPlaysOnOnceBack) {
  guide.show();
  frames(1);
  Paints row(*guideDemo().keys());
  const auto number = static_cast<std::uint32_t>(guide.window()->windowNumber());
  guide.close();
  const int stoppedAt = guideDemo().player().index();
  row.count = 0;
  frames(3);
  EXPECT_FALSE(guideDemo().isPlaying());
  EXPECT_EQ(guideDemo().player().index(), stoppedAt);
  EXPECT_EQ(row.count, 0);
  EXPECT_EQ(scene.windowServer.ownWindowSurface(number), nullptr) << "the closed window's picture is let go";
  guide.show();
  EXPECT_NE(scene.windowServer.ownWindowSurface(number), nullptr) << "drawn before it comes back";
  frames(1);
  EXPECT_EQ(guideDemo().player().index(), (stoppedAt + 1) % guideDemo().player().frames())
      << "on from where it stopped";
  EXPECT_GT(row.count, 0);

  // Ordered out without a close, Preferences stops too.
  preferences.show();
  frames(0.5);
  ASSERT_TRUE(tilesDemo().isPlaying());
  preferences.window()->orderOut(nullptr);
  frames(2);
  EXPECT_FALSE(tilesDemo().isPlaying());
  EXPECT_FALSE(preferences.view()->isShowing());
  preferences.window()->orderFront(nullptr);
  frames(0.5);
  EXPECT_TRUE(tilesDemo().isPlaying());

  // And so does the welcome window, keeping its demonstration's place.
  permissions.show();
  frames(1.2);
  permissions.window()->orderOut(nullptr);
  // Stopping takes the step a cut-short wait still owed; from then on the place holds.
  const int welcomeStoppedAt = permissions.view()->demo()->index();
  frames(3);
  EXPECT_FALSE(permissions.view()->demo()->isRunning());
  EXPECT_FALSE(permissions.view()->isPolling());
  EXPECT_EQ(permissions.view()->demo()->index(), welcomeStoppedAt);
}

TEST_F(QuietWindows, OpeningAndClosingTheWindowsFiftyTimesHoldsNoMoreMemory) {
  const auto round = [&] {
    guide.show();
    frames(0.3);
    guide.close();
    preferences.show();
    frames(0.3);
    preferences.window()->performClose(nullptr);
    permissions.show();
    frames(0.3);
    permissions.close();
    frames(0.3);
  };
  round();
  const std::size_t first = test::heapInUse();
  for (int i = 1; i < 50; ++i) round();
  const std::size_t last = test::heapInUse();
  EXPECT_LE(last, first + (20u << 20)) << "after the first round " << (first >> 20) << " MB, after the fiftieth "
                                       << (last >> 20) << " MB";
  std::cout << "heap after the first round " << first / 1e6 << " MB, after the fiftieth " << last / 1e6 << " MB\n";
}

}  // namespace
}  // namespace trelliq
