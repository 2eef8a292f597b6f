#include "platform/sim/PlistCodec.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sim {

using platform::PlistValue;

namespace {

// Property-list dates count from 2001-01-01 00:00 UTC.
constexpr double kReferenceDate = 978307200.0;

struct PlistOwner {
  plist_t node;
  ~PlistOwner() {
    if (node) plist_free(node);
  }
};

std::optional<PlistValue> fromNode(plist_t node, int depth) {
  // Nesting this deep is not a preference domain; it is a hostile file.
  if (!node || depth > 256) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return PlistValue(b != 0);
    }
    case PLIST_UINT: {
      // The library keeps every integer unsigned; negative ones come back in two's complement.
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return PlistValue(static_cast<long long>(u));
    }
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      return PlistValue(static_cast<long long>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return PlistValue(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t length = 0;
      const char* p = plist_get_string_ptr(node, &length);
      return PlistValue(std::string(p ? p : "", p ? length : 0));
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* p = plist_get_data_ptr(node, &length);
      platform::PlistData bytes;
      if (p) bytes.assign(reinterpret_cast<const std::uint8_t*>(p), reinterpret_cast<const std::uint8_t*>(p) + length);
      return PlistValue(std::move(bytes));
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return PlistValue(platform::PlistDate{kReferenceDate + sec + usec / 1e6});
    }
    case PLIST_ARRAY: {
      platform::PlistArray items;
      const uint32_t n = plist_array_get_size(node);
      items.reserve(n);
      for (uint32_t i = 0; i < n; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
      }
      return PlistValue(std::move(items));
    }
    case PLIST_DICT: {
      platform::PlistDictionary dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return PlistValue(std::move(dict));
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (!value) {
          std::free(key);
          break;
        }
        auto converted = fromNode(value, depth + 1);
        if (!converted || !key) {
          std::free(key);
          std::free(it);
          return std::nullopt;
        }
        dict[key] = std::move(*converted);
        std::free(key);
      }
      std::free(it);
      return PlistValue(std::move(dict));
    }
    default:
      return std::nullopt;
  }
}

plist_t toNode(const PlistValue& value) {
  switch (value.type()) {
    case PlistValue::Type::boolean:
      return plist_new_bool(*value.asBool() ? 1 : 0);
    case PlistValue::Type::integer:
      return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
    case PlistValue::Type::real:
      return plist_new_real(*value.asDouble());
    case PlistValue::Type::string:
      return plist_new_string(value.asString()->c_str());
    case PlistValue::Type::data: {
      const platform::PlistData& bytes = *value.asData();
      return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case PlistValue::Type::date: {
      // The file format keeps whole seconds as 32 bits and microseconds beside them.
      double since = value.asDate()->secondsSince1970 - kReferenceDate;
      if (!std::isfinite(since)) since = 0;
      since = std::clamp(since, -2147483648.0, 2147483647.0);
      const double whole = std::floor(since);
      int32_t sec = static_cast<int32_t>(whole);
      int32_t usec = static_cast<int32_t>(std::lround((since - whole) * 1e6));
      if (usec >= 1000000) usec = 999999;
      return plist_new_date(sec, usec);
    }
    case PlistValue::Type::array: {
      plist_t array = plist_new_array();
      for (const PlistValue& item : *value.asArray()) plist_array_append_item(array, toNode(item));
      return array;
    }
    case PlistValue::Type::dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.asDictionary()) plist_dict_set_item(dict, key.c_str(), toNode(item));
      return dict;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<PlistValue> decodePlist(const std::vector<std::uint8_t>& bytes, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<PlistValue> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (bytes.empty()) return fail("the file is empty");
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return fail("the file is too large");
  PlistOwner root{nullptr};
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &root.node);
  if (!root.node) return fail("not a property list");
  auto value = fromNode(root.node, 0);
  if (!value) return fail("the property list holds values that cannot be read");
  return value;
}

std::vector<std::uint8_t> encodeBinaryPlist(const PlistValue& value) {
  PlistOwner root{toNode(value)};
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root.node, &bytes, &length);
  if (!bytes) return {};
  std::vector<std::uint8_t> result(reinterpret_cast<std::uint8_t*>(bytes),
                                   reinterpret_cast<std::uint8_t*>(bytes) + length);
  plist_to_bin_free(bytes);
  return result;
}

std::string encodeXmlPlist(const PlistValue& value) {
  PlistOwner root{toNode(value)};
  char* text = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.node, &text, &length);
  if (!text) return {};
  std::string result(text, length);
  plist_to_xml_free(text);
  return result;
}

}  // namespace sim
