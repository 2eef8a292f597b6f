// Scrolling in the open switcher: thresholds, the axis lock, reversals, wheels and
// momentum, counted as the steps the selection actually made.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "SwitcherTapStage.h"
#include "platform/CoreFoundation.h"

namespace trelliq::tap {
namespace {

constexpr std::int64_t kBegan = 1, kChanged = 2, kEnded = 4;

class ScrollTest : public TapStage {
 public:
  void SetUp() override {
    openSession(Switcher::Action::cycle(1));
    ASSERT_GE(tiles().size(), 6u) << "the focused display needs room for several steps";
    start = index();
  }
  std::vector<std::string> tiles() const {
    std::vector<std::string> ids;
    if (const DisplayGroup* g = switcher->model().display(switcher->model().focused())) {
      for (const Cluster& c : g->clusters()) ids.push_back(c.id);
    }
    return ids;
  }
  int index() const {
    const auto ids = tiles();
    const auto found = std::find(ids.begin(), ids.end(), selected());
    return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
  }
  /// Sideways steps made since the start (negative: to the left), modulo the tile count.
  int stepsTaken() const {
    const int n = static_cast<int>(tiles().size());
    int d = ((index() - start) % n + n) % n;
    return d > n / 2 ? d - n : d;
  }
  /// Scrolls one trackpad event through the tap; answers whether it was swallowed.
  bool scroll(double across, double down, std::int64_t phase = kChanged, std::int64_t momentum = 0) {
    const bool swallowed = consumes(kCGEventScrollWheel, trackpad(across, down, phase, momentum));
    settle();
    return swallowed;
  }
  /// A whole sideways gesture in equal deltas.
  void swipe(double across, int events) {
    for (int i = 0; i < events; ++i) scroll(across, 0, i == 0 ? kBegan : kChanged);
  }

