// The host at the edges of what the system gives it: no thread for a program or a call, no
// descriptor for a connection, programs coming and going by the hundred, a program that
// keeps sending what the host ignores. It refuses what it cannot serve, says so once, and
// keeps no more than it states. The host runs in this process on a scene's world, so what
// it keeps can be counted.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "HostProcess.h"
#include "RawPeer.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Host.h"
#include "platform/host/Wire.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

using host::wire::Kind;
using host::wire::Message;

class HostLimitsThreadsTest : public ServedHostTest {
 protected:
  void TearDown() override { host::failThreadStartsAfter(-1); }
};

TEST_F(HostLimitsThreadsTest, AProgramOrCallWithoutAThreadIsRefusedAndEveryoneElseIsServed) {
  RawPeer early(socket);  // attached while threads are to be had
  // Answered on lane 0 by the connection's reader: its threads are running once it is.
  early.send({Kind::call, 6, "screens", nullptr, 0});
  const auto first = early.next();
  ASSERT_TRUE(first);
  ASSERT_EQ(first->kind, Kind::reply);

  host::failThreadStartsAfter(0);
  RawPeer refused(socket);
  const auto told = refused.next();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->kind, Kind::error);
  EXPECT_EQ(told->body, "the world host cannot take another program now");
  EXPECT_FALSE(refused.next()) << "and then hung up";
  early.send({Kind::call, 7, "screens", nullptr, 5});
  const auto answer = early.next();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->kind, Kind::error) << "no thread for lane 5";
  EXPECT_EQ(answer->id, 7u);
  EXPECT_FALSE(platform::windowServer().windowList().empty()) << "the first program's lane has its thread";

  host::failThreadStartsAfter(-1);
  early.send({Kind::call, 8, "screens", nullptr, 5});
  const auto later = early.next();
  ASSERT_TRUE(later);
  EXPECT_EQ(later->kind, Kind::reply) << "the lane gets its thread once there are threads again";
  EXPECT_TRUE(logHas(host, "no thread for it"));
  EXPECT_TRUE(logHas(host, "no thread for the calls of its lane 5"));
}

TEST_F(HostLimitsThreadsTest, AProgramWhoseLaneGotNoThreadLeavesAndTheHostGoesOn) {
  {
    RawPeer refused(socket);
    refused.send({Kind::call, 2, "screens", nullptr, 0});  // its reader answers: it is started
    const auto first = refused.next();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->kind, Kind::reply);
    host::failThreadStartsAfter(0);
    refused.send({Kind::call, 3, "screens", nullptr, 9});
    const auto answer = refused.next();
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->kind, Kind::error) << "lane 9 has no thread";
  }
  ASSERT_TRUE(eventually([&] { return host.clientCount() == 1; })) << "its connection ended";
  host::failThreadStartsAfter(-1);
  RawPeer next(socket);
  next.send({Kind::call, 1, "screens", nullptr, 1});
  const auto served = next.next();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->kind, Kind::reply);
}

