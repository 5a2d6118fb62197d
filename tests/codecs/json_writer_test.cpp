#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "binding/registry.h"
#include "binding/static_type.h"
#include "codec_test_support.h"
#include "codecs/json.h"

namespace Vexa::JsonWriterTest {
enum class Outcome : int32_t { Succeeded = 1, Failed = 3 };
VEXA_STATIC_TYPE(Outcome, "enum Vexa::JsonWriterTest::Outcome");
enum class Unregistered : int32_t { One = 1 };
VEXA_STATIC_TYPE(Unregistered, "enum Vexa::JsonWriterTest::Unregistered");
}  // namespace Vexa::JsonWriterTest

namespace {

using Vexa::BindingBlob;
using Vexa::BindingProperty;
using Vexa::BindingResult;
using Vexa::ParseJson;
using Vexa::StaticTypeInfoOf;
using Vexa::ToJson;
using Vexa::JsonWriterTest::Outcome;
using Vexa::JsonWriterTest::Unregistered;
using Vexa::Testing::DumpOf;

// RapidJSON's writer on one double: the oracle for the number texts.
std::string OracleDouble(double value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.Double(value);
  return buffer.GetString();
}

BindingProperty ListOf(std::initializer_list<BindingProperty> elements) {
  BindingProperty list;
  list.MakeCollection();
  for (const BindingProperty& element : elements) {
    list.Append() = element;
  }
  return list;
}

BindingProperty RecordOf(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> members) {
  BindingProperty record;
  record.MakeStructure();
  for (const auto& [key, member] : members) {
    record.Member(key) = member;
  }
  return record;
}

BindingProperty BlobOf(BindingBlob bytes) {
  BindingProperty blob;
  blob.SetBlob(std::move(bytes));
  return blob;
}

struct Case {
  BindingProperty value;
  std::string text;
};

TEST(JsonWrite, EachValueGivesItsCompactText) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      // An empty root is the empty text, a nested empty value null.
      Case{BindingProperty(), ""}, Case{ListOf({BindingProperty()}), "[null]"},
      Case{RecordOf({{"a", BindingProperty()}}), R"({"a":null})"}, Case{true, "true"},
      Case{false, "false"}, Case{-5, "-5"},
      Case{std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      Case{std::numeric_limits<uint64_t>::max(), "18446744073709551615"}, Case{0u, "0"},
      Case{"text", R"("text")"}, Case{"", R"("")"},
      // Floats in their shortest form; those without a JSON form are null (the default writer
      // refuses NaN and infinities and would leave a dangling comma).
      Case{0.1, "0.1"}, Case{1.0, "1.0"}, Case{-0.0, "-0.0"}, Case{48.137154, "48.137154"},
      Case{1e300, "1e300"}, Case{1.0 / 3.0, "0.3333333333333333"}, Case{nan, "null"},
      Case{ListOf({1, nan, -infinity, infinity, 2}), "[1,null,null,null,2]"},
      // Strings with the reader's escaping; everything else, "/" and bytes from 0x80, copied.
      Case{std::string("quote\" backslash\\ slash/ \b\f\n\r\t") + std::string("\x01\x1F\x7F", 3) +
               " \xC3\xA9 \xFF",
           "\"quote\\\" backslash\\\\ slash/ \\b\\f\\n\\r\\t\\u0001\\u001F\x7F \xC3\xA9 \xFF\""},
      // Blobs as Base64 strings.
      Case{BlobOf({'a', 'b', 'c'}), R"("YWJj")"}, Case{BlobOf({}), R"("")"},
      Case{ListOf({BlobOf({0xFF, 0x00})}), R"(["/wA="])"},
      // Containers compact, with members in byte order.
      Case{RecordOf({{"b", 1}, {"\xC3\xA9", 2}, {"ab", 3}, {"B", 4}, {"a", 5}, {"", RecordOf({})}}),
           "{\"\":{},\"B\":4,\"a\":5,\"ab\":3,\"b\":1,\"\xC3\xA9\":2}"},
      Case{ListOf({1, "x", ListOf({}), true}), R"([1,"x",[],true])"}, Case{RecordOf({}), "{}"},
      Case{ListOf({}), "[]"}};
  for (const Case& item : cases) {
    SCOPED_TRACE(item.text);
    EXPECT_EQ(ToJson(item.value), item.text);
  }
  EXPECT_TRUE(ParseJson(ToJson(ListOf({nan, 1}))).Ok());
}

