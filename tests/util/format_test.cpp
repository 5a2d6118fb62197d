#include "util/format.h"
#include "util/format_internal.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

using Vexa::Format;

template <typename T>
std::string Printf(const std::string& placeholder, T value) {
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), placeholder.c_str(), value);
  return buffer;
}

// printf is the oracle: "%1" renders as the type's default conversion, and every body of
// flags, width and precision with every conversion the type allows renders as printf would,
// in the counted and in the explicit form.
template <typename T>
void ExpectMatchesPrintf(const char* conversions, const char* modifier,
                         std::initializer_list<T> values) {
  static const char* const kBodies[] = {"",   "-",   "+",  " ",   "0",    "5",   "-6",
                                        "08", "+07", ".3", "8.3", "-9.2", "+.0", " 012.4"};
  for (const T value : values) {
    EXPECT_EQ(Format("%1", value), Printf(std::string("%") + modifier + conversions[0], value));
    for (const std::string body : kBodies) {
      for (const char* c = conversions; *c != '\0'; ++c) {
        const std::string expected = Printf("%" + body + modifier + *c, value);
        EXPECT_EQ(Format(("%" + body + *c).c_str(), value), expected) << body << *c;
        EXPECT_EQ(Format(("%1$" + body + *c).c_str(), value), expected) << body << *c;
      }
    }
  }
}

// A type with a text form of its own, as later records opt in.
struct Version {
  unsigned major, minor, patch;
};
int versionTexts = 0;
std::string FormatText(const Version& version) {
  ++versionTexts;
  return Format("%1.%2.%3", version.major, version.minor, version.patch);
}

TEST(Format, MatchesPrintf) {
  ExpectMatchesPrintf("diouxX", "", {0, 1, -42, INT_MAX, INT_MIN});
  ExpectMatchesPrintf("uoxX", "", {0u, 77u, 4000000000u, UINT_MAX});
  ExpectMatchesPrintf("dioxX", "ll", {-1LL, 1LL << 33, LLONG_MIN, LLONG_MAX});
  ExpectMatchesPrintf("gaefGAEF", "",
                      {0.0, -0.0, 0.1, 1e-5, 9.9999949e-5, 3.14159, 999999.5, 1234567.0, 5e-324,
                       1.7976931348623157e308, 1.0 / 3.0});
  ExpectMatchesPrintf<const char*>("s", "", {"", "abc", "a longer text"});
  EXPECT_EQ(Format("%1$#o|%1$#x|%2$#g", 8, 1.0),
            Printf("%#o|", 8) + Printf("%#x|", 8) + Printf("%#g", 1.0));
}

TEST(Format, PositionsAndTheRunningCounter) {
  EXPECT_EQ(Format("%1 (%2)", "abc", 7), "abc (7)");
  EXPECT_EQ(Format("%2 before %1", "a", "b"), "b before a");
  EXPECT_EQ(Format("%1s", "x"), "xs");
  EXPECT_EQ(Format("%2$s %s %1 %s", "a", "b"), "b a a b");  // numbers never move the counter
  // A short form above the argument count is a width.
  EXPECT_EQ(Format("%5s", "ab", 1), "   ab");
  EXPECT_EQ(Format("%3 end", "a", "b"), "  aend");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("100%"), "100");
  EXPECT_EQ(Format("100%", 5), "1005");
}

TEST(Format, MissingArgumentEndsTheOutput) {
  EXPECT_EQ(Format("x%3$sy", "a", "b"), "x");
  EXPECT_EQ(Format("a %s %s b", "x"), "a x ");
  EXPECT_EQ(Format("[%99999999999999999999d]", 5), "[]");  // beyond printf's range
}

TEST(Format, EveryArgumentIsRenderedAsItsOwnType) {
  EXPECT_EQ(Format("%1$x|%1$s|%2$x|%3$q", 255, "str", 1.5), "ff|255|str|1.5");
  EXPECT_EQ(Format("%1$u|%2$d|%3$u", -1, 4000000000u, char(-1)),
            "4294967295|-294967296|4294967295");
  EXPECT_EQ(Format("%1|%2|%3|%4", true, std::int16_t{-3}, std::uint8_t{200}, 0.5f), "1|-3|200|0.5");
  EXPECT_EQ(Format("%1|%2|%2$x|%3", std::int64_t{5000000000}, UINT64_MAX, 'A'),
            "5000000000|18446744073709551615|ffffffffffffffff|A");
  // The template's length modifier never reaches printf.
  EXPECT_EQ(Format("%1$lld|%1$hhd|%1$hd|%1$jd|%1$zd|%1$lx", -300),
            "-300|-300|-300|-300|-300|fffffed4");
  EXPECT_EQ(Format("%1$hd|%1$hhx", std::int64_t{0x1234567890}), "78187493520|1234567890");
  EXPECT_EQ(Format("%1$Lf|%1$hhg|%1$lg", 1.5), "1.500000|1.5|1.5");
  EXPECT_EQ(Format("%1$hhs|%1$lls|%1$-5.1ls|", "abc"), "abc|abc|a    |");
}

TEST(Format, NeverStoresAndNeverReadsCallerTextAsATemplate) {
  EXPECT_EQ(Format("a%nb|%1$lln|%2$n", 7, "text"), "a7b|7|text");
  EXPECT_EQ(Format("%1|%2", "%s%n%x%%", std::string("%d%1")), "%s%n%x%%|%d%1");
  EXPECT_EQ(Format("<%1>", static_cast<const char*>(nullptr)), "<>");
}

