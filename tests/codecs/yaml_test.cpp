// The YAML reader: scalar resolution, tags, anchors and aliases, documents, every message with
// its position, malformed input and the limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codec_test_support.h"
#include "codecs/yaml.h"
#include "codecs/yaml_number.h"

namespace Vexa {
namespace {

using Testing::DumpOf;
using Testing::Outcome;
using Testing::Repeat;

// The dump of what the text reads to, or "error: " and its message.
std::string Read(std::string_view text) {
  return Outcome(ParseYaml(text));
}

constexpr std::string_view kInvalidKey =
    "Invalid mapping key. Only string scalar keys are allowed. ";

struct Case {
  std::string text;
  std::string expected;  // the value's dump, or "error: " and the message
};

void ExpectReads(const std::vector<Case>& cases) {
  for (const Case& item : cases) {
    SCOPED_TRACE(item.text);
    EXPECT_EQ(Read(item.text), item.expected);
  }
}

// Each text fails with exactly `prefix` and its message (and, through Outcome, keeps nothing
// of the partly read value).
void ExpectFails(std::string_view prefix, const std::vector<Case>& cases) {
  for (const Case& item : cases) {
    SCOPED_TRACE(item.text);
    EXPECT_EQ(Read(item.text), "error: " + std::string(prefix) + item.expected);
  }
}

TEST(YamlScalars, PlainScalarsResolveToEmptyNumbersBoolsAndStrings) {
  ExpectReads({Case{"a:", "{a:~}"},
               // Null literals, then numbers as strtod reads them, else texts.
               Case{"~", "~"}, Case{"null", "~"}, Case{"Null", "~"}, Case{"NULL", "~"},
               Case{"nULL", "'nULL'"}, Case{"5", "U5"}, Case{"-5", "S-5"}, Case{"+5", "U5"},
               Case{"5.5", "F5.5"}, Case{"0x10", "U16"}, Case{"-0x10", "S-16"},
               Case{"010", "U10"},  // strtod reads no octal
               Case{"1e3", "U1000"}, Case{"1.0", "U1"}, Case{"1.", "U1"}, Case{".5", "F0.5"},
               Case{"-0", "U0"}, Case{"-0.0", "U0"}, Case{"1e-400", "U0"}, Case{"1e", "'1e'"},
               Case{"1e+", "'1e+'"}, Case{"12abc", "'12abc'"}, Case{"1_000", "'1_000'"},
               Case{"0x", "'0x'"}, Case{"1 2", "'1 2'"}, Case{".", "'.'"}, Case{"nan", "Fnan"},
               Case{"inf", "'inf'"}, Case{"Infinity", "'Infinity'"}, Case{"1e999", "'1e999'"},
               Case{"-inf", "F-inf"}, Case{"-1e999", "F-inf"}, Case{"1e20", "F1e+20"},
               Case{"-1e19", "F-1e+19"}, Case{"18446744073709551615", "U18446744073709551615"},
               Case{"18446744073709551616", "F1.8446744073709552e+19"},
               Case{"-9223372036854775808", "S-9223372036854775808"},
               Case{"-9223372036854775809", "F-9.2233720368547758e+18"},
               Case{"9007199254740993", "U9007199254740993"},  // every digit kept
               Case{"0000000000000000000000042", "U42"},       // long, but within 64 bits
               Case{"-000000000000000000009223372036854775808", "S-9223372036854775808"},
               Case{"1.5e300", "F1.5000000000000001e+300"}});
  for (const char* text :
       {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"}) {
    EXPECT_EQ(Read(text), "true") << text;
  }
  for (const char* text :
       {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"}) {
    EXPECT_EQ(Read(text), "false") << text;
  }
  // Bool literals are exact and case-sensitive.
  for (const char* text : {"YeS", "tRUE", "oN", "nO", "fALSE", "yess", "t", "f", "1b"}) {
    EXPECT_EQ(Read(text), std::string("'") + text + "'") << text;
  }
}

TEST(YamlScalars, QuotedAndBlockScalarsFollowTheirStyle) {
  ExpectReads(
      {Case{"a: '5'", "{a:'5'}"}, Case{"a: \"yes\"", "{a:'yes'}"}, Case{"a: '~'", "{a:'~'}"},
       Case{"a: ''", "{a:''}"},
       Case{"a: |\n  5\n", "{a:'5\n'}"},  // literal style is not quoted, but the break stays
       Case{"a: |-\n  5\n", "{a:U5}"}, Case{"a: >-\n  yes\n", "{a:true}"},
       Case{"a: \"x\\0y\"", "{a:'x'}"},  // texts end at their first NUL
       Case{"a: caf\xC3\xA9", "{a:'caf\xC3\xA9'}"}});
}

// The number reader must accept exactly what strtod consumes entirely, with its value, and
// needs no NUL after the text.
TEST(YamlNumberReader, AgreesWithStrtod) {
  std::vector<std::string> texts = {
      // Signs, points, exponents, hexadecimal, infinities and not-a-number, white space.
      "0", "-0", "+0", "1", "12", "1.", ".5", "-.5", "+.5e-3", "1e5", "1E+5", "1e-5", "1e", "1e+",
      ".", "-", "+", "", "--5", "+-5", "1.2.3", "00012", "0.1", "0.3", "1e400", "-1e400", "1e-400",
      "4.9e-324", "2.4e-324", "1.7976931348623157e308", "1.7976931348623159e308",
      "123456789012345678901234567890", "0.000000000000000000000000000001", "0x", "0xg", "0x10",
      "-0x10", "0x1p3", "0x.8", "0X1P-2", "0x1.8", "inf", "-inf", "INF", "Infinity", "infin",
      "infinity", "nan", "-nan", "NaN", "nan(123)", "nan(", "nan()", " 5", "\t5", "5 ", "\n1",
      "9007199254740993", "2.2250738585072011e-308", "1e0000000000000000001",
      // Around the exact fast path: significands near 2^53, exponents near 10^22.
      "9007199254740992e-3", "9007199254740993e-3", "900719925474099.3", "1e22", "1e23", "1e-22",
      "1e-23", "4.35e-22", "123456789012345e22", "0.1e23", "-65.61361699999998",
      "43.42027300000001", "1.00000000000000000000", "0.000000000000000000000000000017"};
  // Well-formed decimals of every length, point position and exponent, and random texts of
  // the characters that numbers are made of.
  std::mt19937 decimals(99);
  std::mt19937 random(20240601);
  const std::string alphabet = "0123456789.eE+-xXpPaAfFinINnN ()";
  for (int i = 0; i < 20000; ++i) {
    std::string decimal = decimals() % 4 == 0 ? "-" : "";
    const std::size_t digits = 1 + decimals() % 20;
    const std::size_t point = decimals() % (digits + 2);
    for (std::size_t j = 0; j < digits; ++j) {
      decimal += (j == point ? "." : "") + std::string(1, static_cast<char>('0' + decimals() % 10));
    }
    if (decimals() % 2 == 0) {
      decimal += "e" + std::to_string(static_cast<int>(decimals() % 70) - 35);
    }
    std::string text;
    for (std::size_t j = 0, length = 1 + random() % 12; j < length; ++j) {
      text += alphabet[random() % alphabet.size()];
    }
    texts.push_back(decimal);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    char* end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    // Resolution never asks about the empty text, which strtod "consumes" by reading nothing.
    const bool whole = !text.empty() && end == text.c_str() + text.size();
    double value = 0.0;
    ASSERT_EQ(ReadYamlNumber(text, value), whole) << "text: [" << text << "]";
    if (whole) {
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(value)) << text;
      } else {
        EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0)
            << "text: [" << text << "] " << value << " vs " << expected;
      }
    }
  }
  double value = 0.0;
  ASSERT_TRUE(ReadYamlNumber(std::string_view("12.5e1xyz", 6), value));
  EXPECT_EQ(value, 125.0);
  ASSERT_TRUE(ReadYamlNumber(std::string_view("0x10zz", 4), value));
  EXPECT_EQ(value, 16.0);
}

TEST(YamlTags, ConvertOrRefuseScalars) {
  ExpectReads({Case{"a: !!str 5", "{a:'5'}"}, Case{"a: !!str", "{a:''}"},
               Case{"a: !!int 5", "{a:U5}"}, Case{"a: !!int '7'", "{a:U7}"},
               Case{"a: !!int -5", "{a:S-5}"}, Case{"a: !!int 0x10", "{a:U16}"},
               Case{"a: !!int 010", "{a:U8}"}, Case{"a: !!int", "{a:U0}"},
               Case{"a: !!int 18446744073709551615", "{a:U18446744073709551615}"},
               Case{"a: !!float 5", "{a:F5}"}, Case{"a: !!float -2.5", "{a:F-2.5}"},
               Case{"a: !!bool yes", "{a:true}"}, Case{"a: !!bool OFF", "{a:false}"},
               Case{"a: !!bool maybe", "{a:~}"},
               Case{"a: 1\na: !!bool maybe", "{a:U1}"},  // the target keeps what it held
               Case{"a: !<tag:yaml.org,2002:int> 3", "{a:U3}"},
               Case{"a: !!seq [1]", "{a:[U1]}"},  // tags on sequences and mappings are ignored
               Case{"a: !foo {b: 1}", "{a:{b:U1}}"}, Case{"!!str k: v", "{k:'v'}"}});
  ExpectFails("Value ",
              {Case{"a: !!int abc", "abc for 'yaml' of type uint64 is in an incorrect format"},
               Case{"a: !!int -abc", "-abc for 'yaml' of type int64 is in an incorrect format"},
               Case{"a: !!int 18446744073709551616",
                    "18446744073709551616 for 'yaml' of type uint64 is out of range"},
               Case{"a: !!int -9223372036854775809",
                    "-9223372036854775809 for 'yaml' of type int64 is out of range"},
               Case{"a: !!int 1.5", "1.5 for 'yaml' of type uint64 is in an incorrect format"},
               Case{"a: !!float 1e999", "1e999 for 'yaml' of type double is out of range"},
               Case{"a: !!float x", "x for 'yaml' of type double is in an incorrect format"}});
  ExpectFails("Unsupported YAML tag '",
              {Case{"a: !!null x", "tag:yaml.org,2002:null'."},
               Case{"a: !!null ~", "tag:yaml.org,2002:null'."}, Case{"a: !foo x", "!foo'."},
               Case{"a: ! x", "!'."}, Case{"a: !!binary aGk=", "tag:yaml.org,2002:binary'."}});
  // A key with a tag other than the string tag.
  ExpectFails(kInvalidKey, {Case{"!!int 1: x", "At line: 1 col: 1"},
                            Case{"a: 1\n!foo b: 2", "At line: 2 col: 1"}});
}

TEST(YamlMappings, KeysAreTextsAndRepeatedKeysReplace) {
  ExpectReads({Case{"1: x\ntrue: v\n~: z\n1.5: w", "{1:'x',1.5:'w',true:'v',~:'z'}"},
               Case{"b: 1\na: 2", "{a:U2,b:U1}"}, Case{"a: 1\na: 2", "{a:U2}"},
               Case{"a: {x: 1}\na: {y: 2}", "{a:{y:U2}}"}, Case{"a: [1, 2]\na: [3]", "{a:[U3]}"},
               Case{"a: [1]\na: 5", "{a:U5}"},
               Case{"a: {x: 1}\na: 5", "{a:U5}"},  // the new value, not a key of the old mapping
               Case{"a: {x: 1}\na: [1]", "{a:[U1]}"}, Case{"a: 5\na: ~", "{a:~}"},
               Case{"a: ~", "{a:~}"}, Case{"\"\": 1", "{:U1}"}, Case{"? \n: x", "{:'x'}"},
               Case{"{a, b: 2}", "{a:~,b:U2}"},
               Case{"- a: 1\n  b: [x, {c: d}]\n- []\n- {}", "[{a:U1,b:['x',{c:'d'}]},[],{}]"}});
}

TEST(YamlAliases, CopyTheAnchoredValue) {
  ExpectReads({
      Case{"a: &x 5\nb: *x", "{a:U5,b:U5}"},
      Case{"a: &m {x: 1, y: [2, 3]}\nb: *m", "{a:{x:U1,y:[U2,U3]},b:{x:U1,y:[U2,U3]}}"},
      Case{"- &x {k: v}\n- *x\n- *x", "[{k:'v'},{k:'v'},{k:'v'}]"},
      Case{"a: &e\nb: *e", "{a:~,b:~}"},
      Case{"&r [1, *r2]", "error: Undefined alias encountered: \"r2\". At line: 1 col: 8"},
      // An alias of a node that itself holds an alias.
      Case{"a: &a [1, 2]\nb: &b {list: *a}\nc: *b",
           "{a:[U1,U2],b:{list:[U1,U2]},c:{list:[U1,U2]}}"},
      // A full copy of the mapping as it stood when the alias was read.
      Case{"base: &b {x: 1}\nc: *b\nbase: {y: 2}", "{base:{y:U2},c:{x:U1}}"},
      // The path is followed when the alias is read: a replaced value is what it finds...
      Case{"base: &b {x: 1}\nbase: {y: 2}\nc: *b", "{base:{y:U2},c:{y:U2}}"},
      // ...and the shared empty value when the path leads nowhere any more.
      Case{"a: {b: &x 1}\na: 5\nc: *x", "{a:U5,c:~}"},
      // Paths through elements and members, however they nest.
      Case{"list: [{a: &x 1}, {b: *x}]", "{list:[{a:U1},{b:U1}]}"},
      Case{"a: [0, {b: [x, &y {c: 1}]}]\nd: *y", "{a:[U0,{b:['x',{c:U1}]}],d:{c:U1}}"},
      Case{"- - - &deep [1]\n- *deep", "[[[[U1]]],[U1]]"}, Case{"&root {a: 1}", "{a:U1}"},
      // A repeated key anchored again around aliases of its own old anchor copies the
      // collection being read, as it stands at each alias.
      Case{"a: &x 1\na: &y [*x, *x]", "{a:[[~],[[~],~]]}"},
      // Key anchors stand for their text.
      Case{"&k key: 1\nb: *k", "{b:'key',key:U1}"},
      Case{"&k key: 1\nother: {*k : 2}", "{key:U1,other:{key:U2}}"},
      Case{"x: &s hello\n*s : 2", "{hello:U2,x:'hello'}"},
      Case{"&k '5': 1\nb: *k", "{5:U1,b:'5'}"}  // a key's text, never resolved
  });
}

TEST(YamlAliases, FailWithTheirMessages) {
  ExpectFails("Cannot deserialize cyclic aliases. Alias ",
              {Case{"a: &x [ *x ]", "\"x\". At line: 1 col: 9"},
               Case{"a: &x {b: [1, *x]}", "\"x\". At line: 1 col: 15"},
               Case{"&x {*x : 1}", "\"x\". At line: 1 col: 5"},
               Case{"&m {a: {*m : 1}}", "\"m\". At line: 1 col: 9"}});
  // No anchor of the name before the alias (in key position too).
  ExpectFails("Undefined alias encountered: ",
              {Case{"a: *x", "\"x\". At line: 1 col: 4"},
               Case{"a: *x\nb: &x 1", "\"x\". At line: 1 col: 4"},
               Case{"{*k : 1}", "\"k\". At line: 1 col: 2"},
               Case{"a: 1\nb: [2, 3]\nc: *missing\n", "\"missing\". At line: 3 col: 4"}});
  // Anchors are defined once per text.
  ExpectFails("Duplicate occurrence of anchor ",
              {Case{"a: &x 1\nb: &x 2", "\"x\". At line: 2 col: 4"},
               Case{"a: &x [1]\nb: &x {c: 2}", "\"x\". At line: 2 col: 4"},
               Case{"&x a: 1\nb: &x 2", "\"x\". At line: 2 col: 4"},
               Case{"- &x 1\n- &x 1", "\"x\". At line: 2 col: 3"}});
  // An alias in key position stands for a text only.
  ExpectFails(kInvalidKey, {Case{"x: &n 5\n*n : 2", "At line: 2 col: 1"},
                            Case{"x: &m {a: 1}\n*m : 2", "At line: 2 col: 1"}});
}

TEST(YamlDocuments, EmptyTextsAreEmptyValuesAndASecondDocumentFails) {
  ExpectReads({Case{"", "~"}, Case{"# only a comment\n", "~"}, Case{"\n\n   \n", "~"},
               Case{"---\n", "~"}, Case{"--- 5\n...\n", "U5"}, Case{"a: 1\n...\n", "{a:U1}"},
               Case{"%YAML 1.1\n---\na: 1\n", "{a:U1}"}});
  EXPECT_EQ(Read(std::string_view()), "~");
  for (const char* text :
       {"---\na: 1\n---\nb: 2", "a: 1\n---\n", "---\n---\na: 1", "--- ~\n--- ~\n"}) {
    EXPECT_EQ(Read(text), "error: Multi-document YAML is not supported.") << text;
  }
}

// Structure errors give the position of their event; libyaml's errors its problem and position
// (an encoding error the position of its byte).
TEST(YamlMessages, ErrorsGiveTheirPositions) {
  ExpectFails("Unexpected start of ", {Case{"{[1]: x}", "sequence. At line: 1 col: 2"},
                                       Case{"? [1]\n: x", "sequence. At line: 1 col: 3"},
                                       Case{"{{a: 1}: x}", "mapping. At line: 1 col: 2"},
                                       Case{"a: 1\n? {b: 2}\n: x", "mapping. At line: 2 col: 3"}});
  ExpectFails(
      "YAML parser error: ",
      {Case{"a: [1, 2", "did not find expected ',' or ']'. At line: 1 col: 0"},
       Case{"a:\n\tb: 1", "found character that cannot start any token. At line: 1 col: 0"},
       Case{"a: 'x", "found unexpected end of stream. At line: 0 col: 5"},
       Case{"a: b: c", "mapping values are not allowed in this context. At line: 0 col: 4"},
       Case{"- a\nb: c", "did not find expected '-' indicator. At line: 1 col: 0"},
       Case{"]", "did not find expected node content. At line: 0 col: 0"},
       // Encoding errors give the position of their byte.
       Case{"a: 1\nb: \xFF\n", "invalid leading UTF-8 octet. At line: 1 col: 3"},
       Case{"\xFF", "invalid leading UTF-8 octet. At line: 0 col: 0"},
       Case{"a: \xC3\xA9\xC3\xA9 \xC3", "incomplete UTF-8 octet sequence. At line: 0 col: 6"},
       Case{"a: x\r\nb: \xC0\xAF", "invalid length of a UTF-8 sequence. At line: 1 col: 3"},
       Case{"a: x\rb: \x01", "control characters are not allowed. At line: 1 col: 3"},
       Case{"a:\n  - \xED\xA0\x80", "invalid Unicode character. At line: 1 col: 4"},
       // A NUL inside the given bytes is a control character, not the end of the text.
       Case{std::string("a: 1\0b: 2", 9),
            "control characters are not allowed. At line: 0 col: 4"}});
}

// Inputs that must fail with a parser error, whatever the exact problem, without crashing,
// leaking or reading past their end (the sanitizer build checks the last two). Those with an
// exact message are above.
TEST(YamlMalformed, CorpusFailsCleanly) {
  const std::string corpus[] = {
      // Cut short, stray and mismatched brackets, anchors and aliases without names.
      "{a: 1", "a: \"x", "- [", "[", "{", "&", "*", "!<", "a: &", "a: *", "}", "[a, b]]", "{a: [}]",
      "a: !<", "key: [a, {b: c, d: [e, f}]]", "&a &b x", "a:\n  - b\n - c", "%YAML 9.9\n---\na",
      "%FOO\n", "'\\", "\"\\q\"", "a: \"\\x4\"", "\t",
      // Invalid UTF-8 and control characters.
      "a: \xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a: 1\n\x01"};
  for (const std::string& text : corpus) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Read(text).rfind("error: YAML parser error: ", 0), 0u) << Read(text);
  }
}

