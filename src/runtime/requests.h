// Requests to host URIs, typed: the arguments are native values of registered types (or
// BindingProperty values), the answer is converted to the type asked for.
//
//   Vexa::Maybe<GeoInfoSettings> saved =
//       Vexa::Request<GeoInfoSettings>(host, Vexa::HttpMethod::Get,
//       "/kor-settings/v2/local/GeoInfo");
//   Vexa::Maybe<void> patched = Vexa::Request(host, Vexa::HttpMethod::Patch, uri, document);
//
// By R the caller gets: nothing (void), the response value (BindingProperty), or the value
// converted to R (text, a registered record, any bindable type). Failures: code 400 "Request not
// sent: Error converting parameters for %1 %2: %3" when an argument does not convert (nothing is
// sent); the host's status and "Error response for %1 %2: %3" when the host answers an error;
// code 0 "Error reading streamed response ..." or "Error converting response ..." when the
// answer does not read (bridge/host_messages.h).
//
// Threading: on the module's sequence, as every host call.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "bridge/host_messages.h"
#include "runtime/host_calls.h"
#include "util/format.h"
#include "value/failure.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

// `native` as a value: a BindingProperty is used where it stands, anything else is converted
// into `converted` with `registry`. Null when the conversion failed (`converted` says why).
template <typename T>
[[nodiscard]] const BindingProperty* ValueOf(const T& native, BindingResult& converted,
                                             const BindingRegistry& registry) {
  if constexpr (std::is_same_v<T, BindingProperty>) {
    return &native;
  } else {
    return ToValue(converted, native, registry) ? &converted.value : nullptr;
  }
}

// The answer of a request converted to R (see the top of this file).
template <typename R>
[[nodiscard]] Maybe<R> ConvertAnswer(Maybe<BindingProperty>&& answer, HttpMethod method,
                                     std::string_view uri, const BindingRegistry& registry) {
  if constexpr (std::is_void_v<R>) {
    return answer ? Maybe<void>() : Maybe<void>(answer.Error());
  } else if constexpr (std::is_same_v<R, BindingProperty>) {
    return std::move(answer);
  } else {
    if (!answer) {
      return answer.Error();
    }
    R converted{};
    BindingResult result;
    if (!ToNative(result, converted, answer.Value(), kResultValueName, registry)) {
      return Failure(0, Format(kConvertResponseMessage, HttpMethodText(method), uri,
                               std::string_view(result.ErrorText())));
    }
    return converted;
  }
}

// Sends `method` `uri` with `arguments` as positional body items through `host`, and answers
// by R (see the top of this file).
template <typename R = void, typename... Args>
Maybe<R> Request(HostCalls& host, HttpMethod method, std::string_view uri,
                 const Args&... arguments) {
  const BindingRegistry& registry = host.Registry();
  std::array<BindingResult, sizeof...(Args)> converted;
  std::array<const BindingProperty*, sizeof...(Args)> values{};
  const BindingResult* refused = nullptr;
  std::size_t index = 0;
  [[maybe_unused]] const auto add = [&](const auto& argument) {
    if (refused == nullptr) {
      values[index] = ValueOf(argument, converted[index], registry);
      if (values[index] == nullptr) {
        refused = &converted[index];
      }
    }
    ++index;
  };
  (add(arguments), ...);
  if (refused != nullptr) {
    const std::string_view why = refused->ErrorText();
    return Failure(400, Format(kRequestNotSentMessage, HttpMethodText(method), uri,
                               why.empty() ? std::string_view("?") : why));
  }
  return ConvertAnswer<R>(host.Request(HostCall{method, uri, values, !std::is_void_v<R>}), method,
                          uri, registry);
}

}  // namespace Vexa
