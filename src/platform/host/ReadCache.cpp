#include "platform/host/ReadCache.h"

#include <algorithm>
#include <iostream>

#include "platform/host/Remote.h"

namespace host {

using nlohmann::json;
using wire::field;
using wire::read;

namespace {

// The Spaces of every kind (desktops, full-screen Spaces, Spaces made by programs): the mask
// a table is fetched with when the question that asked for it has none.
constexpr std::int32_t kEverySpace = 7;
// Kept single answers are few (the screens, the permission, symbols); a program that asks
// ever new ones starts over rather than grow.
constexpr std::size_t kMaxKept = 256;

// A Spaces table answers for one connection id and one mask.
std::int64_t spacesVariant(CGSConnectionID cid, std::int32_t mask) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(cid)) << 32) |
                                   static_cast<std::uint32_t>(mask));
}

std::optional<std::size_t> position(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) return std::nullopt;
  return static_cast<std::size_t>(it - names.begin());
}

}  // namespace

void ReadCache::attach(const std::string& countPath) {
  auto count = SharedCount::open(countPath);
  std::lock_guard lock(mutex_);
  count_ = std::move(count);
}

void ReadCache::forget() {
  std::lock_guard lock(mutex_);
  refused_ = true;
  count_.reset();
  kept_.clear();
  apps_.reset();
  windows_ = {};
  accessibility_ = {};
  spaces_ = {};
}

std::uint64_t ReadCache::countNow() const { return count_ ? count_->load() : 0; }

bool ReadCache::current(std::uint64_t tag, SharedCount::Slot slot) const {
  return tag != 0 && count_ && tag == count_->load(slot);
}

std::uint64_t ReadCache::fetches() const {
  std::lock_guard lock(mutex_);
  return fetches_;
}

ReadCache::Next ReadCache::afterMiss(Miss& miss, std::int64_t group) {
  const std::uint64_t now = countNow();
  if (now == 0 || miss.count != now) {
    miss = {now, group};
    return Next::askAlone;
  }
  const bool same = miss.group == group;
  miss.group = group;
  return same ? Next::fetchGroup : Next::fetchAll;
}

std::optional<json> ReadCache::answer(const std::string& method, const json& body) {
  const std::string key = method + '\n' + body.dump();
  {
    std::lock_guard lock(mutex_);
    if (refused_ || !count_) return std::nullopt;
    if (auto it = kept_.find(key);
        it != kept_.end() && (it->second.always || current(it->second.tag, it->second.slot))) {
      return it->second.answer;
    }
  }
  auto reply = connection_.call("read", json{{"m", method}, {"v", body}});
  std::lock_guard lock(mutex_);
  if (!reply) {
    refused_ = refused_ || connection_.alive();
    return std::nullopt;
  }
  try {
    Kept kept;
    kept.always = reply->value("always", false);
    kept.tag = kept.always ? 0 : field<std::uint64_t>(*reply, "g");
    const auto slot = reply->value("s", std::uint64_t{SharedCount::world});
    if (slot != SharedCount::world && slot != SharedCount::beyondDesk) throw wire::BadValue("no count " + std::to_string(slot));
    kept.slot = static_cast<SharedCount::Slot>(slot);
    kept.answer = field<json>(*reply, "v");
    if (kept_.size() >= kMaxKept) kept_.clear();
    auto& stored = kept_[key] = std::move(kept);
    return stored.answer;
  } catch (const std::exception& e) {
    std::cerr << "trelliq: an answer of the world host could not be read: " << e.what() << "\n";
    return std::nullopt;
  }
}

