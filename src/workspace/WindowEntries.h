#pragma once
// Typed reads of one window-list entry. A value of the wrong type, or a number that does
// not fit the field, counts as missing.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/CGWindow.h"
#include "platform/PlistValue.h"

namespace trelliq::entries {

inline std::optional<std::uint32_t> windowNumber(const platform::PlistDictionary& entry) {
  auto value = platform::integerEntry(entry, kCGWindowNumber);
  if (!value || *value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

inline std::optional<std::int32_t> ownerPID(const platform::PlistDictionary& entry) {
  auto value = platform::integerEntry(entry, kCGWindowOwnerPID);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() || *value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

inline std::optional<std::int64_t> layer(const platform::PlistDictionary& entry) {
  return platform::integerEntry(entry, kCGWindowLayer);
}

inline std::optional<double> alpha(const platform::PlistDictionary& entry) {
  return platform::doubleEntry(entry, kCGWindowAlpha);
}

/// The bounds dictionary as a rectangle; nothing when it is missing or not a rectangle.
inline std::optional<CGRect> bounds(const platform::PlistDictionary& entry) {
  const platform::PlistDictionary* dict = platform::dictionaryEntry(entry, kCGWindowBounds);
  CGRect rect;
  if (!dict || !CGRectMakeWithDictionaryRepresentation(*dict, &rect)) return std::nullopt;
  return rect;
}

/// Whether the bounds dictionary has a "Width" and a "Height" of at least `minimum` points.
inline bool atLeast(const platform::PlistDictionary& entry, double minimum) {
  const platform::PlistDictionary* dict = platform::dictionaryEntry(entry, kCGWindowBounds);
  if (!dict) return false;
  auto width = platform::doubleEntry(*dict, "Width");
  auto height = platform::doubleEntry(*dict, "Height");
  return width && height && *width >= minimum && *height >= minimum;
}

/// The bounds dictionary read for what the checks above ask of it: whether the entry has
/// one, the rectangle (as bounds() answers) and the size check (as atLeast() answers).
struct BoundsEntry {
  bool present = false;
  std::optional<CGRect> rect;
  bool atLeast = false;
};

/// The width and height from which a listed window counts as large (BoundsEntry::atLeast).
inline constexpr double kLargeSide = 100;

/// What the workspace reads of one window-list entry, each as the reader of that field
/// above answers it, from one walk over the entry and one over its bounds.
struct Row {
  std::optional<std::int64_t> layer;
  std::optional<std::uint32_t> number;
  std::optional<std::int32_t> ownerPID;
  std::optional<double> alpha;
  BoundsEntry bounds;
  const std::string* name = nullptr;  // inside the entry; null when missing or not a string
};

inline Row row(const platform::PlistDictionary& entry, double minimum) {
  const auto found = platform::entries<6>(
      entry, {kCGWindowLayer, kCGWindowNumber, kCGWindowOwnerPID, kCGWindowAlpha, kCGWindowBounds, kCGWindowName});
  Row result;
  if (found[0]) result.layer = found[0]->asInteger();
  if (found[1]) {
    if (const auto value = found[1]->asInteger();
        value && *value >= 0 && *value <= std::numeric_limits<std::uint32_t>::max())
      result.number = static_cast<std::uint32_t>(*value);
  }
  if (found[2]) {
    if (const auto value = found[2]->asInteger(); value && *value >= std::numeric_limits<std::int32_t>::min() &&
                                                  *value <= std::numeric_limits<std::int32_t>::max())
      result.ownerPID = static_cast<std::int32_t>(*value);
  }
  if (found[3]) result.alpha = found[3]->asDouble();
  if (const platform::PlistDictionary* dict = found[4] ? found[4]->asDictionary() : nullptr) {
    result.bounds.present = true;
    const auto side = platform::entries<4>(*dict, {"X", "Y", "Width", "Height"});
    const auto read = [](const platform::PlistValue* v) { return v ? v->asDouble() : std::nullopt; };
    const auto x = read(side[0]), y = read(side[1]), width = read(side[2]), height = read(side[3]);
    if (x && y && width && height) result.bounds.rect = CGRect(*x, *y, *width, *height);
    result.bounds.atLeast = width && height && *width >= minimum && *height >= minimum;
  }
  if (found[5]) result.name = found[5]->asString();
  return result;
}

/// The window list, or an empty one when it cannot be read; entries that are not
/// dictionaries are left out.
inline std::vector<platform::PlistDictionary> windowList(CGWindowListOption option, CGWindowID relativeTo) {
  std::vector<platform::PlistDictionary> result;
  auto list = CGWindowListCopyWindowInfo(option, relativeTo);
  if (!list) return result;
  result.reserve(list->size());
  for (const auto& item : *list) {
    if (const auto* dict = item.asDictionary()) result.push_back(*dict);
  }
  return result;
}

}  // namespace trelliq::entries
