// Helpers for the conversion suites: running one conversion into a native object that starts
// with a chosen content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "support/values.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa::Testing {

template <typename T>
struct Converted {
  T native;
  bool ok;
  std::string error;
};

// Converts `input` into a native T that held `initial`, under the name "x" by default.
template <typename T>
Converted<T> ConvertInto(T initial, const BindingProperty& input, const BindingRegistry& registry,
                         std::string_view name = "x") {
  BindingResult result;
  ToNative(result, initial, input, name, registry);
  return {std::move(initial), result.Ok(), std::string(result.ErrorText())};
}

// The value of a native T, or the message of the refusal.
template <typename T>
BindingResult ValueOf(const T& native, const BindingRegistry& registry) {
  BindingResult result;
  ToValue(result, native, registry);
  return result;
}

}  // namespace Vexa::Testing
