#include "dispatch/http_call.h"

#include <iterator>

namespace Vexa {
namespace {

constexpr std::string_view kMethodTexts[] = {"",        "DELETE", "GET",  "HEAD",
                                             "OPTIONS", "PATCH",  "POST", "PUT"};

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string_view HttpMethodText(HttpMethod method) {
  const auto index = static_cast<uint32_t>(method);
  return index < std::size(kMethodTexts) ? kMethodTexts[index] : std::string_view();
}

HttpMethod ToHttpMethod(uint32_t hostMethod) {
  return (hostMethod >= 1 && hostMethod <= 8) ? static_cast<HttpMethod>(hostMethod)
                                              : HttpMethod::None;
}

void HttpCallState::Fail(std::string_view message) {
  result.Fail(message);
  bodyStream.reset();
}

bool ContentTypeIs(const char* contentType, std::string_view literal) {
  if (contentType == nullptr) {
    return false;
  }
  for (std::size_t index = 0; index < literal.size(); ++index) {
    // A content type shorter than the literal ends with its NUL, which no literal holds.
    if (contentType[index] == '\0' ||
        AsciiLower(contentType[index]) != AsciiLower(literal[index])) {
      return false;
    }
  }
  return true;
}

}  // namespace Vexa
