// Which window pictures are kept, and how large: the order in which they go past the
// budget and the plan of what to capture.

#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <thread>

#include "switcher/model/PictureKeeping.h"

namespace trelliq {
namespace {

constexpr std::uint32_t kA = 1, kB = 2, kC = 3, kNever = 4;
constexpr std::size_t kPicture = 100 * 100 * 4;

CGImageRef picture() { return std::make_shared<const CGImage>(QImage(100, 100, QImage::Format_ARGB32_Premultiplied)); }
CGSize square(double side) { return {side, side}; }

TEST(PictureKeepingTest, PicturesGoPastTheBudgetNeverDrawnFirstThenLeastRecentlyDrawnButNeverOneDrawnNow) {
  PictureKeeping keeping;
  int changes = 0;
  keeping.setOnDrawnChange([&] { ++changes; });
  for (const std::uint32_t window : {kA, kB, kC}) keeping.setDrawn(-1, {{window, square(100)}});
  EXPECT_EQ(changes, 3);
  keeping.setDrawn(-1, {{kC, square(100)}});
  EXPECT_EQ(changes, 3) << "drawing the same again is no change";
  const std::map<std::uint32_t, CGImageRef> pictures{
      {kA, picture()}, {kB, picture()}, {kC, picture()}, {kNever, picture()}};

  keeping.setBudget(3 * kPicture);
  EXPECT_EQ(keeping.overBudget(pictures), std::vector<std::uint32_t>{kNever});
  keeping.setBudget(2 * kPicture);
  EXPECT_EQ(keeping.overBudget(pictures), (std::vector<std::uint32_t>{kNever, kA}));
  keeping.setBudget(0);
  EXPECT_EQ(keeping.overBudget(pictures), (std::vector<std::uint32_t>{kNever, kA, kB})) << "C is drawn now";

  // A given-up picture is wanted again once drawn; one kept for a smaller use too.
  keeping.gaveUp({kA});
  EXPECT_TRUE(keeping.wantedAgain(pictures).empty()) << "A is not drawn now";
  keeping.setDrawn(0, {{kA, square(100)}});
  EXPECT_EQ(keeping.wantedAgain(pictures), (std::vector<std::uint32_t>{kA}));
  keeping.plan({kB}, [](std::uint32_t) { return square(1000); });  // B was last drawn at 100
  keeping.setDrawn(1, {{kB, square(400)}});
  EXPECT_EQ(keeping.wantedAgain(pictures), std::vector<std::uint32_t>{kB}) << "planned at 100, drawn at 400";
}

TEST(PictureKeepingTest, APlanTakesWhatIsDrawnThenWhatWasDrawnThenTheRestUntilTheBudgetIsSpent) {
  PictureKeeping keeping;
  keeping.setDrawn(0, {{kA, square(10)}});
  keeping.setDrawn(0, {{kB, square(20)}});  // A was drawn before, at 10 × 10
  keeping.setBudget(20 * 20 * 4 + 10 * 10 * 4 + 2 * kPicture);
  const auto unseen = [](std::uint32_t) { return square(100); };
  const PictureKeeping::Sizes plan = keeping.plan({kC, kNever, 5, kA, kB}, unseen);
  EXPECT_EQ(plan,
            (PictureKeeping::Sizes{{kA, square(10)}, {kB, square(20)}, {kC, square(100)}, {kNever, square(100)}}));
  EXPECT_EQ(keeping.wantedAgain({}), std::vector<std::uint32_t>{}) << "window 5 is given up but not drawn";
  keeping.setDrawn(1, {{5, square(50)}});
  EXPECT_EQ(keeping.wantedAgain({}), std::vector<std::uint32_t>{5});
}

TEST(PictureKeepingTest, APlanWantsTheLatestDrawnSizeAndWithinTheBudgetTheLatestDrawnWindow) {
  PictureKeeping keeping;
  const auto unseen = [](std::uint32_t) { return square(1000); };
  keeping.setDrawn(0, {{kA, square(400)}});
  keeping.setDrawn(0, {{kA, square(100)}});
  EXPECT_EQ(keeping.plan({kA}, unseen), (PictureKeeping::Sizes{{kA, square(100)}})) << "drawn smaller since";

  keeping.setDrawn(0, {{kB, square(100)}});
  keeping.setDrawn(0, {{kC, square(100)}});
  keeping.setDrawn(0, {});  // nothing drawn now; C last
  keeping.setBudget(kPicture);
  EXPECT_EQ(keeping.plan({kA, kB, kC}, unseen), (PictureKeeping::Sizes{{kC, square(100)}}));
}

TEST(PictureKeepingTest, TheCaptureReadsTheLargestSizeEachWindowIsDrawnAtNowAndNothingForOneNoLongerDrawn) {
  PictureKeeping keeping;
  const std::shared_ptr<const DrawnSizes> drawn = keeping.drawnSizes();
  keeping.setDrawn(0, {{kA, square(100)}, {kB, square(50)}});
  keeping.setDrawn(1, {{kA, square(300)}, {kC, square(20)}});
  EXPECT_EQ(drawn->of(kA), square(300));
  EXPECT_EQ(drawn->of(kB), square(50)) << "a window of another site stays as it was";
  keeping.setDrawn(1, {{kC, square(30)}});
  EXPECT_EQ(drawn->of(kA), square(100)) << "the other site's size once the larger is gone";
  EXPECT_EQ(drawn->of(kC), square(30));
  keeping.setDrawn(0, {{kB, square(50)}});
  EXPECT_FALSE(drawn->of(kA)) << "no longer drawn anywhere";
  EXPECT_EQ(drawn->of(kB), square(50));
  EXPECT_FALSE(drawn->of(kNever));
}

// The capture's threads read the sizes while the main thread publishes new ones.
TEST(DrawnSizesThreadsTest, SizesAreReadWhileTheyAreReplaced) {
  DrawnSizes sizes;
  std::atomic<bool> reading{false};
  std::thread capture([&] {
    reading = true;
    for (int i = 0; i < 2000; ++i) {
      if (const auto size = sizes.of(kA)) EXPECT_EQ(size->width, size->height);
    }
  });
  while (!reading) std::this_thread::yield();
  for (int i = 0; i < 2000; ++i) sizes.set({{kA, square(i)}, {kB, square(i + 1)}});
  capture.join();
  EXPECT_EQ(sizes.of(kB), square(2000));
}

}  // namespace
}  // namespace trelliq
