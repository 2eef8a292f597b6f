#pragma once
// Display identity and the screen-capture permission.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Geometry.h"
#include "platform/Image.h"

using CGDirectDisplayID = std::uint32_t;

bool CGPreflightScreenCaptureAccess();
bool CGRequestScreenCaptureAccess();
/// The display's UUID string (CGDisplayCreateUUIDFromDisplayID + CFUUIDCreateString); nothing for an unknown display.
std::optional<std::string> CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display);
