#include "codecs/json.h"

#include <gtest/gtest.h>
#include <rapidjson/error/en.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "codec_test_support.h"
#include "util/format.h"

namespace {

using Vexa::BindingResult;
using Vexa::JsonParseErrorText;
using Vexa::ParseJson;
using Vexa::Testing::Outcome;

// Parses a copy of `text` in a buffer of exactly its size (no NUL after it), through the
// length-bounded form, so that a read past the end is caught by the address sanitizer.
BindingResult ParseExact(std::string_view text) {
  const auto exact = Vexa::Testing::ExactCopy(text);
  return ParseJson(std::string_view(exact.get(), text.size()));
}

// The message of a failed parse with `code` at `offset`.
std::string Message(unsigned code, std::size_t offset) {
  return Vexa::Format("Error: %1 at offset %2.", JsonParseErrorText(code), offset);
}

// Both reading forms (NUL-terminated and length-bounded) give the same answer; this checks
// that they do and returns one of them.
BindingResult Parse(const std::string& text) {
  BindingResult terminated = ParseJson(text);
  BindingResult bounded = ParseExact(text);
  EXPECT_EQ(terminated.Ok(), bounded.Ok()) << text;
  EXPECT_EQ(terminated.value, bounded.value) << text;
  EXPECT_EQ(ParseJson(text.c_str()).value, terminated.value) << text;
  return terminated;
}

struct Case {
  const char* text;
  const char* expected;  // the value's dump
};

// Integers with a minus sign are signed, those without unsigned, anything else a float. An empty
// document is an empty value and no error. A repeated key addresses the same member again: a
// scalar replaces, null keeps what the member holds, objects merge, arrays append, another kind
// replaces. Escapes are decoded, a surrogate pair is one character, a lone low surrogate is
// stored in its three-byte form, and an escaped NUL ends the stored text and key.
TEST(JsonRead, EachTextGivesItsValue) {
  const Case cases[] = {
      Case{"null", "~"}, Case{"true", "true"}, Case{"false", "false"}, Case{"-1", "S-1"},
      Case{"-0", "S0"}, Case{"0", "U0"}, Case{"1", "U1"}, Case{"4294967296", "U4294967296"},
      Case{"-2147483649", "S-2147483649"}, Case{"18446744073709551615", "U18446744073709551615"},
      Case{"18446744073709551616", "F1.8446744073709552e+19"},
      Case{"-9223372036854775808", "S-9223372036854775808"},
      Case{"-9223372036854775809", "F-9.2233720368547758e+18"}, Case{"1.0", "F1"},
      Case{"1e2", "F100"}, Case{"-1E-2", "F-0.01"}, Case{"-0.5", "F-0.5"},
      Case{"\"text\"", "'text'"}, Case{"[]", "[]"}, Case{"{}", "{}"},
      // White space, objects and repeated keys, strings.
      Case{"", "~"}, Case{"  \n", "~"}, Case{" \t\r\n ", "~"},
      Case{" \n[ 1 ,\t2 ]\r\n ", "[U1,U2]"}, Case{"[null, 1]", "[~,U1]"},
      Case{R"({"b":1,"a":{"y":[true],"x":"s"},"c":null})", "{a:{x:'s',y:[true]},b:U1,c:~}"},
      Case{R"({"a":1,"a":2})", "{a:U2}"}, Case{R"({"a":1,"a":null})", "{a:U1}"},
      Case{R"({"a":{"x":1},"a":{"y":2}})", "{a:{x:U1,y:U2}}"},
      Case{R"({"a":[1],"a":[2]})", "{a:[U1,U2]}"}, Case{R"({"a":[1],"a":{"y":2}})", "{a:{y:U2}}"},
      Case{R"({"a":{"x":1},"a":"s"})", "{a:'s'}"},
      Case{R"(["\"\\\/\b\f\n\r\t", "\u00e9\u20AC\ud83d\ude00", "é€😀", ""])",
           "['\"\\/\b\f\n\r\t','\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80',"
           "'\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80','']"},
      Case{R"({"k\u0000ey":"ab\u0000cd"})", "{k:'ab'}"},
      Case{R"("\uD834\uDD1E")", "'\xF0\x9D\x84\x9E'"}, Case{R"("\uDC00")", "'\xED\xB0\x80'"}};
  for (const Case& item : cases) {
    SCOPED_TRACE(item.text);
    EXPECT_EQ(Outcome(Parse(item.text)), item.expected);
  }
  EXPECT_EQ(Outcome(ParseJson(static_cast<const char*>(nullptr))), "~");
}

