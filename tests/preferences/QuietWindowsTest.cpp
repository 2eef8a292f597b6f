// The program's own windows are quiet: a row of key caps is drawn only for the frames its
// demonstration moves, and a window out of sight plays, draws and keeps nothing it needs
// only while shown.

#include <gtest/gtest.h>

#include <QEvent>
#include <QWidget>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "app/views/PermissionsView.h"
#include "app/views/PermissionsWindow.h"
#include "app/views/PreviewDemo.h"
#include "guide/GuideDemo.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "guide/InlineKeys.h"
#include "guide/MiniSwitcher.h"
#include "guide/TopicRow.h"
#include "platform/MallocZone.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SharedSurface.h"
#include "platform/sim/WindowServer.h"
#include "preferences/ModeSection.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "preferences/TilesDemo.h"
#include "preferences/TilesOverview.h"
#include "support/HeapInUse.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "switcher/views/KeptPlates.h"
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

/// What one window's frames published over a while, seen from a part of it.
struct Published {
  int frames = 0;            // frames whose damage reached the part
  double largestShare = 0;   // of the part's area, in one frame
};

class QuietWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
  }
  void frames(double seconds) { test::paintFrames(scene, seconds); }
  /// Plays `seconds` of frames, reading what window `number` publishes after each.
  Published publishedOver(const QWidget& part, std::uint32_t number, double seconds) {
    Published seen;
    std::uint64_t last = 0;
    for (int i = 0; i < static_cast<int>(seconds * 60); ++i) {
      scene.clock.advance(1.0 / 60);
      platform::OwnWindowSurface::publishAll();
      const auto surface = scene.windowServer.ownWindowSurface(number);
      if (!surface) continue;
      const std::uint64_t now = surface->sequence();
      if (last == 0 || now == last) {
        last = now;
        continue;
      }
      const auto damage = surface->damageSince(last);
      last = now;
      const QWidget& top = *part.window();
      const double scale = static_cast<double>(surface->placement().windowWidth) / top.width();
      const auto& place = surface->placement();
      const QRect inSurface = QRectF(QPointF(part.mapTo(&top, QPoint())) * scale, QSizeF(part.size()) * scale)
                                  .toAlignedRect()
                                  .translated(-place.x, -place.y);
      const QRegion reached = (damage ? *damage : QRegion(0, 0, surface->width(), surface->height())) & inSurface;
      if (reached.isEmpty()) continue;
      double area = 0;
      for (const QRect& r : reached) area += static_cast<double>(r.width()) * r.height();
      ++seen.frames;
      seen.largestShare = std::max(seen.largestShare, area / (inSurface.width() * inSurface.height()));
    }
    return seen;
  }
  /// Whether window `number`'s published picture is what drawing the whole of `view` again makes.
  bool drawnAsWhole(QWidget& view, std::uint32_t number) {
    const QImage before = scene.windowServer.ownWindowSurface(number)->copy();
    view.update();
    platform::OwnWindowSurface::publishAll();
    return scene.windowServer.ownWindowSurface(number)->copy() == before;
  }
  /// Whether, over `seconds` of frames, `part` of window `number` always shows what drawing
  /// it again makes: no pixel a move left behind (looked at each twelfth of a second). A cap
  /// laid from the key row's kept picture and one drawn directly differ by a unit or two of
  /// rounding at their smoothed edges; a look left behind differs by far more.
  bool leavesNothingBehind(QWidget& part, std::uint32_t number, double seconds) {
    const auto visiblyApart = [](const QImage& a, const QImage& b) {
      if (a.size() != b.size()) return true;
      for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
          if (std::abs(qRed(p[x]) - qRed(q[x])) > 8 || std::abs(qGreen(p[x]) - qGreen(q[x])) > 8 ||
              std::abs(qBlue(p[x]) - qBlue(q[x])) > 8 || std::abs(qAlpha(p[x]) - qAlpha(q[x])) > 8)
            return true;
        }
      }
      return false;
    };
    for (int i = 0; i < static_cast<int>(seconds * 12); ++i) {
      frames(1.0 / 12);
      const QImage before = scene.windowServer.ownWindowSurface(number)->copy();
      part.update();
      platform::OwnWindowSurface::publishAll();
      if (visiblyApart(scene.windowServer.ownWindowSurface(number)->copy(), before)) return false;
    }
    return true;
  }
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

