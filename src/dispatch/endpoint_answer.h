// What an endpoint function returns instead of a plain value when it needs to set the response
// status, headers or text, or to fail with a message of its own.
//
//   Vexa::EndpointAnswer<GeoInfo> GeoInfoModule::GetLocation(const std::string& ipAddress) {
//     if (!enabled_) {
//       return Vexa::EndpointAnswer<GeoInfo>::Error(503, kNotEnabledMessage);
//     }
//     Vexa::Maybe<WhereAmIResponse> answer = ServiceProxy<WhereAmIResponse>(...);
//     if (!answer) {
//       const Vexa::Failure& failure = answer.Error();
//       return Vexa::EndpointAnswer<GeoInfo>::NotFound(failure.Message());  // "Not found" if empty
//     }
//     return GeoInfo{...};                                                  // ok, status 0
//   }
//
// The bound function's invoker (dispatch/bound_function.h) turns an answer into the call state:
// a failed answer becomes the call's failure message, a good one has its value converted like a
// plain result; the flag byte, format, status, text and headers are copied in both cases, and
// a good answer's body stream is handed on as the streamed response body.
//
// Ownership: an answer owns its value, texts, headers and body stream; it is moved out of the
// function and consumed by the invoker.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "dispatch/http_call.h"
#include "dispatch/messages.h"

namespace Vexa {

template <typename T>
struct EndpointAnswer {
  using ValueType = T;

  T value{};
  std::string message;          // the failure message when !ok
  uint8_t responseFlags = 0;    // passed through to the host
  uint32_t responseFormat = 0;  // passed through to the host when 1, 2 or 3
  uint32_t status = 0;          // HTTP status; 0 leaves the choice to the host
  std::string responseText;     // passed through to the host
  HttpHeaderMap headers;        // response headers
  // A body streamed to the host instead of `value`'s conversion; only a good answer's stream
  // reaches the host.
  std::unique_ptr<HttpBodyStream> bodyStream;
  bool ok = true;

  // The default answer: a default value, ok, status 0, nothing else set.
  EndpointAnswer() = default;
  // A good answer carrying `answerValue`, so that a function can `return value;`.
  EndpointAnswer(T answerValue) : value(std::move(answerValue)) {}

  // A failed answer with `errorStatus` and `errorMessage` (taken as it is, also when empty).
  [[nodiscard]] static EndpointAnswer Error(uint32_t errorStatus, std::string_view errorMessage) {
    EndpointAnswer answer;
    answer.SetError(errorStatus, errorMessage);
    return answer;
  }
  // The failed answer for 404 with `errorMessage`, or with "Not found" when it is empty.
  [[nodiscard]] static EndpointAnswer NotFound(std::string_view errorMessage = {}) {
    return Error(kEndpointNotFoundStatus,
                 errorMessage.empty() ? kEndpointNotFoundMessage : errorMessage);
  }

  // Turns this answer into a failed one: the message and status are set, a body stream is
  // destroyed, the value, headers and text stay.
  void SetError(uint32_t errorStatus, std::string_view errorMessage) {
    message = errorMessage;
    bodyStream.reset();
    ok = false;
    status = errorStatus;
  }
};

namespace EndpointAnswerDetail {
template <typename T>
inline constexpr bool kIsAnswer = false;
template <typename T>
inline constexpr bool kIsAnswer<EndpointAnswer<T>> = true;
}  // namespace EndpointAnswerDetail

// True for every EndpointAnswer<T> (cv and reference qualifiers ignored).
template <typename T>
inline constexpr bool kIsEndpointAnswer = EndpointAnswerDetail::kIsAnswer<std::remove_cvref_t<T>>;

}  // namespace Vexa