TEST_F(HostLimitsThreadsTest, ProgramsPastTheLimitAreRefusedAndLanesPastTheLimitShareOne) {
  // Only a newcomer closes a silent connection here: the timer would close the oldest one
  // too, and tell it the same.
  host.setSilentSeconds(600);
  // Connections that never say hello, more of them than programs may be served, take no
  // program's place.
  std::vector<std::unique_ptr<RawPeer>> silent;
  while (silent.size() < host::Host::kMaxPrograms) silent.push_back(std::make_unique<RawPeer>(socket));
  std::vector<std::unique_ptr<RawPeer>> peers;
  while (peers.size() + 1 < host::Host::kMaxPrograms) {
    peers.push_back(std::make_unique<RawPeer>(socket));
    peers.back()->send({Kind::call, 1, "ownProcessIdentifier", nullptr});
    peers.back()->send({Kind::call, 2, "screens", nullptr});  // a call after its hello
    for (int n = 0; n < 2; ++n) {
      const auto answer = peers.back()->next();
      ASSERT_TRUE(answer && answer->kind == Kind::reply) << "program " << peers.size() + 1 << " is served";
    }
  }
  RawPeer oneTooMany(socket);
  oneTooMany.send({Kind::call, 1, "ownProcessIdentifier", nullptr});
  const auto told = oneTooMany.next();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->body, "the world host serves at most 64 programs at once");
  EXPECT_FALSE(oneTooMany.next()) << "and then hung up";
  const auto& oldest = silent.front();
  const auto closed = oldest->next();
  ASSERT_TRUE(closed) << "the longest silent made room for the others";
  EXPECT_EQ(closed->body, host::Host::kSilentReason);
  EXPECT_TRUE(eventually([&] { return host.clientCount() <= host::Host::kMaxPrograms + host::Host::kMaxSilent; }));

  RawPeer& busy = *peers.front();
  const std::size_t lanesBefore = host.counts().lanes;
  const std::uint32_t lanes = host::Host::kMaxLanes * 2;
  for (std::uint32_t lane = 1; lane <= lanes; ++lane)
    busy.send({Kind::call, lane, "ownProcessIdentifier", nullptr, lane});
  for (std::uint32_t n = 0; n < lanes; ++n) {
    const auto answer = busy.next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, Kind::reply);
  }
  EXPECT_EQ(host.counts().lanes - lanesBefore, host::Host::kMaxLanes);
}

TEST_F(HostLimitsThreadsTest, ProgramsThatOnlySaidHelloKeepNobodyOut) {
  host.setSilentSeconds(600);  // only a newcomer closes one here
  auto served = [&](RawPeer& peer, bool speaks) {
    peer.send({Kind::call, 1, "ownProcessIdentifier", nullptr});
    if (speaks) peer.send({Kind::call, 2, "screens", nullptr});
    for (int n = 0; n < (speaks ? 2 : 1); ++n) {
      const auto answer = peer.next();
      if (!answer || answer->kind != Kind::reply) return false;
    }
    return true;
  };
  // Every place taken (the scene's program holds one), a few by programs that said only
  // hello: fewer of those than may wait silent.
  constexpr std::size_t kQuiet = host::Host::kMaxSilent / 2;
  std::vector<std::unique_ptr<RawPeer>> peers;
  while (peers.size() + 1 < host::Host::kMaxPrograms) {
    peers.push_back(std::make_unique<RawPeer>(socket));
    ASSERT_TRUE(served(*peers.back(), peers.size() + kQuiet < host::Host::kMaxPrograms)) << peers.size();
  }
  RawPeer next(socket);
  EXPECT_TRUE(served(next, true)) << "not refused";
  const auto closed = peers[peers.size() - kQuiet]->next();
  ASSERT_TRUE(closed) << "the one that said hello longest ago made room";
  EXPECT_EQ(closed->body, host::Host::kSilentReason);
}

TEST_F(HostLimitsThreadsTest, AConnectionThatSaysNothingIsClosedInItsTime) {
  host.setSilentSeconds(0.05);
  RawPeer silent(socket);
  const auto told = silent.next();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->body, host::Host::kSilentReason);
  EXPECT_FALSE(silent.next()) << "and then hung up";
  EXPECT_TRUE(logHas(host, "it said nothing; closed after"));
  EXPECT_TRUE(platform::windowServer().ownProcessIdentifier() > 0) << "the program that said hello is served";
}