// Every prefix of a document that uses every construct, and deterministic byte mutations of
// it, either reads or fails with one of the reader's messages: nothing crashes, hangs or
// leaks (the sanitizer build runs this too).
TEST(YamlMalformed, PrefixesAndMutationsFailCleanly) {
  const std::string document =
      "%YAML 1.1\n---\nname: &n \"Ada\\u00e9\"\nlist: [1, -2, 3.5, 0x1F, ~, yes, 'q']\n"
      "map: &m\n  key: !!str 10\n  ? complex\n  : value\n  nested: {a: [*n, {b: *n}]}\n"
      "copy: *m\nblock: |\n  text\n  more\nfolded: >-\n  a\n  b\n&k anchored: 1\nref: *k\n"
      "tags: [!!int '7', !!float '1.5', !!bool on]\n...\n";
  const BindingResult whole = ParseYaml(document);
  ASSERT_TRUE(whole.Ok()) << whole.ErrorText();
  EXPECT_EQ(DumpOf(whole.value.Member("copy")),
            "{complex:'value',key:'10',nested:{a:['Ada\xC3\xA9',{b:'Ada\xC3\xA9'}]}}");
  EXPECT_EQ(DumpOf(whole.value.Member("ref")), "'anchored'");

  const auto expectClean = [](std::string_view text) {
    const BindingResult result = ParseYaml(text);
    if (!result.Ok()) {
      const std::string message(result.ErrorText());
      const bool known =
          message.rfind("YAML parser error: ", 0) == 0 || message.rfind("Multi-document", 0) == 0 ||
          message.find("At line: ") != std::string::npos ||
          message.rfind("Unsupported YAML tag", 0) == 0 || message.rfind("Value ", 0) == 0;
      EXPECT_TRUE(known) << "text: " << text << " message: " << message;
    }
  };
  for (std::size_t size = 0; size <= document.size(); ++size) {
    expectClean(std::string_view(document).substr(0, size));
  }
  std::mt19937 random(7);
  const char replacements[] = {'[',  ']',  '{', '}', ':', '-', '&', '*',  '!',    '\'',   '"',
                               '\n', '\t', ' ', '#', '?', '|', '>', '\0', '\x80', '\xFF', 'a'};
  for (int i = 0; i < 3000; ++i) {
    std::string mutated = document;
    for (int j = 0; j < 3; ++j) {
      mutated[random() % mutated.size()] = replacements[random() % sizeof replacements];
    }
    expectClean(mutated);
  }
}

