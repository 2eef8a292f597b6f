#pragma once
// Calls the system refused to carry out (the simulated Mac's host had no thread for one,
// say). A refused call answers its empty value, which is no answer at all: read as one it
// would say "not trusted" or "no displays". The port notes each refusal on the thread that
// made the call, and the program asks whether the calls it relies on were refused before
// it acts on their answers. Thread-safe.

#include <optional>
#include <string>

namespace platform {

struct Refusal {
  std::string call;  // the request's name
  std::string why;   // the system's reason
};

/// "the system refused CALL (WHY)", for a message.
std::string describe(const Refusal& refusal);

/// Notes that the call `call`, made on this thread, was refused (the port does).
void noteRefusal(const std::string& call, const std::string& why);

/// The first refusal of any thread of the program since the installed system started;
/// nothing while none happened.
std::optional<Refusal> firstRefusal();

/// Watches the calls this thread makes while it lives (watches may nest). Made and
/// destroyed on one thread.
class RefusalWatch {
 public:
  RefusalWatch();
  ~RefusalWatch();
  RefusalWatch(const RefusalWatch&) = delete;
  RefusalWatch& operator=(const RefusalWatch&) = delete;
  /// The first call of this thread refused since the watch began; nothing when none was.
  const std::optional<Refusal>& refused() const { return first_; }

 private:
  friend void noteRefusal(const std::string& call, const std::string& why);
  RefusalWatch* outer_;
  std::optional<Refusal> first_;
};

}  // namespace platform
