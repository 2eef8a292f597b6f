#pragma once
// The raster engine's helper threads this process has started: a paint that stays on the
// painting thread starts none.

#include <filesystem>
#include <fstream>
#include <string>

namespace trelliq::test {

inline int rasterHelperThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == "Thread (pooled)") ++count;
  }
  return count;
}

}  // namespace trelliq::test
