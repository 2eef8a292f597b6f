#include "platform/SystemPort.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {
std::atomic<SystemPort*> gPort{nullptr};
std::atomic<std::uint64_t> gGeneration{1};
}  // namespace

SystemPort& system() {
  SystemPort* port = gPort.load(std::memory_order_acquire);
  if (!port) {
    // A platform call before the world exists is a wiring fault; fail where it happens.
    std::fputs("platform::system(): no SystemPort is installed (install a world before calling the platform)\n",
               stderr);
    std::abort();
  }
  return *port;
}

void installSystem(SystemPort* port) {
  gPort.store(port, std::memory_order_release);
  gGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::uint64_t systemGeneration() { return gGeneration.load(std::memory_order_acquire); }

bool hasSystem() { return gPort.load(std::memory_order_acquire) != nullptr; }

}  // namespace platform
