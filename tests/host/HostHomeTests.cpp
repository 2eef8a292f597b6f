// The host on homes made to trip it: a pipe or a link where its files go, a path longer
// than a socket's address holds, a path with line breaks and escape sequences in it, and
// many programs making it write at once. Each test starts the real executables and waits
// for what they say or do, never for a length of time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "platform/LogFile.h"
#include "platform/host/Host.h"
#include "platform/host/HostLog.h"
#include "platform/host/Wire.h"

namespace {

namespace fs = std::filesystem;

/// Stops the host a program started for `home` (it would linger a few seconds more).
void stopStartedHost(const std::string& home) {
  const pid_t pid = std::atoi(fileText(host::endpointFor(home).lock).c_str());
  if (pid > 0) ::kill(pid, SIGTERM);
  EXPECT_TRUE(eventually([&] { return !fs::exists(host::endpointFor(home).socket); }));
}

/// Runs `trelliq --dump` on `home` (starting its host); whether it ended well and wrote.
void dumpRuns(const std::string& home, const std::string& what) {
  ProgramProcess dump(home, {"--dump", home + "/dump.txt"});
  const auto status = dump.ended();
  ASSERT_TRUE(status) << what << ": the program hangs\n" << fileText(dump.output);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << what << "\n" << fileText(dump.output);
  EXPECT_FALSE(fileText(home + "/dump.txt").empty()) << what;
  stopStartedHost(home);
}

}  // namespace

TEST(HostHomeTest, APipeOrALinkWhereTheHostsFilesGoNeitherHoldsAStartNorWritesOutsideTheHome) {
  Home base;
  const std::string home = base.path + "/home", log = home + "/Library/Logs/simmac.log";
  fs::create_directories(home + "/Library/Logs");

  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  dumpRuns(home, "a pipe at the host's log");
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(log))) << "left as it was";

  fs::remove(log);
  fs::create_symlink(base.path + "/elsewhere.log", log);
  dumpRuns(home, "a link at the host's log");
  EXPECT_FALSE(fs::exists(base.path + "/elsewhere.log"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(log)));
  EXPECT_NE(fileText(log).find("serving the simulated Mac"), std::string::npos);

  const std::string precious = base.path + "/precious.txt";
  std::ofstream(precious) << "precious";
  fs::remove(host::endpointFor(home).lock);
  fs::create_symlink(precious, host::endpointFor(home).lock);
  HostProcess host(home);
  ASSERT_EQ(host.said, "ready");
  EXPECT_EQ(fileText(precious), "precious");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(host::endpointFor(home).lock)));
  EXPECT_EQ(std::atoi(fileText(host::endpointFor(home).lock).c_str()), host.pid);

  // The screen's picture of itself, asked for at a pipe (it goes to the pipe's reader, and
  // the pipe stays) and at a link to nothing (replaced, never written through).
  const std::string screen = fs::path(TRELLIQ_SIMMAC).parent_path() / "simscreen";
  const std::string atPipe = home + "/pipe.png", atLink = home + "/link.png";
  ASSERT_EQ(::mkfifo(atPipe.c_str(), 0600), 0);
  fs::create_symlink(base.path + "/elsewhere.png", atLink);
  std::string piped;
  std::thread reader([&] { piped = fileText(atPipe); });
  for (const std::string& shot : {atPipe, atLink}) {
    ProgramProcess picture(home, {"--shot", shot, "--after", "0"}, {}, screen);
    const auto status = picture.ended();
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << shot << fileText(picture.output);
  }
  // Lets a reader still waiting for a writer go, should the screen never have opened the pipe.
  if (const int fd = ::open(atPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
  reader.join();
  EXPECT_EQ(piped.substr(0, 4), "\x89PNG");
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(atPipe)));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(atLink)));
  EXPECT_FALSE(fs::exists(base.path + "/elsewhere.png"));
}

