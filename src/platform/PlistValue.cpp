#include "platform/PlistValue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace platform {

PlistValue::Type PlistValue::type() const {
  switch (value_.index()) {
    case 0:
      return Type::boolean;
    case 1:
      return Type::integer;
    case 2:
      return Type::real;
    case 3:
      return Type::string;
    case 4:
      return Type::data;
    case 5:
      return Type::date;
    case 6:
      return Type::array;
    default:
      return Type::dictionary;
  }
}

std::optional<bool> PlistValue::asBool() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> PlistValue::asInteger() const {
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
  if (const bool* b = std::get_if<bool>(&value_)) return *b ? 1 : 0;
  if (const double* d = std::get_if<double>(&value_)) {
    // Only a real that names an integer exactly, and one that fits.
    if (!std::isfinite(*d) || std::trunc(*d) != *d) return std::nullopt;
    if (*d < -9223372036854775808.0 || *d >= 9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

std::optional<double> PlistValue::asDouble() const {
  if (const double* d = std::get_if<double>(&value_)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*i);
  if (const bool* b = std::get_if<bool>(&value_)) return *b ? 1.0 : 0.0;
  return std::nullopt;
}

std::optional<bool> PlistValue::numberBoolValue() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i != 0;
  // NaN is non-zero, as the system's number class has it.
  if (const double* d = std::get_if<double>(&value_)) return *d != 0.0;
  return std::nullopt;
}

const std::string* PlistValue::asString() const { return std::get_if<std::string>(&value_); }

const PlistData* PlistValue::asData() const { return std::get_if<PlistData>(&value_); }

std::optional<PlistDate> PlistValue::asDate() const {
  if (const PlistDate* d = std::get_if<PlistDate>(&value_)) return *d;
  return std::nullopt;
}

const PlistArray* PlistValue::asArray() const {
  if (const auto* a = std::get_if<std::shared_ptr<PlistArray>>(&value_)) return a->get();
  return nullptr;
}

const PlistDictionary* PlistValue::asDictionary() const {
  if (const auto* d = std::get_if<std::shared_ptr<PlistDictionary>>(&value_)) return d->get();
  return nullptr;
}

const PlistValue* PlistValue::find(std::string_view key) const {
  const PlistDictionary* dict = asDictionary();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

bool operator==(const PlistValue& a, const PlistValue& b) {
  if (a.value_.index() != b.value_.index()) return false;
  if (const PlistArray* x = a.asArray()) return x == b.asArray() || *x == *b.asArray();
  if (const PlistDictionary* x = a.asDictionary()) return x == b.asDictionary() || *x == *b.asDictionary();
  return a.value_ == b.value_;
}

namespace {

void quote(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  out += '"';
}

void describeInto(std::string& out, const PlistValue& v) {
  char buffer[64];
  switch (v.type()) {
    case PlistValue::Type::boolean:
      out += *v.asBool() ? "true" : "false";
      break;
    case PlistValue::Type::integer:
      out += std::to_string(*v.asInteger());
      break;
    case PlistValue::Type::real: {
      const double d = *v.asDouble();
      std::snprintf(buffer, sizeof buffer, "%.15g", d);
      if (std::strtod(buffer, nullptr) != d) std::snprintf(buffer, sizeof buffer, "%.17g", d);
      out += buffer;
      // Keep a real recognisable as one even when it is whole.
      if (std::string_view(buffer).find_first_of(".eni") == std::string_view::npos) out += ".0";
      break;
    }
    case PlistValue::Type::string:
      quote(out, *v.asString());
      break;
    case PlistValue::Type::data:
      out += "<" + std::to_string(v.asData()->size()) + " bytes>";
      break;
    case PlistValue::Type::date:
      std::snprintf(buffer, sizeof buffer, "date(%.3f)", v.asDate()->secondsSince1970);
      out += buffer;
      break;
    case PlistValue::Type::array: {
      out += '[';
      bool first = true;
      for (const PlistValue& item : *v.asArray()) {
        if (!first) out += ", ";
        first = false;
        describeInto(out, item);
      }
      out += ']';
      break;
    }
    case PlistValue::Type::dictionary: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : *v.asDictionary()) {
        if (!first) out += ", ";
        first = false;
        quote(out, key);
        out += ": ";
        describeInto(out, item);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

std::string PlistValue::describe() const {
  std::string out;
  describeInto(out, *this);
  return out;
}

std::optional<std::string> stringEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  if (it == dict.end() || !it->second.asString()) return std::nullopt;
  return *it->second.asString();
}

std::optional<std::int64_t> integerEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  return it->second.asInteger();
}

std::optional<double> doubleEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  return it->second.asDouble();
}

std::optional<bool> boolEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  return it->second.asBool();
}

const PlistDictionary* dictionaryEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  return it == dict.end() ? nullptr : it->second.asDictionary();
}

const PlistArray* arrayEntry(const PlistDictionary& dict, std::string_view key) {
  auto it = dict.find(key);
  return it == dict.end() ? nullptr : it->second.asArray();
}

}  // namespace platform
