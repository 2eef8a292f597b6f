// What a connection writes reaches the peer whole and in order, whichever thread writes it:
// a message posted when nothing waits is written by the poster's own thread, as far as the
// socket takes it, and the rest, what is posted behind it, what is sent and a parting word
// on close, wait for it. What a program only tells is answered with nothing, not even an
// error.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
class HangUpThreads : public ServedHostTest {};

/// Everything the peer at `fd` reads until the stream ends.
std::vector<std::uint8_t> readToEnd(int fd) {
  std::vector<std::uint8_t> got, buffer(256 * 1024);
  ssize_t n;
  while ((n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0) got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  return got;
}

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

TEST(ChannelThreads, TwoThreadsPostingAtOnceToAPeerThatReadsLateGetEveryFrameWholeAndInOrder) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  const int small = 16 * 1024;
  ASSERT_EQ(::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
  host::Channel channel(fds[0]);
  channel.startPosting(std::size_t{256} << 20);
  // Frames larger than the socket holds, posted by two threads at the same moment once the
  // peer has read all before: one is written at once and cut short, the other is posted
  // while it writes, and the first one's rest must go before it.
  const std::string filler(64 * 1024, 'x');
  constexpr int kRounds = 80;
  std::atomic<int> read{0}, ready{0};
  auto poster = [&](const std::string& method) {
    for (int n = 0; n < kRounds; ++n) {
      while (read.load() < 2 * n) std::this_thread::yield();
      ++ready;
      while (ready.load() < 2 * (n + 1)) {
        // Spun, not slept: a thread woken from sleep comes too late to meet the other's write.
      }
      EXPECT_TRUE(channel.post({Kind::push, std::uint64_t(n), method, filler}));
    }
  };
  std::thread a(poster, "a"), b(poster, "b");
  host::wire::Decoder decoder;
  std::map<std::string, std::uint64_t> next;
  std::vector<std::uint8_t> buffer(64 * 1024);
  while (read.load() < 2 * kRounds && !decoder.fault()) {
    const ssize_t n = ::recv(fds[1], buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    decoder.feed(buffer.data(), static_cast<std::size_t>(n));
    while (auto m = decoder.next()) {
      EXPECT_EQ(m->id, next[m->method]++) << "out of order: " << m->method;
      EXPECT_TRUE(m->body == filler) << "a frame of " << m->method << " was torn";
      ++read;
    }
  }
  EXPECT_FALSE(decoder.fault()) << "a frame was split by another: " << decoder.fault()->what;
  EXPECT_EQ(read.load(), 2 * kRounds);
  read = 2 * kRounds;  // a poster still waiting goes on
  ::close(fds[1]);
  a.join();
  b.join();
}

TEST(ChannelThreads, AFrameBegunWhenTheConnectionClosesIsFinishedBeforeThePartingWordOrEndsItAlone) {
  const Message big{Kind::push, 1, "big", std::string(64 * 1024, 'x')};
  const Message parting{Kind::error, 0, "", "goodbye"};
  auto expected = host::wire::encode(big);
  const auto bigFrame = expected;
  const auto partingFrame = host::wire::encode(parting);
  expected.insert(expected.end(), partingFrame.begin(), partingFrame.end());
  // Whether the posting thread has taken the rest when the close comes varies: many rounds
  // meet both.
  for (int round = 0; round < 20; ++round) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    const int small = 16 * 1024;
    ASSERT_EQ(::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
    std::vector<std::uint8_t> got;
    std::thread peer([&] { got = readToEnd(fds[1]); });
    std::chrono::steady_clock::duration took{};
    {
      host::Channel channel(fds[0]);
      channel.startPosting(std::size_t{256} << 20);
      EXPECT_TRUE(channel.post(big));  // cut short by the full socket, the rest left to the poster
      const auto start = std::chrono::steady_clock::now();
      channel.close(parting);
      took = std::chrono::steady_clock::now() - start;
    }
    peer.join();
    ::close(fds[1]);
    if (got == expected) continue;
    // Only a peer that did not take the rest within the close's wait misses it, and then
    // nothing follows what it got.
    EXPECT_GE(took, host::Channel::kCloseWait) << "round " << round << ": " << got.size() << " bytes";
    EXPECT_TRUE(got.size() < bigFrame.size() && std::equal(got.begin(), got.end(), bigFrame.begin()))
        << "round " << round << ": another frame's bytes read as the rest of one cut short";
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

TEST_F(HangUpThreads, AnAnswerBegunWhenTheHostHangsUpArrivesWholeBeforeItsPartingWord) {
  RawPeer peer(socket);
  // The error answering a request of an unknown name repeats it: longer than a socket holds.
  peer.send({Kind::call, 1, std::string(248 * 1024, 'x'), nullptr, 1});
  pollfd begun{peer.fd, POLLIN, 0};
  ASSERT_EQ(::poll(&begun, 1, 20000), 1) << "the answer's first bytes are out";
  auto oldVersion = host::wire::encode({Kind::call, 2, "screens", nullptr, 0});
  oldVersion[5] = host::wire::kProtocolVersion - 1;
  const auto hungUpAfter = std::chrono::steady_clock::now();
  peer.sendBytes(oldVersion.data(), oldVersion.size());
  const auto got = readToEnd(peer.fd);
  const auto took = std::chrono::steady_clock::now() - hungUpAfter;
  host::wire::Decoder decoder;
  decoder.feed(got.data(), got.size());
  std::vector<Message> read;
  while (auto m = decoder.next()) read.push_back(*m);
  if (read.size() == 2 && decoder.buffered() == 0) {
    EXPECT_EQ(read[0].id, 1u);
    EXPECT_EQ(read[0].kind, Kind::error);
    EXPECT_EQ(read[1].body, "the world host speaks protocol " + std::to_string(host::wire::kProtocolVersion));
    return;
  }
  // Only a peer that did not take the rest within the host's wait misses it, and then
  // nothing follows what it got.
  EXPECT_GE(took, host::Channel::kCloseWait) << got.size() << " bytes, " << read.size() << " messages";
  EXPECT_TRUE(read.empty());
}
