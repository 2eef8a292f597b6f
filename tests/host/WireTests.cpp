#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "platform/host/PictureMemory.h"
#include "platform/host/Wire.h"
#include "platform/host/WireValues.h"

using host::wire::Decoder;
using host::wire::Fault;
using host::wire::Kind;
using host::wire::Message;

namespace {

Message sample(std::uint64_t id) {
  Message m;
  m.kind = Kind::call;
  m.id = id;
  m.method = "windowList";
  m.body = {{"number", id}, {"title", "Start Page \u2013 Lumen"}, {"bytes", nlohmann::json::binary({1, 2, 3})}};
  return m;
}

/// Whether `address` lies in a mapping of a memfd named `name`.
bool inMemoryNamed(const void* address, const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  for (std::string line; std::getline(maps, line);) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &from, &to) == 2 && at >= from && at < to)
      return line.find("/memfd:" + name) != std::string::npos;
  }
  return false;
}

/// This process's resident kilobytes of the mapping holding `address`; -1 when none does.
long residentKilobytes(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 && line.find(':') > line.find(' ')) {
      inside = at >= from && at < to;
      continue;
    }
    long kilobytes = 0;
    if (inside && std::sscanf(line.c_str(), "Rss: %ld kB", &kilobytes) == 1) return kilobytes;
  }
  return -1;
}

std::vector<std::uint8_t> header(std::uint32_t length, std::uint16_t version, std::uint8_t reserved = 0) {
  return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8),  static_cast<std::uint8_t>(length),
          static_cast<std::uint8_t>(version >> 8), static_cast<std::uint8_t>(version),
          reserved,                                0};
}

std::vector<std::uint8_t> framed(const nlohmann::json& payload) {
  std::vector<std::uint8_t> bytes = nlohmann::json::to_cbor(payload);
  auto frame = header(static_cast<std::uint32_t>(bytes.size()), host::wire::kProtocolVersion);
  frame.insert(frame.end(), bytes.begin(), bytes.end());
  return frame;
}

}  // namespace

TEST(WireTest, MessagesSurviveAnySplitOfTheStream) {
  std::vector<std::uint8_t> stream;
  for (std::uint64_t id = 1; id <= 3; ++id) {
    auto frame = host::wire::encode(sample(id));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  // Byte by byte, in uneven chunks and all at once: the same three messages come out.
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, stream.size()}) {
    Decoder decoder;
    std::vector<Message> out;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      decoder.feed(stream.data() + at, std::min(chunk, stream.size() - at));
      while (auto m = decoder.next()) out.push_back(*m);
    }
    ASSERT_EQ(out.size(), 3u) << "chunk " << chunk;
    for (std::uint64_t id = 1; id <= 3; ++id) EXPECT_EQ(out[id - 1], sample(id));
    EXPECT_FALSE(decoder.fault());
    EXPECT_EQ(decoder.buffered(), 0u);
  }
}

TEST(WireTest, BadStreamsEndWithTheReasonAndNothingAfterIsRead) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    Fault::Reason reason;
  };
  const auto good = host::wire::encode(sample(9));
  std::vector<Case> cases = {
      {"another version", header(4, host::wire::kProtocolVersion + 1), Fault::Reason::version},
      {"reserved bytes set", header(4, host::wire::kProtocolVersion, 1), Fault::Reason::malformed},
      {"over the limit", header(1024 + 1, host::wire::kProtocolVersion), Fault::Reason::oversized},
      {"not CBOR", framed(nullptr), Fault::Reason::malformed},
      {"not an object", framed(nlohmann::json::array({1, 2})), Fault::Reason::malformed},
      {"no kind", framed({{"id", 1}, {"v", 0}}), Fault::Reason::malformed},
      {"unknown kind", framed({{"k", "shout"}, {"id", 1}, {"v", 0}}), Fault::Reason::malformed},
      {"negative id", framed({{"k", "reply"}, {"id", -1}, {"v", 0}}), Fault::Reason::malformed},
      {"no body", framed({{"k", "reply"}, {"id", 1}}), Fault::Reason::malformed},
      {"call without method", framed({{"k", "call"}, {"id", 1}, {"v", 0}}), Fault::Reason::malformed},
      {"method not a string", framed({{"k", "call"}, {"id", 1}, {"m", 5}, {"v", 0}}), Fault::Reason::malformed},
  };
  // A payload that is not CBOR at all (a reserved initial byte), and one nested too deep
  // to build without running off the stack.
  {
    std::vector<std::uint8_t> junk = header(2, host::wire::kProtocolVersion);
    junk.push_back(0x1C);
    junk.push_back(0x00);
    cases[3].bytes = junk;
    std::vector<std::uint8_t> deep(200000, 0x81);  // arrays of one array of one array ...
    deep.push_back(0x00);
    auto frame = header(static_cast<std::uint32_t>(deep.size()), host::wire::kProtocolVersion);
    frame.insert(frame.end(), deep.begin(), deep.end());
    cases.push_back({"nested too deep", frame, Fault::Reason::malformed});
  }
  for (Case& c : cases) {
    Decoder decoder(1024 * 1024);
    if (std::string(c.name) == "over the limit") decoder = Decoder(1024);
    c.bytes.insert(c.bytes.end(), good.begin(), good.end());  // a good message behind it is not read
    decoder.feed(c.bytes.data(), c.bytes.size());
    EXPECT_FALSE(decoder.next()) << c.name;
    ASSERT_TRUE(decoder.fault()) << c.name;
    EXPECT_EQ(decoder.fault()->reason, c.reason) << c.name << ": " << decoder.fault()->what;
    EXPECT_FALSE(decoder.fault()->what.empty());
    decoder.feed(good.data(), good.size());
    EXPECT_FALSE(decoder.next()) << c.name;
    EXPECT_EQ(decoder.buffered(), 0u) << c.name << ": a given-up stream holds nothing";
  }
  Decoder decoder;
  auto other = header(0, 7);
  decoder.feed(other.data(), other.size());
  decoder.next();
  ASSERT_TRUE(decoder.fault());
  EXPECT_EQ(decoder.fault()->peerVersion, 7);
}

