#pragma once
// Pictures too large to travel inside a message (a capture of a large display at scale 2
// is more than a frame may hold) travel beside it in shared memory: the sender moves the
// pixels of the picture in a body into a sealed memfd and sends its descriptor with the
// message; the receiver reads them back into the body. Small pictures stay inline.

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/host/Wire.h"

namespace host::wire {

/// Pictures whose pixels are larger than this travel in shared memory.
inline constexpr std::size_t kInlinePixelBytes = std::size_t{4} << 20;

/// Moves the pixels of the picture `body` holds (the body itself or its "image") into
/// shared memory when they are larger than kInlinePixelBytes, leaving their size in their
/// place; the descriptor to send with the message, or null when they stay inline. When no
/// memory can be had the picture is dropped (null), so the message still fits. Any thread.
std::shared_ptr<Descriptor> movePixelsToMemory(nlohmann::json& body);

/// Reads back the pixels of a picture in `body` that came in shared memory beside it.
/// Throws BadValue when the body names shared memory that `descriptor` does not hold
/// (none came, it can shrink under the reader, or it is too small). Any thread.
void takePixelsFromMemory(nlohmann::json& body, const Descriptor* descriptor);

}  // namespace host::wire