TEST_F(QuietWindows, AFrameOfADemonstrationPublishesOnlyThePartsThatMove) {
  const auto check = [&](const char* name, QWidget& view, QWidget& part, std::uint32_t number, double most) {
    frames(1.5);  // opened and drawn whole once
    const Published seen = publishedOver(part, number, 2.5);
    std::cout << name << ": " << seen.frames << " frames reached it, at most " << seen.largestShare << " of it\n";
    EXPECT_GT(seen.frames, 0) << name << " moved";
    EXPECT_LT(seen.largestShare, most) << name;
    EXPECT_TRUE(drawnAsWhole(view, number)) << name << " left no part of a move undrawn";
  };
  guide.show();
  check("the guide's miniature", *guide.view(), guideDemo().miniature(),
        static_cast<std::uint32_t>(guide.window()->windowNumber()), 0.6);
  guide.close();
  preferences.show();
  check("a tile-style demonstration", *preferences.view(), tilesDemo(),
        static_cast<std::uint32_t>(preferences.window()->windowNumber()), 0.4);
  preferences.window()->performClose(nullptr);
  permissions.show();
  check("the live-preview demonstration", *permissions.view(), *permissions.view()->demo(),
        static_cast<std::uint32_t>(permissions.window()->windowNumber()), 0.9);
}

TEST_F(QuietWindows, NoFrameOfADemonstrationLeavesAnOldLookBehind) {
  // The app tiles' name labels fade below the tiles, and the guide's window dots grow and
  // shrink where only the picked window changes.
  preferences.show();
  EXPECT_TRUE(leavesNothingBehind(tilesDemo(), static_cast<std::uint32_t>(preferences.window()->windowNumber()), 3))
      << "a tile-style demonstration";
  preferences.window()->performClose(nullptr);
  guide.show();
  TopicRow* windows = nullptr;
  for (TopicRow* row : guide.view()->topicRows()) {
    if (row->title() == "Windows") windows = row;  // with app tiles: an app's windows
  }
  ASSERT_NE(windows, nullptr);
  windows->click();
  frames(1);  // the topic's demonstration in place
  EXPECT_TRUE(leavesNothingBehind(guideDemo().miniature(), static_cast<std::uint32_t>(guide.window()->windowNumber()), 4))
      << "the guide's app windows";
}

TEST_F(QuietWindows, TheFramesOfAMoveKeepNoPictureOfTheirPassingLooks) {
  // Highlights and name labels fading, caps lighting up: a new look at every frame.
  preferences.show();
  frames(1.5);
  const std::size_t kept = views::keptPlateCount();
  frames(2.5);
  EXPECT_EQ(views::keptPlateCount(), kept) << "only the looks at either end of a move are kept";
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

TEST_F(QuietWindows, AMomentAfterAWindowClosedTheHeapsGiveTheirFreePagesBackUnlessItOpenedAgain) {
  static int reliefs = 0;
  static const bool counting = (platform::onPressureRelief([] { ++reliefs; }), true);
  ASSERT_TRUE(counting);
  guide.show();
  frames(0.5);
  const int before = reliefs;
  guide.close();
  frames(0.5);
  EXPECT_EQ(reliefs, before) << "not at once: what closing let go of is still going";
  frames(0.5);
  EXPECT_EQ(reliefs, before + 1);
  preferences.show();
  frames(0.3);
  preferences.window()->performClose(nullptr);
  frames(0.3);
  preferences.show();
  frames(1);
  EXPECT_EQ(reliefs, before + 1) << "open again before the moment: nothing to give back";
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
