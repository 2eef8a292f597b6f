#include "platform/sim/ScenarioJson.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace sim::scenario {

using json = nlohmann::json;

void fail(const std::string& where, const std::string& what) { throw Problem{where, what}; }

std::string kindOf(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a Boolean";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

void expectObject(const json& j, const std::string& where) {
  if (!j.is_object()) fail(where, "expected an object, found " + kindOf(j));
}

const json& expectArray(const json& j, const std::string& where) {
  if (!j.is_array()) fail(where, "expected an array, found " + kindOf(j));
  return j;
}

void onlyFields(const json& j, const std::string& where, std::initializer_list<const char*> allowed) {
  for (const auto& [key, value] : j.items()) {
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }))
      fail(where.empty() ? key : where + "." + key, "unknown field");
  }
}

bool boolean(const json& j, const std::string& where) {
  if (!j.is_boolean()) fail(where, "expected true or false, found " + kindOf(j));
  return j.get<bool>();
}

double number(const json& j, const std::string& where) {
  if (!j.is_number() || !std::isfinite(j.get<double>())) fail(where, "expected a number, found " + kindOf(j));
  return j.get<double>();
}

std::string string(const json& j, const std::string& where) {
  if (!j.is_string()) fail(where, "expected a string, found " + kindOf(j));
  return j.get<std::string>();
}

std::uint32_t color(const json& j, const std::string& where) {
  const std::string text = j.is_string() ? j.get<std::string>() : "";
  if (text.size() != 7 || text[0] != '#' || text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
    fail(where, "expected a colour like \"#3A6EA5\"");
  return static_cast<std::uint32_t>(std::stoul(text.substr(1), nullptr, 16));
}

CGRect rect(const json& j, const std::string& where) {
  if (!j.is_array() || j.size() != 4 || !std::all_of(j.begin(), j.end(), [](const json& v) { return v.is_number(); }))
    fail(where, "expected an array of 4 numbers");
  const CGRect r(j[0].get<double>(), j[1].get<double>(), j[2].get<double>(), j[3].get<double>());
  if (!(r.size.width > 0 && r.size.height > 0) || !std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) ||
      !std::isfinite(r.size.width) || !std::isfinite(r.size.height))
    fail(where, "expected a finite origin and a positive width and height");
  return r;
}

}  // namespace sim::scenario
