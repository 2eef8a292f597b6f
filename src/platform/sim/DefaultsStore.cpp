#include "platform/sim/DefaultsStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

#include "platform/Files.h"
#include "platform/Unicode.h"
#include "platform/sim/PlistCodec.h"

namespace sim {

using platform::FileFaults;
using platform::FileManager;
using platform::FileOp;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

// File time stamps come from a coarse kernel clock: two writes a few milliseconds
// apart can carry the same one. A stamp younger than this is confirmed by content.
constexpr long long kRacyNanos = 50'000'000;

long long realNowNanos() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Larger than any real preference domain; reading more would only cost time and memory.
constexpr std::uint64_t kMaxFileBytes = 64ull << 20;

// Whether the decoder refused a tree for its size, depth or self-reference rather than
// for its syntax.
bool isLimit(const std::string& why) {
  return why.find("too many") != std::string::npos || why.find("too deeply") != std::string::npos ||
         why.find("refers to itself") != std::string::npos || why.find("entities") != std::string::npos;
}

// What has been reported, for the whole process: the same broken file is worth one line
// however many stores and reads meet it. The oldest are forgotten past a bound: a program
// asking for ever new domains in a folder it cannot look into would make ever new keys.
std::mutex gReportedMutex;
std::set<std::string> gReported;
std::deque<std::set<std::string>::iterator> gReportedOrder;  // oldest first

}  // namespace

DefaultsStore::DefaultsStore(std::string folder) : folder_(std::move(folder)) {}

