#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/PlistValue.h"
#include "platform/sim/PlistCodec.h"

using platform::PlistArray;
using platform::PlistData;
using platform::PlistDate;
using platform::PlistDictionary;
using platform::PlistValue;

TEST(PlistValueTest, BooleansAreToldApartFromNumbersAndIntegerReadingOfRealsIsExact) {
  const PlistValue yes(true), one(1), real(1.0);
  EXPECT_EQ(yes.asBool(), true);
  EXPECT_EQ(one.asBool(), std::nullopt);
  EXPECT_EQ(real.asBool(), std::nullopt);

  // Every number has a Boolean value and counts as a number.
  EXPECT_EQ(one.numberBoolValue(), true);
  EXPECT_EQ(PlistValue(0.0).numberBoolValue(), false);
  EXPECT_EQ(PlistValue(-3).numberBoolValue(), true);
  EXPECT_TRUE(yes.isNumber());
  EXPECT_EQ(PlistValue("1").numberBoolValue(), std::nullopt);

  EXPECT_NE(yes, one);
  EXPECT_NE(one, real);
  EXPECT_EQ(yes.asInteger(), 1);

  EXPECT_EQ(PlistValue(3.0).asInteger(), 3);
  EXPECT_EQ(PlistValue(-2.0).asInteger(), -2);
  EXPECT_EQ(PlistValue(2.5).asInteger(), std::nullopt);
  EXPECT_EQ(PlistValue(1e300).asInteger(), std::nullopt);
  EXPECT_EQ(PlistValue(std::nan("")).asInteger(), std::nullopt);
  EXPECT_EQ(PlistValue(std::numeric_limits<double>::infinity()).asInteger(), std::nullopt);
  EXPECT_EQ(PlistValue("3").asInteger(), std::nullopt);
  EXPECT_EQ(PlistValue(7).asDouble(), 7.0);
}

TEST(PlistValueTest, AValueOfTheWrongTypeCountsAsMissing) {
  const PlistDictionary dict{{"name", "Dock"},
                             {"count", 5},
                             {"flag", true},
                             {"ratio", 0.5},
                             {"list", PlistArray{1, 2}},
                             {"nested", PlistDictionary{{"a", 1}}}};
  EXPECT_EQ(platform::stringEntry(dict, "name"), "Dock");
  EXPECT_EQ(platform::stringEntry(dict, "count"), std::nullopt);
  EXPECT_EQ(platform::integerEntry(dict, "count"), 5);
  EXPECT_EQ(platform::integerEntry(dict, "name"), std::nullopt);
  EXPECT_EQ(platform::integerEntry(dict, "ratio"), std::nullopt);
  EXPECT_EQ(platform::boolEntry(dict, "flag"), true);
  EXPECT_EQ(platform::boolEntry(dict, "count"), std::nullopt);
  EXPECT_EQ(platform::doubleEntry(dict, "count"), 5.0);
  EXPECT_EQ(platform::doubleEntry(dict, "list"), std::nullopt);
  EXPECT_EQ(platform::arrayEntry(dict, "nested"), nullptr);
  ASSERT_NE(platform::dictionaryEntry(dict, "nested"), nullptr);
  EXPECT_EQ(platform::dictionaryEntry(dict, "list"), nullptr);
  EXPECT_EQ(platform::stringEntry(dict, "absent"), std::nullopt);
  EXPECT_EQ(PlistValue(dict).find("count")->asInteger(), 5);
  EXPECT_EQ(PlistValue(5).find("count"), nullptr);
}

