// Notification centres, running-application handles and the process information.

#include <gtest/gtest.h>

#include "platform/AppKitWorkspace.h"
#include "support/Scene.h"
#include "support/Served.h"

// The workspace as a program meets it in process and attached to a host.
class RunningApplicationTest : public ::testing::TestWithParam<Served> {};
class ProcessInfoTest : public ::testing::TestWithParam<Served> {};
TRELLIQ_SERVED_BOTH_WAYS(RunningApplicationTest);
TRELLIQ_SERVED_BOTH_WAYS(ProcessInfoTest);

TEST(NotificationCenterTest, ObserversMatchByNameAndSenderAndRunWhereTheyAsked) {
  Scene scene;
  NSNotificationCenter center;
  int a = 0, fromSender = 0, any = 0, queued = 0;
  const int sender = 0;
  auto ta = center.addObserver("A", nullptr, nullptr, [&](const NSNotification&) { ++a; });
  auto ts = center.addObserver("A", &sender, nullptr, [&](const NSNotification&) { ++fromSender; });
  auto tany = center.addObserver("", nullptr, nullptr, [&](const NSNotification&) { ++any; });
  auto tq = center.addObserver("B", nullptr, &platform::mainQueue(), [&](const NSNotification&) { ++queued; });

  center.post({"A", nullptr, std::nullopt});
  center.post({"A", &sender, std::nullopt});
  center.post({"B", nullptr, std::nullopt});
  EXPECT_EQ(a, 2);
  EXPECT_EQ(fromSender, 1);
  EXPECT_EQ(any, 3);
  EXPECT_EQ(queued, 0);       // not on the posting thread
  center.removeObserver(tq);  // a block already queued still runs
  scene.clock.runUntilIdle();
  EXPECT_EQ(queued, 1);
  center.post({"B", nullptr, std::nullopt});
  scene.clock.runUntilIdle();
  EXPECT_EQ(queued, 1);
  for (auto t : {ta, ts, tany}) center.removeObserver(t);
  center.post({"A", nullptr, std::nullopt});
  EXPECT_EQ(a, 2);
}

TEST_P(RunningApplicationTest, HandlesKeepWhatCannotChangeAndAskTheRestAfresh) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  auto quill = NSRunningApplication::withProcessIdentifier(301);
  ASSERT_TRUE(quill);
  EXPECT_EQ(quill->localizedName(), "Quill");
  EXPECT_EQ(quill->bundleURL(), "/Applications/Quill.app");
  ASSERT_TRUE(quill->icon());
  EXPECT_EQ(quill->icon()->width(), 64);
  EXPECT_TRUE(quill->isActive());
  scene.windowServer.setHidden(301, true);
  EXPECT_TRUE(quill->isHidden());
  EXPECT_FALSE(quill->isActive());
  scene.windowServer.updateApp(301, [](sim::App& a) { a.name = "Quill Pro"; });
  EXPECT_EQ(quill->localizedName(), "Quill");  // captured when the handle was made
  scene.windowServer.terminate(301);
  EXPECT_TRUE(quill->isTerminated());
  EXPECT_TRUE(NSRunningApplication::withProcessIdentifier(301)->isTerminated());  // still known, as ended
  EXPECT_FALSE(NSRunningApplication::withProcessIdentifier(424242));

  // The list holds running processes only, oldest first, the program among them.
  const auto running = NSWorkspace::shared().runningApplications();
  EXPECT_TRUE(
      std::none_of(running.begin(), running.end(), [](const auto& app) { return app.processIdentifier() == 301; }));
  EXPECT_TRUE(std::is_sorted(running.begin(), running.end(), [](const auto& x, const auto& y) {
    return x.launchDate().value_or(0) < y.launchDate().value_or(0);
  }));
  EXPECT_TRUE(std::any_of(running.begin(), running.end(),
                          [](const auto& app) { return app == NSRunningApplication::current(); }));
}

TEST_P(RunningApplicationTest, TheWorkspaceFollowsTheInstalledServer) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  int launches = 0;
  NSNotificationCenter& center = NSWorkspace::shared().notificationCenter();
  const auto token =
      center.addObserver(NSWorkspaceDidLaunchApplicationNotification, nullptr, nullptr, [&](const NSNotification& n) {
        ASSERT_TRUE(n.application);
        EXPECT_EQ(n.application->localizedName(), "Probe");
        ++launches;
      });
  sim::App probe;
  probe.name = "Probe";
  scene.windowServer.addApp(probe);
  attachment.settle();
  EXPECT_EQ(launches, 1);

  // A relaunched simulated Mac (even one at the same address) is heard from as well.
  attachment.restart(Scene::Start::empty);
  NSWorkspace::shared();
  scene.windowServer.addApp(probe);
  attachment.settle();
  EXPECT_EQ(launches, 2);
  center.removeObserver(token);
}

TEST_P(ProcessInfoTest, ThePidAndVersionAreTheSimulatedSystems) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  scene.world.setOSVersion({14, 6, 1});
  EXPECT_EQ(NSProcessInfo::processInfo().processIdentifier(), sim::WindowServer::kOwnPID);
  const auto v = NSProcessInfo::processInfo().operatingSystemVersion();
  EXPECT_EQ(v.majorVersion, 14);
  EXPECT_EQ(v.minorVersion, 6);
  EXPECT_EQ(v.patchVersion, 1);
  scene.windowServer.setOwnPID(9001);
  EXPECT_EQ(NSRunningApplication::current().processIdentifier(), 9001);
  EXPECT_EQ(NSRunningApplication::current().localizedName(), "Trelliq");
}
