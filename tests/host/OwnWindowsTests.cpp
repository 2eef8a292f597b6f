// A program's own windows through the host: a change is answered with what changed, not
// with every window again, kept by the program in the order the host sent it whatever
// order it arrives in, and one program may have only so many.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "RawPeer.h"
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
