#include "platform/host/Relaunch.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

extern char** environ;

namespace host {

namespace {

// The two ways the program opens its bundle again: at once as a new instance, or with
// the arguments the script was given.
constexpr std::string_view kOpenNew = "/usr/bin/open -n \"$0\"";
constexpr std::string_view kOpenWithArguments = "/usr/bin/open \"$0\" \"$@\"";
constexpr std::string_view kRun = "exec \"$0\" \"$@\"";

}  // namespace

std::optional<std::vector<std::string>> relaunchCommand(const std::string& executable,
                                                        const std::vector<std::string>& arguments,
                                                        const std::string& bundle, std::int32_t worldPID,
                                                        pid_t realPID, const std::string& realExecutable) {
  if (executable != "/bin/sh" || arguments.size() < 3 || arguments[0] != "-c" || arguments[2] != bundle ||
      realExecutable.empty()) {
    return std::nullopt;
  }
  std::string script = arguments[1];
  std::string_view open;
  for (std::string_view form : {kOpenNew, kOpenWithArguments}) {
    if (script.ends_with(form)) open = form;
  }
  if (open.empty()) return std::nullopt;
  script.replace(script.size() - open.size(), open.size(), kRun);

  // Only a wait for the program itself can be told in real terms.
  static const std::regex wait(R"(kill -0 (\d+))");
  std::string translated;
  auto rest = script.cbegin();
  for (std::sregex_iterator it(script.begin(), script.end(), wait), end; it != end; ++it) {
    if ((*it)[1].str() != std::to_string(worldPID)) return std::nullopt;
    translated.append(rest, (*it)[0].first);
    translated += "kill -0 " + std::to_string(realPID);
    rest = (*it)[0].second;
  }
  translated.append(rest, script.cend());

  std::vector<std::string> command = {"/bin/sh", "-c", translated, realExecutable};
  std::size_t first = 3;
  if (arguments.size() > first && arguments[first] == "--args") ++first;
  command.insert(command.end(), arguments.begin() + static_cast<std::ptrdiff_t>(first), arguments.end());
  return command;
}

bool spawnDetached(const std::vector<std::string>& command) {
  if (command.empty()) return false;
  // Everything the child needs is made before the fork: the program has threads.
  std::vector<std::string> args = command;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t child = ::fork();
  if (child < 0) {
    if (devnull >= 0) ::close(devnull);
    return false;
  }
  if (child == 0) {
    ::setsid();
    // The first child's status tells the caller whether the program was started at all.
    if (const pid_t grandchild = ::fork(); grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    if (devnull >= 0) ::dup2(devnull, 0);
    // The program's connection, signal channel and surfaces stay its own.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  if (devnull >= 0) ::close(devnull);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ownExecutable() {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  return n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace host