TEST(JsonRead, TheTextEndsAtItsFirstNulByteOrTheEndOfItsView) {
  const std::string withNul("[1]\0 this is never read", 23);
  EXPECT_EQ(Outcome(ParseJson(withNul)), "[U1]");
  EXPECT_EQ(Outcome(ParseExact(withNul)), "[U1]");
  // Cut before the value is complete: the reader sees the end of the text there.
  const std::string cut("[1,\0 2]", 7);
  EXPECT_EQ(ParseJson(cut).ErrorText(), Message(3, 3));
  EXPECT_EQ(ParseExact(cut).ErrorText(), Message(3, 3));
  EXPECT_EQ(Outcome(ParseExact(std::string_view("\0[", 2))), "~");
  // "[1,2" of a longer buffer: the bracket after the view is not part of the text.
  const std::string text = "[1,2]";
  EXPECT_EQ(ParseJson(std::string_view(text.data(), 4)).ErrorText(), Message(7, 4));
  EXPECT_EQ(Outcome(ParseJson(std::string_view("123", 2))), "U12");
}

// The default reader does not check that the bytes of strings are UTF-8: they are stored as
// they come and written back unchanged, so a payload in a legacy encoding passes through.
TEST(JsonRead, BytesOfInvalidUtf8AreKeptAsTheyAre) {
  const std::string text = "[\"\xFF\xFE\xC3(\xED\xA0\x80\xF8\x88\x80\x80\x80\"]";
  const BindingResult result = Parse(text);
  EXPECT_EQ(Outcome(result), "['\xFF\xFE\xC3(\xED\xA0\x80\xF8\x88\x80\x80\x80']");
  EXPECT_EQ(Vexa::ToJson(result.value), text);
}

struct ErrorCase {
  std::string text;
  unsigned code;
  std::size_t offset;
};

// Checks each failure's message and that only {"error": message} is kept of the value.
void ExpectErrors(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& item : cases) {
    SCOPED_TRACE(item.text.substr(0, 40));
    EXPECT_EQ(Outcome(Parse(item.text)), "error: " + Message(item.code, item.offset));
  }
}