TEST(YamlLimits, NestingStopsAtTheLimit) {
  // Nesting up to the limit is read, a million levels stop at the one past it.
  ExpectReads({Case{Repeat("[", 512) + "7" + Repeat("]", 512),
                    Repeat("[", 512) + "U7" + Repeat("]", 512)}});
  ExpectFails("Sequences and mappings are nested deeper than 512 levels. ",
              {Case{Repeat("[", 1000000), "At line: 1 col: 513"},
               Case{Repeat("{a: ", 1000000), "At line: 1 col: 2049"},
               Case{Repeat("- ", 1000000) + "x", "At line: 1 col: 1025"},
               Case{Repeat("[", 513) + Repeat("]", 513), "At line: 1 col: 513"}});
  // An anchored value 300 levels deep may be copied at a depth of 211 but not of 212 (the alias
  // is on line 2 after "b: " and the brackets).
  const std::string deep = "a: &d " + Repeat("[", 300) + Repeat("]", 300) + "\n";
  ExpectReads({Case{deep + "b: " + Repeat("[", 211) + "*d" + Repeat("]", 211) + "\n",
                    "{a:" + Repeat("[", 300) + Repeat("]", 300) + ",b:" + Repeat("[", 511) +
                        Repeat("]", 511) + "}"}});
  ExpectFails("Alias \"d\" would nest sequences and mappings deeper than 512 levels. ",
              {Case{deep + "b: " + Repeat("[", 212) + "*d" + Repeat("]", 212) + "\n",
                    "At line: 2 col: 216"}});
}