TEST(JsonRoundTrip, ValuesOfEveryJsonKindComeBackEqual) {
  BindingProperty value = RecordOf({
      {"empty", BindingProperty()},
      {"flags", ListOf({true, false})},
      {"signed", ListOf({-1, std::numeric_limits<int64_t>::min(), -4294967296LL})},
      {"unsigned", ListOf({0u, 1u, std::numeric_limits<uint64_t>::max(), 4294967296ULL})},
      // Everyday floats (coordinates, amounts, whole numbers) and the extremes come back exactly.
      {"floats", ListOf({0.5, -2.25, 0.1, 0.2, 0.3, 99.99, 123456.789, 3.14159265358979, -0.0})},
      {"coordinates", ListOf({48.137154, 11.576124, -122.419416, -1e-7, 1.5e-7})},
      {"extremes",
       ListOf({1e15, 1e21, 1e300, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308})},
      {"texts",
       ListOf({"", "plain", "quote\" and \\ and / and \b\f\n\r\t", std::string("\x01\x1F", 2),
               "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC"})},
      {"containers", ListOf({ListOf({}), ListOf({ListOf({})}), RecordOf({})})},
      {"nested", RecordOf({{"deeper", RecordOf({{"deepest", "x"}})}})},
      {"key with \"quotes\" and \xC3\xA9", 1u},
  });
  const std::string written = ToJson(value);
  const BindingResult read = ParseJson(written);
  ASSERT_TRUE(read.Ok()) << read.ErrorText();
  EXPECT_EQ(read.value, value) << written;
  EXPECT_EQ(ToJson(read.value), written);
}

// Enumerators are written by name when the registry names them, else by number; blobs as
// Base64. Both come back as those texts or numbers. JSON carries no sign for non-negative
// integers, so the reader makes them unsigned.
TEST(JsonRoundTrip, SomeKindsComeBackAsOthers) {
  Vexa::BindingRegistry registry;
  registry.RegisterType<Outcome>("Outcome")
      .AddEnumerator("SUCCEEDED", 1)
      .AddEnumerator("FAILED", 3);
  BindingProperty value = RecordOf({{"blob", BlobOf({1, 2, 3, 4})}});
  value.Member("known").SetEnum(3, StaticTypeInfoOf<Outcome>());
  value.Member("unknown").SetEnum(2, StaticTypeInfoOf<Outcome>());
  value.Member("unregistered").SetEnum(1, StaticTypeInfoOf<Unregistered>());
  value.Member("negative").SetEnum(-4, StaticTypeInfoOf<Outcome>());
  const std::string named = ToJson(value, &registry);
  EXPECT_EQ(named,
            R"({"blob":"AQIDBA==","known":"FAILED","negative":-4,"unknown":2,"unregistered":1})");
  EXPECT_EQ(ToJson(value),
            R"({"blob":"AQIDBA==","known":3,"negative":-4,"unknown":2,"unregistered":1})");
  EXPECT_EQ(DumpOf(ParseJson(named).value),
            "{blob:'AQIDBA==',known:'FAILED',negative:S-4,unknown:U2,unregistered:U1}");
  EXPECT_EQ(DumpOf(ParseJson(ToJson(ListOf({0, 7, -7}))).value), "[U0,U7,S-7]");
}

// Any finite double is written as RapidJSON's own writer puts it. The reader's default mode
// scales decimal significands by powers of ten in double arithmetic, and the writer's shortest
// form occasionally needs all 17 digits: such numbers may come back a unit or two off in the
// last place (everyday numbers come back exactly, see above).
TEST(JsonRoundTrip, AnyFloatIsWrittenAsRapidJsonDoesAndComesBackWithinTwoUnits) {
  auto order = [](double value) {
    int64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
  };
  std::mt19937_64 random(11);
  for (int round = 0; round < 5000; ++round) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) {
      continue;
    }
    const std::string written = ToJson(BindingProperty(value));
    ASSERT_EQ(written, OracleDouble(value));
    const BindingResult read = ParseJson(written);
    ASSERT_TRUE(read.Ok());
    EXPECT_LE(std::llabs(order(read.value.GetFloat()) - order(value)), 2) << written;
  }
}

// The benchmark documents: real-world text with escapes, non-ASCII text and numbers of every
// kind. Read, written and read again, they must give the same value.
TEST(JsonRoundTrip, PublicDocumentsSurviveWriteAndRead) {
  for (const char* name : {"twitter.json", "citm_catalog.json", "canada.json"}) {
    std::ifstream file(std::string(VEXA_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    if (!file) {
      GTEST_SKIP() << "no benchmark data in " << VEXA_TEST_DATA_DIR;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const BindingResult first = ParseJson(text.str());
    ASSERT_TRUE(first.Ok()) << name << ": " << first.ErrorText();
    const std::string written = ToJson(first.value);
    const BindingResult second = ParseJson(written);
    ASSERT_TRUE(second.Ok()) << name << ": " << second.ErrorText();
    // canada's coordinates use all 17 digits, which the reader may round differently.
    if (std::string(name) != "canada.json") {
      EXPECT_EQ(second.value, first.value) << name;
      EXPECT_EQ(ToJson(second.value), written) << name;
    } else {
      EXPECT_EQ(second.value.Size(), first.value.Size());
    }
  }
}

}  // namespace
