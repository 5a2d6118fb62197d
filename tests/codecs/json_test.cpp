// The JSON codec: what each text reads to, every error code with its message and offset, the
// nesting limit, and what each value writes to and reads back as.
#include "codecs/json.h"

#include <gtest/gtest.h>
#include <rapidjson/error/en.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "binding/registry.h"
#include "binding/static_type.h"
#include "support/describe.h"
#include "support/inputs.h"
#include "support/values.h"
#include "util/format.h"

namespace Vexa::JsonTest {
enum class Verdict : int32_t { Passed = 1, Failed = 3 };
VEXA_STATIC_TYPE(Verdict, "enum Vexa::JsonTest::Verdict");
}  // namespace Vexa::JsonTest

namespace {

using namespace Vexa;
using namespace Vexa::Testing;

// Reads `text` through all three forms (C string, string, and a view of a buffer of exactly its
// size, which the sanitizer build watches for reads past the end) and checks they agree.
BindingResult Parse(const std::string& text) {
  BindingResult terminated = ParseJson(text);
  const auto exact = ExactCopy(text);
  const BindingResult bounded = ParseJson(std::string_view(exact.get(), text.size()));
  EXPECT_EQ(Outcome(bounded), Outcome(terminated)) << text;
  EXPECT_EQ(Outcome(ParseJson(text.c_str())), Outcome(terminated)) << text;
  return terminated;
}

std::string Error(unsigned code, std::size_t offset) {
  return Format("error: Error: %1 at offset %2.", JsonParseErrorText(code), offset);
}

// Rows "text => expected": the value's dump, or "error: " and the message.
void ExpectReads(const std::vector<std::string>& rows) {
  for (const std::string& row : rows) {
    const auto [text, expected] = Sides(row);
    EXPECT_EQ(Outcome(Parse(text)), expected) << text.substr(0, 40);
  }
}

// Integers with a minus sign are signed, without one unsigned, anything else a float. A repeated
// key addresses its member again: a scalar replaces, null keeps, objects merge, arrays append.
// An escaped NUL ends a text; a lone low surrogate is stored encoded; bytes are not checked.
TEST(JsonRead, EachTextGivesItsValue) {
  // clang-format off
  ExpectReads({" => ~", " \t\r\n  => ~", "null => ~", "true => true", "-1 => S-1", "0 => U0",
               "-2147483649 => S-2147483649", "18446744073709551615 => U18446744073709551615",
               "18446744073709551616 => F1.8446744073709552e+19", "1.0 => F1", "-1E-2 => F-0.01",
               "1.7976931348623158e308 => F1.7976931348623157e+308",  // rounds to the largest
               "[null, 1] => [~,U1]",
               R"({"b":1,"a":{"y":[true],"x":"s"}} => {a:{x:'s',y:[true]},b:U1})",
               R"({"a":1,"a":2} => {a:U2})", R"({"a":1,"a":null} => {a:U1})",
               R"({"a":{"x":1},"a":{"y":2}} => {a:{x:U1,y:U2}})",
               R"({"a":[1],"a":[2]} => {a:[U1,U2]})",
               R"({"a":[1],"a":{"y":2}} => {a:{y:U2}})",
               R"(["\"\\\/\b\f\n\r\t", "\u00e9\ud83d\ude00", "\uDC00"] => )"
                   "['\"\\/\b\f\n\r\t','\xC3\xA9\xF0\x9F\x98\x80','\xED\xB0\x80']",
               R"({"k\u0000ey":"ab\u0000cd"} => {k:'ab'})", "[\"\xFF\xC3(\"] => ['\xFF\xC3(']"});
  // clang-format on
  // The text ends at its first NUL, or at the end of the view.
  EXPECT_EQ(Outcome(ParseJson(std::string("[1]\0 x", 6))), "[U1]");
  EXPECT_EQ(Outcome(ParseJson(std::string_view("[1,2]", 4))), Error(7, 4));
  EXPECT_EQ(Outcome(ParseJson(static_cast<const char*>(nullptr))), "~");
}

