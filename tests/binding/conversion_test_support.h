// Helpers for the conversion suites: running one conversion into a native object that starts
// with a chosen content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include <gtest/gtest.h>

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
  const bool ok = ToNative(result, initial, input, name, registry);
  EXPECT_EQ(ok, result.Ok()) << "the answer and the result agree";
  return {std::move(initial), result.Ok(), std::string(result.ErrorText())};
}

// The value of a native T, or the message of the refusal.
template <typename T>
BindingResult ValueOf(const T& native, const BindingRegistry& registry) {
  BindingResult result;
  const bool ok = ToValue(result, native, registry);
  EXPECT_EQ(ok, result.Ok()) << "the answer and the result agree";
  return result;
}

}  // namespace Vexa::Testing
