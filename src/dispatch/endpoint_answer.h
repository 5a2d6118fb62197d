// What an endpoint function returns instead of a plain value when it needs to set the response
// status, headers or text, or to fail with a message of its own.
//
//   Vexa::EndpointAnswer<GeoInfo> GeoInfoModule::GetLocation(const std::string& ipAddress) {
//     if (!enabled_) {
//       return Vexa::EndpointAnswer<GeoInfo>::Error(503, "... is not enabled");
//     }
//     Vexa::Maybe<WhereAmIResponse> answer = ServiceProxy<WhereAmIResponse>(...);
//     if (!answer) {
//       return Vexa::EndpointAnswer<GeoInfo>::NotFound(answer.Error());  // "Not found" if empty
//     }
//     return location;                                                  // Ok(), status 0
//   }
//   ...
//   return Vexa::EndpointAnswer<Note>::WithStatus(201, note);          // Ok(), status 201
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
#include "value/failure.h"

namespace Vexa {

template <typename T>
class [[nodiscard]] EndpointAnswer {
 public:
  using ValueType = T;

  T value{};
  std::string message;          // the failure message when !Ok()
  uint8_t responseFlags = 0;    // passed through to the host
  uint32_t responseFormat = 0;  // passed through to the host when 1, 2 or 3
  uint32_t status = 0;          // HTTP status; 0 leaves the choice to the host
  std::string responseText;     // passed through to the host
  HttpHeaderMap headers;        // response headers
  // A body streamed to the host instead of `value`'s conversion; only a good answer's stream
  // reaches the host.
  std::unique_ptr<HttpBodyStream> bodyStream;

  // The default answer: a default value, ok, status 0, nothing else set.
  EndpointAnswer() = default;
  // A good answer carrying `answerValue`, so that a function can `return value;`.
  EndpointAnswer(T answerValue) : value(std::move(answerValue)) {}

  // A good answer carrying `answerValue` with `successStatus` instead of the host's default
  // (200): 201 for a resource created, 202 for work accepted.
  [[nodiscard]] static EndpointAnswer WithStatus(uint32_t successStatus, T answerValue) {
    EndpointAnswer answer(std::move(answerValue));
    answer.status = successStatus;
    return answer;
  }
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
  // The failed answer for 404 with the failure's message (a request's or a service call's).
  [[nodiscard]] static EndpointAnswer NotFound(const Failure& failure) {
    return NotFound(std::string_view(failure.Message()));
  }

  // Whether the answer is good. The status is private: an answer fails only through Error,
  // NotFound or SetError, which also drop its body stream.
  [[nodiscard]] bool Ok() const noexcept { return ok_; }
  [[nodiscard]] explicit operator bool() const noexcept { return ok_; }

  // Turns this answer into a failed one: the message and status are set, a body stream is
  // destroyed, the value, headers and text stay.
  void SetError(uint32_t errorStatus, std::string_view errorMessage) {
    message = errorMessage;
    bodyStream.reset();
    ok_ = false;
    status = errorStatus;
  }

 private:
  bool ok_ = true;
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
