// A program's own windows through the host: a change is answered with what changed, not
// with every window again (nor read again: the window server says which may have changed),
// kept by the program in the order the host sent it whatever order it arrives in, and one
// program may have only so many. What the program keeps after an answer is current even
// for the windows its request did not touch: a change of the desk's own in between, and
// another of its windows covering or uncovering one, come with it.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "RawPeer.h"
#include "platform/WindowServerPort.h"
#include "platform/host/OwnWindowTable.h"
#include "platform/host/Remote.h"
#include "platform/host/SharedCount.h"
#include "platform/host/WireValues.h"

namespace {

class OwnWindowsThroughHost : public ServedHostTest {
 protected:
  std::optional<nlohmann::json> ask(const std::string& method, nlohmann::json body = nullptr) {
    return attachment.remote()->connection->call(method, std::move(body));
  }
  std::optional<nlohmann::json> make() {
    platform::OwnWindowState state;
    state.frame = CGRect(10, 10, 100, 80);
    return ask("createOwnWindow", host::wire::encode(state));
  }
};

TEST_F(OwnWindowsThroughHost, MakingAWindowIsAnsweredWithThatWindowAlone) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(make());
  const auto fourth = make();
  ASSERT_TRUE(fourth);
  const auto& rows = fourth->at("own").at("w");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], fourth->at("n"));
  const auto whole = ask("ownWindows");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->at("w").size(), 4u) << "asked, the state is whole";
}

class OwnWindowsKept : public ServedHostTest {
 protected:
  platform::WindowServerPort& port = platform::windowServer();
  /// `number`'s state as the program keeps it, read without a round trip.
  platform::OwnWindowStatus kept(std::uint32_t number) {
    const std::uint64_t before = attachment.remote()->connection->calls();
    const auto status = port.ownWindowStatus(number);
    EXPECT_EQ(attachment.remote()->connection->calls(), before) << "window " << number << " was asked for";
    return status.value_or(platform::OwnWindowStatus{});
  }
  std::uint32_t shown(const CGRect& frame) {
    platform::OwnWindowState state;
    state.frame = frame;
    const std::uint32_t number = port.createOwnWindow(state);
    port.orderOwnWindow(number, platform::OwnWindowOrder::front);
    return number;
  }
};

TEST_F(OwnWindowsKept, AChangeOfTheDesksOwnComesWithTheAnswerToTheNextRequest) {
  const std::uint32_t here = shown(CGRect(400, 300, 300, 200));
  ASSERT_TRUE(kept(here).onActiveSpace);
  scene.windowServer.switchSpace(4, sim::SwitchStyle::instant);
  shown(CGRect(50, 50, 100, 80));  // its answers bring what the switch did to the first
  EXPECT_FALSE(kept(here).onActiveSpace);
  EXPECT_FALSE(kept(here).occlusionVisible);
}

TEST_F(OwnWindowsKept, CoveringOrUncoveringAnotherOfItsWindowsChangesThatOnesStateToo) {
  const CGRect frame(500, 300, 300, 200);
  const std::uint32_t under = shown(frame);
  ASSERT_TRUE(kept(under).occlusionVisible);
  const std::uint32_t over = shown(CGRect(450, 250, 400, 300));
  EXPECT_FALSE(kept(under).occlusionVisible);
  EXPECT_TRUE(kept(over).occlusionVisible);
  port.orderOwnWindow(over, platform::OwnWindowOrder::out);
  EXPECT_TRUE(kept(under).occlusionVisible);
  port.orderOwnWindow(over, platform::OwnWindowOrder::front);
  EXPECT_FALSE(kept(under).occlusionVisible);
  port.destroyOwnWindow(over);
  EXPECT_TRUE(kept(under).occlusionVisible);
  EXPECT_FALSE(port.ownWindowStatus(over)) << "gone";
}

TEST(OwnWindowChanges, AreTheWindowsRequestsChangedUntilTheDeskChangesOtherwise) {
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  sim::WindowServer::ActingProgram program(777);
  EXPECT_TRUE(server.takeOwnWindowChanges().all) << "a program's first ask";
  platform::OwnWindowState state;
  state.frame = CGRect(10, 10, 100, 80);
  for (int i = 0; i < 4; ++i) server.createOwnWindow(state);
  EXPECT_EQ(server.takeOwnWindowChanges().windows.size(), 4u);
  const std::uint32_t fifth = server.createOwnWindow(state);
  const auto taken = server.takeOwnWindowChanges();
  ASSERT_EQ(taken.windows.size(), 1u) << "what one more window costs does not grow with the others";
  EXPECT_EQ(taken.windows[0].first, fifth);
  EXPECT_FALSE(taken.all);
  server.switchSpace(4, sim::SwitchStyle::instant);
  EXPECT_TRUE(server.takeOwnWindowChanges().all);
  EXPECT_TRUE(server.takeOwnWindowChanges().windows.empty());
}

TEST_F(OwnWindowsThroughHost, AProgramWithAsManyWindowsAsItMayHaveIsRefusedAnother) {
  std::uint32_t last = 0;
  for (std::size_t i = 0; i < host::Host::kMaxOwnWindows; ++i) {
    const auto made = make();
    ASSERT_TRUE(made) << i;
    last = made->at("n").get<std::uint32_t>();
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(make());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("as many as one program may have"), std::string::npos);
  ASSERT_TRUE(ask("destroyOwnWindow", last));
  EXPECT_TRUE(make()) << "a window let go of makes room for another";
}

TEST(OwnWindowTable, ChangesThatCrossOnTheirWayAreKeptInTheOrderTheyWereSent) {
  const std::string path = testing::TempDir() + "own-window-count";
  auto made = host::SharedCount::create(path);
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<host::SharedCount>>(made));
  const std::uint64_t count = std::get<std::unique_ptr<host::SharedCount>>(made)->load();
  host::OwnWindowTable table;
  table.attach(path);
  platform::OwnWindowStatus shown;
  shown.orderedIn = true;
  const auto row = [&](std::uint32_t number) { return nlohmann::json::array({number, host::wire::encode(shown)}); };
  using nlohmann::json;
  table.take(json{{"g", count}, {"s", 1}, {"w", json::array({row(1)})}});
  // Two threads' answers, the later one first: window 3 made, then (sent before it) 2 made
  // and 1 gone.
  table.take(json{{"g", count}, {"s", 3}, {"d", true}, {"w", json::array({row(3)})}, {"x", json::array()}});
  table.take(json{{"g", count}, {"s", 2}, {"d", true}, {"w", json::array({row(2)})}, {"x", json::array({1})}});
  for (std::uint32_t number : {2u, 3u}) {
    const auto kept = table.status(number);
    ASSERT_TRUE(kept) << "answered without asking the host";
    EXPECT_TRUE(*kept && (*kept)->orderedIn) << number;
  }
  const auto gone = table.status(1);
  ASSERT_TRUE(gone);
  EXPECT_FALSE(*gone);
  std::filesystem::remove(path);
}

}  // namespace
