#include "util/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "util/format_internal.h"

namespace Vexa {
namespace {

constexpr std::size_t kWorkBufferSize = 4096;
// A placeholder text reaching this length is malformed; see FormatSpec::text.
constexpr std::size_t kTextLimit = 60;

constexpr char kSignedConversions[] = "dciouxX";
constexpr char kUnsignedConversions[] = "ucdioxX";
constexpr char kCharacterConversions[] = "cdiouxX";
constexpr char kDoubleConversions[] = "gaefGAEF";
constexpr char kStringConversions[] = "s";
constexpr char kLongLong[] = "ll";

// "%n" would make printf store through the argument; no argument type may ever choose it.
constexpr bool AllowsStore(std::string_view conversions) {
  return conversions.find('n') != std::string_view::npos;
}
static_assert(!AllowsStore(kSignedConversions) && !AllowsStore(kUnsignedConversions) &&
              !AllowsStore(kCharacterConversions) && !AllowsStore(kDoubleConversions) &&
              !AllowsStore(kStringConversions));

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLeadingDigit(char c) {
  return c >= '1' && c <= '9';
}
bool IsFlag(char c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

// Reads one placeholder (the part after '%') into a FormatSpec's text and star count, and
// resolves which arguments it takes. Argument numbers may exceed the count; the caller
// checks them.
class PlaceholderParser {
 public:
  PlaceholderParser(const char* cursor, std::size_t count, std::size_t& counter, FormatSpec& slot)
      : cursor_(cursor), count_(count), counter_(counter), slot_(slot) {}

  // False when the placeholder text reaches the length limit, or when the template ends
  // inside the placeholder after anything but its '%' (and argument number): there is no
  // conversion letter then, and taking the last character for one would misread a width
  // or precision ("%12" is not "%1" with a conversion '2').
  [[nodiscard]] bool Parse() {
    Reset();
    Append('%');
    if (IsLeadingDigit(*cursor_) && ParsePosition()) {
      return true;  // short form "%N": nothing else belongs to the placeholder
    }
    while (IsFlag(*cursor_)) {
      if (!Append(*cursor_++)) {
        return false;
      }
    }
    if (!ParseWidthOrPrecision()) {
      return false;
    }
    if (*cursor_ == '.') {
      if (!Append(*cursor_++) || !ParseWidthOrPrecision()) {
        return false;
      }
    }
    if (!ParseLengthModifier()) {
      return false;
    }
    if (*cursor_ == '\0') {
      if (slot_.textLength > 1) {
        return false;
      }
    } else if (!Append(*cursor_++)) {
      return false;
    }
    if (argument_ == 0) {
      argument_ = counter_++;
    }
    return true;
  }

  const char* End() const { return cursor_; }
  std::size_t Argument() const { return argument_; }
  // In the order of their '*' (width, then precision), like FormatSpec::starValues.
  std::size_t StarArgument(int index) const { return starArguments_[index]; }

 private:
  void Reset() {
    slot_.textLength = 0;
    slot_.starCount = 0;
  }

  bool Append(char c) {
    slot_.text[slot_.textLength++] = c;
    return slot_.textLength < kTextLimit;
  }

  // Saturates instead of overflowing: any huge number is simply above the count.
  std::size_t ReadNumber() {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    std::size_t value = 0;
    while (IsDigit(*cursor_)) {
      const std::size_t digit = static_cast<std::size_t>(*cursor_++ - '0');
      value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
  }

  // True for the short form. A number above the count that is not followed by '$' is not a
  // position; the digits are read again as a width.
  bool ParsePosition() {
    const char* digits = cursor_;
    const std::size_t number = ReadNumber();
    if (*cursor_ == '$') {
      ++cursor_;
      argument_ = number;
      return false;
    }
    if (number <= count_) {
      argument_ = number;
      return true;
    }
    cursor_ = digits;
    return false;
  }

  // A '*' (with an optional "M$" naming its argument) or plain digits after an optional '-'.
  bool ParseWidthOrPrecision() {
    if (*cursor_ != '*') {
      if (*cursor_ == '-') {
        ++cursor_;
      }
      while (IsDigit(*cursor_)) {
        if (!Append(*cursor_++)) {
          return false;
        }
      }
      return true;
    }
    if (!Append(*cursor_++)) {
      return false;
    }
    std::size_t argument = 0;
    if (IsLeadingDigit(*cursor_)) {
      const std::size_t number = ReadNumber();
      if (*cursor_ == '$') {
        ++cursor_;
        argument = number;
      }
    }
    starArguments_[slot_.starCount++] = argument != 0 ? argument : counter_++;
    return true;
  }

  bool ParseLengthModifier() {
    const char first = *cursor_;
    if (first == 'L' || first == 'j' || first == 't' || first == 'z') {
      if (!Append(*cursor_++)) {
        return false;
      }
    } else if (first == 'h' || first == 'l') {
      if (!Append(*cursor_++) || (*cursor_ == first && !Append(*cursor_++))) {
        return false;
      }
    }
    return true;
  }

  const char* cursor_;
  std::size_t count_;
  std::size_t& counter_;
  FormatSpec& slot_;
  std::size_t argument_ = 0;
  std::size_t starArguments_[2] = {0, 0};
};

// printf refuses a width or precision above this, and output longer than this, by writing
// nothing; template digits saturate just above it.
constexpr std::int64_t kPrintfMax = std::numeric_limits<int>::max();

// How far past the remaining capacity a rendering's bytes are settled: no part of a body
// that does not grow with its precision comes near it (a double's exact expansion has at
// most 767 significant digits and 1074 fraction digits, its integer part at most 309, and a
// precision this large rounds nothing).
constexpr std::int64_t kSettled = 2048;

// The placeholder handed to snprintf: the template's flags as written, the width and
// precision as star values, the argument's own length modifier and the conversion, that is
// "%<flags>*.*<modifier><conversion>". printf thus reads exactly the arguments it is given,
// and the width and precision can be bounded before it sees them.
struct PrintfCall {
  char text[sizeof(FormatSpec::text) + 8];  // '%', up to 57 flags, "*.*", "ll", conversion
  std::int64_t width;                       // negative aligns left, as a negative '*' does
  std::int64_t precision;                   // negative when absent, as a negative '*' is
  bool bare;  // nothing after the '%' but the template's length modifier
};

// Picks the template's conversion letter when the argument allows it, else the argument's
// default, and returns how much of slot.text precedes the conversion. The last character of
// a longer text than '%' is always its conversion: the parser refuses a placeholder that the
// end of the template cuts off.
std::size_t ChooseConversion(FormatSpec& slot, const char* allowed, const char* barePrefix) {
  slot.allowedConversions = allowed;
  slot.barePrefix = barePrefix;
  slot.conversion = allowed[0];
  if (slot.textLength == 1) {
    return 1;
  }
  const char last = slot.text[slot.textLength - 1];
  if (std::strchr(allowed, last) != nullptr) {
    slot.conversion = last;
  }
  return slot.textLength - 1;
}

std::int64_t ReadDigits(const FormatSpec& slot, std::size_t& index, std::size_t end) {
  std::int64_t value = 0;
  while (index < end && IsDigit(slot.text[index])) {
    value = std::min(value * 10 + (slot.text[index++] - '0'), kPrintfMax + 1);
  }
  return value;
}

// Reads the first `kept` characters of slot.text as printf would: flags, a width ('*' or
// digits), a precision ('.' then '*' or digits); the rest is the template's length modifier,
// which is replaced by `lengthModifier`, the argument's own.
PrintfCall ReadPlaceholder(const FormatSpec& slot, std::size_t kept, const char* lengthModifier,
                           char conversion) {
  PrintfCall call{};
  call.precision = -1;
  std::size_t index = 1;
  while (index < kept && IsFlag(slot.text[index])) {
    ++index;
  }
  std::memcpy(call.text, slot.text, index);
  std::size_t length = index;
  int star = 0;
  if (index < kept && slot.text[index] == '*') {
    call.width = slot.starValues[star++];
    ++index;
  } else {
    call.width = ReadDigits(slot, index, kept);
  }
  if (index < kept && slot.text[index] == '.') {
    if (++index < kept && slot.text[index] == '*') {
      call.precision = slot.starValues[star++];
      ++index;
    } else {
      call.precision = ReadDigits(slot, index, kept);
    }
  }
  call.bare = index == 1;
  for (const char* c = "*.*"; *c != '\0'; ++c) {
    call.text[length++] = *c;
  }
  for (const char* c = lengthModifier; *c != '\0'; ++c) {
    call.text[length++] = *c;
  }
  call.text[length++] = conversion;
  call.text[length] = '\0';
  return call;
}

template <typename Value>
int CallPrintf(char* output, std::size_t size, const PrintfCall& call, std::int64_t width,
               std::int64_t precision, Value value) {
  return std::snprintf(output, size, call.text, static_cast<int>(width),
                       static_cast<int>(precision), value);
}

// Renders into the remaining capacity. Output that did not fit counts as filling it, which
// ends the output; a width, precision or output beyond printf's range renders nothing, as
// printf refuses them.
//
// printf produces every byte of a width or precision before the capacity cuts them, so a
// huge one would cost seconds for bytes that are then dropped. Both are bounded before the
// call instead, by what the capacity can show. Past `remaining` + kSettled a larger
// precision only adds digits, zeros or characters beyond the part that fits, so it is cut
// there; the body is measured at that precision, and at one more to tell whether it grows
// with the precision (digits and characters do; a "%g" expansion, "inf" or a character do
// not), which gives its full length; the padding that the width adds to it is cut to the
// capacity. The output is the same byte for byte, and so is whether it filled the capacity.
template <typename Value>
std::size_t Print(FormatSpec& slot, const PrintfCall& call, Value value) {
  const std::int64_t magnitude = call.width < 0 ? -call.width : call.width;
  if (magnitude > kPrintfMax || call.precision > kPrintfMax) {
    return 0;
  }
  const std::int64_t remaining = static_cast<std::int64_t>(slot.remaining);
  const std::int64_t bound = remaining + kSettled;
  std::int64_t width = call.width;
  std::int64_t precision = call.precision;
  if (magnitude > bound || precision > bound) {
    precision = std::min(precision, bound);
    const int body = CallPrintf(nullptr, 0, call, 0, precision, value);
    if (body < 0) {
      return 0;
    }
    std::int64_t length = body;
    if (call.precision > precision &&
        CallPrintf(nullptr, 0, call, 0, precision + 1, value) > body) {
      length += call.precision - precision;
    }
    if (std::max(magnitude, length) > kPrintfMax) {
      return 0;
    }
    const std::int64_t padding = std::min(std::max<std::int64_t>(magnitude - length, 0), remaining);
    width = padding == 0 ? 0 : (call.width < 0 ? -(body + padding) : body + padding);
  }
  const int result = CallPrintf(slot.output, slot.remaining, call, width, precision, value);
  if (result < 0) {
    return 0;
  }
  return std::min(static_cast<std::size_t>(result), slot.remaining);
}

// Copies text the way snprintf would into the remaining capacity: output that does not fit
// counts as filling it.
std::size_t CopyText(FormatSpec& slot, std::string_view text) {
  const std::size_t copied = std::min(text.size(), slot.remaining);
  if (copied != 0) {
    std::memcpy(slot.output, text.data(), copied);
  }
  return text.size() < slot.remaining ? text.size() : slot.remaining;
}

template <typename Number>
std::size_t CopyDecimal(FormatSpec& slot, Number value) {
  char digits[24];
  const auto converted = std::to_chars(digits, digits + sizeof digits, value);
  return CopyText(slot, std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
}

// Integers reach printf as the exact type that the chosen conversion reads.
template <typename Signed, typename Unsigned>
std::size_t RenderInteger(FormatSpec& slot, const char* allowed, const char* barePrefix,
                          Unsigned bits) {
  const std::size_t kept = ChooseConversion(slot, allowed, barePrefix);
  const char conversion = slot.conversion;
  const PrintfCall call =
      ReadPlaceholder(slot, kept, conversion == 'c' ? "" : barePrefix, conversion);
  if (call.bare) {
    if (conversion == 'd' || conversion == 'i') {
      return CopyDecimal(slot, static_cast<Signed>(bits));
    }
    if (conversion == 'u') {
      return CopyDecimal(slot, bits);
    }
  }
  switch (conversion) {
    case 'c':
      return Print(slot, call, static_cast<int>(static_cast<unsigned char>(bits)));
    case 'd':
    case 'i':
      return Print(slot, call, static_cast<Signed>(bits));
    default:
      return Print(slot, call, bits);
  }
}

std::size_t RenderStringObject(FormatSpec& slot) {
  return FormatDetail::RenderCString(slot, static_cast<const std::string*>(slot.value)->c_str());
}

std::size_t RenderStringView(FormatSpec& slot) {
  return FormatDetail::RenderBoundedText(slot, *static_cast<const std::string_view*>(slot.value));
}

std::size_t RenderCStringPointer(FormatSpec& slot) {
  return FormatDetail::RenderCString(slot, *static_cast<const char* const*>(slot.value));
}

}  // namespace

namespace FormatDetail {

std::size_t RenderValue(FormatSpec& slot, std::int32_t value) {
  return RenderInteger<int, unsigned>(slot, kSignedConversions, "", static_cast<unsigned>(value));
}

std::size_t RenderValue(FormatSpec& slot, std::uint32_t value) {
  return RenderInteger<int, unsigned>(slot, kUnsignedConversions, "", static_cast<unsigned>(value));
}

std::size_t RenderValue(FormatSpec& slot, signed char value) {
  // Sign-extended first, as printf's default promotion would.
  return RenderInteger<int, unsigned>(slot, kCharacterConversions, "",
                                      static_cast<unsigned>(static_cast<int>(value)));
}

std::size_t RenderValue(FormatSpec& slot, std::int64_t value) {
  return RenderInteger<long long, unsigned long long>(slot, kSignedConversions, kLongLong,
                                                      static_cast<unsigned long long>(value));
}

std::size_t RenderValue(FormatSpec& slot, std::uint64_t value) {
  return RenderInteger<long long, unsigned long long>(slot, kUnsignedConversions, kLongLong,
                                                      static_cast<unsigned long long>(value));
}

std::size_t RenderValue(FormatSpec& slot, double value) {
  const std::size_t kept = ChooseConversion(slot, kDoubleConversions, "");
  const PrintfCall call = ReadPlaceholder(slot, kept, "", slot.conversion);
  if (call.bare && slot.conversion == 'g' && std::isfinite(value)) {
    // to_chars with a precision is specified to match printf's conversion of that letter.
    char digits[32];
    const auto converted =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    if (converted.ec == std::errc()) {
      return CopyText(slot,
                      std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
    }
  }
  return Print(slot, call, value);
}

std::size_t RenderCString(FormatSpec& slot, const char* text) {
  return RenderBoundedText(slot, text != nullptr ? std::string_view(text) : std::string_view());
}

std::size_t RenderBoundedText(FormatSpec& slot, std::string_view text) {
  const std::size_t kept = ChooseConversion(slot, kStringConversions, "");
  PrintfCall call = ReadPlaceholder(slot, kept, "", 's');
  if (call.bare) {
    return CopyText(slot, text);
  }
  // printf must never look for a NUL past the view, so its precision is always the
  // view's length, or the template's precision when that is smaller. A precision or a text
  // beyond printf's range is refused as printf would refuse it, whatever the text.
  if (call.precision > kPrintfMax) {
    return 0;
  }
  const auto available = static_cast<std::int64_t>(text.size());
  if (call.precision < 0 || call.precision > available) {
    call.precision = available;
  }
  return Print(slot, call, text.data() != nullptr ? text.data() : "");
}

const FormatArgument kCStringArgument{&RenderCStringPointer, &NoIntegerValue, false};
const FormatArgument kStringArgument{&RenderStringObject, &NoIntegerValue, false};
const FormatArgument kStringViewArgument{&RenderStringView, &NoIntegerValue, false};

std::string FormatDescribed(const char* templ, const FormatArgument* const* descriptors,
                            const void* const* arguments, std::size_t count) {
  char buffer[kWorkBufferSize];
  const std::size_t length =
      FormatInto(buffer, sizeof(buffer), templ, descriptors, arguments, count);
  return std::string(buffer, length);
}

}  // namespace FormatDetail

namespace {

// Reads the star values of a parsed placeholder, the precision's first; false when a star
// names a missing argument or one that cannot be an integer.
bool FetchStarValues(const PlaceholderParser& parser, FormatSpec& slot,
                     const FormatArgument* const* descriptors, const void* const* arguments,
                     std::size_t count) {
  for (int star = slot.starCount - 1; star >= 0; --star) {
    const std::size_t number = parser.StarArgument(star);
    if (number > count || !descriptors[number - 1]->usableAsInteger) {
      return false;
    }
    slot.starValues[star] = descriptors[number - 1]->integerValue(arguments[number - 1]);
  }
  return true;
}

}  // namespace

std::size_t FormatInto(char* buffer, std::size_t capacity, const char* templ,
                       const FormatArgument* const* descriptors, const void* const* arguments,
                       std::size_t count) {
  if (capacity == 0) {
    return 0;
  }
  char* output = buffer;
  char* const end = buffer + capacity;
  const char* cursor = templ != nullptr ? templ : "";
  std::size_t counter = 1;
  FormatSpec slot{};
  while (*cursor != '\0' && output < end) {
    if (cursor[0] != '%') {
      *output++ = *cursor++;
      continue;
    }
    if (cursor[1] == '%') {
      *output++ = '%';
      cursor += 2;
      continue;
    }
    PlaceholderParser parser(cursor + 1, count, counter, slot);
    if (!parser.Parse() || parser.Argument() > count ||
        !FetchStarValues(parser, slot, descriptors, arguments, count)) {
      break;
    }
    const std::size_t index = parser.Argument() - 1;
    slot.output = output;
    slot.written = static_cast<std::size_t>(output - buffer);
    slot.remaining = static_cast<std::size_t>(end - output);
    slot.value = arguments[index];
    output += std::min(descriptors[index]->render(slot), slot.remaining);
    cursor = parser.End();
  }
  const std::size_t length = std::min(static_cast<std::size_t>(output - buffer), capacity - 1);
  buffer[length] = '\0';
  return length;
}

}  // namespace Vexa
