#pragma once
// What the mode tests share: a report read back as its lines, and an environment
// variable set for one scope.

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace trelliq::reports {

/// The file's lines (split at "\n"); nothing when there is no file.
inline std::optional<std::vector<std::string>> lines(const std::string& path) {
  const auto bytes = platform::FileManager::contents(path);
  if (!bytes) return std::nullopt;
  const std::string text(bytes->begin(), bytes->end());
  std::vector<std::string> result;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find('\n', at);
    result.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return result;
}

/// Sets (or, with nothing, removes) a variable and puts the old value back at the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace trelliq::reports
