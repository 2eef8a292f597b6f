// The open state shared with the tap thread, under real threads: two openers racing
// for the flag, and a tap-like reader that must never catch a rename half done.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SessionStage.h"

namespace trelliq::session {
namespace {

TEST(SessionThreadsTest, OfTwoOpeningsAtTheSameInstantExactlyOneWins) {
  Scene scene;
  auto switcher = Switcher::make();
  for (int round = 0; round < 500; ++round) {
    std::atomic<int> ready{0};
    std::atomic<int> winners{0};
    auto opener = [&](bool staying) {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      if (switcher->gate().tryOpen(kCommand, SessionAction::cycle(1), staying ? Staying::open : Staying::untilReleased))
        winners.fetch_add(1);
    };
    std::thread key(opener, false), corner(opener, true);
    key.join();
    corner.join();
    ASSERT_EQ(winners.load(), 1) << "round " << round;
    ASSERT_TRUE(switcher->gate().endOpen(std::nullopt));
  }
}

class RenamingThreadsTest : public SessionStage {};

TEST_F(RenamingThreadsTest, TheTapNeverSeesAnEditClosedAndNotRenaming) {
  startTap();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.2);
  ASSERT_TRUE(switcher->session().isShown());

  std::atomic<bool> done{false};
  std::atomic<long> torn{0}, reads{0};
  std::thread tap([&] {
    while (!done.load()) {
      const Switcher::OpenState state = switcher->gate().openState();
      if (!state.open && !state.renaming) torn.fetch_add(1);
      reads.fetch_add(1);
    }
  });
  // The reader looks at least once during each edit and once after it, however the
  // threads are scheduled: each half of a round waits for the reader's next look.
  const auto readerLooks = [&] {
    const long before = reads.load();
    while (reads.load() == before) std::this_thread::yield();
  };
  for (int round = 0; round < 1000; ++round) {
    switcher->renaming().startRenaming("0:1:desktop", 0);
    readerLooks();
    switcher->renaming().finishRenaming(false, false);
    readerLooks();
  }
  done.store(true);
  tap.join();
  EXPECT_GE(reads.load(), 2000);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_TRUE(switcher->gate().isOpen());
}

class SwitcherLifeThreadsTest : public SessionStage {};

// The tap's thread may hold the last reference while the main thread is inside a session's
// work: the controller must then end on the main queue, after that work, never under it.
TEST_F(SwitcherLifeThreadsTest, AControllerLetGoOnAnotherThreadEndsOnTheMainQueue) {
  startTap();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.2);
  ASSERT_TRUE(switcher->session().isShown());  // its looks again are queued
  const CFMachPortRef port = switcher->gate().tapPort();
  const SwitcherModel& model = switcher->model();

  std::thread([last = std::move(switcher)]() mutable { last.reset(); }).join();
  EXPECT_TRUE(CFMachPortIsValid(port)) << "ended on the thread that let it go";
  EXPECT_EQ(model.focused(), 0);  // still there for the main thread's work

  scene.clock.advance(2);  // the main queue: the queued looks, then the end
  EXPECT_FALSE(CFMachPortIsValid(port)) << "never ended";
}

}  // namespace
}  // namespace trelliq::session
