#include "bridge/endpoint_handler.h"

#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/host_response.h"
#include "bridge/host_value.h"
#include "diagnostics/sequence_checker.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_request.h"
#include "dispatch/messages.h"
#include "dispatch/request_handler.h"
#include "util/format.h"

namespace Vexa {
namespace {

// --- Answers that need no call ---

void AnswerFailure(HostResponse& response, std::string_view message, uint32_t status) {
  HttpCallState state;
  state.Fail(message);
  state.status = status;
  WriteHostResponse(response, state, nullptr);
}

// The last resort when handling a request threw (in practice: memory ran out). Drops whatever
// the response holds by now and answers with the message, or with the static fallback text when
// even that cannot be built. Never throws.
void AnswerInternalError(HostResponse& response, const char* what) noexcept {
  ReleaseHostResponse(&response);
  response.release = &ReleaseHostResponse;
  try {
    AnswerFailure(response, Format(kInternalErrorMessage, what), kInternalErrorStatus);
    return;
  } catch (...) {
    ReleaseHostResponse(&response);
  }
  // The frame of an answer from a call state that holds nothing, which allocates nothing (the
  // shared empty response text, no body, no headers), then the static text as the error.
  HttpCallState nothing;
  nothing.status = kInternalErrorStatus;
  WriteHostResponse(response, nothing, nullptr);
  SetHostError(response.result, kHostErrorFallbackText);
}

// Runs `handle` and turns anything it throws into an internal-error answer, so that nothing
// leaves the handler but the response.
template <typename Handle>
void AnswerGuarded(HostResponse& response, Handle&& handle) noexcept {
  try {
    handle();
  } catch (const std::exception& exception) {
    AnswerInternalError(response, exception.what());
  } catch (...) {
    AnswerInternalError(response, "unknown exception");
  }
}

// Empties the response the host handed over and makes it ours: from here on it carries our
// release function, whatever happens. What the record holds is released by the function stored
// with it (ours, when it carries an earlier answer); a record without one holds nothing that
// may be freed, and its other words are not read: a host may hand in an uninitialised record.
void TakeResponse(HostResponse& response) {
  if (const HostResponseRelease release = response.release; release != nullptr) {
    release(&response);
  }
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  response.release = &ReleaseHostResponse;
}

// --- Checking the request ---

// Why the host's request cannot be read safely, or nothing. Every pointer that a count or a
// length announces must be there, and every header must have both texts: the handler reads
// nothing it was not given.
std::optional<std::string> RequestProblem(const HostRequest& request) {
  if (request.path == nullptr) {
    return std::string(kMissingPathMessage);
  }
  if (request.headers == nullptr && request.headerCount != 0) {
    return Format(kMissingDataMessage, "headers", request.headerCount);
  }
  if (request.arguments == nullptr && request.argumentCount != 0) {
    return Format(kMissingDataMessage, "arguments", request.argumentCount);
  }
  if (request.body == nullptr && request.bodyLength != 0) {
    return Format(kMissingDataMessage, "body bytes", request.bodyLength);
  }
  for (uint32_t index = 0; index < request.headerCount; ++index) {
    if (request.headers[index].name == nullptr) {
      return Format(kHeaderWithoutNameMessage, index);
    }
    if (request.headers[index].value == nullptr) {
      return Format(kHeaderWithoutValueMessage, index);
    }
  }
  return std::nullopt;
}

// Answers a request that cannot be read safely and tells whether it was one.
bool AnsweredUnreadable(HostResponse& response, const HostRequest& request) {
  std::optional<std::string> problem = RequestProblem(request);
  if (problem) {
    AnswerFailure(response, *problem, kMalformedRequestStatus);
  }
  return problem.has_value();
}

const EndpointRecord* EndpointOf(const HostRequest& request) {
  if (request.userData == nullptr) {
    return nullptr;
  }
  const auto* endpoint = static_cast<const EndpointRecord*>(request.userData->endpoint);
  return endpoint != nullptr && endpoint->function != nullptr ? endpoint : nullptr;
}

// --- The request in the dispatcher's terms ---

// The host's argument entries, converted one at a time as the dispatcher binds them.
class HostArgumentEntries final : public HttpRequestArguments {
 public:
  explicit HostArgumentEntries(const HostRequest& request) : request_(request) {}

  [[nodiscard]] std::size_t Count() const override { return request_.argumentCount; }
  [[nodiscard]] const char* NameAt(std::size_t position) const override {
    return request_.arguments[position].name;
  }
  [[nodiscard]] bool Read(std::size_t position, BindingProperty& target, std::string_view name,
                          std::string& error) const override {
    HostResult result{};
    const HostValue value = request_.arguments[position].value;
    const bool read = FromHostValue(result, target, value, name);
    if (!read) {
      error = result.error != nullptr ? result.error : "";
    }
    ReleaseHostResult(result);
    return read;
  }

