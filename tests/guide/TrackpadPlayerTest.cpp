// The miniature trackpad's finger dots over time.

#include <gtest/gtest.h>

#include "guide/model/TrackpadPlayer.h"
#include "platform/VirtualClock.h"

namespace trelliq {
namespace {

class TrackpadPlaying : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  TrackpadPlayer pad;
  std::vector<std::pair<TrackpadPlayer::State, Transition>> changes;
  void SetUp() override {
    platform::installClock(&clock);
    pad.onChange = [this](const Transition& t) { changes.emplace_back(pad.state(), t); };
  }
  void TearDown() override { platform::installClock(nullptr); }
  const TrackpadPlayer::State& state() const { return pad.state(); }
};

TEST_F(TrackpadPlaying, AScrollGlidesTwoDotsAcrossThePadAndLiftsThem) {
  pad.play(TrackpadMove::scroll(0, 1));
  // They touch down 16 points above the centre and glide to 16 below.
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].first.offset, (CGSize{0, -16}));
  EXPECT_EQ(changes[0].second, Transition::immediate());
  EXPECT_TRUE(changes[1].first.touching);
  EXPECT_EQ(changes[1].second, Transition::easeOut(0.1));
  EXPECT_EQ(changes[2].first.offset, (CGSize{0, 16}));
  EXPECT_EQ(changes[2].second, Transition::easeInOut(0.35));
  EXPECT_EQ(state().fingers, 2);
  clock.advance(0.349);
  EXPECT_TRUE(state().touching);
  clock.advance(0.001);
  EXPECT_FALSE(state().touching);
  EXPECT_EQ(state().offset, (CGSize{0, 16}));  // left where they stopped, invisible
  EXPECT_FALSE(pad.isPlaying());

  pad.play(TrackpadMove::scroll(1, 0));
  EXPECT_EQ(changes[4].first.offset, (CGSize{-16, 0}));
  EXPECT_EQ(state().offset, (CGSize{16, 0}));
}

TEST_F(TrackpadPlaying, ADoubleTapBlinksTheDotsTwiceInTheCentre) {
  pad.play(TrackpadMove::doubleTap(3));
  EXPECT_EQ(state().fingers, 3);
  EXPECT_EQ(state().offset, (CGSize{0, 0}));
  std::vector<bool> touching{state().touching};
  for (int i = 0; i < 4; ++i) {
    clock.advance(0.11);
    touching.push_back(state().touching);
  }
  EXPECT_EQ(touching, (std::vector<bool>{true, false, true, false, false}));
  EXPECT_FALSE(pad.isPlaying());  // the last wait has passed
  pad.play(TrackpadMove::doubleTap(4));
  EXPECT_EQ(state().fingers, 4);
}

TEST_F(TrackpadPlaying, AClickDipsThePadAndComesBack) {
  pad.play(TrackpadMove::rightClick());
  EXPECT_TRUE(state().pressed);
  EXPECT_TRUE(state().touching);
  clock.advance(0.16);
  EXPECT_FALSE(state().pressed);
  EXPECT_FALSE(state().touching);
  EXPECT_EQ(changes.back().second, Transition::easeOut(0.12));
}

TEST_F(TrackpadPlaying, ANewMoveCutsTheOldOneShortAndNoMoveLeavesThePadAsItWas) {
  pad.play(TrackpadMove::rightClick());
  pad.play(TrackpadMove::scroll(1, 0));  // the click's release happens at once
  clock.advance(0.2);
  EXPECT_FALSE(state().pressed);
  EXPECT_TRUE(state().touching);
  pad.play(std::nullopt);  // the scroll ends at once: fingers lifted, at the end of the glide
  EXPECT_FALSE(state().touching);
  EXPECT_EQ(state().offset, (CGSize{16, 0}));
  EXPECT_EQ(clock.pending(), 0u);
  const auto before = state();
  clock.advance(1);
  EXPECT_EQ(state(), before);

  // The same move again starts from its beginning.
  pad.play(TrackpadMove::scroll(1, 0));
  EXPECT_EQ(state().offset, (CGSize{16, 0}));
  EXPECT_EQ(changes[changes.size() - 3].first.offset, (CGSize{-16, 0}));
}

}  // namespace
}  // namespace trelliq