DefaultsStore::Stamp DefaultsStore::stampOf(const struct stat& st) {
  return Stamp{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
               static_cast<unsigned long long>(st.st_size),
               static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
               static_cast<long long>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

std::string DefaultsStore::fileFor(const std::string& domain) const {
  // A domain is a bundle identifier or the global domain; anything that could walk
  // out of the folder is no domain at all.
  if (domain.empty() || domain.size() > kMaxDomainBytes || domain == "." || domain == ".." ||
      domain.find('/') != std::string::npos || domain.find('\0') != std::string::npos)
    return "";
  return platform::joinPath(folder_, domain + ".plist");
}

void DefaultsStore::report(const std::string& key, const std::string& message) {
  {
    std::lock_guard lock(gReportedMutex);
    const auto [at, fresh] = gReported.insert(key);
    if (!fresh) return;
    gReportedOrder.push_back(at);
    if (gReportedOrder.size() > kMaxRemembered) {
      gReported.erase(gReportedOrder.front());
      gReportedOrder.pop_front();
    }
  }
  say(message);
}

std::size_t DefaultsStore::rememberedReports() {
  std::lock_guard lock(gReportedMutex);
  return gReported.size();
}

void DefaultsStore::say(const std::string& message) {
  if (reporter_) {
    reporter_(message);
    return;
  }
  std::fprintf(stderr, "simulated system: %s\n", platform::Unicode::oneLine(message).c_str());
}

void DefaultsStore::setReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard lock(mutex_);
  reporter_ = std::move(reporter);
}

std::size_t DefaultsStore::keptDomains() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void DefaultsStore::forgetEmptyEntries() {
  if (entries_.size() < sweepAt_) return;
  std::erase_if(entries_, [](const auto& entry) {
    const Entry& e = entry.second;
    return !e.dirty && (!e.exists || e.unreadable);
  });
  sweepAt_ = std::max(kKeptBeforeSweep, 2 * entries_.size());
}

bool DefaultsStore::takeContents(Entry& e, std::vector<std::uint8_t>& bytes, const Stamp& stamp,
                                 const std::string& path, const std::string& reportKey, std::string& why) {
  auto parsed = decodePlist(bytes, &why);
  if (parsed && !parsed->asDictionary()) {
    parsed.reset();
    why = "the property list is not a dictionary";
  }
  if (!parsed && isLimit(why)) return false;
  if (parsed) {
    e.values = *parsed->asDictionary();
    e.broken = false;
  } else {
    report(reportKey, path + ": preferences file is damaged (" + why + "); treating the domain as empty");
    e.values.clear();
    e.broken = true;
  }
  e.loaded = e.exists = true;
  e.dirty = false;
  e.stamp = stamp;
  e.raw = std::move(bytes);
  e.racy = realNowNanos() - stamp.modified < kRacyNanos;
  return true;
}

DefaultsStore::Entry& DefaultsStore::keptUnread(Entry& e, const Stamp& stamp) {
  e.loaded = e.exists = e.unreadable = true;
  e.broken = false;
  e.values.clear();
  e.dirty = false;
  e.raw.clear();
  e.stamp = stamp;
  e.racy = false;
  return e;
}

DefaultsStore::Entry& DefaultsStore::refresh(const std::string& domain, bool force) {
  const std::string path = fileFor(domain);
  if (path.empty()) {
    // No domain: nothing is kept under its name.
    nothing_ = Entry{};
    nothing_.loaded = true;
    return nothing_;
  }
  Entry& e = entries_[domain];
  auto markMissing = [&]() -> Entry& {
    e = Entry{};
    e.loaded = true;
    return e;
  };

  struct stat st {};
  int statError = FileFaults::check(FileOp::stat, path);
  // lstat: a link at the path is looked at itself, never followed.
  if (!statError && ::lstat(path.c_str(), &st) != 0) statError = errno;
  if (statError == ENOENT || statError == ENOTDIR) {
    // Unsaved values of a failed write stay until something appears on disk.
    if (e.dirty && !e.exists) return e;
    return markMissing();
  }
  if (statError) {
    report(path + "#stat", path + ": preferences file cannot be examined (" + std::strerror(statError) +
                               "); treating the domain as empty");
    if (!e.dirty) e.values.clear();
    e.loaded = e.exists = e.unreadable = true;
    return e;
  }

  const Stamp stamp = stampOf(st);
  const bool sameStamp = e.loaded && e.exists && stamp == e.stamp;
  if (sameStamp && !force && !e.racy) return e;

  const std::string reportKey = path + "#" + std::to_string(stamp.inode) + "#" + std::to_string(stamp.size) + "#" +
                                std::to_string(stamp.modified);
  // A file that only makes trouble (a pipe that would hold the reader, a link, a size or
  // a tree beyond reason) is put aside at once, so it costs nothing at the next start.
  auto hostile = [&](const std::string& why) -> Entry& {
    report(reportKey, path + ": preferences file is damaged (" + why + "); treating the domain as empty");
    if (setAside(path)) return markMissing();
    e = Entry{};
    e.loaded = e.exists = e.broken = true;
    e.stamp = stamp;
    return e;
  };
  platform::FileRead read = FileManager::readRegularFile(path, kMaxFileBytes);
  switch (read.problem) {
    case platform::FileRead::Problem::none:
      break;
    case platform::FileRead::Problem::missing:
      return markMissing();
    case platform::FileRead::Problem::notRegular:
      return hostile("it is not a plain file");
    case platform::FileRead::Problem::tooLarge:
      return hostile("it is larger than " + std::to_string(kMaxFileBytes >> 20) + " MB");
    case platform::FileRead::Problem::unreadable:
      // Nothing is known to be wrong with the file: it stays as it is, and writes leave it
      // alone rather than replace settings that could not be read.
      report(reportKey, path + ": preferences file cannot be read (" + std::strerror(read.error) +
                            "); treating the domain as empty");
      return keptUnread(e, stamp);
  }
  std::vector<std::uint8_t>& bytes = read.bytes;
  e.unreadable = false;
  if (sameStamp && bytes == e.raw) {
    // Nothing changed on disk; what is in memory (including unsaved values) stands.
    e.racy = realNowNanos() - stamp.modified < kRacyNanos;
    return e;
  }

  std::string why;
  if (!takeContents(e, bytes, stamp, path, reportKey, why)) return hostile(why);
  return e;
}

std::optional<PlistDictionary> DefaultsStore::domain(const std::string& name, Freshness freshness) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(name);
  Entry& e =
      (freshness == Freshness::cached && it != entries_.end() && it->second.loaded) ? it->second : refresh(name, false);
  std::optional<PlistDictionary> values;
  if (e.exists || e.dirty) values = e.values;
  forgetEmptyEntries();
  return values;
}

