// The demonstrations' clocks on a virtual clock: frames, key presses, loops and stopping.

#include <gtest/gtest.h>

#include "guide/model/DemoPlayer.h"
#include "ui/model/Transition.h"
#include "platform/VirtualClock.h"

namespace trelliq {
namespace {

class DemoPlaying : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  void SetUp() override { platform::installClock(&clock); }
  void TearDown() override { platform::installClock(nullptr); }

  /// (index, keyDown) now.
  static std::pair<int, bool> at(const DemoPlayer& p) { return {p.index(), p.keyDown()}; }
};

TEST_F(DemoPlaying, EachFrameStandsForItsRestThenShowsItsKeyPressedBriefly) {
  // Frames 1 and 2 press a key; frame 0 does not.
  DemoPlayer player(3, [](int i) { return i != 0; });
  std::vector<Transition> shown;
  player.onChange = [&](const Transition& t) { shown.push_back(t); };
  player.start();
  EXPECT_EQ(at(player), std::make_pair(0, false));
  clock.advance(0.649);
  EXPECT_EQ(at(player), std::make_pair(0, false));
  clock.advance(0.001);
  EXPECT_EQ(at(player), std::make_pair(1, true));
  clock.advance(0.219);
  EXPECT_TRUE(player.keyDown());
  clock.advance(0.001);
  EXPECT_EQ(at(player), std::make_pair(1, false));
  clock.advance(0.87);
  EXPECT_EQ(at(player), std::make_pair(2, false));
  clock.advance(0.65);  // back to the first frame, which presses nothing
  EXPECT_EQ(at(player), std::make_pair(0, false));
  clock.advance(0.22 + 0.65);
  EXPECT_EQ(at(player), std::make_pair(1, true));
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], Transition::easeOut(0.12));
  EXPECT_EQ(shown[1], Transition::easeOut(0.12));
}

TEST_F(DemoPlaying, AOneFrameScriptStaysOnItsFrameAndFlashesItsKeyEveryCycle) {
  DemoPlayer player(1, [](int) { return true; });
  player.start();
  for (int cycle = 0; cycle < 3; ++cycle) {
    clock.advance(0.65);
    EXPECT_EQ(at(player), std::make_pair(0, true)) << cycle;
    clock.advance(0.22);
    EXPECT_EQ(at(player), std::make_pair(0, false)) << cycle;
  }
}

TEST_F(DemoPlaying, StartingTwiceKeepsOneLoopAndNoFramesNeverStarts) {
  DemoPlayer player(4, nullptr);
  player.start();
  player.start();
  clock.advance(0.87 * 3);
  EXPECT_EQ(player.index(), 3);
  EXPECT_FALSE(player.keyDown());  // no key predicate: nothing is pressed

  DemoPlayer empty(0, [](int) { return true; });
  empty.start();
  EXPECT_FALSE(empty.isRunning());
  EXPECT_EQ(empty.index(), 0);
  DemoPlayer wrapped(3, nullptr, DemoPlayer::scriptTiming, 7);
  EXPECT_EQ(wrapped.index(), 1);
}

TEST_F(DemoPlaying, StoppingFinishesTheCycleAtOnceWithTheKeyUp) {
  DemoPlayer resting(3, [](int) { return true; });
  int announced = 0;
  resting.onChange = [&](const Transition&) { ++announced; };
  resting.start();
  clock.advance(0.3);
  resting.stop();
  EXPECT_EQ(at(resting), std::make_pair(1, false));  // the pending advance took effect
  EXPECT_FALSE(resting.isRunning());
  clock.advance(5);
  EXPECT_EQ(at(resting), std::make_pair(1, false));
  EXPECT_EQ(announced, 0);

  DemoPlayer pressing(3, [](int) { return true; });
  pressing.start();
  clock.advance(0.7);
  ASSERT_EQ(at(pressing), std::make_pair(1, true));
  pressing.stop();
  EXPECT_EQ(at(pressing), std::make_pair(1, false));  // only the release was left
  EXPECT_EQ(clock.pending(), 0u);
}

TEST_F(DemoPlaying, TheDisplaysPaceSlidesOverFourTenthsAndStepsEveryOnePointThreeTwo) {
  DemoPlayer player(
      2, [](int) { return true; }, DemoPlayer::displaysTiming);
  std::vector<Transition> shown;
  player.onChange = [&](const Transition& t) { shown.push_back(t); };
  player.start();
  clock.advance(1.099);
  EXPECT_EQ(player.index(), 0);
  clock.advance(0.001);
  EXPECT_EQ(at(player), std::make_pair(1, true));
  clock.advance(0.22);
  EXPECT_EQ(at(player), std::make_pair(1, false));
  clock.advance(1.1);
  EXPECT_EQ(at(player), std::make_pair(0, true));
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], Transition::easeInOut(0.4));
  EXPECT_EQ(shown[1], Transition::easeOut(0.12));
}

TEST(Transitions, CurvesRunFromZeroToOneWithinTheirDuration) {
  for (auto t : {Transition::easeOut(0.4), Transition::easeInOut(0.4), Transition{Transition::Curve::easeIn, 0.4}}) {
    EXPECT_DOUBLE_EQ(t.progress(0), 0);
    EXPECT_DOUBLE_EQ(t.progress(0.4), 1);
    EXPECT_DOUBLE_EQ(t.progress(3), 1);
    double last = 0;
    for (double s = 0.02; s < 0.4; s += 0.02) {
      EXPECT_GE(t.progress(s), last);
      last = t.progress(s);
    }
  }
  EXPECT_GT(Transition::easeOut(1).progress(0.5), 0.5);  // fast start, slow end
  // The standard Bézier curves the switcher's panels move on, not cubic stand-ins.
  EXPECT_NEAR(Transition::easeOut(1).progress(0.5), 0.6846, 1e-3);
  EXPECT_NEAR((Transition{Transition::Curve::easeIn, 1}.progress(0.5)), 0.3154, 1e-3);
  EXPECT_NEAR(Transition::easeInOut(1).progress(0.25), 0.1292, 1e-3);
  EXPECT_DOUBLE_EQ(Transition::easeInOut(1).progress(0.5), 0.5);
  EXPECT_DOUBLE_EQ(Transition::immediate().progress(0), 1);
}

}  // namespace
}  // namespace trelliq