std::optional<std::vector<platform::RunningApplicationInfo>> ReadCache::applications(
    const std::function<std::optional<platform::RunningApplicationInfo>(json)>& readOne) {
  {
    std::lock_guard lock(mutex_);
    if (refused_ || !count_) return std::nullopt;
    if (apps_ && current(appsTag_)) return *apps_;
  }
  auto reply = connection_.call("read", json{{"m", "runningApplications"}, {"v", nullptr}});
  std::vector<platform::RunningApplicationInfo> apps;
  std::uint64_t tag = 0;
  try {
    if (!reply) throw wire::BadValue("no answer");
    tag = field<std::uint64_t>(*reply, "g");
    json list = field<json>(*reply, "v");
    if (!list.is_array()) throw wire::BadValue("expected the applications");
    for (json& one : list) {
      if (auto app = readOne(std::move(one))) apps.push_back(std::move(*app));
    }
  } catch (const std::exception&) {
    std::lock_guard lock(mutex_);
    refused_ = refused_ || (!reply && connection_.alive());
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  apps_ = std::make_shared<const std::vector<platform::RunningApplicationInfo>>(apps);
  appsTag_ = tag;
  return apps;
}

std::optional<platform::RunningApplicationInfo> ReadCache::application(std::int32_t pid) {
  // The workspace lists each running app as the question about it alone describes it.
  std::lock_guard lock(mutex_);
  if (!apps_ || !current(appsTag_)) return std::nullopt;
  for (const auto& app : *apps_) {
    if (app.pid == pid) return app;
  }
  return std::nullopt;
}

template <typename Row>
bool ReadCache::fetch(Table<Row>& table, json request, std::int64_t variant, bool whole) {
  std::shared_ptr<const std::vector<Row>> base;
  {
    std::lock_guard lock(mutex_);
    if (refused_ || !count_) return false;
    base = table.rows;
    request["have"] = base ? table.seq : 0;
    ++fetches_;
  }
  auto reply = connection_.call("rows", std::move(request));
  if (!reply) {
    std::lock_guard lock(mutex_);
    refused_ = refused_ || connection_.alive();
    return false;
  }
  try {
    static const std::vector<Row> none;
    const auto from = field<std::uint64_t>(*reply, "base");
    auto rows = std::make_shared<const std::vector<Row>>(
        reads::applyDelta(from != 0 && base ? *base : none, field<json>(*reply, "pieces")));
    const auto seq = field<std::uint64_t>(*reply, "seq");
    const auto tag = field<std::uint64_t>(*reply, "g");
    std::lock_guard lock(mutex_);
    // Replies of two threads may cross: the newer table stays.
    if (seq <= table.seq) return true;
    table.seq = seq;
    table.tag = tag;
    table.variant = variant;
    table.whole = whole;
    table.index.clear();
    table.index.reserve(rows->size());
    for (std::size_t i = 0; i < rows->size(); ++i) table.index.emplace(reads::keyOf((*rows)[i]), i);
    table.rows = std::move(rows);
    return true;
  } catch (const std::exception& e) {
    std::cerr << "trelliq: a table of the world host could not be read: " << e.what() << "\n";
    return false;
  }
}

std::optional<std::vector<platform::WindowEntry>> ReadCache::windowList() {
  {
    std::lock_guard lock(mutex_);
    if (windows_.rows && current(windows_.tag)) return *windows_.rows;
  }
  if (!fetch(windows_, json{{"kind", "windows"}}, 0, true)) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (!windows_.rows) return std::nullopt;
  return *windows_.rows;
}

const reads::AXRow* ReadCache::axRow(AXElementID element, bool& covered) {
  const auto& table = accessibility_;
  covered = table.rows && current(table.tag) && (table.whole || table.variant == element.pid);
  if (!covered) return nullptr;
  const reads::AXRow probe{element, {}, std::nullopt};
  auto it = table.index.find(reads::keyOf(probe));
  if (it == table.index.end()) return nullptr;
  const reads::AXRow& row = (*table.rows)[it->second];
  return row.element == element ? &row : nullptr;
}

bool ReadCache::fetchAccessibilityFor(std::int32_t pid, double timeout) {
  Next next;
  {
    std::lock_guard lock(mutex_);
    if (refused_ || !count_) return false;
    next = afterMiss(accessibilityMiss_, pid);
  }
  if (next == Next::askAlone) return false;
  const bool whole = next == Next::fetchAll;
  json request{{"kind", "ax"}, {"t", timeout}, {"pids", whole ? json(nullptr) : json::array({pid})}};
  return fetch(accessibility_, std::move(request), whole ? 0 : pid, whole);
}

std::optional<platform::AXAnswer> ReadCache::attribute(AXElementID element, const std::string& name,
                                                       double timeout) {
  const auto& names = element.element == kAXApplicationElementID ? reads::appAttributes() : reads::windowAttributes();
  const auto at = position(names, name);
  if (!at) return std::nullopt;
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mutex_);
      bool covered = false;
      const reads::AXRow* row = axRow(element, covered);
      if (row && *at < row->answers.size()) return row->answers[*at];
      if (covered) return std::nullopt;  // the app was read and this was not among it
    }
    if (attempt == 0 && !fetchAccessibilityFor(element.pid, timeout)) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::pair<AXError, std::uint32_t>> ReadCache::windowOf(AXElementID element, double timeout) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mutex_);
      bool covered = false;
      const reads::AXRow* row = axRow(element, covered);
      if (row && row->window) return row->window;
      if (covered) return std::nullopt;
    }
    if (attempt == 0 && !fetchAccessibilityFor(element.pid, timeout)) return std::nullopt;
  }
  return std::nullopt;
}

bool ReadCache::fetchSpacesFor(CGSConnectionID cid, std::int32_t mask) {
  {
    std::lock_guard lock(mutex_);
    if (refused_ || !count_ || afterMiss(spacesMiss_, 0) == Next::askAlone) return false;
  }
  return fetch(spaces_, json{{"kind", "spaces"}, {"cid", cid}, {"mask", mask}}, spacesVariant(cid, mask), true);
}

std::optional<std::optional<std::vector<std::int64_t>>> ReadCache::spacesOf(CGSConnectionID cid, std::int32_t mask,
                                                                            std::uint32_t window) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mutex_);
      if (spaces_.rows && current(spaces_.tag) && spaces_.variant == spacesVariant(cid, mask)) {
        auto it = spaces_.index.find(window);
        if (it == spaces_.index.end()) return std::nullopt;
        return (*spaces_.rows)[it->second].spaces;
      }
    }
    if (attempt == 0 && !fetchSpacesFor(cid, mask)) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::pair<std::int32_t, bool>> ReadCache::orderedIn(CGSConnectionID cid, std::uint32_t window) {
  std::int32_t mask = kEverySpace;
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mutex_);
      const bool sameConnection = (spaces_.variant >> 32) == static_cast<std::int64_t>(static_cast<std::uint32_t>(cid));
      if (spaces_.rows && current(spaces_.tag) && sameConnection) {
        auto it = spaces_.index.find(window);
        if (it == spaces_.index.end()) return std::nullopt;
        const reads::SpaceRow& row = (*spaces_.rows)[it->second];
        return std::make_pair(row.orderedInError, row.orderedIn);
      }
      if (spaces_.rows && sameConnection) mask = static_cast<std::int32_t>(spaces_.variant & 0xFFFFFFFF);
    }
    if (attempt == 0 && !fetchSpacesFor(cid, mask)) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace host