 private:
  const HostRequest& request_;
};

// The request's headers as the dispatcher reads them: a request rarely has more than a few, so
// they are copied into the frame (only the entries used are written) and only a long list
// allocates.
class RequestHeaders {
 public:
  explicit RequestHeaders(const HostRequest& request) {
    const std::size_t count = request.headerCount;
    if (count == 0) {
      return;
    }
    HttpHeader* target = inline_;
    if (count > std::size(inline_)) {
      spilled_ = std::make_unique<HttpHeader[]>(count);
      target = spilled_.get();
    }
    for (std::size_t index = 0; index < count; ++index) {
      target[index] = HttpHeader{request.headers[index].name, request.headers[index].value};
    }
    headers_ = std::span<const HttpHeader>(target, count);
  }
  RequestHeaders(const RequestHeaders&) = delete;
  RequestHeaders& operator=(const RequestHeaders&) = delete;

  [[nodiscard]] std::span<const HttpHeader> Headers() const { return headers_; }

 private:
  HttpHeader inline_[16];  // written up to the request's count, never read beyond it
  std::unique_ptr<HttpHeader[]> spilled_;
  std::span<const HttpHeader> headers_;
};

std::string_view MethodNameOf(const HostRequest& request) {
  if (ToHttpMethod(request.method) != HttpMethod::Other || request.methodName == nullptr) {
    return {};
  }
  return request.methodName;
}

// Translates a checked request, answers it with `answer` and writes the response. `response`
// holds nothing yet.
template <typename Answer>
void AnswerTranslated(HostResponse& response, const HostRequest& request, Answer&& answer) {
  const HostArgumentEntries arguments(request);
  const RequestHeaders headers(request);
  HttpRequest translated;
  translated.method = ToHttpMethod(request.method);
  translated.methodName = MethodNameOf(request);
  translated.path = request.path;
  translated.headers = headers.Headers();
  translated.arguments = request.argumentCount != 0 ? &arguments : nullptr;
  translated.contentType = request.contentType;
  if (request.body != nullptr) {
    translated.body = std::span<const uint8_t>(request.body, request.bodyLength);
  }
  translated.context = request.context;
  EndpointCall call;  // its token is released after the response is written
  answer(call, translated);
  WriteHostResponse(response, call.state, call.registry);
}

void HandleRequest(HostResponse& response, const HostRequest* request) {
  TakeResponse(response);
  if (request == nullptr) {
    AnswerFailure(response, kMissingRequestMessage, kMalformedRequestStatus);
    return;
  }
  const EndpointRecord* endpoint = EndpointOf(*request);
  if (endpoint == nullptr) {
    AnswerFailure(response, kMissingEndpointMessage, kMalformedRequestStatus);
    return;
  }
  if (AnsweredUnreadable(response, *request)) {
    return;
  }
  AnswerTranslated(response, *request, [&](EndpointCall& call, const HttpRequest& translated) {
    AnswerEndpointRequest(call, translated, *endpoint);
  });
}

void Dispatch(HostResponse& response, const HostRequest& request,
              std::span<const RoutePattern> patterns) {
  TakeResponse(response);
  if (AnsweredUnreadable(response, request)) {
    return;
  }
  AnswerTranslated(response, request, [&](EndpointCall& call, const HttpRequest& translated) {
    AnswerRoutedRequest(call, translated, patterns);
  });
}

}  // namespace

void VEXA_HOST_CALL HandleEndpointRequest(HostResponse* response, const HostRequest* request) {
  if (response == nullptr) {
    return;  // nowhere to answer
  }
  // The call belongs to the sequence of the module whose dispatcher the user data names.
  const HostEndpointUserData* userData = request != nullptr ? request->userData : nullptr;
  auto* dispatcher =
      userData != nullptr ? static_cast<const RequestDispatcher*>(userData->dispatcher) : nullptr;
  std::optional<SequenceScope> sequence;
  if (dispatcher != nullptr) {
    sequence.emplace(dispatcher->Sequence());
  }
  AnswerGuarded(*response, [&] { HandleRequest(*response, request); });
}

void DispatchRequest(HostResponse& response, const HostRequest& request,
                     std::span<const RoutePattern> patterns) {
  AnswerGuarded(response, [&] { Dispatch(response, request, patterns); });
}

}  // namespace Vexa
