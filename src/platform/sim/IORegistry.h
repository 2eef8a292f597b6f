#pragma once
// The simulated system's registry of hardware services and the first-match notifications
// on it. A matching's iterator starts with the services of its class present at that
// moment; a service published later joins every matching iterator of its class, and the
// matching is told (its `arrived` called, with no lock held, on the publishing thread)
// only when its iterator had been drained since the last time, as the system re-arms a
// notification only once its iterator has been emptied. Thread-safe.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class IORegistry {
 public:
  IORegistry() = default;
  IORegistry(const IORegistry&) = delete;
  IORegistry& operator=(const IORegistry&) = delete;

  // ---- The hardware ----
  /// A new service of `className` (its object number, never 0), announced to the matchings.
  std::uint32_t publish(const std::string& className);
  /// The service is gone: it leaves the registry and any iterator that has not handed it out yet.
  void withdraw(std::uint32_t service);

  // ---- What the port asks ----
  /// A new matching iterator for `className`, holding the services present now; nothing for
  /// an empty class name.
  std::optional<std::uint32_t> addMatching(const std::string& className, std::function<void()> arrived);
  /// The next service of the iterator; 0 when drained (which arms the notification) or unknown.
  std::uint32_t next(std::uint32_t iterator);
  /// Releasing an iterator ends its matching; releasing a service does nothing further.
  void release(std::uint32_t object);

  // ---- Records ----
  /// How many matchings for `className` are live.
  int matchings(const std::string& className) const;
  /// The services of `className` in the order they were published.
  std::vector<std::uint32_t> services(const std::string& className) const;

 private:
  struct Matching {
    std::string className;
    std::deque<std::uint32_t> waiting;
    bool armed = false;
    std::function<void()> arrived;
  };

  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::string> services_;  // object -> class
  std::map<std::uint32_t, Matching> matchings_;    // iterator -> matching
};

}  // namespace sim
