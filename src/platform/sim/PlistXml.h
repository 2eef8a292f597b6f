#pragma once
// Reading the XML form of a property list. The reader keeps its own stack of open
// containers instead of recursing, so nesting costs heap, not the thread's stack, and it
// stops at the limits the moment it meets them: whatever hides the nesting (comments,
// processing instructions, CDATA sections, a document type), the count is of the
// elements the file really opens.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PlistValue.h"

namespace sim {

struct PlistLimits {
  std::size_t maxDepth = 256;           // containers inside one another
  std::uint64_t maxValues = 1'000'000;  // values of any kind, keys not counted
};

/// The value of an XML property list: a `plist` element holding one value, or one value
/// alone. Nothing, with `error` set to a short reason, when the text is not well-formed
/// XML (which holds no NUL character) or not a property list, nests deeper or holds more
/// values than `limits`, or declares entities. Pure; any thread.
std::optional<platform::PlistValue> readXmlPlist(std::string_view text, const PlistLimits& limits,
                                                 std::string* error = nullptr);

}  // namespace sim
