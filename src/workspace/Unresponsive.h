#pragma once
// Applications that just let an accessibility question run out its messaging timeout.
// Loading the workspace asks every application several questions one after another on
// the main thread, and an application that does not answer one rarely answers the next:
// nine such applications cost seconds. An application that ran out its timeout is
// remembered for a short while, so the questions that follow (in this load and in the
// next ones of the same session, such as a second look) skip it at once. Each question
// still waits for the timeout it was given; only one that already ran out is not repeated.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Accessibility.h"

namespace trelliq {

class Unresponsive final {
 public:
  Unresponsive() = delete;

  /// How long an application that ran out its timeout is skipped, in seconds.
  static constexpr double remembered = 10.0;

  /// AXUIElementCopyAttributeValue, unless the element's application ran out a timeout
  /// within `remembered` seconds: then kAXErrorCannotComplete at once. A question that
  /// fails with kAXErrorCannotComplete after waiting out the element's timeout marks the
  /// application. An answer that fails at once (an application that refuses) marks nothing.
  static AXError copyAttribute(const AXUIElementRef& element, const std::string& attribute, AXValue* value);

  /// The attribute's value through copyAttribute; nothing on any error or a null value.
  static std::optional<AXValue> attribute(const AXUIElementRef& element, const std::string& attribute);

  /// Whether the application with `pid` is being skipped now.
  static bool skipping(std::int32_t pid);
};

}  // namespace trelliq
