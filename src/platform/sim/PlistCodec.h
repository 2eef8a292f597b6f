#pragma once
// Property-list files: reading the binary and XML forms into PlistValue and writing
// them back. This is how preference domains lie on disk.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlistValue.h"

namespace sim {

/// Parses a binary or XML property list. Nothing, with `error` set to a short reason,
/// when the bytes are not one, or stand for a tree deeper than 256 levels or of more than
/// a million values (counting a shared value each time it is reached), or refer to
/// themselves. A binary file is checked before any tree is built; an XML file is read
/// without recursion and given up at the first limit it passes.
std::optional<platform::PlistValue> decodePlist(const std::vector<std::uint8_t>& bytes, std::string* error = nullptr);

/// The binary form of `value`; empty when it cannot be encoded.
std::vector<std::uint8_t> encodeBinaryPlist(const platform::PlistValue& value);
/// The XML form of `value`; empty when it cannot be encoded.
std::string encodeXmlPlist(const platform::PlistValue& value);

}  // namespace sim
