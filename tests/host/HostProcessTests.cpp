// The host as a process of its own: one per home, a private socket, replacing a dead
// host's socket, and what a program sees when the host goes away. Each test starts the
// real executable and waits for what it says, never for a length of time.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/host/Channel.h"
#include "platform/host/Host.h"
#include "platform/host/Remote.h"
#include "platform/host/WireValues.h"
#include "platform/sim/World.h"
#include "HostProcess.h"
#include "RawPeer.h"
#include "support/Scene.h"

namespace {

/// A raw connection for sending bytes no program would.
int rawConnect(const std::string& socket) {
  auto fd = host::connectTo(socket);
  EXPECT_TRUE(std::holds_alternative<int>(fd)) << std::get<std::string>(fd);
  return std::holds_alternative<int>(fd) ? std::get<int>(fd) : -1;
}

/// Reads messages until the peer closes; the test fails when it keeps the connection open
/// past the deadline.
std::vector<host::wire::Message> readUntilClosed(int fd, const std::string& what) {
  host::wire::Decoder decoder;
  std::vector<host::wire::Message> out;
  const auto give_up = std::chrono::steady_clock::now() + kProcessDeadline;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
      ADD_FAILURE() << "the host kept the connection open after " << what;
      break;
    }
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    decoder.feed(buffer, static_cast<std::size_t>(n));
    while (auto m = decoder.next()) out.push_back(*m);
  }
  return out;
}

}  // namespace

TEST(HostProcessTest, OneHostPerHomeAndItsFilesArePrivate) {
  Home home;
  HostProcess first(home.path);
  ASSERT_EQ(first.said, "ready");

  struct stat folder {}, socket {};
  ASSERT_EQ(::stat(host::endpointFor(home.path).folder.c_str(), &folder), 0);
  ASSERT_EQ(::stat(home.socket().c_str(), &socket), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(socket.st_mode & 0777, 0600u);
  EXPECT_TRUE(S_ISSOCK(socket.st_mode));

  HostProcess second(home.path);
  EXPECT_NE(second.said, "ready");
  EXPECT_NE(second.said.find("already runs"), std::string::npos) << second.said;
  EXPECT_NE(second.said.find(std::to_string(first.pid)), std::string::npos) << "names the running host";
  const auto status = second.wait();
  ASSERT_TRUE(status) << "a second host for the home must end at once";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) != 0);

  // The first one was not disturbed.
  auto mac = attach(home.socket());
  ASSERT_TRUE(mac);
  EXPECT_FALSE(mac->system->screens().empty());
}

TEST(HostProcessTest, ASocketLeftByAKilledHostIsReplaced) {
  Home home;
  {
    HostProcess killed(home.path);
    ASSERT_EQ(killed.said, "ready");
    killed.stop(SIGKILL);
    killed.wait();
  }
  ASSERT_TRUE(std::filesystem::exists(home.socket())) << "a killed host leaves its socket behind";
  EXPECT_FALSE(std::holds_alternative<std::shared_ptr<host::Connection>>(host::Connection::open(home.socket())));

  HostProcess next(home.path);
  ASSERT_EQ(next.said, "ready");
  auto mac = attach(home.socket());
  ASSERT_TRUE(mac);
  EXPECT_FALSE(mac->system->screens().empty());
  next.stop();
  const auto status = next.wait();
  EXPECT_TRUE(status && WIFEXITED(*status));
  EXPECT_NE(next.errors().find("replaced the socket"), std::string::npos);
}

