// Texts read as numbers the way the C library reads them (strtoll, strtoull and strtod), with a
// range check, and the two messages that refuse a text that is not such a number. One rule for
// the type system's conversion of texts into native numbers (binding/conversion) and for the
// YAML reader's !!int and !!float scalars, which report the same messages.
//
//   int64_t value = 0;
//   Vexa::NumberText read = Vexa::ReadSignedText(text, value, INT8_MIN, INT8_MAX);
//   // "0x10": Number, value 16. "0x1000": OutOfRange, and then
//   std::string refusal = Vexa::NumberTextRefusal(read, text, "count", "int8");
//   // "Value 0x1000 for 'count' of type int8 is out of range"
//
// The readers never throw except when allocation fails (they copy a text of 64 bytes or more to
// the heap to terminate it) and leave errno as the C library left it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

namespace Vexa {

// How a text read as a number.
enum class NumberText {
  Number,      // the whole text is a number within the range asked for
  BadFormat,   // characters are left after the number (the empty text is the number 0)
  OutOfRange,  // the C library reports an overflow or underflow (ERANGE), or the number is
               // outside the range asked for
};

// %1 the text (or the input's text form), %2 the name, %3 the target type name. No period at
// the end: clients match these texts as they are.
inline constexpr const char kNumberTextFormatMessage[] =
    "Value %1 for '%2' of type %3 is in an incorrect format";
inline constexpr const char kNumberTextRangeMessage[] =
    "Value %1 for '%2' of type %3 is out of range";

// The whole text as strtoll reads it with base 0: leading white space and a sign allowed,
// "0x" or "0X" hexadecimal, a leading "0" octal. `value` holds the number read whenever one
// was (also out of range).
[[nodiscard]] inline NumberText ReadSignedText(
    std::string_view text, int64_t& value, int64_t minimum = std::numeric_limits<int64_t>::min(),
    int64_t maximum = std::numeric_limits<int64_t>::max());

// The whole text as strtoull reads it with base 0. strtoull negates a text with a minus sign
// instead of refusing it; here a minus sign, also after leading white space, is out of range.
[[nodiscard]] inline NumberText ReadUnsignedText(
    std::string_view text, uint64_t& value,
    uint64_t maximum = std::numeric_limits<uint64_t>::max());

// The whole text as strtod reads it; out of range when ERANGE is reported (overflow, and
// underflow to a subnormal or zero) or the number lies outside [-maximum, maximum]. A NaN is
// neither below nor above the range and passes.
[[nodiscard]] inline NumberText ReadFloatText(std::string_view text, double& value,
                                              double maximum = std::numeric_limits<double>::max());

// The refusal of `read` (BadFormat or OutOfRange) for `text` read into `name` of type
// `typeName`: kNumberTextFormatMessage or kNumberTextRangeMessage. Empty for Number.
[[nodiscard]] std::string NumberTextRefusal(NumberText read, std::string_view text,
                                            std::string_view name, std::string_view typeName);

// --- The readers, inline: the conversion of a text argument runs them on every request that
// gives a number as text, and a call boundary there costs more than their bodies. ---

namespace NumberTextDetail {
[[nodiscard]] bool StartsNegative(std::string_view text);
}  // namespace NumberTextDetail

// strtoll / strtoull / strtod need a terminated text; numbers fit the small-string buffer.
inline NumberText ReadSignedText(std::string_view text, int64_t& value, int64_t minimum,
                                 int64_t maximum) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(terminated.c_str(), &end, 0);
  if (end != terminated.c_str() + terminated.size()) {
    return NumberText::BadFormat;
  }
  value = parsed;
  return errno == ERANGE || value < minimum || value > maximum ? NumberText::OutOfRange
                                                               : NumberText::Number;
}

inline NumberText ReadUnsignedText(std::string_view text, uint64_t& value, uint64_t maximum) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(terminated.c_str(), &end, 0);
  if (end != terminated.c_str() + terminated.size()) {
    return NumberText::BadFormat;
  }
  value = parsed;
  return errno == ERANGE || NumberTextDetail::StartsNegative(text) || value > maximum
             ? NumberText::OutOfRange
             : NumberText::Number;
}

inline NumberText ReadFloatText(std::string_view text, double& value, double maximum) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(terminated.c_str(), &end);
  if (end != terminated.c_str() + terminated.size()) {
    return NumberText::BadFormat;
  }
  value = parsed;
  // Written so that a NaN, which fails every comparison, passes.
  return errno == ERANGE || value < -maximum || value > maximum ? NumberText::OutOfRange
                                                                : NumberText::Number;
}

}  // namespace Vexa