TEST(JsonRead, EveryErrorQuotesItsCodeTextAndOffset) {
  // clang-format off
  ExpectReads({"1 2 => " + Error(2, 2), "{} x => " + Error(2, 3), "nul => " + Error(3, 3),
               "[1,] => " + Error(3, 3), "{,} => " + Error(4, 1), R"({"a":1,} => )" + Error(4, 7),
               R"({"a" 1} => )" + Error(5, 5), R"({"a":1 2} => )" + Error(6, 7),
               "[1 2] => " + Error(7, 3),
               R"("\u12G4" => )" + Error(8, 1), R"("ab\uD800\u0041" => )" + Error(9, 3),
               R"("\x" => )" + Error(10, 1), "\"a\x01z\" => " + Error(10, 2),
               "\"abc => " + Error(11, 4),
               "[1e309] => " + Error(13, 1), "1.x => " + Error(14, 2), "1E-x => " + Error(15, 3),
               // Beyond the double range, where the reader's own arithmetic gives infinity.
               "9e308 => " + Error(13, 0), "[1,2057060051e300] => " + Error(13, 3),
               R"({"a":-1.7976931348623158e309} => )" + Error(13, 5)});
  // clang-format on
  // The texts are RapidJSON's English table, but for code 2, which keeps the system's wording.
  for (unsigned code = 0; code <= 17; ++code) {
    const char* text = rapidjson::GetParseError_En(static_cast<rapidjson::ParseErrorCode>(code));
    EXPECT_STREQ(JsonParseErrorText(code),
                 code == 2 ? "The document root must not follow by other values." : text);
  }
  EXPECT_STREQ(JsonParseErrorText(18), "Unknown error.");
  // Every proper prefix of a document fails cleanly, at an offset inside the prefix.
  const std::string document =
      R"({"name":"Ada \"L\" \u00e9\ud83d\ude00","n":[-1,2.5e-3,true,false,null],"o":{"":{}}})";
  ASSERT_TRUE(Parse(document).Ok());
  for (std::size_t length = 1; length < document.size(); ++length) {
    const std::string message(Parse(document.substr(0, length)).ErrorText());
    const std::size_t at = message.rfind(" at offset ");
    ASSERT_TRUE(message.starts_with("Error: ") && at != std::string::npos) << length;
    EXPECT_LE(std::stoul(message.substr(at + 11)), length) << message;
  }
}

// The handler refuses the first level past the limit, which stops the reader there: the
// offset is just after the bracket that went too deep.
TEST(JsonRead, NestingStopsJustPastTheLimit) {
  EXPECT_EQ(Outcome(Parse(std::string(1000000, '['))), Error(16, 513));
}

// Short texts are read from a copy on the stack, longer ones from one on the heap: texts on
// both sides of the boundary read whole (the sanitizer build watches both copies).
TEST(JsonRead, TextsAroundTheStackCopyReadWhole) {
  for (const std::size_t length : {510, 511, 512, 513}) {
    const std::string letters(length - 2, 'a');
    EXPECT_EQ(Outcome(Parse('"' + letters + '"')), "'" + letters + "'") << length;
  }
}

TEST(JsonWrite, EachValueGivesItsCompactText) {
  const double infinity = std::numeric_limits<double>::infinity();
  const std::pair<BindingProperty, std::string> cases[] = {
      {Empty(), ""},
      {Collection({Empty(), true, -5, 0u}), "[null,true,-5,0]"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      {std::numeric_limits<uint64_t>::max(), "18446744073709551615"},
      // Floats as the writer forms them, not always the shortest (1e23); those without a JSON
      // form are null.
      {Collection({0.1, 1.0, -0.0, 1e300, 1e23, std::nan(""), -infinity, infinity, 2}),
       "[0.1,1.0,-0.0,1e300,9.999999999999999e22,null,null,null,2]"},
      {std::string("q\" b\\ s/ \b\f\n\r\t\x01\x1F\x7F \xC3\xA9 \xFF"),
       "\"q\\\" b\\\\ s/ \\b\\f\\n\\r\\t\\u0001\\u001F\x7F \xC3\xA9 \xFF\""},
      {Collection({Blob({'a', 'b', 'c'}), Blob({}), Blob({0xFF, 0x00})}), R"(["YWJj","","/wA="])"},
      {Structure(
           {{"b", 1}, {"\xC3\xA9", 2}, {"ab", Collection({})}, {"B", Structure({})}, {"", ""}}),
       "{\"\":\"\",\"B\":{},\"ab\":[],\"b\":1,\"\xC3\xA9\":2}"}};
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(ToJson(value), text);
  }
}

