#pragma once
// How a row of the call table (platform/PortCalls.h) travels: the request's body made
// from the arguments on the program's side, and read back into them on the host's, by
// the same field names, so the two cannot drift apart.

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/host/WireValues.h"

namespace host::calls {

/// How a call is asked and answered (the `via` column).
enum class Via { ask, kept, tell, picture };

/// The names of a row's (fields).
template <typename... Names>
constexpr std::array<const char*, sizeof...(Names)> fieldNames(Names... names) {
  return {names...};
}

/// Whether `count` arguments travel under `names` fields: nothing or the value itself
/// without names, else one name each.
template <std::size_t names>
constexpr bool fits(std::size_t count) {
  return names == count || (names == 0 && count <= 1);
}

/// The request's body for `arguments`.
template <std::size_t N, typename... Args>
wire::json requestBody(const std::array<const char*, N>& names, const std::tuple<Args...>& arguments) {
  static_assert(fits<N>(sizeof...(Args)), "a call of several arguments names each field");
  if constexpr (sizeof...(Args) == 0) {
    return nullptr;
  } else if constexpr (N == 0) {
    return wire::encode(std::get<0>(arguments));
  } else {
    wire::json body = wire::json::object();
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      ((body[names[I]] = wire::encode(std::get<I>(arguments))), ...);
    }(std::index_sequence_for<Args...>{});
    return body;
  }
}

/// The arguments a request's body carries, as the values the implementation takes.
/// Throws wire::BadValue (or a json exception) for a body that does not carry them.
template <typename... Args, std::size_t N>
std::tuple<std::decay_t<Args>...> readArguments(const wire::json& body, const std::array<const char*, N>& names) {
  static_assert(fits<N>(sizeof...(Args)), "a call of several arguments names each field");
  if constexpr (sizeof...(Args) == 0) {
    return {};
  } else if constexpr (N == 0) {
    return {wire::read<std::decay_t<Args>>(body)...};
  } else {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::tuple<std::decay_t<Args>...>{wire::field<std::decay_t<Args>>(body, names[I])...};
    }(std::index_sequence_for<Args...>{});
  }
}

/// The parts of a member function's type.
template <typename F>
struct Member;
template <typename C, typename R, typename... A>
struct Member<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  template <std::size_t N>
  static auto read(const wire::json& body, const std::array<const char*, N>& names) {
    return readArguments<A...>(body, names);
  }
};

}  // namespace host::calls
