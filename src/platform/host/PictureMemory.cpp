#include "platform/host/PictureMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/Geometry.h"
#include "platform/host/WireValues.h"

namespace host::wire {

namespace {

/// The picture object in `body`, or null when it holds none.
nlohmann::json* pictureIn(nlohmann::json& body) {
  if (!body.is_object()) return nullptr;
  if (body.contains("px") || body.contains("shm")) return &body;
  if (auto it = body.find("image"); it != body.end() && it->is_object() && (it->contains("px") || it->contains("shm")))
    return &*it;
  return nullptr;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::shared_ptr<Descriptor> movePixelsToMemory(nlohmann::json& body) {
  nlohmann::json* picture = pictureIn(body);
  if (!picture || !picture->contains("px") || !(*picture)["px"].is_binary()) return nullptr;
  const auto& pixels = (*picture)["px"].get_binary();
  if (pixels.size() <= kInlinePixelBytes) return nullptr;
  auto memory = std::make_shared<Descriptor>(::memfd_create("trelliq-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  // Sealed whole: the reader maps it without fear of it shrinking or changing under it.
  if (memory->get() < 0 || !writeAll(memory->get(), pixels.data(), pixels.size()) ||
      ::fcntl(memory->get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    *picture = nullptr;
    return nullptr;
  }
  const std::size_t size = pixels.size();
  picture->erase("px");
  (*picture)["shm"] = size;
  return memory;
}

void takePixelsFromMemory(nlohmann::json& body, const Descriptor* descriptor) {
  nlohmann::json* picture = pictureIn(body);
  if (!picture || !picture->contains("shm")) return;
  const auto size = (*picture)["shm"];
  if (!size.is_number_unsigned()) throw BadValue("a picture in shared memory without its size");
  const std::size_t bytes = size.get<std::size_t>();
  // Checked before a byte is mapped or copied: the memory may be far larger than any picture
  // (a sealed sparse file), and what is copied must be the picture its size says.
  const auto side = [&](const char* key) {
    const auto it = picture->find(key);
    return it != picture->end() && it->is_number_integer() ? it->get<std::int64_t>() : std::int64_t{-1};
  };
  const std::int64_t w = side("w"), h = side("h");
  if (w < 0 || h < 0 || w > platform::kMaxPictureSide || h > platform::kMaxPictureSide ||
      bytes != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4) {
    throw BadValue("a picture in shared memory whose size does not match its pixels");
  }
  if (!descriptor || descriptor->get() < 0) throw BadValue("a picture in shared memory that did not come");
  const int fd = descriptor->get();
  struct stat info {};
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || seals < 0 || !(seals & F_SEAL_SHRINK) ||
      static_cast<std::size_t>(info.st_size) < bytes) {
    throw BadValue("a picture's shared memory that does not hold it");
  }
  nlohmann::json::binary_t pixels;
  if (bytes > 0) {
    void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) throw BadValue("a picture's shared memory that cannot be mapped");
    const auto* from = static_cast<const std::uint8_t*>(mapped);
    pixels.assign(from, from + bytes);
    ::munmap(mapped, bytes);
  }
  picture->erase("shm");
  (*picture)["px"] = nlohmann::json::binary(std::move(pixels));
}

}  // namespace host::wire
