#include "util/number_text.h"

#include <cerrno>
#include <cstdlib>

#include "util/format.h"

namespace Vexa {
namespace {

// strtoull negates a text with a minus sign instead of refusing it, so " -1" would become
// 2^64 - 1; a minus sign after leading blanks is therefore refused like a leading one.
bool StartsNegative(std::string_view text) {
  for (const char character : text) {
    if (character == '-') {
      return true;
    }
    if (character != ' ' && (character < '\t' || character > '\r')) {
      return false;
    }
  }
  return false;
}

}  // namespace

// strtoll / strtoull / strtod need a terminated text; numbers fit the small-string buffer.
NumberText ReadSignedText(std::string_view text, int64_t& value, int64_t minimum, int64_t maximum) {
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

NumberText ReadUnsignedText(std::string_view text, uint64_t& value, uint64_t maximum) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(terminated.c_str(), &end, 0);
  if (end != terminated.c_str() + terminated.size()) {
    return NumberText::BadFormat;
  }
  value = parsed;
  return errno == ERANGE || StartsNegative(text) || value > maximum ? NumberText::OutOfRange
                                                                    : NumberText::Number;
}

NumberText ReadFloatText(std::string_view text, double& value, double maximum) {
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

std::string NumberTextRefusal(NumberText read, std::string_view text, std::string_view name,
                              std::string_view typeName) {
  switch (read) {
    case NumberText::BadFormat:
      return Format(kNumberTextFormatMessage, text, name, typeName);
    case NumberText::OutOfRange:
      return Format(kNumberTextRangeMessage, text, name, typeName);
    case NumberText::Number:
      break;
  }
  return std::string();
}

}  // namespace Vexa
