#pragma once
// What a program reads ahead from the host, shared by both sides. A snapshot of the desk
// asks thousands of small questions (each window's subrole, title, Spaces …); over a
// socket each would cost a round trip. So the host answers whole tables at once, every
// row read exactly as the single question would be answered, and tagged with the world's
// change count (SharedCount) so the program answers from them only while nothing changed.
//
// Tables travel as changes against the table the program holds: each row the program
// already has is named by its position there, so a desk that changed a little costs a
// little. Rows are plain values with checked readers, like every wire body.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/WindowServerPort.h"
#include "platform/host/WireValues.h"

namespace host::reads {

using json = nlohmann::json;

/// The accessibility attributes asked ahead of each app element, and of each element the
/// first of them names (its windows).
inline const std::vector<std::string>& appAttributes() {
  static const std::vector<std::string> names = {kAXWindowsAttribute, kAXFocusedWindowAttribute,
                                                 kAXMainWindowAttribute};
  return names;
}
inline const std::vector<std::string>& windowAttributes() {
  static const std::vector<std::string> names = {kAXSubroleAttribute, kAXTitleAttribute, kAXMinimizedAttribute};
  return names;
}

/// What one element answered: the attributes above (the app list for an app element, the
/// window list otherwise; none for an element only named as focused or main), and for a
/// window element the number _AXUIElementGetWindow gives it (error, number).
struct AXRow {
  AXElementID element;
  std::vector<platform::AXAnswer> answers;
  std::optional<std::pair<AXError, std::uint32_t>> window;
};
bool operator==(const AXRow& a, const AXRow& b);

/// What the window server says of one listed window: its Spaces for one mask as
/// SLSCopySpacesForWindows answers for it alone, and SLSWindowIsOrderedIn (error, flag).
struct SpaceRow {
  std::uint32_t window = 0;
  std::optional<std::vector<std::int64_t>> spaces;
  std::int32_t orderedInError = 0;
  bool orderedIn = false;
  friend bool operator==(const SpaceRow&, const SpaceRow&) = default;
};

json encode(const AXRow& row);
void decode(const json& j, AXRow& row);
json encode(const SpaceRow& row);
void decode(const json& j, SpaceRow& row);

/// Rows keyed for matching: a window by its number, an element by its identity.
inline std::uint64_t keyOf(const platform::WindowEntry& row) { return row.number; }
inline std::uint64_t keyOf(const SpaceRow& row) { return row.window; }
inline std::uint64_t keyOf(const AXRow& row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row.element.pid)) << 32) ^ row.element.element;
}

/// `rows` as pieces against `base`: [start, count] for a run of base rows unchanged and in
/// order, {"r": row} for a row the base lacks or has otherwise.
template <typename Row>
json delta(const std::vector<Row>& base, const std::vector<Row>& rows) {
  std::unordered_map<std::uint64_t, std::size_t> where;
  where.reserve(base.size());
  for (std::size_t i = 0; i < base.size(); ++i) where.emplace(keyOf(base[i]), i);
  json pieces = json::array();
  std::size_t runStart = 0, runLength = 0;
  auto flush = [&] {
    if (runLength) pieces.push_back(json::array({runStart, runLength}));
    runLength = 0;
  };
  for (const Row& row : rows) {
    const auto found = where.find(keyOf(row));
    if (found != where.end() && base[found->second] == row) {
      if (runLength && found->second == runStart + runLength) {
        ++runLength;
      } else {
        flush();
        runStart = found->second;
        runLength = 1;
      }
      continue;
    }
    flush();
    using wire::encode;
    using reads::encode;
    pieces.push_back(json{{"r", encode(row)}});
  }
  flush();
  return pieces;
}

/// The rows `pieces` stand for against `base`; throws wire::BadValue for a piece that
/// names rows the base does not have or is not a row.
template <typename Row>
std::vector<Row> applyDelta(const std::vector<Row>& base, const json& pieces) {
  if (!pieces.is_array()) throw wire::BadValue("expected pieces");
  std::vector<Row> rows;
  rows.reserve(base.size());
  for (const json& piece : pieces) {
    if (piece.is_array()) {
      const auto start = wire::read<std::uint64_t>(piece.at(0));
      const auto length = wire::read<std::uint64_t>(piece.at(1));
      if (start > base.size() || length > base.size() - start) throw wire::BadValue("a run beyond the rows held");
      rows.insert(rows.end(), base.begin() + static_cast<std::ptrdiff_t>(start),
                  base.begin() + static_cast<std::ptrdiff_t>(start + length));
    } else {
      Row row{};
      using wire::decode;
      using reads::decode;
      decode(wire::field<json>(piece, "r"), row);
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

}  // namespace host::reads
