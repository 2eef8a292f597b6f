// Programs that misbehave toward the host and the others on it: one stops reading, one
// sends a bad frame while an answer to it is still being written, one reaches for another
// program's taps and windows, one has no descriptor to spare. Nobody else's keys or
// windows suffer, and the misbehaving program is let go as soon as it cannot be served.
// The host mostly runs in this process on a scene's world (the attached program is the
// primary); where keys must flow, it runs as a process of its own, on a real clock.

#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "RawPeer.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Host.h"
#include "platform/host/WireValues.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

using host::wire::Kind;
using nlohmann::json;

platform::EventTapRequest listenOnly(CGEventTapLocation where) { return keyDownTap(where, kCGTailAppendEventTap, true); }

/// Counts the keys a listen-only tap hears; the count is shared with its handler, which
/// may still be running when the test ends.
class KeyCount {
 public:
  platform::EventTapHandler handler() {
    return [s = state_](CGEventType type, CGEvent event, platform::EventTapReply reply) {
      reply(event);
      if (type != kCGEventKeyDown) return;
      {
        std::lock_guard lock(s->mutex);
        ++s->keys;
      }
      s->changed.notify_all();
    };
  }
  /// Whether `keys` keys were heard within the deadline.
  bool heard(std::size_t keys) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, kProcessDeadline, [&] { return state_->keys >= keys; });
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t keys = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

bool listsWindow(sim::WindowServer& server, std::uint32_t number) {
  for (const auto& w : server.windowList())
    if (w.number == number) return true;
  return false;
}

class HostPeersThreadsTest : public ServedHostTest {};

}  // namespace

TEST(HostPeersProcessThreadsTest, AProgramThatStopsReadingHoldsUpNobodysKeysAndIsLetGo) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  auto& program = stage.mac;
  RawPeer stopped(stage.home.socket());  // a copy stopped with Ctrl-Z: it never reads again
  stopped.send({Kind::call, 1, "createEventTap",
                json{{"key", 1}, {"request", host::wire::encode(listenOnly(kCGHIDEventTap))}}, 1});
  const auto made = stopped.next();
  ASSERT_TRUE(made && made->kind == Kind::reply && made->body.is_number()) << "the stopped copy's tap";
  KeyCount other;
  ASSERT_TRUE(program->windowServer->createEventTap(listenOnly(kCGSessionEventTap), other.handler()));

  // Keys that carry a record of 4 KB (as a serialised event may): the stopped copy's
  // socket, and then what the host keeps for it, fill within a few hundred.
  CGEvent key = keyEvent(kCGEventKeyDown, 0, 0);
  CGEventRecord record;
  record.tag = 0x40;
  record.payload.assign(4096, 0x5a);
  key.extraRecords.push_back(record);
  for (std::size_t posted = 1; posted <= 1000; ++posted) {
    program->windowServer->postEvent(kCGHIDEventTap, key);
    ASSERT_TRUE(other.heard(posted)) << "key " << posted << " never reached the other program";
  }
  // Resumed, the copy finds what was sent before it was let go, then the end.
  std::size_t unread = 0;
  while (stopped.next()) ++unread;
  EXPECT_GT(unread, 0u);
  EXPECT_LT(unread, 1000u) << "the copy was let go before it was sent every key";
}

TEST_F(HostPeersThreadsTest, AProgramThatSendsABadFrameWhileItsAnswerWaitsUnreadIsLetGo) {
  // An answer far larger than a socket holds: the lane writing it waits on the reader.
  scene.world.setPreferenceValue("test.peers", "large", platform::PlistValue(std::string(4 << 20, 'x')));
  RawPeer faulty(socket);
  faulty.send({Kind::call, 1, "preferenceValue", json{{"domain", "test.peers"}, {"key", "large"}}, 1});
  int unread = 0;
  ASSERT_TRUE(eventually([&] { return ::ioctl(faulty.fd, FIONREAD, &unread) == 0 && unread > 0; }))
      << "the answer began";
  const std::uint8_t anotherVersion[] = {0, 0, 0, 4, 0, 99, 0, 0};
  faulty.sendBytes(anotherVersion, sizeof(anotherVersion));
  EXPECT_TRUE(eventually([&] { return host.clientCount() == 1; })) << "the program was let go";
  EXPECT_TRUE(eventually([&] { return logHas(host, "speaks protocol 99"); }));
}

