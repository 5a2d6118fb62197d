#include "util/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Vexa::Format;

// Renders through FormatInto with a buffer of `capacity` inside a larger, pre-filled one, so
// that a write past the capacity shows up.
template <typename... Args>
std::string FormatWithCapacity(std::size_t capacity, const char* templ, const Args&... args) {
  std::vector<char> storage(capacity + 16, '#');
  const Vexa::FormatArgument* descriptors[] = {&Vexa::FormatArgumentFor<Args>()..., nullptr};
  const void* arguments[] = {static_cast<const void*>(&args)..., nullptr};
  const std::size_t length =
      Vexa::FormatInto(storage.data(), capacity, templ, descriptors, arguments, sizeof...(Args));
  for (std::size_t i = capacity; i < storage.size(); ++i) {
    EXPECT_EQ(storage[i], '#') << "write past capacity " << capacity << " at " << i;
  }
  if (capacity == 0) {
    EXPECT_EQ(length, 0u);
    return {};
  }
  EXPECT_LT(length, capacity);
  EXPECT_EQ(storage[length], '\0');
  return std::string(storage.data(), length);
}

template <typename T>
std::string Printf(const char* placeholder, T value) {
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), placeholder, value);
  return buffer;
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

// A composite whose text form itself holds a composite.
struct Outcome {
  const char* message;
  Version version;
};
std::string FormatText(const Outcome& outcome) {
  return Format("%1 (%2)", outcome.message, outcome.version);
}

TEST(FormatPositions, NumberedAndCountedPlaceholders) {
  EXPECT_EQ(Format("%1 (%2)", "abc", 7), "abc (7)");
  EXPECT_EQ(Format("%2 before %1", "a", "b"), "b before a");
  EXPECT_EQ(Format("%1 and %1", "x"), "x and x");
  EXPECT_EQ(Format("%2", "a", "b"), "b");
  EXPECT_EQ(Format("%1s", "x"), "xs");
  EXPECT_EQ(Format("%s-%s", "a", "b"), "a-b");
  // Neither short nor explicit forms move the counter.
  EXPECT_EQ(Format("%2$s %s %1 %s", "a", "b"), "b a a b");
}

TEST(FormatPositions, ShortFormAboveCountIsAWidth) {
  EXPECT_EQ(Format("%5s", "ab", 1), "   ab");
  EXPECT_EQ(Format("%1 %2 %3", "a", "b"), "a b a");
  EXPECT_EQ(Format("%3 end", "a", "b"), "  aend");
  EXPECT_EQ(Format("[%12]", 7), "[" + std::string(11, ' ') + "7");  // ']' became the conversion
}

TEST(FormatPositions, MissingArgumentEndsTheOutput) {
  EXPECT_EQ(Format("x%3$sy", "a", "b"), "x");
  EXPECT_EQ(Format("x%99999999999999999999999$sy", "a"), "x");
  EXPECT_EQ(Format("a %s %s b", "x"), "a x ");
  EXPECT_EQ(Format("x%1y"), "x");
  // A width beyond printf's range renders nothing for the placeholder.
  EXPECT_EQ(Format("[%99999999999999999999d]", 5), "[]");
}

TEST(FormatPercent, LiteralAndTrailingPercent) {
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("100%"), "100");
  EXPECT_EQ(Format("100%", 5), "1005");
  EXPECT_EQ(Format("%%%1%%", 5), "%5%");
}

TEST(FormatConversions, ChosenWhenTheTypeAllowsItElseDefault) {
  EXPECT_EQ(Format("%-4d|", 7), "7   |");
  EXPECT_EQ(Format("%1$08.3f", 3.14159), "0003.142");
  EXPECT_EQ(Format("%1$x", 255), "ff");
  EXPECT_EQ(Format("%1$x", "str"), "str");
  EXPECT_EQ(Format("%1$s", 42), "42");
  EXPECT_EQ(Format("%q", 1.5), "1.5");
  EXPECT_EQ(Format("%1$d", 'A'), "65");
  EXPECT_EQ(Format("%1$c", 66), "B");
  EXPECT_EQ(Format("%1$c", std::int64_t{0x100000041}), "A");
  EXPECT_EQ(Format("%1$u", -1), "4294967295");
  EXPECT_EQ(Format("%1$d", 4000000000u), "-294967296");
  EXPECT_EQ(Format("%1$u", char(-1)), "4294967295");
}