TEST_F(HostLimitsThreadsTest, UnfinishedCallsAreBoundedForEachProgramAndForAllTogether) {
  host.setSilentSeconds(600);  // the peers here never finish a call
  const std::size_t limit = host::wire::kMaxCallPayload;
  const auto startFrame = [](RawPeer& peer, std::size_t length, std::size_t sent) {
    std::vector<std::uint8_t> bytes(host::wire::kHeaderSize + sent, 0);
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    bytes[5] = host::wire::kProtocolVersion;
    // The host may hang up halfway: what it did is what counts.
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::send(peer.fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return;
      at += static_cast<std::size_t>(n);
    }
  };
  RawPeer tooLong(socket);
  startFrame(tooLong, limit + 1, 0);
  EXPECT_FALSE(tooLong.next()) << "a call over the limit ends its connection from its header";

  // All but the last byte of the longest call each: the host holds them, until together
  // they would pass the bound.
  const std::size_t unfinished = limit - 1;
  std::vector<std::unique_ptr<RawPeer>> peers;
  while (peers.size() < host::Host::kMaxUnfinishedBytes / limit) {
    peers.push_back(std::make_unique<RawPeer>(socket));
    startFrame(*peers.back(), limit, unfinished - host::wire::kHeaderSize);
    ASSERT_TRUE(eventually([&] { return host.counts().unfinishedBytes == peers.size() * unfinished; }));
  }
  RawPeer onePast(socket);
  startFrame(onePast, limit, unfinished - host::wire::kHeaderSize);
  EXPECT_FALSE(onePast.next()) << "its connection ended";
  EXPECT_EQ(host.counts().unfinishedBytes, peers.size() * unfinished);
  EXPECT_TRUE(logHas(host, "over the shared limit"));
  peers.clear();
  EXPECT_TRUE(eventually([&] { return host.counts().unfinishedBytes == 0; })) << "given back as they went";
}

TEST_F(HostLimitsThreadsTest, CapturesTheirProgramsHaveNotReadHoldNoMoreThanTheBound) {
  const auto displays = scene.world.displays();
  ASSERT_FALSE(displays.empty());
  const nlohmann::json request = {{"id", displays.front().screen.displayID}, {"w", 100}, {"h", 100}, {"cursor", false}};
  host.setPictureMemory(3 * 100 * 100 * 4);
  RawPeer greedy(socket);
  for (std::uint64_t id = 1; id <= 4; ++id) greedy.send({Kind::call, id, "captureDisplay", request, 1});
  // Nothing read until the host has answered them all.
  ASSERT_TRUE(eventually([&] { return host.counts().picturesRefused == 1; }));
  for (std::uint64_t id = 1; id <= 3; ++id) {
    const auto answer = greedy.next();
    ASSERT_TRUE(answer && answer->kind == Kind::reply) << "answer " << id;
    EXPECT_TRUE(answer->carriesDescriptor);
  }
  const auto refused = greedy.next();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, Kind::error);
  EXPECT_EQ(refused->body, host::Host::kNoRoomForPicture);
  // Read now: what was sent is the program's, and the host has room again.
  greedy.send({Kind::call, 5, "captureDisplay", request, 1});
  const auto again = greedy.next();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->kind, Kind::reply);
}

TEST_F(HostLimitsThreadsTest, CapturesPastTheBoundWhileOthersAreOnTheirWayLeaveEveryProgramItsPictures) {
  const auto displays = scene.world.displays();
  ASSERT_FALSE(displays.empty());
  const nlohmann::json request = {{"id", displays.front().screen.displayID}, {"w", 100}, {"h", 100}, {"cursor", false}};
  constexpr std::size_t kPicture = 100 * 100 * 4;
  host.setPictureMemory(4 * kPicture);
  auto capture = [&](RawPeer& peer, std::uint64_t id) { peer.send({Kind::call, id, "captureDisplay", request, 1}); };
  auto answered = [](RawPeer& peer, Kind kind) {
    const auto answer = peer.next();
    return answer && answer->kind == kind && answer->carriesDescriptor == (kind == Kind::reply);
  };
  // Two programs' answers with pictures are on their way while a third asks past the bound
  // again and again: each time the host looks (from the third's lane) which of them were
  // read, as their writers send them, before and after the first reads its own. Threads
  // meet differently each time: a few rounds.
  for (int round = 0; round < 3 && !HasFailure(); ++round) {
    ASSERT_TRUE(eventually([&] { return host.counts().pictureBytes == 0; })) << "the last round's programs went";
    RawPeer first(socket), second(socket), late(socket);
    for (std::uint64_t id = 1; id <= 2; ++id) {
      capture(first, id);
      capture(second, id);
    }
    ASSERT_TRUE(eventually([&] { return host.counts().pictureBytes == 4 * kPicture; }));
    for (std::uint64_t id = 1; id <= 2; ++id) capture(late, id);
    for (int n = 0; n < 2; ++n) EXPECT_TRUE(answered(late, Kind::error)) << "no room while nothing was read";
    for (int n = 0; n < 2; ++n) EXPECT_TRUE(answered(first, Kind::reply));
    for (std::uint64_t id = 3; id <= 4; ++id) capture(late, id);
    for (int n = 0; n < 2; ++n) EXPECT_TRUE(answered(late, Kind::reply)) << "the room the first program's reading made";
    for (int n = 0; n < 2; ++n) EXPECT_TRUE(answered(second, Kind::reply));
  }
}

