#pragma once
// How the trackpad's devices cross the wire, for both ends: a device travels as its id
// (the world's handle as a number), and a function the host cannot reach answers as the
// framework does for a device that is gone.

#include <cstdint>

#include "platform/PrivateSymbols.h"

namespace host::multitouch {

/// The framework's status for a device that is not there (kIOReturnNoDevice).
inline constexpr std::int32_t kNoDevice = static_cast<std::int32_t>(0xE00002C0);

inline std::uint64_t idOf(MTDeviceRef device) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(device));
}
inline MTDeviceRef deviceOf(std::uint64_t id) { return reinterpret_cast<MTDeviceRef>(static_cast<std::uintptr_t>(id)); }

}  // namespace host::multitouch
