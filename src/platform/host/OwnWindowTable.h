#pragma once
// A program's memory of its own windows' state as the host last told it (ordered in, on
// the active Space, seen, miniaturized, full screen, frame). The host sends what changed
// in the state of the windows the program owns with the answer to each request that
// changes one of them, and the whole state on request; the program answers its own questions from that while the world's
// change count (SharedCount) stands where the state was read. A change the program did
// not make (a Space switch, a display that went, a window raised over one of its own, a
// full-screen move finishing) moves the count, and the next question fetches the whole
// state again in one round trip: the host stays the truth.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/WindowServerPort.h"
#include "platform/host/SharedCount.h"

namespace host {

class OwnWindowTable {
 public:
  using Status = std::optional<platform::OwnWindowStatus>;

  /// Maps the host's count page; until then, or when it cannot be mapped, nothing is kept.
  /// Any thread.
  void attach(const std::string& countPath);
  /// Takes the state the host sent ({"g": count, "s": its place among the host's answers,
  /// "w": [[number, status], ...]}, with "d" and "x": the windows that changed since the
  /// answer before it and the numbers of those gone) and keeps it when it is newer than
  /// what is kept. Answers `number`'s state in it (nothing for a window it does not list),
  /// or nothing at all when `table` is no such state. Any thread.
  std::optional<Status> take(const nlohmann::json& table, std::uint32_t number = 0);
  /// `number`'s state while what is kept is current (nothing for a window the program no
  /// longer owns); nothing at all when the host must be asked. Any thread.
  std::optional<Status> status(std::uint32_t number) const;

  /// How many questions were answered without asking (for tests and benchmarks).
  std::uint64_t hits() const;

 private:
  struct Changes {
    std::uint64_t tag = 0;
    std::map<std::uint32_t, platform::OwnWindowStatus> windows;
    std::vector<std::uint32_t> gone;
  };
  /// Applies the changes that follow what is kept, in the order the host sent them. Under
  /// mutex_.
  void applyWaiting();

  mutable std::mutex mutex_;
  std::unique_ptr<SharedCount> count_;
  std::uint64_t tag_ = 0;   // the count the kept state holds at (0: none)
  std::uint64_t sent_ = 0;  // which of the host's answers it is
  std::map<std::uint32_t, platform::OwnWindowStatus> windows_;
  /// Changes that came before one sent earlier (answers of several threads cross): kept
  /// until the one before them comes, a few at most.
  std::map<std::uint64_t, Changes> waiting_;
  static constexpr std::size_t kMaxWaiting = 64;
  mutable std::uint64_t hits_ = 0;
};

}  // namespace host