TEST(YamlLimits, AliasesThatCopyTooMuchFail) {
  // "Billion laughs": nine copies of the level before, nine levels deep, 9^9 strings from a few
  // hundred bytes.
  std::string laughs =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    const std::string previous = std::string("*") + static_cast<char>(level - 1);
    laughs += std::string(1, level) + ": &" + level + " [" + previous;
    laughs += Repeat("," + previous, 8) + "]\n";
  }
  // Copies so far: b 9 x 10, c 9 x 91, d 9 x 820, e 9 x 7381 = 74718 values; each *e copies
  // 66430, and the third one in f (line 6) passes the 262144 allowed.
  EXPECT_EQ(
      Read(laughs),
      "error: Alias \"e\" would make aliases copy more than 262144 values. At line: 6 col: 14");
  // Each alias copies the collection that holds all earlier copies: sizes double. The k-th copy
  // holds 2^(k+1) values; after 17 copies 2^18 - 2 are spent, and the 18th fails.
  const std::string doubling = "a: &x 1\na: &y [" + Repeat("*x, ", 40) + "*x]";
  EXPECT_EQ(
      Read(doubling),
      "error: Alias \"x\" would make aliases copy more than 262144 values. At line: 2 col: 76");
}

TEST(YamlLimits, TheCopyBudgetGrowsWithTheText) {
  EXPECT_EQ(YamlAliasCopyBudget(0), kYamlAliasCopyFloor);
  EXPECT_EQ(YamlAliasCopyBudget(kYamlAliasCopyFloor + 1), kYamlAliasCopyFloor + 1);
  // 2,000 aliases of a 101-value sequence: 202,000 copied values, within the floor.
  const std::string base = "base: &b [" + Repeat("1, ", 99) + "1]\nuses:\n";
  const BindingResult moderate = ParseYaml(base + Repeat("  - *b\n", 2000));
  ASSERT_TRUE(moderate.Ok()) << moderate.ErrorText();
  EXPECT_EQ(moderate.value.Member("uses").Size(), 2000u);
  EXPECT_EQ(moderate.value.Member("uses").ElementAt(1999), moderate.value.Member("base"));
  // 3,000 pass the floor: refused in a short text...
  const std::string uses = base + Repeat("  - *b\n", 3000);
  EXPECT_NE(Read(uses).find("would make aliases copy more than 262144 values"), std::string::npos);
  // ...read when the text is long enough to have described them itself.
  const std::string padded = uses + "pad: '" + std::string(400000, 'p') + "'\n";
  EXPECT_TRUE(ParseYaml(padded).Ok()) << Read(padded);
}

}  // namespace
}  // namespace Vexa
