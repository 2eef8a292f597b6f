#include "workspace/Unresponsive.h"

#include <map>
#include <mutex>

#include "platform/Clock.h"
#include "platform/OncePerSystem.h"

namespace trelliq {

namespace {

// A question counts as having run out its timeout when it took nearly all of it; one that
// failed sooner was answered, if only with a refusal.
constexpr double kRanOut = 0.9;

struct Remembered {
  std::mutex mutex;
  std::map<std::int32_t, double> until;  // pid -> monotonic seconds
};

// Pids mean nothing across systems: each has its own.
Remembered& memory() {
  static auto& all = *new platform::OncePerSystem<Remembered>();
  return all.get();
}

}  // namespace

bool Unresponsive::skipping(std::int32_t pid) {
  Remembered& all = memory();
  std::lock_guard lock(all.mutex);
  const auto found = all.until.find(pid);
  if (found == all.until.end()) return false;
  if (platform::clock().monotonicSeconds() < found->second) return true;
  all.until.erase(found);
  return false;
}

AXError Unresponsive::copyAttribute(const AXUIElementRef& element, const std::string& attribute, AXValue* value) {
  if (!element) return kAXErrorIllegalArgument;
  const std::int32_t pid = element->pid();
  if (skipping(pid)) return kAXErrorCannotComplete;
  const double timeout = element->messagingTimeout() > 0 ? element->messagingTimeout() : kAXDefaultMessagingTimeout;
  const double asked = platform::clock().monotonicSeconds();
  const AXError error = AXUIElementCopyAttributeValue(element, attribute, value);
  const double answered = platform::clock().monotonicSeconds();
  if (error == kAXErrorCannotComplete && answered - asked >= kRanOut * timeout) {
    Remembered& all = memory();
    std::lock_guard lock(all.mutex);
    all.until[pid] = answered + remembered;
  }
  return error;
}

std::optional<AXValue> Unresponsive::attribute(const AXUIElementRef& element, const std::string& name) {
  AXValue value;
  if (copyAttribute(element, name, &value) != kAXErrorSuccess || value.isNull()) return std::nullopt;
  return value;
}

}  // namespace trelliq