TEST(HostProcessTest, BadMessagesCloseOnlyTheirConnection) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  HostProcess& host = *stage.host;
  const Home& home = stage.home;
  auto& bystander = stage.mac;
  const auto screens = bystander->system->screens();

  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  auto header = [](std::uint32_t length, std::uint16_t version) -> std::vector<std::uint8_t> {
    return {static_cast<std::uint8_t>(length >> 24),
                                     static_cast<std::uint8_t>(length >> 16),
                                     static_cast<std::uint8_t>(length >> 8),
                                     static_cast<std::uint8_t>(length),
                                     static_cast<std::uint8_t>(version >> 8),
                                     static_cast<std::uint8_t>(version),
                                     0,
                                     0};
  };
  auto junk = header(3, host::wire::kProtocolVersion);
  junk.insert(junk.end(), {0xFF, 0xFF, 0xFF});
  auto truncated = host::wire::encode(host::wire::Message{host::wire::Kind::call, 1, "screens", nullptr});
  truncated.resize(truncated.size() - 2);
  const std::vector<Case> cases = {
      {"not CBOR", junk},
      {"oversized", header(0xFFFFFFFF, host::wire::kProtocolVersion)},
      {"truncated, then hung up", truncated},
  };
  for (const Case& c : cases) {
    const int fd = rawConnect(home.socket());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
    if (std::string(c.name).starts_with("truncated")) ::shutdown(fd, SHUT_WR);
    readUntilClosed(fd, c.name);  // the host hangs up
    ::close(fd);
    // Everyone else is still served.
    EXPECT_EQ(bystander->system->screens().size(), screens.size()) << c.name;
  }
  // A request the host does not know, or with arguments of the wrong kind, is refused
  // with an answer and the connection stays.
  EXPECT_FALSE(bystander->connection->call("no such method", nullptr));
  EXPECT_FALSE(bystander->connection->call("application", "not a pid"));
  EXPECT_FALSE(bystander->connection->call("captureDisplay", {{"id", 1}}));
  EXPECT_TRUE(bystander->connection->alive());
  EXPECT_EQ(bystander->system->screens().size(), screens.size());

  host.stop();
  host.wait();
  const std::string log = host.errors();
  EXPECT_NE(log.find("not CBOR"), std::string::npos) << log;
  EXPECT_NE(log.find("over the limit"), std::string::npos) << log;
  EXPECT_NE(log.find("ended inside a message"), std::string::npos) << log;
}

TEST(HostProcessTest, AProgramOfAnotherProtocolIsToldWhichOneTheHostSpeaks) {
  Home home;
  HostProcess host(home.path);
  ASSERT_EQ(host.said, "ready");
  const int fd = rawConnect(home.socket());
  auto frame = host::wire::encode(host::wire::Message{host::wire::Kind::call, 1, "screens", nullptr});
  frame[5] = static_cast<std::uint8_t>(host::wire::kProtocolVersion + 1);
  ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  const auto answers = readUntilClosed(fd, "a frame of another protocol");
  ::close(fd);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].kind, host::wire::Kind::error);
  EXPECT_EQ(answers[0].body, "the world host speaks protocol " + std::to_string(host::wire::kProtocolVersion));
}

TEST(HostProcessTest, WhenTheHostGoesAwayCallsFailAtOnceWithAReason) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  HostProcess& host = *stage.host;
  auto& mac = stage.mac;
  std::promise<std::string> told;
  std::atomic<int> times{0};
  mac->connection->setLossHandler([&](const std::string& why) {
    if (times++ == 0) told.set_value(why);
  });
  ASSERT_FALSE(mac->system->screens().empty());

  host.stop(SIGKILL);
  host.wait();
  const std::string why = told.get_future().get();
  EXPECT_NE(why.find("world host"), std::string::npos) << why;
  // Nothing waits for a host that is gone: every call answers the empty answer.
  EXPECT_TRUE(mac->system->screens().empty());
  EXPECT_TRUE(mac->windowServer->windowList().empty());
  EXPECT_FALSE(mac->windowServer->frontmostApplication());
  EXPECT_EQ(times.load(), 1) << "the loss is told once";
}

TEST(HostProcessTest, TheWorldsOwnProgramGoingAwayLeavesTheFrontAndTheMenuBarToAnotherApp) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  const std::int32_t own = stage.mac->windowServer->ownProcessIdentifier();
  ASSERT_TRUE(stage.mac->windowServer->activateApplication(own, 0));
  auto onlooker = attach(stage.home.socket(), host::AttachAs::screen);
  ASSERT_TRUE(onlooker);
  ASSERT_TRUE(eventually([&] { return onlooker->windowServer->frontmostApplication() == own; }));
  stage.mac.reset();  // the program quits
  EXPECT_TRUE(eventually([&] {
    const auto front = onlooker->windowServer->frontmostApplication();
    return front && *front != own;
  })) << "the program that quit is still the front app";
}

