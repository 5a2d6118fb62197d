#include "util/number_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/format.h"

namespace Vexa {

// strtoull negates a text with a minus sign instead of refusing it, so " -1" would become
// 2^64 - 1; a minus sign after leading blanks is therefore refused like a leading one.
bool NumberTextDetail::StartsNegative(std::string_view text) {
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
