#pragma once
// A property-list value: what user defaults, other programs' preferences, window
// lists and display descriptions hand back. Readers ask for the type they expect
// and get nothing when the stored value has another type, so "a value of the
// wrong type counts as missing" is one accessor call.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
// Keys are looked up by any string type without building a std::string first.
using PlistDictionary = std::map<std::string, PlistValue, std::less<>>;
using PlistData = std::vector<std::uint8_t>;

/// A point in time as seconds since 1970-01-01 00:00 UTC.
struct PlistDate {
  double secondsSince1970 = 0;
  friend bool operator==(const PlistDate&, const PlistDate&) = default;
};

class PlistValue {
 public:
  enum class Type { boolean, integer, real, string, data, date, array, dictionary };

  PlistValue() : value_(false) {}
  PlistValue(bool v) : value_(v) {}
  PlistValue(int v) : value_(std::int64_t{v}) {}
  PlistValue(unsigned v) : value_(std::int64_t{v}) {}
  PlistValue(long v) : value_(std::int64_t{v}) {}
  PlistValue(long long v) : value_(std::int64_t{v}) {}
  PlistValue(unsigned long v) : value_(static_cast<std::int64_t>(v)) {}
  PlistValue(double v) : value_(v) {}
  PlistValue(const char* v) : value_(std::string(v)) {}
  PlistValue(std::string v) : value_(std::move(v)) {}
  PlistValue(PlistData v) : value_(std::move(v)) {}
  PlistValue(PlistDate v) : value_(v) {}
  PlistValue(PlistArray v) : value_(std::make_shared<PlistArray>(std::move(v))) {}
  PlistValue(PlistDictionary v) : value_(std::make_shared<PlistDictionary>(std::move(v))) {}

  Type type() const;
  bool isBool() const { return type() == Type::boolean; }
  /// A number in the system's sense: a Boolean, an integer or a real.
  bool isNumber() const { return type() == Type::boolean || type() == Type::integer || type() == Type::real; }

  /// Only a stored Boolean.
  std::optional<bool> asBool() const;
  /// An integer, a Boolean (0 or 1) or a real with no fractional part; nothing otherwise.
  std::optional<std::int64_t> asInteger() const;
  /// Any number as a double.
  std::optional<double> asDouble() const;
  /// A number's Boolean value (non-zero is true); nothing for other types.
  std::optional<bool> numberBoolValue() const;

  const std::string* asString() const;
  const PlistData* asData() const;
  std::optional<PlistDate> asDate() const;
  const PlistArray* asArray() const;
  const PlistDictionary* asDictionary() const;

  /// Looks up `key` when this is a dictionary; nullptr otherwise or when missing.
  const PlistValue* find(std::string_view key) const;

  friend bool operator==(const PlistValue& a, const PlistValue& b);

  /// A short readable rendering, for messages and test failures.
  std::string describe() const;

 private:
  // Containers are shared and copied on write so copying a large window list stays cheap.
  std::variant<bool, std::int64_t, double, std::string, PlistData, PlistDate, std::shared_ptr<PlistArray>,
               std::shared_ptr<PlistDictionary>>
      value_;
};

/// Reads a typed entry of a dictionary; nothing when it is missing or of another type.
std::optional<std::string> stringEntry(const PlistDictionary& dict, std::string_view key);
std::optional<std::int64_t> integerEntry(const PlistDictionary& dict, std::string_view key);
std::optional<double> doubleEntry(const PlistDictionary& dict, std::string_view key);
std::optional<bool> boolEntry(const PlistDictionary& dict, std::string_view key);
const PlistDictionary* dictionaryEntry(const PlistDictionary& dict, std::string_view key);
const PlistArray* arrayEntry(const PlistDictionary& dict, std::string_view key);

/// The entries under `keys`, in their order, from one walk over the dictionary (nullptr for
/// a key it lacks; a key asked twice gets the same entry twice). Reading most of a small
/// dictionary this way costs less than a look-up per key, each of which compares whole keys
/// down the tree again.
template <std::size_t N>
std::array<const PlistValue*, N> entries(const PlistDictionary& dict, const std::array<std::string_view, N>& keys) {
  std::array<const PlistValue*, N> found{};
  std::size_t missing = N;
  for (const auto& [key, value] : dict) {
    const std::string_view have(key);
    for (std::size_t i = 0; i < N; ++i) {
      if (!found[i] && have == keys[i]) {
        found[i] = &value;
        --missing;
      }
    }
    if (missing == 0) break;
  }
  return found;
}

}  // namespace platform
