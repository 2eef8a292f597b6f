#pragma once
// The host's half of reading ahead (Reads.h), one per attached program: answers a single
// question with the change count it holds at, and whole tables (the window list, every
// app's accessibility answers, every window's Spaces) as changes against the table this
// program was sent last. Every answer is read through the same calls a single question
// makes, under the asking program's identity. Called on the program's lane threads.

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "platform/WindowServerPort.h"
#include "platform/host/Reads.h"

namespace sim {
class World;
class WindowServer;
}  // namespace sim

namespace host {

class SharedCount;

class HostReads {
 public:
  /// Reads `world` and `server`; `count` is the page programs compare with (null: nothing
  /// the host answers is to be kept).
  HostReads(sim::World& world, sim::WindowServer& server, const SharedCount* count);

  using Ask = std::function<nlohmann::json(const std::string& method, const nlohmann::json& body)>;
  /// "read" {m, v}: {"g": the count the answer holds at (0: not to be kept), "s": which
  /// count (SharedCount::Slot; absent: the world's), "v": the answer `ask` gives}, or
  /// "always" when it holds for the program's whole attachment. Only questions that read
  /// counted state are tagged; those that read nothing of the desk but the pointer, with
  /// the count beyond the desk. Throws wire::BadValue for a bad request.
  nlohmann::json read(const nlohmann::json& request, const Ask& ask);
  /// "rows" {kind: "windows" | "ax" | "spaces", have: the table held (0: none), and for
  /// "ax" pids (null: every app) and t, for "spaces" cid and mask}: {"g", "seq", "base",
  /// "pieces"} (Reads.h). Throws wire::BadValue for a bad request.
  nlohmann::json rows(const nlohmann::json& request);
  /// The state of the asking program's own windows `numbers` now, for it to keep:
  /// {"g": the count it holds at (0: not to be kept), "w": [[number, status], ...]}, a
  /// window the server no longer has left out.
  nlohmann::json ownWindows(const std::set<std::uint32_t>& numbers);
  /// What may have changed in the asking program's own windows since it last asked
  /// (sim::WindowServer::takeOwnWindowChanges, `also` among them): each window's state
  /// encoded (null: gone) by number, with the count it holds at as ownWindows gives it;
  /// or `all` when the caller is to read all its windows with ownWindows.
  struct OwnWindowChanges {
    std::uint64_t tag = 0;
    bool all = false;
    std::vector<std::pair<std::uint32_t, nlohmann::json>> windows;
  };
  OwnWindowChanges ownWindowChanges(std::uint32_t also);

 private:
  template <typename Row>
  struct Sent {
    std::uint64_t seq = 0;
    std::int64_t variant = 0;  // the mask of a Spaces table
    std::vector<Row> rows;
  };
  std::vector<reads::AXRow> accessibilityRows(const nlohmann::json& request);
  std::vector<reads::SpaceRow> spaceRows(std::int32_t cid, std::int32_t mask);
  /// Changes against what was sent, and keeps `rows` as sent.
  template <typename Row>
  nlohmann::json answerRows(Sent<Row>& sent, std::uint64_t have, std::int64_t variant, std::vector<Row> rows);
  std::uint64_t countNow(int slot = 0) const;

  sim::World& world_;
  sim::WindowServer& server_;
  const SharedCount* count_;
  std::mutex mutex_;
  std::uint64_t nextSeq_ = 1;
  Sent<platform::WindowEntry> windows_;
  Sent<reads::AXRow> accessibility_;
  Sent<reads::SpaceRow> spaces_;
};

/// The world's own registered address of a private function, as `Function`; null when the
/// world lacks it.
template <typename Function, typename World>
Function* privateFunction(World& world, const char* path, const char* name) {
  return reinterpret_cast<Function*>(world.symbol(path, name));
}

/// Longest accessibility time-out a program may ask for: as long as it waits for any call.
inline constexpr double kLongestAXTimeout = 60;

/// The accessibility time-out ("t") of a request, at most kLongestAXTimeout; 0 (the
/// default time-out) when it is no positive finite number. A wait a program asks for
/// never holds a thread of the host longer than the program itself waits. Throws
/// wire::BadValue when there is none.
double axTimeoutOf(const nlohmann::json& request);

}  // namespace host
