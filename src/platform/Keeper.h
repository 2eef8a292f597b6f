#pragma once
// Values made from a key and kept for the next asker, within a budget of how many and how
// many bytes: the pictures the panels' views and the composer would otherwise make again
// at every paint (shadow masks, sampled pictures, drawn layers, outlines). Past the budget
// the least recently used go first. A value let go is only made again: nothing may depend
// on one being kept. `Keeper` is for one thread; `SharedKeeper` for any.

#include <cstddef>
#include <iterator>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace platform {

/// How much a keeper may hold: values, and bytes as each value was weighed when kept.
struct KeeperBudget {
  std::size_t count = std::numeric_limits<std::size_t>::max();
  std::size_t bytes = std::numeric_limits<std::size_t>::max();
};

/// Weighs nothing: for a keeper bounded by its count alone.
struct Unweighed {
  template <class Value>
  std::size_t operator()(const Value&) const {
    return 0;
  }
};

/// Keys are ordered (`operator<`) unless a `Hash` is given. A key may file several values
/// (a key that is a hash of what they were made from): `find` tells them apart.
template <class Key, class Value, class Hash = void>
class Keeper {
 public:
  explicit Keeper(KeeperBudget budget) : budget_(budget) {}
  Keeper(const Keeper&) = delete;
  Keeper& operator=(const Keeper&) = delete;

  /// A value kept for `key`, now the most recently used; null when none is.
  Value* find(const Key& key) {
    return find(key, [](const Value&) { return true; });
  }
  /// As above, but only a value `fits` accepts. One it refuses stays, and goes as the least
  /// recently used do.
  template <class Fits>
  Value* find(const Key& key, Fits&& fits) {
    const auto [from, to] = index_.equal_range(key);
    for (auto it = from; it != to; ++it) {
      if (!fits(std::as_const(it->second->value))) continue;
      uses_.splice(uses_.begin(), uses_, it->second);
      return &it->second->value;
    }
    return nullptr;
  }

  /// Keeps `value` for `key`, weighing `bytes`, beside any kept for it, once the least
  /// recently used have gone to make room. A value larger than the whole budget is kept
  /// alone. The reference lasts until the next `keep`.
  Value& keep(Key key, Value value, std::size_t bytes = 0) {
    while (!uses_.empty() && (uses_.size() >= budget_.count || bytes_ + bytes > budget_.bytes)) {
      dropLeastRecentlyUsed();
    }
    uses_.push_front(Kept{key, std::move(value), bytes});
    index_.emplace(std::move(key), uses_.begin());
    bytes_ += bytes;
    return uses_.front().value;
  }

  /// The value kept for `key`, or the one `make()` answers, kept weighing `weigh(value)`.
  template <class Make, class Weigh = Unweighed>
  Value& get(const Key& key, Make&& make, Weigh&& weigh = {}) {
    if (Value* found = find(key)) return *found;
    Value made = make();
    const std::size_t bytes = weigh(std::as_const(made));
    return keep(key, std::move(made), bytes);
  }

  std::size_t count() const { return uses_.size(); }
  std::size_t bytes() const { return bytes_; }
  /// Lets the least recently used go until what is kept weighs at most `bytes`.
  void trimTo(std::size_t bytes) {
    while (!uses_.empty() && bytes_ > bytes) dropLeastRecentlyUsed();
  }

 private:
  struct Kept {
    Key key;
    Value value;
    std::size_t bytes;
  };
  using Uses = std::list<Kept>;
  using Index = std::conditional_t<std::is_void_v<Hash>, std::multimap<Key, typename Uses::iterator>,
                                   std::unordered_multimap<Key, typename Uses::iterator, Hash>>;

  void dropLeastRecentlyUsed() {
    const auto oldest = std::prev(uses_.end());
    const auto [from, to] = index_.equal_range(oldest->key);
    for (auto it = from; it != to; ++it) {
      if (it->second != oldest) continue;
      index_.erase(it);
      break;
    }
    bytes_ -= oldest->bytes;
    uses_.erase(oldest);
  }

  KeeperBudget budget_;
  Uses uses_;  // most recently used first
  Index index_;
  std::size_t bytes_ = 0;
};

/// A keeper any thread may ask. A value is made under the keeper's lock, so two askers of
/// one key make it once; `make` must not ask the same keeper.
template <class Key, class Value, class Hash = void>
class SharedKeeper {
 public:
  explicit SharedKeeper(KeeperBudget budget) : kept_(budget) {}

  /// As `Keeper::get`, but a copy: the kept value may go with the next one made.
  template <class Make, class Weigh = Unweighed>
  Value get(const Key& key, Make&& make, Weigh&& weigh = {}) {
    std::lock_guard lock(mutex_);
    return kept_.get(key, std::forward<Make>(make), std::forward<Weigh>(weigh));
  }

  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return kept_.count();
  }
  std::size_t bytes() const {
    std::lock_guard lock(mutex_);
    return kept_.bytes();
  }

 private:
  mutable std::mutex mutex_;
  Keeper<Key, Value, Hash> kept_;
};

}  // namespace platform