std::optional<PlistValue> DefaultsStore::value(const std::string& domain, const std::string& key, Freshness freshness) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(domain);
  Entry& e = (freshness == Freshness::cached && it != entries_.end() && it->second.loaded) ? it->second
                                                                                           : refresh(domain, false);
  std::optional<PlistValue> value;
  if (auto found = e.values.find(key); found != e.values.end()) value = found->second;
  forgetEmptyEntries();
  return value;
}

void DefaultsStore::synchronize(const std::string& domain) {
  std::lock_guard lock(mutex_);
  refresh(domain, true);
  forgetEmptyEntries();
}

bool DefaultsStore::set(const std::string& domain, const std::string& key, const std::optional<PlistValue>& value) {
  return update(domain, [&](PlistDictionary& values) {
    if (value)
      values[key] = *value;
    else
      values.erase(key);
  });
}

bool DefaultsStore::update(const std::string& domain, const std::function<void(PlistDictionary&)>& change) {
  std::lock_guard lock(mutex_);
  if (fileFor(domain).empty()) return false;
  FileManager::createDirectory(folder_);
  platform::FolderLock folderLock(folder_);
  Entry& e = refresh(domain, true);
  PlistDictionary next = e.values;
  change(next);
  if (!e.dirty && !e.broken && next == e.values && (e.exists || next.empty())) return true;
  e.values = next;
  return write(domain, e, next, folderLock.held());
}

bool DefaultsStore::replaceDomain(const std::string& domain, const std::optional<PlistDictionary>& values) {
  std::lock_guard lock(mutex_);
  if (fileFor(domain).empty()) return false;
  FileManager::createDirectory(folder_);
  platform::FolderLock folderLock(folder_);
  Entry& e = refresh(domain, true);
  if (values) e.values = *values;
  return write(domain, e, values, folderLock.held());
}

bool DefaultsStore::setAside(const std::string& path) {
  for (int n = 1; n < 10000; ++n) {
    const std::string aside = path + ".corrupt-" + std::to_string(n);
    if (FileManager::fileExists(aside)) continue;
    if (FileManager::moveItem(path, aside)) {
      say(path + ": kept the damaged preferences file as " + aside);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool DefaultsStore::write(const std::string& domain, Entry& e, const std::optional<PlistDictionary>& values,
                          bool folderLocked) {
  const std::string path = fileFor(domain);
  auto fail = [&](const std::string& what) {
    const int error = errno;
    e.dirty = values.has_value();
    if (failedWrites_.insert(path).second) say(path + ": " + what + " (" + std::strerror(error) + ")");
    return false;
  };

  // A plain file that could not be read may hold good settings: it is never replaced.
  if (e.exists && e.unreadable) {
    errno = EACCES;
    return fail("cannot read the preferences file, so it is left unchanged");
  }
  // A damaged file is never replaced by what this store made of it.
  if (e.exists && e.broken) {
    if (!setAside(path)) return fail("cannot keep the damaged preferences file aside, so it is left unchanged");
    e.exists = e.broken = false;
  }

  if (!values) {
    if (e.exists && !FileManager::removeFile(path)) return fail("cannot remove the preferences file");
    e = Entry{};
    e.loaded = true;
    failedWrites_.erase(path);
    return true;
  }

  const std::vector<std::uint8_t> bytes = encodeBinaryPlist(PlistValue(*values));
  if (bytes.empty()) {
    errno = EINVAL;
    return fail("cannot encode the preferences");
  }
  // Under the folder's lock no other store is writing: a temporary file beside the domain
  // is what an interrupted write left.
  if (folderLocked) FileManager::removeLeftoverTemporaries(path);
  if (!FileManager::writeAtomically(path, bytes.data(), bytes.size())) return fail("cannot write the preferences file");

  failedWrites_.erase(path);
  e.dirty = false;
  e.exists = true;
  e.broken = false;
  e.unreadable = false;
  e.values = *values;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    e.stamp = stampOf(st);
    e.raw = bytes;
    e.racy = realNowNanos() - e.stamp.modified < kRacyNanos;
  } else {
    // Without a stamp the next read takes the file in again.
    e.loaded = false;
  }
  return true;
}

}  // namespace sim
