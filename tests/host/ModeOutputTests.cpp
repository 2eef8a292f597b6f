// A self-test mode as a real process on a real host, where its output cannot be had: a
// host that refuses its calls, a reader that leaves early. Either way the mode ends with
// status 1 and says why; it never writes a report made of non-answers, nor dies silently.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <thread>

#include "HostProcess.h"

namespace {

/// Waits for the program to end, and checks that it failed with status 1 saying `why`.
void expectFailedSaying(ProgramProcess& program, const std::string& why) {
  const auto status = program.ended();
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 1)
      << "status " << status.value_or(-1) << ": " << fileText(program.output);
  EXPECT_NE(fileText(program.output).find(why), std::string::npos) << fileText(program.output);
}

TEST(ModeOutputThroughHost, CallsTheHostRefusesFailTheModeWithTheirReasonAndNoReport) {
  Home home;
  // Threads for the program's connection, none for the lanes of its calls.
  HostProcess host(home.path, {"--thread-starts", "2"});
  ASSERT_EQ(host.said, "ready");
  const std::string desk = home.path + "/desk.txt";
  ProgramProcess dump(home.path, {"--dump", desk});
  expectFailedSaying(dump, "the system refused");
  EXPECT_NE(fileText(dump.output).find("the world host cannot make a thread for this call now"), std::string::npos);
  struct stat st {};
  EXPECT_NE(::stat(desk.c_str(), &st), 0) << "an empty desk was written: " << fileText(desk);
}

TEST(ModeOutputThroughHost, AReaderThatLeavesEarlyFailsTheModeWithTheReason) {
  Home home;
  HostProcess host(home.path);
  ASSERT_EQ(host.said, "ready");
  const std::string pipe = home.path + "/shot.png";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ProgramProcess shot(home.path, {"--screenshot", pipe});
  // As "head -c 100" reads it.
  std::thread reader([&] {
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[100];
    [[maybe_unused]] const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
  });
  expectFailedSaying(shot, "Broken pipe");
  // Lets the reader go should the program never have opened the pipe.
  if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
  reader.join();
}

}  // namespace
