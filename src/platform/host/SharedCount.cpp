#include "platform/host/SharedCount.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace host {

namespace {

// One page: the counts are its first words, aligned as an atomic needs.
constexpr std::size_t kPageSize = 4096;

std::uint64_t* mapWord(int fd, bool writable) {
  void* page = ::mmap(nullptr, kPageSize, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  return page == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(page);
}

}  // namespace

std::variant<std::unique_ptr<SharedCount>, std::string> SharedCount::create(const std::string& path) {
  ::unlink(path.c_str());  // a page a program of an earlier host still maps stays that host's
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return "cannot make " + path + ": " + std::strerror(errno);
  std::uint64_t* word = ::ftruncate(fd, kPageSize) == 0 ? mapWord(fd, true) : nullptr;
  const int error = errno;
  ::close(fd);
  if (!word) return "cannot map " + path + ": " + std::strerror(error);
  std::atomic_ref<std::uint64_t>(word[world]).store(1, std::memory_order_release);
  std::atomic_ref<std::uint64_t>(word[preferences]).store(1, std::memory_order_release);
  std::atomic_ref<std::uint64_t>(word[beyondDesk]).store(1, std::memory_order_release);
  return std::unique_ptr<SharedCount>(new SharedCount(word));
}

std::unique_ptr<SharedCount> SharedCount::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  std::uint64_t* word = nullptr;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid() &&
      info.st_size >= static_cast<off_t>(kPageSize)) {
    word = mapWord(fd, false);
  }
  ::close(fd);
  return word ? std::unique_ptr<SharedCount>(new SharedCount(word)) : nullptr;
}

SharedCount::~SharedCount() { ::munmap(word_, kPageSize); }

std::uint64_t SharedCount::load(Slot slot) const {
  return std::atomic_ref<std::uint64_t>(word_[slot]).load(std::memory_order_acquire);
}

void SharedCount::raise(Slot slot) {
  std::atomic_ref<std::uint64_t>(word_[slot]).fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace host
