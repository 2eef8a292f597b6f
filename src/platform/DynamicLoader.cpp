#include "platform/DynamicLoader.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/SystemPort.h"

namespace platform {

namespace {

// A handle is the address of the library's path, kept for the life of the process as
// real handles are; the same path always gives the same handle.
std::mutex gLibrariesMutex;
std::map<std::string, std::unique_ptr<const std::string>>& libraries() {
  static std::map<std::string, std::unique_ptr<const std::string>> all;
  return all;
}

}  // namespace

LibraryHandle dlopen(const std::string& path, int mode) {
  if (!system().libraryExists(path)) return nullptr;
  std::lock_guard lock(gLibrariesMutex);
  auto& slot = libraries()[path];
  if (!slot) slot = std::make_unique<const std::string>(path);
  return slot.get();
}

void* dlsym(LibraryHandle library, const std::string& name) {
  if (!library) return nullptr;
  return system().symbol(*static_cast<const std::string*>(library), name);
}

}  // namespace platform
