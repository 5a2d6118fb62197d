// How the YAML reader reads a plain scalar as a number: exactly what the C library's strtod
// reads from the whole text, typed the way the reader stores numbers.
//
//   const Vexa::YamlNumber number = Vexa::ReadYamlPlainNumber("-5");   // Signed, -5
//   double value;
//   Vexa::ReadYamlNumber("0x1p3", value);                               // true, 8.0
//
// The number rule. A text is a number when strtod consumes all of it and the result is not
// positive infinity. A whole result (no fractional part) becomes Signed when negative and
// Unsigned otherwise ("-0" is Unsigned 0); anything else, NaN included ("nan"), is a Float.
// Two refinements:
// - A text of decimal digits with an optional sign is read exactly, not through a double, so
//   that identifiers above 2^53 keep every digit (strtod would round 9007199254740993 to ...992).
// - A whole number outside the range of its 64-bit type (1e20, a 20-digit text above
//   18446744073709551615, -1e19, negative infinity from "-inf" or "-1e999") is a Float holding
//   strtod's double rather than a wrapped or undefined integer.
//
// Speed and locale. Decimal texts, nearly every number in practice, are read here without the
// process locale: one pass over the digits (eight at a time), then either the exact fast path
// (a significand up to 2^53 times a power of ten up to 10^22, one correctly rounded operation)
// or std::from_chars; both give strtod's result in the "C" locale bit for bit. The rare
// hexadecimal, infinity, NaN, leading-blank and out-of-range forms go to strtod itself, which
// assumes the "C" numeric locale, as every strtod in this system does. No NUL is needed after
// the text; nothing outside it is read.
#pragma once

#include <cstdint>
#include <string_view>

namespace Vexa {

enum class YamlNumberKind : uint8_t { NotANumber, Signed, Unsigned, Float };

struct YamlNumber {
  YamlNumberKind kind = YamlNumberKind::NotANumber;
  union {
    int64_t whole;
    uint64_t natural;
    double real = 0.0;
  };
};

// The number that the plain scalar `text` stands for, by the rule above; NotANumber when it is
// none (then it may still be a bool literal or a string).
[[nodiscard]] YamlNumber ReadYamlPlainNumber(std::string_view text);

// Whether strtod (in the "C" locale) would consume the whole of `text`, and its result. The
// empty text is not a number. Exposed for tests, which hold it against strtod itself.
[[nodiscard]] bool ReadYamlNumber(std::string_view text, double& value);

}  // namespace Vexa
