#pragma once
// A program's memory of the preferences the host answered. An answer stands while nothing
// it came from has changed: the host's count of preference writes (SharedCount's second
// count, raised after every write and every fresh read it is asked for) and the stamps
// of the files of the domains asked about, which the program looks at itself, as anyone
// who writes them (another program, a person editing a file) changes them. A file stamped
// so recently that a later write could share its stamp is asked about again, as the host
// would read it again. Everything else goes to the host, so an unchanged default costs
// no round trip and a changed one is seen at the next read.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlistValue.h"
#include "platform/host/SharedCount.h"

namespace host {

class PreferenceCache {
 public:
  using Answer = std::optional<platform::PlistValue>;

  /// Starts keeping answers once it has the host's page (`countPath`) and the folder the
  /// domains' files are in; until then (or with either empty) every read asks. Any thread.
  void attach(const std::string& countPath, const std::string& preferencesFolder);

  /// The answer for `key` in the first of `domains` that has it: kept, or from `ask` (the
  /// host), which is then kept if nothing changed while it was asked. Any thread; `ask`
  /// runs without the cache's lock.
  Answer read(const std::vector<std::string>& domains, const std::string& key, const std::function<Answer()>& ask);

  /// How many reads were answered without asking (for tests and benchmarks).
  std::uint64_t hits() const;

 private:
  struct Stamp {
    bool exists = false;
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0, changed = 0;
    friend bool operator==(const Stamp&, const Stamp&) = default;
  };
  struct Kept {
    std::uint64_t count = 0;
    std::vector<Stamp> stamps;
    Answer answer;
  };
  /// The stamps of the domains' files now; nothing when one cannot be trusted (a name
  /// that is no file, a file written a moment ago, or one that cannot be looked at).
  std::optional<std::vector<Stamp>> stampsOf(const std::vector<std::string>& domains) const;

  mutable std::mutex mutex_;
  std::unique_ptr<SharedCount> count_;
  std::string folder_;
  std::map<std::string, Kept> kept_;
  std::uint64_t hits_ = 0;
};

}  // namespace host
