#include "platform/sim/IORegistry.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace sim {

namespace {
// Unique for the process, and apart from the event server's numbers, so an object of one
// registry can never be mistaken for another's.
std::atomic<std::uint32_t> gNextObject{0x10'0000};
}  // namespace

std::uint32_t IORegistry::publish(const std::string& className) {
  const std::uint32_t service = gNextObject.fetch_add(1);
  std::vector<std::function<void()>> tell;
  {
    std::lock_guard lock(mutex_);
    services_[service] = className;
    for (auto& [iterator, matching] : matchings_) {
      if (matching.className != className) continue;
      matching.waiting.push_back(service);
      if (matching.armed) {
        matching.armed = false;
        tell.push_back(matching.arrived);
      }
    }
  }
  for (const auto& arrived : tell) {
    if (arrived) arrived();
  }
  return service;
}

void IORegistry::withdraw(std::uint32_t service) {
  std::lock_guard lock(mutex_);
  services_.erase(service);
  for (auto& [iterator, matching] : matchings_) std::erase(matching.waiting, service);
}

std::optional<std::uint32_t> IORegistry::addMatching(const std::string& className, std::function<void()> arrived) {
  if (className.empty()) return std::nullopt;
  const std::uint32_t iterator = gNextObject.fetch_add(1);
  std::lock_guard lock(mutex_);
  Matching matching{className, {}, false, std::move(arrived)};
  for (const auto& [service, serviceClass] : services_) {
    if (serviceClass == className) matching.waiting.push_back(service);
  }
  matchings_.emplace(iterator, std::move(matching));
  return iterator;
}

std::uint32_t IORegistry::next(std::uint32_t iterator) {
  std::lock_guard lock(mutex_);
  auto it = matchings_.find(iterator);
  if (it == matchings_.end()) return 0;
  Matching& matching = it->second;
  if (matching.waiting.empty()) {
    matching.armed = true;
    return 0;
  }
  const std::uint32_t service = matching.waiting.front();
  matching.waiting.pop_front();
  return service;
}

void IORegistry::release(std::uint32_t object) {
  std::lock_guard lock(mutex_);
  matchings_.erase(object);
}

int IORegistry::matchings(const std::string& className) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(matchings_.begin(), matchings_.end(),
                                        [&](const auto& entry) { return entry.second.className == className; }));
}

std::vector<std::uint32_t> IORegistry::services(const std::string& className) const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> found;
  for (const auto& [service, serviceClass] : services_) {
    if (serviceClass == className) found.push_back(service);
  }
  return found;
}

}  // namespace sim
