// The program's entry point: attach to the simulated Mac of the home (starting its world
// host when none runs), then run a self-test mode when the command line selects one, else
// start normally. TRELLIQ_IN_PROCESS=1 keeps a world of the program's own instead. Qt draws
// off screen whatever the environment says.

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/Unicode.h"
#include "platform/host/Attach.h"
#include "platform/sim/SimulatedMac.h"
#include "trelliq/Launch.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);

  // Everything the program draws goes to the simulated Mac, never to the Linux desktop: no
  // connection to its display server, whatever the environment names (only the screen,
  // simscreen, shows the simulated Mac there).
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  // Qt wants a private runtime folder and complains on every start without one.
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    const std::string runtime = "/tmp/trelliq-runtime-" + std::to_string(getuid());
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }

  const char* inProcess = std::getenv("TRELLIQ_IN_PROCESS");
  sim::SimulatedMac mac;
  host::ProgramAttachment attachment;
  if (auto error = inProcess && std::string(inProcess) == "1" ? mac.start(args) : attachment.start(args)) {
    std::cerr << "trelliq: the simulated Mac could not start: " << platform::Unicode::oneLine(*error) << "\n";
    return 2;
  }
  QApplication application(argc, argv);
  return trelliq::launch(args);
}
