#pragma once
// Checked reading of scenario JSON: each reader answers the value or throws a Problem
// naming where in the file it was (a path such as "windows[3].frame") and what is wrong.

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/Geometry.h"

namespace sim::scenario {

/// A problem found while reading a scenario: where (empty for the whole file) and what.
struct Problem {
  std::string where;
  std::string what;
};

[[noreturn]] void fail(const std::string& where, const std::string& what);

/// What the value is, for messages: "null", "a Boolean", "a number", "a string", "an array", "an object".
std::string kindOf(const nlohmann::json& j);

/// Throws unless `j` is an object.
void expectObject(const nlohmann::json& j, const std::string& where);
/// Answers `j`; throws unless it is an array.
const nlohmann::json& expectArray(const nlohmann::json& j, const std::string& where);
/// Throws at the first key of object `j` not in `allowed`.
void onlyFields(const nlohmann::json& j, const std::string& where, std::initializer_list<const char*> allowed);

bool boolean(const nlohmann::json& j, const std::string& where);
/// A finite number.
double number(const nlohmann::json& j, const std::string& where);
std::string string(const nlohmann::json& j, const std::string& where);
/// "#RRGGBB" as 0xRRGGBB.
std::uint32_t color(const nlohmann::json& j, const std::string& where);
/// [x, y, width, height]: a finite origin and a positive, finite size.
CGRect rect(const nlohmann::json& j, const std::string& where);

}  // namespace sim::scenario
