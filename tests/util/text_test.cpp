#include "util/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

struct Base64Case {
  std::string bytes;
  std::string text;
};

TEST(Base64, EncodesWithPadding) {
  const Base64Case cases[] = {{"", ""},
                              {"M", "TQ=="},
                              {"Ma", "TWE="},
                              {"Man", "TWFu"},
                              {"Many", "TWFueQ=="},
                              {std::string("\xff\xfe\x00", 3), "//4A"},
                              {std::string("\xfb\xff", 2), "+/8="}};
  for (const Base64Case& c : cases) {
    EXPECT_EQ(Vexa::Base64Encode(c.bytes), c.text) << c.text;
    EXPECT_EQ(Vexa::Base64Encode(c.bytes.data(), c.bytes.size()), c.text) << c.text;
  }
  EXPECT_EQ(Vexa::Base64Encode(nullptr, 0), "");
}

TEST(Base64, RoundTripsEveryByteAndEveryLength) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    all += static_cast<char>(byte);
  }
  for (std::size_t length = 0; length <= all.size(); ++length) {
    const std::string bytes = all.substr(all.size() - length);  // tails end with 0xff
    const std::string text = Vexa::Base64Encode(bytes);
    ASSERT_EQ(text.size(), 4 * ((length + 2) / 3)) << length;
    ASSERT_EQ(
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
        std::string::npos);
    ASSERT_EQ(Vexa::Base64Decode(text), bytes) << length;
  }
}

TEST(Base64, DecodingStopsAtPaddingOrForeignBytes) {
  const Base64Case cases[] = {
      {"Man", "TWFu"},  {"Ma", "TWE="},          {"Ma", "TWE"},           {"", "T"},
      {"", ""},         {"Man", "TWFu TWFu"},    {"M", "TW-Fu"},          {"M", "TQ==TWFu"},
      {"Man", "TWFu="}, {"Man", "TWFu\nTWFu"},   {"Man", "TWFu\x80TWFu"}, {"ManM", "TWFuTQ"},
      {"", "=TWFu"},    {"\xff\xff\xff", "////"}};
  for (const Base64Case& c : cases) {
    EXPECT_EQ(Vexa::Base64Decode(c.text), c.bytes) << c.text;
  }
}

TEST(Split, KeepsEmptyPieces) {
  EXPECT_THAT(Vexa::Split("", ","), ElementsAre(""));
  EXPECT_THAT(Vexa::Split("a,b,", ","), ElementsAre("a", "b", ""));
  EXPECT_THAT(Vexa::Split(",a", ","), ElementsAre("", "a"));
  EXPECT_THAT(Vexa::Split("a,,b", ","), ElementsAre("a", "", "b"));
  EXPECT_THAT(Vexa::Split("a::b:c", "::"), ElementsAre("a", "b:c"));
  EXPECT_THAT(Vexa::Split("abc", "abcd"), ElementsAre("abc"));
}

TEST(Split, EmptySeparatorGivesTheWholeText) {
  EXPECT_THAT(Vexa::Split("a,b", ""), ElementsAre("a,b"));
  EXPECT_THAT(Vexa::Split("", ""), ElementsAre(""));
}

TEST(Tokenize, DropsDelimiterRuns) {
  EXPECT_THAT(Vexa::Tokenize(" a  b ", " "), ElementsAre("a", "b"));
  EXPECT_THAT(Vexa::Tokenize("a,b; c", ",; "), ElementsAre("a", "b", "c"));
  EXPECT_THAT(Vexa::Tokenize("", " "), IsEmpty());
  EXPECT_THAT(Vexa::Tokenize(" ;; ", "; "), IsEmpty());
  EXPECT_THAT(Vexa::Tokenize("a b", ""), ElementsAre("a b"));
  EXPECT_THAT(Vexa::Tokenize("", ""), IsEmpty());
}

TEST(Join, RangeOfStrings) {
  const Strings abc = {"a", "b", "c"};
  EXPECT_EQ(Vexa::Join(abc, "/"), "a/b/c");
  EXPECT_EQ(Vexa::Join(abc, "/", 1), "b/c");
  EXPECT_EQ(Vexa::Join(abc, "/", 1, Vexa::kJoinAll), "b/c");
  EXPECT_EQ(Vexa::Join(abc, "/", 3), "");
  EXPECT_EQ(Vexa::Join(abc, "/", 7), "");
  EXPECT_EQ(Vexa::Join(abc, "/", 0, 2), "a/b");
  EXPECT_EQ(Vexa::Join(abc, "/", 2, 5), "c");
  EXPECT_EQ(Vexa::Join(abc, "/", 0, 0), "");
  EXPECT_EQ(Vexa::Join(abc, ", "), "a, b, c");
  EXPECT_EQ(Vexa::Join({"", ""}, "-"), "-");
  EXPECT_EQ(Vexa::Join({}, "-"), "");
}

TEST(ReplaceAll, NonOverlappingLeftToRight) {
  EXPECT_EQ(Vexa::ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Vexa::ReplaceAll("aba", "a", "aa"), "aabaa");  // replacement not searched again
  EXPECT_EQ(Vexa::ReplaceAll("a.b.c", ".", ""), "abc");
  EXPECT_EQ(Vexa::ReplaceAll("x{id}y{id}", "{id}", "42"), "x42y42");
  EXPECT_EQ(Vexa::ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(Vexa::ReplaceAll("abc", "d", "x"), "abc");
  EXPECT_EQ(Vexa::ReplaceAll("", "a", "x"), "");
}

TEST(ToLower, OnlyAsciiCapitals) {
  EXPECT_EQ(Vexa::ToLower("AbZ@[`{09"), "abz@[`{09");
  EXPECT_EQ(Vexa::ToLower("\xc4\xd6 \xc3\x84"), "\xc4\xd6 \xc3\x84");
  EXPECT_EQ(Vexa::ToLower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST(ByteSwap, ReversesByteOrder) {
  EXPECT_EQ(Vexa::ByteSwap16(0x0102), 0x0201);
  EXPECT_EQ(Vexa::ByteSwap32(0x01020304u), 0x04030201u);
  EXPECT_EQ(Vexa::ByteSwap32(0xff000080u), 0x800000ffu);
  EXPECT_EQ(Vexa::ByteSwap64(0x0102030405060708ull), 0x0807060504030201ull);
  EXPECT_EQ(Vexa::ByteSwap64(0xff00000000000080ull), 0x80000000000000ffull);
  static_assert(Vexa::ByteSwap32(Vexa::ByteSwap32(0xdeadbeefu)) == 0xdeadbeefu);
}

}  // namespace
