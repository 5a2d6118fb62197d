// The YAML reader: scalar resolution, tags, anchors and aliases, documents, every message with
// its position, malformed input and the limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/yaml.h"
#include "codecs/yaml_number.h"

namespace Vexa {
namespace {

// A compact text of a value, so that tables can state whole trees: ~ empty, true/false,
// S-5 signed, U5 unsigned, F5.5 float (%.17g), 'x' string, [a,b] collection, {k:v} structure.
class Dump final : public BindingVisitor {
 public:
  void VisitEmpty() override { out_ += "~"; }
  void VisitBool(bool value) override { out_ += value ? "true" : "false"; }
  void VisitSigned(int64_t value) override { out_ += "S" + std::to_string(value); }
  void VisitUnsigned(uint64_t value) override { out_ += "U" + std::to_string(value); }
  void VisitFloat(double value) override {
    char text[64];
    std::snprintf(text, sizeof text, "F%.17g", value);
    out_ += text;
  }
  void VisitString(std::string_view value) override {
    out_ += "'";
    out_ += value;
    out_ += "'";
  }
  void BeginCollection(std::size_t) override { out_ += "["; }
  void BeginElement(std::size_t index) override {
    if (index != 0) {
      out_ += ",";
    }
  }
  void EndCollection() override { out_ += "]"; }
  void BeginStructure(std::size_t) override {
    out_ += "{";
    first_ = true;
  }
  void BeginMember(std::string_view key) override {
    if (!first_) {
      out_ += ",";
    }
    first_ = false;
    out_ += key;
    out_ += ":";
  }
  void EndStructure() override {
    out_ += "}";
    first_ = false;
  }
  void EndMember() override {}

  [[nodiscard]] const std::string& Text() const { return out_; }

 private:
  std::string out_;
  bool first_ = false;
};

std::string DumpOf(const BindingProperty& value) {
  Dump dump;
  value.Visit(dump);
  return dump.Text();
}

// The tree of a text that must read, as a dump; the error text when it does not.
std::string Read(std::string_view text) {
  const BindingResult result = ParseYaml(text);
  if (!result) {
    return "error: " + std::string(result.ErrorText());
  }
  return DumpOf(result.value);
}

// The message of a text that must fail; "(read)" when it reads.
std::string ErrorOf(std::string_view text) {
  const BindingResult result = ParseYaml(text);
  return result ? std::string("(read)") : std::string(result.ErrorText());
}

std::string Repeat(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += piece;
  }
  return text;
}

// "At line: L col: C" of the byte at `offset` of a text without multi-byte characters.
std::string PositionOfOffset(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "At line: " + std::to_string(line) + " col: " + std::to_string(column);
}

// The offset of the n-th (from 0) occurrence of `piece` at or after `from`.
std::size_t NthOffset(std::string_view text, std::string_view piece, std::size_t n,
                      std::size_t from = 0) {
  std::size_t at = text.find(piece, from);
  for (; n > 0 && at != std::string_view::npos; --n) {
    at = text.find(piece, at + 1);
  }
  return at;
}

struct Case {
  const char* text;
  const char* expected;
};

void ExpectReads(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.text), c.expected) << "text: " << c.text;
  }
}

void ExpectFails(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf(c.text), c.expected) << "text: " << c.text;
  }
}

// --- Plain scalars ---

