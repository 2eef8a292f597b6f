// Property lists made to hurt the reader: shared references that stand for an enormous
// tree, self-reference, nesting that would exhaust the stack. Each is refused before any
// tree is built, while ordinary sharing and nesting still read.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/PlistCodec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBigEndian(Bytes& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A binary property list of the given objects (each already encoded, references
// `refSize` bytes wide), the first one at the top.
Bytes binaryPlist(const std::vector<Bytes>& objects, std::size_t refSize) {
  Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint64_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  const std::uint64_t table = out.size();
  const std::size_t offsetSize = table < 0x100 ? 1 : table < 0x10000 ? 2 : 4;
  for (std::uint64_t offset : offsets) putBigEndian(out, offset, offsetSize);
  for (int i = 0; i < 6; ++i) out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(offsetSize));
  out.push_back(static_cast<std::uint8_t>(refSize));
  putBigEndian(out, objects.size(), 8);
  putBigEndian(out, 0, 8);
  putBigEndian(out, table, 8);
  return out;
}

// An array object holding the given references.
Bytes array(const std::vector<std::uint64_t>& refs, std::size_t refSize) {
  Bytes out;
  if (refs.size() < 15) {
    out.push_back(static_cast<std::uint8_t>(0xA0 | refs.size()));
  } else {
    out.push_back(0xAF);
    out.push_back(0x11);
    putBigEndian(out, refs.size(), 2);
  }
  for (std::uint64_t ref : refs) putBigEndian(out, ref, refSize);
  return out;
}

// `levels` arrays, each holding the next one `width` times, above one integer: a file of
// a few bytes per level that stands for width^levels values.
Bytes sharedLevels(int levels, int width, std::size_t refSize = 1) {
  std::vector<Bytes> objects;
  for (int i = 0; i < levels; ++i) objects.push_back(array(std::vector<std::uint64_t>(width, i + 1), refSize));
  objects.push_back(Bytes{0x10, 0x07});
  return binaryPlist(objects, refSize);
}

Bytes nestedXml(int depth) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
  for (int i = 0; i < depth; ++i) text += "<array>";
  text += "<integer>1</integer>";
  for (int i = 0; i < depth; ++i) text += "</array>";
  text += "</plist>\n";
  return {text.begin(), text.end()};
}

// One chain of arrays `deep` levels deep, first reached just below the top, then again at
// the foot of a second chain `above` levels deep: never on the walk's stack together, but
// a tree of `deep` + `above` levels once built.
Bytes chainUnderChain(int deep, int above) {
  const std::uint64_t deepTop = 1, value = deepTop + deep, aboveTop = value + 1;
  std::vector<Bytes> objects{array({deepTop, aboveTop}, 2)};
  for (std::uint64_t i = deepTop; i < value; ++i) objects.push_back(array({i + 1}, 2));
  objects.push_back(Bytes{0x10, 0x07});
  for (std::uint64_t i = aboveTop; i + 1 < aboveTop + above; ++i) objects.push_back(array({i + 1}, 2));
  objects.push_back(array({deepTop}, 2));
  return binaryPlist(objects, 2);
}

struct Refused {
  const char* what;
  Bytes bytes;
  const char* reason;
};

TEST(HostilePlistTest, TreesBeyondTheLimitsAreRefusedBeforeTheyAreBuilt) {
  std::string entities =
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
      "<plist><string>&b;</string></plist>";
  const std::string nulKey = "<?xml version=\"1.0\"?><plist><dict><key>a&#x00;b</key><true/></dict></plist>";
  const Refused rows[] = {
      // 376 bytes standing for 2^40 values.
      {"forty levels shared twice each", sharedLevels(40, 2), "too many values"},
      {"a million and more values", sharedLevels(3, 101), "too many values"},
      {"an array inside itself", binaryPlist({array({0}, 1)}, 1), "refers to itself"},
      {"a loop through two arrays", binaryPlist({array({1}, 1), array({0}, 1)}, 1), "refers to itself"},
      {"binary nested 100,000 deep", sharedLevels(100000, 1, 4), "nested too deeply"},
      {"binary nested 257 deep", sharedLevels(257, 1, 2), "nested too deeply"},
      {"a chain 200 deep shared under one 100 deep", chainUnderChain(200, 100), "nested too deeply"},
      {"XML nested 200,000 deep", nestedXml(200000), "nested too deeply"},
      {"XML entity declarations", Bytes(entities.begin(), entities.end()), "entities"},
      {"a reference past the last object", binaryPlist({array({5}, 1)}, 1), "damaged"},
      // The library stops the whole program on a key with a NUL in it.
      {"a binary key with a NUL inside", binaryPlist({Bytes{0xD1, 1, 2}, Bytes{0x53, 'a', 0, 'b'}, Bytes{0x10, 1}}, 1),
       "damaged"},
      {"an XML key with a NUL inside", Bytes(nulKey.begin(), nulKey.end()), "not a property list"},
  };
  for (const Refused& row : rows) {
    std::string error;
    EXPECT_FALSE(sim::decodePlist(row.bytes, &error)) << row.what;
    EXPECT_NE(error.find(row.reason), std::string::npos) << row.what << ": " << error;
  }
}

