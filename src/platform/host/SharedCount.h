#pragma once
// The world's change count on a page the host and its programs both map. The host raises
// it after every change a program could read (sim::World's change listener); a program
// compares it with the count its kept answers were read at, so it can answer again from
// what it kept without asking the host, and never from anything older than a change it
// could know of. A second count on the same page counts the host's writes of preferences,
// which programs keep in the same way (their files' stamps tell the rest). A third counts
// only the changes beyond the desk's windows, Spaces and apps (displays, permissions, the
// pointer), so answers that depend on nothing else outlast a program's own window changes.
// The page is a small file in the home's private folder.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace host {

class SharedCount {
 public:
  /// Which count: the world's changes, the preferences the host wrote or read again, or the
  /// world's changes beyond the desk (World::Reach::beyondDesk).
  enum Slot : std::size_t { world = 0, preferences = 1, beyondDesk = 2 };

  /// The host's side: makes the file at `path` (0600, no link followed, replacing what a
  /// host before left there) and maps it for writing; the error's text when it cannot.
  static std::variant<std::unique_ptr<SharedCount>, std::string> create(const std::string& path);
  /// A program's side: maps the host's file for reading; null when it is not a plain file
  /// of this user that holds a count (the program then keeps nothing).
  static std::unique_ptr<SharedCount> open(const std::string& path);
  ~SharedCount();
  SharedCount(const SharedCount&) = delete;
  SharedCount& operator=(const SharedCount&) = delete;

  /// The count now; any thread.
  std::uint64_t load(Slot slot = world) const;
  /// Counts one change (host only); any thread.
  void raise(Slot slot = world);

 private:
  explicit SharedCount(std::uint64_t* word) : word_(word) {}
  std::uint64_t* word_;
};

}  // namespace host
