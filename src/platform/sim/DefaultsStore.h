#pragma once
// The preference domains of one user as files: one property list per domain in the
// home folder's Library/Preferences. Every instance reads and writes the same files,
// so two stores on one home (two processes, or the program and a test acting as
// another program) see each other's writes. Thread-safe.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/PlistValue.h"

struct stat;

namespace sim {

class DefaultsStore {
 public:
  /// A domain is a bundle identifier, a few dozen characters; its file's name, and the
  /// names made beside it (a temporary, a damaged file kept aside), stay within the 255
  /// bytes of a file name. A longer name is no domain.
  static constexpr std::size_t kMaxDomainBytes = 200;

  /// `folder` is the Preferences folder; it is made on the first write.
  explicit DefaultsStore(std::string folder);

  const std::string& folder() const { return folder_; }
  /// The file that holds `domain`; empty for a name that cannot be a file name.
  std::string fileFor(const std::string& domain) const;

  /// Where what the store has to say (a file it cannot read, keeps aside or cannot write)
  /// goes, one message a call; standard error when nothing is set (null).
  void setReporter(std::function<void(const std::string& message)> reporter);
  /// Domains it keeps something of: what was read of existing files, and values a write
  /// could not save. Of domains without a file (or one that cannot be looked at) no more
  /// than kKeptBeforeSweep are kept, the domains a program reads from one read to the next.
  std::size_t keptDomains();
  static constexpr std::size_t kKeptBeforeSweep = 256;
  /// Problems said so far that are remembered, so each is said once (at most
  /// kMaxRemembered, for the whole process).
  static std::size_t rememberedReports();
  static constexpr std::size_t kMaxRemembered = 256;

  /// How much a read trusts what it read before: `checkDisk` looks at the file's
  /// stamp and reads it again when it changed; `cached` answers from memory once
  /// the domain was read (as the system does for other programs' domains until
  /// they are synchronised).
  enum class Freshness { checkDisk, cached };

  /// The whole domain; nothing when its file does not exist. A file that cannot be
  /// read or parsed counts as an empty domain and is reported once on standard error.
  /// A file that is no plain file (a pipe, a link: never followed), is larger than
  /// 64 MB, or holds a tree beyond the property-list limits is kept aside at once
  /// (".corrupt-N") and the domain read as missing. A file that is plain and valid but
  /// cannot be read is left where it is, and writes to its domain fail until it can be.
  std::optional<platform::PlistDictionary> domain(const std::string& name, Freshness freshness = Freshness::checkDisk);
  std::optional<platform::PlistValue> value(const std::string& domain, const std::string& key,
                                            Freshness freshness = Freshness::checkDisk);

  /// Stores (or, with nothing, removes) one key and writes the domain's file under the
  /// folder's advisory lock, merging with what is on disk. False when the file could
  /// not be written; the value is then kept in memory until the file changes on disk.
  bool set(const std::string& domain, const std::string& key, const std::optional<platform::PlistValue>& value);
  /// Applies `change` to the domain as it is on disk and writes the result (one write).
  bool update(const std::string& domain, const std::function<void(platform::PlistDictionary&)>& change);
  /// Replaces the whole domain; nothing removes its file.
  bool replaceDomain(const std::string& domain, const std::optional<platform::PlistDictionary>& values);
  /// Reads the domain's file again now, whatever its stamp says.
  void synchronize(const std::string& domain);

 private:
  struct Stamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0, changed = 0;  // nanoseconds
    friend bool operator==(const Stamp&, const Stamp&) = default;
  };
  struct Entry {
    bool loaded = false;
    bool exists = false;
    bool broken = false;      // the file is there but is no domain (damaged, or no plain file)
    bool unreadable = false;  // a plain file that would not open or read: never replaced
    bool racy = false;        // the stamp was taken so soon after a write that a later one may share it
    bool dirty = false;       // holds values a failed write could not save
    Stamp stamp;
    std::vector<std::uint8_t> raw;
    platform::PlistDictionary values;
  };

  static Stamp stampOf(const struct stat& st);
  Entry& refresh(const std::string& domain, bool force);
  /// Marks `e` as a file that is there but could not be read, as of `stamp`.
  static Entry& keptUnread(Entry& e, const Stamp& stamp);
  // Reads a file's bytes into its entry (a damaged one as empty, said once); false, with
  // `why`, when the file is beyond the limits and must be put aside.
  bool takeContents(Entry& e, std::vector<std::uint8_t>& bytes, const Stamp& stamp, const std::string& path,
                    const std::string& reportKey, std::string& why);
  bool write(const std::string& domain, Entry& entry, const std::optional<platform::PlistDictionary>& values,
             bool folderLocked);
  bool setAside(const std::string& path);
  // Says `message` once for `key` (a file's state).
  void report(const std::string& key, const std::string& message);
  // Says `message` through the reporter, or on standard error. Under the mutex.
  void say(const std::string& message);
  // Lets go of the entries of domains that keep nothing (no file, or one that could not
  // be examined or read, and no unsaved values) once there are many. Under the mutex.
  void forgetEmptyEntries();

  std::string folder_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  std::size_t sweepAt_ = kKeptBeforeSweep;
  Entry nothing_;  // what a name that is no domain reads as
  std::set<std::string> failedWrites_;
  std::function<void(const std::string&)> reporter_;
};

}  // namespace sim
