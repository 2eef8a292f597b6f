#pragma once
// The accessibility element of every window reported minimized while the program runs,
// so raising it later can unminimize it through that element. Each change of state is
// logged. Main thread only.

#include <cstdint>
#include <optional>

#include "platform/Accessibility.h"

namespace trelliq {

class Minimized final {
 public:
  Minimized() = delete;

  /// Records that the element's window was minimized (or restored) and logs the change;
  /// does nothing for an element without a window number or a state already recorded.
  static void changed(const AXUIElementRef& element, bool minimized);
  /// The same for a caller that already asked the element for its window number (nothing:
  /// it has none).
  static void changed(const AXUIElementRef& element, std::optional<std::uint32_t> window, bool minimized);
  /// The element a minimized window was reported with; null when it is not minimized as far
  /// as the reports go.
  static AXUIElementRef element(std::uint32_t window);
};

}  // namespace trelliq
