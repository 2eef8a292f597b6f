// A program that keeps asking without reading its answers: its lane stalls on the answers
// it leaves unread, and what it sends meanwhile waits for that lane. The host, a process of
// its own here, holds no more of it than one program may leave waiting, and lets it go
// saying why, while it serves everyone else.

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "RawPeer.h"
#include "platform/host/Host.h"
#include "platform/host/Wire.h"

namespace {

using host::wire::Kind;
using host::wire::Message;

/// Sends `message` whole; false once the host has hung up.
bool sendAll(RawPeer& peer, const Message& message) {
  const auto frame = host::wire::encode(message);
  for (std::size_t at = 0; at < frame.size();) {
    const ssize_t n = ::send(peer.fd, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

/// Captures whose answers the peer never reads: each brings memory the host holds until it
/// is read, and a handful of those unread stall the lane that answers them.
void stallLane(RawPeer& peer) {
  const nlohmann::json capture = {{"id", 1}, {"w", 100}, {"h", 100}, {"cursor", false}};
  for (std::uint64_t id = 1; id <= 32; ++id) ASSERT_TRUE(sendAll(peer, {Kind::call, id, "captureDisplay", capture, 1}));
}

/// Sends `body` in calls on the stalled lane until the host hangs up, at most `most` of
/// them; how many it took.
std::size_t sendUntilLetGo(RawPeer& peer, const nlohmann::json& body, std::size_t most) {
  std::size_t sent = 0;
  while (sent < most && sendAll(peer, {Kind::call, 100 + sent, "screens", body, 1})) ++sent;
  return sent;
}

}  // namespace

TEST(WaitingCallsThreadsTest, AProgramThatKeepsAskingWithoutReadingIsLetGoPastTheCallsOrBytesItMayLeaveWaiting) {
  AttachedHost stage;  // a program that reads its answers, served throughout
  ASSERT_NO_FATAL_FAILURE(stage.start());
  const auto screens = stage.mac->system->screens();
  {
    RawPeer many(stage.home.socket());
    ASSERT_NO_FATAL_FAILURE(stallLane(many));
    EXPECT_LT(sendUntilLetGo(many, nullptr, 4 * host::Host::kMaxWaitingCalls), 4 * host::Host::kMaxWaitingCalls);
  }
  {
    RawPeer large(stage.home.socket());
    ASSERT_NO_FATAL_FAILURE(stallLane(large));
    const std::size_t mebibyte = std::size_t{1} << 20, most = 3 * host::Host::kMaxWaitingCallBytes / mebibyte;
    const nlohmann::json padded = nlohmann::json::binary(std::vector<std::uint8_t>(mebibyte));
    EXPECT_LT(sendUntilLetGo(large, padded, most), most);
  }
  EXPECT_EQ(stage.mac->system->screens().size(), screens.size()) << "everyone else is served";

  stage.host->stop();
  stage.host->wait();
  const std::string log = stage.host->errors();
  EXPECT_NE(log.find("more than 1024 calls waiting on its lanes; connection closed"), std::string::npos) << log;
  EXPECT_NE(log.find("calls of more than 33554432 bytes waiting on its lanes; connection closed"), std::string::npos)
      << log;
}
