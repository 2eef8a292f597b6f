#include "platform/host/PictureMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cstring>
#include <vector>
#include <utility>

#include "platform/Geometry.h"
#include "platform/host/WireValues.h"

namespace host::wire {

namespace {

/// Every picture object `body` holds: the body itself, its "image", and those of each of
/// its "pieces" and "frames" (a screen's frames of several displays, each in pieces).
void picturesIn(nlohmann::json& body, std::vector<nlohmann::json*>& found) {
  if (!body.is_object()) return;
  if (body.contains("px") || body.contains("shm")) {
    found.push_back(&body);
    return;
  }
  if (auto it = body.find("image"); it != body.end()) picturesIn(*it, found);
  for (const char* list : {"pieces", "frames"}) {
    if (auto it = body.find(list); it != body.end() && it->is_array())
      for (auto& item : *it) picturesIn(item, found);
  }
}

bool writeAllAt(int fd, const std::uint8_t* bytes, std::size_t count, std::size_t offset) {
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    offset += static_cast<std::size_t>(n);
    count -= static_cast<std::size_t>(n);
  }
  return true;
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

std::size_t pageSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

}  // namespace

std::shared_ptr<Descriptor> movePixelsToMemory(nlohmann::json& body) {
  std::vector<nlohmann::json*> pictures;
  picturesIn(body, pictures);
  std::erase_if(pictures, [](nlohmann::json* p) { return !p->contains("px") || !(*p)["px"].is_binary(); });
  const auto bytesOf = [](nlohmann::json* p) { return (*p)["px"].get_binary().size(); };
  std::size_t inlineBytes = 0;
  for (nlohmann::json* p : pictures) inlineBytes += bytesOf(p);
  if (inlineBytes <= kInlinePixelBytes) return nullptr;
  // The largest go, until what stays inline fits; each at a page of its own, so a reader
  // can map it alone.
  std::stable_sort(pictures.begin(), pictures.end(), [&](auto* a, auto* b) { return bytesOf(a) > bytesOf(b); });
  std::vector<std::pair<nlohmann::json*, std::size_t>> moving;  // each picture and where it lies
  std::size_t end = 0;
  const std::size_t page = pageSize();
  for (nlohmann::json* p : pictures) {
    if (inlineBytes <= kInlinePixelBytes) break;
    moving.emplace_back(p, end);
    inlineBytes -= bytesOf(p);
    end += (bytesOf(p) + page - 1) / page * page;
  }
  auto memory = std::make_shared<Descriptor>(::memfd_create("trelliq-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  bool written = memory->get() >= 0 && ::ftruncate(memory->get(), static_cast<off_t>(end)) == 0;
  for (const auto& [p, at] : moving) {
    const auto& pixels = (*p)["px"].get_binary();
    written = written && writeAllAt(memory->get(), pixels.data(), pixels.size(), at);
  }
  // Sealed whole: the reader maps it without fear of it shrinking or changing under it.
  if (!written || ::fcntl(memory->get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    for (const auto& [p, at] : moving) *p = nullptr;
    return nullptr;
  }
  for (const auto& [p, at] : moving) {
    const std::size_t size = bytesOf(p);
    p->erase("px");
    (*p)["shm"] = size;
    if (at > 0) (*p)["at"] = at;
  }
  return memory;
}

namespace {

/// The picture's size in bytes when `descriptor` holds a sealed memory that holds that many
/// from where the picture says it lies (`at`, a whole page), with `seals` among its seals;
/// throws BadValue otherwise. Checked before a byte is mapped: the memory may be far larger
/// than any picture (a sealed sparse file), and what is read must be the picture its size says.
std::size_t checkedMemory(const nlohmann::json& picture, const Descriptor* descriptor, int seals, std::size_t& at) {
  const auto size = picture.find("shm");
  if (size == picture.end() || !size->is_number_unsigned())
    throw BadValue("a picture in shared memory without its size");
  const std::size_t bytes = size->get<std::size_t>();
  const auto side = [&](const char* key) {
    const auto it = picture.find(key);
    return it != picture.end() && it->is_number_integer() ? it->get<std::int64_t>() : std::int64_t{-1};
  };
  const std::int64_t w = side("w"), h = side("h");
  if (w < 0 || h < 0 || w > platform::kMaxPictureSide || h > platform::kMaxPictureSide ||
      bytes != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4) {
    throw BadValue("a picture in shared memory whose size does not match its pixels");
  }
  at = 0;
  if (const auto offset = picture.find("at"); offset != picture.end()) {
    if (!offset->is_number_unsigned() || offset->get<std::size_t>() % pageSize() != 0 ||
        offset->get<std::size_t>() > (std::size_t{1} << 40))
      throw BadValue("a picture in shared memory at a place it cannot lie");
    at = offset->get<std::size_t>();
  }
  if (!descriptor || descriptor->get() < 0) throw BadValue("a picture in shared memory that did not come");
  struct stat info {};
  const int held = ::fcntl(descriptor->get(), F_GET_SEALS);
  if (::fstat(descriptor->get(), &info) != 0 || !S_ISREG(info.st_mode) || held < 0 || (held & seals) != seals ||
      static_cast<std::size_t>(info.st_size) < at + bytes) {
    throw BadValue("a picture's shared memory that does not hold it");
  }
  return bytes;
}

void unmapPicture(void* info) {
  auto* mapping = static_cast<std::pair<void*, std::size_t>*>(info);
  ::munmap(mapping->first, mapping->second);
  delete mapping;
}

}  // namespace

nlohmann::json pictureInMemory(const CGImageRef& picture, std::shared_ptr<Descriptor>& memory) {
  if (!picture) return nullptr;
  const QImage& original = picture->qimage();
  // Captures come in one of the two formats whose bytes are premultiplied ARGB already
  // (opaque ones with an alpha of 0xFF): those are written as they are.
  const bool opaque = original.format() == QImage::Format_RGB32;
  const QImage image = opaque || original.format() == QImage::Format_ARGB32_Premultiplied
                           ? original
                           : original.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const std::size_t row = static_cast<std::size_t>(image.width()) * 4;
  const std::size_t bytes = row * static_cast<std::size_t>(image.height());
  if (bytes == 0) return encode(picture);
  auto made = std::make_shared<Descriptor>(::memfd_create("trelliq-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  bool written = made->get() >= 0;
  if (written && static_cast<std::size_t>(image.bytesPerLine()) == row) {
    written = writeAll(made->get(), image.constBits(), bytes);
  } else {
    for (int y = 0; written && y < image.height(); ++y) written = writeAll(made->get(), image.constScanLine(y), row);
  }
  // Sealed whole: the program keeps it mapped as the picture, which nothing may change.
  if (!written || ::fcntl(made->get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
    return encode(picture);
  memory = std::move(made);
  nlohmann::json body = {{"w", image.width()}, {"h", image.height()}, {"shm", bytes}};
  if (opaque) body["opaque"] = true;
  return body;
}

CGImageRef pictureFrom(const nlohmann::json& body, const Descriptor* memory) {
  if (!body.is_object() || !body.contains("shm")) {
    CGImageRef picture;
    decode(body, picture);
    return picture;
  }
  std::size_t at = 0;
  const std::size_t bytes = checkedMemory(body, memory, F_SEAL_SHRINK | F_SEAL_WRITE, at);
  if (bytes == 0) return CGImage::empty();
  void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, memory->get(), static_cast<off_t>(at));
  if (mapped == MAP_FAILED) throw BadValue("a picture's shared memory that cannot be mapped");
  const int w = body["w"].get<int>(), h = body["h"].get<int>();
  // The picture reads the mapping itself; a change to it (there is none: it is read-only)
  // would take a copy first. The mapping goes with the picture's last copy.
  const bool opaque = body.value("opaque", false);
  const QImage image(static_cast<const uchar*>(mapped), w, h, static_cast<qsizetype>(w) * 4,
                     opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied, &unmapPicture,
                     new std::pair<void*, std::size_t>(mapped, bytes));
  return std::make_shared<const CGImage>(image, mapped, bytes);
}

void takePixelsFromMemory(nlohmann::json& body, const Descriptor* descriptor) {
  std::vector<nlohmann::json*> pictures;
  picturesIn(body, pictures);
  for (nlohmann::json* picture : pictures) {
    if (!picture->contains("shm")) continue;
    std::size_t at = 0;
    const std::size_t bytes = checkedMemory(*picture, descriptor, F_SEAL_SHRINK, at);
    nlohmann::json::binary_t pixels;
    if (bytes > 0) {
      void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, descriptor->get(), static_cast<off_t>(at));
      if (mapped == MAP_FAILED) throw BadValue("a picture's shared memory that cannot be mapped");
      const auto* from = static_cast<const std::uint8_t*>(mapped);
      pixels.assign(from, from + bytes);
      ::munmap(mapped, bytes);
    }
    picture->erase("shm");
    picture->erase("at");
    (*picture)["px"] = nlohmann::json::binary(std::move(pixels));
  }
}

}  // namespace host::wire