// Appending keeps what the string held. The thread's buffer starts empty for every text, and
// one that a large text grew is given back and grown again for the next.
TEST(JsonWrite, AppendsAfterWhatTheStringHeld) {
  const std::string large(40000, 'x');
  const std::pair<BindingProperty, std::string> cases[] = {
      {Structure({{"a", "b"}}), R"({"a":"b"})"},
      {Empty(), ""},
      {large, '"' + large + '"'},
      {Collection({1u}), "[1]"},
      {large, '"' + large + '"'}};
  for (const auto& [value, text] : cases) {
    std::string out = "kept ";
    AppendJson(out, value);
    EXPECT_EQ(out, "kept " + text);
  }
}

// Everyday values come back equal; enumerators are written by name when the registry names
// them, else by number, and blobs as Base64: those come back as texts and numbers.
TEST(JsonRoundTrip, ValuesComeBackEqualOrAsTheirTexts) {
  const BindingProperty value = Structure(
      {{"signed", Collection({-1, std::numeric_limits<int64_t>::min()})},
       {"unsigned", Collection({0u, std::numeric_limits<uint64_t>::max()})},
       {"floats",
        Collection({0.5, 0.1, 99.99, 48.137154, -122.419416, 5e-324, 1.7976931348623157e308})},
       {"texts", Collection({"", "quote\" \\ / \b\f\n\r\t\x01", "\xE6\x97\xA5 \xF0\x9F\x98\x80"})},
       {"nested", Structure({{"deeper", Collection({Collection({}), Structure({})})}})},
       {"key \"quoted\" \xC3\xA9", Empty()}});
  const std::string written = ToJson(value);
  EXPECT_EQ(ParseJson(written).value, value) << written;
  Vexa::BindingRegistry registry;
  using JsonTest::Verdict;
  registry.RegisterType<Verdict>("Verdict").AddEnumerator("PASSED", 1).AddEnumerator("FAILED", 3);
  const BindingProperty enums = Structure({{"known", Enumerator(3, StaticTypeInfoOf<Verdict>())},
                                           {"unknown", Enumerator(-4, StaticTypeInfoOf<Verdict>())},
                                           {"blob", Blob({1, 2, 3, 4})}});
  EXPECT_EQ(ToJson(enums, &registry), R"({"blob":"AQIDBA==","known":"FAILED","unknown":-4})");
  EXPECT_EQ(ToJson(enums), R"({"blob":"AQIDBA==","known":3,"unknown":-4})");
  EXPECT_EQ(DumpOf(ParseJson(ToJson(enums)).value), "{blob:'AQIDBA==',known:U3,unknown:S-4}");
  // The benchmark documents: real-world escapes, texts and numbers, read, written and read again.
  for (const char* name : {"twitter.json", "citm_catalog.json", "canada.json"}) {
    std::ifstream file(std::string(VEXA_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    if (!file) {
      GTEST_SKIP() << "no benchmark data in " << VEXA_TEST_DATA_DIR;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const BindingResult first = ParseJson(text.str());
    ASSERT_TRUE(first.Ok()) << name << ": " << first.ErrorText();
    const BindingResult second = ParseJson(ToJson(first.value));
    ASSERT_TRUE(second.Ok()) << name << ": " << second.ErrorText();
    // canada's coordinates use all 17 digits, which the reader may round differently.
    if (std::string(name) != "canada.json") {
      EXPECT_EQ(second.value, first.value) << name;
    }
  }
}

}  // namespace
