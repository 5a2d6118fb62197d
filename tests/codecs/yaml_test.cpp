// The YAML reader: scalar resolution, tags, keys, anchors and aliases, documents, every message
// with its position and the limits. Damaged and random input is fuzz/yaml.cpp's.
#include "codecs/yaml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/yaml_number.h"
#include "support/describe.h"
#include "support/inputs.h"

namespace {

using namespace Vexa;
using namespace Vexa::Testing;

std::string Read(std::string_view text) {
  return Outcome(ParseYaml(text));
}

// Rows "text => expected": the value's dump, or the message after "error: " and `prefix`.
void ExpectReads(const std::vector<std::string>& rows, std::string_view prefix = "") {
  for (const std::string& row : rows) {
    const auto [text, expected] = Sides(row);
    EXPECT_EQ(Read(text), (prefix.empty() ? "" : "error: " + std::string(prefix)) + expected)
        << text.substr(0, 60);
  }
}

TEST(YamlScalars, PlainScalarsAreEmptyNumbersBoolsOrTexts) {
  // clang-format off
  ExpectReads({"a: => {a:~}", "~ => ~", "Null => ~", "NULL => ~", "nULL => 'nULL'",
               "5 => U5", "-5 => S-5", "5.5 => F5.5", "0x10 => U16", "-0x10 => S-16",
               "010 => U10", "1e3 => U1000", "-0 => U0", "1e => '1e'", "12abc => '12abc'",
               "nan => Fnan", "inf => 'inf'", "1e999 => '1e999'", "-1e999 => F-inf",
               "1e20 => F1e+20", "18446744073709551615 => U18446744073709551615",
               "18446744073709551616 => F1.8446744073709552e+19",
               "-9223372036854775808 => S-9223372036854775808",
               "-9223372036854775809 => F-9.2233720368547758e+18",
               "9007199254740993 => U9007199254740993", "0000000000000000000000042 => U42",
               // Quoted texts are never resolved; block styles are plain; texts end at a NUL.
               "a: '5' => {a:'5'}", "a: \"yes\" => {a:'yes'}", "a: |-\n  5\n => {a:U5}",
               "a: |\n  5\n => {a:'5\n'}", "a: \"x\\0y\" => {a:'x'}"});
  // The bool literals, exact and case-sensitive.
  ExpectReads({"true => true", "True => true", "TRUE => true", "y => true", "Y => true",
               "yes => true", "Yes => true", "YES => true", "on => true", "On => true",
               "ON => true", "false => false", "False => false", "FALSE => false", "n => false",
               "N => false", "no => false", "No => false", "NO => false", "off => false",
               "Off => false", "OFF => false", "YeS => 'YeS'", "tRUE => 'tRUE'", "oN => 'oN'",
               "nO => 'nO'", "yess => 'yess'"});
  // clang-format on
}

// A text is a number exactly when strtod consumes all of it, with strtod's value.
TEST(YamlScalars, TheNumberReaderAgreesWithStrtod) {
  // clang-format off
  std::vector<std::string> texts = {"", "-", ".", "1.", ".5", "1e+", "1e400", "1e-400", "4.9e-324",
                                    "0x1p3", "0x", "-inf", "nan(1)", " 5", "5 ", "1e22", "1e23",
                                    "9007199254740993e-3", "123456789012345e22",
                                    "-65.61361699999998"};
  // clang-format on
  std::mt19937 random(99);
  const std::string alphabet = "0123456789.eE+-xXpinfa ";
  for (int i = 0; i < 20000; ++i) {
    std::string decimal = random() % 4 == 0 ? "-" : "", text;
    for (std::size_t j = 0, digits = 1 + random() % 20, point = random() % 22; j < digits; ++j) {
      decimal += (j == point ? "." : "") + std::string(1, static_cast<char>('0' + random() % 10));
    }
    decimal += random() % 2 == 0 ? "e" + std::to_string(static_cast<int>(random() % 70) - 35) : "";
    for (std::size_t j = 0, length = 1 + random() % 12; j < length; ++j) {
      text += alphabet[random() % alphabet.size()];
    }
    texts.push_back(decimal);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    char* end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    const bool whole = !text.empty() && end == text.c_str() + text.size();
    double value = 0.0;
    ASSERT_EQ(ReadYamlNumber(text, value), whole) << "[" << text << "]";
    EXPECT_TRUE(!whole || std::memcmp(&value, &expected, sizeof value) == 0 ||
                (std::isnan(value) && std::isnan(expected)))
        << "[" << text << "]";
  }
}

TEST(YamlTags, ConvertScalarsOrRefuseThem) {
  // clang-format off
  ExpectReads({"a: !!str 5 => {a:'5'}", "a: !!int '7' => {a:U7}", "a: !!int -5 => {a:S-5}",
               "a: !!int 18446744073709551615 => {a:U18446744073709551615}",
               "a: !!float -2.5 => {a:F-2.5}", "a: !!int \"12\\0x\" => {a:U12}",
               "a: !!bool OFF => {a:false}",
               "a: 1\na: !!bool maybe => {a:U1}",  // the target keeps what it held
               "a: !!seq [1] => {a:[U1]}", "!!str k: v => {k:'v'}"});
  ExpectReads({"a: !!int -abc => -abc for 'yaml' of type int64 is in an incorrect format",
               "a: !!int 18446744073709551616 => "
               "18446744073709551616 for 'yaml' of type uint64 is out of range",
               "a: !!float 1e999 => 1e999 for 'yaml' of type double is out of range"},
              "Value ");
  ExpectReads({"a: !!null x => tag:yaml.org,2002:null'.", "a: !foo x => !foo'."},
              "Unsupported YAML tag '");
  // clang-format on
}

TEST(YamlMappings, KeysAreTextsAndARepeatedKeyTakesTheLaterValue) {
  // clang-format off
  ExpectReads({"1: x\ntrue: v\n~: z => {1:'x',true:'v',~:'z'}", "b: 1\na: 2 => {a:U2,b:U1}",
               "a: {x: 1}\na: {y: 2} => {a:{y:U2}}", "a: [1, 2]\na: [3] => {a:[U3]}",
               "a: {x: 1}\na: 5 => {a:U5}", "\"\": 1 => {:U1}", "{a, b: 2} => {a:~,b:U2}"});
  // clang-format on
}

TEST(YamlAliases, CopyTheAnchoredValueAsItStandsWhenTheAliasIsRead) {
  // clang-format off
  ExpectReads(
      {"a: &m {x: 1, y: [2, 3]}\nb: *m => {a:{x:U1,y:[U2,U3]},b:{x:U1,y:[U2,U3]}}",
       "- &x {k: v}\n- *x => [{k:'v'},{k:'v'}]", "a: &e\nb: *e => {a:~,b:~}",
       "base: &b {x: 1}\nc: *b\nbase: {y: 2}\nd: *b => {base:{y:U2},c:{x:U1},d:{y:U2}}",
       "a: {b: &x 1}\na: 5\nc: *x => {a:U5,c:~}",  // the path leads nowhere any more
       "a: [0, {b: [x, &y {c: 1}]}]\nd: *y => {a:[U0,{b:['x',{c:U1}]}],d:{c:U1}}",
       "- - &deep [1]\n- *deep => [[[U1]],[U1]]", "a: &x 1\na: &y [*x, *x] => {a:[[~],[[~],~]]}",
       // A key anchor stands for its text, also in key position.
       "&k key: 1\nb: *k\nc: {*k : 2} => {b:'key',c:{key:U2},key:U1}",
       "x: &s hello\n*s : 2 => {hello:U2,x:'hello'}"});
  ExpectReads({"a: &x [ *x ] => \"x\". At line: 1 col: 9",
               "&m {a: {*m : 1}} => \"m\". At line: 1 col: 9"},
              "Cannot deserialize cyclic aliases. Alias ");
  ExpectReads({"a: *x\nb: &x 1 => \"x\". At line: 1 col: 4",
               "{*k : 1} => \"k\". At line: 1 col: 2"},
              "Undefined alias encountered: ");
  ExpectReads({"&x a: 1\nb: &x [2] => \"x\". At line: 2 col: 4",
               "- &x 1\n- &x 1 => \"x\". At line: 2 col: 3"},
              "Duplicate occurrence of anchor ");
  // A key with another tag than the string tag, and an alias in key position to no text.
  ExpectReads({"!!int 1: x => At line: 1 col: 1", "a: 1\n!foo b: 2 => At line: 2 col: 1",
               "x: &n 5\n*n : 2 => At line: 2 col: 1"},
              "Invalid mapping key. Only string scalar keys are allowed. ");
  // clang-format on
}

TEST(YamlDocuments, OneDocumentIsRead) {
  // clang-format off
  ExpectReads({" => ~", "# only a comment\n => ~", "--- 5\n...\n => U5",
               "%YAML 1.1\n---\na: 1\n => {a:U1}"});
  // clang-format on
  for (const char* text : {"a: 1\n---\n", "---\n---\na: 1"}) {
    EXPECT_EQ(Read(text), "error: Multi-document YAML is not supported.") << text;
  }
}

// The reader's own messages give the event's position from 1; libyaml's errors its problem and
// position from 0, an encoding error the position of its byte.
TEST(YamlMessages, ErrorsGiveTheirPositions) {
  // clang-format off
  ExpectReads({"{[1]: x} => sequence. At line: 1 col: 2",
               "a: 1\n? {b: 2}\n: x => mapping. At line: 2 col: 3"},
              "Unexpected start of ");
  ExpectReads({"a: [1, 2 => did not find expected ',' or ']'. At line: 1 col: 0",
               "a: 'x => found unexpected end of stream. At line: 0 col: 5",
               "a: 1\nb: \xFF\n => invalid leading UTF-8 octet. At line: 1 col: 3",
               "a: \xC3\xA9\xC3\xA9 \xC3 => incomplete UTF-8 octet sequence. At line: 0 col: 6",
               "a: x\r\nb: \xC0\xAF => invalid length of a UTF-8 sequence. At line: 1 col: 3",
               "a: x\rb: \x01 => control characters are not allowed. At line: 1 col: 3",
               std::string("a: 1\0b: 2 => control characters are not allowed. At line: 0 col: 4",
                           66)},
              "YAML parser error: ");
  // clang-format on
}

TEST(YamlLimits, NestingAndAliasCopiesAreBounded) {
  // clang-format off
  ExpectReads({Repeat("[", 1000000) + " => At line: 1 col: 513",
               Repeat("{a: ", 1000000) + " => At line: 1 col: 2049"},
              "Sequences and mappings are nested deeper than 512 levels. ");
  // clang-format on
  // A value 300 levels deep may be copied at a depth of 211, not of 212.
  const std::string deep = "a: &d " + Repeat("[", 300) + Repeat("]", 300) + "\nb: ";
  EXPECT_TRUE(ParseYaml(deep + Repeat("[", 211) + "*d" + Repeat("]", 211)).Ok());
  // clang-format off
  ExpectReads({deep + Repeat("[", 212) + "*d" + Repeat("]", 212) + " => At line: 2 col: 216"},
              "Alias \"d\" would nest sequences and mappings deeper than 512 levels. ");
  // clang-format on
  // "Billion laughs": nine copies of the level before, nine levels deep. The copies of b to e
  // count 74,718 values; each *e copies 66,430, and the third one in f passes the 262,144 allowed.
  std::string laughs = "a: &a [" + Repeat("\"lol\",", 8) + "\"lol\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    const std::string previous = std::string("*") + static_cast<char>(level - 1);
    laughs +=
        std::string(1, level) + ": &" + level + " [" + previous + Repeat("," + previous, 8) + "]\n";
  }
  // Copies that double, the 17th exactly using up what two key aliases left of the budget:
  // the k-th copy holds 2^k values, so the first 16 spend 2^17 - 2.
  const std::string doubling =
      "&k key: 1\nb: [*k, *k]\na: &x 1\na: &y [" + Repeat("*x, ", 16) + "*x]\nc: *k";
  const std::string tooMany = " would make aliases copy more than 262144 values. At line: ";
  ExpectReads(
      {laughs + " => \"e\"" + tooMany + "6 col: 14", doubling + " => \"k\"" + tooMany + "5 col: 4"},
      "Alias ");
  // The budget is the text's size when that is larger: 3,000 aliases of a 101-value sequence
  // pass the floor in a short text, and are read in a long one.
  const std::string uses =
      "base: &b [" + Repeat("1, ", 99) + "1]\nuses:\n" + Repeat("  - *b\n", 3000);
  EXPECT_FALSE(ParseYaml(uses).Ok());
  EXPECT_TRUE(ParseYaml(uses + "pad: '" + std::string(400000, 'p') + "'\n").Ok());
}

}  // namespace
