#include "platform/host/Reads.h"

namespace host::reads {

using wire::read;

bool operator==(const AXRow& a, const AXRow& b) {
  if (!(a.element == b.element) || a.window != b.window || a.answers.size() != b.answers.size()) return false;
  for (std::size_t i = 0; i < a.answers.size(); ++i) {
    if (a.answers[i].error != b.answers[i].error || !(a.answers[i].value == b.answers[i].value)) return false;
  }
  return true;
}

// [element, [[error, value] …], [error, number] or null]
json encode(const AXRow& row) {
  json answers = json::array();
  for (const platform::AXAnswer& answer : row.answers) {
    answers.push_back(json::array({answer.error, wire::encode(answer.value)}));
  }
  json window = row.window ? json::array({row.window->first, row.window->second}) : json(nullptr);
  return json::array({wire::encode(row.element), std::move(answers), std::move(window)});
}

void decode(const json& j, AXRow& row) {
  if (!j.is_array() || j.size() != 3) throw wire::BadValue("expected an element's row");
  row.element = read<AXElementID>(j[0]);
  if (!j[1].is_array()) throw wire::BadValue("expected answers");
  row.answers.clear();
  for (const json& answer : j[1]) {
    if (!answer.is_array() || answer.size() != 2) throw wire::BadValue("expected an answer");
    row.answers.push_back({read<AXError>(answer[0]), read<AXValue>(answer[1])});
  }
  row.window.reset();
  if (!j[2].is_null()) {
    if (!j[2].is_array() || j[2].size() != 2) throw wire::BadValue("expected a window number");
    row.window = std::make_pair(read<AXError>(j[2][0]), read<std::uint32_t>(j[2][1]));
  }
}

// [window, spaces or null, ordered-in error, ordered in]
json encode(const SpaceRow& row) {
  return json::array({row.window, wire::encode(row.spaces), row.orderedInError, row.orderedIn});
}

void decode(const json& j, SpaceRow& row) {
  if (!j.is_array() || j.size() != 4) throw wire::BadValue("expected a window's row");
  row.window = read<std::uint32_t>(j[0]);
  row.spaces = read<std::optional<std::vector<std::int64_t>>>(j[1]);
  row.orderedInError = read<std::int32_t>(j[2]);
  row.orderedIn = read<bool>(j[3]);
}

}  // namespace host::reads
