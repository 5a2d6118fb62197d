#include "codecs/yaml_number.h"

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

namespace Vexa {
namespace {

// 2^63 and 2^64 as doubles (both exact): the first whole doubles outside int64_t and uint64_t.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

[[nodiscard]] bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// The white space that strtod skips before a number.
[[nodiscard]] bool IsCSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first bytes of the texts that strtod can read: one lookup turns most strings away.
constexpr std::array<bool, 256> kMayStartNumber = [] {
  std::array<bool, 256> table{};
  for (const char c : std::string_view("0123456789+-.iInN \t\n\v\f\r")) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

// Whether the 8 bytes at `text` are all decimal digits, and their value: eight digits at once
// in one 64-bit word, the way fast number readers do (long significands are the common case in
// texts written from doubles).
[[nodiscard]] bool ReadEightDigits(const char* text, uint64_t& value) noexcept {
  if constexpr (std::endian::native != std::endian::little) {
    return false;  // the arithmetic below wants the first digit in the low byte
  }
  uint64_t word = 0;
  std::memcpy(&word, text, sizeof word);
  // Every byte in 0x30..0x39: its high nibble is 3, and adding 6 does not carry into it.
  if (((word & 0xF0F0F0F0F0F0F0F0) | (((word + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) !=
      0x3333333333333333) {
    return false;
  }
  word -= 0x3030303030303030;
  word = word * 10 + (word >> 8);  // pairs of digits
  word = (((word & 0x000000FF000000FF) * 0x000F424000000064) +
          (((word >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
         32;
  value = word & 0xFFFFFFFF;
  return true;
}

// What one pass over a decimal number text (after its sign) found.
struct DecimalScan {
  // The whole text is digits with an optional point (a digit on at least one side of it),
  // then an optional exponent with at least one digit: exactly the decimal texts that strtod
  // consumes entirely. ("1e" and "1e+" are not: strtod leaves the "e" unread.)
  bool valid = false;
  bool integer = false;      // digits only: no point, no exponent
  std::size_t digits = 0;    // digits of the significand, leading zeros included
  uint64_t significand = 0;  // their value; past 19 digits it has wrapped and means nothing
  int exponent = 0;          // the power of ten that scales the significand
};

[[nodiscard]] DecimalScan ScanDecimal(std::string_view body) noexcept {
  DecimalScan scan;
  const char* p = body.data();
  const char* const end = p + body.size();
  uint64_t significand = 0;  // wraps (unsigned, well defined) on very long texts
  // Adds the digits from `from` on to the significand; returns where they end.
  const auto collect = [&significand, end](const char* from) {
    for (uint64_t eight = 0; end - from >= 8 && ReadEightDigits(from, eight); from += 8) {
      significand = significand * 100000000 + eight;
    }
    for (; from != end; ++from) {
      const unsigned digit = static_cast<unsigned char>(*from) - unsigned{'0'};
      if (digit > 9) {
        break;
      }
      significand = significand * 10 + digit;
    }
    return from;
  };
  const char* const integerBegin = p;
  p = collect(p);
  const auto integerDigits = static_cast<std::size_t>(p - integerBegin);
  std::size_t fractionDigits = 0;
  bool point = false;
  if (p != end && *p == '.') {
    point = true;
    const char* const fractionBegin = ++p;
    p = collect(p);
    fractionDigits = static_cast<std::size_t>(p - fractionBegin);
  }
  if (integerDigits + fractionDigits == 0) {
    return scan;
  }
  int written = 0;  // the exponent as written
  bool exponentPart = false;
  if (p != end && (*p == 'e' || *p == 'E')) {
    exponentPart = true;
    ++p;
    bool negativeExponent = false;
    if (p != end && (*p == '+' || *p == '-')) {
      negativeExponent = *p == '-';
      ++p;
    }
    const char* const exponentBegin = p;
    for (; p != end && IsDigit(*p); ++p) {
      if (written < 100000) {  // far past any double; keeps the sum below from overflowing
        written = written * 10 + (*p - '0');
      }
    }
    if (p == exponentBegin) {
      return scan;
    }
    written = negativeExponent ? -written : written;
  }
  if (p != end) {
    return scan;
  }
  scan.valid = true;
  scan.integer = !point && !exponentPart;
  scan.digits = integerDigits + fractionDigits;
  scan.significand = significand;
  scan.exponent = written - static_cast<int>(fractionDigits);
  return scan;
}

// The classic exact fast path: a significand up to 2^53 and a power of ten up to 10^22 are
// both exact doubles, so one correctly rounded multiplication or division gives exactly the
// correctly rounded result that strtod gives. Only where each operation is rounded once
// (not on the x87 unit, whose extended precision would round twice).
[[nodiscard]] bool FastDouble(const DecimalScan& scan, double& value) noexcept {
#if FLT_EVAL_METHOD == 0
  if (scan.digits <= 19 && scan.significand <= (uint64_t{1} << 53) && scan.exponent >= -22 &&
      scan.exponent <= 22) {
    const double whole = static_cast<double>(scan.significand);
    value = scan.exponent < 0 ? whole / kExactPowersOfTen[-scan.exponent]
                              : whole * kExactPowersOfTen[scan.exponent];
    return true;
  }
#else
  (void)scan;
  (void)value;
#endif
  return false;
}

// strtod itself, on a NUL-terminated copy so that the text need not be followed by a NUL.
// Only for the rare forms (hexadecimal, infinity, NaN, leading white space, out of range).
[[nodiscard]] bool ReadWithStrtod(std::string_view text, double& value) {
  const std::string copy(text);
  char* end = nullptr;
  const double parsed = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) {
    return false;  // not all of it, or a NUL inside
  }
  value = parsed;
  return true;
}

// -magnitude when `negative`, without a branch (signs alternate in coordinate lists).
[[nodiscard]] double ApplySign(double magnitude, bool negative) noexcept {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(magnitude) ^
                               (static_cast<uint64_t>(negative) << 63));
}

// The double of a valid decimal `body` (the text after its sign). Correct rounding is
// symmetric, so the sign is applied afterwards.
[[nodiscard]] bool DecimalDouble(std::string_view text, std::string_view body, bool negative,
                                 const DecimalScan& scan, double& value) {
  double magnitude = 0.0;
  if (!FastDouble(scan, magnitude)) {
    const char* const end = body.data() + body.size();
    const auto [stop, error] = std::from_chars(body.data(), end, magnitude);
    if (error == std::errc::result_out_of_range) {
      return ReadWithStrtod(text, value);  // overflow or underflow: strtod's exact answer
    }
    if (error != std::errc() || stop != end) {
      return false;
    }
  }
  value = ApplySign(magnitude, negative);
  return true;
}

enum class NumberShape { None, Decimal, Other };

// Splits off the sign and tells which reading the rest needs: Decimal for the scanner, Other
// for strtod (leading blanks, hexadecimal, infinity, NaN), None for what no reading accepts.
[[nodiscard]] NumberShape ShapeOf(std::string_view text, bool& negative,
                                  std::string_view& body) noexcept {
  const char first = text[0];
  if (IsCSpace(first)) {
    return NumberShape::Other;
  }
  negative = first == '-';
  body = text.substr((negative || first == '+') ? 1 : 0);
  if (body.empty()) {
    return NumberShape::None;
  }
  const char lead = body[0];
  const bool hexadecimal = lead == '0' && body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
  if (hexadecimal || lead == 'i' || lead == 'I' || lead == 'n' || lead == 'N') {
    return NumberShape::Other;
  }
  return NumberShape::Decimal;
}

// The exact value of a digits-only body of any length; false when it exceeds 64 bits.
[[nodiscard]] bool ReadLongInteger(std::string_view body, uint64_t& magnitude) noexcept {
  uint64_t value = 0;
  for (const char c : body) {
    if (__builtin_mul_overflow(value, uint64_t{10}, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(c - '0'), &value)) {
      return false;
    }
  }
  magnitude = value;
  return true;
}

[[nodiscard]] YamlNumber MakeNumber(YamlNumberKind kind) noexcept {
  YamlNumber number;
  number.kind = kind;
  return number;
}

[[nodiscard]] YamlNumber MakeFloat(double value) noexcept {
  YamlNumber number = MakeNumber(YamlNumberKind::Float);
  number.real = value;
  return number;
}

// The number of a whole strtod result, or of any other result.
[[nodiscard]] YamlNumber NumberOfDouble(double value) noexcept {
  if (std::isnan(value)) {
    return MakeFloat(value);
  }
  if (value == std::numeric_limits<double>::infinity()) {
    return MakeNumber(YamlNumberKind::NotANumber);
  }
  if (std::trunc(value) != value) {
    return MakeFloat(value);
  }
  YamlNumber number;
  if (value < 0.0) {
    if (value < -kTwoTo63) {
      return MakeFloat(value);  // -inf among them
    }
    number.kind = YamlNumberKind::Signed;
    number.whole = static_cast<int64_t>(value);
  } else {
    if (value >= kTwoTo64) {
      return MakeFloat(value);
    }
    number.kind = YamlNumberKind::Unsigned;
    number.natural = static_cast<uint64_t>(value);
  }
  return number;
}

}  // namespace

bool ReadYamlNumber(std::string_view text, double& value) {
  if (text.empty()) {
    return false;
  }
  bool negative = false;
  std::string_view body;
  switch (ShapeOf(text, negative, body)) {
    case NumberShape::None:
      return false;
    case NumberShape::Other:
      return ReadWithStrtod(text, value);
    case NumberShape::Decimal:
      break;
  }
  const DecimalScan scan = ScanDecimal(body);
  return scan.valid && DecimalDouble(text, body, negative, scan, value);
}

YamlNumber ReadYamlPlainNumber(std::string_view text) {
  if (text.empty() || !kMayStartNumber[static_cast<unsigned char>(text[0])]) {
    return MakeNumber(YamlNumberKind::NotANumber);
  }
  bool negative = false;
  std::string_view body;
  double value = 0.0;
  switch (ShapeOf(text, negative, body)) {
    case NumberShape::None:
      return MakeNumber(YamlNumberKind::NotANumber);
    case NumberShape::Other:
      return ReadWithStrtod(text, value) ? NumberOfDouble(value)
                                         : MakeNumber(YamlNumberKind::NotANumber);
    case NumberShape::Decimal:
      break;
  }
  const DecimalScan scan = ScanDecimal(body);
  if (!scan.valid) {
    return MakeNumber(YamlNumberKind::NotANumber);
  }
  if (scan.integer) {
    uint64_t magnitude = scan.significand;
    if (scan.digits <= 19 || ReadLongInteger(body, magnitude)) {
      YamlNumber number;
      if (!negative || magnitude == 0) {  // "-0" is no negative number
        number.kind = YamlNumberKind::Unsigned;
        number.natural = magnitude;
        return number;
      }
      if (magnitude <= uint64_t{1} << 63) {
        number.kind = YamlNumberKind::Signed;
        number.whole = static_cast<int64_t>(uint64_t{0} - magnitude);  // wraps to INT64_MIN
        return number;
      }
    }
    // Beyond 64 bits: the double, as strtod reads it.
    return DecimalDouble(text, body, negative, scan, value)
               ? MakeFloat(value)
               : MakeNumber(YamlNumberKind::NotANumber);
  }
  return DecimalDouble(text, body, negative, scan, value) ? NumberOfDouble(value)
                                                          : MakeNumber(YamlNumberKind::NotANumber);
}

}  // namespace Vexa