TEST(PlistValueTest, SeveralKeysReadInOneWalkAnswerAsSeparateLookUpsWould) {
  // Keys asked out of the dictionary's order, one that is a prefix of another, one asked
  // twice and one missing.
  const PlistDictionary dict{{"Width", 3.0}, {"X", 1}, {"XY", "two"}, {"Y", 2}, {"a", true}};
  const auto found = platform::entries<6>(dict, {"Y", "absent", "X", "Width", "X", "XY"});
  EXPECT_EQ(found[0], &dict.at("Y"));
  EXPECT_EQ(found[1], nullptr);
  EXPECT_EQ(found[2], &dict.at("X"));
  EXPECT_EQ(found[3], &dict.at("Width"));
  EXPECT_EQ(found[4], &dict.at("X"));
  EXPECT_EQ(found[5], &dict.at("XY"));
  // An empty dictionary, and a key differing from a present one only in case.
  EXPECT_EQ(platform::entries<1>(PlistDictionary{}, {"X"})[0], nullptr);
  EXPECT_EQ(platform::entries<1>(dict, {"x"})[0], nullptr);
}

TEST(PlistValueTest, CopiesAreIndependentAndCompareDeeply) {
  PlistDictionary inner{{"x", 1}};
  PlistValue a(PlistDictionary{{"inner", inner}});
  PlistValue b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, PlistValue(PlistDictionary{{"inner", PlistDictionary{{"x", 1}}}}));
  EXPECT_NE(a, PlistValue(PlistDictionary{{"inner", PlistDictionary{{"x", true}}}}));
  EXPECT_EQ(PlistValue(true).describe(), "true");
  EXPECT_EQ(PlistValue(1).describe(), "1");
  EXPECT_EQ(PlistValue(1.0).describe(), "1.0");
}

PlistDictionary everyKind() {
  return PlistDictionary{
      {"bool", false},
      {"int", -42},
      {"max", std::numeric_limits<long long>::max()},
      {"min", std::numeric_limits<long long>::min()},
      {"real", 0.1},
      {"string", "Grüße, \"quoted\" <tag> & more"},
      {"data", PlistData{0, 1, 2, 255, 0}},
      {"date", PlistDate{1767225600.25}},
      {"array", PlistArray{true, 1, "two", PlistArray{}}},
      {"dict", PlistDictionary{{"empty", PlistDictionary{}}, {"one", 1}}},
  };
}

TEST(PlistCodecTest, BothFormsKeepEveryTypeAndValue) {
  const PlistValue original(everyKind());
  auto fromBinary = sim::decodePlist(sim::encodeBinaryPlist(original));
  ASSERT_TRUE(fromBinary);
  EXPECT_EQ(*fromBinary, original) << fromBinary->describe();

  const std::string xml = sim::encodeXmlPlist(original);
  auto fromXml = sim::decodePlist(std::vector<std::uint8_t>(xml.begin(), xml.end()));
  ASSERT_TRUE(fromXml);
  // The XML form keeps dates to the second; everything else is exact.
  PlistDictionary expected = everyKind();
  expected["date"] = PlistDate{1767225600};
  PlistDictionary got = *fromXml->asDictionary();
  got["date"] = PlistDate{std::floor(got["date"].asDate()->secondsSince1970)};
  EXPECT_EQ(PlistValue(got), PlistValue(expected)) << fromXml->describe();
  // A stored Boolean comes back as a Boolean, not as the number 0.
  EXPECT_TRUE(got["bool"].isBool());
}

TEST(PlistCodecTest, WhatIsNotAPropertyListIsRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(sim::decodePlist({}, &error));
  EXPECT_FALSE(error.empty());

  const std::string text = "this is not a property list";
  EXPECT_FALSE(sim::decodePlist(std::vector<std::uint8_t>(text.begin(), text.end()), &error));

  auto binary = sim::encodeBinaryPlist(PlistValue(everyKind()));
  binary.resize(binary.size() / 2);
  EXPECT_FALSE(sim::decodePlist(binary, &error));

  const std::string halfXml = sim::encodeXmlPlist(PlistValue(everyKind())).substr(0, 120);
  EXPECT_FALSE(sim::decodePlist(std::vector<std::uint8_t>(halfXml.begin(), halfXml.end()), &error));
}
