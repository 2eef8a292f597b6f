#include "platform/sim/PlistCodec.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/sim/PlistXml.h"

namespace sim {

using platform::PlistValue;

namespace {

// Property-list dates count from 2001-01-01 00:00 UTC.
constexpr double kReferenceDate = 978307200.0;

// A binary property list names each value once and lets containers share them, so a
// few hundred bytes can stand for a tree of billions of values; the library would build
// all of them. Its parser and its free also recurse once per level. So before the
// library sees a file, the file is walked here without recursion and refused when the
// tree it stands for is too deep or too large, or refers to itself.
constexpr std::size_t kMaxDepth = 256;
constexpr std::uint64_t kMaxValues = 1'000'000;

std::uint64_t bigEndian(const std::uint8_t* p, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

// The object table of a binary property list, read in place: where each object starts,
// and what each container refers to.
class BinaryTable {
 public:
  BinaryTable(const std::vector<std::uint8_t>& bytes, std::vector<std::uint64_t> offsets, std::uint64_t tableAt,
              std::size_t refSize)
      : bytes_(bytes), offsets_(std::move(offsets)), tableAt_(tableAt), refSize_(refSize) {}

  std::uint64_t count() const { return offsets_.size(); }

  /// The references of a container, checked to lie in the file and name an object; false
  /// for an object that is damaged or not one the library reads.
  bool children(std::uint64_t object, std::vector<std::uint64_t>& out) const {
    out.clear();
    const std::uint64_t at = offsets_[object];
    const std::uint8_t kind = bytes_[at] >> 4;
    std::uint64_t length = 0, start = 0;
    switch (kind) {
      case 0x0:  // null, false, true, fill
        return true;
      case 0x1:
      case 0x2: {
        const std::uint64_t size = std::uint64_t{1} << (bytes_[at] & 0x0F);
        return size <= 16 && at + 1 + size <= tableAt_;
      }
      case 0x3:
        return at + 9 <= tableAt_;
      case 0x8:
        return at + 2 + (bytes_[at] & 0x0F) <= tableAt_;
      case 0x4:
      case 0x5:
      case 0x6: {
        if (!lengthAt(at, length, start)) return false;
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        return length <= (tableAt_ - start) / unit;
      }
      case 0xA:
      case 0xC:
      case 0xD:
        return references(at, kind == 0xD, out);
      default:
        return false;
    }
  }

 private:
  /// An object's length field: the low nibble, or an integer object after the marker.
  bool lengthAt(std::uint64_t at, std::uint64_t& length, std::uint64_t& start) const {
    const std::uint8_t low = bytes_[at] & 0x0F;
    start = at + 1;
    if (low != 0x0F) {
      length = low;
      return true;
    }
    if (start >= tableAt_ || (bytes_[start] & 0xF0) != 0x10) return false;
    const std::size_t size = std::size_t{1} << (bytes_[start] & 0x0F);
    if (size > 8 || start + 1 + size > tableAt_) return false;
    length = bigEndian(bytes_.data() + start + 1, size);
    start += 1 + size;
    return true;
  }
  /// Whether a string object holds a NUL character (other objects are no key at all and
  /// are refused by the library itself).
  bool keyHasNul(std::uint64_t object) const {
    const std::uint64_t at = offsets_[object];
    const std::uint8_t kind = bytes_[at] >> 4;
    if (kind != 0x5 && kind != 0x6) return false;
    std::uint64_t length = 0, start = 0;
    const std::uint64_t unit = kind == 0x6 ? 2 : 1;
    if (!lengthAt(at, length, start) || length > (tableAt_ - start) / unit) return true;
    for (std::uint64_t i = 0; i < length; ++i) {
      const std::uint8_t* c = bytes_.data() + start + i * unit;
      if (c[0] == 0 && (unit == 1 || c[1] == 0)) return true;
    }
    return false;
  }
  /// The references of an array, set or (keys, then values) dictionary at `at`.
  bool references(std::uint64_t at, bool dictionary, std::vector<std::uint64_t>& out) const {
    std::uint64_t length = 0, start = 0;
    if (!lengthAt(at, length, start)) return false;
    const std::uint64_t refs = dictionary ? 2 : 1;
    if (length > (tableAt_ - start) / refSize_ / refs) return false;
    out.reserve(static_cast<std::size_t>(length * refs));
    for (std::uint64_t i = 0; i < length * refs; ++i) {
      const std::uint64_t ref = bigEndian(bytes_.data() + start + i * refSize_, refSize_);
      if (ref >= count()) return false;
      // The library stops the program on a key with a NUL character in it.
      if (dictionary && i < length && keyHasNul(ref)) return false;
      out.push_back(ref);
    }
    return true;
  }

  const std::vector<std::uint8_t>& bytes_;
  std::vector<std::uint64_t> offsets_;
  std::uint64_t tableAt_;
  std::size_t refSize_;
};

// Depth-first from the top object, on an explicit stack: each object's size (the values
// of its whole subtree, counting shared ones every time they are reached) and height; a
// reason when the tree is refused.
std::optional<std::string> checkTree(const BinaryTable& table, std::uint64_t top) {
  const std::uint64_t count = table.count();
  enum : std::uint8_t { unseen, open, done };
  std::vector<std::uint8_t> state(count, unseen);
  std::vector<std::uint64_t> size(count, 0);
  std::vector<std::uint32_t> height(count, 0);
  struct Frame {
    std::uint64_t object;
    std::vector<std::uint64_t> children;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  std::vector<std::uint64_t> found;
  auto enter = [&](std::uint64_t object) -> std::optional<std::string> {
    if (!table.children(object, found)) return "the binary property list is damaged";
    state[object] = open;
    stack.push_back({object, found, 0});
    if (stack.size() > kMaxDepth) return "the property list is nested too deeply";
    return std::nullopt;
  };
  if (auto problem = enter(top)) return problem;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.children.size()) {
      const std::uint64_t child = frame.children[frame.next++];
      if (state[child] == open) return "the property list refers to itself";
      if (state[child] == unseen) {
        if (auto problem = enter(child)) return problem;
      }
      continue;
    }
    std::uint64_t total = 1;
    std::uint32_t tallest = 0;
    for (const std::uint64_t child : frame.children) {
      total += size[child];
      tallest = std::max(tallest, height[child]);
      if (total > kMaxValues) return "the property list holds too many values";
    }
    size[frame.object] = total;
    height[frame.object] = tallest + 1;
    if (height[frame.object] > kMaxDepth) return "the property list is nested too deeply";
    state[frame.object] = done;
    stack.pop_back();
  }
  return std::nullopt;
}

// Checks the object table of a binary property list; a reason when it is refused.
std::optional<std::string> checkBinary(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (bytes.size() < kHeader + kTrailer + 1) return "the binary property list is cut short";
  const std::uint8_t* trailer = bytes.data() + bytes.size() - kTrailer;
  const std::size_t offsetSize = trailer[6], refSize = trailer[7];
  const std::uint64_t count = bigEndian(trailer + 8, 8), top = bigEndian(trailer + 16, 8),
                      tableAt = bigEndian(trailer + 24, 8);
  const std::uint64_t objectsEnd = bytes.size() - kTrailer;
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return "the binary property list is damaged";
  if (count == 0 || top >= count) return "the binary property list is damaged";
  if (count > kMaxValues) return "the property list holds too many values";
  if (tableAt < kHeader || tableAt > objectsEnd || (objectsEnd - tableAt) / offsetSize < count)
    return "the binary property list is damaged";

  std::vector<std::uint64_t> offsets(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    offsets[i] = bigEndian(bytes.data() + tableAt + i * offsetSize, offsetSize);
    if (offsets[i] < kHeader || offsets[i] >= tableAt) return "the binary property list is damaged";
  }
  return checkTree(BinaryTable(bytes, std::move(offsets), tableAt, refSize), top);
}

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
  static constexpr std::string_view kBinary = "bplist00";
  const bool binary = bytes.size() >= kBinary.size() && std::equal(kBinary.begin(), kBinary.end(), bytes.begin());
  if (!binary) {
    // Read without the library, whose XML parser recurses once per level.
    return readXmlPlist(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        PlistLimits{kMaxDepth, kMaxValues}, error);
  }
  if (auto problem = checkBinary(bytes)) {
    if (error) *error = *problem;
    return std::nullopt;
  }
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
