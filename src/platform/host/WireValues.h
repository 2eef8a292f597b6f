#pragma once
// The plain values of the two ports as wire bodies (JSON, sent as CBOR). `encode` makes
// the body; `decode` reads one back and throws nlohmann::json::exception (or BadValue)
// when the body is not that value, so a bad request is answered with an error instead of
// being half understood.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/CGEvent.h"
#include "platform/Image.h"
#include "platform/PlistValue.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"

namespace host::wire {

using json = nlohmann::json;

struct BadValue : std::runtime_error {
  using std::runtime_error::runtime_error;
};

json encode(const CGPoint& v);
json encode(const CGSize& v);
json encode(const CGRect& v);
json encode(const platform::PlistValue& v);
json encode(const CGImageRef& v);
json encode(const CGEvent& v);
json encode(const AXValue& v);
json encode(const AXElementID& v);
json encode(const platform::ScreenDescription& v);
json encode(const platform::WindowEntry& v);
json encode(const platform::RunningApplicationInfo& v);
json encode(const platform::WorkspaceEvent& v);
json encode(const platform::OwnWindowState& v);
json encode(const platform::OwnWindowStatus& v);
json encode(const platform::EventTapRequest& v);
json encode(const platform::ShareableWindow& v);
json encode(const platform::AppleEvent& v);
json encode(const platform::PlistDictionary& v);
json encode(const platform::SystemPort::ShareableDisplay& v);
json encode(const platform::OperatingSystemVersion& v);

void decode(const json& j, CGPoint& v);
void decode(const json& j, CGSize& v);
void decode(const json& j, CGRect& v);
void decode(const json& j, platform::PlistValue& v);
void decode(const json& j, CGImageRef& v);
void decode(const json& j, CGEvent& v);
void decode(const json& j, AXValue& v);
void decode(const json& j, AXElementID& v);
void decode(const json& j, platform::ScreenDescription& v);
void decode(const json& j, platform::WindowEntry& v);
void decode(const json& j, platform::RunningApplicationInfo& v);
void decode(const json& j, platform::WorkspaceEvent& v);
void decode(const json& j, platform::OwnWindowState& v);
void decode(const json& j, platform::OwnWindowStatus& v);
void decode(const json& j, platform::EventTapRequest& v);
void decode(const json& j, platform::ShareableWindow& v);
void decode(const json& j, platform::AppleEvent& v);
void decode(const json& j, platform::PlistDictionary& v);
void decode(const json& j, platform::SystemPort::ShareableDisplay& v);
void decode(const json& j, platform::OperatingSystemVersion& v);

/// A body kept as it is (read further by the caller).
inline json encode(const json& v) { return v; }
inline void decode(const json& j, json& v) { v = j; }

// Declared before any is defined, so optionals of vectors and vectors of vectors find each other.
template <typename T>
json encode(const std::optional<T>& v);
template <typename T>
void decode(const json& j, std::optional<T>& v);
template <typename T>
json encode(const std::vector<T>& v);
template <typename T>
void decode(const json& j, std::vector<T>& v);

// Scalars and strings read with nlohmann's own checked conversions.
template <typename T>
  requires(std::is_arithmetic_v<T> || std::is_same_v<T, std::string>)
json encode(const T& v);
template <typename T>
  requires(std::is_arithmetic_v<T> || std::is_same_v<T, std::string>)
void decode(const json& j, T& v);

template <typename T>
  requires(std::is_arithmetic_v<T> || std::is_same_v<T, std::string>)
json encode(const T& v) {
  return json(v);
}
template <typename T>
  requires(std::is_arithmetic_v<T> || std::is_same_v<T, std::string>)
void decode(const json& j, T& v) {
  if constexpr (std::is_same_v<T, bool>) {
    v = j.get_ref<const bool&>();
  } else if constexpr (std::is_integral_v<T>) {
    // Only integers that fit: a real or an out-of-range number is a bad value, not a wrap.
    if (!j.is_number_integer()) throw BadValue("expected an integer");
    if (j.is_number_unsigned()) {
      const auto u = j.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) throw BadValue("integer out of range");
      v = static_cast<T>(u);
    } else {
      const auto s = j.get<std::int64_t>();
      if (s < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
          (s > 0 && static_cast<std::uint64_t>(s) > static_cast<std::uint64_t>(std::numeric_limits<T>::max())))
        throw BadValue("integer out of range");
      v = static_cast<T>(s);
    }
  } else if constexpr (std::is_floating_point_v<T>) {
    if (!j.is_number()) throw BadValue("expected a number");
    v = j.get<T>();
  } else {
    v = j.get_ref<const std::string&>();
  }
}

// An enumeration travels as its number.
template <typename T>
  requires std::is_enum_v<T>
json encode(const T& v) {
  return json(static_cast<std::underlying_type_t<T>>(v));
}
template <typename T>
  requires std::is_enum_v<T>
void decode(const json& j, T& v) {
  std::underlying_type_t<T> number{};
  decode(j, number);
  v = static_cast<T>(number);
}

template <typename T>
json encode(const std::optional<T>& v) {
  return v ? encode(*v) : json(nullptr);
}
template <typename T>
void decode(const json& j, std::optional<T>& v) {
  if (j.is_null()) {
    v.reset();
    return;
  }
  T value{};
  decode(j, value);
  v = std::move(value);
}
template <typename T>
json encode(const std::vector<T>& v) {
  json a = json::array();
  for (const T& item : v) a.push_back(encode(item));
  return a;
}
template <typename T>
void decode(const json& j, std::vector<T>& v) {
  if (!j.is_array()) throw BadValue("expected an array");
  v.clear();
  v.reserve(j.size());
  for (const json& item : j) {
    T value{};
    decode(item, value);
    v.push_back(std::move(value));
  }
}

/// Reads a body of type T.
template <typename T>
T read(const json& j) {
  T value{};
  decode(j, value);
  return value;
}
/// Reads field `key` of an object body.
template <typename T>
T field(const json& j, const char* key) {
  if (!j.is_object()) throw BadValue("expected an object");
  auto it = j.find(key);
  if (it == j.end()) throw BadValue(std::string("missing field ") + key);
  return read<T>(*it);
}

}  // namespace host::wire