  int start = 0;
};

TEST_F(ScrollTest, ASidewaysSwipeStepsFirstAfterAFewPointsThenEveryFiftyPoints) {
  std::vector<int> after;  // steps after each 4-point event
  for (int i = 0; i < 30; ++i) {
    EXPECT_TRUE(scroll(4, 0, i == 0 ? kBegan : kChanged));
    after.push_back(stepsTaken());
  }
  EXPECT_EQ(after[1], 0) << "8 points only settle the axis";
  EXPECT_EQ(after[2], 1) << "the first step needs 8 points of travel";
  EXPECT_EQ(after[14], 1);
  EXPECT_EQ(after[15], 2) << "then 50 points more";
  EXPECT_EQ(after[26], 2);
  EXPECT_EQ(after[27], 3);
  EXPECT_EQ(after[29], 3) << "120 points make three steps";
}

TEST_F(ScrollTest, AFastSwipeMakesSeveralStepsAndKeepsTheRemainder) {
  scroll(5, 0, kBegan);
  scroll(5, 0);
  scroll(5, 0);  // first step
  ASSERT_EQ(stepsTaken(), 1);
  scroll(130, 0);
  EXPECT_EQ(stepsTaken(), 3) << "130 points: two steps of 50, 30 kept";
  scroll(20, 0);
  EXPECT_EQ(stepsTaken(), 4);
}

TEST_F(ScrollTest, LessThanEightPointsInAllMakesNoStep) {
  scroll(3, 1, kBegan);
  scroll(2, 1);
  EXPECT_TRUE(scroll(0, 0, kEnded)) << "swallowed while the switcher is open";
  EXPECT_EQ(stepsTaken(), 0);
  EXPECT_FALSE(switcher->model().onTray());
}

TEST_F(ScrollTest, ADiagonalGestureLocksToOneAxisUntilTheOtherClearlyWins) {
  // Down more than 2.5 times across: vertical, and 30 points move onto the tray row.
  scroll(2, 6, kBegan);
  for (int i = 0; i < 6; ++i) scroll(2, 6);
  ASSERT_TRUE(switcher->model().onTray());
  EXPECT_EQ(stepsTaken(), 0);
  // Back up onto the tile row (the reversal shows once the smoothing has turned).
  for (int i = 0; i < 8; ++i) scroll(0, -6);
  ASSERT_FALSE(switcher->model().onTray());
  // Across a little more than up: a vertical gesture stays vertical ...
  for (int i = 0; i < 20; ++i) scroll(6, -5);
  EXPECT_EQ(stepsTaken(), 0);
  // ... until across is more than 1.5 times the vertical part.
  scroll(12, -1);
  EXPECT_EQ(stepsTaken(), 1);
  scroll(0, 0, kEnded);

  // The same slant at the start of a gesture goes sideways at once.
  start = index();
  scroll(6, -5, kBegan);
  scroll(6, -5);
  EXPECT_EQ(stepsTaken(), 1);
}

TEST_F(ScrollTest, ReversingVerticallyNeedsTheFirstThresholdAgain) {
  for (int i = 0; i < 3; ++i) scroll(0, 10, i == 0 ? kBegan : kChanged);
  ASSERT_TRUE(switcher->model().onTray()) << "30 points down";
  scroll(0, 10);
  scroll(0, 10);
  // Turning round: the smoothed delta changes sign on the second event back, which
  // starts the travel afresh; from there 30 points (not 50) make the next row step.
  scroll(0, -10);
  scroll(0, -10);
  scroll(0, -10);
  EXPECT_TRUE(switcher->model().onTray());
  scroll(0, -10);
  EXPECT_FALSE(switcher->model().onTray());
}

TEST_F(ScrollTest, ReversingSidewaysAfterAStepNeedsFiftyPoints) {
  swipe(4, 3);
  ASSERT_EQ(stepsTaken(), 1);
  for (int i = 0; i < 12; ++i) scroll(-4, 0);
  EXPECT_EQ(stepsTaken(), 1) << "48 points back";
  scroll(-4, 0);
  EXPECT_EQ(stepsTaken(), 0) << "52 points back";
}

TEST_F(ScrollTest, EndingTheGestureStartsTheNextOneFresh) {
  swipe(4, 3);
  ASSERT_EQ(stepsTaken(), 1);
  scroll(4, 0, kEnded);
  swipe(4, 3);
  EXPECT_EQ(stepsTaken(), 2) << "the next gesture's first step again needs 8 points only";
}

TEST_F(ScrollTest, AWheelNotchStepsOncePerEvent) {
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(1, 0)));
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(3, 0)));
  settle();
  EXPECT_EQ(stepsTaken(), 2);
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(-1, 0)));
  settle();
  EXPECT_EQ(stepsTaken(), 1);
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(0, 1)));
  settle();
  EXPECT_TRUE(switcher->model().onTray());
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(0, -1)));
  settle();
  EXPECT_FALSE(switcher->model().onTray());
  EXPECT_TRUE(consumes(kCGEventScrollWheel, wheel(0, 0))) << "an empty notch is swallowed too";
}

TEST_F(ScrollTest, WithoutNaturalScrollingEveryDirectionIsReversed) {
  scene.world.writeForeignPreference(kCFPreferencesAnyApplication, "com.apple.swipescrolldirection", false);
  consumes(kCGEventScrollWheel, wheel(1, 0));
  settle();
  EXPECT_EQ(stepsTaken(), -1);
  swipe(-4, 3);
  EXPECT_EQ(stepsTaken(), 0);
  consumes(kCGEventScrollWheel, wheel(0, -1));
  settle();
  EXPECT_TRUE(switcher->model().onTray());
}

TEST_F(ScrollTest, MomentumNeverStepsAndIsSwallowedAfterItsGestureClosedTheSwitcher) {
  swipe(4, 3);
  ASSERT_EQ(stepsTaken(), 1);
  EXPECT_TRUE(scroll(40, 0, 0, 1));
  EXPECT_TRUE(scroll(40, 0, 0, 2));
  EXPECT_EQ(stepsTaken(), 1) << "momentum never steps";

  // The session ends while the fingers' momentum goes on: still swallowed.
  ASSERT_TRUE(consumesKey(SwitcherKeys::escape, kCommand));
  settle();
  EXPECT_TRUE(scroll(40, 0, 0, 2));
  EXPECT_FALSE(scroll(4, 0)) << "plain scrolling passes while closed";
  // A gesture that begins while closed keeps its momentum.
  EXPECT_FALSE(scroll(4, 0, kBegan));
  EXPECT_FALSE(scroll(40, 0, 0, 2));
}

}  // namespace
}  // namespace trelliq::tap