TEST(HostProcessTest, AHostStartedOnDemandEndsAfterItsLastProgram) {
  Home home;
  HostProcess host(home.path, {"--linger", "0.2"});
  ASSERT_EQ(host.said, "ready");
  // The program that started it comes later than the linger, as on a loaded machine: the
  // host still waits for it.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  {
    auto one = attach(home.socket());
    auto two = attach(home.socket());
    ASSERT_TRUE(one && two);
    EXPECT_FALSE(one->system->screens().empty());
    one.reset();
    // One program still attached keeps it up.
    EXPECT_FALSE(two->system->screens().empty());
  }
  const auto status = host.wait();
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_FALSE(std::filesystem::exists(home.socket())) << "a host that ends removes its socket";
}

TEST(HostProcessTest, APreferencesFileNestedBeyondReasonIsSetAsideAndEveryStartServes) {
  Home home;
  const std::string folder = home.path + "/Library/Preferences/";
  std::filesystem::create_directories(folder);
  // Nesting that a reader ending the instruction at its first '>' would not see.
  std::string hostile = "<?xml version=\"1.0\"?><plist><?x > <!-- ?>";
  for (int i = 0; i < 200000; ++i) hostile += "<array>";
  const std::string own = std::string(sim::World::kApplicationDomain);
  for (int start = 1; start <= 2; ++start) {
    for (const std::string domain : {"com.apple.dock", own.c_str()}) {
      std::ofstream(folder + domain + ".plist") << hostile;
    }
    HostProcess host(home.path);
    ASSERT_EQ(host.said, "ready") << "start " << start;
    auto mac = attach(home.socket());
    ASSERT_TRUE(mac);
    const auto domain = mac->system->preferenceDomain(own);
    EXPECT_TRUE(!domain || domain->empty());
    for (const std::string domain : {"com.apple.dock", own.c_str()}) {
      EXPECT_TRUE(std::filesystem::exists(folder + domain + ".plist.corrupt-" + std::to_string(start))) << domain;
    }
  }
}

TEST(HostProcessTest, AProgramTheHostDoesNotServeSaysWhyAndEndsBeforeDoingAnything) {
  Home home;
  std::filesystem::create_directories(host::endpointFor(home.path).folder);
  // A host that turns every program away: with the reason another user's host gives, or
  // without a word.
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const host::SocketAddress address(home.socket());
  ASSERT_EQ(::bind(listener, address.get(), address.size()), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  std::atomic<int> turnedAway{0};
  std::thread refuser([&] {
    for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(fd)) {
      if (turnedAway++ > 0) continue;
      const auto frame = host::wire::encode(
          host::wire::Message{host::wire::Kind::error, 0, "", "the world host serves only its own user"});
      [[maybe_unused]] auto sent = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
  });
  for (const char* why : {"serves only its own user", "does not serve this program"}) {
    const std::string out = home.path + "/dump.txt";
    ProgramProcess program(home.path, {"--dump", out});
    const auto status = program.ended();
    ASSERT_TRUE(status) << fileText(program.output);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << fileText(program.output);
    EXPECT_NE(fileText(program.output).find(why), std::string::npos) << fileText(program.output);
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing was done";
  }
  ::shutdown(listener, SHUT_RDWR);
  refuser.join();
  ::close(listener);
}

TEST(HostProcessTest, AProgramOfAnotherUserIsRefused) {
  // A host in this process that serves one other user only: this test is that other user.
  Scene scene;
  host::Host server(scene.world, scene.windowServer);
  server.setAllowedUser(::getuid() + 1);
  ASSERT_FALSE(server.listen(scene.home));
  server.serve();
  const auto attached = host::RemoteMac::attach(host::endpointFor(scene.home).socket);
  const auto* refusal = std::get_if<std::string>(&attached);
  ASSERT_TRUE(refusal) << "the program is not attached";
  EXPECT_NE(refusal->find("serves only its own user"), std::string::npos) << *refusal;
  const auto log = server.log();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.starts_with("refused program") && line.ends_with("its user is " + std::to_string(::getuid()));
  }));
  server.stop();
}

TEST(HostProcessTest, AHostRunningAsAnotherUserRefusesThisOne) {
  // Two real users need the right to switch: root has it, as on the CI machines.
  if (::geteuid() != 0) GTEST_SKIP() << "not run as root, so no host can be started as another user";
  constexpr uid_t kNobody = 65534;
  Home home;
  ASSERT_EQ(::chown(home.path.c_str(), kNobody, kNobody), 0);
  HostProcess other(home.path, {}, kNobody);
  if (other.said == "cannot switch to that user") GTEST_SKIP() << "this machine does not let root become user 65534";
  ASSERT_EQ(other.said, "ready");
  const auto attached = host::RemoteMac::attach(home.socket());
  const auto* refusal = std::get_if<std::string>(&attached);
  ASSERT_TRUE(refusal) << "the program is not attached";
  EXPECT_NE(refusal->find("serves only its own user"), std::string::npos) << *refusal;
  other.stop();
  other.wait();
  const std::string log = other.errors();
  EXPECT_NE(log.find("its user is 0"), std::string::npos) << log;
}

