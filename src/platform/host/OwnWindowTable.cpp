#include "platform/host/OwnWindowTable.h"

#include <iostream>
#include <vector>

#include "platform/host/WireValues.h"

namespace host {

using nlohmann::json;

void OwnWindowTable::attach(const std::string& countPath) {
  auto count = SharedCount::open(countPath);
  std::lock_guard lock(mutex_);
  count_ = std::move(count);
}

std::optional<OwnWindowTable::Status> OwnWindowTable::take(const json& table, std::uint32_t number) {
  std::uint64_t tag = 0, sent = 0;
  bool changes = false;
  std::map<std::uint32_t, platform::OwnWindowStatus> windows;
  std::vector<std::uint32_t> gone;
  try {
    tag = wire::field<std::uint64_t>(table, "g");
    sent = wire::field<std::uint64_t>(table, "s");
    changes = table.contains("d");
    for (const json& row : wire::field<json>(table, "w")) {
      if (!row.is_array() || row.size() != 2) throw wire::BadValue("a window's row is [number, state]");
      windows[wire::read<std::uint32_t>(row[0])] = wire::read<platform::OwnWindowStatus>(row[1]);
    }
    if (changes) gone = wire::field<std::vector<std::uint32_t>>(table, "x");
  } catch (const std::exception& e) {
    std::cerr << "trelliq: the world host's state of this program's windows could not be read: " << e.what() << "\n";
    return std::nullopt;
  }
  Status answer;
  if (const auto it = windows.find(number); it != windows.end()) answer = it->second;
  std::lock_guard lock(mutex_);
  // Answers of several threads may arrive out of order: what was sent before the state
  // kept is old news, and changes sent after one not yet here wait for it. With one missed
  // for good, what is kept stays where it was (its count moved on, so nothing is answered
  // from it) until the whole state comes again.
  if (!count_ || sent <= sent_) return answer;
  if (!changes) {
    windows_ = std::move(windows);
    sent_ = sent;
    tag_ = tag;
    waiting_.erase(waiting_.begin(), waiting_.upper_bound(sent));
  } else if (waiting_.size() < kMaxWaiting) {
    waiting_[sent] = Changes{tag, std::move(windows), std::move(gone)};
  }
  applyWaiting();
  return answer;
}

void OwnWindowTable::applyWaiting() {
  for (auto next = waiting_.find(sent_ + 1); next != waiting_.end(); next = waiting_.find(sent_ + 1)) {
    for (auto& [n, status] : next->second.windows) windows_[n] = status;
    for (const std::uint32_t n : next->second.gone) windows_.erase(n);
    tag_ = next->second.tag;
    sent_ = next->first;
    waiting_.erase(next);
  }
}

std::optional<OwnWindowTable::Status> OwnWindowTable::status(std::uint32_t number) const {
  std::lock_guard lock(mutex_);
  if (!count_ || tag_ == 0 || count_->load() != tag_) return std::nullopt;
  ++hits_;
  if (const auto it = windows_.find(number); it != windows_.end()) return Status(it->second);
  return Status();
}

std::uint64_t OwnWindowTable::hits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

}  // namespace host