TEST(WireTest, AStreamEndingInsideAMessageIsAFault) {
  const auto frame = host::wire::encode(sample(1));
  for (std::size_t cut : {std::size_t{3}, host::wire::kHeaderSize, frame.size() - 1}) {
    Decoder decoder;
    decoder.feed(frame.data(), cut);
    EXPECT_FALSE(decoder.next());
    decoder.endOfStream();
    ASSERT_TRUE(decoder.fault()) << cut;
    EXPECT_EQ(decoder.fault()->reason, Fault::Reason::malformed);
  }
  Decoder clean;
  clean.feed(frame.data(), frame.size());
  EXPECT_TRUE(clean.next());
  clean.endOfStream();
  EXPECT_FALSE(clean.fault()) << "a stream ending between messages is a clean end";
}

TEST(WireTest, OversizedFrameIsRefusedFromItsHeaderAlone) {
  // Only the header arrives: the decoder refuses before waiting for (or buffering) the body,
  // at a limit of its own and at the wire's, which a header's 32-bit length can exceed.
  for (std::size_t limit : {std::size_t{1000}, host::wire::kMaxPayload}) {
    Decoder decoder(limit);
    auto h = header(static_cast<std::uint32_t>(std::min<std::size_t>(limit + 1, 0xFFFFFFFF)),
                    host::wire::kProtocolVersion);
    decoder.feed(h.data(), h.size());
    EXPECT_FALSE(decoder.next());
    ASSERT_TRUE(decoder.fault()) << "a frame over " << limit << " bytes is waited for";
    EXPECT_EQ(decoder.fault()->reason, Fault::Reason::oversized);
  }
}

// Random damage to valid streams and random bytes: the decoder either yields messages or
// gives up with a reason; it never crashes, reads out of bounds (ASan) or loops.
TEST(WireTest, FuzzedStreamsNeverCrashTheDecoder) {
  std::mt19937 random(20261207);
  std::vector<std::uint8_t> valid;
  for (std::uint64_t id = 1; id <= 4; ++id) {
    auto frame = host::wire::encode(sample(id));
    valid.insert(valid.end(), frame.begin(), frame.end());
  }
  int faults = 0, decoded = 0;
  for (int round = 0; round < 4000; ++round) {
    std::vector<std::uint8_t> bytes;
    if (round % 4 == 0) {
      bytes.resize(random() % 300);
      for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
      if (bytes.size() >= 8 && round % 8 == 0) {  // a plausible header in front of the noise
        auto h = header(static_cast<std::uint32_t>(bytes.size() - 8), host::wire::kProtocolVersion);
        std::copy(h.begin(), h.end(), bytes.begin());
      }
    } else {
      bytes = valid;
      const int flips = 1 + static_cast<int>(random() % 6);
      for (int i = 0; i < flips; ++i) {
        const std::size_t at = host::wire::kHeaderSize + random() % (bytes.size() - host::wire::kHeaderSize);
        bytes[at] = static_cast<std::uint8_t>(random());
      }
      if (round % 3 == 0) bytes.resize(random() % bytes.size());  // truncated
    }
    Decoder decoder(4096);
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t n = std::min<std::size_t>(1 + random() % 64, bytes.size() - at);
      decoder.feed(bytes.data() + at, n);
      at += n;
      while (auto m = decoder.next()) ++decoded;
    }
    if (decoder.fault()) ++faults;
  }
  // Both outcomes were reached, so the fuzzing got past the header into the payloads.
  EXPECT_GT(faults, 100);
  EXPECT_GT(decoded, 100);
}