TEST(Format, StarsTakeIntegerArguments) {
  EXPECT_EQ(Format("a%*db", 5), "a");
  EXPECT_EQ(Format("%*d|%.*f", 5, 42, 2, 3.14159), "   42|3.14");
  EXPECT_EQ(Format("%1$*2$.*3$f", 3.14159, 8, 2), "    3.14");
  EXPECT_EQ(Format("%*5d", 4, 7), "   7");  // digits after '*' without '$' are skipped
  EXPECT_EQ(Format("a%*sb", "x", "y"), "a");
  EXPECT_EQ(Format("a%.*fb", 2.0, 1.0), "a");
  EXPECT_EQ(Format("a%1$*3$db", 5, 6), "a");
  EXPECT_EQ(Format("a%1$.*2$sb", "x", Version{1, 2, 3}), "a");
}

// Without a conversion letter there is nothing to render it with, and its last character is
// not one: "%12" is not "%1" converted by '2'. A lone '%' (or "%N$") still renders its
// argument, as in "100%".
TEST(Format, PlaceholderCutOffByTheEndOfTheTemplateEndsTheOutput) {
  EXPECT_EQ(Format("[%12", 5), "[");
  EXPECT_EQ(Format("[%21474836479", 5), "[");
  EXPECT_EQ(Format("a%ll", 5), "a");
  EXPECT_EQ(Format("x%*", 5, "abc"), "x");
  EXPECT_EQ(Format("[%1$", 5), "[5");
}

TEST(Format, PlaceholderTextReachingSixtyCharactersEndsTheOutput) {
  const std::string flags55(55, '-');  // the length modifier counts, "M$" does not
  EXPECT_EQ(Format(("a%" + flags55 + "--d|").c_str(), 7), "a7|");
  EXPECT_EQ(Format(("a%" + flags55 + "---d|").c_str(), 7), "a");
  EXPECT_EQ(Format(("%" + flags55 + "lld|").c_str(), 7), "7|");
  EXPECT_EQ(Format(("%" + flags55 + "-lld|").c_str(), 7), "");
  EXPECT_EQ(Format(("%" + flags55 + "-*2$d|").c_str(), 7, 2), "7 |");
}

TEST(Format, ResultIsCutAt4095Bytes) {
  const std::string big(5000, 'x');
  EXPECT_EQ(Format(big.c_str()), big.substr(0, 4095));
  EXPECT_EQ(Format("%1%2", std::string(4094, 'a'), 12), std::string(4094, 'a') + "1");
  EXPECT_EQ(Format("%1$5000d", 1).size(), 4095u);
}

// Only what fits of a huge width or precision is ever produced, and exactly as printf would
// produce it; output beyond printf's range renders nothing, as printf refuses it.
TEST(Format, HugeWidthsAndPrecisionsGiveWhatFitsOfTheirOutput) {
  const std::string spaces(4095, ' ');
  const std::string zeros(4095, '0');
  EXPECT_EQ(Format("%0*d", 1000000000, -5), "-" + zeros.substr(1));
  EXPECT_EQ(Format("%*d|", -1000000000, 5), "5" + spaces.substr(1));
  EXPECT_EQ(Format("%.100000000d", 12345), zeros);
  EXPECT_EQ(Format("%*.*d|", 100000003, 100000000, 5), "   " + zeros.substr(3));
  EXPECT_EQ(Format("%1$10.100000000g|%1$.*2$g|%1$.100000000f", 0.5, 1000000000),
            "       0.5|0.5|0.5" + zeros.substr(18));
  EXPECT_EQ(Format("%1$10003s", std::string(10000, 's')), "   " + std::string(4092, 's'));
  EXPECT_EQ(Format("[%2147483647d]", 5), "[" + spaces.substr(1));
  EXPECT_EQ(Format("[%+.2147483647d|%1$*2$d|%3$.2147483648g|%4$.2147483648s]", 5, INT_MIN, 0.5,
                   std::string_view("abc")),
            "[|||]");
}

// The buffer-level renderer never writes past its capacity, and a NUL always ends what it wrote.
TEST(Format, FormatIntoStaysWithinItsCapacity) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  const int value = 12345;
  const Vexa::FormatArgument* descriptors[] = {&Vexa::FormatArgumentFor<int>()};
  const void* arguments[] = {&value};
  EXPECT_EQ(Vexa::FormatInto(buffer, 0, "x", descriptors, arguments, 1), 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(Vexa::FormatInto(buffer, 5, "ab%1cd", descriptors, arguments, 1), 4u);
  EXPECT_EQ(std::string(buffer, 6), std::string("ab12\0#", 6));
  EXPECT_EQ(Vexa::FormatInto(buffer, 8, nullptr, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

TEST(Format, ViewsAndArraysAreReadWithinTheirBounds) {
  const std::string_view view = std::string_view("abcdef").substr(1, 3);
  EXPECT_EQ(Format("%1|%1$.2s|%1$.9s|%1$-6.2s|", view), "bcd|bc|bcd|bc    |");
  EXPECT_EQ(Format("%1$.*2$s|%1$.*3$s|[%1$.0s]", view, 2, -1), "bc|bcd|[]");
  const char unterminated[3] = {'a', 'b', 'c'};
  const char padded[8] = "ab";
  EXPECT_EQ(Format("%1|%2|%3", unterminated, padded, std::string_view()), "abc|ab|");
}

TEST(Format, TextFormIsBuiltOnlyWhenUsedAndRenderedAsAString) {
  versionTexts = 0;
  EXPECT_EQ(Format("%2", Version{1, 2, 3}, 5), "5");
  EXPECT_EQ(versionTexts, 0);
  EXPECT_EQ(Format("v%1 [%1$8s][%1$-6d][%1$.3s]", Version{1, 2, 3}),
            "v1.2.3 [   1.2.3][1.2.3 ][1.2]");
  EXPECT_EQ(versionTexts, 4);
}

}  // namespace
