#include "util/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

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

bool Inside(std::size_t index, std::size_t start, std::size_t length) {
  return index >= start && index - start < length;
}

// Reads one placeholder (the part after '%') into a FormatSpec's text and offsets, and
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
      slot_.precisionStart = slot_.textLength;
      if (!Append(*cursor_++) || !ParseWidthOrPrecision()) {
        return false;
      }
      slot_.precisionLength = slot_.textLength - slot_.precisionStart;
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
  // In printf order, like FormatSpec::starPositions.
  std::size_t StarArgument(int index) const { return starArguments_[index]; }

 private:
  void Reset() {
    slot_.textLength = 0;
    slot_.modifierStart = slot_.modifierLength = 0;
    slot_.precisionStart = slot_.precisionLength = 0;
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
    slot_.starPositions[slot_.starCount] = slot_.textLength;
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
    slot_.modifierStart = slot_.textLength;
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
    slot_.modifierLength = slot_.textLength - slot_.modifierStart;
    return true;
  }

  const char* cursor_;
  std::size_t count_;
  std::size_t& counter_;
  FormatSpec& slot_;
  std::size_t argument_ = 0;
  std::size_t starArguments_[2] = {0, 0};
};

// The placeholder actually handed to snprintf, and the star values that it consumes.
struct PrintfPlaceholder {
  char text[sizeof(FormatSpec::text)];
  std::int32_t stars[2];
  int starCount;
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

// Builds the printf placeholder from the first `kept` characters of slot.text: the
// template's length modifier is replaced by `lengthModifier` (the argument's own), and only
// the star values whose '*' survived are passed, so printf reads exactly the arguments it is
// given. With a precision override the template's precision becomes ".*" with that value.
PrintfPlaceholder BuildPlaceholder(const FormatSpec& slot, std::size_t kept,
                                   const char* lengthModifier, char conversion,
                                   const std::int32_t* precisionOverride = nullptr) {
  const bool dropPrecision = precisionOverride != nullptr;
  PrintfPlaceholder placeholder{};
  std::size_t length = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    if (!Inside(i, slot.modifierStart, slot.modifierLength) &&
        !(dropPrecision && Inside(i, slot.precisionStart, slot.precisionLength))) {
      placeholder.text[length++] = slot.text[i];
    }
  }
  for (int star = 0; star < slot.starCount; ++star) {
    const std::size_t position = slot.starPositions[star];
    if (position < kept &&
        !(dropPrecision && Inside(position, slot.precisionStart, slot.precisionLength))) {
      placeholder.stars[placeholder.starCount++] = slot.starValues[star];
    }
  }
  if (dropPrecision) {
    placeholder.text[length++] = '.';
    placeholder.text[length++] = '*';
    placeholder.stars[placeholder.starCount++] = *precisionOverride;
  }
  for (const char* c = lengthModifier; *c != '\0'; ++c) {
    placeholder.text[length++] = *c;
  }
  placeholder.text[length++] = conversion;
  placeholder.text[length] = '\0';
  return placeholder;
}

// Renders into the remaining capacity. Output that did not fit counts as filling it, which
// ends the output; a printf failure (a width beyond its range) writes nothing.
template <typename Value>
std::size_t Print(FormatSpec& slot, const PrintfPlaceholder& placeholder, Value value) {
  int result = 0;
  switch (placeholder.starCount) {
    case 0:
      result = std::snprintf(slot.output, slot.remaining, placeholder.text, value);
      break;
    case 1:
      result = std::snprintf(slot.output, slot.remaining, placeholder.text,
                             static_cast<int>(placeholder.stars[0]), value);
      break;
    default:
      result = std::snprintf(slot.output, slot.remaining, placeholder.text,
                             static_cast<int>(placeholder.stars[0]),
                             static_cast<int>(placeholder.stars[1]), value);
      break;
  }
  if (result < 0) {
    return 0;
  }
  return std::min(static_cast<std::size_t>(result), slot.remaining);
}

// True when the kept placeholder is a bare '%' (a template length modifier, which is never
// used, aside): no flags, width, precision or stars, so the plain text form of the value is
// exactly what printf would write and the call to printf can be skipped.
bool IsBare(const FormatSpec& slot, std::size_t kept) {
  return kept == 1 || (slot.modifierStart == 1 && kept == 1 + slot.modifierLength);
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
  if (IsBare(slot, kept)) {
    if (slot.conversion == 'd' || slot.conversion == 'i') {
      return CopyDecimal(slot, static_cast<Signed>(bits));
    }
    if (slot.conversion == 'u') {
      return CopyDecimal(slot, bits);
    }
  }
  switch (slot.conversion) {
    case 'c':
      return Print(slot, BuildPlaceholder(slot, kept, "", 'c'),
                   static_cast<int>(static_cast<unsigned char>(bits)));
    case 'd':
    case 'i':
      return Print(slot, BuildPlaceholder(slot, kept, barePrefix, slot.conversion),
                   static_cast<Signed>(bits));
    default:
      return Print(slot, BuildPlaceholder(slot, kept, barePrefix, slot.conversion), bits);
  }
}

// The precision printf would apply to the kept placeholder, or -1 when it has none.
std::int32_t KeptPrecision(const FormatSpec& slot, std::size_t kept) {
  if (slot.precisionLength == 0 || slot.precisionStart >= kept) {
    return -1;
  }
  for (int star = 0; star < slot.starCount; ++star) {
    const std::size_t position = slot.starPositions[star];
    if (position < kept && Inside(position, slot.precisionStart, slot.precisionLength)) {
      return std::max(slot.starValues[star], std::int32_t{-1});  // negative means none
    }
  }
  const std::size_t end = std::min(kept, slot.precisionStart + slot.precisionLength);
  std::int64_t precision = 0;
  for (std::size_t i = slot.precisionStart + 1; i < end; ++i) {
    precision = std::min<std::int64_t>(precision * 10 + (slot.text[i] - '0'),
                                       std::numeric_limits<std::int32_t>::max());
  }
  return static_cast<std::int32_t>(precision);
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
  if (IsBare(slot, kept) && slot.conversion == 'g' && std::isfinite(value)) {
    // to_chars with a precision is specified to match printf's conversion of that letter.
    char digits[32];
    const auto converted =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    if (converted.ec == std::errc()) {
      return CopyText(slot,
                      std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
    }
  }
  return Print(slot, BuildPlaceholder(slot, kept, "", slot.conversion), value);
}

std::size_t RenderCString(FormatSpec& slot, const char* text) {
  const std::size_t kept = ChooseConversion(slot, kStringConversions, "");
  if (IsBare(slot, kept)) {
    return CopyText(slot, text != nullptr ? std::string_view(text) : std::string_view());
  }
  return Print(slot, BuildPlaceholder(slot, kept, "", 's'), text != nullptr ? text : "");
}

std::size_t RenderBoundedText(FormatSpec& slot, std::string_view text) {
  const std::size_t kept = ChooseConversion(slot, kStringConversions, "");
  if (IsBare(slot, kept)) {
    return CopyText(slot, text);
  }
  // printf must never look for a NUL past the view, so its precision is always the
  // view's length, or the template's precision when that is smaller.
  const std::int32_t requested = KeptPrecision(slot, kept);
  const std::size_t available =
      std::min<std::size_t>(text.size(), std::numeric_limits<std::int32_t>::max());
  const std::int32_t precision = requested >= 0 && static_cast<std::size_t>(requested) < available
                                     ? requested
                                     : static_cast<std::int32_t>(available);
  return Print(slot, BuildPlaceholder(slot, kept, "", 's', &precision),
               text.data() != nullptr ? text.data() : "");
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