TEST(HostProcessTest, AMistypedLoadFlagIsRefusedWithItsName) {
  // A value read as 0 or wrapped to a huge count would have the host play an unloaded
  // machine, and a test relying on it pass for the wrong reason.
  const std::vector<std::vector<std::string>> bad = {{"--tap-timeouts", "-1"},     {"--tap-timeouts", "1,x"},
                                                     {"--tap-timeouts", "0"},      {"--late-tap-changes", "abc"},
                                                     {"--late-tap-changes", "-1"}, {"--late-tap-changes", "2s"}};
  for (const auto& flag : bad) {
    Home home;
    HostProcess host(home.path, flag);
    EXPECT_EQ(host.said, "usage") << flag[0] << " " << flag[1];
    const auto status = host.wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 64);
    EXPECT_NE(host.errors().find("bad value for " + flag[0] + ": " + flag[1]), std::string::npos) << flag[1];
  }
}

TEST(HostProcessTest, WhatThePreferencesMeetIsLoggedWithinTheProgramsLinesAndAnAbsurdDomainIsRefused) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  // A folder that leads to itself: no file in it can be looked at, and each read says so.
  const std::string folder = stage.home.path + "/Library/Preferences";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory_symlink("Preferences", folder);
  {
    RawPeer peer(stage.home.socket());
    peer.send({host::wire::Kind::call, 1, "preferenceDomain", std::string(1 << 20, 'd'), 1});
    const auto refused = peer.next();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, host::wire::Kind::error);
    EXPECT_NE(refused->body.dump().find("a domain name of 1048576 bytes"), std::string::npos) << refused->body;
    for (std::uint64_t n = 0; n < 30; ++n) {
      peer.send({host::wire::Kind::call, 2 + n, "preferenceDomain", "test.domain." + std::to_string(n), 1});
      ASSERT_TRUE(peer.next());
    }
  }
  stage.host->stop();
  stage.host->wait();
  const std::string log = stage.host->errors();
  std::size_t told = 0;
  for (std::size_t at = log.find("test.domain."); at != std::string::npos; at = log.find("test.domain.", at + 1)) ++told;
  EXPECT_EQ(told, host::Host::kLinesPerProgram) << log;
  EXPECT_NE(log.find("… and 10 more"), std::string::npos) << log;
}

TEST(HostProcessTest, AnOwnWindowFramedByNoNumberOrFarBeyondTheDeskIsRefusedWithTheReason) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  RawPeer peer(stage.home.socket());
  std::uint64_t id = 0;
  auto ask = [&](const std::string& method, const nlohmann::json& body) {
    peer.send({host::wire::Kind::call, ++id, method, body, 1});
    return peer.next().value_or(host::wire::Message{});
  };
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const CGRect& frame : {CGRect(nan, 0, 100, 100), CGRect(0, 0, inf, 100), CGRect(-1e308, 0, 100, 100),
                              CGRect(0, 0, 100, 2e6)}) {
    const auto refused = ask("createOwnWindow", host::wire::encode(panelAt(frame)));
    EXPECT_EQ(refused.kind, host::wire::Kind::error);
    EXPECT_NE(refused.body.dump().find("is not within 1048576 points of the desk"), std::string::npos) << refused.body;
  }
  const auto made = ask("createOwnWindow", host::wire::encode(panelAt(CGRect(100, 100, 400, 300))));
  ASSERT_EQ(made.kind, host::wire::Kind::reply);
  const auto moved = ask("updateOwnWindow", {{"n", made.body["n"]}, {"state", host::wire::encode(panelAt(CGRect(1e308, 0, 400, 300)))}});
  EXPECT_EQ(moved.kind, host::wire::Kind::error);
  EXPECT_TRUE(stage.mac->system->captureDisplay(stage.mac->system->screens().front().displayID, 100, 100, false))
      << "the desk is composed as ever";
}
