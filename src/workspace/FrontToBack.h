#pragma once
// The order in which the system itself last used the running applications, frontmost
// first, read through two private launch-services functions so the focus history can be
// seeded at start. When they are unavailable the history simply starts empty.

#include <cstdint>
#include <vector>

namespace trelliq {

class FrontToBack final {
 public:
  FrontToBack() = delete;

  /// The session argument of both calls.
  static constexpr std::int32_t session = -2;

  /// Process ids frontmost first; [] when a function or the pid key is missing or the call
  /// fails. Applications without a pid item are skipped. Any thread; the library and its
  /// symbols are resolved once.
  static std::vector<std::int32_t> pids();
};

}  // namespace trelliq
