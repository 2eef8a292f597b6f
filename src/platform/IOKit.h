#pragma once
// IOKit service matching: being told when a device of some class appears. A
// notification port delivers its callbacks on the run loop its source is on.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/CFRunLoop.h"
#include "platform/PlistValue.h"

using kern_return_t = std::int32_t;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t kIOReturnError = static_cast<kern_return_t>(0xE00002BC);
inline constexpr kern_return_t kIOReturnBadArgument = static_cast<kern_return_t>(0xE00002C2);

using mach_port_t = std::uint32_t;
inline constexpr mach_port_t kIOMainPortDefault = 0;

/// Services and iterators are numbers; 0 is none.
using io_object_t = std::uint32_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;

inline constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";

/// Defined by the implementation.
class IONotificationPort;
using IONotificationPortRef = std::shared_ptr<IONotificationPort>;

/// Called on the port's run loop with the refcon and the iterator that has new services;
/// the callee drains it with IOIteratorNext to re-arm it.
using IOServiceMatchingCallback = std::function<void(void* refcon, io_iterator_t iterator)>;

/// A new notification port; null only when no window server is installed.
IONotificationPortRef IONotificationPortCreate(mach_port_t mainPort);
/// The port's one source; arrivals are dropped while it is on no run loop.
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(const IONotificationPortRef& port);
/// Ends every matching of the port and invalidates its source. Idempotent.
void IONotificationPortDestroy(const IONotificationPortRef& port);

/// A matching dictionary for services of `name` ("IOProviderClass"); nothing for an empty name.
std::optional<platform::PlistDictionary> IOServiceMatching(const std::string& name);
/// Watches for services matching `matching` (only first-match notifications exist here).
/// `*notification` receives an iterator holding the services present now; drain it to arm
/// the callback. kIOReturnBadArgument for a null port, another type or a dictionary without a class.
kern_return_t IOServiceAddMatchingNotification(const IONotificationPortRef& notifyPort,
                                               const std::string& notificationType,
                                               const std::optional<platform::PlistDictionary>& matching,
                                               IOServiceMatchingCallback callback, void* refCon,
                                               io_iterator_t* notification);
/// The next service of the iterator (the caller releases it); 0 when drained.
io_object_t IOIteratorNext(io_iterator_t iterator);
/// Releases a service or an iterator (which ends its matching).
kern_return_t IOObjectRelease(io_object_t object);