TEST(HostHomeTest, AHomePathLongerThanASocketAddressHoldsServesOneHostWithPrivateFiles) {
  Home base;
  const std::string home = base.path + "/" + std::string(120, 'h') + "/" + std::string(120, 'o');
  fs::create_directories(home);
  const host::Endpoint endpoint = host::endpointFor(home);
  ASSERT_GT(endpoint.socket.size(), sizeof(sockaddr_un{}.sun_path));

  HostProcess first(home);
  ASSERT_EQ(first.said, "ready");
  struct stat folder {
  }, socket{};
  ASSERT_EQ(::stat(endpoint.folder.c_str(), &folder), 0);
  ASSERT_EQ(::stat(endpoint.socket.c_str(), &socket), 0) << "the socket is where it belongs";
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(socket.st_mode & 0777, 0600u);
  HostProcess second(home);
  EXPECT_NE(second.said.find("already runs"), std::string::npos) << second.said;

  auto mac = attach(endpoint.socket);
  ASSERT_TRUE(mac);
  EXPECT_FALSE(mac->system->screens().empty());
  ProgramProcess dump(home, {"--dump", home + "/dump.txt"});
  const auto status = dump.ended();
  ASSERT_TRUE(status) << fileText(dump.output);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << fileText(dump.output);
  EXPECT_FALSE(fileText(home + "/dump.txt").empty());
}

TEST(HostHomeTest, EveryLineOfTheHostsLogIsOneEscapedLineWrittenWhole) {
  Home base;
  const std::string home = base.path + "/line\nbreak \x1b[31mred";
  fs::create_directories(home);
  HostProcess host(home);
  ASSERT_EQ(host.said, "ready");

  // Programs on many threads at once, each sending what the host ignores and notes.
  constexpr int kThreads = 8, kEach = 4;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&] {
      for (int c = 0; c < kEach; ++c) {
        auto fd = host::connectTo(host::endpointFor(home).socket);
        if (!std::holds_alternative<int>(fd)) continue;
        std::vector<std::uint8_t> frames;
        for (std::uint32_t n = 1; n <= host::Host::kLinesPerProgram; ++n) {
          const auto frame = host::wire::encode(host::wire::Message{host::wire::Kind::push, n, "tap", nullptr});
          frames.insert(frames.end(), frame.begin(), frame.end());
        }
        // A call after them: its answer comes once everything before it was read.
        const auto call = host::wire::encode(host::wire::Message{host::wire::Kind::call, 1, "screens", nullptr, 1});
        frames.insert(frames.end(), call.begin(), call.end());
        [[maybe_unused]] auto sent = ::send(std::get<int>(fd), frames.data(), frames.size(), MSG_NOSIGNAL);
        std::uint8_t answer[64];
        [[maybe_unused]] auto got = ::recv(std::get<int>(fd), answer, sizeof(answer), 0);
        ::close(std::get<int>(fd));
      }
    });
  }
  for (auto& sender : senders) sender.join();
  host.stop();
  host.wait();
  const std::string log = host.errors();

  EXPECT_EQ(log.find('\x1b'), std::string::npos) << "no escape sequence reaches the log raw";
  EXPECT_NE(log.find("serving the simulated Mac of " + base.path + "/line\\nbreak \\u{1B}[31mred\n"), std::string::npos)
      << log;
  const std::regex ignored("simmac: program [0-9]+: sent a push; ignored");
  int whole = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ignored") == std::string::npos) continue;
    EXPECT_TRUE(std::regex_match(line, ignored)) << "a line mixed with another: " << line;
    ++whole;
  }
  EXPECT_EQ(whole, kThreads * kEach * static_cast<int>(host::Host::kLinesPerProgram));
}

