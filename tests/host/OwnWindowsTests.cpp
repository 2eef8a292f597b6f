// A program's own windows through the host: a change is answered with what changed, not
// with every window again, and one program may have only so many.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RawPeer.h"
#include "platform/host/Remote.h"
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

}  // namespace
