#pragma once
// A few values made from a small key (a scale, a look) and kept for the next asker: the
// composer's shadow and border pieces and corner masks. Past `kMost` keys all are let go,
// as only a few scales are in use at a time. Any thread.

#include <cstddef>
#include <map>
#include <mutex>

namespace sim {

template <class Key, class Value>
class KeptFew {
 public:
  static constexpr std::size_t kMost = 16;

  /// The value kept for `key`, made by `make()` when there is none. A copy: the kept one
  /// may go with the next key made.
  template <class Make>
  Value get(const Key& key, Make&& make) {
    std::lock_guard lock(mutex_);
    if (const auto found = kept_.find(key); found != kept_.end()) return found->second;
    if (kept_.size() >= kMost) kept_.clear();
    return kept_.emplace(key, make()).first->second;
  }

 private:
  std::mutex mutex_;
  std::map<Key, Value> kept_;
};

}  // namespace sim