TEST_F(HostPeersThreadsTest, AProgramThatAsksForPicturesWithoutReadingIsServedOnlyAsFastAsItReads) {
  const auto displays = scene.world.displays();
  ASSERT_FALSE(displays.empty());
  const int before = scene.world.callCount("captureDisplay");
  // Each picture travels in shared memory, its descriptor beside its answer.
  RawPeer greedy(socket);
  constexpr int kAsked = 60;
  for (int id = 1; id <= kAsked; ++id) {
    greedy.send({Kind::call, static_cast<std::uint64_t>(id), "captureDisplay",
                 json{{"id", displays.front().screen.displayID}, {"w", 64}, {"h", 48}, {"cursor", false}}, 1});
  }
  // Served in a moment, all of them would be; a loaded machine can only make this pass.
  const auto made = [&] { return scene.world.callCount("captureDisplay") - before; };
  EXPECT_FALSE(eventually([&] { return made() > 24; }, std::chrono::seconds(1)))
      << made() << " pictures made while nobody reads";
  for (int id = 1; id <= kAsked; ++id) {
    const auto answer = greedy.next();
    ASSERT_TRUE(answer && answer->kind == Kind::reply) << "answer " << id;
    EXPECT_EQ(answer->id, static_cast<std::uint64_t>(id));
  }
}

TEST_F(HostPeersThreadsTest, ACopyCannotReachAnotherProgramsTapsOrWindows) {
  auto& primary = platform::windowServer();
  const auto tap = primary.createEventTap(listenOnly(kCGSessionEventTap),
                                          [](CGEventType, CGEvent event, platform::EventTapReply reply) { reply(event); });
  ASSERT_TRUE(tap);
  const platform::OwnWindowState panel = panelAt(CGRect(100, 100, 400, 300));
  const std::uint32_t window = primary.createOwnWindow(panel);
  primary.orderOwnWindow(window, platform::OwnWindowOrder::frontRegardless);
  ASSERT_TRUE(listsWindow(scene.windowServer, window));

  RawPeer copy(socket);
  platform::OwnWindowState moved = panel;
  moved.frame = CGRect(0, 0, 10, 10);
  const std::vector<host::wire::Message> meddling = {
      {Kind::call, 1, "setEventTapEnabled", json{{"tap", *tap}, {"on", false}}, 1},
      {Kind::call, 2, "removeEventTap", *tap, 1},
      {Kind::call, 3, "updateOwnWindow", json{{"n", window}, {"state", host::wire::encode(moved)}}, 1},
      {Kind::call, 4, "orderOwnWindow", json{{"n", window}, {"order", static_cast<int>(platform::OwnWindowOrder::out)}},
       1},
      {Kind::call, 5, "setOwnKeyWindow", window, 1},
      {Kind::call, 6, "destroyOwnWindow", window, 1},
  };
  for (const auto& call : meddling) {
    copy.send(call);
    const auto answer = copy.next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, Kind::error) << call.method << " of another program's";
  }
  EXPECT_TRUE(scene.windowServer.isEventTapEnabled(*tap)) << "the primary's tap is still there, and on";
  ASSERT_TRUE(listsWindow(scene.windowServer, window));
  for (const auto& w : scene.windowServer.windowList())
    if (w.number == window) EXPECT_EQ(w.bounds, panel.frame) << "the panel stayed where it was";
}

TEST_F(HostPeersThreadsTest, AProgramThatCannotCopyADescriptorLosesOneCallNotItsConnection) {
  auto& primary = platform::windowServer();
  const std::uint32_t window = primary.createOwnWindow(platform::OwnWindowState{});
  host::Connection& connection = *attachment.remote()->connection;
  // A number no descriptor has: its copy fails, as one does when the program has none to spare.
  EXPECT_FALSE(connection.call("setOwnWindowSurface", json{{"n", window}}, {.descriptor = 1 << 20}));
  EXPECT_TRUE(connection.alive());
  EXPECT_TRUE(primary.ownWindowStatus(window).has_value()) << "the program is still attached";
}

TEST_F(HostPeersThreadsTest, AProgramThatEndsIsLetGoOfWithoutWaitingForTheNextOne) {
  auto openDescriptors = [] {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
  };
  const std::size_t before = openDescriptors();
  {
    RawPeer gone(socket);
    gone.send({Kind::call, 1, "ownProcessIdentifier", nullptr, 1});
    ASSERT_TRUE(gone.next());
  }
  EXPECT_TRUE(eventually([&] { return host.clientCount() == 1 && openDescriptors() <= before; }))
      << "the host still holds the connection of a program that ended";
}
