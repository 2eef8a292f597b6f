#include "workspace/ListedRows.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace trelliq::ListedRows {

namespace {

struct Kept {
  platform::PlistValue held;  // keeps the dictionary, and so its address, alive
  entries::Row row;
  double minimum = 0;
  std::uint64_t listed = 0;  // the list it was last met in
};

struct Memory {
  std::mutex mutex;
  std::unordered_map<const platform::PlistDictionary*, Kept> rows;
  std::uint64_t lists = 0;
};

Memory& memory() {
  static auto* kept = new Memory;
  return *kept;
}

}  // namespace

std::vector<entries::Row> of(const platform::PlistArray& list, double minimum, bool whole) {
  std::vector<entries::Row> result;
  result.reserve(list.size());
  Memory& m = memory();
  std::lock_guard lock(m.mutex);
  const std::uint64_t stamp = ++m.lists;
  for (const platform::PlistValue& item : list) {
    const platform::PlistDictionary* dict = item.asDictionary();
    if (!dict) continue;
    Kept& kept = m.rows[dict];
    if (kept.listed == 0 || kept.minimum != minimum) {
      kept.held = item;
      kept.row = entries::row(*dict, minimum);
      kept.minimum = minimum;
    }
    kept.listed = stamp;
    result.push_back(kept.row);
  }
  if (whole && m.rows.size() > 2 * result.size() + 64) {
    std::erase_if(m.rows, [&](const auto& entry) { return entry.second.listed != stamp; });
  }
  return result;
}

}  // namespace trelliq::ListedRows