TEST(HostilePlistTest, SharingAndNestingWithinTheLimitsStillRead) {
  // 2^12 values from a few dozen bytes: sharing itself is allowed.
  const auto shared = sim::decodePlist(sharedLevels(12, 2));
  ASSERT_TRUE(shared);
  const platform::PlistValue* inner = &*shared;
  for (int level = 0; level < 12; ++level) {
    ASSERT_TRUE(inner->asArray() && inner->asArray()->size() == 2u) << level;
    inner = &inner->asArray()->at(1);
  }
  EXPECT_EQ(*inner, platform::PlistValue(7));

  const auto deepBinary = sim::decodePlist(sharedLevels(255, 1, 2));
  EXPECT_TRUE(deepBinary);
  const auto deepXml = sim::decodePlist(nestedXml(255));
  EXPECT_TRUE(deepXml);
}

}  // namespace

namespace {

// Mutated copies of real files, a bounded number of them with a fixed seed: whatever the
// bytes, the reader answers a value or a reason, and never more than the limits allow.
TEST(HostilePlistTest, MutatedFilesAreReadOrRefusedNeverACrash) {
  platform::PlistDictionary sample{{"tiles", "windows"},
                                   {"count", 7},
                                   {"ratio", 0.5},
                                   {"flag", true},
                                   {"names", platform::PlistDictionary{{"desktop/1", "Work"}, {"desktop/2", "Play"}}},
                                   {"list", platform::PlistArray{1, "two", platform::PlistArray{3.0, false}}},
                                   {"blob", platform::PlistData{0, 1, 2, 3}}};
  const Bytes binary = sim::encodeBinaryPlist(platform::PlistValue(sample));
  const std::string xmlText = sim::encodeXmlPlist(platform::PlistValue(sample));
  const Bytes xml(xmlText.begin(), xmlText.end());
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  int read = 0, refused = 0;
  for (const Bytes* original : {&binary, &xml}) {
    for (int round = 0; round < 3000; ++round) {
      Bytes bytes = *original;
      const int changes = 1 + static_cast<int>(next() % 4);
      for (int c = 0; c < changes; ++c) {
        const std::size_t at = next() % bytes.size();
        switch (next() % 3) {
          case 0:
            bytes[at] = static_cast<std::uint8_t>(next());
            break;
          case 1:
            bytes[at] ^= static_cast<std::uint8_t>(1u << (next() % 8));
            break;
          default:
            bytes.resize(std::max<std::size_t>(at, 1));
            break;
        }
      }
      std::string error;
      if (sim::decodePlist(bytes, &error)) {
        ++read;
      } else {
        ++refused;
        EXPECT_FALSE(error.empty());
      }
    }
  }
  EXPECT_GT(read, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace

namespace {

std::uint64_t xorshift(std::uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

std::size_t depthOf(const platform::PlistValue& value) {
  std::size_t deepest = 0;
  if (const auto* items = value.asArray()) {
    for (const auto& item : *items) deepest = std::max(deepest, depthOf(item));
    return deepest + 1;
  }
  if (const auto* entries = value.asDictionary()) {
    for (const auto& [key, item] : *entries) deepest = std::max(deepest, depthOf(item));
    return deepest + 1;
  }
  return 0;
}

Bytes bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Constructs a reader must step over whole, each holding what a careless one would take
// for its end or for markup.
const char* const kNoise[] = {"<!-- ?> <![CDATA[ -->", "<?pi > <!-- ?>", "<!-- <array> -->", "<?x <dict> ?>", "\n\t "};

// Nesting hidden behind every construct: what counts is what the file really opens.
TEST(HostilePlistTest, NestingBehindCommentsInstructionsCdataOrADoctypeIsCountedAsItReallyIs) {
  std::string arrays;
  for (int i = 0; i < 200000; ++i) arrays += "<array>";
  const std::string head = "<?xml version=\"1.0\"?>";
  const std::vector<std::pair<std::string, const char*>> refused = {
      {head + "<plist><?x > <!-- ?>" + arrays + "-->", "nested too deeply"},
      {head + "<plist><!-- <?x -->" + arrays, "nested too deeply"},
      {head + "<plist><array><string><![CDATA[ <!-- ]]></string>" + arrays, "nested too deeply"},
      {head + "<!DOCTYPE plist SYSTEM \"a>b\"><plist>" + arrays, "nested too deeply"},
      {head + "<!DOCTYPE plist [<!ENTITY a \"" + arrays + "\">]><plist>&a;</plist>", "entities"},
  };
  for (const auto& [text, reason] : refused) {
    std::string error;
    EXPECT_FALSE(sim::decodePlist(bytesOf(text), &error)) << text.substr(0, 80);
    EXPECT_NE(error.find(reason), std::string::npos) << text.substr(0, 80) << ": " << error;
  }
  // The same markup inside a construct is no nesting at all.
  for (const std::string& text :
       {head + "<plist><?x " + arrays + "?><true/></plist>", head + "<plist><!-- " + arrays + " --><true/></plist>",
        head + "<plist><string><![CDATA[" + arrays + "]]></string></plist>"}) {
    const auto value = sim::decodePlist(bytesOf(text));
    ASSERT_TRUE(value) << text.substr(0, 80);
    EXPECT_EQ(depthOf(*value), 0u);
  }
}

// Files of a known depth near the limit, with noise between their tags and then, for half
// of them, a few bytes changed: an intact file is read exactly when its depth is within the
// limit, and nothing read is ever deeper than the limit.
TEST(HostilePlistTest, FuzzedNestingNeverReadsDeeperThanTheLimit) {
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  int read = 0, tooDeep = 0;
  for (int round = 0; round < 600; ++round) {
    const std::size_t depth = 250 + xorshift(state) % 12;
    std::string text = "<?xml version=\"1.0\"?>";
    if (xorshift(state) % 2) text += "<!DOCTYPE plist PUBLIC \"-//x//DTD PLIST 1.0//EN\" \"a>b\">";
    text += "<plist version=\"1.0\">";
    auto noise = [&] {
      if (xorshift(state) % 3 == 0) text += kNoise[xorshift(state) % std::size(kNoise)];
    };
    for (std::size_t level = 0; level < depth; ++level) {
      noise();
      text += level % 2 ? "<dict><key>k</key>" : "<array>";
    }
    noise();
    text += "<string><![CDATA[<dict>]]></string>";
    for (std::size_t level = depth; level-- > 0;) {
      noise();
      text += level % 2 ? "</dict>" : "</array>";
    }
    text += "</plist>";
    Bytes bytes = bytesOf(text);
    const bool intact = round % 2 == 0;
    if (!intact) {
      for (int c = 0; c < 3; ++c) bytes[xorshift(state) % bytes.size()] = static_cast<std::uint8_t>(xorshift(state));
    }
    std::string error;
    const auto value = sim::decodePlist(bytes, &error);
    if (value) {
      ++read;
      EXPECT_LE(depthOf(*value), 256u) << text.substr(0, 200);
    }
    if (intact) {
      EXPECT_EQ(value.has_value(), depth <= 256) << depth << ": " << error;
      if (value) {
        EXPECT_EQ(depthOf(*value), depth);
      } else {
        ++tooDeep;
        EXPECT_NE(error.find("too deeply"), std::string::npos) << error;
      }
    }
  }
  EXPECT_GT(read, 0);
  EXPECT_GT(tooDeep, 0);
}

// What the writer makes, the reader reads back as it was, noise between the tags or not.
TEST(HostilePlistTest, TheXmlReaderReadsWhatTheWriterWrites) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  const std::function<platform::PlistValue(int)> make = [&](int level) -> platform::PlistValue {
    switch (xorshift(state) % (level > 3 ? 7 : 9)) {
      case 0:
        return static_cast<long long>(xorshift(state));
      case 1:
        return static_cast<double>(static_cast<std::int64_t>(xorshift(state) % 2001) - 1000) / 8;
      case 2:
        return std::string("a <b> & \"c\" ]]> é ✓ ") + std::to_string(xorshift(state) % 100);
      case 3:
        return xorshift(state) % 2 == 0;
      case 4:
        return platform::PlistDate{978307200.0 + static_cast<double>(xorshift(state) % 1'000'000'000)};
      case 5: {
        platform::PlistData data(xorshift(state) % 70);
        for (auto& b : data) b = static_cast<std::uint8_t>(xorshift(state));
        return data;
      }
      case 6:
        return std::string();
      case 7: {
        platform::PlistArray items;
        for (std::uint64_t n = xorshift(state) % 4; n > 0; --n) items.push_back(make(level + 1));
        return items;
      }
      default: {
        platform::PlistDictionary entries;
        for (std::uint64_t n = xorshift(state) % 4; n > 0; --n) entries["key " + std::to_string(n)] = make(level + 1);
        return entries;
      }
    }
  };
  for (int round = 0; round < 200; ++round) {
    platform::PlistDictionary top{{"value", make(0)}};
    const platform::PlistValue original(top);
    std::string text = sim::encodeXmlPlist(original);
    ASSERT_FALSE(text.empty());
    if (round % 2) {
      // Comments and instructions before each tag but the document's own.
      for (std::size_t at = text.find("<plist"); (at = text.find('<', at + 1)) != std::string::npos;) {
        if (text.compare(at, 2, "</") == 0 && xorshift(state) % 2) continue;
        const std::string noise = kNoise[xorshift(state) % 2 ? 2 : 3];
        text.insert(at, noise);
        at += noise.size();
      }
    }
    std::string error;
    const auto back = sim::decodePlist(bytesOf(text), &error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(*back, original) << text;
  }
}

}  // namespace
