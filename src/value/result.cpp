#include "value/result.h"

#include <string>

namespace Vexa {

void BindingResult::Succeed() noexcept {
  value.Reset();
  ok_ = true;
}

void BindingResult::Fail(std::string_view message) {
  const std::string keep(message);  // the message may be this result's own error text
  value.Reset();
  ok_ = false;
  value.Member("error").SetString(keep);
}

void BindingResult::FailWithoutMessage() noexcept {
  value.Reset();
  ok_ = false;
}

std::string_view BindingResult::ErrorText() const noexcept {
  if (ok_) {
    return "";
  }
  const BindingProperty& error = value.Member("error");
  return error.Kind() == BindingPropertyKind::String ? error.GetString() : std::string_view("");
}

BindingResult BindingResult::Failed(std::string_view message) {
  BindingResult result;
  result.Fail(message);
  return result;
}

}  // namespace Vexa