TEST(FormatConversions, DefaultFormPerType) {
  EXPECT_EQ(Format("%1|%2|%3|%4", -5, 4000000000u, 'A', 0.1), "-5|4000000000|A|0.1");
  EXPECT_EQ(Format("%1|%2|%3", true, false, std::int16_t{-3}), "1|0|-3");
  EXPECT_EQ(Format("%1|%2|%3", std::uint8_t{200}, static_cast<signed char>('z'), 0.5f),
            "200|z|0.5");
  EXPECT_EQ(Format("%1|%2", LONG_MIN, ULONG_MAX),
            std::to_string(LONG_MIN) + "|" + std::to_string(ULONG_MAX));
  EXPECT_EQ(Format("%1", SIZE_MAX), std::to_string(SIZE_MAX));
}

TEST(FormatConversions, SixtyFourBitValuesRenderInFull) {
  EXPECT_EQ(Format("%1", std::int64_t{5000000000}), "5000000000");
  EXPECT_EQ(Format("%1", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Format("%1", UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(Format("%1$x", UINT64_MAX), "ffffffffffffffff");
  EXPECT_EQ(Format("%1$d", std::uint64_t{1} << 40), "1099511627776");
}

// printf is the oracle for flags, widths and precisions: every combination must render as
// the plain printf placeholder, in the explicit and in the counted form.
TEST(FormatConversions, MatchesSnprintfForPlainPlaceholders) {
  const char* const bodies[] = {"",   "-",   "+",  " ",   "0",    "5",   "-6",
                                "08", "+07", ".3", "8.3", "-9.2", "+.0", " 012.4"};
  auto check = [&](const char* conversions, const char* modifier, auto value) {
    for (const char* body : bodies) {
      for (const char* c = conversions; *c != '\0'; ++c) {
        const std::string oracle = std::string("%") + body + modifier + *c;
        const std::string expected = Printf(oracle.c_str(), value);
        const std::string plain = std::string("%") + body + *c;
        const std::string numbered = std::string("%1$") + body + *c;
        EXPECT_EQ(Format(plain.c_str(), value), expected) << oracle;
        EXPECT_EQ(Format(numbered.c_str(), value), expected) << oracle;
      }
    }
  };
  for (int value : {0, 1, -42, INT_MAX, INT_MIN}) {
    check("diouxX", "", value);
  }
  for (unsigned value : {0u, 77u, UINT_MAX}) {
    check("uoxX", "", value);
  }
  for (long long value : {-1LL, 1LL << 33, LLONG_MIN}) {
    check("dioxX", "ll", value);
  }
  for (double value : {0.0, -2.5, 3.14159, 1e300, 1e-7}) {
    check("gaefGAEF", "", value);
  }
  for (const char* value : {"", "abc", "a longer text"}) {
    check("s", "", value);
  }
  EXPECT_EQ(Format("%1$#o|%1$#x|%2$#g", 8, 1.0),
            Printf("%#o|", 8) + Printf("%#x|", 8) + Printf("%#g", 1.0));
}

// The default forms skip printf; they must still write exactly what printf would, across
// magnitudes and at the boundaries where %g changes notation or rounds up.
TEST(FormatConversions, DefaultFormsMatchSnprintf) {
  for (double value : {0.0, -0.0, 1.0, 0.1, 1e-4, 1e-5, 9.9999949e-5, 123456.0, 999999.4, 999999.5,
                       1234567.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, -3.0e-12,
                       0.30000000000000004, 1.0 / 3.0}) {
    EXPECT_EQ(Format("%1", value), Printf("%g", value)) << value;
    EXPECT_EQ(Format("%1$lg", value), Printf("%g", value)) << value;
  }
  for (long long value : {0LL, -1LL, LLONG_MAX, LLONG_MIN, 4294967296LL}) {
    EXPECT_EQ(Format("%1", value), Printf("%lld", value));
  }
  for (int value : {INT_MIN, -1, 0, 7, INT_MAX}) {
    EXPECT_EQ(Format("<%1>", value), "<" + Printf("%d", value) + ">");
    EXPECT_EQ(Format("%1$u", static_cast<unsigned>(value)), Printf("%u", value));
  }
  EXPECT_EQ(FormatWithCapacity(4, "%1", 123456), "123");
  EXPECT_EQ(FormatWithCapacity(4, "%1", std::string("abcdef")), "abc");
}

// The template's length modifier never reaches printf: the argument's own type decides.
TEST(FormatTypeSafety, TemplateLengthModifierIsIgnored) {
  EXPECT_EQ(Format("%1$lld|%1$hhd|%1$hd|%1$ld", 300), "300|300|300|300");
  EXPECT_EQ(Format("%1$jd|%1$zd|%1$td|%1$Ld|%1$lx", -7), "-7|-7|-7|-7|fffffff9");
  EXPECT_EQ(Format("%lld %hhu", 70000, 70000u), "70000 70000");
  EXPECT_EQ(Format("%1$hd|%1$hhx|%1$d", std::int64_t{0x1234567890}),
            "78187493520|1234567890|78187493520");
  EXPECT_EQ(Format("%1$Lf|%1$lf|%1$hhg|%1$llf", 1.5), "1.500000|1.500000|1.5|1.500000");
  EXPECT_EQ(Format("%1$hhs|%1$ls|%1$lls|%1$Ls|%1$zs", "abc"), "abc|abc|abc|abc|abc");
  EXPECT_EQ(Format("%ls", std::string("wide?")), "wide?");
  EXPECT_EQ(Format("%1$-5.1ls|", "abc"), "a    |");
  EXPECT_EQ(Format("a%ll", 5), "a5");  // template ends inside the modifier
}

TEST(FormatTypeSafety, NeverStoresThroughAnArgument) {
  EXPECT_EQ(Format("a%nb", 7), "a7b");
  EXPECT_EQ(Format("a%1$hhn|%1$lln", 7), "a7|7");
  EXPECT_EQ(Format("%1$n", "text"), "text");
}

TEST(FormatTypeSafety, CallerTextIsNeverATemplate) {
  EXPECT_EQ(Format("%1", "%s%n%x%%"), "%s%n%x%%");
  EXPECT_EQ(Format("<%1>", std::string("%d%1")), "<%d%1>");
  EXPECT_EQ(Format("%1", static_cast<const char*>(nullptr)), "");
}

TEST(FormatStars, WidthAndPrecisionFromArguments) {
  EXPECT_EQ(Format("a%*db", 5), "a");
  EXPECT_EQ(Format("%*d", 5, 42), "   42");
  EXPECT_EQ(Format("%*d|", -4, 7), "7   |");
  EXPECT_EQ(Format("%.*f", 2, 3.14159), "3.14");
  EXPECT_EQ(Format("%.*f", -1, 1.5), "1.500000");
  EXPECT_EQ(Format("%*.*f", 8, 2, 3.14159), "    3.14");
  EXPECT_EQ(Format("%1$*2$.*3$f", 3.14159, 8, 2), "    3.14");
  EXPECT_EQ(Format("%*5d", 4, 7), "   7");  // digits after '*' without '$' are skipped
  EXPECT_EQ(Format("%*d", 'A', 1), std::string(64, ' ') + "1");
  EXPECT_EQ(Format("%*d", std::int64_t{0x100000006}, 1), "     1");  // low 32 bits
}

TEST(FormatStars, StarThatCannotSupplyAnIntegerEndsTheOutput) {
  EXPECT_EQ(Format("a%*sb", "x", "y"), "a");
  EXPECT_EQ(Format("a%.*fb", 2.0, 1.0), "a");
  EXPECT_EQ(Format("a%1$*3$db", 5, 6), "a");
  EXPECT_EQ(Format("a%1$.*2$sb", "x", Version{1, 2, 3}), "a");
  EXPECT_EQ(Format("a%*.*db", 1, "x", 3), "a");
}

// A star cut off by the end of the template must not leave its value for printf to read as
// the argument.
TEST(FormatStars, StarAtTheEndOfTheTemplate) {
  EXPECT_EQ(Format("x%*", 5, "abc"), "xabc");
  EXPECT_EQ(Format("x%.*", 2, "abcdef"), "x");
  EXPECT_EQ(Format("x%5.*", 2, "abcdef"), "x     ");
  EXPECT_EQ(Format("x%*.*", 4, 2, std::string_view("abcdef")), "x    ");
}

TEST(FormatLimits, PlaceholderTextReachingSixtyCharactersEndsTheOutput) {
  const std::string flags57(57, '-');
  EXPECT_EQ(Format(("a%" + flags57 + "d|").c_str(), 7), "a7|");
  EXPECT_EQ(Format(("a%" + flags57 + "-d|").c_str(), 7), "a");
  const std::string flags55(55, '-');  // the length modifier counts, "M$" does not
  EXPECT_EQ(Format(("%" + flags55 + "lld|").c_str(), 7), "7|");
  EXPECT_EQ(Format(("%" + flags55 + "-lld|").c_str(), 7), "");
  EXPECT_EQ(Format(("%" + std::string(56, '-') + "*2$d|").c_str(), 7, 2), "7 |");
}

TEST(FormatLimits, ResultIsCutAt4095Bytes) {
  const std::string big(5000, 'x');
  EXPECT_EQ(Format(big.c_str()), big.substr(0, 4095));
  EXPECT_EQ(Format("%1", big), big.substr(0, 4095));
  EXPECT_EQ(Format("%1%2", std::string(4094, 'a'), 12), std::string(4094, 'a') + "1");
  EXPECT_EQ(Format(("%1" + big).c_str(), 1), "1" + big.substr(0, 4094));
  EXPECT_EQ(Format("%1$5000d", 1).size(), 4095u);
}

TEST(FormatLimits, FormatIntoCutsAtEveryCapacity) {
  const std::string full = Format("ab%1|%2$-4s|%3%%", 123, "xy", 4.5);
  ASSERT_EQ(full, "ab123|xy  |4.5%");
  for (std::size_t capacity = 0; capacity <= full.size() + 2; ++capacity) {
    EXPECT_EQ(FormatWithCapacity(capacity, "ab%1|%2$-4s|%3%%", 123, "xy", 4.5),
              full.substr(0, capacity == 0 ? 0 : capacity - 1))
        << "capacity " << capacity;
  }
  EXPECT_EQ(FormatWithCapacity(1, "%1", "abc"), "");
  EXPECT_EQ(FormatWithCapacity(3, "%1$d", 12345), "12");
}

TEST(FormatLimits, FormatIntoWithoutArguments) {
  char buffer[16];
  EXPECT_EQ(Vexa::FormatInto(buffer, sizeof(buffer), "a%1b", nullptr, nullptr, 0), 1u);
  EXPECT_STREQ(buffer, "a");
  EXPECT_EQ(Vexa::FormatInto(buffer, sizeof(buffer), nullptr, nullptr, nullptr, 0), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(FormatStrings, ViewsAndArraysAreReadWithinTheirBounds) {
  const std::string_view view = std::string_view("abcdef").substr(1, 3);
  EXPECT_EQ(Format("%1|%1$.2s|%1$.9s|%1$5s|%1$-6.2s|", view), "bcd|bc|bcd|  bcd|bc    |");
  EXPECT_EQ(Format("%1$.*2$s|%1$.*3$s|%1$*2$.*2$s", view, 2, -1), "bc|bcd|bc");
  EXPECT_EQ(Format("[%1$.s][%1$.0s][%1$.5]", view), "[][][bcd");
  EXPECT_EQ(Format("<%1>", std::string_view()), "<>");
  const char unterminated[3] = {'a', 'b', 'c'};
  const char padded[8] = "ab";
  EXPECT_EQ(Format("%1|%2|%3", unterminated, padded, "lit"), "abc|ab|lit");
  EXPECT_EQ(Format("%1$-4s|%1$.1s", std::string("xyz")), "xyz |x");
}

TEST(FormatTextForm, CompositeRendersItsTextWithStringRules) {
  const Version version{1, 2, 3};
  EXPECT_EQ(Format("v%1", version), "v1.2.3");
  EXPECT_EQ(Format("[%1$8s][%1$-6d][%1$.3s]", version), "[   1.2.3][1.2.3 ][1.2]");
  EXPECT_EQ(Format("%1", Outcome{"Timed out", {4, 0, 5}}), "Timed out (4.0.5)");
}

TEST(FormatTextForm, TextIsBuiltOnlyForPlaceholdersThatUseIt) {
  versionTexts = 0;
  EXPECT_EQ(Format("%2", Version{1, 2, 3}, 5), "5");
  EXPECT_EQ(versionTexts, 0);
  EXPECT_EQ(Format("%1 %1", Version{1, 2, 3}), "1.2.3 1.2.3");
  EXPECT_EQ(versionTexts, 2);
}

}  // namespace