TEST_F(HostLimitsThreadsTest, WithoutDescriptorsTheHostWaitsBetweenTriesSaysSoOnceAndThenTakesEveryone) {
  std::vector<int> pending;
  for (int i = 0; i < 3; ++i) pending.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // Until the limit is lifted, nothing may need a descriptor (the sanitizers' checks of
  // this fixture's type do), so only plain locals are used.
  const host::SocketAddress address(socket);
  host::Host* server = &host;
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  // Not one descriptor more for this process (the next would be the lowest free number):
  // the host cannot accept what connects now.
  const int lowestFree = ::dup(0);
  ::close(lowestFree);
  rlimit none = before;
  none.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  int connected = 0;
  for (int fd : pending) connected += ::connect(fd, address.get(), address.size()) == 0 ? 1 : 0;
  const bool told = eventually([server] { return logHas(*server, "cannot accept programs for now"); });
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
  ASSERT_EQ(connected, 3);
  ASSERT_TRUE(told);

  EXPECT_TRUE(eventually([&] { return host.clientCount() == 1 + pending.size(); }));
  EXPECT_TRUE(logHas(host, "cannot accept programs for now", 1)) << "said once";
  EXPECT_TRUE(logHas(host, "accepting programs again", 1));
  // Waits that double up to a second: a few dozen tries at most, where a loop that did
  // not wait would have made millions.
  EXPECT_LE(host.counts().acceptRetries, 40u);
  for (int fd : pending) ::close(fd);
}

TEST_F(HostLimitsThreadsTest, ProgramsComingAndGoingLeaveNoMoreBehindThanTheLastEndedOnes) {
  auto* program = dynamic_cast<host::RemoteWindowServer*>(&platform::windowServer());
  ASSERT_TRUE(program);
  const std::size_t processes = scene.windowServer.keptProcessCount();
  for (int cycle = 0; cycle < 150; ++cycle) {
    auto copy = attach(socket);
    ASSERT_TRUE(copy);
    // The first program looks at the new process, as its switcher would: its icon crosses.
    const auto info = program->application(copy->windowServer->ownProcessIdentifier());
    ASSERT_TRUE(info && info->icon);
  }
  ASSERT_TRUE(eventually([&] { return host.counts().programs == 1; })) << "the copies are gone";
  program->runningApplications();
  const std::size_t kept = sim::WindowServer::kEndedKept;
  EXPECT_LE(scene.windowServer.keptProcessCount(), processes + kept);
  EXPECT_LE(host.counts().sentPictures, processes + kept);
  EXPECT_TRUE(eventually([&] { return program->keptPictures() <= processes + kept; }))
      << program->keptPictures() << " pictures kept";
}

TEST_F(HostLimitsThreadsTest, AProgramThatKeepsSendingWhatIsIgnoredGetsAFewLinesAndACount) {
  {
    RawPeer chatty(socket);
    for (std::uint64_t n = 1; n <= 1000; ++n) chatty.send({Kind::push, n, "tap", nullptr});
    chatty.send({Kind::call, 1, "screens", nullptr, 1});
    ASSERT_TRUE(chatty.next()) << "every frame before it was read";
  }
  ASSERT_TRUE(eventually([&] { return logHas(host, "… and 980 more"); }));
  EXPECT_TRUE(logHas(host, "sent a push; ignored", host::Host::kLinesPerProgram));
}

}  // namespace
