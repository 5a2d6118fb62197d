#include "codecs/json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/error/en.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/format.h"

namespace {

using ::testing::ElementsAre;
using Vexa::BindingProperty;
using Vexa::BindingResult;
using Vexa::JsonParseErrorText;
using Vexa::ParseJson;
using Kind = Vexa::BindingPropertyKind;

// Parses a copy of `text` in a buffer of exactly its size (no NUL after it), through the
// length-bounded form, so that a read past the end is caught by the address sanitizer.
BindingResult ParseExact(std::string_view text) {
  if (text.empty()) {
    return ParseJson(std::string_view());
  }
  const std::unique_ptr<char[]> exact(new char[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
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
  EXPECT_EQ(terminated.ok, bounded.ok) << text;
  EXPECT_EQ(terminated.value, bounded.value) << text;
  EXPECT_EQ(ParseJson(text.c_str()).value, terminated.value) << text;
  return terminated;
}

// --- Reading: kinds ---

struct KindCase {
  const char* text;
  Kind kind;
};

class JsonReadKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(JsonReadKinds, EachJsonValueGivesItsKind) {
  const BindingResult result = Parse(GetParam().text);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.Kind(), GetParam().kind) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, JsonReadKinds,
    ::testing::Values(KindCase{"null", Kind::Empty}, KindCase{"true", Kind::Bool},
                      KindCase{"false", Kind::Bool}, KindCase{"-1", Kind::Signed},
                      KindCase{"-0", Kind::Signed}, KindCase{"0", Kind::Unsigned},
                      KindCase{"1", Kind::Unsigned}, KindCase{"4294967296", Kind::Unsigned},
                      KindCase{"-2147483649", Kind::Signed}, KindCase{"1.0", Kind::Float},
                      KindCase{"1e2", Kind::Float}, KindCase{"-1E-2", Kind::Float},
                      KindCase{"18446744073709551615", Kind::Unsigned},
                      KindCase{"18446744073709551616", Kind::Float},
                      KindCase{"-9223372036854775808", Kind::Signed},
                      KindCase{"-9223372036854775809", Kind::Float},
                      KindCase{"\"text\"", Kind::String}, KindCase{"[]", Kind::Collection},
                      KindCase{"{}", Kind::Structure}));

TEST(JsonRead, IntegersKeepTheirSignAndValue) {
  EXPECT_EQ(Parse("-1").value.GetSigned(), -1);
  EXPECT_EQ(Parse("1").value.GetUnsigned(), 1u);
  EXPECT_EQ(Parse("-9223372036854775808").value.GetSigned(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Parse("18446744073709551615").value.GetUnsigned(),
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(Parse("18446744073709551616").value.GetFloat(), 18446744073709551616.0);
  EXPECT_EQ(Parse("-9223372036854775809").value.GetFloat(), -9223372036854775808.0);
  EXPECT_EQ(Parse("1e2").value.GetFloat(), 100.0);
  EXPECT_EQ(Parse("-0.5").value.GetFloat(), -0.5);
}

TEST(JsonRead, EmptyDocumentsAreEmptyValuesWithoutError) {
  for (const char* text : {"", "  \n", " \t\r\n "}) {
    const BindingResult result = Parse(text);
    EXPECT_TRUE(result.ok) << result.ErrorText();
    EXPECT_TRUE(result.value.IsEmpty());
  }
  EXPECT_TRUE(ParseJson(static_cast<const char*>(nullptr)).ok);
  EXPECT_TRUE(ParseJson(static_cast<const char*>(nullptr)).value.IsEmpty());
  // Other white space is not JSON's: a form feed is an invalid value.
  EXPECT_EQ(Parse("\f").ErrorText(), Message(3, 0));
}

TEST(JsonRead, WhiteSpaceAroundTheValueIsSkipped) {
  const BindingResult result = Parse(" \n[ 1 ,\t2 ]\r\n ");
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.Size(), 2u);
}

TEST(JsonRead, NullInAnArrayLeavesItsElementEmpty) {
  const BindingResult result = Parse("[null, 1]");
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.value.Size(), 2u);
  EXPECT_TRUE(result.value.ElementAt(0).IsEmpty());
  EXPECT_EQ(result.value.ElementAt(1).GetUnsigned(), 1u);
}

TEST(JsonRead, ObjectsBecomeStructuresIteratedInKeyOrder) {
  const BindingResult result = Parse(R"({"b":1,"a":{"y":[true],"x":"s"},"c":null})");
  ASSERT_TRUE(result.ok);
  std::vector<std::string> keys;
  for (const auto& [key, member] : result.value.Members()) {
    keys.emplace_back(key);
  }
  EXPECT_THAT(keys, ElementsAre("a", "b", "c"));
  EXPECT_TRUE(result.value.Member("a").Member("y").ElementAt(0).GetBool());
  EXPECT_EQ(result.value.Member("a").Member("x").GetString(), "s");
  EXPECT_TRUE(result.value.HasMember("c"));
  EXPECT_TRUE(result.value.Member("c").IsEmpty());
}

TEST(JsonRead, ARepeatedKeyAddressesTheSameMemberAgain) {
  struct Case {
    const char* text;
    const char* expected;  // the member a, written back
  };
  const Case cases[] = {
      {R"({"a":1,"a":2})", "2"},
      {R"({"a":1,"a":null})", "1"},                          // null keeps what the member holds
      {R"({"a":{"x":1},"a":{"y":2}})", R"({"x":1,"y":2})"},  // objects merge
      {R"({"a":[1],"a":[2]})", "[1,2]"},                     // arrays append
      {R"({"a":[1],"a":{"y":2}})", R"({"y":2})"},            // another kind replaces
      {R"({"a":{"x":1},"a":"s"})", R"("s")"},
  };
  for (const Case& item : cases) {
    const BindingResult result = Parse(item.text);
    ASSERT_TRUE(result.ok) << item.text;
    EXPECT_EQ(result.value.Size(), 1u) << item.text;
    EXPECT_EQ(Vexa::ToJson(result.value.Member("a")), item.expected) << item.text;
  }
}

TEST(JsonRead, StringsAreDecoded) {
  const BindingResult result =
      Parse(R"(["\"\\\/\b\f\n\r\t", "\u00e9\u20AC\ud83d\ude00", "é€😀", ""])");
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.ElementAt(0).GetString(), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(result.value.ElementAt(1).GetString(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(result.value.ElementAt(2).GetString(), result.value.ElementAt(1).GetString());
  EXPECT_EQ(result.value.ElementAt(3).Kind(), Kind::String);
  EXPECT_EQ(result.value.ElementAt(3).Size(), 0u);
}

TEST(JsonRead, AnEscapedNulEndsTheStoredTextAndKey) {
  const BindingResult result = Parse(R"({"k\u0000ey":"ab\u0000cd"})");
  ASSERT_TRUE(result.ok) << result.ErrorText();
  ASSERT_TRUE(result.value.HasMember("k"));
  EXPECT_EQ(result.value.Member("k").GetString(), "ab");
  EXPECT_EQ(result.value.Member("k").Size(), 2u);
}

TEST(JsonRead, TheTextEndsAtItsFirstNulByte) {
  const std::string withNul("[1]\0 this is never read", 23);
  for (const BindingResult& result : {ParseJson(withNul), ParseExact(withNul)}) {
    ASSERT_TRUE(result.ok) << result.ErrorText();
    EXPECT_EQ(Vexa::ToJson(result.value), "[1]");
  }
  // Cut before the value is complete: the reader sees the end of the text there.
  const std::string cut("[1,\0 2]", 7);
  EXPECT_EQ(ParseJson(cut).ErrorText(), Message(3, 3));
  EXPECT_EQ(ParseExact(cut).ErrorText(), Message(3, 3));
  EXPECT_TRUE(ParseExact(std::string_view("\0[", 2)).value.IsEmpty());
}

TEST(JsonRead, AViewIsReadOnlyUpToItsLength) {
  const std::string text = "[1,2]";
  // "[1,2" of a longer buffer: the bracket after the view is not part of the text.
  EXPECT_EQ(ParseJson(std::string_view(text.data(), 4)).ErrorText(), Message(7, 4));
  EXPECT_EQ(ParseExact("[1,2").ErrorText(), Message(7, 4));
  EXPECT_EQ(ParseJson(std::string_view("123", 2)).value.GetUnsigned(), 12u);
  EXPECT_EQ(ParseExact("\"abc").ErrorText(), Message(11, 4));
  EXPECT_EQ(ParseExact("tru").ErrorText(), Message(3, 3));
}

// The default reader does not check that the bytes of strings are UTF-8: they are stored as
// they come and written back unchanged, so a payload in a legacy encoding passes through.
TEST(JsonRead, BytesOfInvalidUtf8AreKeptAsTheyAre) {
  const std::string bytes = "\xFF\xFE\xC3(\xED\xA0\x80\xF8\x88\x80\x80\x80";
  const BindingResult result = Parse("[\"" + bytes + "\"]");
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.ElementAt(0).GetString(), bytes);
  EXPECT_EQ(Vexa::ToJson(result.value), "[\"" + bytes + "\"]");
}

TEST(JsonRead, SurrogateEscapes) {
  // A pair is one character.
  EXPECT_EQ(Parse(R"("\uD834\uDD1E")").value.GetString(), "\xF0\x9D\x84\x9E");
  // A high surrogate must be followed by a low one (offset: the escape's backslash).
  EXPECT_EQ(Parse(R"("\uD800")").ErrorText(), Message(9, 1));
  EXPECT_EQ(Parse(R"("ab\uD800\u0041")").ErrorText(), Message(9, 3));
  EXPECT_EQ(Parse(R"("\uDBFF\uDBFF")").ErrorText(), Message(9, 1));
  EXPECT_EQ(Parse(R"("\uD800x")").ErrorText(), Message(9, 1));
  // The default reader takes a lone low surrogate as it is: its three-byte form is stored.
  EXPECT_EQ(Parse(R"("\uDC00")").value.GetString(), "\xED\xB0\x80");
}

// --- Reading: failures with their messages and offsets ---

struct ErrorCase {
  const char* text;
  unsigned code;
  std::size_t offset;
};

class JsonReadErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(JsonReadErrors, FailureQuotesTheCodeTextAndTheOffset) {
  const ErrorCase& item = GetParam();
  const BindingResult result = Parse(item.text);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText(), Message(item.code, item.offset)) << item.text;
  // Nothing of the partly built value is kept: only {"error": message}.
  EXPECT_EQ(result.value.Kind(), Kind::Structure);
  EXPECT_EQ(result.value.Size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryReachableCode, JsonReadErrors,
    ::testing::Values(
        ErrorCase{"1 2", 2, 2}, ErrorCase{"{} x", 2, 3}, ErrorCase{"[1]]", 2, 3},
        ErrorCase{"01", 2, 1}, ErrorCase{"0x10", 2, 1}, ErrorCase{"nul", 3, 3},
        ErrorCase{"nulll", 2, 4}, ErrorCase{"tru", 3, 3}, ErrorCase{"fals", 3, 4},
        ErrorCase{"x", 3, 0}, ErrorCase{"]", 3, 0}, ErrorCase{"-", 3, 1}, ErrorCase{"+1", 3, 0},
        ErrorCase{".5", 3, 0}, ErrorCase{"[", 3, 1}, ErrorCase{"[1,", 3, 3},
        ErrorCase{"[1,]", 3, 3}, ErrorCase{"[1,,2]", 3, 3}, ErrorCase{R"({"a":})", 3, 5},
        ErrorCase{R"({"a":)", 3, 5}, ErrorCase{"{", 4, 1}, ErrorCase{"{1}", 4, 1},
        ErrorCase{"{,}", 4, 1}, ErrorCase{R"({"a":1,})", 4, 7}, ErrorCase{R"({'a':1})", 4, 1},
        ErrorCase{R"({"a" 1})", 5, 5}, ErrorCase{R"({"a")", 5, 4}, ErrorCase{R"({"a":1 2})", 6, 7},
        ErrorCase{R"({"a":1)", 6, 6}, ErrorCase{"[1 2]", 7, 3}, ErrorCase{"[1", 7, 2},
        ErrorCase{R"("\u12G4")", 8, 1}, ErrorCase{R"("\u")", 8, 1}, ErrorCase{R"("\uD800")", 9, 1},
        ErrorCase{R"("\x")", 10, 1}, ErrorCase{R"("\U0041")", 10, 1},
        ErrorCase{"\"a\x01z\"", 10, 2}, ErrorCase{"\"tab\there\"", 10, 4},
        ErrorCase{"\"abc", 11, 4}, ErrorCase{R"({"abc)", 11, 5}, ErrorCase{"1e400", 13, 0},
        ErrorCase{"-1e400", 13, 0}, ErrorCase{"[1e309]", 13, 1}, ErrorCase{"1.", 14, 2},
        ErrorCase{"1.e5", 14, 2}, ErrorCase{"-1.x", 14, 3}, ErrorCase{"1e", 15, 2},
        ErrorCase{"1e+", 15, 3}, ErrorCase{"1E-x", 15, 3}));

TEST(JsonReadErrors, ErrorTextsAreTheReadersEnglishTable) {
  const char* const expected[] = {
      "No error.",
      "The document is empty.",
      "The document root must not follow by other values.",
      "Invalid value.",
      "Missing a name for object member.",
      "Missing a colon after a name of object member.",
      "Missing a comma or '}' after an object member.",
      "Missing a comma or ']' after an array element.",
      "Incorrect hex digit after \\u escape in string.",
      "The surrogate pair in string is invalid.",
      "Invalid escape character in string.",
      "Missing a closing quotation mark in string.",
      "Invalid encoding in string.",
      "Number too big to be stored in double.",
      "Miss fraction part in number.",
      "Miss exponent in number.",
      "Terminate parsing due to Handler error.",
      "Unspecific syntax error.",
  };
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
  ASSERT_TRUE(Parse(document).ok);
  for (std::size_t length = 1; length < document.size(); ++length) {
    const std::string prefix = document.substr(0, length);
    const BindingResult result = Parse(prefix);
    ASSERT_FALSE(result.ok) << prefix;
    const std::string message(result.ErrorText());
    EXPECT_EQ(message.rfind("Error: ", 0), 0u) << message;
    const std::size_t at = message.rfind(" at offset ");
    ASSERT_NE(at, std::string::npos) << message;
    EXPECT_LE(std::stoul(message.substr(at + 11)), length) << message;
  }
}

// --- Reading: nesting depth ---

// A million open brackets: the handler refuses the first one past the limit, the reader stops
// there (it recurses per level, so it must not go on), and the offset is just after it.
TEST(JsonReadDepth, AMillionOpenArraysAreRefusedAtTheLimit) {
  const std::string text(1000000, '[');
  const BindingResult result = ParseJson(text);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText(), Message(Vexa::kJsonErrorTermination, Vexa::kMaxBindingDepth + 1));
  EXPECT_EQ(ParseExact(text).ErrorText(), result.ErrorText());
}

TEST(JsonReadDepth, AMillionOpenObjectsAreRefusedAtTheLimit) {
  std::string text;
  text.reserve(5000000);
  for (int level = 0; level < 1000000; ++level) {
    text += R"({"a":)";
  }
  const BindingResult result = ParseJson(text);
  EXPECT_EQ(result.ErrorText(),
            Message(Vexa::kJsonErrorTermination, Vexa::kMaxBindingDepth * 5 + 1));
}

TEST(JsonReadDepth, AMillionClosedLevelsFailLikeTheOpenOnes) {
  const std::string text = std::string(1000000, '[') + std::string(1000000, ']');
  EXPECT_EQ(ParseJson(text).ErrorText(),
            Message(Vexa::kJsonErrorTermination, Vexa::kMaxBindingDepth + 1));
}

TEST(JsonReadDepth, NestingUpToTheLimitIsRead) {
  std::string text;
  for (std::size_t level = 1; level < Vexa::kMaxBindingDepth; ++level) {
    text += level % 2 == 0 ? "[" : R"({"k":)";
  }
  text += "[7]";
  for (std::size_t level = Vexa::kMaxBindingDepth - 1; level >= 1; --level) {
    text += level % 2 == 0 ? "]" : "}";
  }
  const BindingResult result = ParseJson(text);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  const BindingProperty* value = &result.value;
  for (std::size_t level = 1; level < Vexa::kMaxBindingDepth; ++level) {
    value = level % 2 == 0 ? &value->ElementAt(0) : &value->Member("k");
  }
  EXPECT_EQ(value->ElementAt(0).GetUnsigned(), 7u);
  // One level more is refused, at the innermost bracket.
  EXPECT_EQ(ParseJson("[" + text + "]").ErrorText(),
            Message(Vexa::kJsonErrorTermination, 1 + text.find("[7]") + 1));
}

}  // namespace
