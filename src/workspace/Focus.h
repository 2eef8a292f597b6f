#pragma once
// Bringing an application and one of its windows to the front, and two small
// accessibility reads. Main thread only; nothing here logs.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Accessibility.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// Raises `app` and, when given, `window` (through its element, its remembered minimized
/// element or one made from its number), unminimizing it, and makes the app active; falls
/// back to the public activation when the window server's focus fails. Without a window,
/// opens (reopens) the app's bundle with activation. A window with a number is recorded as
/// deliberately used first, whatever follows. No result; the effects arrive later.
void activate(const AppInfo& app, const std::optional<WindowInfo>& window);

/// The window number of the application's focused window, else of its main window; nothing
/// when it has neither, the app does not answer within 0.25 s, or the number cannot be read.
std::optional<std::uint32_t> focusedWindowID(std::int32_t pid);

/// One attribute of an element; nothing when the read fails or the value is null.
std::optional<AXValue> axAttr(const AXUIElementRef& element, const std::string& name);

}  // namespace trelliq
