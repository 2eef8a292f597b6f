#pragma once
// The program's half of reading ahead (Reads.h): answers and tables kept from the host,
// used only while the world's change count (SharedCount) stands where they were read, so
// every answer is one the host would give if asked now. A question the kept answers do not
// hold is asked alone; a second such question while nothing changed fetches the table it
// belongs to (one app's accessibility answers, then every app's; every window's Spaces),
// since a snapshot is under way. Tables arrive as changes against the one held.
//
// Every function answers nothing when the question is to be asked alone (not kept, the
// host gone or not reading ahead); the ports then make the single call. Thread-safe.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/PrivateSymbols.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Reads.h"
#include "platform/host/SharedCount.h"

namespace host {

class Connection;

class ReadCache {
 public:
  explicit ReadCache(Connection& connection) : connection_(connection) {}

  /// Maps the host's count page (the host names it); until then, or when it cannot be
  /// mapped, nothing is kept.
  void attach(const std::string& countPath);

  /// Lets go of everything kept, for good: the host is gone, and nothing answers for it.
  void forget();

  /// A question the host tags (HostReads::read): from what is kept, else asked and kept.
  std::optional<nlohmann::json> answer(const std::string& method, const nlohmann::json& body);
  /// The window list, through the table held.
  std::optional<std::vector<platform::WindowEntry>> windowList();
  /// The running applications read by `readOne` (kept as read), and one of them while kept.
  std::optional<std::vector<platform::RunningApplicationInfo>> applications(
      const std::function<std::optional<platform::RunningApplicationInfo>(nlohmann::json)>& readOne);
  std::optional<platform::RunningApplicationInfo> application(std::int32_t pid);
  /// An attribute of an element; `timeout` as the single question would carry.
  std::optional<platform::AXAnswer> attribute(AXElementID element, const std::string& name, double timeout);
  /// _AXUIElementGetWindow of an element: (error, number).
  std::optional<std::pair<AXError, std::uint32_t>> windowOf(AXElementID element, double timeout);
  /// SLSCopySpacesForWindows of one window, SLSWindowIsOrderedIn (error, flag).
  std::optional<std::optional<std::vector<std::int64_t>>> spacesOf(CGSConnectionID cid, std::int32_t mask,
                                                                    std::uint32_t window);
  std::optional<std::pair<std::int32_t, bool>> orderedIn(CGSConnectionID cid, std::uint32_t window);

  /// How many tables were fetched so far (for tests).
  std::uint64_t fetches() const;

 private:
  template <typename Row>
  struct Table {
    std::uint64_t seq = 0;
    std::uint64_t tag = 0;     // the count it holds at (0: never current)
    std::int64_t variant = 0;  // a Spaces table's connection and mask, or the one pid an accessibility table covers
    bool whole = true;         // an accessibility table of every app
    std::shared_ptr<const std::vector<Row>> rows;
    std::unordered_map<std::uint64_t, std::size_t> index;  // keyOf -> row
  };
  /// Where a question that missed was, to tell a snapshot from a single question.
  struct Miss {
    std::uint64_t count = 0;
    std::int64_t group = 0;
  };
  enum class Next { askAlone, fetchGroup, fetchAll };

  bool current(std::uint64_t tag, SharedCount::Slot slot = SharedCount::world) const;
  std::uint64_t countNow() const;
  /// Records a miss of `group` and says what to do about it.
  Next afterMiss(Miss& miss, std::int64_t group);
  template <typename Row>
  bool fetch(Table<Row>& table, nlohmann::json request, std::int64_t variant, bool whole);
  const reads::AXRow* axRow(AXElementID element, bool& covered);
  /// Makes the accessibility table cover `pid` if the misses so far ask for it.
  bool fetchAccessibilityFor(std::int32_t pid, double timeout);
  bool fetchSpacesFor(CGSConnectionID cid, std::int32_t mask);

  Connection& connection_;
  mutable std::mutex mutex_;
  std::unique_ptr<SharedCount> count_;
  bool refused_ = false;  // a host that does not read ahead: everything is asked alone
  struct Kept {
    std::uint64_t tag = 0;
    SharedCount::Slot slot = SharedCount::world;  // the count the tag is of
    bool always = false;
    nlohmann::json answer;
  };
  std::map<std::string, Kept> kept_;
  std::shared_ptr<const std::vector<platform::RunningApplicationInfo>> apps_;
  std::uint64_t appsTag_ = 0;
  Table<platform::WindowEntry> windows_;
  Table<reads::AXRow> accessibility_;
  Table<reads::SpaceRow> spaces_;
  Miss accessibilityMiss_, spacesMiss_;
  std::uint64_t fetches_ = 0;
};

}  // namespace host