TEST(HostHomeTest, UnderAFileSizeLimitTheHostServesAndItsLogIsCutAsTheProgramsIs) {
  Home home;
  const rlim_t limit = 300000;
  {
    // Its standard error already past the limit: the line the host writes there is lost,
    // and the host serves all the same.
    const std::string errors = home.path + "/errors.txt";
    std::ofstream(errors) << std::string(limit + 1000, 'e');
    HostProcess host(home.path, {}, {}, HostLimits{limit, errors});
    ASSERT_EQ(host.said, "ready") << "ended by a write past the limit";
    host.stop();
    EXPECT_TRUE(host.wait());
  }
  // Its log past the size at which the program cuts its own: the host cuts it the same way.
  const std::string log = home.path + "/Library/Logs/simmac.log";
  fs::create_directories(fs::path(log).parent_path());
  {
    std::ofstream out(log);
    for (int n = 0; out.tellp() < 600000; ++n) out << "old line " << n << "\n";
  }
  HostProcess host(home.path, {"--log", log}, {}, HostLimits{limit, {}});
  ASSERT_EQ(host.said, "ready");
  {
    // A peer whose message kind is as long as a call may be: one line of a bounded length.
    auto fd = host::connectTo(home.socket());
    ASSERT_TRUE(std::holds_alternative<int>(fd));
    nlohmann::json object = {{"k", std::string(1 << 20, 'k')}, {"id", 1}, {"v", nullptr}};
    std::vector<std::uint8_t> frame(host::wire::kHeaderSize);
    nlohmann::json::to_cbor(object, frame);
    const std::size_t length = frame.size() - host::wire::kHeaderSize;
    for (int i = 0; i < 4; ++i) frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    frame[5] = host::wire::kProtocolVersion;
    [[maybe_unused]] auto sent = ::send(std::get<int>(fd), frame.data(), frame.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(eventually([&] { return fileText(log).find("unknown message kind") != std::string::npos; }));
    ::close(std::get<int>(fd));
  }
  const std::string text = fileText(log);
  EXPECT_LT(text.size(), platform::LogFile::kKeptByCut + 2 * host::kMaxLogLineBytes);
  EXPECT_NE(text.find("serving the simulated Mac of"), std::string::npos);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), host::kMaxLogLineBytes + 40);
}

TEST(HostHomeTest, TheStartBannerShowsAHomeThatForgesLinesAsOneEscapedLine) {
  Home base;
  const std::string home = base.path + "/line\nbreak \x1b[31mred\u202e";
  fs::create_directories(home);
  {
    ProgramProcess program(home);
    ASSERT_TRUE(eventually([&] {
      return fileText(home + "/Library/Logs/Trelliq.log").find("launched") != std::string::npos;
    })) << fileText(program.output);
    const std::string out = fileText(program.output);
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    const std::string escaped = base.path + "/line\\nbreak \\u{1B}[31mred\\u{202E}";
    EXPECT_NE(out.find("  diagnostics log: " + escaped + "/Library/Logs/Trelliq.log\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  user defaults:   " + escaped + "/Library/Preferences/"), std::string::npos) << out;
  }
  stopStartedHost(home);
}

TEST(HostHomeTest, AScenarioWithADateOrDataForADomainIsRefusedNamingTheDomain) {
  Home home;
  const std::string scenario = home.path + "/desk.json";
  for (const std::string settings : {R"({"$date": 5})", R"({"$data": "AAAA"})"}) {
    std::ofstream(scenario)
        << R"({"displays": [{"id": 1, "frame": [0, 0, 1440, 900]}], "preferences": {"com.example": )" << settings
        << "}}";
    {
      HostProcess host(home.path, {"--scenario", scenario});
      EXPECT_NE(host.said.find("preferences[\"com.example\"]"), std::string::npos) << host.said;
      const auto status = host.wait();
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << settings;
    }
    // A program that starts its host on demand passes the reason on.
    ProgramProcess program(home.path, {"--scenario", scenario, "--dump", home.path + "/dump.txt"});
    const auto status = program.ended();
    ASSERT_TRUE(status && WIFEXITED(*status)) << fileText(program.output);
    EXPECT_NE(WEXITSTATUS(*status), 0);
    EXPECT_NE(fileText(program.output).find("preferences[\"com.example\"]"), std::string::npos)
        << fileText(program.output);
  }
}