TEST(YamlPlainScalar, ResolvesEmptyNumbersBoolsAndStrings) {
  ExpectReads({
      {"a:", "{a:~}"},
      {"~", "~"},
      {"null", "~"},
      {"Null", "~"},
      {"NULL", "~"},
      {"nULL", "'nULL'"},
      {"5", "U5"},
      {"-5", "S-5"},
      {"+5", "U5"},
      {"5.5", "F5.5"},
      {"0x10", "U16"},
      {"-0x10", "S-16"},
      {"010", "U10"},  // strtod reads no octal
      {"1e3", "U1000"},
      {"1.0", "U1"},
      {"1.", "U1"},
      {".5", "F0.5"},
      {"-0", "U0"},
      {"-0.0", "U0"},
      {"1e-400", "U0"},
      {"1e", "'1e'"},
      {"1e+", "'1e+'"},
      {"12abc", "'12abc'"},
      {"1_000", "'1_000'"},
      {"0x", "'0x'"},
      {"1 2", "'1 2'"},
      {".", "'.'"},
      {"nan", "Fnan"},
      {"inf", "'inf'"},
      {"Infinity", "'Infinity'"},
      {"1e999", "'1e999'"},
      {"-inf", "F-inf"},
      {"-1e999", "F-inf"},
      {"1e20", "F1e+20"},
      {"-1e19", "F-1e+19"},
      {"18446744073709551615", "U18446744073709551615"},
      {"18446744073709551616", "F1.8446744073709552e+19"},
      {"-9223372036854775808", "S-9223372036854775808"},
      {"-9223372036854775809", "F-9.2233720368547758e+18"},
      {"9007199254740993", "U9007199254740993"},  // every digit kept
      {"0000000000000000000000042", "U42"},       // long, but within 64 bits
      {"-000000000000000000009223372036854775808", "S-9223372036854775808"},
      {"1.5e300", "F1.5000000000000001e+300"},
  });
}

