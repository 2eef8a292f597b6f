#include "platform/WindowServerPort.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {
std::atomic<WindowServerPort*> gWindowServer{nullptr};
std::atomic<std::uint64_t> gGeneration{1};
}  // namespace

WindowServerPort& windowServer() {
  WindowServerPort* port = gWindowServer.load(std::memory_order_acquire);
  if (!port) {
    // A window-server call before the world is wired up is a wiring fault; fail where it happens.
    std::fputs("platform::windowServer(): no WindowServerPort is installed\n", stderr);
    std::abort();
  }
  return *port;
}

void installWindowServer(WindowServerPort* port) {
  gWindowServer.store(port, std::memory_order_release);
  gGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::uint64_t windowServerGeneration() { return gGeneration.load(std::memory_order_acquire); }

bool hasWindowServer() { return gWindowServer.load(std::memory_order_acquire) != nullptr; }

}  // namespace platform
