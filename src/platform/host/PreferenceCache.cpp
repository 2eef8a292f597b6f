#include "platform/host/PreferenceCache.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace host {

namespace {

// A write within this much of a file's stamp may leave the same stamp behind.
constexpr long long kRacyNanos = 50'000'000;

long long nanos(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::string keyOf(const std::vector<std::string>& domains, const std::string& key) {
  std::string text = key;
  for (const auto& d : domains) text += '\0' + d;
  return text;
}

}  // namespace

void PreferenceCache::attach(const std::string& countPath, const std::string& preferencesFolder) {
  auto count = countPath.empty() || preferencesFolder.empty() ? nullptr : SharedCount::open(countPath);
  std::lock_guard lock(mutex_);
  count_ = std::move(count);
  folder_ = preferencesFolder;
  kept_.clear();
}

std::optional<std::vector<PreferenceCache::Stamp>> PreferenceCache::stampsOf(
    const std::vector<std::string>& domains) const {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::vector<Stamp> stamps;
  for (const auto& domain : domains) {
    // The host's own rule for what names a file; anything else is always asked.
    if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos ||
        domain.find('\0') != std::string::npos) {
      return std::nullopt;
    }
    struct stat st {};
    Stamp stamp;
    if (::lstat((folder_ + "/" + domain + ".plist").c_str(), &st) == 0) {
      stamp = {true, static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
               static_cast<unsigned long long>(st.st_size), nanos(st.st_mtim), nanos(st.st_ctim)};
      if (nanos(now) - stamp.modified < kRacyNanos) return std::nullopt;
    } else if (errno != ENOENT) {
      return std::nullopt;
    }
    stamps.push_back(stamp);
  }
  return stamps;
}

PreferenceCache::Answer PreferenceCache::read(const std::vector<std::string>& domains, const std::string& key,
                                              const std::function<Answer()>& ask) {
  const std::string name = keyOf(domains, key);
  std::uint64_t count = 0;
  std::optional<std::vector<Stamp>> stamps;
  {
    std::lock_guard lock(mutex_);
    if (!count_) return ask();
    // Read before the stamps and before asking: a write that lands meanwhile is newer
    // than the answer, and the answer is then not kept.
    count = count_->load(SharedCount::preferences);
    stamps = stampsOf(domains);
    if (!stamps) return ask();
    if (auto it = kept_.find(name); it != kept_.end() && it->second.count == count && it->second.stamps == *stamps) {
      ++hits_;
      return it->second.answer;
    }
  }
  Answer answer = ask();
  std::lock_guard lock(mutex_);
  if (count_ && count_->load(SharedCount::preferences) == count && stampsOf(domains) == stamps) {
    kept_[name] = Kept{count, std::move(*stamps), answer};
  }
  return answer;
}

std::uint64_t PreferenceCache::hits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

}  // namespace host
