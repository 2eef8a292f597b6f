// What a connection writes reaches the peer whole and in order, whichever thread writes it:
// a message posted when nothing waits is written by the poster's own thread, as far as the
// socket takes it, and the rest, what is posted behind it and what is sent, wait for it.
// What a program only tells is answered with nothing, not even an error.

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RawPeer.h"
#include "platform/host/Channel.h"

namespace {

using host::wire::Kind;
using host::wire::Message;

class TellThreads : public ServedHostTest {};

}  // namespace

TEST(ChannelThreads, MessagesWrittenByAnyThreadArriveWholeAndInTheOrderEachThreadWroteThem) {
  // Which thread writes what, and where a write is cut short, varies from run to run:
  // several rounds meet more of the interleavings.
  for (int round = 0; round < 5; ++round) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    host::Channel channel(fds[0]);
    channel.startPosting(std::size_t{256} << 20);
    // Messages larger than the socket holds, to a peer that reads only once they are all
    // posted: the first is cut short by a full socket, the rest queue behind it, and a
    // blocking send waits for its turn meanwhile, as a program's calls do.
    const std::string filler(60 * 1024, 'x');
    constexpr int kPosted = 30, kSent = 4;
    std::thread sender([&] {
      for (int n = 0; n < kSent; ++n) EXPECT_TRUE(channel.send({Kind::push, std::uint64_t(n), "sent", filler}));
    });
    for (int n = 0; n < kPosted; ++n) EXPECT_TRUE(channel.post({Kind::push, std::uint64_t(n), "posted", filler}));
    host::wire::Decoder decoder;
    std::map<std::string, std::uint64_t> next;
    int read = 0;
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (read < kPosted + kSent && !decoder.fault()) {
      const ssize_t n = ::recv(fds[1], buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      decoder.feed(buffer.data(), static_cast<std::size_t>(n));
      while (auto m = decoder.next()) {
        ++read;
        EXPECT_EQ(m->id, next[m->method]++) << "out of order: " << m->method;
        EXPECT_EQ(m->body, filler);
      }
    }
    EXPECT_FALSE(decoder.fault()) << "a frame was split by another: " << decoder.fault()->what;
    EXPECT_EQ(read, kPosted + kSent);
    ::close(fds[1]);  // a send still waiting fails now
    sender.join();
    if (HasFailure()) return;
  }
}

TEST_F(TellThreads, WhatAProgramTellsIsAnsweredWithNothingAndItsFailureOnlyLogged) {
  RawPeer peer(socket);
  peer.send({Kind::call, 0, "ownProcessIdentifier", nullptr, 0});
  // An error numbered 0 would read as the host's parting word: a bad tell is only logged.
  peer.send({Kind::call, 0, "noSuchRequest", nullptr, 0});
  peer.send({Kind::call, 0, "ownProcessIdentifier", nullptr, 3});
  peer.send({Kind::call, 7, "ownProcessIdentifier", nullptr, 3});
  const auto first = peer.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->kind, Kind::reply);
  EXPECT_EQ(first->id, 7u) << "a told request was answered";
  EXPECT_TRUE(logHas(host, "told bad request noSuchRequest"));
}
