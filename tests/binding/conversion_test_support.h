// Helpers for the conversion suites: one conversion into a native object that starts with a
// chosen content, checking that the conversion's answer agrees with its result.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "support/values.h"

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
  const bool ok = ToNative(result, initial, input, name, registry);
  EXPECT_EQ(ok, result.Ok()) << "the answer and the result agree";
  return {std::move(initial), result.Ok(), std::string(result.ErrorText())};
}

// The same as one text: the text form of the converted native's value, or the message. A
// refused number, enum or text target must hold its empty state.
template <typename T>
std::string Into(T initial, const BindingProperty& input, const BindingRegistry& registry,
                 std::string_view name = "x") {
  const Converted<T> converted = ConvertInto(std::move(initial), input, registry, name);
  if (!converted.ok) {
    if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_same_v<T, std::string>) {
      EXPECT_EQ(converted.native, T{}) << "a refused target holds its empty state";
    }
    return converted.error;
  }
  return ToValue(converted.native, registry).value.ToText();
}

}  // namespace Vexa::Testing
