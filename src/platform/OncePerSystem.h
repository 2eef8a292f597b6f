#pragma once
// State kept for the life of the installed system, such as a looked-up private function,
// the connection to the window server or what the program learnt about windows. The running
// program installs one system and keeps it, so there such state lives as long as the
// process, while a test that starts a fresh simulated Mac gets it afresh.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace platform {

/// Which installed system something belongs to. Thread-safe.
class SystemStamp {
 public:
  /// Belongs to no system: never current.
  SystemStamp() = default;
  /// The system installed now.
  static SystemStamp now();
  /// Whether the system it names is still the installed one.
  bool isCurrent() const;
  friend bool operator==(const SystemStamp&, const SystemStamp&) = default;

 private:
  explicit SystemStamp(std::uint64_t generation) : generation_(generation) {}
  std::uint64_t generation_ = 0;
};

template <typename T>
class OncePerSystem {
 public:
  /// Each system's value is default-constructed (an empty map, an atomic at zero, a
  /// struct that carries its own lock).
  OncePerSystem() : make_([](std::optional<T>& slot) { slot.emplace(); }) {}
  /// Each system's value is what `make` answers.
  explicit OncePerSystem(std::function<T()> make)
      : make_([make = std::move(make)](std::optional<T>& slot) { slot.emplace(make()); }) {}
  OncePerSystem(const OncePerSystem&) = delete;
  OncePerSystem& operator=(const OncePerSystem&) = delete;
  /// Frees every system's value. The product's are never destroyed: a thread may still
  /// reach one while the process exits.
  ~OncePerSystem() {
    for (Node* node = head_.load(std::memory_order_acquire); node;) {
      Node* const previous = node->previous;
      delete node;
      node = previous;
    }
  }

  /// The value for the installed system, made on the first call for it (exactly once even
  /// when several threads arrive together). Thread-safe as far as making it goes; a value
  /// that changes after that guards itself.
  T& get() {
    const SystemStamp stamp = SystemStamp::now();
    Node* node = head_.load(std::memory_order_acquire);
    while (!node || node->stamp != stamp) {
      // Earlier values stay linked (and alive): a thread may still be reading one.
      auto* fresh = new Node(stamp, node);
      if (head_.compare_exchange_strong(node, fresh, std::memory_order_acq_rel)) {
        node = fresh;
      } else {
        delete fresh;  // another thread installed one; look at it again
      }
    }
    std::call_once(node->once, [&] { make_(node->value); });
    return *node->value;
  }

 private:
  struct Node {
    Node(SystemStamp stamp, Node* previous) : stamp(stamp), previous(previous) {}
    const SystemStamp stamp;
    Node* const previous;
    std::once_flag once;
    std::optional<T> value;
  };

  const std::function<void(std::optional<T>&)> make_;
  std::atomic<Node*> head_{nullptr};
};

}  // namespace platform
