#pragma once
// Opening private frameworks and looking up their symbols. Resolution goes to the
// symbols the simulated system registers (never to the real dynamic linker, which
// would search every loaded library), so a test can take any one symbol away.

#include <string>

namespace platform {

inline constexpr int RTLD_LAZY_ = 1;
inline constexpr int RTLD_NOW_ = 2;

using LibraryHandle = const void*;

/// A handle for the library at `path`, or null when there is none.
LibraryHandle dlopen(const std::string& path, int mode);
/// The symbol's address in that library, or null when it is missing.
void* dlsym(LibraryHandle library, const std::string& name);

template <typename Function>
Function* symbolAs(LibraryHandle library, const std::string& name) {
  return reinterpret_cast<Function*>(dlsym(library, name));
}

}  // namespace platform
