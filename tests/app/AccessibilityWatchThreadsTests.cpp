// The watch on a simulated Mac whose host has no thread for a call now and then, as under
// a process limit: a refused check is no answer, neither lost access nor nothing to say.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ShellDesk.h"
#include "app/AppDelegate.h"
#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "support/Served.h"

namespace {

using trelliq::AppDelegate;
using Lines = std::vector<std::string>;

TEST(AccessibilityWatchThreadsTest, ARefusedCheckIsSaidOnceAndTriedAgainNeverTakenForLostAccess) {
  ShellDesk desk;
  Attachment attachment(desk.scene, Served::remote);
  std::vector<int> exits;
  attachment.remote()->system->setExitHandler([&](int status) { exits.push_back(status); });
  // Each tick on a thread of its own: its calls go on a lane the host has no thread for yet.
  std::string last;
  const auto tickOnAFreshThread = [&] { std::thread([&] { AppDelegate::tick(last); }).join(); };
  struct ThreadsBack {
    ~ThreadsBack() { host::failThreadStartsAfter(-1); }
  } back;
  host::failThreadStartsAfter(0);
  tickOnAFreshThread();
  tickOnAFreshThread();
  host::failThreadStartsAfter(-1);
  const std::string refused =
      "accessibility: cannot be checked now, the system refused accessibilityTrusted (the world host cannot make a "
      "thread for this call now); checking again in a second";
  EXPECT_EQ(ShellDesk::log(), Lines{refused});

  tickOnAFreshThread();
  attachment.settle();
  EXPECT_EQ(ShellDesk::log(), (Lines{refused, "accessibility: trusted=true canFilter=true listen=true post=true"}));
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(desk.processes.launches().empty()) << "no second copy";
}

}  // namespace