TEST(WireTest, APictureInSharedMemoryIsReadOnlyWhenItsSizeIsThePictures) {
  // Sealed and sparse: a terabyte that costs the sender nothing, however large it says it is.
  const int fd = ::memfd_create("huge", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  ASSERT_GE(fd, 0);
  const std::size_t huge = std::size_t{1} << 40;
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(huge)), 0);
  ASSERT_EQ(::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL), 0);
  const host::wire::Descriptor memory(fd);
  const struct {
    const char* what;
    nlohmann::json picture;
  } cases[] = {
      {"a size far past its pixels", {{"w", 2}, {"h", 2}, {"shm", huge}}},
      {"a size of none of its pixels", {{"w", 2}, {"h", 2}, {"shm", 20u}}},
      {"sides past the largest picture", {{"w", 1 << 20}, {"h", 1 << 18}, {"shm", huge}}},
      {"no sides", {{"shm", 16u}}},
  };
  for (const auto& c : cases) {
    nlohmann::json body = c.picture;
    EXPECT_THROW(host::wire::takePixelsFromMemory(body, &memory), host::wire::BadValue) << c.what;
  }
  nlohmann::json fits = {{"w", 2}, {"h", 2}, {"shm", 16u}};
  host::wire::takePixelsFromMemory(fits, &memory);
  ASSERT_TRUE(fits.contains("px"));
  EXPECT_EQ(fits["px"].get_binary().size(), 16u) << "a picture the memory holds is read";
}

TEST(WireTest, ACapturedPictureTravelsInSealedMemoryAndIsReadWhereItLies) {
  QImage drawn(3, 2, QImage::Format_ARGB32_Premultiplied);
  drawn.fill(0xff336699);
  drawn.setPixel(2, 1, 0xffff0000);
  std::shared_ptr<host::wire::Descriptor> memory;
  const auto body = host::wire::pictureInMemory(std::make_shared<const CGImage>(drawn), memory);
  ASSERT_TRUE(memory);
  EXPECT_FALSE(body.contains("px")) << "the pixels are not in the message";
  const CGImageRef picture = host::wire::pictureFrom(body, memory.get());
  memory.reset();  // the picture keeps its pixels mapped
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->pixel(0, 0), 0xff336699u);
  EXPECT_EQ(picture->pixel(2, 1), 0xffff0000u);
  EXPECT_TRUE(inMemoryNamed(picture->qimage().constBits(), "trelliq-picture")) << "read where it lies, not copied";

  // Memory its sender could still write is no picture to keep.
  const int fd = ::memfd_create("open", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  ASSERT_EQ(::ftruncate(fd, 24), 0);
  ASSERT_EQ(::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
  const host::wire::Descriptor writable(fd);
  EXPECT_THROW(host::wire::pictureFrom(body, &writable), host::wire::BadValue);
}

// A capture drawn once into a window need not stay in the program's memory: its pages go
// back, and its pixels are still there when read again.
TEST(WireTest, ASharedPictureGivesBackThePagesItsReadingTook) {
  QImage drawn(256, 256, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x) drawn.setPixel(x, y, 0xff000000u | static_cast<unsigned>(x * 256 + y));
  std::shared_ptr<host::wire::Descriptor> memory;
  const auto body = host::wire::pictureInMemory(std::make_shared<const CGImage>(drawn), memory);
  const CGImageRef picture = host::wire::pictureFrom(body, memory.get());
  ASSERT_TRUE(picture);
  const void* bits = picture->qimage().constBits();
  EXPECT_TRUE(picture->samePixels(CGImage(drawn)));
  EXPECT_GE(residentKilobytes(bits), 200) << "read, its pages are this program's";
  picture->releaseReadPages();
  EXPECT_EQ(residentKilobytes(bits), 0);
  EXPECT_TRUE(picture->samePixels(CGImage(drawn))) << "the pixels stay in the shared memory";

  CGImage ownPixels(drawn);
  ownPixels.releaseReadPages();  // a picture of this program's own keeps its pixels
  EXPECT_TRUE(ownPixels.samePixels(CGImage(drawn)));
}
