#include "platform/Refusals.h"

#include <mutex>

#include "platform/OncePerSystem.h"

namespace platform {

namespace {

// The innermost watch of this thread.
thread_local RefusalWatch* tWatch = nullptr;

struct FirstRefusal {
  std::mutex mutex;
  std::optional<Refusal> refusal;
};

FirstRefusal& first() {
  static auto& record = *new OncePerSystem<FirstRefusal>();
  return record.get();
}

}  // namespace

std::string describe(const Refusal& refusal) { return "the system refused " + refusal.call + " (" + refusal.why + ")"; }

void noteRefusal(const std::string& call, const std::string& why) {
  for (RefusalWatch* watch = tWatch; watch; watch = watch->outer_) {
    if (!watch->first_) watch->first_ = Refusal{call, why};
  }
  FirstRefusal& record = first();
  std::lock_guard lock(record.mutex);
  if (!record.refusal) record.refusal = Refusal{call, why};
}

std::optional<Refusal> firstRefusal() {
  FirstRefusal& record = first();
  std::lock_guard lock(record.mutex);
  return record.refusal;
}

RefusalWatch::RefusalWatch() : outer_(tWatch) { tWatch = this; }

RefusalWatch::~RefusalWatch() { tWatch = outer_; }

}  // namespace platform