TEST(JsonReadErrors, FailureQuotesTheCodeTextAndTheOffset) {
  ExpectErrors(
      {{"1 2", 2, 2},          {"{} x", 2, 3},       {"[1]]", 2, 3},       {"01", 2, 1},
       {"0x10", 2, 1},         {"nulll", 2, 4},      {"nul", 3, 3},        {"tru", 3, 3},
       {"fals", 3, 4},         {"x", 3, 0},          {"]", 3, 0},          {"-", 3, 1},
       {"+1", 3, 0},           {".5", 3, 0},         {"[", 3, 1},          {"[1,", 3, 3},
       {"[1,]", 3, 3},         {"[1,,2]", 3, 3},     {R"({"a":})", 3, 5},  {R"({"a":)", 3, 5},
       {"\f", 3, 0},           {"{", 4, 1},          {"{1}", 4, 1},        {"{,}", 4, 1},
       {R"({"a":1,})", 4, 7},  {R"({'a':1})", 4, 1}, {R"({"a" 1})", 5, 5}, {R"({"a")", 5, 4},
       {R"({"a":1 2})", 6, 7}, {R"({"a":1)", 6, 6},  {"[1 2]", 7, 3},      {"[1", 7, 2},
       {"[1,2", 7, 4},         {"1e400", 13, 0},     {"-1e400", 13, 0},    {"[1e309]", 13, 1},
       {"1.", 14, 2},          {"1.e5", 14, 2},      {"-1.x", 14, 3},      {"1e", 15, 2},
       {"1e+", 15, 3},         {"1E-x", 15, 3}});
  // A high surrogate escape must be followed by a low one (code 9 at the escape's backslash).
  const std::vector<ErrorCase> strings = {
      {R"("ab\uD800\u0041")", 9, 3}, {R"("\uDBFF\uDBFF")", 9, 1}, {R"("\u")", 8, 1},
      {R"("\uD800")", 9, 1},         {R"("\uD800x")", 9, 1},      {R"("\x")", 10, 1},
      {R"("\u12G4")", 8, 1},         {R"("\U0041")", 10, 1},      {"\"abc", 11, 4},
      {"\"tab\there\"", 10, 4},      {"\"a\x01z\"", 10, 2},       {R"({"abc)", 11, 5}};
  ExpectErrors(strings);
}

TEST(JsonReadErrors, ErrorTextsAreTheReadersEnglishTable) {
  const char* const expected[] = {
      "No error.", "The document is empty.",
      // Code 2 keeps the system's own wording.
      "The document root must not follow by other values.", "Invalid value.",
      "Missing a name for object member.", "Missing a colon after a name of object member.",
      "Missing a comma or '}' after an object member.",
      "Missing a comma or ']' after an array element.",
      "Incorrect hex digit after \\u escape in string.", "The surrogate pair in string is invalid.",
      "Invalid escape character in string.", "Missing a closing quotation mark in string.",
      "Invalid encoding in string.", "Number too big to be stored in double.",
      "Miss fraction part in number.", "Miss exponent in number.",
      "Terminate parsing due to Handler error.", "Unspecific syntax error."};
  for (unsigned code = 0; code < std::size(expected); ++code) {
    EXPECT_STREQ(JsonParseErrorText(code), expected[code]) << code;
    // RapidJSON's own table, which words code 2 differently ("must not be followed by").
    if (code != Vexa::kJsonErrorRootNotSingular) {
      EXPECT_STREQ(JsonParseErrorText(code),
                   rapidjson::GetParseError_En(static_cast<rapidjson::ParseErrorCode>(code)))
          << code;
    }
  }
  EXPECT_STREQ(JsonParseErrorText(18), "Unknown error.");
  EXPECT_STREQ(JsonParseErrorText(0xFFFFFFFFu), "Unknown error.");
}

// Every proper prefix of a document either is a complete document itself or fails cleanly,
// with an offset inside the prefix; no prefix reads beyond its end (the sanitizer build checks).
TEST(JsonReadErrors, EveryTruncationFailsCleanly) {
  const std::string document =
      R"({"name":"Ada \"L\" \u00e9\ud83d\ude00","n":[-1,2.5e-3,18446744073709551615,true,)"
      R"(false,null],"o":{"":{}}, "e":[]})";
  ASSERT_TRUE(Parse(document).Ok());
  for (std::size_t length = 1; length < document.size(); ++length) {
    const std::string prefix = document.substr(0, length);
    const BindingResult result = Parse(prefix);
    ASSERT_FALSE(result.Ok()) << prefix;
    const std::string message(result.ErrorText());
    EXPECT_EQ(message.rfind("Error: ", 0), 0u) << message;
    const std::size_t at = message.rfind(" at offset ");
    ASSERT_NE(at, std::string::npos) << message;
    EXPECT_LE(std::stoul(message.substr(at + 11)), length) << message;
  }
}

// Nesting up to the limit is read. One level more, or a million open (or open and closed)
// levels: the handler refuses the first one past the limit, the reader stops there (it recurses
// per level, so it must not go on), and the offset is just after the bracket that went too deep.
TEST(JsonReadDepth, NestingIsLimited) {
  const std::size_t limit = Vexa::kMaxBindingDepth;
  std::string open, dump, close;  // the levels alternate between {"k": and [
  for (std::size_t level = 1; level < limit; ++level) {
    open += level % 2 == 0 ? "[" : R"({"k":)";
    dump += level % 2 == 0 ? "[" : "{k:";
    close = (level % 2 == 0 ? "]" : "}") + close;
  }
  EXPECT_EQ(Outcome(Parse(open + "[7]" + close)), dump + "[U7]" + close);
  const unsigned refused = Vexa::kJsonErrorTermination;
  ExpectErrors({{"[" + open + "[7]" + close + "]", refused, 1 + open.size() + 1},
                {std::string(1000000, '['), refused, limit + 1},
                {Vexa::Testing::Repeat(R"({"a":)", 1000000), refused, limit * 5 + 1},
                {std::string(1000000, '[') + std::string(1000000, ']'), refused, limit + 1}});
}

}  // namespace
