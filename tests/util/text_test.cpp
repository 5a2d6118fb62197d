#include "util/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Base64, EncodesWithPaddingAndDecodesUpToTheFirstForeignByte) {
  const std::pair<std::string, std::string> encoded[] = {
      {"", ""},        {"M", "TQ=="},        {"Ma", "TWE="},
      {"Man", "TWFu"}, {"Many", "TWFueQ=="}, {"\xff\xfe", "//4="}};
  for (const auto& [bytes, text] : encoded) {
    EXPECT_EQ(Vexa::Base64Encode(bytes), text);
    EXPECT_EQ(Vexa::Base64Decode(text), bytes);
  }
  const std::pair<std::string, std::string> decoded[] = {
      {"TWE", "Ma"},     {"T", ""},     {"TWFu TWFu", "Man"},   {"TW-Fu", "M"},
      {"TQ==TWFu", "M"}, {"=TWFu", ""}, {"TWFu\x80TWFu", "Man"}};
  for (const auto& [text, bytes] : decoded) {
    EXPECT_EQ(Vexa::Base64Decode(text), bytes) << text;
  }
}

TEST(Text, SplitKeepsEmptyPiecesAndTokenizeDropsDelimiterRuns) {
  EXPECT_THAT(Vexa::Split("", ","), ElementsAre(""));
  EXPECT_THAT(Vexa::Split("a,b,", ","), ElementsAre("a", "b", ""));
  EXPECT_THAT(Vexa::Split("a::b:c", "::"), ElementsAre("a", "b:c"));
  EXPECT_THAT(Vexa::Split("a,b", ""), ElementsAre("a,b"));
  EXPECT_THAT(Vexa::Tokenize(" a  b ", " "), ElementsAre("a", "b"));
  EXPECT_THAT(Vexa::Tokenize(" ;; ", "; "), IsEmpty());
  EXPECT_THAT(Vexa::Tokenize("a b", ""), ElementsAre("a b"));
}

TEST(Text, JoinTakesARangeOfStrings) {
  const std::vector<std::string> abc = {"a", "b", "c"};
  EXPECT_EQ(Vexa::Join(abc, ", "), "a, b, c");
  EXPECT_EQ(Vexa::Join(abc, "/", 1, Vexa::kJoinAll), "b/c");
  EXPECT_EQ(Vexa::Join(abc, "/", 3), "");
  EXPECT_EQ(Vexa::Join(abc, "/", 0, 2), "a/b");
  EXPECT_EQ(Vexa::Join(abc, "/", 2, 5), "c");
  EXPECT_EQ(Vexa::Join(abc, "/", 0, 0), "");
}

TEST(Text, ReplaceAllAndToLower) {
  EXPECT_EQ(Vexa::ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Vexa::ReplaceAll("aba", "a", "aa"), "aabaa");  // the replacement is not searched
  EXPECT_EQ(Vexa::ReplaceAll("x{id}y{id}", "{id}", ""), "xy");
  EXPECT_EQ(Vexa::ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(Vexa::ToLower("AbZ@[`{09\xc4\xd6"), "abz@[`{09\xc4\xd6");
}

TEST(Text, ByteSwapReversesByteOrder) {
  EXPECT_EQ(Vexa::ByteSwap16(0x0102), 0x0201);
  EXPECT_EQ(Vexa::ByteSwap32(0x01020304u), 0x04030201u);
  EXPECT_EQ(Vexa::ByteSwap64(0x0102030405060708ull), 0x0807060504030201ull);
}

}  // namespace
