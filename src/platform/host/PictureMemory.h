#pragma once
// Pictures travel beside their message in shared memory, a sealed memfd whose descriptor
// goes with the message. A capture's pixels are written once, straight from the picture,
// and the program keeps the memory mapped as the picture it hands on, so they are never
// copied again. Other pictures in a body travel inline unless they are too large for a
// message (a display at scale 2): those move into memory and are read back into the body.

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/Image.h"
#include "platform/host/Wire.h"

namespace host::wire {

/// Pictures whose pixels are larger than this travel in shared memory.
inline constexpr std::size_t kInlinePixelBytes = std::size_t{4} << 20;

/// Moves the pixels of the pictures `body` holds (the body itself, its "image", and those
/// of its "pieces" and "frames", each alike) into one shared memory, the largest first,
/// until those left inline take no more than kInlinePixelBytes, leaving in each moved
/// one its size and where it lies; the descriptor to send with the message, or null when
/// they all stay inline. When no memory can be had the moved pictures are dropped (null),
/// so the message still fits. Any thread.
std::shared_ptr<Descriptor> movePixelsToMemory(nlohmann::json& body);

/// A reply body for `picture` with its pixels in new sealed shared memory, whose descriptor
/// goes in `memory`: {"w", "h", "shm": bytes}. A null picture is a null body; when no memory
/// can be had the picture goes inline, as encode makes it. An opaque picture says so
/// ("opaque"), and comes out opaque again. Any thread.
nlohmann::json pictureInMemory(const CGImageRef& picture, std::shared_ptr<Descriptor>& memory);

/// The picture a reply `body` holds: its pixels mapped read-only from the shared memory that
/// came beside it (`memory`) and kept mapped while the picture lives, or read from the body
/// when they came inline. Throws BadValue as takePixelsFromMemory does, and for memory that
/// could still be written. Any thread.
CGImageRef pictureFrom(const nlohmann::json& body, const Descriptor* memory);

/// Reads back the pixels of the pictures in `body` (found as movePixelsToMemory finds them)
/// that came in shared memory beside it. Throws BadValue when the body names shared memory
/// that `descriptor` does not hold (none came, it can shrink under the reader, or it is too
/// small). Any thread.
void takePixelsFromMemory(nlohmann::json& body, const Descriptor* descriptor);

}  // namespace host::wire
