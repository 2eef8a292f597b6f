#pragma once
// The shape shared by the option types: a closed set of cases whose stored form in
// the user defaults is the case's own name.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace trelliq {

/// Base of an option type `Self`. `Cases` declares an unscoped enum `Case` with the
/// cases 0..N-1 in declaration order; `Self::rawValues` lists their stored names in the
/// same order. A value converts to its `Case`, so it compares, orders (by declaration
/// order) and switches like one, and a `Case` converts back to the option type.
template <typename Self, typename Cases, std::size_t N>
class Choice : public Cases {
 public:
  using Case = typename Cases::Case;

  constexpr Choice(Case value) : value_(value) {}
  constexpr operator Case() const { return value_; }

  /// The stored name of the case.
  constexpr std::string_view rawValue() const { return Self::rawValues[static_cast<std::size_t>(value_)]; }

  /// The case whose stored name is exactly `raw` (case-sensitive, no trimming); nothing otherwise.
  static constexpr std::optional<Self> fromRaw(std::string_view raw) {
    for (std::size_t i = 0; i < N; ++i) {
      if (Self::rawValues[i] == raw) return Self(static_cast<Case>(i));
    }
    return std::nullopt;
  }

  /// Every case, in declaration order (the order wherever the program lists them).
  static constexpr std::array<Self, N> allCases() {
    return []<std::size_t... I>(std::index_sequence<I...>) {
      return std::array<Self, N>{Self(static_cast<Case>(I))...};
    }
    (std::make_index_sequence<N>{});
  }

 private:
  Case value_;
};

}  // namespace trelliq