TEST(YamlPlainScalar, BoolLiteralsAreExactAndCaseSensitive) {
  for (const char* text :
       {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"}) {
    EXPECT_EQ(Read(text), "true") << text;
  }
  for (const char* text :
       {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"}) {
    EXPECT_EQ(Read(text), "false") << text;
  }
  for (const char* text : {"YeS", "tRUE", "oN", "nO", "fALSE", "yess", "t", "f", "1b"}) {
    EXPECT_EQ(Read(text), std::string("'") + text + "'") << text;
  }
}

TEST(YamlPlainScalar, QuotedAndBlockScalarsFollowTheirStyle) {
  ExpectReads({
      {"a: '5'", "{a:'5'}"},
      {"a: \"yes\"", "{a:'yes'}"},
      {"a: '~'", "{a:'~'}"},
      {"a: ''", "{a:''}"},
      {"a: |\n  5\n", "{a:'5\n'}"},  // literal style is not quoted, but the break stays
      {"a: |-\n  5\n", "{a:U5}"},
      {"a: >-\n  yes\n", "{a:true}"},
      {"a: \"x\\0y\"", "{a:'x'}"},  // texts end at their first NUL
      {"a: caf\xC3\xA9", "{a:'caf\xC3\xA9'}"},
  });
}

// The number reader must accept exactly what strtod consumes entirely, with its value.
TEST(YamlNumberReader, AgreesWithStrtod) {
  std::vector<std::string> texts = {
      "0",
      "-0",
      "+0",
      "1",
      "12",
      "1.",
      ".5",
      "-.5",
      "+.5e-3",
      "1e5",
      "1E+5",
      "1e-5",
      "1e",
      "1e+",
      ".",
      "-",
      "+",
      "",
      "--5",
      "+-5",
      "1.2.3",
      "00012",
      "0.1",
      "0.3",
      "1e400",
      "-1e400",
      "1e-400",
      "4.9e-324",
      "2.4e-324",
      "1.7976931348623157e308",
      "1.7976931348623159e308",
      "123456789012345678901234567890",
      "0.000000000000000000000000000001",
      "0x",
      "0xg",
      "0x10",
      "-0x10",
      "0x1p3",
      "0x.8",
      "0X1P-2",
      "0x1.8",
      "inf",
      "-inf",
      "INF",
      "Infinity",
      "infin",
      "infinity",
      "nan",
      "-nan",
      "NaN",
      "nan(123)",
      "nan(",
      "nan()",
      " 5",
      "\t5",
      "5 ",
      "\n1",
      "9007199254740993",
      "2.2250738585072011e-308",
      "1e0000000000000000001",
      // Around the exact fast path: significands near 2^53, exponents near 10^22.
      "9007199254740992e-3",
      "9007199254740993e-3",
      "900719925474099.3",
      "1e22",
      "1e23",
      "1e-22",
      "1e-23",
      "4.35e-22",
      "123456789012345e22",
      "0.1e23",
      "-65.61361699999998",
      "43.42027300000001",
      "1.00000000000000000000",
      "0.000000000000000000000000000017",
  };
  // Well-formed decimals of every length, point position and exponent.
  std::mt19937 decimals(99);
  for (int i = 0; i < 20000; ++i) {
    std::string text = decimals() % 4 == 0 ? "-" : "";
    const std::size_t digits = 1 + decimals() % 20;
    const std::size_t point = decimals() % (digits + 2);
    for (std::size_t j = 0; j < digits; ++j) {
      if (j == point) {
        text += '.';
      }
      text += static_cast<char>('0' + decimals() % 10);
    }
    if (decimals() % 2 == 0) {
      text += "e" + std::to_string(static_cast<int>(decimals() % 70) - 35);
    }
    texts.push_back(text);
  }
  std::mt19937 random(20240601);
  const std::string alphabet = "0123456789.eE+-xXpPaAfFinINnN ()";
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const std::size_t length = 1 + random() % 12;
    for (std::size_t j = 0; j < length; ++j) {
      text += alphabet[random() % alphabet.size()];
    }
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
}

TEST(YamlNumberReader, NeedsNoNulAfterTheText) {
  const std::string_view text("12.5e1xyz", 6);  // "12.5e1"
  double value = 0.0;
  ASSERT_TRUE(ReadYamlNumber(text, value));
  EXPECT_EQ(value, 125.0);
  ASSERT_TRUE(ReadYamlNumber(std::string_view("0x10zz", 4), value));
  EXPECT_EQ(value, 16.0);
}

// --- Tags ---

TEST(YamlTags, ConvertOrRefuseScalars) {
  ExpectReads({
      {"a: !!str 5", "{a:'5'}"},
      {"a: !!str", "{a:''}"},
      {"a: !!int 5", "{a:U5}"},
      {"a: !!int '7'", "{a:U7}"},
      {"a: !!int -5", "{a:S-5}"},
      {"a: !!int 0x10", "{a:U16}"},
      {"a: !!int 010", "{a:U8}"},
      {"a: !!int", "{a:U0}"},
      {"a: !!int 18446744073709551615", "{a:U18446744073709551615}"},
      {"a: !!float 5", "{a:F5}"},
      {"a: !!float -2.5", "{a:F-2.5}"},
      {"a: !!bool yes", "{a:true}"},
      {"a: !!bool OFF", "{a:false}"},
      {"a: !!bool maybe", "{a:~}"},
      {"a: 1\na: !!bool maybe", "{a:U1}"},  // the target keeps what it held
      {"a: !<tag:yaml.org,2002:int> 3", "{a:U3}"},
      {"a: !!seq [1]", "{a:[U1]}"},  // tags on sequences and mappings are ignored
      {"a: !foo {b: 1}", "{a:{b:U1}}"},
      {"!!str k: v", "{k:'v'}"},
  });
}

TEST(YamlTags, FailWithTheirMessages) {
  ExpectFails({
      {"a: !!int abc", "Value abc for 'yaml' of type uint64 is in an incorrect format"},
      {"a: !!int -abc", "Value -abc for 'yaml' of type int64 is in an incorrect format"},
      {"a: !!int 18446744073709551616",
       "Value 18446744073709551616 for 'yaml' of type uint64 is out of range"},
      {"a: !!int -9223372036854775809",
       "Value -9223372036854775809 for 'yaml' of type int64 is out of range"},
      {"a: !!int 1.5", "Value 1.5 for 'yaml' of type uint64 is in an incorrect format"},
      {"a: !!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"a: !!float x", "Value x for 'yaml' of type double is in an incorrect format"},
      {"a: !!null x", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a: !!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a: !foo x", "Unsupported YAML tag '!foo'."},
      {"a: ! x", "Unsupported YAML tag '!'."},
      {"a: !!binary aGk=", "Unsupported YAML tag 'tag:yaml.org,2002:binary'."},
      {"!!int 1: x", "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"a: 1\n!foo b: 2",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
  });
}

// --- Mappings ---

TEST(YamlMappings, KeysAreTextsAndRepeatedKeysReplace) {
  ExpectReads({
      {"1: x\ntrue: v\n~: z\n1.5: w", "{1:'x',1.5:'w',true:'v',~:'z'}"},
      {"b: 1\na: 2", "{a:U2,b:U1}"},
      {"a: 1\na: 2", "{a:U2}"},
      {"a: {x: 1}\na: {y: 2}", "{a:{y:U2}}"},
      {"a: [1, 2]\na: [3]", "{a:[U3]}"},
      {"a: [1]\na: 5", "{a:U5}"},
      {"a: {x: 1}\na: 5", "{a:U5}"},  // the new value, not a key of the old mapping
      {"a: {x: 1}\na: [1]", "{a:[U1]}"},
      {"a: 5\na: ~", "{a:~}"},
      {"a: ~", "{a:~}"},
      {"\"\": 1", "{:U1}"},
      {"? \n: x", "{:'x'}"},
      {"{a, b: 2}", "{a:~,b:U2}"},
      {"- a: 1\n  b: [x, {c: d}]\n- []\n- {}", "[{a:U1,b:['x',{c:'d'}]},[],{}]"},
  });
}

// --- Anchors and aliases ---

TEST(YamlAliases, CopyTheAnchoredValue) {
  ExpectReads({
      {"a: &x 5\nb: *x", "{a:U5,b:U5}"},
      {"a: &m {x: 1, y: [2, 3]}\nb: *m", "{a:{x:U1,y:[U2,U3]},b:{x:U1,y:[U2,U3]}}"},
      {"- &x {k: v}\n- *x\n- *x", "[{k:'v'},{k:'v'},{k:'v'}]"},
      {"a: &e\nb: *e", "{a:~,b:~}"},
      {"&r [1, *r2]", "error: Undefined alias encountered: \"r2\". At line: 1 col: 8"},
      // An alias of a node that itself holds an alias.
      {"a: &a [1, 2]\nb: &b {list: *a}\nc: *b", "{a:[U1,U2],b:{list:[U1,U2]},c:{list:[U1,U2]}}"},
      // A full copy of the mapping as it stood when the alias was read.
      {"base: &b {x: 1}\nc: *b\nbase: {y: 2}", "{base:{y:U2},c:{x:U1}}"},
      // The path is followed when the alias is read: a replaced value is what it finds...
      {"base: &b {x: 1}\nbase: {y: 2}\nc: *b", "{base:{y:U2},c:{y:U2}}"},
      // ...and the shared empty value when the path leads nowhere any more.
      {"a: {b: &x 1}\na: 5\nc: *x", "{a:U5,c:~}"},
      // Paths through elements and members, however they nest.
      {"list: [{a: &x 1}, {b: *x}]", "{list:[{a:U1},{b:U1}]}"},
      {"a: [0, {b: [x, &y {c: 1}]}]\nd: *y", "{a:[U0,{b:['x',{c:U1}]}],d:{c:U1}}"},
      {"- - - &deep [1]\n- *deep", "[[[[U1]]],[U1]]"},
      {"&root {a: 1}", "{a:U1}"},
      // A repeated key anchored again around aliases of its own old anchor copies the
      // collection being read, as it stands at each alias.
      {"a: &x 1\na: &y [*x, *x]", "{a:[[~],[[~],~]]}"},
  });
}

TEST(YamlAliases, KeyAnchorsStandForTheirText) {
  ExpectReads({
      {"&k key: 1\nb: *k", "{b:'key',key:U1}"},
      {"&k key: 1\nother: {*k : 2}", "{key:U1,other:{key:U2}}"},
      {"x: &s hello\n*s : 2", "{hello:U2,x:'hello'}"},
      {"&k '5': 1\nb: *k", "{5:U1,b:'5'}"},  // a key's text, never resolved
  });
  ExpectFails({
      {"x: &n 5\n*n : 2",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"x: &m {a: 1}\n*m : 2",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
  });
}

TEST(YamlAliases, KeyAliasesFailLikeOtherAliases) {
  ExpectFails({
      {"{*k : 1}", "Undefined alias encountered: \"k\". At line: 1 col: 2"},
      {"&m {a: {*m : 1}}", "Cannot deserialize cyclic aliases. Alias \"m\". At line: 1 col: 9"},
  });
}

TEST(YamlAliases, FailWithTheirMessages) {
  ExpectFails({
      {"a: &x [ *x ]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 9"},
      {"a: &x {b: [1, *x]}", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 15"},
      {"&x {*x : 1}", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 5"},
      {"a: *x", "Undefined alias encountered: \"x\". At line: 1 col: 4"},
      // Alias before its anchor.
      {"a: *x\nb: &x 1", "Undefined alias encountered: \"x\". At line: 1 col: 4"},
      // Anchors are defined once per text.
      {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"a: &x [1]\nb: &x {c: 2}", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"- &x 1\n- &x 1", "Duplicate occurrence of anchor \"x\". At line: 2 col: 3"},
  });
}

// --- Documents ---

TEST(YamlDocuments, EmptyTextsAreEmptyValues) {
  ExpectReads({
      {"", "~"},
      {"# only a comment\n", "~"},
      {"\n\n   \n", "~"},
      {"---\n", "~"},
      {"--- 5\n...\n", "U5"},
      {"a: 1\n...\n", "{a:U1}"},
      {"%YAML 1.1\n---\na: 1\n", "{a:U1}"},
  });
  const BindingResult empty = ParseYaml(std::string_view());
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.value.IsEmpty());
}

TEST(YamlDocuments, ASecondDocumentFails) {
  ExpectFails({
      {"---\na: 1\n---\nb: 2", "Multi-document YAML is not supported."},
      {"a: 1\n---\n", "Multi-document YAML is not supported."},
      {"---\n---\na: 1", "Multi-document YAML is not supported."},
      {"--- ~\n--- ~\n", "Multi-document YAML is not supported."},
  });
}

TEST(YamlFailures, KeepNothingOfThePartlyReadValue) {
  const BindingResult result = ParseYaml("a: 1\nb: [2, 3]\nc: *missing\n");
  ASSERT_FALSE(result.ok);
  EXPECT_EQ(DumpOf(result.value),
            "{error:'Undefined alias encountered: \"missing\". At line: 3 col: 4'}");
}

// --- Structure errors and libyaml's errors, with their positions ---

TEST(YamlMessages, StructureErrorsGiveTheEventPosition) {
  ExpectFails({
      {"{[1]: x}", "Unexpected start of sequence. At line: 1 col: 2"},
      {"? [1]\n: x", "Unexpected start of sequence. At line: 1 col: 3"},
      {"{{a: 1}: x}", "Unexpected start of mapping. At line: 1 col: 2"},
      {"a: 1\n? {b: 2}\n: x", "Unexpected start of mapping. At line: 2 col: 3"},
  });
}

TEST(YamlMessages, ParserErrorsGiveLibyamlsProblemAndPosition) {
  ExpectFails({
      {"a: [1, 2", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a:\n\tb: 1",
       "YAML parser error: found character that cannot start any token. At line: 1 col: 0"},
      {"a: 'x", "YAML parser error: found unexpected end of stream. At line: 0 col: 5"},
      {"a: b: c",
       "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      {"- a\nb: c", "YAML parser error: did not find expected '-' indicator. At line: 1 col: 0"},
      {"]", "YAML parser error: did not find expected node content. At line: 0 col: 0"},
  });
}

TEST(YamlMessages, EncodingErrorsGiveThePositionOfTheirByte) {
  ExpectFails({
      {"a: 1\nb: \xFF\n", "YAML parser error: invalid leading UTF-8 octet. At line: 1 col: 3"},
      {"\xFF", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
      {"a: \xC3\xA9\xC3\xA9 \xC3",
       "YAML parser error: incomplete UTF-8 octet sequence. At line: 0 col: 6"},
      {"a: x\r\nb: \xC0\xAF",
       "YAML parser error: invalid length of a UTF-8 sequence. At line: 1 col: 3"},
      {"a: x\rb: \x01", "YAML parser error: control characters are not allowed. At line: 1 col: 3"},
      {"a:\n  - \xED\xA0\x80", "YAML parser error: invalid Unicode character. At line: 1 col: 4"},
  });
  // A NUL inside the given bytes is a control character, not the end of the text.
  EXPECT_EQ(ErrorOf(std::string_view("a: 1\0b: 2", 9)),
            "YAML parser error: control characters are not allowed. At line: 0 col: 4");
}

// Inputs that must fail with a parser error, whatever the exact problem, without crashing,
// leaking or reading past their end (the sanitizer build checks the last two).
TEST(YamlMalformed, CorpusFailsCleanly) {
  const std::vector<std::string> corpus = {
      "a: [1, 2",
      "{a: 1",
      "a: 'x",
      "a: \"x",
      "- [",
      "[",
      "{",
      "&",
      "*",
      "!<",
      "a: &",
      "a: *",
      "\xFF",
      "a: \xC3",
      "\xE2\x82",
      "\xC0\xAF",
      "\xED\xA0\x80",
      "\xF4\x90\x80\x80",
      "a:\n\tb: 1",
      "a: 1\n\x01",
      std::string("a: 1\0b: 2", 9),
      "]",
      "}",
      "a: b: c",
      "- a\nb: c",
      "%YAML 9.9\n---\na",
      "%FOO\n",
      "'\\",
      "\"\\q\"",
      "[a, b]]",
      "{a: [}]",
      "a: !<",
      "a: \"\\x4\"",
      "\t",
      "key: [a, {b: c, d: [e, f}]]",
      "&a &b x",
      "a:\n  - b\n - c",
  };
  for (const std::string& text : corpus) {
    const BindingResult result = ParseYaml(text);
    EXPECT_FALSE(result.ok) << "text: " << text;
    EXPECT_EQ(std::string(result.ErrorText()).rfind("YAML parser error: ", 0), 0u)
        << "text: " << text << " message: " << result.ErrorText();
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
  ASSERT_TRUE(whole.ok) << whole.ErrorText();
  EXPECT_EQ(DumpOf(whole.value.Member("copy")),
            "{complex:'value',key:'10',nested:{a:['Ada\xC3\xA9',{b:'Ada\xC3\xA9'}]}}");
  EXPECT_EQ(DumpOf(whole.value.Member("ref")), "'anchored'");

  const auto expectClean = [](std::string_view text) {
    const BindingResult result = ParseYaml(text);
    if (!result.ok) {
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

// --- Limits ---

TEST(YamlLimits, AMillionNestedFlowSequencesStopAtTheLimit) {
  const std::string text = Repeat("[", 1000000);
  EXPECT_EQ(ErrorOf(text),
            "Sequences and mappings are nested deeper than 512 levels. At line: 1 col: 513");
}

TEST(YamlLimits, AMillionNestedFlowMappingsStopAtTheLimit) {
  const std::string text = Repeat("{a: ", 1000000);
  EXPECT_EQ(ErrorOf(text),
            "Sequences and mappings are nested deeper than 512 levels. At line: 1 col: 2049");
}

TEST(YamlLimits, AMillionNestedBlockSequencesStopAtTheLimit) {
  const std::string text = Repeat("- ", 1000000) + "x";
  EXPECT_EQ(ErrorOf(text),
            "Sequences and mappings are nested deeper than 512 levels. At line: 1 col: 1025");
}

TEST(YamlLimits, NestingUpToTheLimitIsRead) {
  const BindingResult result = ParseYaml(Repeat("[", 512) + "7" + Repeat("]", 512));
  ASSERT_TRUE(result.ok) << result.ErrorText();
  const BindingProperty* value = &result.value;
  for (int level = 0; level < 512; ++level) {
    ASSERT_EQ(value->Kind(), BindingPropertyKind::Collection) << level;
    value = &value->ElementAt(0);
  }
  EXPECT_EQ(value->GetUnsigned(), 7u);
  EXPECT_EQ(ErrorOf(Repeat("[", 513) + Repeat("]", 513)),
            "Sequences and mappings are nested deeper than 512 levels. At line: 1 col: 513");
}

TEST(YamlLimits, AnAliasMayNotNestItsCopyBeyondTheLimit) {
  // An anchored value 300 levels deep, copied at a depth of 300.
  const std::string deep = "a: &d " + Repeat("[", 300) + Repeat("]", 300) + "\n";
  const std::string fits = deep + "b: " + Repeat("[", 211) + "*d" + Repeat("]", 211) + "\n";
  EXPECT_TRUE(ParseYaml(fits).ok) << ErrorOf(fits);
  const std::string tooDeep = deep + "b: " + Repeat("[", 212) + "*d" + Repeat("]", 212) + "\n";
  EXPECT_EQ(ErrorOf(tooDeep),
            "Alias \"d\" would nest sequences and mappings deeper than 512 levels. " +
                PositionOfOffset(tooDeep, tooDeep.find("*d")));
}

TEST(YamlLimits, BillionLaughsFail) {
  // Nine copies of the level before, nine levels deep: 9^9 strings from a few hundred bytes.
  std::string text =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    const std::string previous = std::string("*") + static_cast<char>(level - 1);
    text += std::string(1, level) + ": &" + level + " [";
    for (int i = 0; i < 9; ++i) {
      text += (i == 0 ? "" : ",") + previous;
    }
    text += "]\n";
  }
  // Copies so far: b 9 x 10, c 9 x 91, d 9 x 820, e 9 x 7381 = 74718 values; each *e copies
  // 66430, and the third one in f passes the 262144 allowed.
  const std::size_t failing = NthOffset(text, "*e", 2, text.find("f: "));
  EXPECT_EQ(ErrorOf(text), "Alias \"e\" would make aliases copy more than 262144 values. " +
                               PositionOfOffset(text, failing));
}

TEST(YamlLimits, SelfCopyingRepeatedKeysFail) {
  // Each alias copies the collection that holds all earlier copies: sizes double.
  const std::string text = "a: &x 1\na: &y [" + Repeat("*x, ", 40) + "*x]";
  // The k-th copy holds 2^(k+1) values; after 17 copies 2^18 - 2 are spent.
  EXPECT_EQ(ErrorOf(text), "Alias \"x\" would make aliases copy more than 262144 values. " +
                               PositionOfOffset(text, NthOffset(text, "*x", 17)));
}

TEST(YamlLimits, ModerateReuseOfAnchorsIsRead) {
  // 2,000 aliases of a 101-value sequence: 202,000 copied values, within the floor.
  std::string text = "base: &b [" + Repeat("1, ", 99) + "1]\nuses:\n";
  text += Repeat("  - *b\n", 2000);
  const BindingResult result = ParseYaml(text);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.Member("uses").Size(), 2000u);
  EXPECT_EQ(result.value.Member("uses").ElementAt(1999), result.value.Member("base"));
}

TEST(YamlLimits, TheCopyBudgetGrowsWithTheText) {
  EXPECT_EQ(YamlAliasCopyBudget(0), kYamlAliasCopyFloor);
  EXPECT_EQ(YamlAliasCopyBudget(kYamlAliasCopyFloor + 1), kYamlAliasCopyFloor + 1);
  // 3,000 aliases of 101 values pass the floor: refused in a short text...
  const std::string uses =
      "base: &b [" + Repeat("1, ", 99) + "1]\nuses:\n" + Repeat("  - *b\n", 3000);
  EXPECT_NE(ErrorOf(uses).find("would make aliases copy more than 262144 values"),
            std::string::npos);
  // ...read when the text is long enough to have described them itself.
  const std::string padded = uses + "pad: '" + std::string(400000, 'p') + "'\n";
  EXPECT_TRUE(ParseYaml(padded).ok) << ErrorOf(padded);
}

}  // namespace
}  // namespace Vexa
