#pragma once
// A value worked out once and then kept, such as a looked-up private function or the
// connection to the window server. "Once" means once per installed system: the running
// program installs one and keeps it, so there the value is made once per process, while
// a test that starts a fresh simulated Mac gets the value worked out afresh for it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/SystemPort.h"

namespace trelliq {

template <typename T>
class OncePerSystem {
 public:
  explicit OncePerSystem(std::function<T()> make) : make_(std::move(make)) {}
  OncePerSystem(const OncePerSystem&) = delete;
  OncePerSystem& operator=(const OncePerSystem&) = delete;

  /// The value for the installed system, made on the first call for it (exactly once even
  /// when several threads arrive together) and only read afterwards. Thread-safe.
  const T& get() {
    const std::uint64_t generation = platform::systemGeneration();
    Node* node = head_.load(std::memory_order_acquire);
    while (!node || node->generation != generation) {
      // Earlier values stay linked (and alive): a thread may still be reading one.
      auto* fresh = new Node(generation, node);
      if (head_.compare_exchange_strong(node, fresh, std::memory_order_acq_rel)) {
        node = fresh;
      } else {
        delete fresh;  // another thread installed one; look at it again
      }
    }
    std::call_once(node->once, [&] { node->value = make_(); });
    return node->value;
  }

 private:
  struct Node {
    Node(std::uint64_t generation, Node* previous) : generation(generation), previous(previous) {}
    const std::uint64_t generation;
    Node* const previous;
    std::once_flag once;
    T value{};
  };

  const std::function<T()> make_;
  std::atomic<Node*> head_{nullptr};
};

}  // namespace trelliq
